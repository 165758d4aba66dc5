// The one place where the configuration value meets the controls.
#include "config/SettingsForm.h"

#include "config/AccountRows.h"
#include "config/AccountSecrets.h"
#include "config/Config.h"
#include "config/SettingsControls.h"
#include "desktop/UpDownControl.h"
#include "notify/NewMailForm.h"
#include "platform/CodePage.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QTreeWidget>

#include <algorithm>

namespace
{

std::string Text(const QLineEdit* edit)
{
    return ToCodePage(edit->text());
}

void SetText(QLineEdit* edit, const std::string& text)
{
    edit->setText(FromCodePage(text));
}

// An index outside the list leaves it without a selection.
void SetItemIndex(QComboBox* combo, int index)
{
    combo->setCurrentIndex(index >= 0 && index < combo->count() ? index : -1);
}

// What an edit gives back of a text shown in it.
std::string EditedText(const std::string& text)
{
    return ToCodePage(FromCodePage(text).left(EditMaxLength));
}

int Clamped(int value, int min, int max)
{
    return std::clamp(value, min, std::max(min, max));
}

template <std::size_t N> int ItemIndex(int index, const std::array<const char*, N>& items)
{
    return index >= 0 && index < static_cast<int>(items.size()) ? index : -1;
}

} // namespace

TConfig InitialConfigOfControls()
{
    // Texts empty, boxes cleared, the first item of each list.
    TConfig c;
    c.CheckingTime = IntervalRange.Initial;
    c.DoubleClick = 0;
    c.NotifyOnlyNewMsg = InitialNotifyOnlyNewMsg;
    c.RequiredPriority = 0;
    c.ShowForm = false;
    c.ScrLckBlinking = LedRange.Initial;
    c.FormAutoHide = AutoHideRange.Initial;
    c.FormStayOnTop = false;
    c.FormSaveDetails = false;
    return c;
}

TConfig SettledConfig(const TConfig& shown)
{
    TConfig c = InitialConfigOfControls();
    c.EmailClient = EditedText(shown.EmailClient);
    c.CheckingTime = Clamped(shown.CheckingTime, IntervalRange.Min, IntervalRange.Max);
    c.DoubleClick = ItemIndex(shown.DoubleClick, DoubleClickItems);
    c.NotifyOnlyNewMsg = shown.NotifyOnlyNewMsg;
    c.RequiredPriority = ItemIndex(shown.RequiredPriority, PriorityItems);
    c.ShowForm = shown.ShowForm;
    c.PlaySound = EditedText(shown.PlaySound);
    // Showing a value bounds the other two times by its interval.
    c.ScrLckBlinking = Clamped(shown.ScrLckBlinking, LedRange.Min, c.CheckingTime);
    c.ShowIcon = EditedText(shown.ShowIcon);
    c.Execute = EditedText(shown.Execute);
    c.FormAutoHide = Clamped(shown.FormAutoHide, AutoHideRange.Min, c.CheckingTime);
    c.FormAnimation = EditedText(shown.FormAnimation);
    c.FormStayOnTop = shown.FormStayOnTop;
    c.FormSaveDetails = shown.FormSaveDetails;
    // The rows' own conversions, through a row that is in no list.
    QTreeWidgetItem row;
    for (const Account& a : shown.Accounts)
    {
        SetAccountRow(&row, a);
        c.Accounts.push_back(AccountOfRow(&row));
    }
    return c;
}

void TfrmSettings::ShowConfig(const TConfig& c)
{
    ShowInNotificationWindow(c);
    if (Built())
    {
        ShowInControls(c);
        return;
    }
    *FHeld = SettledConfig(c);
    // New rows: no origins, as the list's rows would have none.
    FHeldOrigins.assign(FHeld->Accounts.size(), std::nullopt);
}

void TfrmSettings::ShowInNotificationWindow(const TConfig& c)
{
    if (!frmNewMail)
        return;
    frmNewMail->actDetails->setChecked(c.FormShowDetails);
    QHeaderView* header = frmNewMail->lvwMessages->header();
    const int columns = frmNewMail->lvwMessages->columnCount();
    for (int i = 0; i < static_cast<int>(c.ColumnWidths.size()) && i < columns; ++i)
    {
        // The list cannot show a negative width; such a value hides the column.
        const int width = c.ColumnWidths[i];
        header->resizeSection(i, width < 0 ? 0 : width);
    }
}

void TfrmSettings::ShowInControls(const TConfig& c)
{
    SetText(txtApplication, c.EmailClient);
    spnInterval->SetPosition(c.CheckingTime);
    // The other two spinners are bounded by the interval, also when its text
    // did not change.
    txtIntervalChange();
    SetItemIndex(cboDoubleClick, c.DoubleClick);
    chkNotifyNewMsg->setChecked(c.NotifyOnlyNewMsg);
    SetItemIndex(cboPriority, c.RequiredPriority);
    chkShowForm->setChecked(c.ShowForm);
    SetText(txtSound, c.PlaySound);
    spnLedActiveTime->SetPosition(c.ScrLckBlinking);
    chkSilentMode->setChecked(spnLedActiveTime->Position() > 0);
    SetText(txtShowIcon, c.ShowIcon);
    SetText(txtExecute, c.Execute);
    spnAutoHide->SetPosition(c.FormAutoHide);
    chkAutoHide->setChecked(spnAutoHide->Position() > 0);
    SetText(txtAnimation, c.FormAnimation);
    chkStayOnTop->setChecked(c.FormStayOnTop);
    chkSaveDetails->setChecked(c.FormSaveDetails);
    lvwAccounts->clear();
    for (const Account& a : c.Accounts)
        AppendAccountRow(lvwAccounts, a);
}

TConfig TfrmSettings::ConfigOfControls() const
{
    TConfig c = Built() ? TConfig{} : *FHeld;
    if (Built())
    {
        c.EmailClient = Text(txtApplication);
        c.CheckingTime = spnInterval->Position();
        c.DoubleClick = cboDoubleClick->currentIndex();
        c.NotifyOnlyNewMsg = chkNotifyNewMsg->isChecked();
        c.RequiredPriority = cboPriority->currentIndex();
        c.ShowForm = chkShowForm->isChecked();
        c.PlaySound = Text(txtSound);
        c.ScrLckBlinking = spnLedActiveTime->Position();
        c.ShowIcon = Text(txtShowIcon);
        c.Execute = Text(txtExecute);
        c.FormAutoHide = spnAutoHide->Position();
        c.FormAnimation = Text(txtAnimation);
        c.FormStayOnTop = chkStayOnTop->isChecked();
        c.FormSaveDetails = chkSaveDetails->isChecked();
        c.Accounts = AccountsOfList(*lvwAccounts);
    }
    if (frmNewMail)
    {
        c.FormShowDetails = frmNewMail->actDetails->isChecked();
        const QTreeWidget* list = frmNewMail->lvwMessages;
        for (int i = 0; i < list->columnCount(); ++i)
            c.ColumnWidths.push_back(list->header()->sectionSize(i));
    }
    return c;
}

std::vector<std::optional<TSecretKey>> TfrmSettings::AccountOrigins() const
{
    if (!Built())
        return FHeldOrigins;
    std::vector<std::optional<TSecretKey>> origins;
    for (int i = 0; i < lvwAccounts->topLevelItemCount(); ++i)
    {
        const std::vector<std::string> origin = RowOrigin(lvwAccounts->topLevelItem(i));
        if (origin.size() == 4)
            origins.push_back(TSecretKey{origin[0], origin[1], origin[2], origin[3]});
        else
            origins.push_back(std::nullopt);
    }
    return origins;
}

std::vector<TSecretKey> TfrmSettings::MarkAccountOrigins()
{
    std::vector<TSecretKey> keys;
    if (!Built())
    {
        for (const Account& a : FHeld->Accounts)
            keys.push_back(SecretKeyOf(a));
        FHeldOrigins.assign(keys.begin(), keys.end());
        return keys;
    }
    for (int i = 0; i < lvwAccounts->topLevelItemCount(); ++i)
    {
        QTreeWidgetItem* row = lvwAccounts->topLevelItem(i);
        const TSecretKey key = SecretKeyOf(AccountOfRow(row));
        SetRowOrigin(row, {key.Protocol, key.Host, key.Port, key.User});
        keys.push_back(key);
    }
    return keys;
}
