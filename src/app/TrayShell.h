#pragma once

#include <QObject>

#include <functional>
#include <memory>
#include <optional>

struct TConfig;
class TConfigKeeper;
class TRoundScheduler;
class TTrayParts;
class TWakeWatch;
class TfrmAboutBox;
class TfrmNewMail;
class TfrmSettings;

// The application shell's handlers: the tray menu, the tray double clicks,
// pausing and resuming, exit and the closing of the settings window, the
// frame of the check timer's tick, and what a loaded configuration changes
// outside the windows' controls. The pause and the interval are the round
// scheduler's; the check timer only wakes the shell when the scheduler says
// rounds are due, and is off while they are paused or the settings window is
// open.
class TTrayShell : public QObject
{
    Q_OBJECT
public:
    TTrayShell(TTrayParts& tray, TConfigKeeper& keeper, TfrmSettings& settings, TfrmNewMail& newMail,
               TfrmAboutBox& aboutBox, QObject* parent = nullptr);
    ~TTrayShell() override;

    // The scheduler of the rounds the shell starts (the caller's, outliving
    // this); until one is given, one of its own on the system's clock.
    void UseScheduler(TRoundScheduler& scheduler);

    // The check of all enabled accounts, run by every tick after the
    // configuration is loaded. True while the checks it started run: the
    // timer starts again when ChecksEnded is called.
    std::function<bool()> CheckAccounts;
    // The same over every account, due or not, for a wake-up; unset: the
    // tick's. Called also while checks run: it then waits for them.
    std::function<bool()> CheckEveryAccount;
    // Closes every line the checks hold, at once, before the program ends.
    std::function<void()> AbortChecks;
    // Tells the application to terminate (the event loop ends).
    std::function<void()> Terminate;
    // Whether the desktop reports no network: no round starts then.
    std::function<bool()> Offline;
    // Ends the sessions that wait for pushed mail: pausing and the settings
    // window stop them, as they stop the rounds.
    std::function<void()> EndPush;
    // Opens them again when the settings window has closed.
    std::function<void()> ResumePush;
    // Opens them anew at a wake-up: their lines are likely dead.
    std::function<void()> ReopenPush;
    // Whether pushed mail may be waited for now: not paused, no settings
    // window open.
    bool PushAllowed() const;
    // After a resume from suspend or when the network is back: the push
    // sessions are opened anew, and after this settling time every account
    // is checked (after the checks under way), unless paused or offline.
    void WakeUp();
    int WakeDelayMs = 2000;
    // Wakes up as the desktop's sleep and network watcher tells, and asks it
    // whether the network is there.
    void Follow(TWakeWatch& wake);

    // Whether the desktop shows tray icons. Without one, the first start
    // says once how to reach the settings: ShowNoTrayHint tells the text and
    // returns whether it was told; only then is it remembered in the hive.
    std::function<bool()> TrayAvailable;
    std::function<bool(const std::string& text)> ShowNoTrayHint;
    // Asked this long after the first load, so a panel started with the
    // session has time to come up.
    int NoTrayHintDelayMs = 5000;
    void GiveNoTrayHint();

    // The checks have ended: the next tick comes one interval from now,
    // unless they were paused meanwhile.
    void ChecksEnded();

    void timMailTimer();
    void mnuAboutClick();
    void mnuMailboxClick();
    void mnuCheckNowClick();
    void actEnabledExecute();
    void actEnabledUpdate();
    void mnuSettingsClick();
    // The settings window on the Account page, the account at `index`
    // selected (one that must be signed in again).
    void ShowSettingsOn(int index);
    void mnuExitClick();
    // What a confirmed Exit does, and the session manager's SIGTERM: save
    // once and end.
    void EndProgram();
    bool FormCloseQuery();
    void FormClose();
    void triMailDblClick();
    void triNewMsgDblClick();
    // Shows the notification window unless it is up already.
    void ShowNewMail();

    // After every load that read through: the check interval, the sound, the
    // new-mail icon, the animation, the stacking and the details panel. An
    // error raised here stops the load.
    void ConfigLoaded(const TConfig& config);

private:
    // A tick: over the accounts that are due, or with `every` over all.
    void Tick(bool every);
    // Arms the check timer to fire in `wakeIn` milliseconds, the
    // scheduler's next due time; none (paused): off.
    void ArmTimer(std::optional<int> wakeIn);
    // The period starts again: every account due one interval from now.
    void RestartTimer();
    // At the end of a tick with no checks left running: the timer for the
    // next account due.
    void ArmAfterTick();
    // The common interval and each account's own.
    void SetIntervals(const TConfig& config);

    TTrayParts& FTray;
    std::unique_ptr<TRoundScheduler> FOwnScheduler;
    TRoundScheduler* FScheduler;
    // Checks started by a tick are under way, and whether the timer runs
    // again after them (pausing and the settings window say no).
    bool FChecking = false;
    bool FResumeAfterChecks = false;
    TConfigKeeper& FKeeper;
    TfrmSettings& FSettings;
    TfrmNewMail& FNewMail;
    TfrmAboutBox& FAboutBox;
};
