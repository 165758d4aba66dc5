#include "config/AccountRows.h"

#include "config/ConfigStore.h"
#include "platform/CodePage.h"

#include <QTreeWidget>

namespace
{

// Never shown: column 0 shows the caption under the display role.
constexpr int OriginRole = Qt::UserRole + 1;
// The unread values, three strings each: name, problem, account number.
constexpr int UnreadRole = Qt::UserRole + 2;

} // namespace

Account AccountOfRow(const QTreeWidgetItem* row)
{
    Account a;
    a.Caption = ToCodePage(row->text(acCaption));
    a.Enabled = row->checkState(acCaption) == Qt::Checked;
    a.UserName = ToCodePage(row->text(acUserName));
    a.Password = ToCodePage(row->text(acPassword));
    a.Host = ToCodePage(row->text(acHost));
    a.Port = ToCodePage(row->text(acPort));
    a.IMAP4 = row->text(acProtocol) == QLatin1String("1");
    a.Security = SecurityOfNumber(row->text(acSecurity).toInt());
    a.Push = row->text(acPush) != QLatin1String("0");
    const QStringList unread = row->data(acCaption, UnreadRole).toStringList();
    for (qsizetype i = 0; i + 2 < unread.size(); i += 3)
    {
        TUnreadValue v{unread[i].toStdString(), ToCodePage(unread[i + 1]), unread[i + 2].toInt()};
        if (HoldsDefault(a, v.Name))
            a.Unreadable.push_back(std::move(v));
    }
    return a;
}

void ForgetUnread(QTreeWidgetItem* row, TAccountColumn column)
{
    static const char* const names[acColumnCount] = {"Caption",  "UserName", "UserPassword", "HostAddress",
                                                     "HostPort", "IMAP4",    "",             "Push"};
    const QString name = QString::fromLatin1(names[column]);
    QStringList unread = row->data(acCaption, UnreadRole).toStringList();
    for (qsizetype i = 0; i + 2 < unread.size();)
        if (unread[i] == name)
            unread.remove(i, 3);
        else
            i += 3;
    row->setData(acCaption, UnreadRole, unread);
}

std::vector<Account> AccountsOfList(const QTreeWidget& list)
{
    std::vector<Account> accounts;
    for (int i = 0; i < list.topLevelItemCount(); ++i)
        accounts.push_back(AccountOfRow(list.topLevelItem(i)));
    return accounts;
}

void SetAccountRow(QTreeWidgetItem* row, const Account& account)
{
    row->setText(acCaption, FromCodePage(account.Caption));
    row->setCheckState(acCaption, account.Enabled ? Qt::Checked : Qt::Unchecked);
    row->setText(acUserName, FromCodePage(account.UserName));
    row->setText(acPassword, FromCodePage(account.Password));
    row->setText(acHost, FromCodePage(account.Host));
    row->setText(acPort, FromCodePage(account.Port));
    row->setText(acProtocol, account.IMAP4 ? QStringLiteral("1") : QStringLiteral("0"));
    row->setText(acSecurity, QString::number(account.Security));
    row->setText(acPush, account.Push ? QStringLiteral("1") : QStringLiteral("0"));
    QStringList unread;
    for (const TUnreadValue& v : account.Unreadable)
        unread << QString::fromStdString(v.Name) << FromCodePage(v.Problem) << QString::number(v.Key);
    row->setData(acCaption, UnreadRole, unread);
}

void SetRowOrigin(QTreeWidgetItem* row, const std::vector<std::string>& origin)
{
    QStringList list;
    for (const std::string& part : origin)
        list << QString::fromStdString(part);
    row->setData(acCaption, OriginRole, list);
}

std::vector<std::string> RowOrigin(const QTreeWidgetItem* row)
{
    std::vector<std::string> origin;
    for (const QString& part : row->data(acCaption, OriginRole).toStringList())
        origin.push_back(part.toStdString());
    return origin;
}

QTreeWidgetItem* AppendAccountRow(QTreeWidget* list, const Account& account)
{
    auto* row = new QTreeWidgetItem(list); // owned by the list
    row->setFlags(row->flags() | Qt::ItemIsUserCheckable | Qt::ItemIsEditable);
    SetAccountRow(row, account);
    return row;
}

TAccountSecurity SecurityOfNumber(long long number)
{
    switch (number)
    {
    case asStartTLS:
        return asStartTLS;
    case asImplicitTLS:
        return asImplicitTLS;
    default:
        return asNone;
    }
}
