#pragma once

#include "platform/SecretStore.h"

#include <QWidget>

#include <functional>
#include <memory>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;
class TAccountListBinding;
class TUpDown;
class TfrmNewMail;
enum class TPicker;
struct Account;
struct TConfig;

// The settings window, hidden except while the user edits the settings. Its
// controls show a configuration value and edit it; what OK, Cancel and
// Default do with the stored one is the configuration keeper's.
class TfrmSettings : public QWidget
{
    Q_OBJECT
public:
    explicit TfrmSettings(QWidget* parent = nullptr);
    ~TfrmSettings() override;

    // The notification window, created after this one: its details fold and
    // column widths are part of the configuration.
    TfrmNewMail* frmNewMail = nullptr;

    // Value -> controls (and the notification window's fold and widths);
    // the times are kept in their ranges as the arrows keep them.
    void ShowConfig(const TConfig& config);
    // Controls -> value.
    TConfig ConfigOfControls() const;

    // Set by the application shell: the close query (true allows the close)
    // and the close itself.
    std::function<bool()> OnCloseQuery;
    std::function<void()> OnClose;
    // Set by the configuration keeper: OK's save before the window hides,
    // Cancel's load after it hid, and Default's restore.
    std::function<void()> OnAccept;
    std::function<void()> OnReject;
    std::function<void()> OnRestoreDefaults;

    // Where passwords are kept, in one line of the Account page; with a
    // keyring an empty password field says the password is kept there.
    void ShowPasswordStore(TSecretStore::TPresence presence);
    // The rows (and the password field) that still hold the account's
    // password drop it: the keyring keeps it now.
    void ForgetPassword(const Account& account);

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
    void rdbPop3Click();
    void rdbImap4Click();
    void pagSettingsChange(int index);

    QTabWidget* pagSettings;
    QWidget* tabGeneral;
    QWidget* tabNotification;
    QWidget* tabNotifyFormOpt;
    QWidget* tabAccount;
    QPushButton* btnDefault;
    QPushButton* btnOk;
    QPushButton* btnCancel;

    // General
    QLabel* lblGeneral;
    QLabel* lblApplication;
    QLineEdit* txtApplication;
    QPushButton* txtApplicationButton;
    QLabel* lblInterval;
    QLineEdit* txtInterval;
    TUpDown* spnInterval;
    QLabel* lblDoubleClick;
    QComboBox* cboDoubleClick;
    QLabel* lblPriority;
    QComboBox* cboPriority;
    QCheckBox* chkNotifyNewMsg;

    // Notification Behaviors
    QLabel* lblNotification;
    QCheckBox* chkShowForm;
    QCheckBox* chkSound;
    QLineEdit* txtSound;
    QPushButton* txtSoundBtn;
    QCheckBox* chkSilentMode;
    QLineEdit* txtLedActiveTime;
    TUpDown* spnLedActiveTime;
    QCheckBox* chkShowIcon;
    QLineEdit* txtShowIcon;
    QPushButton* txtShowIconBtn;
    QCheckBox* chkExecute;
    QLineEdit* txtExecute;

    // Form Options
    QLabel* lblNotifyFormOpt;
    QCheckBox* chkAutoHide;
    QLineEdit* txtAutoHide;
    TUpDown* spnAutoHide;
    QCheckBox* chkAnimation;
    QLineEdit* txtAnimation;
    QPushButton* txtAnimationBtn;
    QCheckBox* chkStayOnTop;
    QCheckBox* chkSaveDetails;

    // Account
    QGroupBox* grpAccounts;
    QPushButton* btnAdd;
    QPushButton* btnRemove;
    QPushButton* btnRename;
    QTreeWidget* lvwAccounts;
    QGroupBox* grpAccountPop3;
    QRadioButton* rdbPop3;
    QRadioButton* rdbImap4;
    QLabel* lblUserName;
    QLineEdit* txtUserName;
    QLabel* lblPassword;
    QLineEdit* txtPassword;
    QLabel* lblServer;
    QLineEdit* txtHost;
    QLabel* lblPort;
    QLineEdit* txtPort;
    QLabel* lblSecurity;
    QComboBox* cboSecurity; // index = TAccountSecurity
    QLabel* lblPasswordStore;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void ConnectHandlers();
    // The edits of the three times show what a save stores.
    void SettleTimes();
    // A "..." button: the chosen file's full path replaces the edit's text.
    void PickFile(TPicker picker, QLineEdit* edit);
    void CreateGeneralPage();
    void CreateNotificationPage();
    void CreateFormOptionsPage();
    void CreateAccountPage();
    void FormCreate();

    std::unique_ptr<TAccountListBinding> Accounts;
};
