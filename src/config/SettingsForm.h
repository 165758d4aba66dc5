#pragma once

#include "check/Account.h"
#include "config/Config.h"
#include "platform/SecretStore.h"

#include <QWidget>

#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListView;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QTimeEdit;
class QTreeWidget;
class QTreeWidgetItem;
class TAccessTokens;
class IFindNetwork;
class TAccountFind;
class TAccountListBinding;
class TRuleListModel;
class TSignInPanel;
class TUpDown;
class TfrmNewMail;
enum class TPicker;
struct TConfig;
struct TFindOutcome;

// The notification window's fold and column widths, as it shows them, into
// the value.
void ReadNotificationWindow(const TfrmNewMail& newMail, TConfig& config);

// The settings window, hidden except while the user edits the settings. Its
// controls show a configuration value and edit it; what OK, Cancel and
// Default do with the stored one is the configuration keeper's.
//
// Built when first shown, the window holds the value it is given until then,
// read back as its controls would give it; the controls (and the fonts they
// measure with) cost a program resting in the tray nothing before the user
// opens the window. Until it is built its control pointers are null.
class TfrmSettings : public QWidget
{
    Q_OBJECT
public:
    enum class TBuild
    {
        Now,
        WhenShown
    };
    explicit TfrmSettings(QWidget* parent = nullptr, TBuild build = TBuild::Now);
    ~TfrmSettings() override;

    bool Built() const { return !FHeld; }

    // The notification window, created after this one: its details fold and
    // column widths are part of the configuration.
    TfrmNewMail* frmNewMail = nullptr;

    // Value -> controls (and the notification window's fold and widths):
    // the window edits a copy of the value under its rules (SettledConfig),
    // the accounts in a list of their own behind lvwAccounts.
    void ShowConfig(const TConfig& config);
    // The copy as edited so far, under the value's rules, with the
    // notification window's fold and widths as it shows them.
    TConfig ConfigOfControls() const;
    // The accounts as edited so far, one per row of lvwAccounts.
    const std::vector<Account>& EditedAccounts() const { return FAccounts; }
    // The Account page with the account at `index` selected, where there is
    // one.
    void ShowAccount(int index);

    // Set by the application shell: the close query (true allows the close)
    // and the close itself.
    std::function<bool()> OnCloseQuery;
    std::function<void()> OnClose;
    // Set by the configuration keeper: OK's save before the window hides,
    // Cancel's load after it hid, and Default's restore.
    std::function<void()> OnAccept;
    std::function<void()> OnReject;
    std::function<void()> OnRestoreDefaults;
    // Runs before the hidden window is shown, so it shows the stored
    // settings as they are now.
    std::function<void()> OnShowing;
    // Set by the configuration keeper: reads the password an account keeps
    // in the keyring, then runs `then` with the account holding it.
    std::function<void(const Account&, std::function<void(const Account&)>)> ReadPassword;

    // Where passwords are kept, in one line of the Account page; with a
    // keyring an empty password field says the password is kept there.
    void ShowPasswordStore(TSecretStore::TPresence presence);
    // The accounts (and the password field) that still hold the account's
    // password drop it: the keyring keeps it now.
    void ForgetPassword(const Account& account);

    // The program's access tokens, for the Account page's sign-in; they
    // outlive the window.
    void SetAccessTokens(TAccessTokens* tokens);

    // Per account, the identity it had when the accounts were last marked
    // (where its password is kept); none for one shown or added since.
    std::vector<std::optional<TSecretKey>> AccountOrigins() const;
    // Each account's identity as it is now becomes its origin; returns them.
    std::vector<TSecretKey> MarkAccountOrigins();

    // "&Default": the stored settings back to their defaults, loaded again.
    void btnDefaultClick();

    // Keeps the maxima of the LED and auto-hide spinners at the interval.
    void txtIntervalChange();

    // The dialog's own handlers (SettingsFormEvents.cpp).
    void FormShow();
    // Enter acts as OK and Esc as Cancel anywhere in the window; true when
    // the key was taken.
    bool FormKeyDown(int key);
    void btnOkClick();
    void btnCancelClick();
    void chkSoundChange();
    void chkSilentModeChange();
    void chkShowIconChange();
    void chkExecuteChange();
    void chkAutoHideChange();
    void chkAnimationChange();
    void txtApplicationButtonClick();
    void txtSoundBtnClick();
    void txtShowIconBtnClick();
    void txtAnimationBtnClick();
    // A row became selected or unselected.
    void lvwAccounts2SelectItem(QTreeWidgetItem* item, bool selected);
    void btnAddClick();
    void btnRemoveClick();
    void btnRenameClick();
    void txtUserName1Change();
    void txtPasswordChange();
    void txtHostChange();
    void txtPortChange();
    void cboSecurityChange();
    void chkPushChange();
    void chkCheckingTimeChange();
    void txtCheckingTimeChange();
    void chkSilentChange();
    void txtEmailAddressChange();
    // Looks the servers up for the address, or stops a search running.
    void btnFindClick();
    // The search of Find, made at the first Find; its network comes from
    // MakeFindNetwork (the network module unless a test sets another).
    TAccountFind& AccountFinder();
    std::function<std::unique_ptr<IFindNetwork>()> MakeFindNetwork;
    // Opens the folder choice of the selected IMAP4 account beside the
    // window; its OK stores the ticks in the account.
    void btnFoldersClick();
    void rdbPop3Click();
    void rdbImap4Click();
    void rdbJmapClick();
    void pagSettingsChange(int index);
    void chkNotifyChange();
    void cboUrgencyChange();
    void cboAccountSoundChange();
    // Chooses a wave file as the selected account's own sound.
    void btnAccountSoundClick();
    // The Rules page: the edit dialog opens beside the window, and its OK
    // puts the rule in place.
    void btnRuleAddClick();
    void btnRuleEditClick();
    void btnRuleRemoveClick();
    void btnRuleUpClick();
    void btnRuleDownClick();
    // The selected rule's row, or -1.
    int SelectedRule() const;
    void SelectRule(int row);

    QTabWidget* pagSettings = nullptr;
    QWidget* tabGeneral = nullptr;
    QWidget* tabNotification = nullptr;
    QWidget* tabNotifyFormOpt = nullptr;
    QWidget* tabAccount = nullptr;
    QWidget* tabRules = nullptr;
    QPushButton* btnFolders = nullptr;
    QPushButton* btnDefault = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;

    // General
    QLabel* lblGeneral = nullptr;
    QLabel* lblApplication = nullptr;
    QLineEdit* txtApplication = nullptr;
    QPushButton* txtApplicationButton = nullptr;
    QLabel* lblInterval = nullptr;
    QLineEdit* txtInterval = nullptr;
    TUpDown* spnInterval = nullptr;
    QLabel* lblDoubleClick = nullptr;
    QComboBox* cboDoubleClick = nullptr;
    QLabel* lblPriority = nullptr;
    QComboBox* cboPriority = nullptr;
    QCheckBox* chkNotifyNewMsg = nullptr;
    // Whose launcher shows the count ("BadgeFor"), a note where the text is
    // no desktop id, and the mail client command that opens the message
    // clicked, offered where the client found can.
    QLabel* lblBadgeFor = nullptr;
    QComboBox* cboBadgeFor = nullptr;
    QLabel* lblBadgeForNote = nullptr;
    QPushButton* btnMessageClient = nullptr;
    void cboBadgeForChange();
    void btnMessageClientClick();

    // Notification Behaviors
    QLabel* lblNotification = nullptr;
    QCheckBox* chkShowForm = nullptr;
    QCheckBox* chkSound = nullptr;
    QLineEdit* txtSound = nullptr;
    QPushButton* txtSoundBtn = nullptr;
    QCheckBox* chkSilentMode = nullptr;
    QLineEdit* txtLedActiveTime = nullptr;
    TUpDown* spnLedActiveTime = nullptr;
    QCheckBox* chkShowIcon = nullptr;
    QLineEdit* txtShowIcon = nullptr;
    QPushButton* txtShowIconBtn = nullptr;
    QCheckBox* chkExecute = nullptr;
    QLineEdit* txtExecute = nullptr;
    QCheckBox* chkShowPreview = nullptr;
    // Quiet hours: the group's tick is the switch, its times and days the
    // hours; cleared, none are kept.
    QGroupBox* grpQuietHours = nullptr;
    QLabel* lblQuietFrom = nullptr;
    QTimeEdit* dtpQuietFrom = nullptr;
    QLabel* lblQuietTo = nullptr;
    QTimeEdit* dtpQuietTo = nullptr;
    QLabel* lblQuietDays = nullptr;
    // By day of the week from Monday, as the stored bits count; shown in the
    // locale's order and names.
    std::array<QCheckBox*, 7> chkQuietDays{};
    QCheckBox* chkCommandWhenQuiet = nullptr;

    // Form Options
    QLabel* lblNotifyFormOpt = nullptr;
    QCheckBox* chkAutoHide = nullptr;
    QLineEdit* txtAutoHide = nullptr;
    TUpDown* spnAutoHide = nullptr;
    QCheckBox* chkAnimation = nullptr;
    QLineEdit* txtAnimation = nullptr;
    QPushButton* txtAnimationBtn = nullptr;
    QCheckBox* chkStayOnTop = nullptr;
    QCheckBox* chkSaveDetails = nullptr;

    // Account
    QGroupBox* grpAccounts = nullptr;
    QPushButton* btnAdd = nullptr;
    QPushButton* btnRemove = nullptr;
    QPushButton* btnRename = nullptr;
    QTreeWidget* lvwAccounts = nullptr;
    QGroupBox* grpAccountPop3 = nullptr;
    QLabel* lblEmailAddress = nullptr;
    QLineEdit* txtEmailAddress = nullptr;
    QPushButton* btnFind = nullptr;
    QLabel* lblFindResult = nullptr; // where Find's settings came from
    QRadioButton* rdbPop3 = nullptr;
    QRadioButton* rdbImap4 = nullptr;
    QRadioButton* rdbJmap = nullptr;
    QLabel* lblUserName = nullptr;
    QLineEdit* txtUserName = nullptr;
    QLabel* lblPassword = nullptr;
    QLineEdit* txtPassword = nullptr;
    QLabel* lblServer = nullptr;
    QLineEdit* txtHost = nullptr;
    QLabel* lblPort = nullptr;
    QLineEdit* txtPort = nullptr;
    QLabel* lblSecurity = nullptr;
    QComboBox* cboSecurity = nullptr; // index = TAccountSecurity
    QCheckBox* chkPush = nullptr; // IMAP4 only
    // The account's own interval while ticked; cleared, the common one shows.
    QCheckBox* chkCheckingTime = nullptr;
    QLineEdit* txtCheckingTime = nullptr;
    TUpDown* spnCheckingTime = nullptr;
    QCheckBox* chkSilent = nullptr;
    // The account's own voice: its sound (the common one, none, or a file
    // as the last item), desktop notification and its urgency.
    QLabel* lblAccountSound = nullptr;
    QComboBox* cboAccountSound = nullptr;
    QPushButton* btnAccountSound = nullptr;
    QCheckBox* chkNotify = nullptr;
    QLabel* lblUrgency = nullptr;
    QComboBox* cboUrgency = nullptr;
    // Set (true) on a field whose text cannot be stored.
    static constexpr const char* InvalidProperty = "invalid";
    QLabel* lblPasswordStore = nullptr;
    TSignInPanel* pnlSignIn = nullptr; // how the account logs in; sign-in

    // Rules
    QLabel* lblRules = nullptr;
    QListView* lvwRules = nullptr;
    QPushButton* btnRuleAdd = nullptr;
    QPushButton* btnRuleEdit = nullptr;
    QPushButton* btnRuleRemove = nullptr;
    QPushButton* btnRuleUp = nullptr;
    QPushButton* btnRuleDown = nullptr;
    // What is wrong with the selected rule, when something is.
    QLabel* lblRuleProblem = nullptr;
    void ShowRuleProblem();

    void setVisible(bool visible) override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ConnectHandlers();
    // The edits of the three times show what a save stores.
    void SettleTimes();
    // The port field marked with what is wrong, or unmarked ("").
    void MarkPort(const std::string& problem);
    // False, with the first bad port's account shown and its field marked,
    // when an account's port is no TCP port.
    bool PortsValid();
    // A "..." button: the chosen file's full path replaces the edit's text.
    void PickFile(TPicker picker, QLineEdit* edit);
    void CreateGeneralPage();
    void CreateNotificationPage();
    void CreateFormOptionsPage();
    void CreateAccountPage();
    void CreateRulesPage();
    // Opens the rule dialog on `text`; its OK gives the new text to `done`.
    void EditRule(const std::string& text, std::function<void(const std::string&)> done);
    void BuildControls();
    void FormCreate();
    // The part of a value the controls show, and the part the notification
    // window shows, which is read from it whether or not this one is built.
    void ShowInControls(const TConfig& config);
    void ShowInNotificationWindow(const TConfig& config);

    std::unique_ptr<TAccountListBinding> Accounts;
    TRuleListModel* FRules = nullptr;
    std::unique_ptr<TAccountFind> Finding;
    // A search ended: the account it was started for takes what it found.
    void FindDone(int index, const std::string& address, const TFindOutcome& outcome);
    // Stops a search running; its line is emptied.
    void StopFind();

    // The accounts being edited and, per account, the identity it had when
    // last marked; built or not.
    std::vector<Account> FAccounts;
    std::vector<std::optional<TSecretKey>> FOrigins;
    // While not built: the rest of the value the controls would hold, and
    // where passwords are kept once that is known.
    std::unique_ptr<TConfig> FHeld;
    // The value last shown: what has no control here (the tray's snooze, a
    // later page's values) comes back from the controls as it was.
    TConfig FShown;
    std::optional<TSecretStore::TPresence> FPresence;
    TAccessTokens* FTokens = nullptr;
    // The sign-in panel shows the selected account; a password field only
    // for an account that logs in with one (or with an API token).
    void ShowSignIn();
    void ShowPasswordField(const Account* account);
    // A protocol's radio button was chosen.
    void ProtocolChosen();
};
