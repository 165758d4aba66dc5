#pragma once

#include "mail/IdClock.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

// One account's IDLE session as the push loop drives it. Every failing call
// raises; Close raises nothing.
class TPushClient
{
public:
    enum class TOpened
    {
        Ready,   // logged in, "inbox" selected, IDLE offered
        NoIdle,  // the server does not offer IDLE: the account is polled
        Refused, // the login was refused
    };

    virtual ~TPushClient() = default;
    virtual TOpened Open() = 0;
    // Enters IDLE.
    virtual void Start() = 0;
    // Waits at most `milliseconds` for news of the mailbox (also what came
    // while IDLE was entered); false when the time passed quietly, or when
    // the server said anything once `anyLineAfter` ms had passed.
    virtual bool Wait(int milliseconds, int anyLineAfter) = 0;
    // Leaves IDLE, asks the server about the mailbox and enters IDLE again,
    // all in one round trip; true when news came meanwhile. A server whose
    // IDLE says nothing until it ends is heard here.
    virtual bool Renew() = 0;
    // Whether the session hears of every folder the account watches (one
    // folder, or NOTIFY for all of them); where not, the others are checked
    // at the interval.
    virtual bool HearsEveryFolder() const { return true; }
    virtual void Close() noexcept = 0;
};

// How long the loop waits, in milliseconds; tests shorten them.
struct TPushTimes
{
    // IDLE is ended and entered again about every 10 minutes: at the first
    // line the server sends after RenewFrom (most send one every few
    // minutes to keep the line alive, so the renewal costs no wake-up of
    // its own), and after Renew at the latest; both within one wait.
    int RenewFrom = 9 * 60 * 1000;
    int Renew = 11 * 60 * 1000;
    // The account's interval: the longest new mail may wait, pushed or not,
    // so IDLE is renewed (and the mailbox looked at) at least this often; at
    // the first line the server sends in its last quarter, where one comes.
    // 0: at Renew.
    int LookEvery = 0;
    int FirstRetry = 10 * 1000; // after a lost session, doubled each time
    int LastRetry = 15 * 60 * 1000;
    int AfterRefusal = 60 * 60 * 1000; // frequent logins lock accounts
    // What the waits between sessions are measured on; null: the steady
    // clock. The session's own waits go by its line's clock.
    std::shared_ptr<TIdClock> Clock = nullptr;
};

// The wait before opening a session again after `failures` (1 or more) in a
// row: FirstRetry, doubled each time, at most LastRetry.
int RetryAfter(int failures, const TPushTimes& times);

// What the loop tells its owner, from the loop's thread.
struct TPushEvents
{
    // IDLE is established for every watched folder (true), or the session
    // is lost or not possible, or hears of some folders only.
    std::function<void(bool healthy)> Healthy;
    // The mailbox changed: the account is to be checked.
    std::function<void()> News;
    // A session has entered IDLE: the line to the server works.
    std::function<void()> Connected;
};

// Ends a push loop from another thread: its waits between sessions return
// at once. The line of the session under way is ended by its own abort.
// A nudge (the network seems back) ends the wait before a reconnection.
class TPushStop
{
public:
    void Stop();
    bool Stopped() const;
    void Nudge();
    // How many nudges came so far.
    unsigned Nudges() const;
    // Sleeps `milliseconds` by `clock` unless stopped first, or, with
    // `nudges` given, nudged since Nudges() said that many; false when
    // stopped.
    bool Sleep(int milliseconds, TIdClock& clock = TIdSteadyClock::Instance(), const unsigned* nudges = nullptr);

private:
    mutable std::mutex FLock;
    std::condition_variable FWake;
    bool FStopped = false;
    unsigned FNudges = 0;
};

// Keeps one IDLE session open on `make()`'s client until stopped: news is
// told and IDLE entered again, renewed as TPushTimes says; a lost session is
// opened again after a growing delay that a nudge cuts short, a refused
// login after an hour. News is told once a session idles after a lost one,
// and after the first when `missed` (mail may have come while no line
// listened). Ends when stopped, or when the server offers no IDLE. Raises
// nothing.
void RunPushSession(const std::function<std::unique_ptr<TPushClient>()>& make, const TPushTimes& times,
                    const TPushEvents& events, TPushStop& stop, bool missed = false);
