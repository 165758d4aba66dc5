#pragma once

#include "mail/IdClock.h"

#include <optional>
#include <vector>

// What the scheduler lets start next.
struct TScheduled
{
    enum TKind
    {
        skNothing, // something still runs
        skIdle,    // nothing runs and nothing waits
        skRound,
        skAlone,   // the next job run alone
    };
    TKind Kind = skNothing;
    bool ClearList = false; // a round that empties the list first
    std::vector<int> Only;  // a round over these accounts; empty: over all
};

// When rounds are due and in which order rounds and the jobs run alone (a
// Delete) take their turn; it runs nothing itself. Its owner asks, starts
// what it is let start, and says when that has ended.
//
// Rounds and jobs run one at a time, so no account ever has two sessions:
// a "Check now" during a round queues one more round that empties the
// list, anything else timed adds nothing; a round over some accounts waits
// and merges with the others waiting; a job waits for the round under way,
// and no round starts until the jobs waiting have run.
//
// Each account has an interval and a due time. A round that ends makes the
// accounts it covered due one interval of theirs from then, the others
// keeping their time. Pausing stops the timed rounds; resuming makes every
// account due one interval from then.
class TRoundScheduler
{
public:
    explicit TRoundScheduler(TIdClock& clock) : FClock(clock) {}

    // The accounts' number: those added are due with the soonest, those
    // gone forget their time.
    void SetAccountCount(int count);
    // Every account's interval, and a round's when there is no account.
    void SetInterval(int milliseconds);
    void SetIntervalOf(int index, int milliseconds);
    // `milliseconds` for a round when there is no account, and each
    // account's own from `intervals`, whose size sets the accounts' number.
    void SetIntervals(int milliseconds, const std::vector<int>& intervals);
    int IntervalOf(int index) const;

    // Every account due one interval from now; returns what WakeIn would,
    // measured from the same moment.
    std::optional<int> Restart();
    // The accounts `indexes` due one interval from now (they were checked).
    void Checked(const std::vector<int>& indexes);
    // The accounts a wake-up checks: those whose time has come, and those
    // due with the soonest, as a timer may fire a little early. None while
    // paused.
    std::vector<int> Due() const;
    // Milliseconds until the soonest due time (0 when it has passed);
    // none while paused.
    std::optional<int> WakeIn() const;

    void Pause();
    // Timed rounds again, the first one interval from now; not paused,
    // nothing changes.
    void Resume();
    bool Paused() const { return FPaused; }

    // Asks for a round over every account; true when it may start now.
    // While busy, only one that empties the list is kept for later.
    bool AskRound(bool clearList);
    // Asks for a round over the accounts `indexes`; true when it may start
    // now. While busy they wait, merged with those waiting already.
    bool AskOnly(const std::vector<int>& indexes);
    // Asks for a job run alone; true when it may start now, else it waits
    // its turn.
    bool AskAlone();
    // The accounts the round covered are due one interval from now.
    void RoundEnded();
    void AloneEnded() { FAloneRunning = false; }
    // What may start now that something has ended; it counts as started.
    TScheduled Next();

    // A round, a job, or one of them waiting.
    bool Busy() const;
    bool RoundRunning() const { return FRound; }

private:
    using TTimePoint = TIdClock::TTimePoint;
    struct TDue
    {
        int Interval = 0;
        TTimePoint At{};
    };
    TTimePoint Soonest() const;
    std::optional<int> WakeInFrom(TTimePoint now) const;

    TIdClock& FClock;
    int FInterval = 180000;
    std::vector<TDue> FAccounts;
    TTimePoint FRoundDue{}; // when there is no account
    bool FPaused = false;

    bool FRound = false;
    std::vector<int> FRoundOnly; // the running round's accounts; empty: all
    bool FRoundQueued = false; // a round that empties the list
    std::vector<int> FOnlyQueued;
    bool FAloneRunning = false;
    int FAloneQueued = 0;
};
