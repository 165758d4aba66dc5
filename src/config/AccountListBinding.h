#pragma once

#include "config/AccountRows.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QRadioButton;
class QString;
class QTreeWidget;
class QTreeWidgetItem;

// The account list of the settings window and the property edits beside it,
// bound both ways to the selected row: selecting a row shows its fields,
// editing a field stores it into the selected row at once.
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
        // Items in the order of TAccountSecurity.
        QComboBox* Security = nullptr;
        // Only IMAP4 accounts can be pushed to: enabled while Imap4 is chosen.
        QCheckBox* Push = nullptr;
    };

    TAccountListBinding(QTreeWidget& list, const TFields& fields);

    // The selected row, or null.
    QTreeWidgetItem* Selected() const;
    void Select(QTreeWidgetItem* row);

    // The fields of the row show in the edits and the radio buttons. While
    // they are being filled nothing is stored, so one account's text never
    // reaches another row.
    void ShowRow(const QTreeWidgetItem& row);

    // An edit's whole text becomes that field of the selected row; with no
    // row selected nothing is stored.
    void StoreField(TAccountColumn column, const QString& text);
    // The radio buttons become the selected row's protocol; the port stays.
    void StoreProtocol();
    // The drop-down becomes the selected row's security; a well-known port
    // moves to its partner (110 and 995, 143 and 993).
    void StoreSecurity();
    // The box becomes the selected row's push choice.
    void StorePush();
    // The push box can be changed only while IMAP4 is chosen; it keeps its
    // tick either way, so switching back finds the account's choice.
    void ShowProtocolChoice();

    // Appends a new account with the translated defaults, disabled until the
    // user ticks it, and selects it.
    QTreeWidgetItem* AddRow();
    // Deletes the selected row and selects the one that takes its place (or
    // the new last one); false when no row was selected.
    bool RemoveSelected();
    // Selects the first row when there is one and none is selected.
    void SelectFirstIfNone();

private:
    QTreeWidget& List;
    TFields Fields;
    bool Filling = false;
};
