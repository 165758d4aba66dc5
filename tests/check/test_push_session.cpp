// The push loop over a scripted client: what it tells, when it opens a
// session again, and how a stop ends it.

#include "check/Imap4PushClient.h"
#include "check/PushSession.h"
#include "mail/IdExceptions.h"
#include "support/FakeClock.h"
#include "support/ScriptedServer.h"

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace
{

using namespace std::chrono_literals;

// Each Open takes the next of `Opens` ("ready", "partial": ready but deaf
// to some folders, "noidle", "refused", "fail", "fail+nudge": nudged while
// failing); each Wait the next of `Waits` ("news", "quiet", "cut",
// "quiet+nudge"), and is kept in `Waited` as its time and its time for any
// line. The loop is stopped when the waits run out.
struct TScript
{
    std::deque<std::string> Opens;
    std::deque<std::string> Waits;
    std::vector<std::string> Log;
    TPushStop* Stop = nullptr;
    std::vector<std::pair<int, int>> Waited;
};

class TScriptedPush : public TPushClient
{
public:
    explicit TScriptedPush(TScript& script) : FScript(script) {}

    TOpened Open() override
    {
        const std::string open = Take(FScript.Opens);
        FScript.Log.push_back("open " + open);
        if (open == "fail+nudge")
            FScript.Stop->Nudge();
        if (open.rfind("fail", 0) == 0)
            throw std::runtime_error("refused connection");
        FPartial = open == "partial";
        return open == "noidle" ? TOpened::NoIdle : open == "refused" ? TOpened::Refused : TOpened::Ready;
    }
    bool HearsEveryFolder() const override { return !FPartial; }
    void Start() override { FScript.Log.push_back("idle"); }
    bool Wait(int milliseconds, int anyLineAfter) override
    {
        FScript.Waited.emplace_back(milliseconds, anyLineAfter);
        const std::string wait = Take(FScript.Waits);
        if (wait == "quiet+nudge")
            FScript.Stop->Nudge();
        if (FScript.Waits.empty())
            FScript.Stop->Stop();
        if (wait == "cut")
            throw std::runtime_error("connection closed");
        return wait == "news";
    }
    bool Renew() override
    {
        FScript.Log.push_back("renew");
        return false;
    }
    void Close() noexcept override { FScript.Log.push_back("close"); }

private:
    static std::string Take(std::deque<std::string>& from)
    {
        if (from.empty())
            return "quiet";
        std::string first = from.front();
        from.pop_front();
        return first;
    }
    TScript& FScript;
    bool FPartial = false;
};

struct PushCase
{
    const char* name;
    std::vector<std::string> opens, waits, log;
    // The time the loop slept between sessions.
    std::chrono::milliseconds slept;
    // Mail may have come before the first session.
    bool missed = false;
};

class PushLoop : public testing::TestWithParam<PushCase>
{
};

TEST_P(PushLoop, TellsAndOpensAgain)
{
    const PushCase& c = GetParam();
    TPushStop stop;
    TScript script{{c.opens.begin(), c.opens.end()}, {c.waits.begin(), c.waits.end()}, {}, &stop};
    TPushEvents events;
    events.Healthy = [&](bool healthy) { script.Log.push_back(healthy ? "healthy" : "unhealthy"); };
    events.News = [&] { script.Log.push_back("news"); };
    // The program's times, on a clock that serves them at once: nothing
    // answers a sleep, so none needs a real slice.
    TPushTimes times;
    auto clock = std::make_shared<FakeClock>(1);
    times.Clock = clock;
    RunPushSession([&] { return std::make_unique<TScriptedPush>(script); }, times, events, stop, c.missed);
    EXPECT_EQ(script.Log, c.log);
    EXPECT_EQ(clock->Served(), c.slept);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PushLoop,
    testing::Values(
        // News heard is told before the renewal's round trip.
        PushCase{"NewsIsToldAndIdleRenewed",
                 {"ready"},
                 {"news", "quiet"},
                 {"open ready", "idle", "healthy", "news", "renew", "renew", "close"},
                 0ms},
        // Idling on one folder of several: the interval checks the account.
        PushCase{"IdleOnSomeFoldersIsNoHealthyPush",
                 {"partial"},
                 {"news"},
                 {"open partial", "idle", "unhealthy", "news", "renew", "close"},
                 0ms},
        PushCase{"NoIdleEndsTheLoop", {"noidle"}, {}, {"open noidle", "close", "unhealthy"}, 0ms},
        // The mail that came while no session was open is checked for.
        PushCase{"ALostSessionIsOpenedAgainAndCaughtUp",
                 {"ready", "fail", "ready"},
                 {"cut", "quiet"},
                 {"open ready", "idle", "healthy", "close", "unhealthy", "open fail", "close", "unhealthy",
                  "open ready", "idle", "healthy", "news", "renew", "close"},
                 10s + 20s},
        PushCase{"ARefusedLoginWaitsItsTime",
                 {"refused", "ready"},
                 {"quiet"},
                 {"open refused", "close", "unhealthy", "open ready", "idle", "healthy", "renew",
                  "close"},
                 1h},
        // Opened anew after a sleep: what came meanwhile is checked for.
        PushCase{"ASessionAfterMissedMailTellsNews",
                 {"ready"},
                 {"quiet"},
                 {"open ready", "idle", "healthy", "news", "renew", "close"},
                 0ms,
                 true},
        // Another line works again: the next try comes at once, not after
        // the 20 s it would wait.
        PushCase{"ANudgeCutsTheWaitBeforeTheNextTry",
                 {"ready", "fail+nudge", "ready"},
                 {"cut", "quiet"},
                 {"open ready", "idle", "healthy", "close", "unhealthy", "open fail+nudge", "close", "unhealthy",
                  "open ready", "idle", "healthy", "news", "renew", "close"},
                 10s},
        // A nudge heard while the session still worked says nothing of
        // the loss after it.
        PushCase{"ANudgeWhileIdlingIsForgotten",
                 {"ready", "ready"},
                 {"quiet+nudge", "cut", "quiet"},
                 {"open ready", "idle", "healthy", "renew", "close", "unhealthy", "open ready", "idle", "healthy",
                  "news", "renew", "close"},
                 10s}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PushRetry, GrowsFromTenSecondsToAQuarterOfAnHour)
{
    const TPushTimes times;
    const std::vector<std::pair<int, int>> cases{{1, 10000}, {2, 20000}, {3, 40000},   {6, 320000},
                                                 {7, 640000}, {8, 900000}, {1000, 900000}};
    for (const auto& [failures, wait] : cases)
        EXPECT_EQ(RetryAfter(failures, times), wait) << failures;
}

TEST(PushStop, EndsASleepAtOnce)
{
    TPushStop stop;
    std::thread stopper([&stop] { stop.Stop(); });
    EXPECT_FALSE(stop.Sleep(60 * 60 * 1000));
    stopper.join();
    EXPECT_TRUE(stop.Stopped());
}

// A nudge from another thread ends a sleep that counts nudges, and only
// one that came after the count it was given.
TEST(PushStop, ANudgeEndsASleepThatCountsThem)
{
    TPushStop stop;
    stop.Nudge();
    const unsigned seen = stop.Nudges();
    std::thread nudger([&stop] { stop.Nudge(); });
    EXPECT_TRUE(stop.Sleep(60 * 60 * 1000, TIdSteadyClock::Instance(), &seen));
    nudger.join();
    EXPECT_FALSE(stop.Stopped());
    // Nudged before it began, and not counting at all: the time runs out.
    auto clock = std::make_shared<FakeClock>(1);
    EXPECT_TRUE(stop.Sleep(10000, *clock));
    EXPECT_EQ(clock->Served(), 10s);
}

// The session's waits: its renewal at 9 to 11 minutes, or a look at the
// account's interval where that comes sooner, taken at the first line in
// its last quarter.
TEST(PushLoopWaits, LookAtTheAccountsIntervalAtTheLatest)
{
    const std::vector<std::pair<int, std::pair<int, int>>> cases{
        {0, {660000, 540000}},      {15000, {15000, 11250}},   {300000, {300000, 225000}},
        {600000, {600000, 450000}}, {700000, {660000, 540000}}, {660000, {660000, 540000}}};
    for (const auto& [lookEvery, waited] : cases)
    {
        TPushStop stop;
        TScript script{{"ready"}, {"quiet", "quiet"}, {}, &stop};
        TPushEvents events;
        events.Healthy = [](bool) {};
        events.News = [] {};
        TPushTimes times;
        times.Clock = std::make_shared<FakeClock>(1);
        times.LookEvery = lookEvery;
        RunPushSession([&] { return std::make_unique<TScriptedPush>(script); }, times, events, stop);
        EXPECT_EQ(script.Waited, (std::vector<std::pair<int, int>>{waited, waited})) << lookEvery;
    }
}

// The IMAP4 client of a push session against scripted servers: how its
// opening reads the server, and one round of IDLE with news.
struct OpenCase
{
    const char* name;
    std::string script;
    TPushClient::TOpened opened;
};

class Imap4Push : public testing::TestWithParam<OpenCase>
{
};

const std::string Greeting = "S: * OK ready\nC: C1 LOGIN ann secret\n";
const std::string Capabilities = "C: C2 CAPABILITY\nS: * CAPABILITY IMAP4rev1 IDLE\nS: C2 OK done\n";

TEST_P(Imap4Push, OpensAsTheServerAllows)
{
    const OpenCase& c = GetParam();
    ScriptedServer srv(c.script);
    Account account{"ann", true, "ann", "secret", srv.Host(), std::to_string(srv.Port()), true};
    auto clock = std::make_shared<FakeClock>();
    std::unique_ptr<TPushClient> client = MakePushClient(account, {2000, 2000, 0, clock}, nullptr);
    EXPECT_EQ(client->Open(), c.opened);
    if (c.opened == TPushClient::TOpened::Ready)
    {
        client->Start();
        EXPECT_TRUE(client->Wait(2000, -1));
        EXPECT_FALSE(client->Renew());
        EXPECT_FALSE(client->Wait(2000, 0));
        // A quiet line: the renewal's wait runs its whole time on the
        // session's clock.
        const TPushTimes times;
        EXPECT_FALSE(client->Wait(times.Renew, times.RenewFrom));
        EXPECT_EQ(clock->Served(), std::chrono::milliseconds(times.Renew));
        // A server that no longer takes IDLE: the session is given up.
        EXPECT_THROW(client->Renew(), EIdException);
    }
    client->Close();
    EXPECT_TRUE(srv.WaitDone());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Imap4Push,
    testing::Values(
        OpenCase{"Idles", Greeting + "S: C1 OK in\n" + Capabilities +
                              "C: C3 SELECT \"INBOX\"\nS: * 2 EXISTS\nS: C3 OK [READ-WRITE] done\n"
                              "C: C4 IDLE\nS: + idling\nS: * 3 EXISTS\n"
                              "C: DONE\nC: C5 NOOP\nC: C6 IDLE\nS: C4 OK done\nS: C5 OK done\nS: + idling\n"
                              "S: * OK still here\n"
                              "C: DONE\nC: C7 NOOP\nC: C8 IDLE\nS: C6 OK done\nS: C7 OK done\nS: C8 NO not now\n",
                 TPushClient::TOpened::Ready},
        OpenCase{"RefusedLogin", Greeting + "S: C1 NO [AUTHENTICATIONFAILED] no\n",
                 TPushClient::TOpened::Refused},
        OpenCase{"NoIdleOffered", Greeting + "S: C1 OK in\n" +
                                      "C: C2 CAPABILITY\nS: * CAPABILITY IMAP4rev1\nS: C2 OK done\n",
                 TPushClient::TOpened::NoIdle}),
    [](const auto& info) { return std::string(info.param.name); });

// An account with folders: IDLE on the first watched one (the inbox, where
// watched); NOTIFY, where offered, brings the others' news on the same line,
// else the others are left to the interval.
TEST(Imap4PushFolders, NotifyWhereOfferedElseTheFirstFolderAlone)
{
    const auto script = [](const std::string& capabilities, const std::string& notify) {
        return Greeting + "S: C1 OK in\nC: C2 CAPABILITY\nS: * CAPABILITY " + capabilities +
               "\nS: C2 OK done\nC: C3 SELECT \"INBOX\"\nS: C3 OK [READ-WRITE] done\n" + notify;
    };
    const std::string notify = "C: C4 NOTIFY SET (selected (MessageNew MessageExpunge FlagChange)) (mailboxes "
                               "(\"Lists\" \"Team\") (MessageNew MessageExpunge FlagChange)) (personal (MailboxName))\n";
    struct
    {
        const char* name;
        std::string script;
        bool hearsEveryFolder;
    } const cases[] = {
        {"NOTIFY", script("IMAP4rev1 IDLE NOTIFY", notify + "S: C4 OK done\nC: C5 IDLE\nS: + idling\n"
                                                             "S: * STATUS Team (MESSAGES 3 UIDNEXT 9)\n"),
         true},
        {"NOTIFY refused", script("IMAP4rev1 IDLE NOTIFY", notify + "S: C4 NO not here\nC: C5 IDLE\nS: + idling\n"),
         false},
        {"IDLE only", script("IMAP4rev1 IDLE", "C: C4 IDLE\nS: + idling\n"), false},
        // A name beyond ASCII is asked for but left to the interval.
        {"NOTIFY, a name beyond ASCII",
         script("IMAP4rev1 IDLE NOTIFY", "C: C4 NOTIFY SET (selected (MessageNew MessageExpunge FlagChange)) "
                                         "(mailboxes (\"Lists\" \"Entw&APw-rfe\") (MessageNew MessageExpunge "
                                         "FlagChange)) (personal (MailboxName))\nS: C4 OK done\nC: C5 IDLE\n"
                                         "S: + idling\n"),
         false},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        ScriptedServer srv(c.script);
        Account account{"ann", true, "ann", "secret", srv.Host(), std::to_string(srv.Port()), true};
        account.Folders = {{"Lists", true}, {"INBOX", true}, {"Junk", false},
                           {std::string(c.name).find("ASCII") != std::string::npos ? "Entw\xC3\xBCrfe" : "Team", true}};
        std::unique_ptr<TPushClient> client = MakePushClient(account, {2000, 2000, 0, std::make_shared<FakeClock>()},
                                                             nullptr);
        ASSERT_EQ(client->Open(), TPushClient::TOpened::Ready);
        EXPECT_EQ(client->HearsEveryFolder(), c.hearsEveryFolder);
        client->Start();
        // Another folder's state, heard under NOTIFY, is news.
        if (c.hearsEveryFolder)
            EXPECT_TRUE(client->Wait(2000, -1));
        client->Close();
        EXPECT_TRUE(srv.WaitDone());
    }
}

} // namespace

