#include "config/AccountListBinding.h"

#include "i18n/Translate.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QScopedValueRollback>
#include <QTreeWidget>

#include <memory>

TAccountListBinding::TAccountListBinding(QTreeWidget& list, const TFields& fields)
    : List(list), Fields(fields)
{
}

QTreeWidgetItem* TAccountListBinding::Selected() const
{
    const QList<QTreeWidgetItem*> selected = List.selectedItems();
    return selected.isEmpty() ? nullptr : selected.constFirst();
}

void TAccountListBinding::Select(QTreeWidgetItem* row)
{
    if (row)
        List.setCurrentItem(row);
    else
        List.clearSelection();
}

void TAccountListBinding::ShowRow(const QTreeWidgetItem& row)
{
    // The list reports the row that lost the selection after the new one has
    // it: storing while filling would copy the old account into the new row.
    const QScopedValueRollback<bool> filling(Filling, true);
    Fields.UserName->setText(row.text(acUserName));
    Fields.Password->setText(row.text(acPassword));
    Fields.Host->setText(row.text(acHost));
    Fields.Port->setText(row.text(acPort));
    const QString protocol = row.text(acProtocol);
    if (protocol == QLatin1String("1"))
        Fields.Imap4->setChecked(true);
    else if (protocol == QLatin1String("0"))
        Fields.Pop3->setChecked(true);
    if (Fields.Security)
        Fields.Security->setCurrentIndex(SecurityOfNumber(row.text(acSecurity).toInt()));
    if (Fields.Push)
        Fields.Push->setChecked(row.text(acPush) != QLatin1String("0"));
    ShowProtocolChoice();
}

void TAccountListBinding::StoreField(TAccountColumn column, const QString& text)
{
    if (Filling)
        return;
    if (QTreeWidgetItem* row = Selected())
    {
        row->setText(column, text);
        ForgetUnread(row, column);
    }
}

void TAccountListBinding::StoreProtocol()
{
    if (Filling)
        return;
    if (QTreeWidgetItem* row = Selected())
    {
        row->setText(acProtocol, Fields.Imap4->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
        ForgetUnread(row, acProtocol);
    }
}

void TAccountListBinding::StorePush()
{
    if (Filling || !Fields.Push)
        return;
    if (QTreeWidgetItem* row = Selected())
    {
        row->setText(acPush, Fields.Push->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
        ForgetUnread(row, acPush);
    }
}

void TAccountListBinding::ShowProtocolChoice()
{
    if (Fields.Push)
        Fields.Push->setEnabled(Fields.Imap4->isChecked());
}

void TAccountListBinding::StoreSecurity()
{
    if (Filling || !Fields.Security)
        return;
    QTreeWidgetItem* row = Selected();
    if (!row)
        return;
    const TAccountSecurity security = SecurityOfNumber(Fields.Security->currentIndex());
    row->setText(acSecurity, QString::number(security));
    const QString port = Fields.Port->text();
    const std::string partner = PartnerPort(port.toStdString(), security);
    // Through the edit, so the row takes the port as if it had been typed.
    if (partner != port.toStdString())
        Fields.Port->setText(QString::fromStdString(partner));
}

QTreeWidgetItem* TAccountListBinding::AddRow()
{
    Account added;
    added.Caption = ResStr("Account name");
    added.Enabled = false;
    added.UserName = ResStr("User name");
    added.Host = ResStr("Host");
    added.Port = "110";
    added.IMAP4 = false;
    QTreeWidgetItem* row = AppendAccountRow(&List, added);
    Select(row);
    return row;
}

bool TAccountListBinding::RemoveSelected()
{
    QTreeWidgetItem* row = Selected();
    if (!row)
        return false;
    const int index = List.indexOfTopLevelItem(row);
    // Taken out of the list before it is destroyed, so the selection change
    // that its removal reports still finds a whole row.
    const std::unique_ptr<QTreeWidgetItem> removed(List.takeTopLevelItem(index));
    const int count = List.topLevelItemCount();
    if (count > 0)
        Select(List.topLevelItem(index < count ? index : count - 1));
    else
    {
        // Nothing left to show: the edits must not keep the removed account.
        const QScopedValueRollback<bool> filling(Filling, true);
        for (QLineEdit* edit : {Fields.UserName, Fields.Password, Fields.Host, Fields.Port})
            edit->clear();
        if (Fields.Security)
            Fields.Security->setCurrentIndex(asNone);
        if (Fields.Push)
            Fields.Push->setChecked(Account{}.Push);
    }
    return true;
}

void TAccountListBinding::SelectFirstIfNone()
{
    if (!Selected() && List.topLevelItemCount() > 0)
        Select(List.topLevelItem(0));
}
