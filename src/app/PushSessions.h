#pragma once

#include "check/Account.h"
#include "check/PushSession.h"

#include <QObject>

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class TIdLineAbort;

// The IDLE sessions of the accounts whose new mail is pushed: one thread and
// one line per account, never two for one account. What a session tells
// (healthy or not, news) reaches this object's thread through its event loop.
class TPushSessions : public QObject
{
public:
    // A client with a line of its own for one session of `account`, made on
    // the session's thread; `abort` ends the line from this thread.
    using TClientFactory =
        std::function<std::unique_ptr<TPushClient>(const Account& account, std::shared_ptr<TIdLineAbort> abort)>;

    explicit TPushSessions(TClientFactory makeClient, TPushTimes times = {}, QObject* parent = nullptr);
    // Ends every session; waits for them a moment (see Join).
    ~TPushSessions() override;
    TPushSessions(const TPushSessions&) = delete;
    TPushSessions& operator=(const TPushSessions&) = delete;

    // Whether the account is one whose mail is pushed: an enabled IMAP4
    // account with Push on.
    static bool Pushes(const Account& account);
    // Opens a session for `account` unless it has one that looks at the
    // mailbox every `lookEvery` milliseconds (the account's interval; 0:
    // only at the renewal). One that looks at another pace is opened anew.
    void Open(const Account& account, int lookEvery = 0);
    // Ends the sessions of accounts not in `accounts`.
    void Keep(const std::vector<Account>& accounts);
    // Ends every session at once.
    void CloseAll();
    // Ends every session and opens each again (after a resume from sleep or
    // a network change, when the old lines are likely dead). Mail may have
    // come while they were deaf: each new one tells news once it idles.
    void Reopen();
    // Sessions waiting to reconnect try at once: a line works again. Also
    // done when a session enters IDLE, for the others.
    void Nudge();
    // The account has a session in IDLE now: its mail is known.
    bool Healthy(const Account& account) const;
    int Count() const { return static_cast<int>(FSessions.size()); }
    // Waits at most `milliseconds` for every session's thread to end (after
    // CloseAll); true when all did.
    bool Join(int milliseconds);

    // The mailbox of `account` changed: it is to be checked.
    std::function<void(const Account& account)> OnNews;

protected:
    void customEvent(QEvent* event) override;

private:
    enum class TNote
    {
        Healthy,
        Unhealthy,
        News,
        Connected,
        Ended
    };
    struct TShared
    {
        std::mutex Lock;
        std::condition_variable Ended;
        TPushSessions* Owner = nullptr;
        int Live = 0;
        std::vector<std::pair<std::uint64_t, TNote>> Notes;
    };
    struct TSession
    {
        Account For;
        std::shared_ptr<TIdLineAbort> Abort;
        std::shared_ptr<TPushStop> Stop;
        int LookEvery = 0;
        bool Healthy = false;
    };

    void Start(const Account& account, int lookEvery, bool missed);
    void Close(std::uint64_t id);
    static void Note(const std::shared_ptr<TShared>& shared, std::uint64_t id, TNote note);

    TClientFactory FMakeClient;
    TPushTimes FTimes;
    std::shared_ptr<TShared> FShared;
    std::map<std::uint64_t, TSession> FSessions;
    // Threads of sessions under way or ended, joined when they are done.
    std::map<std::uint64_t, std::thread> FThreads;
    std::uint64_t FNextId = 0;
};
