#include "config/AccountRows.h"

#include "platform/CodePage.h"

#include <QTreeWidget>

#include <algorithm>

QTreeWidgetItem* AppendAccountRow(QTreeWidget* list, const Account& account)
{
    auto* row = new QTreeWidgetItem(list); // owned by the list
    row->setFlags(row->flags() | Qt::ItemIsUserCheckable | Qt::ItemIsEditable);
    row->setText(acCaption, FromCodePage(account.Caption));
    row->setCheckState(acCaption, account.Enabled ? Qt::Checked : Qt::Unchecked);
    return row;
}

void ForgetUnread(Account& account, const std::string& valueName)
{
    std::erase_if(account.Unreadable, [&valueName](const TUnreadValue& v) { return v.Name == valueName; });
}
