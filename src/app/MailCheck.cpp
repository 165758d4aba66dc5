#include "app/MailCheck.h"

#include "app/DesktopOutput.h"
#include "app/PushSessions.h"
#include "check/Announced.h"
#include "check/AnnouncedMemory.h"
#include "check/CheckCycle.h"
#include "check/CheckRules.h"
#include "check/ExpandCommand.h"
#include "check/FurtherPreviews.h"
#include "check/MessageList.h"
#include "check/RoundScheduler.h"
#include "mail/IdClock.h"
#include "mail/IdLineAbort.h"
#include "config/AccountSecrets.h"
#include "config/Config.h"
#include "config/ProcessFlags.h"
#include "desktop/Application.h"
#include "desktop/DesktopNotifier.h"
#include "notify/NewMailForm.h"
#include "platform/Process.h"
#include "platform/WorkerPool.h"

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <deque>
#include <exception>
#include <optional>
#include <set>
#include <utility>

namespace
{

TCycleConfig CycleConfigOf(const TConfig& c)
{
    TCycleConfig cycle;
    cycle.Settings.NotifyOnlyNewMsg = c.NotifyOnlyNewMsg;
    cycle.Settings.RequiredPriority = c.RequiredPriority;
    cycle.Settings.SilentMode = c.ScrLckBlinking > 0;
    cycle.Settings.Sound = c.PlaySound;
    cycle.Settings.ShowForm = c.ShowForm;
    cycle.Settings.ShowIcon = c.ShowIcon;
    cycle.Settings.Execute = c.Execute;
    cycle.Settings.ShowPreview = c.ShowPreview;
    cycle.Settings.CommandWhenQuiet = c.CommandWhenQuiet;
    cycle.Settings.Rules = c.Rules;
    cycle.Accounts = c.Accounts;
    return cycle;
}

} // namespace

// What runs the rounds: the scheduler says what may start, the workers run
// the sessions, the cycle applies their reports to the desktop's output.
class TMailCheck::THost
{
public:
    THost(TTrayParts& tray, TfrmNewMail& newMail, const TConfig& config, TClientFactory makeClient, TIdClock& clock)
        : Config(config), MakeClient(std::move(makeClient)), Output(tray, newMail, config),
          Cycle(newMail.Rows(), Output), Schedule(clock), Workers(MaxSessionsAtOnce),
          Beside(1), NewMail(newMail)
    {
        TellTimer.setSingleShot(true);
        TellTimer.setInterval(TellTogetherMs);
    }

    const TConfig& Config;
    TClientFactory MakeClient;
    TDesktopOutput Output;
    TCheckCycle Cycle;
    TRoundScheduler Schedule;
    TWorkerPool Workers;
    TWorkerPool Beside;
    TfrmNewMail& NewMail;
    // An error that stopped the list of the round under way, reported when
    // the round has ended.
    std::exception_ptr RoundFailure;
    // The round's accounts as it began, and those that were checked well.
    std::vector<Account> RoundAccounts;
    std::vector<int> Succeeded;
    // Jobs run alone that wait their turn.
    std::deque<TWorkerPool::TJob> AloneQueued;
    bool Aborted = false;
    std::vector<std::function<void()>> IdleWaiters;
    // Results that come close together are told together.
    QTimer TellTimer;
    TAnnouncedMemory Memory;
    TAccountSecrets* Secrets = nullptr;
    TPushSessions* Push = nullptr;
    std::function<bool()> PushAllowed;
    // The accounts (by login) whose last check failed: one that works again
    // says the network is back.
    std::set<std::string> Failing;
    // Execute commands: a few at a time, the rest wait their turn.
    TCommandQueue Commands;
    QTimer CommandPump;
};

TMailCheck::TMailCheck(TTrayParts& tray, TfrmNewMail& newMail, const TConfig& config, TClientFactory makeClient,
                       QObject* parent, TIdClock& clock)
    : QObject(parent), FHost(std::make_unique<THost>(tray, newMail, config, std::move(makeClient), clock))
{
    connect(&FHost->TellTimer, &QTimer::timeout, this, [this] { FHost->Cycle.Tell(); });
    FHost->Commands.OnStartFailed = [this](const std::string& message) {
        // Shown once the cycle is through, not in the middle of it.
        QMetaObject::invokeMethod(
            this, [message] { TApplication::ShowException(message); }, Qt::QueuedConnection);
    };
    FHost->CommandPump.setInterval(50);
    connect(&FHost->CommandPump, &QTimer::timeout, this, [this] {
        FHost->Commands.Pump();
        if (FHost->Commands.Waiting() == 0 && FHost->Commands.Running() == 0)
            FHost->CommandPump.stop();
    });
    RunCommand = [this](const std::vector<std::string>& arguments) {
        FHost->Commands.Add(arguments);
        if (!FHost->CommandPump.isActive())
            FHost->CommandPump.start();
    };
    FHost->Output.Run = [this](const std::vector<std::string>& arguments) {
        if (RunCommand)
            RunCommand(arguments);
    };
    FHost->Output.OffersMarkRead = [this] { return static_cast<bool>(MarkRead); };
    FHost->Output.OnMailState = [this](const TMailState& state) {
        if (OnMailState)
            OnMailState(state);
    };
}

TMailCheck::~TMailCheck()
{
    // The workers end before the rows and windows their results would reach.
    Abort();
}

bool TMailCheck::CheckAccounts()
{
    THost& h = *FHost;
    if (h.Aborted)
        return false;
    if (!ClearListPending)
    {
        // A timed round checks the accounts that are due, each at its own
        // interval: all of them while they share one.
        const std::vector<Account>& accounts = h.Config.Accounts;
        h.Schedule.SetIntervals(h.Config.CheckingTime * 1000, CheckIntervals(accounts, h.Config.CheckingTime));
        const std::vector<int> due = h.Schedule.Due();
        if (!due.empty() && due.size() < accounts.size())
        {
            // One switched off or heard through push is passed over to its
            // next time, without a round that would tell of nothing.
            std::vector<int> checked;
            std::vector<int> resting;
            for (int index : due)
            {
                const Account& a = accounts[static_cast<std::size_t>(index)];
                (a.Enabled && !(h.Push && h.Push->Healthy(a)) ? checked : resting).push_back(index);
            }
            h.Schedule.Checked(resting);
            CheckOnly(std::move(checked));
            return Busy();
        }
    }
    if (!h.Schedule.AskRound(ClearListPending))
        return true;
    Gather(std::exchange(ClearListPending, false), {});
    return Busy();
}

bool TMailCheck::CheckEvery()
{
    THost& h = *FHost;
    std::vector<int> indexes;
    const std::vector<Account>& accounts = h.Config.Accounts;
    for (std::size_t i = 0; i < accounts.size(); ++i)
        if (accounts[i].Enabled && !(h.Push && h.Push->Healthy(accounts[i])))
            indexes.push_back(static_cast<int>(i));
    CheckOnly(std::move(indexes));
    return Busy();
}

void TMailCheck::CheckOnly(std::vector<int> indexes)
{
    THost& h = *FHost;
    if (!h.Aborted && h.Schedule.AskOnly(indexes))
        Gather(false, std::move(indexes));
}

void TMailCheck::Gather(bool clearList, std::vector<int> only)
{
    THost& h = *FHost;
    // A copy: the round reads the configuration as it stood when it began.
    TCycleConfig config = CycleConfigOf(h.Config);
    if (!h.Secrets)
        return StartRound(std::move(config), clearList, only);
    h.Secrets->Gather(config.Accounts, [this, config, clearList, only](std::vector<Account> accounts,
                                                                       std::vector<std::string> withheld) mutable {
        if (FHost->Aborted)
            return;
        config.Accounts = std::move(accounts);
        config.Withheld = std::move(withheld);
        StartRound(std::move(config), clearList, only);
    });
}

void TMailCheck::RunAlone(TWorkerPool::TJob job)
{
    THost& h = *FHost;
    if (h.Aborted)
        return;
    h.AloneQueued.push_back(std::move(job));
    if (h.Schedule.AskAlone())
        StartAlone();
}

void TMailCheck::StartAlone()
{
    THost& h = *FHost;
    TWorkerPool::TJob job = std::move(h.AloneQueued.front());
    h.AloneQueued.pop_front();
    job.Done = [this, done = std::move(job.Done)] {
        FHost->Schedule.AloneEnded();
        try
        {
            if (done)
                done();
        }
        catch (...)
        {
            Next();
            throw;
        }
        Next();
    };
    h.Workers.Run(std::move(job));
}

void TMailCheck::RunBeside(TWorkerPool::TJob job)
{
    if (!FHost->Aborted)
        FHost->Beside.Run(std::move(job));
}

bool TMailCheck::Busy() const
{
    return FHost->Schedule.Busy();
}

void TMailCheck::StartRound(TCycleConfig config, bool clearList, const std::vector<int>& only)
{
    THost& h = *FHost;
    if (!h.Cycle.Announced)
        h.Cycle.Announced = &h.Memory.Recall();
    h.RoundAccounts = config.Accounts;
    h.Succeeded.clear();
    // A timed round leaves the accounts whose mail is pushed as they are.
    if (h.Push && !clearList && only.empty())
        for (Account& account : config.Accounts)
            if (account.Enabled && h.Push->Healthy(account))
                account.Enabled = false;
    std::exception_ptr failure;
    std::vector<TSessionOrder> orders = h.Cycle.BeginRound(config, clearList, failure, only);
    h.RoundFailure = failure;
    const int maxMessages = h.Cycle.MaxMessages;
    for (TSessionOrder& order : orders)
    {
        auto abort = std::make_shared<TIdLineAbort>();
        auto report = std::make_shared<TAccountReport>();
        const int index = order.Index;
        TWorkerPool::TJob job;
        // The worker gets copies and hands back a plain report.
        job.Work = [make = h.MakeClient, account = config.Accounts[index], order = std::move(order), maxMessages,
                    abort, report, previews = config.Settings.ShowPreview,
                    shown = ShownPreviews(config.Settings, config.Accounts[index])] {
            try
            {
                std::unique_ptr<TCheckClient> client = make(ProtocolOf(account), abort);
                client->SetAccount(account, order.Port);
                client->ReadPreviews = previews;
                client->ShownPreviews = shown;
                *report = CheckSession(*client, maxMessages, order);
            }
            catch (const std::exception& e)
            {
                report->Error = e.what();
            }
        };
        job.Done = [this, index, report, account = config.Accounts[index]] {
            if (OnSignIn && account.Authentication == aaOAuth2 && (report->SignInNeeded || report->Error.empty()))
                OnSignIn(index, account, report->SignInNeeded);
            SessionEnded(index, *report);
        };
        job.Abort = [abort] { abort->Abort(); };
        h.Workers.Run(std::move(job));
    }
    if (orders.empty())
        EndRound();
}

void TMailCheck::SessionEnded(int index, const TAccountReport& report)
{
    THost& h = *FHost;
    const std::string login = TAnnounced::KeyOf(h.RoundAccounts[index]);
    if (!report.Error.empty())
        h.Failing.insert(login);
    else if (h.Failing.erase(login) > 0 && h.Push)
        h.Push->Nudge();
    if (report.Error.empty())
        h.Succeeded.push_back(index);
    h.Cycle.ApplyReport(index, report);
    if (h.Cycle.Pending() == 0)
        return EndRound();
    if (!h.TellTimer.isActive())
        h.TellTimer.start();
}

void TMailCheck::EndRound()
{
    THost& h = *FHost;
    h.TellTimer.stop();
    h.Schedule.RoundEnded();
    const std::exception_ptr failure = std::exchange(h.RoundFailure, nullptr);
    try
    {
        h.Cycle.EndRound();
    }
    catch (...)
    {
        KeepMemory();
        RoundEnded();
        Next();
        throw;
    }
    KeepMemory();
    RoundEnded();
    Next();
    if (failure)
        std::rethrow_exception(failure);
}

void TMailCheck::KeepMemory()
{
    const std::optional<std::string> loss = FHost->Memory.Keep(FHost->Config.Accounts);
    if (!loss || !OnMemoryNotKept)
        return;
    // Told once the round is through, not in the middle of it.
    QMetaObject::invokeMethod(
        this, [this, text = *loss] { OnMemoryNotKept(text); }, Qt::QueuedConnection);
}

void TMailCheck::RoundEnded()
{
    THost& h = *FHost;
    if (!h.Push || h.Aborted)
        return;
    std::vector<Account> pushed;
    for (const Account& account : h.RoundAccounts)
        if (TPushSessions::Pushes(account))
            pushed.push_back(account);
    // An account changed or gone loses its session; one checked well gets
    // one, after the check, so nothing is missed between the two.
    h.Push->Keep(pushed);
    if (h.PushAllowed && !h.PushAllowed())
        return;
    const std::vector<int> intervals = CheckIntervals(h.RoundAccounts, h.Config.CheckingTime);
    for (int index : h.Succeeded)
        h.Push->Open(h.RoundAccounts[index], intervals[static_cast<std::size_t>(index)]);
}

void TMailCheck::ResumePush()
{
    if (!FHost->Push)
        return;
    std::vector<int> pushed;
    const std::vector<Account>& accounts = FHost->Config.Accounts;
    for (std::size_t i = 0; i < accounts.size(); ++i)
        if (TPushSessions::Pushes(accounts[i]))
            pushed.push_back(static_cast<int>(i));
    CheckOnly(std::move(pushed));
}

void TMailCheck::UsePush(TPushSessions* push, std::function<bool()> allowed)
{
    THost& h = *FHost;
    h.Push = push;
    h.PushAllowed = std::move(allowed);
    if (!push)
        return;
    push->OnNews = [this](const Account& account) {
        // By the account's login: the configuration may hold no password.
        const std::vector<Account>& accounts = FHost->Config.Accounts;
        const std::string key = TAnnounced::KeyOf(account);
        for (std::size_t i = 0; i < accounts.size(); ++i)
            if (accounts[i].Caption == account.Caption && TAnnounced::KeyOf(accounts[i]) == key)
                return CheckOnly({static_cast<int>(i)});
    };
}

void TMailCheck::Next()
{
    THost& h = *FHost;
    if (h.Aborted)
        return;
    const TScheduled next = h.Schedule.Next();
    switch (next.Kind)
    {
    case TScheduled::skNothing:
        return;
    case TScheduled::skAlone:
        return StartAlone();
    case TScheduled::skRound:
        // The list is emptied by the "Check now" that queued this round.
        if (next.ClearList)
            ClearListPending = false;
        Gather(next.ClearList, next.Only);
        break;
    case TScheduled::skIdle:
        break;
    }
    if (Busy())
        return;
    for (auto& f : std::exchange(h.IdleWaiters, {}))
        f();
    if (OnIdle)
        OnIdle();
}

void TMailCheck::WhenIdle(std::function<void()> then)
{
    if (!Busy())
        then();
    else
        FHost->IdleWaiters.push_back(std::move(then));
}

void TMailCheck::Abort()
{
    FHost->Aborted = true;
    FHost->TellTimer.stop();
    FHost->Workers.AbortAll();
    FHost->Beside.AbortAll();
    if (FHost->Push)
        FHost->Push->CloseAll();
}

bool TMailCheck::Join(int milliseconds)
{
    // A reader the user has open is not waited for.
    QElapsedTimer clock;
    clock.start();
    const bool workers = FHost->Workers.Join(milliseconds);
    const int left = std::max(0, milliseconds - static_cast<int>(clock.elapsed()));
    return (!FHost->Push || FHost->Push->Join(left)) && workers;
}

void TMailCheck::UseNotifier(TDesktopNotifier* notifier)
{
    FHost->Output.Notifier = notifier;
    if (!notifier)
        return;
    connect(notifier, &TDesktopNotifier::ActionInvoked, this, [this](const QString& key) {
        if (key == NoticeRead && OnNoticeOpen && !FHost->Output.Shown.empty() &&
            NamesMessage(FHost->Config.EmailClient))
            OnNoticeOpen(FHost->Output.Shown.front());
        else if (key == NoticeRead && OnNoticeRead)
            OnNoticeRead();
        else if (key == NoticeShow && OnNoticeShow)
            OnNoticeShow();
        else if (key == NoticeMarkRead && MarkRead)
        {
            std::vector<TToldMessage> imap4;
            for (const TToldMessage& m : FHost->Output.Shown)
                if (m.IMAP4)
                    imap4.push_back(m);
            if (!imap4.empty())
                MarkRead(imap4);
        }
    });
}

void TMailCheck::UseSecrets(TAccountSecrets* secrets)
{
    FHost->Secrets = secrets;
}

TDesktopOutput& TMailCheck::Output()
{
    return FHost->Output;
}

TCheckCycle& TMailCheck::Cycle()
{
    return FHost->Cycle;
}

TRoundScheduler& TMailCheck::Scheduler()
{
    return FHost->Schedule;
}

TScrollLockBlinker& TMailCheck::Blinker()
{
    return FHost->Output.Blinker();
}

TMessageList& TMailCheck::Rows()
{
    return FHost->NewMail.Rows();
}
