// IDLE: what each line means, and the client's exchange against scripted
// servers, the hostile ones among them.
#include "mail/IdExceptions.h"
#include "mail/IdLineAbort.h"
#include "mail/Imap4Client.h"
#include "mail/Imap4Idle.h"
#include "support/FakeClock.h"
#include "support/ScriptedServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace
{

using namespace std::chrono_literals;
using Kind = TIdIMAP4IdleLineKind;
using State = TIdIMAP4ConnectionState;

TEST(Imap4IdleLine, EachLineMeansOneThing)
{
    struct Case
    {
        std::string Line;
        Kind Expected;
        std::uint32_t Number;
    };
    const Case cases[] = {
        {"+ idling", Kind::Continuation, 0},
        {"+", Kind::Continuation, 0},
        {"+idling", Kind::Other, 0},
        {"* 4 EXISTS", Kind::News, 4},
        {"* 0 exists", Kind::News, 0},
        {"* 007 Exists", Kind::News, 7},
        {"* 2 EXPUNGE", Kind::News, 2},
        {"* 0 EXPUNGE", Kind::Other, 0},
        {"* 3 FETCH (FLAGS (\\Seen))", Kind::News, 3},
        {"* 3 fetch (UID 9)", Kind::News, 3},
        {"* 3 FETCH", Kind::Other, 0},
        {"* 3 FETCH FLAGS", Kind::Other, 0},
        {"* 4 EXISTS now", Kind::Other, 0},
        {"* 4 EXISTSX", Kind::Other, 0},
        {"* 4294967296 EXISTS", Kind::Other, 0},
        {"* -1 EXISTS", Kind::Other, 0},
        {"* 4x EXISTS", Kind::Other, 0},
        {"* 4  EXISTS", Kind::Other, 0},
        {"* EXISTS", Kind::Other, 0},
        {"* 4 RECENT", Kind::Other, 0},
        {"* OK still here", Kind::Other, 0},
        {"* BYE going away", Kind::Bye, 0},
        {"* bye", Kind::Bye, 0},
        {"* BYEBYE", Kind::Other, 0},
        {"C7 OK Idle completed", Kind::TaggedOk, 0},
        {"c7 ok", Kind::TaggedOk, 0},
        {"C7 NO not now", Kind::TaggedNo, 0},
        {"C7 BAD what", Kind::TaggedBad, 0},
        {"C7 WHAT", Kind::TaggedBad, 0},
        {"C7", Kind::TaggedBad, 0},
        {"C70 OK other command", Kind::Other, 0},
        {"C6 OK other command", Kind::Other, 0},
        {"  * 5 EXISTS \r", Kind::News, 5},
        {"", Kind::Other, 0},
        {"*", Kind::Other, 0},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Line);
        const TIdIMAP4IdleLine parsed = ParseIdleLine(c.Line, "C7");
        EXPECT_EQ(parsed.Kind, c.Expected);
        EXPECT_EQ(parsed.Number, c.Number);
    }
    // Without a tag nothing is a completion.
    EXPECT_EQ(ParseIdleLine("C7 OK", "").Kind, Kind::Other);
}

const std::string Selected = R"(
    S: * PREAUTH ready
    C: C1 CAPABILITY
    S: * CAPABILITY IMAP4rev1 IDLE
    S: C1 OK done
    C: C2 SELECT "inbox"
    S: * 3 EXISTS
    S: C2 OK [READ-WRITE] selected
)";

const std::string Idling = Selected + R"(
    C: C3 IDLE
    S: + idling
)";

// A client with "inbox" selected on a server that plays `script` (from the
// greeting).
class Imap4Idle : public testing::Test
{
protected:
    void Start(const std::string& script)
    {
        Server = std::make_unique<ScriptedServer>(script);
        Imap.Host = Server->Host();
        Imap.Port = Server->Port();
        Imap.ReadTimeout = 3000;
        Imap.Connect(true);
        ASSERT_TRUE(Imap.SelectMailbox("inbox"));
    }
    // What the client holds of the server's bytes stays within the line cap.
    void ExpectQueueBounded()
    {
        ASSERT_NE(Imap.IOHandler(), nullptr);
        EXPECT_LE(Imap.IOHandler()->InputBuffer().StorageSize(),
                  static_cast<std::size_t>(2 * Imap.IOHandler()->MaxLineLength));
    }

    std::unique_ptr<ScriptedServer> Server;
    TIdIMAP4 Imap;
};

TEST_F(Imap4Idle, NewsWhileIdlingAndAroundItThenRenewal)
{
    Start(Idling + R"(
        S: * OK still here
        S: * 4 RECENT
        S: * 4 EXISTS
        S: * 1 RECENT
        C: DONE
        S: * 2 EXPUNGE
        S: C3 OK Idle completed.
        C: C4 IDLE
        S: * 3 FETCH (FLAGS (\Seen))
        S: + idling
        C: DONE
        S: C4 OK Idle completed.
        C: C5 IDLE
        S: + idling
        C: DONE
        S: C5 OK Idle completed.
        C: C6 CLOSE
        S: C6 OK closed
    )");
    EXPECT_TRUE(Imap.SupportsIdle());
    ASSERT_TRUE(Imap.IdleStart());
    EXPECT_TRUE(Imap.Idling());
    // The chatter and RECENT before it are passed over.
    EXPECT_TRUE(Imap.IdleWait(3000));
    // The EXPUNGE that came while ending.
    EXPECT_TRUE(Imap.IdleDone());
    EXPECT_FALSE(Imap.Idling());
    EXPECT_EQ(Imap.LastReply().Code, "OK");

    // News before the "+" is not lost: the first wait tells of it at once.
    ASSERT_TRUE(Imap.IdleStart());
    EXPECT_TRUE(Imap.IdleWait(0));
    EXPECT_FALSE(Imap.IdleDone());

    // A quiet server: the wait takes its whole time, and no more.
    ASSERT_TRUE(Imap.IdleStart());
    auto clock = std::make_shared<FakeClock>();
    Imap.IOHandler()->Clock = clock;
    EXPECT_FALSE(Imap.IdleWait(30000));
    EXPECT_EQ(clock->Served(), 30s);
    Imap.IOHandler()->Clock.reset();
    EXPECT_FALSE(Imap.IdleDone());

    EXPECT_EQ(Imap.ConnectionState, State::Selected);
    EXPECT_TRUE(Imap.CloseMailbox());
    EXPECT_TRUE(Server->WaitDone());
}

// A renewal sends both commands at once; a wait for any line ends at the
// server's keep-alive without waiting out its time, but not before the time
// it was given.
TEST_F(Imap4Idle, RenewalInOneWriteAfterTheServersNextLine)
{
    Start(Idling + R"(
        S: * OK Still here
        S: * OK Still here
        C: DONE
        C: C4 IDLE
        S: * 4 EXISTS
        S: C3 OK Idle completed.
        S: + idling
        C: DONE
        C: C5 IDLE
        S: C4 OK Idle completed.
        S: C5 NO not now
        C: C6 CLOSE
        S: C6 OK closed
    )");
    ASSERT_TRUE(Imap.IdleStart());
    auto clock = std::make_shared<FakeClock>();
    Imap.IOHandler()->Clock = clock;
    EXPECT_FALSE(Imap.IdleWait(30000, 0));
    EXPECT_LT(clock->Served(), 30s);
    EXPECT_FALSE(Imap.IdleWait(30000, 20000));
    EXPECT_EQ(clock->Served(), 30s);
    Imap.IOHandler()->Clock.reset();
    EXPECT_TRUE(Imap.IdleRenew());
    EXPECT_TRUE(Imap.Idling());
    EXPECT_FALSE(Imap.IdleRenew());
    EXPECT_FALSE(Imap.Idling());
    EXPECT_EQ(Imap.ConnectionState, State::Selected);
    EXPECT_TRUE(Imap.CloseMailbox());
    EXPECT_TRUE(Server->WaitDone());
}

// A look between two IDLEs: DONE, NOOP and IDLE in one write. Servers whose
// IDLE is silent tell news in answer to DONE or to the NOOP; either is news.
TEST_F(Imap4Idle, LookAsksBetweenTwoIdlesInOneWrite)
{
    const std::string asked = "C: DONE\nC: C4 NOOP\nC: C5 IDLE\n";
    struct Case
    {
        const char* Name;
        std::string Answers;
        bool News;
        bool Raises;
    };
    const Case cases[] = {
        {"quiet", "S: C3 OK done\nS: C4 OK done\nS: + idling", false, false},
        {"news at DONE", "S: * 4 EXISTS\nS: * 4 RECENT\nS: C3 OK done\nS: C4 OK done\nS: + idling", true, false},
        {"news with the NOOP", "S: C3 OK done\nS: * 1 EXPUNGE\nS: C4 OK done\nS: + idling", true, false},
        {"NOOP refused", "S: C3 OK done\nS: C4 BAD not now", false, true},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Name);
        Start(Idling + asked + c.Answers);
        ASSERT_TRUE(Imap.IdleStart());
        if (c.Raises)
        {
            EXPECT_THROW(Imap.IdleRenew(true), EIdReplyIMAP4Error);
            EXPECT_EQ(Imap.ConnectionState, State::Lost);
        }
        else
        {
            EXPECT_EQ(Imap.IdleRenew(true), c.News);
            EXPECT_TRUE(Imap.Idling());
        }
        Imap.Disconnect(false);
        EXPECT_TRUE(Server->WaitDone());
        Server.reset();
    }
}

TEST_F(Imap4Idle, ServerWithoutIdleRefusesAndTheSessionGoesOn)
{
    Start(R"(
        S: * PREAUTH ready
        C: C1 CAPABILITY
        S: * CAPABILITY IMAP4rev1
        S: C1 OK done
        C: C2 SELECT "inbox"
        S: C2 OK [READ-WRITE] selected
        C: C3 IDLE
        S: * 4 EXISTS
        S: C3 BAD Unknown command
        C: C4 CLOSE
        S: C4 OK closed
    )");
    EXPECT_FALSE(Imap.SupportsIdle());
    EXPECT_FALSE(Imap.IdleStart());
    EXPECT_FALSE(Imap.Idling());
    EXPECT_EQ(Imap.LastReply().Code, "BAD");
    EXPECT_THROW(Imap.IdleWait(0), EIdConnectionStateError);
    EXPECT_THROW(Imap.IdleDone(), EIdConnectionStateError);
    EXPECT_EQ(Imap.ConnectionState, State::Selected);
    EXPECT_TRUE(Imap.CloseMailbox());
    // Only a selected mailbox idles.
    EXPECT_THROW(Imap.IdleStart(), EIdConnectionStateError);
}

template <typename E>
std::function<void(TIdIMAP4&)> WaitRaises(int milliseconds = 10000)
{
    return [milliseconds](TIdIMAP4& imap) { EXPECT_THROW(imap.IdleWait(milliseconds), E); };
}

template <typename E>
std::function<void(TIdIMAP4&)> DoneRaises()
{
    return [](TIdIMAP4& imap) { EXPECT_THROW(imap.IdleDone(), E); };
}

// Every one of these ends the wait or the DONE in bounded time and memory;
// whatever raises leaves the session Lost.
TEST_F(Imap4Idle, HostileServersEndInBoundedTimeAndMemory)
{
    struct Case
    {
        const char* Name;
        std::string Script;
        std::function<void(TIdIMAP4&)> Check;
    };
    const Case cases[] = {
        {"bye mid-idle", "S: * BYE shutting down", WaitRaises<EIdDisconnectedProbablyIdledOut>()},
        {"cut mid-idle", "S: * OK still here\nCLOSE", WaitRaises<EIdConnClosedGracefully>()},
        {"cut inside a line", "R: * 4 EXI\nCLOSE", WaitRaises<EIdConnClosedGracefully>()},
        {"bye after done", "C: DONE\nS: * BYE bye", DoneRaises<EIdDisconnectedProbablyIdledOut>()},
        {"no answer to done", "C: DONE\nSTALL", DoneRaises<EIdReadTimeout>()},
        {"done refused", "C: DONE\nS: C3 NO not you", DoneRaises<EIdReplyIMAP4Error>()},
        {"idle ended by the server", "S: C3 OK over", WaitRaises<EIdReplyIMAP4Error>()},
        {"endless line", "FLOOD 100000000 xxxxxxxxxxxxxxxx", WaitRaises<EIdReadLnMaxLineLengthExceeded>()},
        {"flood of exists", "FLOOD 1000000000 * 9 EXISTS\\r\\n",
         [](TIdIMAP4& imap) {
             EXPECT_TRUE(imap.IdleWait(10000));
             EXPECT_THROW(imap.IdleDone(), EIdReplyTooLarge);
         }},
        // A wait that read the flood to its end would see the news after it.
        {"flood of chatter", "FLOOD 1000000000 * OK still here\\r\\n\nS: * 9 EXISTS",
         [](TIdIMAP4& imap) { EXPECT_FALSE(imap.IdleWait(200)); }},
        // The same for a drip; what came of the line is kept for the next wait.
        {"slow drip", "DRIP 20 * OK still here, still here, still here, still here, still here\\r\\n* 9 EXISTS\\r\\n",
         [](TIdIMAP4& imap) {
             EXPECT_FALSE(imap.IdleWait(200));
             EXPECT_TRUE(imap.IdleWait(10000));
         }},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Name);
        Start(Idling + c.Script);
        ASSERT_TRUE(Imap.IdleStart());
        Imap.IOHandler()->ReadTimeout = 300;
        // The silent server's limit runs out on the test clock; floods and
        // drips are paced in real time.
        if (c.Script.find("STALL") != std::string::npos)
            FakeClockFromNow(Imap);
        c.Check(Imap);
        ExpectQueueBounded();
        if (!Imap.Idling())
            EXPECT_EQ(Imap.ConnectionState, State::Lost);
        // A flooding server sees the hang-up before it is stopped.
        Imap.Disconnect(false);
        EXPECT_TRUE(Server->WaitDone());
        Server.reset();
    }
}

TEST_F(Imap4Idle, AbortFromAnotherThreadEndsTheWaitAtOnce)
{
    Imap.LineAbort = std::make_shared<TIdLineAbort>();
    Start(Idling + "STALL");
    ASSERT_TRUE(Imap.IdleStart());
    std::thread closer([abort = Imap.LineAbort] {
        std::this_thread::sleep_for(100ms);
        abort->Abort();
    });
    // Left alone, the wait would end quietly after a minute.
    EXPECT_THROW(Imap.IdleWait(60000), EIdLineAborted);
    closer.join();
    EXPECT_EQ(Imap.ConnectionState, State::Lost);
    EXPECT_FALSE(Imap.Idling());
}

} // namespace
