// The one place where the configuration value meets the controls.
#include "config/SettingsForm.h"

#include "config/AccountListBinding.h"
#include "config/AccountSecrets.h"
#include "config/Config.h"
#include "config/ConfigStore.h"
#include "config/LauncherBadge.h"
#include "config/RuleList.h"
#include "config/SettingsControls.h"
#include "desktop/UpDownControl.h"
#include "notify/NewMailForm.h"
#include "platform/CodePage.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTimeEdit>
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

bool IsTimeOfDay(int minutes)
{
    return minutes >= 0 && minutes < MinutesPerDay;
}

QTime TimeOf(int minutes)
{
    return QTime(minutes / 60, minutes % 60);
}

int MinutesOf(const QTimeEdit* edit)
{
    const QTime time = edit->time();
    return time.hour() * 60 + time.minute();
}

} // namespace

void TfrmSettings::ShowConfig(const TConfig& shown)
{
    ShowInNotificationWindow(shown);
    const TConfig c = SettledConfig(shown);
    FAccounts = c.Accounts;
    // Shown afresh: no origins, as for accounts added since.
    FOrigins.assign(FAccounts.size(), std::nullopt);
    FShown = c;
    if (Built())
        ShowInControls(c);
    else
    {
        *FHeld = c;
        FHeld->Accounts.clear(); // held in FAccounts
    }
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
        header->resizeSection(i, std::max(c.ColumnWidths[i], 0));
    }
}

void ReadNotificationWindow(const TfrmNewMail& newMail, TConfig& config)
{
    config.FormShowDetails = newMail.actDetails->isChecked();
    const QTreeWidget* list = newMail.lvwMessages;
    config.ColumnWidths.clear();
    for (int i = 0; i < list->columnCount(); ++i)
        config.ColumnWidths.push_back(list->header()->sectionSize(i));
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
    chkShowPreview->setChecked(c.ShowPreview);
    spnAutoHide->SetPosition(c.FormAutoHide);
    chkAutoHide->setChecked(spnAutoHide->Position() > 0);
    SetText(txtAnimation, c.FormAnimation);
    chkStayOnTop->setChecked(c.FormStayOnTop);
    chkSaveDetails->setChecked(c.FormSaveDetails);
    cboBadgeFor->setEditText(FromCodePage(c.BadgeFor));
    cboBadgeForChange();
    // Equal times, or one that is no time of day, are no quiet hours.
    const bool quiet = c.QuietFrom != c.QuietTo && IsTimeOfDay(c.QuietFrom) && IsTimeOfDay(c.QuietTo);
    grpQuietHours->setChecked(quiet);
    dtpQuietFrom->setTime(TimeOf(quiet ? c.QuietFrom : OfferedQuietFrom));
    dtpQuietTo->setTime(TimeOf(quiet ? c.QuietTo : OfferedQuietTo));
    for (std::size_t day = 0; day < chkQuietDays.size(); ++day)
        chkQuietDays[day]->setChecked((c.QuietDays >> day) & 1);
    chkCommandWhenQuiet->setChecked(c.CommandWhenQuiet);
    FRules->SetRules(c.Rules);
    Accounts->ShowAccounts();
}

TConfig TfrmSettings::ConfigOfControls() const
{
    TConfig c = Built() ? FShown : *FHeld;
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
        c.ShowPreview = chkShowPreview->isChecked();
        c.FormAutoHide = spnAutoHide->Position();
        c.FormAnimation = Text(txtAnimation);
        c.FormStayOnTop = chkStayOnTop->isChecked();
        c.FormSaveDetails = chkSaveDetails->isChecked();
        c.BadgeFor = Text(cboBadgeFor->lineEdit());
        const bool quiet = grpQuietHours->isChecked();
        c.QuietFrom = quiet ? MinutesOf(dtpQuietFrom) : 0;
        c.QuietTo = quiet ? MinutesOf(dtpQuietTo) : 0;
        c.QuietDays = 0;
        for (std::size_t day = 0; day < chkQuietDays.size(); ++day)
            c.QuietDays |= chkQuietDays[day]->isChecked() ? 1 << day : 0;
        c.CommandWhenQuiet = chkCommandWhenQuiet->isChecked();
        c.Rules = FRules->Rules();
    }
    c.Accounts = FAccounts;
    c = SettledConfig(c);
    if (frmNewMail)
        ReadNotificationWindow(*frmNewMail, c);
    else
    {
        // Without the notification window there is no fold or width to give.
        c.FormShowDetails = TConfig{}.FormShowDetails;
        c.ColumnWidths.clear();
    }
    return c;
}

std::vector<std::optional<TSecretKey>> TfrmSettings::AccountOrigins() const
{
    return FOrigins;
}

std::vector<TSecretKey> TfrmSettings::MarkAccountOrigins()
{
    std::vector<TSecretKey> keys;
    for (const Account& a : FAccounts)
        keys.push_back(SecretKeyOf(a));
    FOrigins.assign(keys.begin(), keys.end());
    return keys;
}

void TfrmSettings::cboBadgeForChange()
{
    const std::string problem = BadgeForProblem(Text(cboBadgeFor->lineEdit()));
    lblBadgeForNote->setText(FromCodePage(problem));
    lblBadgeForNote->setVisible(!problem.empty());
}

void TfrmSettings::btnMessageClientClick()
{
    const std::string command = MessageOpeningCommand(MailClientDesktopId(), DefaultEmailClient);
    if (!command.empty())
        SetText(txtApplication, command);
}
