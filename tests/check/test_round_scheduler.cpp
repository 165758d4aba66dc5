// The order of rounds and jobs, and the accounts' due times on a fake clock.

#include "check/RoundScheduler.h"
#include "support/FakeClock.h"

#include <gtest/gtest.h>

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

TEST_F(RoundSchedulerTest, ACheckNowDuringARoundQueuesOneRoundThatEmptiesTheList)
{
    ASSERT_TRUE(scheduler.AskRound(false));
    EXPECT_FALSE(scheduler.AskRound(false)) << "a timed round during a round adds nothing";
    EXPECT_EQ(scheduler.Next().Kind, TScheduled::skNothing) << "the round still runs";
    scheduler.RoundEnded();
    EXPECT_EQ(scheduler.Next().Kind, TScheduled::skIdle);

    ASSERT_TRUE(scheduler.AskRound(false));
    EXPECT_FALSE(scheduler.AskRound(true));
    EXPECT_FALSE(scheduler.AskRound(true)) << "two asks, one round";
    EXPECT_FALSE(scheduler.AskOnly({1})) << "the whole round covers it";
    scheduler.RoundEnded();
    const TScheduled next = scheduler.Next();
    EXPECT_EQ(next.Kind, TScheduled::skRound);
    EXPECT_TRUE(next.ClearList);
    EXPECT_EQ(next.Only, Ints{});
    EXPECT_TRUE(scheduler.Busy());
    scheduler.RoundEnded();
    EXPECT_EQ(scheduler.Next().Kind, TScheduled::skIdle);
    EXPECT_FALSE(scheduler.Busy());
}

TEST_F(RoundSchedulerTest, RoundsOverSomeAccountsWaitAndMerge)
{
    EXPECT_FALSE(scheduler.AskOnly({})) << "over no account: nothing to run";
    ASSERT_TRUE(scheduler.AskOnly({2}));
    EXPECT_FALSE(scheduler.AskOnly({2})) << "never two sessions of one account";
    EXPECT_FALSE(scheduler.AskOnly({0, 2}));
    EXPECT_FALSE(scheduler.AskRound(false));
    scheduler.RoundEnded();
    const TScheduled next = scheduler.Next();
    EXPECT_EQ(next.Kind, TScheduled::skRound);
    EXPECT_FALSE(next.ClearList);
    EXPECT_EQ(next.Only, (Ints{2, 0}));
    scheduler.RoundEnded();
    EXPECT_EQ(scheduler.Next().Kind, TScheduled::skIdle);
}

TEST_F(RoundSchedulerTest, AJobRunsAloneAfterTheRoundAndRoundsWaitForIt)
{
    ASSERT_TRUE(scheduler.AskRound(false));
    EXPECT_FALSE(scheduler.AskAlone());
    EXPECT_FALSE(scheduler.AskAlone());
    EXPECT_FALSE(scheduler.AskRound(true));
    scheduler.RoundEnded();

    // Both jobs, one after the other, before the round asked for meanwhile.
    for (int job = 0; job < 2; ++job)
    {
        EXPECT_EQ(scheduler.Next().Kind, TScheduled::skAlone) << job;
        EXPECT_EQ(scheduler.Next().Kind, TScheduled::skNothing) << job;
        EXPECT_FALSE(scheduler.AskOnly({1})) << "the touched account waits for the job";
        scheduler.AloneEnded();
    }
    const TScheduled next = scheduler.Next();
    EXPECT_EQ(next.Kind, TScheduled::skRound);
    EXPECT_TRUE(next.ClearList);
    scheduler.RoundEnded();
    EXPECT_EQ(scheduler.Next().Kind, TScheduled::skIdle);

    // Nothing under way: the job runs at once, and a round waits for it.
    ASSERT_TRUE(scheduler.AskAlone());
    EXPECT_FALSE(scheduler.AskOnly({0}));
    scheduler.AloneEnded();
    EXPECT_EQ(scheduler.Next().Only, Ints{0});
}

TEST_F(RoundSchedulerTest, EachAccountIsDueByItsOwnInterval)
{
    scheduler.SetInterval(300000);
    scheduler.SetAccountCount(3);
    EXPECT_EQ(scheduler.Due(), (Ints{0, 1, 2})) << "before the first round all are due";
    EXPECT_EQ(scheduler.WakeIn(), 0);

    scheduler.SetIntervalOf(1, 60000);
    EXPECT_EQ(scheduler.IntervalOf(0), 300000);
    scheduler.Restart();
    EXPECT_EQ(scheduler.WakeIn(), 60000);
    Pass(59000);
    EXPECT_EQ(scheduler.WakeIn(), 1000);
    // A timer that fires a little early still finds the soonest due.
    EXPECT_EQ(scheduler.Due(), Ints{1});
    Pass(1000);
    EXPECT_EQ(scheduler.Due(), Ints{1});
    scheduler.Checked({1});
    EXPECT_EQ(scheduler.WakeIn(), 60000);
    Pass(240000);
    EXPECT_EQ(scheduler.Due(), (Ints{0, 1, 2}));
    EXPECT_EQ(scheduler.WakeIn(), 0);

    // One interval for all again: they are due together.
    scheduler.SetInterval(120000);
    EXPECT_EQ(scheduler.Restart(), 120000);
    Pass(120000);
    EXPECT_EQ(scheduler.Due(), (Ints{0, 1, 2}));
}

TEST_F(RoundSchedulerTest, AccountsAddedAreDueWithTheOthersAndNoAccountKeepsTheInterval)
{
    scheduler.SetInterval(180000);
    scheduler.Restart();
    EXPECT_EQ(scheduler.WakeIn(), 180000) << "no account: a round still comes each interval";
    Pass(100000);
    scheduler.SetAccountCount(2);
    EXPECT_EQ(scheduler.WakeIn(), 80000);
    scheduler.SetAccountCount(1);
    Pass(80000);
    EXPECT_EQ(scheduler.Due(), Ints{0});
}

TEST_F(RoundSchedulerTest, PausedNothingIsDueAndResumingStartsAFullInterval)
{
    scheduler.SetInterval(300000);
    scheduler.SetAccountCount(2);
    scheduler.Restart();
    Pass(200000);
    scheduler.Pause();
    EXPECT_TRUE(scheduler.Paused());
    EXPECT_EQ(scheduler.WakeIn(), std::nullopt);
    Pass(500000);
    EXPECT_EQ(scheduler.Due(), Ints{});
    // Pausing stops the timed rounds only: asked for, they still run.
    EXPECT_TRUE(scheduler.AskRound(true));
    scheduler.RoundEnded();

    scheduler.Resume();
    EXPECT_FALSE(scheduler.Paused());
    EXPECT_EQ(scheduler.WakeIn(), 300000);
    EXPECT_EQ(scheduler.Due(), (Ints{0, 1})) << "the soonest due, whatever the time";
    Pass(300000);
    EXPECT_EQ(scheduler.WakeIn(), 0);
}

} // namespace
