#include "app/TrayShell.h"

#include "app/AboutBox.h"
#include "app/TrayParts.h"
#include "check/RoundScheduler.h"
#include "config/AccountSecrets.h"
#include "config/ConfigKeeper.h"
#include "config/ConfigStore.h"
#include "config/ProcessFlags.h"
#include "config/SettingsForm.h"
#include "desktop/Animate.h"
#include "desktop/Dialogs.h"
#include "desktop/MediaPlayer.h"
#include "desktop/TrayIcon.h"
#include "desktop/WakeWatch.h"
#include "i18n/Translate.h"
#include "mail/IdClock.h"
#include "notify/NewMailForm.h"
#include "platform/CodePage.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QCoreApplication>
#include <QFileInfo>
#include <QTimer>

#include <exception>
#include <functional>
#include <optional>

namespace
{

// Switches the check timer on again however the tick ends, unless the
// checks it started still run.
class TTimerRestart
{
public:
    TTimerRestart(std::function<void()> restart, const bool& checking)
        : FRestart(std::move(restart)), FChecking(checking)
    {
    }
    ~TTimerRestart()
    {
        if (!FChecking)
            FRestart();
    }
    TTimerRestart(const TTimerRestart&) = delete;
    TTimerRestart& operator=(const TTimerRestart&) = delete;

private:
    std::function<void()> FRestart;
    const bool& FChecking;
};

bool FileExists(const std::string& path)
{
    return !path.empty() && QFileInfo(FromCodePage(path)).isFile();
}

// Applies the stacking without losing the window's visibility: changing
// window flags hides a shown window.
void SetStayOnTop(QWidget* window, bool onTop)
{
    if (window->windowFlags().testFlag(Qt::WindowStaysOnTopHint) == onTop)
        return;
    const bool shown = window->isVisible();
    window->setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    if (shown)
        window->show();
}

} // namespace

TTrayShell::TTrayShell(TTrayParts& tray, TConfigKeeper& keeper, TfrmSettings& settings,
                       TfrmNewMail& newMail, TfrmAboutBox& aboutBox, QObject* parent)
    : QObject(parent), FTray(tray),
      FOwnScheduler(std::make_unique<TRoundScheduler>(TIdSteadyClock::Instance())), FScheduler(FOwnScheduler.get()),
      FKeeper(keeper), FSettings(settings), FNewMail(newMail), FAboutBox(aboutBox)
{
    SetIntervals(FKeeper.Config);
    Terminate = [] { QCoreApplication::exit(0); };
    FKeeper.OnLoaded = [this](const TConfig& config) { ConfigLoaded(config); };
    FKeeper.OnEditEnded = [this](bool accepted) {
        if (accepted)
            SetIntervals(FKeeper.Config);
        FScheduler->Resume();
        RestartTimer();
        if (ResumePush)
            ResumePush();
    };

    connect(FTray.timMail, &QTimer::timeout, this, [this] { timMailTimer(); });
    connect(FTray.mnuAbout, &QAction::triggered, this, [this] { mnuAboutClick(); });
    connect(FTray.mnuMailbox, &QAction::triggered, this, [this] { mnuMailboxClick(); });
    connect(FTray.mnuChecknow, &QAction::triggered, this, [this] { mnuCheckNowClick(); });
    connect(FTray.actEnabled, &QAction::triggered, this, [this] {
        // The menu has already flipped the tick; the handler must see the tick
        // as it stood before the click. The idle update sets it afterwards.
        FTray.actEnabled->setChecked(!FTray.actEnabled->isChecked());
        actEnabledExecute();
    });
    connect(FTray.mnuSettings, &QAction::triggered, this, [this] { mnuSettingsClick(); });
    connect(FTray.mnuExit, &QAction::triggered, this, [this] { mnuExitClick(); });
    connect(FTray.triMail, &TTrayIcon::DblClick, this, [this] { triMailDblClick(); });
    connect(FTray.triNewMsg, &TTrayIcon::DblClick, this, [this] { triNewMsgDblClick(); });
    if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance())
        connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, this,
                [this] { actEnabledUpdate(); });

    FSettings.OnCloseQuery = [this] { return FormCloseQuery(); };
    FSettings.OnClose = [this] { FormClose(); };
}

TTrayShell::~TTrayShell() = default;

void TTrayShell::UseScheduler(TRoundScheduler& scheduler)
{
    if (FScheduler->Paused())
        scheduler.Pause();
    FScheduler = &scheduler;
    FOwnScheduler.reset();
    SetIntervals(FKeeper.Config);
}

void TTrayShell::SetIntervals(const TConfig& config)
{
    FScheduler->SetIntervals(config.CheckingTime * 1000, CheckIntervals(config.Accounts, config.CheckingTime));
}

void TTrayShell::ArmTimer(std::optional<int> wakeIn)
{
    if (!wakeIn)
        return FTray.timMail->stop();
    FTray.timMail->setInterval(*wakeIn);
    FTray.timMail->start();
}

void TTrayShell::RestartTimer()
{
    ArmTimer(FScheduler->Restart());
}

void TTrayShell::ArmAfterTick()
{
    if (FTray.timMail->isActive())
        return; // the checks of the tick have ended and armed it
    // A tick that checked nothing (offline, a load that failed) leaves
    // accounts due at once: their period starts again instead.
    const std::optional<int> wakeIn = FScheduler->WakeIn();
    if (wakeIn && *wakeIn == 0)
        return RestartTimer();
    ArmTimer(wakeIn);
}

void TTrayShell::timMailTimer()
{
    Tick(false);
}

void TTrayShell::Tick(bool every)
{
    FTray.timMail->stop();
    FResumeAfterChecks = true;
    FScheduler->Resume();
    TTimerRestart restart([this] { ArmAfterTick(); }, FChecking);
    const bool loading = LoadPending;
    if (LoadPending)
    {
        LoadPending = false;
        QTimer::singleShot(NoTrayHintDelayMs, this, [this] { GiveNoTrayHint(); });
        try
        {
            FKeeper.Load();
        }
        catch (...)
        {
            // A load that stops early has not set the interval yet; left at
            // the start-up second, the timer would check every second.
            SetIntervals(FKeeper.Config);
            throw;
        }
    }
    if (Offline && Offline() && !FChecking)
    {
        FTray.triMail->SetHint(TWakeWatch::OfflineHint());
        return;
    }
    // A hand edit of the hive counts from this round; while the window is
    // open its OK merges it.
    std::exception_ptr reread;
    if (!loading && !FSettings.isVisible())
        try
        {
            FKeeper.Refresh();
        }
        catch (...)
        {
            reread = std::current_exception();
        }
    const std::function<bool()>& check = every && CheckEveryAccount ? CheckEveryAccount : CheckAccounts;
    if (check && !FChecking)
        FChecking = check();
    else if (check)
        check(); // a "Check now" during the checks queues one more
    if (reread)
        std::rethrow_exception(reread);
}

void TTrayShell::GiveNoTrayHint()
{
    if (!TrayAvailable || !ShowNoTrayHint || TrayAvailable() || NoTrayHintShown())
        return;
    const std::string text =
        ResStr("ternbell is running, but this desktop has no tray to show its icon in.") + "\n" +
        ResStr("To open its settings, choose \"ternbell\" in the application menu. "
               "Closing the settings window ends ternbell.");
    if (ShowNoTrayHint(text))
        RememberNoTrayHintShown();
}

void TTrayShell::WakeUp()
{
    if (ReopenPush)
        ReopenPush();
    QTimer::singleShot(WakeDelayMs, this, [this] {
        // Paused or with the settings window open the timer is off, and
        // no tick of its own is due while checks run.
        if (!FTray.timMail->isActive() && !(FChecking && FResumeAfterChecks))
            return;
        // Not due is no reason: time stood still during the sleep.
        if (!FChecking)
            Tick(true);
        else if (CheckEveryAccount && !(Offline && Offline()))
            CheckEveryAccount();
    });
}

void TTrayShell::Follow(TWakeWatch& wake)
{
    Offline = [&wake] { return wake.Offline(); };
    connect(&wake, &TWakeWatch::Resumed, this, [this] { WakeUp(); });
    connect(&wake, &TWakeWatch::NetworkBack, this, [this] { WakeUp(); });
}

void TTrayShell::ChecksEnded()
{
    FChecking = false;
    // The accounts checked are due again one interval of theirs on; the
    // others keep their time.
    if (FResumeAfterChecks && !FTray.timMail->isActive())
        ArmTimer(FScheduler->WakeIn());
    // The round has drawn its own picture; a paused program shows that.
    if (FScheduler->Paused() && !FTray.timMail->isActive())
        FTray.triMail->SetPictureIndex(1);
}

void TTrayShell::mnuAboutClick()
{
    FAboutBox.exec();
}

void TTrayShell::mnuMailboxClick()
{
    FNewMail.actMailbox->trigger();
}

void TTrayShell::mnuCheckNowClick()
{
    ClearListPending = true;
    timMailTimer();
}

void TTrayShell::actEnabledExecute()
{
    const bool wasTicked = FTray.actEnabled->isChecked();
    if (wasTicked)
    {
        // A round under way finishes and is applied; no new one starts.
        FScheduler->Pause();
        FTray.timMail->stop();
        FResumeAfterChecks = false;
    }
    else
    {
        FScheduler->Resume();
        RestartTimer();
    }
    if (wasTicked && EndPush)
        EndPush();
    if (wasTicked)
        FTray.triMail->SetPictureIndex(1);
    else
        timMailTimer();
}

void TTrayShell::actEnabledUpdate()
{
    // The timer is armed only while the scheduler runs timed rounds and no
    // settings window holds them.
    FTray.actEnabled->setChecked(!FScheduler->Paused() &&
                                 (FTray.timMail->isActive() || (FChecking && FResumeAfterChecks)));
}

bool TTrayShell::PushAllowed() const
{
    return !FScheduler->Paused() && !FSettings.isVisible();
}

void TTrayShell::mnuSettingsClick()
{
    FTray.timMail->stop();
    FResumeAfterChecks = false;
    if (EndPush)
        EndPush();
    // The Account page says where passwords are kept.
    if (FKeeper.Secrets())
        FKeeper.Secrets()->ProbeIfUnknown();
    FSettings.show();
    FSettings.raise();
    FSettings.activateWindow();
}

void TTrayShell::ShowSettingsOn(int index)
{
    mnuSettingsClick();
    FSettings.ShowAccount(index);
}

void TTrayShell::mnuExitClick()
{
    TMessageRequest request;
    request.Caption = ResStr("Confirm");
    request.Text = ResStr("Are you sure you want to exit?") + "\n" +
                   ResStr("Warning: if you select yes, you will not able to see new messages!");
    request.Type = TMsgDlgType::mtConfirmation;
    request.Buttons = mbYes | mbNo;
    if (MessageDlg(&FSettings, request) != TModalResult::mrYes)
        return;
    EndProgram();
}

void TTrayShell::EndProgram()
{
    // Closing the settings window saves, once, and ends the program; no
    // check holds it up.
    ExitConfirmed = true;
    if (AbortChecks)
        AbortChecks();
    FSettings.close();
}

bool TTrayShell::FormCloseQuery()
{
    if (!ExitConfirmed)
    {
        FTray.timMail->stop();
        Terminate();
    }
    return true;
}

void TTrayShell::FormClose()
{
    if (AbortChecks)
        AbortChecks();
    if (SettingsLoaded)
        FKeeper.Save();
    FTray.timMail->stop();
    Terminate();
}

void TTrayShell::triMailDblClick()
{
    switch (FKeeper.Config.DoubleClick)
    {
    case 0:
        mnuMailboxClick();
        break;
    case 1:
        ShowNewMail();
        break;
    case 2:
        mnuSettingsClick();
        break;
    default:
        break;
    }
}

void TTrayShell::ShowNewMail()
{
    if (FNewMail.isHidden())
        FNewMail.show();
}

void TTrayShell::triNewMsgDblClick()
{
    mnuMailboxClick();
}

void TTrayShell::ConfigLoaded(const TConfig& config)
{
    SetIntervals(config);
    // As the timer did: a new interval counts from now.
    if (FTray.timMail->isActive())
        RestartTimer();
    if (FileExists(config.PlaySound))
    {
        FTray.mediaPlayer->FileName = config.PlaySound;
        FTray.mediaPlayer->Open();
    }
    if (FileExists(config.ShowIcon))
    {
        FTray.triNewMsg->SetIcon(QIcon(FromCodePage(config.ShowIcon)));
        FTray.triNewMsg->SetVisible(false);
    }
    if (FileExists(config.FormAnimation))
    {
        FNewMail.aniNotify->SetFileName(config.FormAnimation);
        FNewMail.aniNotify->SetActive(true);
    }
    SetStayOnTop(&FNewMail, config.FormStayOnTop);
    if (!FNewMail.actDetails->isChecked())
        FNewMail.FoldDetails();
}
