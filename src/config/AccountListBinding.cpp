#include "config/AccountListBinding.h"

#include "config/ConfigStore.h"
#include "desktop/UpDownControl.h"
#include "i18n/Translate.h"
#include "platform/CodePage.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QScopedValueRollback>
#include <QTextDocument>
#include <QTreeWidget>

#include <memory>

TAccountListBinding::TAccountListBinding(QTreeWidget& list, std::vector<Account>& accounts,
                                         std::vector<std::optional<TSecretKey>>& origins, const TFields& fields)
    : List(list), Accounts(accounts), Origins(origins), Fields(fields)
{
    Connections.push_back(QObject::connect(&List, &QTreeWidget::itemChanged, &List,
                                           [this](QTreeWidgetItem* row, int) { RowChanged(row); }));
    Connections.push_back(QObject::connect(List.model(), &QAbstractItemModel::rowsAboutToBeRemoved, &List,
                                           [this](const QModelIndex& parent, int first, int last) {
                                               if (!parent.isValid())
                                                   RowsLeaving(first, last);
                                           }));
    // Emptying the list resets its model.
    Connections.push_back(QObject::connect(List.model(), &QAbstractItemModel::modelAboutToBeReset, &List, [this] {
        if (!Accounts.empty())
            RowsLeaving(0, static_cast<int>(Accounts.size()) - 1);
    }));
}

TAccountListBinding::~TAccountListBinding()
{
    // The list outlives the binding inside its window, and empties itself
    // when it goes.
    for (const QMetaObject::Connection& c : Connections)
        QObject::disconnect(c);
}

void TAccountListBinding::ShowAccounts()
{
    const QScopedValueRollback<bool> reshaping(Reshaping, true);
    List.clear();
    for (const Account& a : Accounts)
        AppendAccountRow(&List, a);
}

Account* TAccountListBinding::AccountOf(const QTreeWidgetItem& row)
{
    // Between a row's leaving and the list's last report of it, the rows and
    // the accounts do not line up.
    const int index = List.indexOfTopLevelItem(const_cast<QTreeWidgetItem*>(&row));
    if (Reshaping || index < 0 || index >= static_cast<int>(Accounts.size()) ||
        List.topLevelItemCount() != static_cast<int>(Accounts.size()))
        return nullptr;
    return &Accounts[index];
}

Account* TAccountListBinding::SelectedAccount()
{
    QTreeWidgetItem* row = Selected();
    return row ? AccountOf(*row) : nullptr;
}

void TAccountListBinding::RowChanged(QTreeWidgetItem* row)
{
    if (Account* a = row ? AccountOf(*row) : nullptr)
    {
        a->Caption = ToCodePage(row->text(acCaption));
        a->Enabled = row->checkState(acCaption) == Qt::Checked;
    }
}

void TAccountListBinding::RowsLeaving(int first, int last)
{
    if (Reshaping || first < 0 || last >= static_cast<int>(Accounts.size()))
        return;
    Accounts.erase(Accounts.begin() + first, Accounts.begin() + last + 1);
    if (last < static_cast<int>(Origins.size()))
        Origins.erase(Origins.begin() + first, Origins.begin() + last + 1);
}

QTreeWidgetItem* TAccountListBinding::Selected() const
{
    const QList<QTreeWidgetItem*> selected = List.selectedItems();
    return selected.isEmpty() ? nullptr : selected.constFirst();
}

int TAccountListBinding::SelectedIndex() const
{
    QTreeWidgetItem* row = Selected();
    return row ? List.indexOfTopLevelItem(row) : -1;
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
    const Account* a = AccountOf(row);
    if (!a)
        return;
    // The list reports the row that lost the selection after the new one has
    // it: storing while filling would copy the old account into the new one.
    const QScopedValueRollback<bool> filling(Filling, true);
    Fields.UserName->setText(FromCodePage(a->UserName));
    Fields.Password->setText(FromCodePage(a->Password));
    Fields.Host->setText(FromCodePage(a->Host));
    Fields.Port->setText(FromCodePage(a->Port));
    (a->JMAP && Fields.Jmap ? Fields.Jmap : a->IMAP4 ? Fields.Imap4 : Fields.Pop3)->setChecked(true);
    if (Fields.Security)
        Fields.Security->setCurrentIndex(a->Security);
    if (Fields.Push)
        Fields.Push->setChecked(a->Push);
    if (Fields.Silent)
        Fields.Silent->setChecked(a->Silent);
    if (Fields.OwnInterval)
    {
        Fields.OwnInterval->setChecked(a->CheckingTime > 0);
        if (a->CheckingTime > 0)
            Fields.Interval->SetPosition(a->CheckingTime);
    }
    if (Fields.EmailAddress)
        Fields.EmailAddress->setText(FromCodePage(a->EmailAddress));
    ShowSound(a->Sound);
    if (Fields.Notify)
        Fields.Notify->setChecked(a->Notify);
    if (Fields.Urgency)
        Fields.Urgency->setCurrentIndex(a->Urgency >= 0 && a->Urgency < Fields.Urgency->count() ? a->Urgency : -1);
    ShowNotifyChoice();
    ShowProtocolChoice();
    ShowCheckingTime();
}

void TAccountListBinding::StoreText(std::string Account::*field, const QString& text)
{
    if (Filling)
        return;
    if (Account* a = SelectedAccount())
    {
        a->*field = ToCodePage(text);
        ForgetUnread(*a, AccountValueName(field));
    }
}

void TAccountListBinding::StoreProtocol()
{
    if (Filling)
        return;
    if (Account* a = SelectedAccount())
    {
        a->IMAP4 = Fields.Imap4->isChecked();
        a->JMAP = Fields.Jmap && Fields.Jmap->isChecked();
        ForgetUnread(*a, AccountValueName(&Account::IMAP4));
        ForgetUnread(*a, AccountValueName(&Account::JMAP));
        if (!a->JMAP && a->Authentication == aaBearer)
        {
            a->Authentication = aaPassword;
            ForgetUnread(*a, "Authentication");
        }
    }
}

void TAccountListBinding::StorePush()
{
    if (Filling || !Fields.Push)
        return;
    if (Account* a = SelectedAccount())
    {
        a->Push = Fields.Push->isChecked();
        ForgetUnread(*a, AccountValueName(&Account::Push));
    }
}

void TAccountListBinding::StoreCheckingTime()
{
    if (Filling || !Fields.OwnInterval)
        return;
    if (Account* a = SelectedAccount())
    {
        a->CheckingTime = Fields.OwnInterval->isChecked() ? Fields.Interval->Position() : 0;
        ForgetUnread(*a, AccountValueName(&Account::CheckingTime));
    }
}

void TAccountListBinding::ShowCheckingTime()
{
    if (!Fields.OwnInterval)
        return;
    const bool own = Fields.OwnInterval->isChecked();
    Fields.Interval->setEnabled(own);
    Fields.IntervalEdit->setEnabled(own);
    if (!own && Fields.CommonInterval)
    {
        // Nothing of it is stored: the account keeps 0.
        const QScopedValueRollback<bool> filling(Filling, true);
        Fields.Interval->SetPosition(Fields.CommonInterval->Position());
    }
}

void TAccountListBinding::StoreSilent()
{
    if (Filling || !Fields.Silent)
        return;
    if (Account* a = SelectedAccount())
    {
        a->Silent = Fields.Silent->isChecked();
        ForgetUnread(*a, AccountValueName(&Account::Silent));
    }
}

namespace
{

enum TSoundItem
{
    siCommon = 0,
    siNone = 1,
    siFile = 2
};
constexpr const char* NoSound = "-";

} // namespace

void TAccountListBinding::ShowSound(const std::string& sound)
{
    QComboBox* combo = Fields.Sound;
    if (!combo)
        return;
    while (combo->count() > siFile)
        combo->removeItem(siFile);
    if (sound.empty())
        combo->setCurrentIndex(siCommon);
    else if (sound == NoSound)
        combo->setCurrentIndex(siNone);
    else
    {
        combo->addItem(FromCodePage(sound));
        combo->setCurrentIndex(siFile);
    }
    combo->setToolTip(combo->currentIndex() == siFile ? Qt::convertFromPlainText(combo->currentText()) : QString());
}

void TAccountListBinding::StoreSound()
{
    if (Filling || !Fields.Sound)
        return;
    const int item = Fields.Sound->currentIndex();
    Fields.Sound->setToolTip(item == siFile ? Qt::convertFromPlainText(Fields.Sound->currentText()) : QString());
    if (Account* a = SelectedAccount())
    {
        a->Sound = item == siNone ? NoSound : item == siFile ? ToCodePage(Fields.Sound->currentText()) : "";
        ForgetUnread(*a, AccountValueName(&Account::Sound));
    }
}

void TAccountListBinding::ChooseSoundFile(const std::string& path)
{
    if (!Fields.Sound || !SelectedAccount())
        return;
    {
        const QScopedValueRollback<bool> filling(Filling, true);
        ShowSound(path);
    }
    StoreSound();
}

void TAccountListBinding::StoreNotify()
{
    if (Filling || !Fields.Notify)
        return;
    if (Account* a = SelectedAccount())
    {
        a->Notify = Fields.Notify->isChecked();
        ForgetUnread(*a, AccountValueName(&Account::Notify));
    }
}

void TAccountListBinding::StoreUrgency()
{
    if (Filling || !Fields.Urgency || Fields.Urgency->currentIndex() < 0)
        return;
    if (Account* a = SelectedAccount())
    {
        a->Urgency = Fields.Urgency->currentIndex();
        ForgetUnread(*a, AccountValueName(&Account::Urgency));
    }
}

void TAccountListBinding::ShowNotifyChoice()
{
    if (Fields.Notify && Fields.Urgency)
        Fields.Urgency->setEnabled(Fields.Notify->isChecked());
}

void TAccountListBinding::StoreFolders(int index, std::vector<TAccountFolder> folders)
{
    if (index >= 0 && static_cast<std::size_t>(index) < Accounts.size())
        Accounts[index].Folders = std::move(folders);
}

void TAccountListBinding::ShowProtocolChoice()
{
    const bool jmap = Fields.Jmap && Fields.Jmap->isChecked();
    if (Fields.Push)
        Fields.Push->setEnabled(Fields.Imap4->isChecked() || jmap);
    if (Fields.Folders)
        Fields.Folders->setEnabled(Fields.Imap4->isChecked() || jmap);
    Fields.Port->setEnabled(!jmap);
    if (Fields.Security)
        Fields.Security->setEnabled(!jmap);
    Fields.Host->setToolTip(jmap ? ResText("The server's host name, or the https address of its JMAP session")
                                 : QString());
}

void TAccountListBinding::StoreSecurity()
{
    if (Filling || !Fields.Security)
        return;
    Account* a = SelectedAccount();
    if (!a)
        return;
    const TAccountSecurity security = SecurityOfNumber(Fields.Security->currentIndex());
    a->Security = security;
    const QString port = Fields.Port->text();
    const std::string partner = PartnerPort(port.toStdString(), security);
    // Through the edit, so the account takes the port as if it had been typed.
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
    Accounts.push_back(added);
    Origins.resize(Accounts.size());
    QTreeWidgetItem* row = nullptr;
    {
        const QScopedValueRollback<bool> reshaping(Reshaping, true);
        row = AppendAccountRow(&List, added);
    }
    Select(row);
    return row;
}

bool TAccountListBinding::RemoveSelected()
{
    QTreeWidgetItem* row = Selected();
    if (!row)
        return false;
    const int index = List.indexOfTopLevelItem(row);
    // Its account leaves with it (RowsLeaving).
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
        if (Fields.Silent)
            Fields.Silent->setChecked(false);
        if (Fields.OwnInterval)
            Fields.OwnInterval->setChecked(false);
        ShowSound({});
        if (Fields.Notify)
            Fields.Notify->setChecked(Account{}.Notify);
        if (Fields.Urgency)
            Fields.Urgency->setCurrentIndex(Account{}.Urgency);
        ShowNotifyChoice();
    }
    ShowCheckingTime();
    return true;
}

void TAccountListBinding::SelectFirstIfNone()
{
    if (!Selected() && List.topLevelItemCount() > 0)
        Select(List.topLevelItem(0));
}
