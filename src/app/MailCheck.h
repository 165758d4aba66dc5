#pragma once

#include "check/Account.h"
#include "mail/IdClock.h"
#include "platform/WorkerPool.h"

#include <QObject>

#include <functional>
#include <memory>
#include <string>
#include <vector>

struct TConfig;
class TAccountSecrets;
class TCheckClient;
struct TAccountReport;
class TIdLineAbort;
class TCheckCycle;
class TDesktopOutput;
class TDesktopNotifier;
struct TToldMessage;
class TPushSessions;
class TRoundScheduler;
struct TCycleConfig;
struct TMailState;
class TMessageList;
class TScrollLockBlinker;
class TTrayParts;
class TfrmNewMail;

// The check cycle and the notification actions wired to the real windows:
// each round reads a copy of the configuration value, the notification
// window's list holds the rows, the tray icons and timers are the shell's
// (app/DesktopOutput). The round scheduler says when a round or a job run
// alone may start. Every account's session runs on a worker thread, at most
// four at once; its report is applied here, on the user-interface thread,
// as it comes.
class TMailCheck : public QObject
{
public:
    // A client with a line of its own for one session, made on the worker
    // thread that runs it; `abort` ends that line from this thread.
    using TClientFactory =
        std::function<std::unique_ptr<TCheckClient>(TMailProtocol protocol, std::shared_ptr<TIdLineAbort> abort)>;

    // config: the program's configuration value, the caller's, outliving this;
    // clock: what the accounts' due times are read on, outliving this too.
    TMailCheck(TTrayParts& tray, TfrmNewMail& newMail, const TConfig& config, TClientFactory makeClient,
               QObject* parent = nullptr, TIdClock& clock = TIdSteadyClock::Instance());
    ~TMailCheck() override;

    // One round over the configuration as it stands, a timed one over the
    // accounts that are due; the list is emptied first when "Check now"
    // asked for it. With a keyring the passwords the
    // round lacks are asked for first. During a round a "Check now" queues
    // one more round, anything else adds nothing. True while a round is
    // under way: OnIdle follows its end.
    bool CheckAccounts();
    // A round over only the accounts `indexes` (of the configuration's
    // list), the list kept and the other accounts' rows as they are; during
    // a round or a job it waits for them.
    void CheckOnly(std::vector<int> indexes);
    // After a resume or when the network is back: a round over every
    // account whether due or not, waiting for one under way; only those
    // whose push session idles are passed over (it tells what came while it
    // was away as soon as it idles). True while a round is under way.
    bool CheckEvery();
    // Runs `job` on a worker with the accounts' lines (a Delete): after the
    // round under way, and no round starts until its Done has run.
    void RunAlone(TWorkerPool::TJob job);
    // Runs `job` on a worker of its own, beside the rounds (a wait on a
    // program the user reads with).
    void RunBeside(TWorkerPool::TJob job);
    // A round, a job run alone, or one of them waiting.
    bool Busy() const;
    // Runs `then` when nothing is under way: at once, or after the last
    // round has ended.
    void WhenIdle(std::function<void()> then);
    // Closes every line at once; nothing more is applied or started.
    void Abort();
    // Waits at most `milliseconds` for the workers to end; true when all did.
    bool Join(int milliseconds);
    // The keyring the passwords are read from; none: the value's own.
    void UseSecrets(TAccountSecrets* secrets);
    // The sessions new mail is pushed through (the caller's, outliving
    // this): after a round each pushed account checked well gets one while
    // `allowed` says so, looking at the mailbox at the account's interval;
    // news checks that account at once; a timed round passes over the
    // accounts whose session is in IDLE (their mail is known), "Check now"
    // checks them all the same. An account checked well after a failed
    // check tells the sessions waiting to reconnect to try now. Abort
    // closes them.
    void UsePush(TPushSessions* push, std::function<bool()> allowed);
    // Checks the pushed accounts now, so that their sessions open again
    // after it (the settings window has closed).
    void ResumePush();

    // The desktop's notification server (the caller's, outliving this):
    // while one runs, the new-mail balloon is a notification with actions,
    // each replacing the last, withdrawn when the list empties; without
    // one, or when it does not take a notification, the balloon.
    void UseNotifier(TDesktopNotifier* notifier);
    // What the notification's actions do. "Mark as read" gets the IMAP4
    // messages the notification told of, and is offered only while set.
    std::function<void()> OnNoticeRead;
    std::function<void()> OnNoticeShow;
    std::function<void(const std::vector<TToldMessage>& messages)> MarkRead;
    // "Read" of a notification where the mail client's command names a
    // message: the first message it tells of is opened. Unset, or without
    // such a command, OnNoticeRead runs.
    std::function<void(const TToldMessage& message)> OnNoticeOpen;
    // What waits, after every summary of the cycle.
    std::function<void(const TMailState& state)> OnMailState;
    // After an OAuth2 account's session that logged in (`needed` false) or
    // could not before the account is signed in again (true); `index` is
    // the account's in the configuration.
    std::function<void(int index, const Account& account, bool needed)> OnSignIn;

    TCheckCycle& Cycle();
    TDesktopOutput& Output();
    // When rounds are due, in which order rounds and jobs run, and whether
    // timed rounds are paused.
    TRoundScheduler& Scheduler();
    TScrollLockBlinker& Blinker();
    TMessageList& Rows();

    // Queues one execute command (no shell, no wait): they start in order, a
    // few at a time; a failed start is shown in an error box. Replaceable so
    // tests can watch the calls.
    std::function<void(const std::vector<std::string>& arguments)> RunCommand;
    // After the last round has ended and none waits.
    std::function<void()> OnIdle;
    // The memory of the messages told could not be written (the text names
    // its folder): told once, after the round, until a write works again.
    std::function<void(const std::string& text)> OnMemoryNotKept;


    // Sessions at once, and the time within which results are told together.
    static constexpr int MaxSessionsAtOnce = 4;
    static constexpr int TellTogetherMs = 250;

private:
    // The round's configuration, its passwords read first with a keyring.
    void Gather(bool clearList, std::vector<int> only);
    void StartRound(TCycleConfig config, bool clearList, const std::vector<int>& only);
    void StartAlone();
    void SessionEnded(int index, const TAccountReport& report);
    void EndRound();
    // The memory of the messages told, written after a round.
    void KeepMemory();
    void RoundEnded();
    // Starts a queued job or round; else idle.
    void Next();

    class THost;
    std::unique_ptr<THost> FHost;
};
