#pragma once

#include "check/Account.h"

#include <string>

class QTreeWidget;
class QTreeWidgetItem;

// An account as a row of the settings window's account list: its caption in
// the one column, its enabled flag as the row's check box. The account
// itself is kept beside the list (TAccountListBinding).
enum TAccountColumn
{
    acCaption = 0,
    acColumnCount
};

// Appends a row showing the account and returns it.
QTreeWidgetItem* AppendAccountRow(QTreeWidget* list, const Account& account);
// The field stored under the value name ("HostPort") was edited: a value of
// it the load could not read is the edit's now.
void ForgetUnread(Account& account, const std::string& valueName);
