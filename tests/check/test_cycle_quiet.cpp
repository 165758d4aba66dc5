// Quiet and rules in the check cycle: what is listed, what is told, and the
// one summary when the quiet ends.

#include "FakeHost.h"

#include "check/CheckCycle.h"
#include "check/MessageList.h"

#include <gtest/gtest.h>

namespace
{

TFakeMessage Msg(const std::string& from, const std::string& subject, const std::string& list = {})
{
    TFakeMessage m{from, subject};
    m.MessageId = "<" + from + "." + subject + "@x>";
    m.ListId = list;
    return m;
}

std::vector<std::string> Subjects(const TMessageList& rows)
{
    std::vector<std::string> subjects;
    for (int r = 0; r < rows.Count(); ++r)
        subjects.push_back(rows.SubItem(r, 1));
    return subjects;
}

class QuietCycleTest : public ::testing::Test
{
protected:
    QuietCycleTest()
    {
        host.Config.SilentMode = true;
        host.Config.Sound = "/snd/common.wav";
        host.Config.ShowForm = true;
        host.Config.ShowIcon = "/icon.ico";
        host.Config.Execute = "tool %MSGID% %SUBJECT%";
        host.AddAccount("Home", "pop.home");
        host.AddAccount("Work", "pop.work");
        host.Net.Maildrops["pop.home"] = {};
        host.Net.Maildrops["pop.work"] = {};
    }
    void Run()
    {
        host.Actions.clear();
        host.Commands.clear();
        host.FormVisible = false; // the user closed the window in between
        rounds.Run(host.Snapshot());
    }

    TFakeHost host;
    TCheckCycle cycle{host.List, host};
    TInlineRounds rounds{cycle, host.Pop3, host.Imap4};
    const std::vector<std::string> AllWays{"blink", "sound", "show", "run", "balloon"};
};

TEST_F(QuietCycleTest, QuietListsAndCountsButTellsNothingUntilOneSummary)
{
    cycle.SetQuiet(true);
    host.Net.Maildrops["pop.home"] = {Msg("Ann", "a"), Msg("Bob", "b")};
    host.Net.Maildrops["pop.work"] = {Msg("Cy", "c")};
    Run();
    EXPECT_EQ(Subjects(host.List), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(host.Headline, "There are 3 messages to read");
    EXPECT_TRUE(host.Actions.empty());
    EXPECT_TRUE(host.States.back().Quiet);

    // Read elsewhere meanwhile: not in the summary.
    host.Net.Maildrops["pop.home"].erase(host.Net.Maildrops["pop.home"].begin());
    Run();
    EXPECT_TRUE(host.Actions.empty());

    cycle.SetQuiet(false);
    EXPECT_EQ(host.Actions, (std::vector<std::string>{"blink", "sound", "show", "balloon"}));
    EXPECT_EQ(host.BalloonText, "2 new messages arrived while notifications were quiet");
    EXPECT_EQ(host.BalloonLines, (std::vector<std::string>{"Home: 1", "Work: 1"}));
    EXPECT_FALSE(host.States.back().Quiet);

    // Told once: another quiet spell without mail says nothing at its end,
    // nor does the next round.
    host.Actions.clear();
    cycle.SetQuiet(true);
    cycle.SetQuiet(false);
    Run();
    EXPECT_TRUE(host.Actions.empty());
}

// The desktop's own do-not-disturb keeps notifications for later: they are
// sent to it as usual, and nothing else tells.
TEST_F(QuietCycleTest, UnderTheDesktopsDoNotDisturbNotificationsGoToItsHistory)
{
    cycle.SetQuiet(true, true);
    host.Net.Maildrops["pop.home"] = {Msg("Ann", "a")};
    Run();
    EXPECT_EQ(host.Actions, std::vector<std::string>{"kept"});
    ASSERT_EQ(host.BalloonTold.size(), 1u);
    EXPECT_EQ(host.BalloonTold[0].Shown.Subject, "a");
}

TEST_F(QuietCycleTest, TheCommandRunsWhileQuietOnlyWhereAsked)
{
    host.Config.CommandWhenQuiet = true;
    cycle.SetQuiet(true);
    host.Net.Maildrops["pop.home"] = {Msg("Ann", "a")};
    Run();
    EXPECT_EQ(host.Actions, std::vector<std::string>{"run"});
    EXPECT_EQ(host.Commands, (std::vector<std::vector<std::string>>{{"tool", "1", "a"}}));
}

TEST_F(QuietCycleTest, RulesDecideWhoGetsThroughWhoStaysQuietAndWhoIsNotListed)
{
    host.Net.WithIds = true;
    host.Config.Rules = {"important from *boss*", "quiet list *announce*", "ignore subject *[spam]*",
                         "not a rule"};
    host.Net.Maildrops["pop.home"] = {Msg("Ann", "[SPAM] offer"), Msg("Dev", "release", "<announce.example>"),
                                      Msg("Ann", "lunch")};
    Run();
    // The ignored one is not listed; the numbers of the others stay the server's.
    EXPECT_EQ(Subjects(host.List), (std::vector<std::string>{"release", "lunch"}));
    EXPECT_EQ(MessageNumberOfRow(host.List, 1), 3);
    EXPECT_EQ(host.Commands, (std::vector<std::vector<std::string>>{{"tool", "3", "lunch"}}));
    EXPECT_EQ(host.Headline, "There are 2 messages to read");
    EXPECT_FALSE(ImportantWaits(host.List));

    // While quiet only the boss gets through, as critical; the ignored one
    // stays out.
    cycle.SetQuiet(true);
    host.Net.Maildrops["pop.home"].push_back(Msg("The Boss", "now"));
    host.Net.Maildrops["pop.home"].push_back(Msg("Ann", "later"));
    host.Net.Log.clear();
    Run();
    EXPECT_EQ(Subjects(host.List), (std::vector<std::string>{"release", "lunch", "now", "later"}));
    EXPECT_EQ(host.Actions, AllWays);
    EXPECT_EQ(host.Commands, (std::vector<std::vector<std::string>>{{"tool", "4", "now"}}));
    ASSERT_EQ(host.BalloonTold.size(), 1u);
    EXPECT_EQ(host.BalloonTold[0].Shown.Subject, "now");
    EXPECT_EQ(host.BalloonUrgency, 2);
    EXPECT_TRUE(ImportantWaits(host.List));
    EXPECT_TRUE(host.States.back().Important);

    host.Actions.clear();
    cycle.SetQuiet(false);
    EXPECT_EQ(host.BalloonText, "1 new messages arrived while notifications were quiet");
}

TEST_F(QuietCycleTest, EachAccountHasItsOwnVoice)
{
    struct Case
    {
        std::string Sound;
        bool Notify;
        int Urgency;
        std::vector<std::string> Actions;
    };
    const Case cases[] = {
        {"", true, 1, AllWays},
        {"-", true, 0, {"blink", "show", "run", "balloon"}},
        {"/snd/work.wav", true, 2, {"blink", "sound /snd/work.wav", "show", "run", "balloon"}},
        {"", false, 1, {"blink", "sound", "show", "run"}},
    };
    int round = 0;
    for (const Case& c : cases)
    {
        host.AccountList[1].Sound = c.Sound;
        host.AccountList[1].Notify = c.Notify;
        host.AccountList[1].Urgency = c.Urgency;
        host.BalloonUrgency = -1;
        host.Net.Maildrops["pop.work"].push_back(Msg("Cy", "c" + std::to_string(++round)));
        Run();
        EXPECT_EQ(host.Actions, c.Actions) << c.Sound << " " << c.Notify;
        if (c.Notify)
            EXPECT_EQ(host.BalloonUrgency, c.Urgency) << c.Sound;
    }
}

} // namespace
