#include "app/PushSessions.h"

#include "mail/IdLineAbort.h"

#include <QCoreApplication>
#include <QEvent>

#include <algorithm>
#include <chrono>
#include <utility>

TPushSessions::TPushSessions(TClientFactory makeClient, TPushTimes times, QObject* parent)
    : QObject(parent), FMakeClient(std::move(makeClient)), FTimes(times), FShared(std::make_shared<TShared>())
{
    FShared->Owner = this;
}

TPushSessions::~TPushSessions()
{
    CloseAll();
    Join(1500);
    {
        std::lock_guard<std::mutex> lock(FShared->Lock);
        FShared->Owner = nullptr;
    }
    // A thread still in a host lookup ends by itself; it can make no line.
    for (auto& [id, thread] : FThreads)
        if (thread.joinable())
            thread.detach();
}

bool TPushSessions::Pushes(const Account& account)
{
    return account.Enabled && (account.IMAP4 || account.JMAP) && account.Push;
}

void TPushSessions::Note(const std::shared_ptr<TShared>& shared, std::uint64_t id, TNote note)
{
    std::lock_guard<std::mutex> lock(shared->Lock);
    shared->Notes.emplace_back(id, note);
    if (TPushSessions* owner = shared->Owner)
        QCoreApplication::postEvent(owner, new QEvent(QEvent::User));
    if (note == TNote::Ended)
    {
        --shared->Live;
        shared->Ended.notify_all();
    }
}

void TPushSessions::Open(const Account& account, int lookEvery)
{
    if (!Pushes(account))
        return;
    for (const auto& [id, session] : FSessions)
        if (session.For == account)
        {
            if (session.LookEvery == lookEvery)
                return;
            Close(id);
            break;
        }
    Start(account, lookEvery, false);
}

void TPushSessions::Start(const Account& account, int lookEvery, bool missed)
{
    const std::uint64_t id = FNextId++;
    TSession& session = FSessions[id];
    session.For = account;
    session.Abort = std::make_shared<TIdLineAbort>();
    session.Stop = std::make_shared<TPushStop>();
    session.LookEvery = lookEvery;
    {
        std::lock_guard<std::mutex> lock(FShared->Lock);
        ++FShared->Live;
    }
    TPushTimes times = FTimes;
    times.LookEvery = lookEvery;
    // The thread gets copies and hands back nothing but its notes.
    FThreads[id] = std::thread([shared = FShared, id, account, make = FMakeClient, times, missed,
                                abort = session.Abort, stop = session.Stop] {
        TPushEvents events;
        events.Healthy = [&](bool healthy) { Note(shared, id, healthy ? TNote::Healthy : TNote::Unhealthy); };
        events.News = [&] { Note(shared, id, TNote::News); };
        events.Connected = [&] { Note(shared, id, TNote::Connected); };
        RunPushSession([&] { return make(account, abort); }, times, events, *stop, missed);
        Note(shared, id, TNote::Ended);
    });
}

void TPushSessions::Close(std::uint64_t id)
{
    const auto found = FSessions.find(id);
    if (found == FSessions.end())
        return;
    found->second.Stop->Stop();
    found->second.Abort->Abort();
    FSessions.erase(found);
}

void TPushSessions::Keep(const std::vector<Account>& accounts)
{
    std::vector<std::uint64_t> gone;
    for (const auto& [id, session] : FSessions)
        if (std::find(accounts.begin(), accounts.end(), session.For) == accounts.end())
            gone.push_back(id);
    for (std::uint64_t id : gone)
        Close(id);
}

void TPushSessions::CloseAll()
{
    while (!FSessions.empty())
        Close(FSessions.begin()->first);
}

void TPushSessions::Reopen()
{
    std::vector<std::pair<Account, int>> accounts;
    for (const auto& [id, session] : FSessions)
        accounts.emplace_back(session.For, session.LookEvery);
    CloseAll();
    for (const auto& [account, lookEvery] : accounts)
        Start(account, lookEvery, true);
}

void TPushSessions::Nudge()
{
    for (const auto& [id, session] : FSessions)
        session.Stop->Nudge();
}

bool TPushSessions::Healthy(const Account& account) const
{
    for (const auto& [id, session] : FSessions)
        if (session.For == account)
            return session.Healthy;
    return false;
}

void TPushSessions::customEvent(QEvent*)
{
    std::vector<std::pair<std::uint64_t, TNote>> notes;
    {
        std::lock_guard<std::mutex> lock(FShared->Lock);
        notes.swap(FShared->Notes);
    }
    for (const auto& [id, note] : notes)
    {
        if (note == TNote::Ended)
        {
            // Its thread has counted itself out; what is left is its return.
            const auto thread = FThreads.find(id);
            if (thread != FThreads.end())
            {
                thread->second.join();
                FThreads.erase(thread);
            }
            FSessions.erase(id); // a server without IDLE: polled from now on
            continue;
        }
        // Notes of a session closed meanwhile are dropped.
        const auto found = FSessions.find(id);
        if (found == FSessions.end())
            continue;
        if (note == TNote::News)
        {
            if (OnNews)
                OnNews(found->second.For);
        }
        else if (note == TNote::Connected)
        {
            // Its line works: the others' may too.
            for (const auto& [other, session] : FSessions)
                if (other != id)
                    session.Stop->Nudge();
        }
        else
            found->second.Healthy = note == TNote::Healthy;
    }
}

bool TPushSessions::Join(int milliseconds)
{
    {
        std::unique_lock<std::mutex> lock(FShared->Lock);
        if (!FShared->Ended.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                     [this] { return FShared->Live == 0; }))
            return false;
    }
    for (auto& [id, thread] : FThreads)
        thread.join();
    FThreads.clear();
    return true;
}
