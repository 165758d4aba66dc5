#pragma once

#include "config/AccountRows.h"
#include "platform/SecretStore.h"

#include <QMetaObject>

#include <optional>
#include <string>
#include <vector>

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QRadioButton;
class QString;
class QTreeWidget;
class QTreeWidgetItem;
class TUpDown;

// The account list of the settings window and the property edits beside it.
// The accounts being edited are a list of values; the rows of the list show
// their captions and enabled flags, one row per account in the same order,
// and whatever adds, removes or edits a row changes its account with it.
// The property edits are bound both ways to the selected row's account:
// selecting a row shows its fields, editing a field stores it at once.
class TAccountListBinding
{
public:
    struct TFields
    {
        QLineEdit* UserName;
        QLineEdit* Password;
        QLineEdit* Host;
        QLineEdit* Port;
        QRadioButton* Pop3;
        QRadioButton* Imap4;
        // JMAP over https: the port and security then do not apply.
        QRadioButton* Jmap = nullptr;
        // Items in the order of TAccountSecurity.
        QComboBox* Security = nullptr;
        // Only IMAP4 accounts can be pushed to: enabled while Imap4 is chosen.
        QCheckBox* Push = nullptr;
        // Ticked: the account's own interval, from the arrows' edit;
        // cleared: the common one (CommonInterval), shown disabled.
        QCheckBox* OwnInterval = nullptr;
        QLineEdit* IntervalEdit = nullptr;
        TUpDown* Interval = nullptr;
        TUpDown* CommonInterval = nullptr;
        QCheckBox* Silent = nullptr;
        QLineEdit* EmailAddress = nullptr;
        // The folder choice, for IMAP4 accounts only, like Push.
        QAbstractButton* Folders = nullptr;
        // Items: the common sound, no sound, then the account's own file.
        QComboBox* Sound = nullptr;
        QCheckBox* Notify = nullptr;
        // Items by the stored urgency; offered while Notify is ticked.
        QComboBox* Urgency = nullptr;
    };

    // `accounts` and `origins` (per account, where its password was kept
    // when last marked) are the window's, and outlive the binding.
    TAccountListBinding(QTreeWidget& list, std::vector<Account>& accounts,
                        std::vector<std::optional<TSecretKey>>& origins, const TFields& fields);
    ~TAccountListBinding();
    TAccountListBinding(const TAccountListBinding&) = delete;
    TAccountListBinding& operator=(const TAccountListBinding&) = delete;

    // The rows again, one per account, none selected.
    void ShowAccounts();

    // The selected row, or null; its account's index, or -1.
    QTreeWidgetItem* Selected() const;
    int SelectedIndex() const;
    void Select(QTreeWidgetItem* row);

    // The fields of the row's account show in the edits and the radio
    // buttons. While they are being filled nothing is stored, so one
    // account's text never reaches another.
    void ShowRow(const QTreeWidgetItem& row);

    // An edit's whole text becomes that field of the selected account; with
    // no row selected nothing is stored.
    void StoreText(std::string Account::*field, const QString& text);
    // The radio buttons become the selected account's protocol; the port
    // stays. An API token is JMAP's alone: another protocol logs in with
    // the password field as a password.
    void StoreProtocol();
    // The drop-down becomes the selected account's security; a well-known port
    // moves to its partner (110 and 995, 143 and 993).
    void StoreSecurity();
    // The box becomes the selected account's push choice.
    void StorePush();
    // The interval box and its edit become the selected account's own
    // interval (0 while cleared).
    void StoreCheckingTime();
    // The interval edit is enabled while its box is ticked; cleared, it
    // shows the common interval.
    void ShowCheckingTime();
    void StoreSilent();
    // The sound choice becomes the selected account's sound: "" the common
    // one, "-" none, else its file.
    void StoreSound();
    // A chosen file becomes the last item of the sound choice and is chosen.
    void ChooseSoundFile(const std::string& path);
    void StoreNotify();
    void StoreUrgency();
    // The folder list becomes the account's at `index` (the one selected
    // when the choice was opened).
    void StoreFolders(int index, std::vector<TAccountFolder> folders);
    // The push box can be changed only while IMAP4 is chosen; it keeps its
    // tick either way, so switching back finds the account's choice. While
    // JMAP is chosen the port and security are off and the host field says
    // it takes an address too.
    void ShowProtocolChoice();
    // The urgency can be chosen only while the account notifies.
    void ShowNotifyChoice();

    // Appends a new account with the translated defaults, disabled until the
    // user ticks it, and selects it.
    QTreeWidgetItem* AddRow();
    // Deletes the selected row and selects the one that takes its place (or
    // the new last one); false when no row was selected.
    bool RemoveSelected();
    // Selects the first row when there is one and none is selected.
    void SelectFirstIfNone();

private:
    void ShowSound(const std::string& sound);
    // The row's account, or null for a row that is going.
    Account* AccountOf(const QTreeWidgetItem& row);
    Account* SelectedAccount();
    // A row's caption or check box was edited in the list.
    void RowChanged(QTreeWidgetItem* row);
    // Rows are leaving the list, whoever takes them out.
    void RowsLeaving(int first, int last);

    QTreeWidget& List;
    std::vector<Account>& Accounts;
    std::vector<std::optional<TSecretKey>>& Origins;
    TFields Fields;
    bool Filling = false;
    // The rows are being rebuilt from the accounts: what the list reports
    // meanwhile is the binding's own doing.
    bool Reshaping = false;
    std::vector<QMetaObject::Connection> Connections;
};
