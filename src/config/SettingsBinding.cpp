// The one place where the configuration value meets the controls.
#include "config/SettingsForm.h"

#include "config/AccountRows.h"
#include "config/Config.h"
#include "desktop/UpDownControl.h"
#include "notify/NewMailForm.h"
#include "platform/CodePage.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QTreeWidget>

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

} // namespace

void TfrmSettings::ShowConfig(const TConfig& c)
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
    if (frmNewMail)
    {
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
    lvwAccounts->clear();
    for (const Account& a : c.Accounts)
        AppendAccountRow(lvwAccounts, a);
}

TConfig TfrmSettings::ConfigOfControls() const
{
    TConfig c;
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
    if (frmNewMail)
    {
        c.FormShowDetails = frmNewMail->actDetails->isChecked();
        const QTreeWidget* list = frmNewMail->lvwMessages;
        for (int i = 0; i < list->columnCount(); ++i)
            c.ColumnWidths.push_back(list->header()->sectionSize(i));
    }
    c.Accounts = AccountsOfList(*lvwAccounts);
    return c;
}
