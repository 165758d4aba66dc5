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
    // Leaves IDLE and enters it again; true when news came meanwhile.
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
};

// Ends a push loop from another thread: its waits between sessions return
// at once. The line of the session under way is ended by its own abort.
class TPushStop
{
public:
    void Stop();
    bool Stopped() const;
    // Sleeps `milliseconds` by `clock` unless stopped first; false when
    // stopped.
    bool Sleep(int milliseconds, TIdClock& clock = TIdSteadyClock::Instance());

private:
    mutable std::mutex FLock;
    std::condition_variable FWake;
    bool FStopped = false;
};

// Keeps one IDLE session open on `make()`'s client until stopped: news is
// told and IDLE entered again, renewed as TPushTimes says; a lost session is
// opened again after a growing delay, a refused login after an hour. Ends
// when stopped, or when the server offers no IDLE. Raises nothing.
void RunPushSession(const std::function<std::unique_ptr<TPushClient>()>& make, const TPushTimes& times,
                    const TPushEvents& events, TPushStop& stop);
