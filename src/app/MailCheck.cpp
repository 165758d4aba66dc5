#include "app/MailCheck.h"

#include "app/PushSessions.h"
#include "app/TrayParts.h"
#include "check/Announced.h"
#include "desktop/Blinker.h"
#include "check/CheckCycle.h"
#include "check/CheckRules.h"
#include "mail/IdLineAbort.h"
#include "check/MessageList.h"
#include "config/AccountSecrets.h"
#include "config/Config.h"
#include "config/ProcessFlags.h"
#include "desktop/Application.h"
#include "desktop/DesktopNotifier.h"
#include "desktop/MediaPlayer.h"
#include "desktop/ScrollLock.h"
#include "desktop/TrayIcon.h"
#include "i18n/Translate.h"
#include "notify/NewMailForm.h"
#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "platform/Process.h"
#include "platform/WholeFile.h"

#include "platform/WorkerPool.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <deque>
#include <exception>
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
    cycle.Accounts = c.Accounts;
    return cycle;
}

// The tray keeps at most this much of a balloon's title and text.
constexpr std::size_t BalloonTitleLimit = 63;
constexpr std::size_t BalloonTextLimit = 255;

} // namespace

class TMailCheck::THost : public TCycleOutput
{
public:
    THost(TMailCheck& owner, TTrayParts& tray, TfrmNewMail& newMail, const TConfig& config,
          TClientFactory makeClient)
        : Owner(owner), Tray(tray), NewMail(newMail), Config(config), MakeClient(std::move(makeClient)),
          Blink(*tray.timBlinking,
                [&config] { return static_cast<int>(static_cast<uint16_t>(config.ScrLckBlinking)); },
                TScrollLockLed{[] { return ScrollLockLedOn(); },
                               [](bool on) { SetScrollLockLed(on); }}),
          Cycle(newMail.Rows(), *this), Workers(MaxSessionsAtOnce), Beside(1)
    {
        TellTimer.setSingleShot(true);
        TellTimer.setInterval(TellTogetherMs);
    }

    // Before the first round, not at start: the memory of what was told.
    void RecallMemory()
    {
        if (Cycle.Announced)
            return;
        MemoryPath = UserStatePath("announced");
        Memory = TAnnounced::Load(MemoryPath);
        Cycle.Announced = &Memory;
    }

    // After a round: the memory, for the accounts still configured, on disk
    // when it changed. A write that fails keeps it here for the session, is
    // tried again after the next round, and is told once until one works.
    void KeepMemory(const std::vector<Account>& accounts)
    {
        std::vector<std::string> keys;
        for (const Account& a : accounts)
            keys.push_back(TAnnounced::KeyOf(a));
        Memory.Retain(keys);
        if (!Memory.Changed())
            return;
        try
        {
            Memory.Save(MemoryPath);
            MemoryLossTold = false;
        }
        catch (const Exception& e)
        {
            if (std::exchange(MemoryLossTold, true) || !Owner.OnMemoryNotKept)
                return;
            const std::string text =
                FormatOne(ResStr("The messages already told cannot be remembered in %s, so a restart "
                                 "tells them again."),
                          "%s", FileNameToCodePage(FolderOf(MemoryPath))) +
                "\n" + e.Message;
            // Told once the round is through, not in the middle of it.
            QMetaObject::invokeMethod(
                &Owner, [owner = &Owner, text] { owner->OnMemoryNotKept(text); }, Qt::QueuedConnection);
        }
    }

    int TrayPicture() override { return Tray.triMail->PictureIndex(); }
    void SetTrayPicture(int index) override { Tray.triMail->SetPictureIndex(index); }
    void SetTrayHint(const std::string& hint) override { Tray.triMail->SetHint(FromCodePage(hint)); }
    void SetHeadline(const std::string& text) override
    {
        NewMail.lblNewMessage->setText(FromCodePage(text));
    }
    void SetNewMailIconVisible(bool visible) override { Tray.triNewMsg->SetVisible(visible); }
    std::string TimeText() override { return LongTimeTextNow(); }

    void StartBlinking() override { Blink.timBlinkingActivate(); }
    void PlaySound() override
    {
        // The player is not rewound before a play, but a chime that has played
        // to its end starts again, so every notification is heard.
        TMediaPlayer& player = *Tray.mediaPlayer;
        if (player.IsOpen() && !player.IsPlaying() && player.Position() >= player.Length())
            player.Rewind();
        player.Play();
    }
    bool NotificationVisible() override { return NewMail.isVisible(); }
    void ShowNotification() override { NewMail.show(); }
    void RunCommand(const std::vector<std::string>& arguments) override
    {
        if (Owner.RunCommand)
            Owner.RunCommand(arguments);
    }
    void ShowBalloon(const TNewMailNews& news) override
    {
        if (Notifier && Notifier->Available())
        {
            const TNewMailNotice text = NewMailNotice(news, static_cast<bool>(Owner.MarkRead));
            QPointer<TMailCheck> owner(&Owner);
            Shown = news.Told;
            if (Notifier->Show({text.Summary, text.Body, text.Actions}, [owner, news] {
                    if (owner)
                        owner->FHost->Balloon(news);
                }))
                return;
        }
        Balloon(news);
    }
    void WithdrawNews() override
    {
        Shown.clear();
        if (Notifier)
            Notifier->Withdraw();
    }
    void Balloon(const TNewMailNews& news)
    {
        Tray.triNewMsg->ShowBalloon(FromCodePage(CutAtCharacter(news.Title, BalloonTitleLimit)),
                                    FromCodePage(CutAtCharacter(news.Headline, BalloonTextLimit)),
                                    TTrayIcon::DesktopDisplayTime);
    }

    TMailCheck& Owner;
    TTrayParts& Tray;
    TfrmNewMail& NewMail;
    const TConfig& Config;
    TClientFactory MakeClient;
    TScrollLockBlinker Blink;
    TCheckCycle Cycle;
    TWorkerPool Workers;
    TWorkerPool Beside;
    // The round under way, and an error that stopped its list, reported
    // when the round has ended.
    bool RoundRunning = false;
    std::exception_ptr RoundFailure;
    // The round's accounts as it began, and those that were checked well.
    std::vector<Account> RoundAccounts;
    std::vector<int> Succeeded;
    // A "Check now" that came during a round or a job.
    bool RoundQueued = false;
    // The accounts of rounds over some accounts asked for meanwhile.
    std::vector<int> OnlyQueued;
    // Jobs run alone: the one under way, and those waiting.
    bool AloneRunning = false;
    std::deque<TWorkerPool::TJob> AloneQueued;
    bool Aborted = false;
    std::vector<std::function<void()>> IdleWaiters;
    // Results that come close together are told together.
    QTimer TellTimer;
    std::string MemoryPath;
    TAnnounced Memory;
    bool MemoryLossTold = false;
    TAccountSecrets* Secrets = nullptr;
    TDesktopNotifier* Notifier = nullptr;
    // The messages the notification shown tells of.
    std::vector<TToldMessage> Shown;
    TPushSessions* Push = nullptr;
    std::function<bool()> PushAllowed;
    bool Gathering = false; // passwords are being asked for a round
    // Execute commands: a few at a time, the rest wait their turn.
    TCommandQueue Commands;
    QTimer CommandPump;
};

TMailCheck::TMailCheck(TTrayParts& tray, TfrmNewMail& newMail, const TConfig& config, TClientFactory makeClient,
                       QObject* parent)
    : QObject(parent), FHost(std::make_unique<THost>(*this, tray, newMail, config, std::move(makeClient)))
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
    if (Busy())
    {
        if (ClearListPending)
            h.RoundQueued = true;
        return true;
    }
    Gather(std::exchange(ClearListPending, false), {});
    return Busy();
}

void TMailCheck::CheckOnly(std::vector<int> indexes)
{
    THost& h = *FHost;
    if (h.Aborted || indexes.empty())
        return;
    if (!Busy())
        return Gather(false, std::move(indexes));
    for (int index : indexes)
        if (std::find(h.OnlyQueued.begin(), h.OnlyQueued.end(), index) == h.OnlyQueued.end())
            h.OnlyQueued.push_back(index);
}

void TMailCheck::Gather(bool clearList, std::vector<int> only)
{
    THost& h = *FHost;
    // A copy: the round reads the configuration as it stood when it began.
    TCycleConfig config = CycleConfigOf(h.Config);
    if (!h.Secrets)
        return StartRound(std::move(config), clearList, only);
    h.Gathering = true;
    h.Secrets->Gather(config.Accounts, [this, config, clearList, only](std::vector<Account> accounts,
                                                                       std::vector<std::string> withheld) mutable {
        FHost->Gathering = false;
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
    const bool wait = Busy();
    h.AloneQueued.push_back(std::move(job));
    if (!wait)
        StartAlone();
}

void TMailCheck::StartAlone()
{
    THost& h = *FHost;
    TWorkerPool::TJob job = std::move(h.AloneQueued.front());
    h.AloneQueued.pop_front();
    h.AloneRunning = true;
    job.Done = [this, done = std::move(job.Done)] {
        FHost->AloneRunning = false;
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
    const THost& h = *FHost;
    return h.RoundRunning || h.Gathering || h.RoundQueued || h.AloneRunning || !h.AloneQueued.empty()
           || !h.OnlyQueued.empty();
}

void TMailCheck::StartRound(TCycleConfig config, bool clearList, const std::vector<int>& only)
{
    THost& h = *FHost;
    h.RecallMemory();
    h.RoundRunning = true;
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
        job.Work = [make = h.MakeClient, account = config.Accounts[index], port = order.Port,
                    known = std::move(order.Known), maxMessages, abort, report] {
            try
            {
                std::unique_ptr<TCheckClient> client = make(account.IMAP4, abort);
                client->SetAccount(account, port);
                *report = CheckSession(*client, maxMessages, known);
            }
            catch (const std::exception& e)
            {
                report->Error = e.what();
            }
        };
        job.Done = [this, index, report] { SessionEnded(index, *report); };
        job.Abort = [abort] { abort->Abort(); };
        h.Workers.Run(std::move(job));
    }
    if (orders.empty())
        EndRound();
}

void TMailCheck::SessionEnded(int index, const TAccountReport& report)
{
    THost& h = *FHost;
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
    h.RoundRunning = false;
    const std::exception_ptr failure = std::exchange(h.RoundFailure, nullptr);
    try
    {
        h.Cycle.EndRound();
    }
    catch (...)
    {
        h.KeepMemory(h.Config.Accounts);
        RoundEnded();
        Next();
        throw;
    }
    h.KeepMemory(h.Config.Accounts);
    RoundEnded();
    Next();
    if (failure)
        std::rethrow_exception(failure);
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
    for (int index : h.Succeeded)
        h.Push->Open(h.RoundAccounts[index]);
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
    if (h.Aborted || h.RoundRunning || h.Gathering || h.AloneRunning)
        return;
    if (!h.AloneQueued.empty())
        return StartAlone();
    if (std::exchange(h.RoundQueued, false))
    {
        // The whole round covers the accounts some asked for.
        h.OnlyQueued.clear();
        CheckAccounts();
    }
    else if (!h.OnlyQueued.empty())
        Gather(false, std::exchange(h.OnlyQueued, {}));
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
    FHost->Notifier = notifier;
    if (!notifier)
        return;
    connect(notifier, &TDesktopNotifier::ActionInvoked, this, [this](const QString& key) {
        if (key == NoticeRead && OnNoticeRead)
            OnNoticeRead();
        else if (key == NoticeShow && OnNoticeShow)
            OnNoticeShow();
        else if (key == NoticeMarkRead && MarkRead)
        {
            std::vector<TToldMessage> imap4;
            for (const TToldMessage& m : FHost->Shown)
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

TCheckCycle& TMailCheck::Cycle()
{
    return FHost->Cycle;
}

TScrollLockBlinker& TMailCheck::Blinker()
{
    return FHost->Blink;
}

TMessageList& TMailCheck::Rows()
{
    return FHost->NewMail.Rows();
}
