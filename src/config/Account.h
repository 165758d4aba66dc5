#pragma once

#include <string>

class QTreeWidget;
class QTreeWidgetItem;

// One configured mailbox. Texts are 8-bit desktop text.
struct Account
{
    std::string Caption = "My Account";
    bool Enabled = true;
    std::string UserName = "User Name";
    std::string Password;
    std::string Host = "POP3 Server";
    std::string Port = "110";
    bool IMAP4 = false;
};

// An account is one row of the settings window's account list: the caption in
// column 0 (the only visible one), the enabled flag as the row's check box and
// the other fields as texts of hidden columns; the protocol as "1" (IMAP4) or
// "0" (POP3).
enum TAccountColumn
{
    acCaption = 0,
    acUserName,
    acPassword,
    acHost,
    acPort,
    acProtocol,
    acColumnCount
};

Account AccountOfRow(const QTreeWidgetItem* row);
void SetAccountRow(QTreeWidgetItem* row, const Account& account);
// Appends a row holding the account and returns it.
QTreeWidgetItem* AppendAccountRow(QTreeWidget* list, const Account& account);
