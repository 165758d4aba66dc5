// The order of rounds and jobs, and the accounts' due times on a fake clock.

#include "check/Account.h"
#include "check/RoundScheduler.h"
#include "support/FakeClock.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace
{

using Ints = std::vector<int>;

class RoundSchedulerTest : public testing::Test
{
protected:
    // Moves the fake clock on.
    void Pass(int milliseconds) { clock.WaitedOut(milliseconds); }

    FakeClock clock;
    TRoundScheduler scheduler{clock};
};

// Runs asks and ends: "t" a timed round, "c" a "Check now", "o<digits>" a
// round over those accounts, "a" a job run alone, "e" the end of what runs.
// Each ask says "start" or "wait", each end what starts next.
std::string Trace(TRoundScheduler& scheduler, const std::string& script)
{
    std::istringstream steps(script);
    std::string step;
    std::string trace;
    bool aloneRuns = false;
    while (steps >> step)
    {
        if (step == "e")
        {
            if (std::exchange(aloneRuns, false))
                scheduler.AloneEnded();
            else
                scheduler.RoundEnded();
            const TScheduled next = scheduler.Next();
            aloneRuns = next.Kind == TScheduled::skAlone;
            const char* kinds[] = {"nothing", "idle", "round", "alone"};
            step = kinds[next.Kind] + std::string(next.ClearList ? "-clear" : "");
            for (int index : next.Only)
                step += "-" + std::to_string(index);
        }
        else
        {
            bool start = false;
            if (step == "t" || step == "c")
                start = scheduler.AskRound(step == "c");
            else if (step == "a")
                start = aloneRuns = scheduler.AskAlone();
            else
            {
                std::vector<int> only;
                for (char digit : step.substr(1))
                    only.push_back(digit - '0');
                start = scheduler.AskOnly(only);
            }
            step = start ? "start" : "wait";
        }
        trace += (trace.empty() ? "" : " ") + step;
    }
    return trace;
}

TEST_F(RoundSchedulerTest, RoundsAndJobsTakeTheirTurnOneAtATime)
{
    struct Case
    {
        const char* script;
        const char* trace;
    };
    const Case cases[] = {
        // A timed round during a round adds nothing; a "Check now" queues
        // one round that empties the list and covers every other ask.
        {"t t e", "start wait idle"},
        {"t c c o1 e e", "start wait wait wait round-clear idle"},
        // Rounds over some accounts wait and merge; no account twice.
        {"o2 o2 o02 t e e", "start wait wait wait round-2-0 idle"},
        {"o", "wait"},
        // Jobs run alone after the round under way, before any round.
        {"t a a c e e o1 e e", "start wait wait wait alone alone wait round-clear idle"},
        {"a o0 e e", "start wait round-0 idle"},
    };
    for (const Case& c : cases)
    {
        TRoundScheduler fresh(clock);
        EXPECT_EQ(Trace(fresh, c.script), c.trace) << c.script;
        EXPECT_FALSE(fresh.Busy()) << c.script;
    }
}

TEST_F(RoundSchedulerTest, EachAccountIsDueByItsOwnInterval)
{
    scheduler.SetInterval(300000);
    EXPECT_EQ(scheduler.Restart(), 300000) << "no account: a round still comes each interval";
    Pass(200000);
    scheduler.SetAccountCount(3);
    EXPECT_EQ(scheduler.WakeIn(), 100000) << "accounts added are due with the soonest";

    scheduler.SetIntervalOf(1, 60000);
    EXPECT_EQ(scheduler.IntervalOf(0), 300000);
    EXPECT_EQ(scheduler.Restart(), 60000);
    Pass(59000);
    // A timer that fires a little early still finds the soonest due.
    EXPECT_EQ(scheduler.Due(), Ints{1});
    Pass(1000);
    scheduler.Checked({1});
    EXPECT_EQ(scheduler.WakeIn(), 60000);
    Pass(240000);
    EXPECT_EQ(scheduler.Due(), (Ints{0, 1, 2}));
    EXPECT_EQ(scheduler.WakeIn(), 0);
}

// However a round over some accounts comes to run, it counts them from its
// end and leaves the others' due times alone.
TEST_F(RoundSchedulerTest, ARoundEndingMakesOnlyItsOwnAccountsDueAgain)
{
    Account own;
    own.CheckingTime = 60;
    Account off = own;
    off.Enabled = false;
    const std::vector<Account> accounts{own, Account{}, off};
    EXPECT_EQ(CheckIntervals(accounts, 300), (Ints{60000, 300000, 300000}))
        << "0, or switched off: the common interval";

    struct Case
    {
        const char* name;
        std::function<void(TRoundScheduler&)> run; // starts a round over account 0
    };
    const Case cases[] = {
        {"started at once", [](TRoundScheduler& s) { ASSERT_TRUE(s.AskOnly({0})); }},
        {"queued behind a job",
         [](TRoundScheduler& s) {
             ASSERT_TRUE(s.AskAlone());
             ASSERT_FALSE(s.AskOnly({0}));
             s.AloneEnded();
             ASSERT_EQ(s.Next().Only, Ints{0});
         }},
    };
    for (const Case& c : cases)
    {
        FakeClock time;
        TRoundScheduler fresh(time);
        fresh.SetIntervals(300000, {60000, 300000, 90000});
        fresh.Restart();
        time.WaitedOut(60000);
        ASSERT_EQ(fresh.Due(), Ints{0}) << c.name;
        c.run(fresh);
        time.WaitedOut(5000); // the round takes its time
        fresh.RoundEnded();
        EXPECT_EQ(fresh.WakeIn(), 25000) << c.name << ": account 2 keeps its time";
        time.WaitedOut(25000);
        EXPECT_EQ(fresh.Due(), Ints{2}) << c.name;
        time.WaitedOut(35000);
        EXPECT_EQ(fresh.Due(), (Ints{0, 2})) << c.name << ": account 0 counts from its round's end";
    }
}

TEST_F(RoundSchedulerTest, PausedNothingIsDueAndResumingStartsAFullInterval)
{
    scheduler.SetInterval(300000);
    scheduler.SetAccountCount(2);
    scheduler.Restart();
    Pass(200000);
    scheduler.Pause();
    Pass(500000);
    EXPECT_EQ(scheduler.WakeIn(), std::nullopt);
    EXPECT_EQ(scheduler.Due(), Ints{});
    // Pausing stops the timed rounds only: asked for, they still run.
    EXPECT_TRUE(scheduler.AskRound(true));

    scheduler.Resume();
    EXPECT_FALSE(scheduler.Paused());
    EXPECT_EQ(scheduler.WakeIn(), 300000);
    Pass(1000);
    scheduler.Resume();
    EXPECT_EQ(scheduler.WakeIn(), 299000) << "resuming what runs changes nothing";
}

} // namespace
