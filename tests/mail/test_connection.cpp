#include "mail/IdExceptions.h"
#include "mail/IdIOHandlerStack.h"
#include "mail/IdTCPConnection.h"
#include "support/FakeClock.h"
#include "support/Loopback.h"
#include "support/ScriptedServer.h"
#include "support/TestHelpers.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <array>
#include <chrono>
#include <memory>
#include <string>

namespace
{

using namespace std::chrono_literals;

// A reply form like many line protocols use: "250-" continues, "250 " or a
// bare code ends; the code is the first word.
class TTestReply : public TIdReply
{
public:
    bool EndsReply(const std::string& line) const override { return line.size() < 4 || line[3] != '-'; }
    void SetFormattedReply(const TIdStrings& lines) override
    {
        Clear();
        for (const std::string& line : lines)
        {
            if (Code.empty())
                Code = line.substr(0, 3);
            Text.push_back(line.size() > 4 ? line.substr(4) : std::string());
        }
    }
    [[noreturn]] void RaiseReplyFailure() override { throw EIdException("reply " + Code); }
};

class TTestClient : public TIdTCPClientCustom
{
public:
    TTestClient() : TIdTCPClientCustom(std::make_unique<TTestReply>()) {}
    ~TTestClient() override
    {
        try
        {
            Disconnect(SayQuit);
        }
        catch (const Exception&)
        {
        }
    }
    bool SayQuit = false;

protected:
    void NotifyPeerOfDisconnect() override { SendCommand("QUIT", "221"); }
};

void Attach(TTestClient& client, const ScriptedServer& server)
{
    client.Host = server.Host();
    client.Port = server.Port();
}

} // namespace

TEST(Connection, LineEndings)
{
    ScriptedServer srv(R"(
        R: crlf\r\nbare\nin\rside\r\n\r\n\n  spaced \r\nend\r\r\n
    )");
    TTestClient c;
    Attach(c, srv);
    c.Connect();
    TIdIOHandler& io = *c.IOHandler();
    const char* expected[] = {"crlf", "bare", "in\rside", "", "", "  spaced ", "end\r"};
    for (const char* want : expected)
        EXPECT_EQ(io.ReadLine(), want);
    EXPECT_TRUE(io.InputBuffer().Empty());
}

TEST(Connection, OtherTerminators)
{
    ScriptedServer srv(R"(
        R: a;b;;c\r\nrest
    )");
    TTestClient c;
    Attach(c, srv);
    c.Connect();
    TIdIOHandler& io = *c.IOHandler();
    EXPECT_EQ(io.ReadLine(";"), "a");
    EXPECT_EQ(io.ReadLine(";;"), "b");
    // Only an LF terminator drops the CR before it.
    EXPECT_EQ(io.ReadLine("\n"), "c");
    EXPECT_EQ(io.ReadExactBytes(4), "rest");
}

TEST(Connection, MaxLineLength)
{
    std::string fits(16383, 'a');
    std::string tooLong(16385, 'b');
    ScriptedServer srv("S: " + fits + "\nS: " + tooLong + "\n");
    TTestClient c;
    Attach(c, srv);
    c.Connect();
    TIdIOHandler& io = *c.IOHandler();
    // 16383 bytes and the CR: exactly the limit.
    EXPECT_EQ(io.ReadLine(), fits);
    EXPECT_EQ(MessageOf<EIdReadLnMaxLineLengthExceeded>([&] { io.ReadLine(); }), "Max line length exceeded.");
    // The refused line is still there, untouched.
    EXPECT_EQ(io.ReadLine("\n", -1, 20000), tooLong);
}

TEST(Connection, MaxLineLengthWithoutTerminatorYet)
{
    // Too long even before its end arrives: refused without waiting for it.
    ScriptedServer srv("R: " + std::string(40000, 'z') + "\nSTALL\n");
    TTestClient c;
    Attach(c, srv);
    c.ReadTimeout = 5000;
    c.Connect();
    TIdIOHandler& io = *c.IOHandler();
    EXPECT_THROW(io.ReadLine(), EIdReadLnMaxLineLengthExceeded);
    EXPECT_GT(io.InputBuffer().Size(), 16384u);
}

TEST(Connection, ReplyTrimsFirstLineOnly)
{
    ScriptedServer srv(R"(
        C: HELO x
        S:
        S:    
        R: \t 250-first  \r\n
        S: 250- second 
        S: 250 last
        C: NOOP
        S: 500 nope
        C: NOOP
        S: 2ab fine
    )");
    TTestClient c;
    Attach(c, srv);
    c.Connect();
    EXPECT_EQ(c.SendCommand("HELO x", "250"), "250");
    EXPECT_EQ(c.LastReply().Text, (TIdStrings{"first", " second ", "last"}));
    EXPECT_EQ(MessageOf<EIdException>([&] { c.SendCommand("NOOP", "250"); }), "reply 500");
    EXPECT_EQ(c.LastReply().Code, "500");
    // The expected code compares without regard to case.
    EXPECT_EQ(c.SendCommand("NOOP", "2AB"), "2ab");
}

TEST(Connection, DotTerminated)
{
    ScriptedServer srv(R"(
        S: one
        S: ..two
        S:
        S: . 
        S: ...
        S: .x
        S: .
        S: after
    )");
    TTestClient c;
    Attach(c, srv);
    c.Connect();
    TIdStrings lines{"kept"};
    c.IOHandler()->ReadDotTerminated(lines);
    EXPECT_EQ(lines, (TIdStrings{"kept", "one", ".two", "", ". ", "..", ".x"}));
    EXPECT_EQ(c.IOHandler()->ReadLine(), "after");
}

// The start of a dot-terminated answer: the same lines as above, kept to a
// byte bound; an overlong line comes in parts, none of which ends the
// answer or loses a full stop; the rest is read all the same.
TEST(Connection, DotTerminatedStart)
{
    const std::string stuffed = "S: one\nS: ..two\nS:\nS: . \nS: ...\nS: .x\nS: .\nS: after\n";
    const struct
    {
        const char* What;
        std::string Script;
        std::size_t Keep;
        int MaxLength;
        std::string Kept;
        int Lines; // read, kept or not
    } cases[] = {
        {"all kept", stuffed, 100, 16384, "one\r\n.two\r\n\r\n. \r\n..\r\n.x\r\n", 6},
        {"cut inside a line", stuffed, 7, 16384, "one\r\n.t", 6},
        {"cut inside a line end", stuffed, 4, 16384, "one\r", 6},
        {"nothing kept", stuffed, 0, 16384, "", 6},
        {"long lines in parts", "S: abcdefghij\nS: abcd.\nS: .\nS: after\n", 100, 4, "abcdefghij\r\nabcd.\r\n", 2},
        {"empty", "S: .\nS: after\n", 100, 16384, "", 0},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.What);
        ScriptedServer srv(c.Script);
        TTestClient conn;
        Attach(conn, srv);
        conn.Connect();
        conn.IOHandler()->MaxLineLength = c.MaxLength;
        int lines = -1;
        EXPECT_EQ(conn.IOHandler()->ReadDotTerminatedStart(c.Keep, &lines), c.Kept);
        EXPECT_EQ(lines, c.Lines);
        conn.IOHandler()->MaxLineLength = 16384;
        EXPECT_EQ(conn.IOHandler()->ReadLine(), "after");
    }
}

TEST(Connection, PeerClosesAfterCompleteLine)
{
    ScriptedServer srv(R"(
        S: last words
        CLOSE
    )");
    TTestClient c;
    Attach(c, srv);
    c.Connect();
    ASSERT_TRUE(srv.WaitDone());
    EXPECT_EQ(c.IOHandler()->ReadLine(), "last words");
    EXPECT_EQ(MessageOf<EIdConnClosedGracefully>([&] { c.IOHandler()->ReadLine(); }),
              "Connection Closed Gracefully.");
    EXPECT_FALSE(c.Connected());
}

TEST(Connection, PeerClosesInsideLine)
{
    ScriptedServer srv(R"(
        R: half a li
        CLOSE
    )");
    TTestClient c;
    Attach(c, srv);
    c.Connect();
    EXPECT_THROW(c.IOHandler()->ReadLine(), EIdConnClosedGracefully);
}

TEST(Connection, ConnectTwiceLeavesFirstConnectionAlone)
{
    ScriptedServer srv(R"(
        S: 220 hi
        C: NOOP
        S: 250 ok
    )");
    TTestClient c;
    Attach(c, srv);
    c.Connect();
    EXPECT_EQ(c.ReadReply("220"), "220");
    TIdIOHandler* before = c.IOHandler();
    EXPECT_EQ(MessageOf<EIdAlreadyConnected>([&] { c.Connect(); }), "Already connected.");
    EXPECT_EQ(c.IOHandler(), before);
    EXPECT_EQ(c.SendCommand("NOOP", "250"), "250");
    EXPECT_EQ(srv.Connections(), 1);
}

TEST(Connection, RequiredSettings)
{
    TTestClient c;
    EXPECT_EQ(MessageOf<EIdHostRequired>([&] { c.Connect(); }), "");
    c.Host = "127.0.0.1";
    EXPECT_EQ(MessageOf<EIdPortRequired>([&] { c.Connect(); }), "");
    EXPECT_EQ(c.IOHandler(), nullptr);
}

TEST(Connection, CommandWithoutHandler)
{
    TTestClient c;
    EXPECT_EQ(MessageOf<EIdNotConnected>([&] { c.SendCommand("NOOP"); }), "Not connected.");
    EXPECT_EQ(MessageOf<EIdNotConnected>([&] { c.ReadReply(); }), "Not connected.");
    EXPECT_FALSE(c.Connected());
    c.Disconnect(true); // nothing to do, nothing raised
}

TEST(Connection, DisconnectSaysQuitWhenConnected)
{
    ScriptedServer srv(R"(
        S: 220 hi
        C: QUIT
        S: 221 bye
        WAIT CLOSE
    )");
    TTestClient c;
    Attach(c, srv);
    c.Connect();
    c.ReadReply("220");
    c.Disconnect(true);
    EXPECT_FALSE(c.IOHandler()->IsOpen());
    EXPECT_FALSE(c.Connected());
    EXPECT_TRUE(srv.WaitDone());
    // A second disconnect does nothing.
    c.Disconnect(true);
    EXPECT_EQ(srv.Received(), "QUIT\r\n");
    // A command after the disconnect fails at the write.
    EXPECT_EQ(MessageOf<EIdConnClosedGracefully>([&] { c.SendCommand("NOOP"); }), "Connection Closed Gracefully.");
}

TEST(Connection, DisconnectAfterPeerClosedSendsNothing)
{
    ScriptedServer srv(R"(
        S: 220 hi
        CLOSE
    )");
    TTestClient c;
    Attach(c, srv);
    c.Connect();
    c.ReadReply("220");
    ASSERT_TRUE(srv.WaitDone());
    c.Disconnect(true);
    EXPECT_FALSE(c.IOHandler()->IsOpen());
    EXPECT_TRUE(srv.WaitClientClosed());
    EXPECT_EQ(srv.Received(), "");
}

TEST(Connection, FailingQuitStillCloses)
{
    ScriptedServer srv(R"(
        S: 220 hi
        C: QUIT
        S: 554 no
        WAIT CLOSE
    )");
    TTestClient c;
    Attach(c, srv);
    c.Connect();
    c.ReadReply("220");
    EXPECT_EQ(MessageOf<EIdException>([&] { c.Disconnect(true); }), "reply 554");
    EXPECT_FALSE(c.IOHandler()->IsOpen());
    EXPECT_FALSE(c.Connected());
    EXPECT_TRUE(srv.WaitDone()); // the server saw the socket close
}

TEST(Connection, QuitIntoClosingPeerStillCloses)
{
    // The peer goes away while we say goodbye: the error arrives after the close.
    ScriptedServer srv(R"(
        S: 220 hi
        C: QUIT
        CLOSE
    )");
    TTestClient c;
    Attach(c, srv);
    c.Connect();
    c.ReadReply("220");
    EXPECT_THROW(c.Disconnect(true), EIdConnClosedGracefully);
    EXPECT_FALSE(c.IOHandler()->IsOpen());
}

TEST(Connection, UnreadBytesKeepConnectedButAllowNewConnect)
{
    ScriptedServer srv(R"(
        S: 220 hi
        S: 250 unread
        WAIT CLOSE
        ACCEPT
        S: 220 again
    )");
    TTestClient c;
    Attach(c, srv);
    c.Connect();
    c.ReadReply("220");
    // Let the second line reach the queue.
    while (c.IOHandler()->InputBuffer().IndexOf("unread") < 0)
        c.IOHandler()->ReceiveChunk(true, 5000, true);
    c.Disconnect(false);
    EXPECT_FALSE(c.IOHandler()->IsOpen());
    EXPECT_TRUE(c.Connected());
    // A closed handler does not hold a new connect back; it starts empty.
    c.Connect();
    EXPECT_EQ(c.ReadReply("220"), "220");
    EXPECT_EQ(c.LastReply().Text, TIdStrings{"again"});
    EXPECT_EQ(srv.Connections(), 2);
}

TEST(Connection, QueuedBytesReadableAfterPeerClosed)
{
    ScriptedServer srv(R"(
        S: 250 one
        S: 250 two
        CLOSE
    )");
    TTestClient c;
    Attach(c, srv);
    c.Connect();
    ASSERT_TRUE(srv.WaitDone());
    EXPECT_EQ(c.ReadReply(), "250");
    // The close is noticed, but a line is still queued.
    EXPECT_TRUE(c.Connected());
    EXPECT_TRUE(c.IOHandler()->PeerClosed());
    EXPECT_EQ(MessageOf<EIdAlreadyConnected>([&] { c.Connect(); }), "Already connected.");
    EXPECT_EQ(c.ReadReply(), "250");
    EXPECT_FALSE(c.Connected());
    // Once drained, the same object connects again (to a closed port here).
    c.Port = ScriptedServer::UnusedPort();
    EXPECT_THROW(c.Connect(), EIdSocketError);
}

TEST(Connection, ExactBytes)
{
    ScriptedServer srv(R"(
        R: head\r\n0123456789abcdefghij
        SLEEP 50
        R: KLMNOPQRST
        S: tail
    )");
    TTestClient c;
    Attach(c, srv);
    c.Connect();
    TIdIOHandler& io = *c.IOHandler();
    io.RecvBufferSize = 7;
    EXPECT_EQ(io.ReadLine(), "head");
    EXPECT_EQ(io.ReadExactBytes(30), "0123456789abcdefghijKLMNOPQRST");
    EXPECT_EQ(io.ReadLine(), "tail");
    EXPECT_EQ(io.ReadExactBytes(0), "");
}

TEST(Connection, ExactBytesShortWhenPeerCloses)
{
    ScriptedServer srv(R"(
        R: 0123456789
        CLOSE
    )");
    TTestClient c;
    Attach(c, srv);
    c.Connect();
    TIdIOHandler& io = *c.IOHandler();
    io.RecvBufferSize = 4;
    ASSERT_TRUE(srv.WaitDone());
    EXPECT_EQ(io.ReadExactBytes(100), "0123456789");
    // Nothing more to give: short again, and a line read fails.
    EXPECT_EQ(io.ReadExactBytes(1), "");
    EXPECT_THROW(io.ReadLine(), EIdConnClosedGracefully);
}

TEST(Connection, KeepAliveIsSetOnTheSocketWhenAsked)
{
    // KeepAlive, then SO_KEEPALIVE, TCP_KEEPIDLE, TCP_KEEPINTVL, TCP_KEEPCNT and TCP_USER_TIMEOUT.
    for (const std::array<int, 6>& c : {std::array<int, 6>{60, 1, 60, 10, 6, 120000}, {5, 1, 5, 1, 6, 11000}, {0}})
    {
        ScriptedServer srv("S: 220 hi");
        TTestClient client;
        Attach(client, srv);
        client.KeepAlive = c[0];
        client.Connect();
        const int socket = dynamic_cast<TIdIOHandlerStack&>(*client.IOHandler()).Binding()->Handle();
        std::array<int, 6> got = {c[0]};
        const int options[][2] = {{SOL_SOCKET, SO_KEEPALIVE}, {IPPROTO_TCP, TCP_KEEPIDLE}, {IPPROTO_TCP, TCP_KEEPINTVL},
                                  {IPPROTO_TCP, TCP_KEEPCNT}, {IPPROTO_TCP, TCP_USER_TIMEOUT}};
        for (std::size_t i = 0; i < 5; ++i)
        {
            socklen_t length = sizeof got[i + 1];
            EXPECT_EQ(::getsockopt(socket, options[i][0], options[i][1], &got[i + 1], &length), 0);
        }
        if (c[0] == 0) // off: the system's own probe times stay
            got[2] = got[3] = got[4] = 0;
        EXPECT_EQ(got, c);
        client.ReadReply("220");
    }
}

TEST(Connection, ReadTimeout)
{
    ScriptedServer srv(R"(
        S: 220 hi
        R: 250-part
        STALL
    )");
    TTestClient c;
    Attach(c, srv);
    auto clock = std::make_shared<FakeClock>();
    c.Clock = clock;
    c.ReadTimeout = 30000;
    c.Connect();
    c.ReadReply("220");
    TIdIOHandler& io = *c.IOHandler();
    // A plain line read reports the time-out by an empty line.
    EXPECT_EQ(io.ReadLine(), "");
    EXPECT_TRUE(io.LastReadTimedOut());
    // Reads that loop over lines raise instead of looping for ever.
    EXPECT_EQ(MessageOf<EIdReadTimeout>([&] { c.ReadReply(); }), "Read Timeout");
    TIdStrings lines;
    EXPECT_THROW(io.ReadDotTerminated(lines), EIdReadTimeout);
    EXPECT_THROW(io.ReadLineSkippingBlanks(), EIdReadTimeout);
    EXPECT_THROW(io.ReadExactBytes(100), EIdReadTimeout);
    EXPECT_THROW(io.ReadDotTerminatedStart(100), EIdReadTimeout);
    // Each of the six reads waited out its limit, once.
    EXPECT_EQ(clock->Served(), 6 * 30s);
    // The time-out leaves the connection up for a disconnect.
    EXPECT_TRUE(c.Connected());
    c.Disconnect(false);
}

TEST(Connection, LineReadWithOwnTimeout)
{
    ScriptedServer srv(R"(
        R: slow
        STALL
    )");
    TTestClient c;
    Attach(c, srv);
    auto clock = std::make_shared<FakeClock>();
    c.Clock = clock;
    c.Connect();
    TIdIOHandler& io = *c.IOHandler();
    EXPECT_EQ(io.ReadLine("\n", 30000), "");
    EXPECT_TRUE(io.LastReadTimedOut());
    EXPECT_EQ(clock->Served(), 30s);
    EXPECT_EQ(io.InputBuffer().Peek(), "slow");
}

// The other limit tests run on a test clock; this one holds the steady
// clock's limits to real time, through the socket's own receive limit and
// the connect thread.
TEST(Connection, LimitsRunOutInRealTime)
{
    const auto within = [](auto run) {
        const auto start = std::chrono::steady_clock::now();
        run();
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_GE(took, 190ms);
        EXPECT_LT(took, 3s);
    };
    ScriptedServer srv(R"(
        S: 220 hi
        STALL
    )");
    TTestClient c;
    Attach(c, srv);
    c.ReadTimeout = 200;
    c.Connect();
    c.ReadReply("220");
    within([&] { EXPECT_THROW(c.ReadReply(), EIdReadTimeout); });

    SilentListener silent;
    if (!silent.Silent())
        GTEST_SKIP() << "this kernel answers connects to a full listen queue";
    TTestClient d;
    d.Host = "127.0.0.1";
    d.Port = silent.Port();
    d.ConnectTimeout = 200;
    within([&] { EXPECT_THROW(d.Connect(), EIdConnectTimeout); });
}

TEST(Connection, RefusedPort)
{
    for (int timeout : {0, 5000, -1})
    {
        SCOPED_TRACE(timeout);
        TTestClient c;
        c.Host = "127.0.0.1";
        c.Port = ScriptedServer::UnusedPort();
        c.ConnectTimeout = timeout;
        try
        {
            c.Connect();
            ADD_FAILURE() << "connected to a closed port";
        }
        catch (const EIdSocketError& e)
        {
            EXPECT_EQ(e.LastError, 10061);
            EXPECT_EQ(e.Message, "Socket Error # 10061\r\nConnection refused.");
        }
        // The handler the connect made for itself is gone again.
        EXPECT_EQ(c.IOHandler(), nullptr);
        EXPECT_FALSE(c.Connected());
    }
}

TEST(Connection, ConnectOnTheConnectThread)
{
    ScriptedServer srv(R"(
        S: 220 hi
        C: NOOP
        S: 250 ok
    )");
    TTestClient c;
    Attach(c, srv);
    c.ConnectTimeout = 10000;
    c.Connect();
    EXPECT_EQ(c.ReadReply("220"), "220");
    EXPECT_EQ(c.SendCommand("NOOP", "250"), "250");
}

TEST(Connection, ResetByPeer)
{
    ScriptedServer srv(R"(
        S: 220 hi
        C: NOOP
        RESET
    )");
    TTestClient c;
    Attach(c, srv);
    c.Connect();
    c.ReadReply("220");
    try
    {
        c.SendCommand("NOOP");
        ADD_FAILURE() << "no error";
    }
    catch (const EIdSocketError& e)
    {
        EXPECT_EQ(e.LastError, 10054);
        EXPECT_EQ(e.Message, "Socket Error # 10054\r\nConnection reset by peer.");
    }
    // Asking whether it is connected does not raise the reset again.
    EXPECT_FALSE(c.Connected());
    c.Disconnect(true);
}

TEST(Connection, ExplicitHandlerSurvivesFailedConnect)
{
    TTestClient c;
    auto handler = std::make_unique<TIdIOHandlerStack>();
    TIdIOHandler* mine = handler.get();
    c.SetIOHandler(std::move(handler));
    c.Host = "127.0.0.1";
    c.Port = ScriptedServer::UnusedPort();
    EXPECT_THROW(c.Connect(), EIdSocketError);
    EXPECT_EQ(c.IOHandler(), mine);
    EXPECT_FALSE(mine->IsOpen());
    ScriptedServer srv("S: 220 hi\n");
    Attach(c, srv);
    c.Connect();
    EXPECT_EQ(c.ReadReply("220"), "220");
    EXPECT_EQ(c.IOHandler(), mine);
}
