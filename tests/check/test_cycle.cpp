// The check cycle's algorithm over rows in memory and scripted clients.

#include "FakeHost.h"

#include "check/Announced.h"
#include "check/CheckCycle.h"
#include "check/Pop3CheckClient.h"
#include "mail/MessagePreview.h"
#include "mail/Pop3Client.h"
#include "platform/Exception.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

namespace
{

TFakeMessage Msg(const std::string& from, const std::string& subject, int priority = 2,
                 int size = 1000)
{
    return {from, subject, priority, size};
}

// The list as "caption|from|subject|image|cut" lines, for whole-list checks.
std::vector<std::string> Dump(const TMessageList& rows)
{
    std::vector<std::string> lines;
    for (const TMessageRow& r : Entries(rows))
    {
        std::string line = r.Caption;
        for (std::size_t k = 0; k < 2 && k < r.SubItems.size(); ++k)
            line += "|" + r.SubItems[k];
        line += "|" + std::to_string(r.ImageIndex) + (r.Cut ? "|cut" : "|new");
        lines.push_back(line);
    }
    return lines;
}

class CycleTest : public ::testing::Test
{
protected:
    TFakeHost host;
    TCheckCycle cycle{host.List, host};
    TInlineRounds rounds{cycle, host.Pop3, host.Imap4};

    void Run() { rounds.Run(host.Snapshot(), host.ClearList); }

    // A round over the accounts `only`, their sessions run in turn.
    void RunOnly(const std::vector<int>& only)
    {
        std::exception_ptr failure;
        const TCycleConfig config = host.Snapshot();
        for (const TSessionOrder& order : cycle.BeginRound(config, false, failure, only))
        {
            host.Pop3.SetAccount(config.Accounts[order.Index], order.Port);
            cycle.ApplyReport(order.Index, CheckSession(host.Pop3, cycle.MaxMessages, order.Known));
        }
        cycle.EndRound();
    }
};

TEST_F(CycleTest, FirstCheckListsEveryMessageAsNew)
{
    host.AddAccount("Home", "pop.home");
    host.Net.Maildrops["pop.home"] = {Msg("Ann", "a"), Msg("Bob", "b"), Msg("Cy", "c", 2, 1536)};
    Run();
    EXPECT_EQ(Dump(host.List),
              (std::vector<std::string>{"Home|Ann|a|1|new", "Home|Bob|b|1|new", "Home|Cy|c|1|new"}));
    EXPECT_EQ(host.List.Row(2).SubItems.at(2), "1.5 KB");
    EXPECT_EQ(cycle.NewCount, 3);
    EXPECT_EQ(cycle.ListedCount, 3);
    EXPECT_EQ(host.Headline, "There are 3 messages to read");
    EXPECT_EQ(host.Hint, "There are 3 messages to read (last check: 12:34:56)");
    EXPECT_EQ(host.Pictures, (std::vector<int>{1, 0}));
    EXPECT_EQ(host.Net.Log, (std::vector<std::string>{"connect pop.home:110 user-Home", "quit"}));
    EXPECT_EQ(host.ListView.Repaints, 1);
}

// Two accounts of one caption are two accounts: each keeps its own block in
// the account list's order, its own %ACCOUNT% and numbers that stay put, and
// the failure of one leaves the other's rows.
TEST_F(CycleTest, TwoAccountsOfOneCaptionKeepTheirOwnRowsAndNumbers)
{
    host.AddAccount("Dup", "pop.a");
    host.AddAccount("Other", "pop.b");
    host.AddAccount("Dup", "pop.c");
    host.Net.Maildrops["pop.a"] = {Msg("Ann", "a1"), Msg("Ann", "a2")};
    host.Net.Maildrops["pop.b"] = {};
    host.Net.Maildrops["pop.c"] = {Msg("Cy", "c1")};
    host.Config.Execute = "tool %ACCOUNT% %MSGID% %SUBJECT%";
    const auto numbers = [this] {
        std::vector<int> found;
        for (int i = 0; i < host.List.Count(); ++i)
            found.push_back(MessageNumberOfRow(host.List, i));
        return found;
    };
    Run();
    EXPECT_EQ(Dump(host.List), (std::vector<std::string>{"Dup|Ann|a1|1|new", "Dup|Ann|a2|1|new", "Dup|Cy|c1|1|new"}));
    EXPECT_EQ(host.Commands, (std::vector<std::vector<std::string>>{
                                 {"tool", "Account1", "1", "a1"}, {"tool", "Account1", "2", "a2"},
                                 {"tool", "Account3", "1", "c1"}}));

    host.Commands.clear();
    host.Net.Maildrops["pop.a"].erase(host.Net.Maildrops["pop.a"].begin());
    host.Net.Maildrops["pop.c"].push_back(Msg("Cy", "c2"));
    Run();
    EXPECT_EQ(Dump(host.List), (std::vector<std::string>{"Dup|Ann|a2|1|cut", "Dup|Cy|c1|1|cut", "Dup|Cy|c2|1|new"}));
    EXPECT_EQ(numbers(), (std::vector<int>{1, 1, 2}));
    EXPECT_EQ(host.Commands, (std::vector<std::vector<std::string>>{{"tool", "Account3", "2", "c2"}}));

    host.Net.Maildrops.erase("pop.c");
    Run();
    EXPECT_EQ(Dump(host.List), (std::vector<std::string>{"Dup|Ann|a2|1|cut", "Dup|0|new"}));
    EXPECT_EQ(numbers(), (std::vector<int>{1, 1}));
}

TEST_F(CycleTest, FailingAccountBetweenTwoWorkingOnes)
{
    host.AddAccount("A", "pop.a");
    host.AddAccount("B", "pop.b");
    host.AddAccount("C", "pop.c");
    host.Net.Maildrops["pop.a"] = {Msg("Ann", "a")};
    host.Net.Maildrops["pop.b"] = {Msg("Bob", "b1"), Msg("Bob", "b2")};
    host.Net.Maildrops["pop.c"] = {Msg("Cy", "c")};
    Run();
    host.Net.Maildrops.erase("pop.b"); // B refuses connections now
    host.Net.Log.clear();
    Run();
    EXPECT_EQ(Dump(host.List), (std::vector<std::string>{"A|Ann|a|1|cut", "C|Cy|c|1|cut", "B|0|new"}));
    EXPECT_EQ(host.List.Row(2).Hint, "Socket Error # 10061\nConnection refused.");
    EXPECT_TRUE(host.List.Row(2).SubItems.empty());
    EXPECT_EQ(host.Picture, tpFailure);
    EXPECT_EQ(host.Hint, "The connection to mail server is not available");
    EXPECT_EQ(host.Headline, "There are 2 messages to read");
    EXPECT_EQ(cycle.ListedCount, 2);
    EXPECT_EQ(host.Net.Log,
              (std::vector<std::string>{"connect pop.a:110 user-A", "quit", "connect pop.b:110 user-B",
                                        "drop", "connect pop.c:110 user-C", "quit"}));

    // Back again: the error row goes first, the messages come back as new,
    // at the account's place in the list.
    host.Net.Maildrops["pop.b"] = {Msg("Bob", "b1")};
    Run();
    EXPECT_EQ(Dump(host.List),
              (std::vector<std::string>{"A|Ann|a|1|cut", "B|Bob|b1|1|new", "C|Cy|c|1|cut"}));
    EXPECT_EQ(cycle.NewCount, 1);
    EXPECT_EQ(host.Picture, tpIdle);
}

TEST_F(CycleTest, RoundOverSomeAccountsLeavesTheOthersRowsAndFailures)
{
    host.AddAccount("A", "pop.a");
    host.AddAccount("B", "pop.b");
    host.AddAccount("C", "pop.c");
    host.Net.Maildrops["pop.a"] = {Msg("Ann", "a")};
    host.Net.Maildrops["pop.c"] = {Msg("Cy", "c")};
    Run(); // B refuses
    host.Net.Maildrops["pop.a"].push_back(Msg("Ann", "a2"));
    host.Net.Maildrops["pop.c"].push_back(Msg("Cy", "c2"));
    host.Net.Log.clear();
    RunOnly({0});
    EXPECT_EQ(host.Net.Log, (std::vector<std::string>{"connect pop.a:110 user-A", "quit"}));
    EXPECT_EQ(Dump(host.List),
              (std::vector<std::string>{"A|Ann|a|1|cut", "A|Ann|a2|1|new", "C|Cy|c|1|new", "B|0|new"}));
    EXPECT_EQ(host.Picture, tpFailure) << "B has not been checked again";

    host.Net.Maildrops["pop.b"] = {Msg("Bob", "b")};
    RunOnly({1});
    EXPECT_EQ(Dump(host.List), (std::vector<std::string>{"A|Ann|a|1|cut", "A|Ann|a2|1|new", "B|Bob|b|1|new",
                                                         "C|Cy|c|1|new"}));
    EXPECT_EQ(host.Picture, tpIdle);
}

// Past the bound the newest messages are listed, so a new one is told with
// its own number in the maildrop.
TEST_F(CycleTest, LargeMaildropListsTheNewestAndTellsANewOneByItsNumber)
{
    host.AddAccount("Home", "pop.home");
    host.Config.Execute = "notify %MSGID% %SUBJECT%";
    cycle.MaxMessages = 3;
    for (int i = 1; i <= 5; ++i)
        host.Net.Maildrops["pop.home"].push_back(Msg("Ann", "m" + std::to_string(i)));
    Run();
    EXPECT_EQ(Dump(host.List), (std::vector<std::string>{"Home|Ann|m3|1|new", "Home|Ann|m4|1|new",
                                                         "Home|Ann|m5|1|new", "Home|0|new"}));
    EXPECT_EQ(host.Headline, "There are 5 messages to read; the newest 3 are listed");
    EXPECT_EQ(MessageNumberOfRow(host.List, 0), 3);

    host.Net.Maildrops["pop.home"].push_back(Msg("Ann", "m6"));
    host.Commands.clear();
    Run();
    EXPECT_EQ(Dump(host.List), (std::vector<std::string>{"Home|Ann|m4|1|cut", "Home|Ann|m5|1|cut",
                                                         "Home|Ann|m6|1|new", "Home|0|new"}));
    EXPECT_EQ(host.Commands, (std::vector<std::vector<std::string>>{{"notify", "6", "m6"}}));
    EXPECT_EQ(host.Headline, "There are 6 messages to read; the newest 3 are listed");
}

// Results that came in while other accounts were still being checked told
// those accounts' earlier messages again.
TEST_F(CycleTest, EachMessageIsToldOnceWhateverOrderTheReportsComeIn)
{
    constexpr int accounts = 20;
    host.Config.Execute = "notify %ACCOUNT% %SUBJECT%";
    for (int a = 1; a <= accounts; ++a)
        host.AddAccount("A" + std::to_string(a), "pop." + std::to_string(a));
    std::mt19937 random(34);
    for (int round = 1; round <= 20; ++round)
    {
        std::set<std::vector<std::string>> expected;
        for (int a = 1; a <= accounts; ++a)
        {
            host.Net.Maildrops["pop." + std::to_string(a)].push_back(Msg("Ann", "r" + std::to_string(round)));
            expected.insert({"notify", "Account" + std::to_string(a), "r" + std::to_string(round)});
        }
        // Every session runs before any result is applied; the results
        // come in any order, told between them at any time.
        std::exception_ptr failure;
        const TCycleConfig config = host.Snapshot();
        std::vector<std::pair<int, TAccountReport>> reports;
        for (const TSessionOrder& order : cycle.BeginRound(config, false, failure))
        {
            host.Pop3.SetAccount(config.Accounts[order.Index], order.Port);
            reports.emplace_back(order.Index, CheckSession(host.Pop3, cycle.MaxMessages, order.Known));
        }
        std::shuffle(reports.begin(), reports.end(), random);
        host.Commands.clear();
        for (const auto& [index, report] : reports)
        {
            cycle.ApplyReport(index, report);
            if (random() % 2 == 0)
                cycle.Tell();
        }
        cycle.EndRound();
        EXPECT_EQ(std::set<std::vector<std::string>>(host.Commands.begin(), host.Commands.end()), expected)
            << "round " << round;
        EXPECT_EQ(host.Commands.size(), expected.size()) << "round " << round;
    }
}

// Fingerprints now count the Message-ID; a memory written before still knows
// the messages of a server without identities.
TEST_F(CycleTest, AMemoryOfEarlierFingerprintsStillKnowsItsMessages)
{
    TAnnounced memory;
    cycle.Announced = &memory;
    host.AddAccount("Home", "pop.home");
    TFakeMessage told = Msg("Ann", "a");
    memory.Add(TAnnounced::KeyOf(host.AccountList[0]), FingerprintOf({"Ann", "a", 2, "", 0}, told.Size));
    told.MessageId = "<a@example.org>";
    host.Net.Maildrops["pop.home"] = {told, Msg("Bob", "b")};
    Run();
    EXPECT_EQ(Dump(host.List), (std::vector<std::string>{"Home|Ann|a|1|cut", "Home|Bob|b|1|new"}));
}

TEST_F(CycleTest, FailureWhileFetchingTellsNothing)
{
    host.AddAccount("A", "pop.a");
    host.Net.Maildrops["pop.a"] = {Msg("Ann", "a"), Msg("Bob", "b")};
    host.Net.FailFetchOn = "pop.a";
    host.Net.FailFetchAt = 2;
    Run();
    EXPECT_EQ(Dump(host.List), (std::vector<std::string>{"A|0|new"}));
    EXPECT_EQ(cycle.NewCount, 0);
    EXPECT_FALSE(host.FormVisible) << "nothing is told of an account that failed";
    EXPECT_EQ(host.ListView.UpdateDepth, 0); // repainting resumed after the failure
    EXPECT_EQ(cycle.ListedCount, 0);
    EXPECT_EQ(host.Headline, "There are no messages");
}

TEST_F(CycleTest, DisabledAccountKeepsItsRowsAndCounts)
{
    host.AddAccount("A", "pop.a");
    host.AddAccount("B", "pop.b");
    host.Net.Maildrops["pop.a"] = {Msg("Ann", "a")};
    host.Net.Maildrops["pop.b"] = {Msg("Bob", "b")};
    Run();
    host.AccountList[0].Enabled = false;
    host.Net.Maildrops["pop.a"].clear();
    host.Net.Log.clear();
    host.Config.NotifyOnlyNewMsg = false;
    host.Config.Execute = "tool %FROM%";
    Run();
    EXPECT_EQ(host.Net.Log, (std::vector<std::string>{"connect pop.b:110 user-B", "quit"}));
    // A's row was not checked, so its cut mark is still clear from its own
    // last check: the command runs for it, not for B's listed row.
    EXPECT_EQ(Dump(host.List), (std::vector<std::string>{"A|Ann|a|1|new", "B|Bob|b|1|cut"}));
    EXPECT_EQ(cycle.ListedCount, 2);
    EXPECT_EQ(host.Commands, (std::vector<std::vector<std::string>>{{"tool", "Ann"}}));
}

TEST_F(CycleTest, CheckNowWithoutEnabledAccounts)
{
    host.AddAccount("A", "pop.a", false);
    host.List.Append({"A", {"Ann", "a", "1  B"}, riMessage, true, "", "", ""});
    host.ClearList = true; // as Check now asks
    Run();
    EXPECT_EQ(host.List.Count(), 0);
    EXPECT_EQ(host.Headline, "There are no messages");
    EXPECT_TRUE(host.Net.Log.empty());
}

TEST_F(CycleTest, HeadlineAndNewMailIcon)
{
    host.AddAccount("A", "pop.a");
    host.Config.ShowIcon = "/x/newmsg.ico";
    host.Net.Maildrops["pop.a"] = {Msg("Ann", "a")};
    Run();
    EXPECT_EQ(host.Headline, "There is a message to read");
    EXPECT_TRUE(host.NewMailIcon);
    host.Net.Maildrops["pop.a"].clear();
    Run();
    EXPECT_EQ(host.Headline, "There are no messages");
    EXPECT_FALSE(host.NewMailIcon);
    host.Config.ShowIcon.clear();
    host.Net.Maildrops["pop.a"] = {Msg("Ann", "a")};
    Run();
    EXPECT_FALSE(host.NewMailIcon);
}

TEST_F(CycleTest, ActionsRunInOrder)
{
    host.AddAccount("A", "pop.a");
    host.Config.SilentMode = true;
    host.Config.Sound = "/x/notify.wav";
    host.Config.ShowForm = true;
    host.Config.Execute = "tool %MSGID%";
    host.Config.ShowIcon = "/x/newmsg.ico";
    host.Net.Maildrops["pop.a"] = {Msg("Ann", "a"), Msg("Bob", "b")};
    Run();
    EXPECT_EQ(host.Actions,
              (std::vector<std::string>{"blink", "sound", "show", "run", "run", "balloon"}));
    EXPECT_EQ(host.BalloonTitle, "ternbell");
    EXPECT_EQ(host.BalloonText, "There are 2 messages to read");

    // Already visible: not shown again; nothing switched on: nothing runs.
    host.Actions.clear();
    host.Config = TCycleSettings{};
    host.Config.NotifyOnlyNewMsg = false;
    Run();
    EXPECT_TRUE(host.Actions.empty());
}

// A silent account's mail is listed and counted in the headline, but only
// the other accounts' new mail is told: no blink, sound, window, command or
// balloon for it, whether only new mail is told or anything listed.
TEST_F(CycleTest, SilentAccountIsListedAndCountedButNeverTold)
{
    host.AddAccount("A", "pop.a");
    host.AddAccount("Quiet", "pop.q");
    host.AccountList[1].Silent = true;
    host.Config.SilentMode = true;
    host.Config.Sound = "/x/notify.wav";
    host.Config.Execute = "tool %SUBJECT%";
    host.Config.ShowIcon = "/x/newmsg.ico";
    host.Net.Maildrops["pop.a"] = {};
    host.Net.Maildrops["pop.q"] = {Msg("Quinn", "q1"), Msg("Quinn", "q2")};
    Run();
    EXPECT_EQ(Dump(host.List), (std::vector<std::string>{"Quiet|Quinn|q1|1|new", "Quiet|Quinn|q2|1|new"}));
    EXPECT_EQ(host.Headline, "There are 2 messages to read");
    EXPECT_TRUE(host.Actions.empty());

    host.Net.Maildrops["pop.a"] = {Msg("Ann", "a1")};
    host.Net.Maildrops["pop.q"].push_back(Msg("Quinn", "q3"));
    Run();
    EXPECT_EQ(host.Headline, "There are 4 messages to read");
    EXPECT_EQ(host.Actions, (std::vector<std::string>{"blink", "sound", "show", "run", "balloon"}));
    EXPECT_EQ(host.Commands, (std::vector<std::vector<std::string>>{{"tool", "a1"}}));
    ASSERT_EQ(host.BalloonTold.size(), 1u);
    EXPECT_EQ(host.BalloonTold[0].Shown.Subject, "a1");

    // Telling whenever something is listed: the silent account's rows alone
    // are not enough.
    host.Actions.clear();
    host.Config.NotifyOnlyNewMsg = false;
    host.Net.Maildrops["pop.a"].clear();
    Run();
    EXPECT_EQ(cycle.ListedCount, 3);
    EXPECT_TRUE(host.Actions.empty());
}

// The balloon carries the rows it tells of, each once, with what acting on
// them later needs; a list that empties withdraws what was told.
TEST_F(CycleTest, BalloonCarriesTheNewlyToldRowsAndAnEmptiedListWithdrawsThem)
{
    host.AddAccount("A", "pop.a");
    host.AddAccount("B", "imap.b");
    host.AccountList[1].IMAP4 = true;
    host.Config.ShowIcon = "/x/newmsg.ico";
    host.Net.Maildrops["pop.a"] = {Msg("Ann", "a")};
    host.Net.Maildrops["imap.b"] = {Msg("Bob", "b1"), Msg("Bob", "b2", 2, 1536)};
    const auto told = [this] {
        std::vector<std::string> lines;
        for (const TToldMessage& m : host.BalloonTold)
            lines.push_back(std::to_string(m.Account) + (m.IMAP4 ? "|imap4|" : "|pop3|") + std::to_string(m.Number) +
                            "|" + m.Shown.From + "|" + m.Shown.Subject + "|" + m.Shown.Size + "|" + m.Shown.Id.substr(0, 2));
        return lines;
    };
    Run();
    EXPECT_EQ(told(), (std::vector<std::string>{"0|pop3|1|Ann|a|" + host.List.Row(0).SubItems.at(2) + "|f:",
                                                "1|imap4|1|Bob|b1|" + host.List.Row(1).SubItems.at(2) + "|f:",
                                                "1|imap4|2|Bob|b2|1.5 KB|f:"}));
    EXPECT_EQ(host.BalloonTold[2].Shown.Id, host.List.Row(2).Id);

    host.Net.Maildrops["imap.b"].push_back(Msg("Cy", "b3"));
    Run();
    EXPECT_EQ(told(), (std::vector<std::string>{"1|imap4|3|Cy|b3|" + host.List.Row(3).SubItems.at(2) + "|f:"}));
    EXPECT_EQ(host.Withdrawals, 0);

    host.Net.Maildrops["pop.a"].clear();
    Run();
    EXPECT_EQ(host.Withdrawals, 0) << "messages are still listed";
    host.Net.Maildrops["imap.b"].clear();
    Run();
    EXPECT_EQ(host.Withdrawals, 1);

    // "Check now" empties the list before it lists anew.
    host.Net.Maildrops["pop.a"] = {Msg("Ann", "a")};
    Run();
    host.ClearList = true;
    Run();
    EXPECT_EQ(host.Withdrawals, 2);
    EXPECT_EQ(told().size(), 1u);
}

// A preview read with its message is made only where it is shown: under
// the first three told, and for a command that shows it; the other rows
// keep their bytes, up to a bound, for the window to ask.
TEST_F(CycleTest, OnlyThePreviewsShownAreMade)
{
    SetPreviewHelperFolder(TERNBELL_RUNTIME_DIR);
    host.AddAccount("A", "pop.a");
    host.Pop3.ReadPreviews = true;
    host.Config.ShowIcon = "/x/newmsg.ico";
    host.Config.Execute = "tool %SUBJECT%";
    const auto kept = [](const std::string& subject) {
        TFakeMessage m = Msg("Ann", subject);
        m.Preview = subject + "\r\n  body";
        m.KeptBody = true;
        return m;
    };
    for (const char* subject : {"one", "two", "three", "four"})
        host.Net.Maildrops["pop.a"].push_back(kept(subject));
    Run();
    ASSERT_EQ(host.BalloonTold.size(), 4u);
    const char* const told[] = {"one body", "two body", "three body", ""};
    for (int i = 0; i < 4; ++i)
    {
        EXPECT_EQ(host.BalloonTold[i].Shown.Preview, told[i]) << i;
        EXPECT_EQ(host.List.Row(i).Preview.Made(), i < 3) << i;
    }
    EXPECT_GT(host.List.Row(3).Preview.HeldBytes(), 0u);

    host.Config.Execute = "tool %PREVIEW%";
    host.Net.Maildrops["pop.a"].push_back(kept("five"));
    Run();
    ASSERT_FALSE(host.Commands.empty());
    EXPECT_EQ(host.Commands.back(), (std::vector<std::string>{"tool", "five body"}));
    EXPECT_FALSE(host.List.Row(3).Preview.Made());
    EXPECT_EQ(host.List.Row(3).Preview, "four body");

    // A flood of new mail keeps the bytes of the first thousand or so, and
    // only the notification's three let theirs go.
    const std::size_t each = PreviewBodyBytes;
    const std::size_t fit = MaxHeldPreviewBytes / each;
    host.Config.Execute.clear();
    host.Net.Maildrops["pop.a"].clear();
    for (std::size_t i = 0; i < fit + 2; ++i)
        host.Net.Maildrops["pop.a"].push_back(kept(std::to_string(i) + std::string(each, 'x')));
    host.ClearList = true;
    Run();
    ASSERT_EQ(host.List.Count(), static_cast<int>(fit + 2));
    EXPECT_EQ(host.List.Row(static_cast<int>(fit) - 1).Preview.HeldBytes(), each);
    EXPECT_TRUE(host.List.Row(static_cast<int>(fit)).Preview.Blank());
    // The next check's new rows find the bound taken by the rows kept, but
    // for what the three shown gave back: the fourth has none.
    host.ClearList = false;
    for (int i = 0; i < 4; ++i)
        host.Net.Maildrops["pop.a"].push_back(kept("late" + std::to_string(i) + std::string(each, 'x')));
    Run();
    ASSERT_EQ(host.List.Count(), static_cast<int>(fit + 6));
    std::size_t held = 0;
    for (int i = 0; i < host.List.Count(); ++i)
        held += host.List.Row(i).Preview.HeldBytes();
    EXPECT_LE(held, MaxHeldPreviewBytes);
    EXPECT_TRUE(host.List.Row(static_cast<int>(fit) + 5).Preview.Blank());
}

// The bound is the account's: its folders share it.
TEST_F(CycleTest, AnAccountsFoldersShareTheBoundOfKeptPreviews)
{
    host.AddImap4Account("Work", "imap.work", {{"INBOX", true}, {"Lists", true}});
    host.Imap4.ReadPreviews = true;
    const std::size_t fit = MaxHeldPreviewBytes / PreviewBodyBytes;
    for (const char* drop : {"imap.work", "imap.work/Lists"})
        for (std::size_t i = 0; i < fit; ++i)
        {
            TFakeMessage m = Msg("Ann", std::to_string(i));
            m.Preview = std::string(PreviewBodyBytes, 'x');
            m.KeptBody = true;
            host.Net.Maildrops[drop].push_back(m);
        }
    Run();
    ASSERT_EQ(host.List.Count(), static_cast<int>(2 * fit));
    std::size_t held = 0;
    for (int i = 0; i < host.List.Count(); ++i)
        held += host.List.Row(i).Preview.HeldBytes();
    EXPECT_LE(held, MaxHeldPreviewBytes);
}

TEST_F(CycleTest, SoundFailureEndsTheActions)
{
    host.AddAccount("A", "pop.a");
    host.Config.Sound = "/x/notify.wav";
    host.Config.Execute = "tool";
    host.Config.ShowIcon = "/x/newmsg.ico";
    host.SoundFails = true;
    host.Net.Maildrops["pop.a"] = {Msg("Ann", "a")};
    EXPECT_THROW(Run(), std::runtime_error);
    EXPECT_EQ(host.Actions, (std::vector<std::string>{"sound"}));
    EXPECT_EQ(host.Headline, "There is a message to read");
}

// A value of one account that cannot be used costs that account an error
// row saying what is wrong; the accounts after it are checked as usual.
TEST_F(CycleTest, AccountValueThatCannotBeUsedIsItsErrorRowAndTheOthersRun)
{
    struct Case
    {
        std::string port;
        std::vector<TUnreadValue> unreadable;
        std::string hint;
    } cases[] = {
        {"11o", {}, "The port '11o' is not a number."},
        {"", {}, "No port is given."},
        {"110", {{"HostPort", "The value 'HostPort' is not stored as text.", 2}},
         "The value 'HostPort' is not stored as text."},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.hint);
        TFakeHost h;
        TCheckCycle round(h.List, h);
        h.AddAccount("A", "pop.a");
        h.AddAccount("B", "pop.b");
        h.AddAccount("C", "pop.c");
        h.AccountList[1].Port = c.port;
        h.AccountList[1].Unreadable = c.unreadable;
        h.Net.Maildrops["pop.a"] = {Msg("Ann", "a")};
        h.Net.Maildrops["pop.b"] = {Msg("Bob", "b")};
        h.Net.Maildrops["pop.c"] = {Msg("Cy", "c")};
        TInlineRounds(round, h.Pop3, h.Imap4).Run(h.Snapshot());
        EXPECT_EQ(Dump(h.List), (std::vector<std::string>{"A|Ann|a|1|new", "C|Cy|c|1|new", "B|0|new"}));
        EXPECT_EQ(h.List.Row(2).Hint, c.hint);
        EXPECT_EQ(h.Net.Log, (std::vector<std::string>{"connect pop.a:110 user-A", "quit",
                                                          "connect pop.c:110 user-C", "quit"}));
        EXPECT_EQ(h.Picture, tpFailure);
    }
}

TEST_F(CycleTest, PortOutsideTcpRangeIsAnErrorRowAndTheNextAccountRuns)
{
    host.AddAccount("A", "pop.a");
    host.AddAccount("B", "pop.b");
    host.AddAccount("C", "pop.c");
    host.AccountList[0].Port = "70000";
    host.AccountList[1].Port = "-110";
    host.Net.Maildrops["pop.a"] = {Msg("Ann", "a")};
    host.Net.Maildrops["pop.b"] = {Msg("Bob", "b")};
    host.Net.Maildrops["pop.c"] = {Msg("Cy", "c")};
    Run();
    // Messages first, then the error rows, each in the order of the accounts.
    EXPECT_EQ(Dump(host.List), (std::vector<std::string>{"C|Cy|c|1|new", "A|0|new", "B|0|new"}));
    EXPECT_EQ(host.List.Row(1).Hint, "Port 70000 is not between 1 and 65535.");
    EXPECT_EQ(host.List.Row(2).Hint, "Port -110 is not between 1 and 65535.");
    EXPECT_EQ(host.Net.Log, (std::vector<std::string>{"connect pop.c:110 user-C", "quit"}));
    EXPECT_EQ(host.Picture, tpFailure);
}

TEST_F(CycleTest, ErrorRowsOfEveryAccountGoAtTheStart)
{
    host.AddAccount("A", "pop.a", false);
    host.List.Append({"A", {}, riError, false, "old", "", ""});
    host.List.Append({"Gone", {}, riError, false, "old", "", ""});
    Run();
    EXPECT_EQ(host.List.Count(), 0);
}

TEST_F(CycleTest, Imap4AccountUsesTheOtherClient)
{
    host.AddAccount("I", "imap.i");
    host.AccountList[0].IMAP4 = true;
    host.AccountList[0].Port = "143";
    host.Net.Maildrops["imap.i"] = {Msg("Ann", "a")};
    Run();
    EXPECT_EQ(host.Imap4.Connects, 1);
    EXPECT_EQ(host.Pop3.Connects, 0);
    EXPECT_EQ(host.Net.Log[0], "connect imap.i:143 user-I");
    EXPECT_EQ(host.List.Count(), 1);
}

// An account's folders: its rows stand together folder by folder, the inbox
// first; a folder that is gone is an error row of its own while the others
// are listed; %MSGID% counts within a folder and %FOLDER% names it; a
// folder no longer watched takes its rows along.
TEST_F(CycleTest, FoldersListTheirRowsTogetherAndFailAlone)
{
    host.AddImap4Account("Work", "imap.work", {{"Lists", true}, {"Junk", false}, {"INBOX", true}, {"Gone", true}});
    host.AddAccount("Home", "pop.home");
    host.Net.Maildrops["imap.work"] = {Msg("Ann", "a")};
    host.Net.Maildrops["imap.work/Lists"] = {Msg("Bob", "b1"), Msg("Bob", "b2")};
    host.Net.Maildrops["imap.work/Junk"] = {Msg("Spam", "s")};
    host.Net.Maildrops["pop.home"] = {Msg("Cy", "c")};
    host.Config.Execute = "tool %MSGID% %FOLDER% %SUBJECT%";
    Run();
    EXPECT_EQ(Dump(host.List), (std::vector<std::string>{"Work|Ann|a|1|new", "Work|Bob|b1|1|new", "Work|Bob|b2|1|new",
                                                         "Home|Cy|c|1|new", "Work|0|new"}));
    std::vector<std::string> mailboxes;
    for (const TMessageRow& row : Entries(host.List))
        mailboxes.push_back(row.Mailbox);
    EXPECT_EQ(mailboxes, (std::vector<std::string>{"INBOX", "Lists", "Lists", "INBOX", "Gone"}));
    EXPECT_EQ(host.List.Row(4).Hint, "The folder \"Gone\" does not exist on the server.");
    EXPECT_EQ(host.Net.Log, (std::vector<std::string>{"connect imap.work:143 user-Work", "status INBOX Lists Gone",
                                                      "select INBOX", "select Lists", "quit",
                                                      "connect pop.home:110 user-Home", "quit"}));
    EXPECT_EQ(host.Commands, (std::vector<std::vector<std::string>>{{"tool", "1", "INBOX", "a"},
                                                                    {"tool", "1", "Lists", "b1"},
                                                                    {"tool", "2", "Lists", "b2"},
                                                                    {"tool", "1", "INBOX", "c"}}));
    // A missing folder is no failure of the account.
    EXPECT_EQ(host.Picture, tpIdle);
    EXPECT_EQ(cycle.NewCount, 4);

    // Now Junk and Team are watched, the inbox and Lists not: their rows go,
    // and a folder the server refuses to open fails alone.
    host.AccountList[0].Folders = {{"Junk", true}, {"Lists", false}, {"Team", true}};
    host.Net.Maildrops["imap.work/Team"] = {};
    host.Net.Refused = {"imap.work/Team"};
    Run();
    EXPECT_EQ(Dump(host.List), (std::vector<std::string>{"Work|Spam|s|1|new", "Home|Cy|c|1|cut", "Work|0|new"}));
    EXPECT_EQ(host.List.Row(2).Hint, "The folder \"Team\" could not be checked: Mailbox doesn't exist");
}

// A folder found as its last check left it is not searched again; one
// whose state changed, or whose rows went, is.
TEST_F(CycleTest, UnchangedFolderIsNotSearchedAgain)
{
    host.AddImap4Account("Work", "imap.work", {{"INBOX", true}, {"Lists", true}});
    host.Net.WithIds = true;
    host.Net.Maildrops["imap.work"] = {{"Ann", "a", 2, 1000, "<a@x>", {}, false, "1"}};
    host.Net.Maildrops["imap.work/Lists"] = {{"Bob", "b", 2, 1000, "<b@x>", {}, false, "1"}};
    host.Net.Stamps = {{"imap.work", "7:2:1:1"}, {"imap.work/Lists", "7:2:1:1"}};
    TAnnounced memory;
    cycle.Announced = &memory;
    Run();
    // The same UID in two folders is two messages, each told.
    EXPECT_EQ(Dump(host.List), (std::vector<std::string>{"Work|Ann|a|1|new", "Work|Bob|b|1|new"}));

    host.Net.Log.clear();
    host.Net.Maildrops["imap.work/Lists"].push_back({"Bob", "b2", 2, 1000, "2"});
    host.Net.Stamps["imap.work/Lists"] = "7:3:2:2";
    Run();
    EXPECT_EQ(host.Net.Log, (std::vector<std::string>{"connect imap.work:143 user-Work", "status INBOX Lists",
                                                      "select Lists", "quit"}));
    EXPECT_EQ(Dump(host.List),
              (std::vector<std::string>{"Work|Ann|a|1|cut", "Work|Bob|b|1|cut", "Work|Bob|b2|1|new"}));

    // Rows gone from the list (Check now) are listed afresh.
    host.Net.Log.clear();
    host.ClearList = true;
    Run();
    EXPECT_EQ(host.Net.Log, (std::vector<std::string>{"connect imap.work:143 user-Work", "status INBOX Lists",
                                                      "select INBOX", "select Lists", "quit"}));
    EXPECT_EQ(host.List.Count(), 3);
}

// A message kept in two watched folders of one account (a label beside the
// inbox) is told once, by its Message-ID or else its fingerprint, and
// counted once while both rows stand; a restart does not tell a copy of a
// message told from another folder, and another account's copy is its own.
TEST_F(CycleTest, AMessageInTwoFoldersOfAnAccountIsToldAndCountedOnce)
{
    TAnnounced memory;
    cycle.Announced = &memory;
    host.AddImap4Account("Work", "imap.work", {{"INBOX", true}, {"Lists", true}});
    host.AddImap4Account("Other", "imap.other", {{"INBOX", true}, {"Lists", true}});
    const TFakeMessage a = {"Ann", "a", 2, 1000, "<a@x>"};
    const TFakeMessage b = Msg("Bob", "b"); // no Message-ID: the fingerprint
    const TFakeMessage c = {"Cy", "c", 2, 1000, "<c@x>"};
    const TFakeMessage d = {"Di", "d", 2, 1000, "<d@x>"};
    host.Net.Maildrops["imap.work"] = {a, b};
    host.Net.Maildrops["imap.work/Lists"] = {a, b, c};
    host.Net.Maildrops["imap.other"] = {a};
    host.Net.Maildrops["imap.other/Lists"] = {};
    host.Config.Execute = "tool %FOLDER% %SUBJECT%";
    host.Config.ShowIcon = "newmsg.ico";
    const auto told = [this] {
        std::vector<std::string> subjects;
        for (const TToldMessage& m : host.BalloonTold)
            subjects.push_back(m.Mailbox + " " + m.Shown.Subject);
        return subjects;
    };
    Run();
    EXPECT_EQ(Dump(host.List), (std::vector<std::string>{"Work|Ann|a|1|new", "Work|Bob|b|1|new", "Work|Ann|a|1|cut",
                                                         "Work|Bob|b|1|cut", "Work|Cy|c|1|new", "Other|Ann|a|1|new"}));
    EXPECT_EQ(host.Commands, (std::vector<std::vector<std::string>>{{"tool", "INBOX", "a"},
                                                                    {"tool", "INBOX", "b"},
                                                                    {"tool", "Lists", "c"},
                                                                    {"tool", "INBOX", "a"}}));
    EXPECT_EQ(told(), (std::vector<std::string>{"INBOX a", "INBOX b", "Lists c", "INBOX a"}));
    EXPECT_EQ(cycle.NewCount, 4);
    EXPECT_EQ(cycle.ListedCount, 4);
    EXPECT_EQ(host.Headline, "There are 4 messages to read");

    // A copy filed later into the inbox is no news; a message new to both is
    // told once.
    host.Commands.clear();
    host.Net.Maildrops["imap.work"] = {a, b, c, d};
    host.Net.Maildrops["imap.work/Lists"].push_back(d);
    Run();
    EXPECT_EQ(host.Commands, (std::vector<std::vector<std::string>>{{"tool", "INBOX", "d"}}));
    EXPECT_EQ(cycle.NewCount, 1);
    EXPECT_EQ(host.Headline, "There are 5 messages to read");

    // After a restart, with the inbox read meanwhile, the copies left in
    // Lists were told before: from Lists, or from the inbox.
    host.Commands.clear();
    host.List.Clear();
    host.Net.Maildrops["imap.work"] = {};
    host.Net.Maildrops["imap.other"] = {};
    TCheckCycle restarted{host.List, host};
    restarted.Announced = &memory;
    TInlineRounds again{restarted, host.Pop3, host.Imap4};
    again.Run(host.Snapshot());
    EXPECT_EQ(Dump(host.List), (std::vector<std::string>{"Work|Ann|a|1|cut", "Work|Bob|b|1|cut", "Work|Cy|c|1|cut",
                                                         "Work|Di|d|1|cut"}));
    EXPECT_TRUE(host.Commands.empty());
    EXPECT_EQ(restarted.NewCount, 0);

    // Check now tells every message again, still once.
    host.Net.Maildrops["imap.work"] = {d};
    again.Run(host.Snapshot(), true);
    EXPECT_EQ(host.Commands, (std::vector<std::vector<std::string>>{
                                 {"tool", "INBOX", "d"}, {"tool", "Lists", "a"}, {"tool", "Lists", "b"},
                                 {"tool", "Lists", "c"}}));
    EXPECT_EQ(restarted.ListedCount, 4);
}

} // namespace

// Tests shorten the limits; the program's own stay 10 s to connect and 30 s
// per read, and each account check hands them to the POP3 client.
TEST(Pop3CheckClient, HandsTheProgramsLimitsToTheClient)
{
    TIdPOP3 pop;
    TPop3CheckClient check(pop);
    const Account account{"ann", true, "ann", "pw", "mail.example.org", "110"};
    check.SetAccount(account, 110);
    EXPECT_EQ(pop.ConnectTimeout, 10000);
    EXPECT_EQ(pop.ReadTimeout, 30000);
    EXPECT_TRUE(pop.AutoLogin);
    EXPECT_EQ(pop.Host, "mail.example.org");

    check.ConnectTimeout = 250;
    check.ReadTimeout = 400;
    check.SetAccount(account, 110);
    EXPECT_EQ(pop.ConnectTimeout, 250);
    EXPECT_EQ(pop.ReadTimeout, 400);
}

// Messages read or deleted elsewhere leave the list; the news that told of
// them shows the rest, quietly, and goes when none is left. A round over
// some accounts (a push) tells nothing anew, also where every round tells of
// what is listed.
TEST_F(CycleTest, NewsFollowsMessagesThatLeaveTheList)
{
    host.AddAccount("A", "pop.a");
    host.AddAccount("B", "pop.b");
    host.Config.ShowIcon = "/x/newmsg.ico";
    host.Config.NotifyOnlyNewMsg = false;
    host.Net.Maildrops["pop.a"] = {Msg("Ann", "a")};
    host.Net.Maildrops["pop.b"] = {Msg("Bob", "b1"), Msg("Bob", "b2"), Msg("Bob", "b3")};
    Run();
    ASSERT_EQ(host.BalloonTold.size(), 4u);
    host.Actions.clear();
    const auto subjects = [this] {
        std::vector<std::string> s;
        for (const TToldMessage& m : host.BalloonTold)
            s.push_back(m.Shown.Subject + "#" + std::to_string(m.Number));
        return s;
    };

    host.Net.Maildrops["pop.b"].erase(host.Net.Maildrops["pop.b"].begin());
    RunOnly({1});
    EXPECT_EQ(host.Actions, (std::vector<std::string>{"news left"})) << "no sound, window or balloon anew";
    EXPECT_EQ(subjects(), (std::vector<std::string>{"a#1", "b2#1", "b3#2"})) << "numbers as the blocks stand";
    EXPECT_EQ(host.BalloonText, "There are 3 messages to read");

    host.Actions.clear();
    RunOnly({1});
    EXPECT_TRUE(host.Actions.empty()) << "nothing left, nothing told";

    host.Net.Maildrops["pop.a"].clear();
    host.Net.Maildrops["pop.b"].clear();
    RunOnly({0, 1});
    EXPECT_EQ(host.Withdrawals, 1);
    EXPECT_EQ(host.Actions, (std::vector<std::string>{"news left"}));
}

// What waits, as the status and a launcher tell it: the headline's count,
// each account's share (a message in two folders once), and why an account
// failed.
TEST_F(CycleTest, MailStateCountsPerAccount)
{
    host.AddAccount("A", "pop.a");
    host.AddImap4Account("B", "imap.b", {{"INBOX", true}, {"Lists", true}});
    host.AddAccount("C", "pop.c");
    host.AddAccount("Off", "pop.off", false);
    host.Net.Maildrops["pop.a"] = {Msg("Ann", "a"), Msg("Ann", "a2")};
    TFakeMessage copy = Msg("Bob", "b");
    copy.MessageId = "<same@b>";
    host.Net.Maildrops["imap.b"] = {copy};
    host.Net.Maildrops["imap.b/Lists"] = {copy, Msg("Cy", "c")};
    Run();
    ASSERT_FALSE(host.States.empty());
    const TMailState& state = host.States.back();
    EXPECT_EQ(state.Count, 4);
    EXPECT_TRUE(state.Failed) << "pop.c has no maildrop";
    EXPECT_FALSE(state.Important);
    EXPECT_EQ(state.Hint, "The connection to mail server is not available");
    ASSERT_EQ(state.Accounts.size(), 3u) << "the account switched off has no rows";
    EXPECT_EQ(state.Accounts[0], (TAccountState{"A", 2, ""}));
    EXPECT_EQ(state.Accounts[1], (TAccountState{"B", 2, ""}));
    EXPECT_EQ(state.Accounts[2].Name, "C");
    EXPECT_FALSE(state.Accounts[2].Error.empty());
    EXPECT_EQ(host.List.Row(0).MessageId, "");
    EXPECT_EQ(host.List.Row(2).MessageId, "same@b");
}
