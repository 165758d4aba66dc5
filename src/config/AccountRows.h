#pragma once

#include "check/Account.h"

class QTreeWidget;
class QTreeWidgetItem;

// An account is one row of the settings window's account list: the caption in
// column 0 (the only visible one), the enabled flag as the row's check box and
// the other fields as texts of hidden columns; the protocol as "1" (IMAP4) or
// "0" (POP3); the security as its hive number; push as "1" or "0".
enum TAccountColumn
{
    acCaption = 0,
    acUserName,
    acPassword,
    acHost,
    acPort,
    acProtocol,
    acSecurity,
    acPush,
    acColumnCount
};

#include <vector>

// A stored number as a security kind; numbers this program does not know
// are asNone.
TAccountSecurity SecurityOfNumber(long long number);

// The row's account; an unread value it carries stays unread only while its
// field still holds the default shown in its place.
Account AccountOfRow(const QTreeWidgetItem* row);
// Every row of the list, in order.
std::vector<Account> AccountsOfList(const QTreeWidget& list);
void SetAccountRow(QTreeWidgetItem* row, const Account& account);
// The identity the row's account had when the list was last shown or saved
// (the keyring item its password is kept under); empty for a row added
// since.
void SetRowOrigin(QTreeWidgetItem* row, const std::vector<std::string>& origin);
std::vector<std::string> RowOrigin(const QTreeWidgetItem* row);
// The field in `column` was edited: a value of it the load could not read
// is the edit's now.
void ForgetUnread(QTreeWidgetItem* row, TAccountColumn column);
// Appends a row holding the account and returns it.
QTreeWidgetItem* AppendAccountRow(QTreeWidget* list, const Account& account);
