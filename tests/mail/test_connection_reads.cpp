// Receives with and without a read limit must end alike: a limited read
// takes what has arrived at once and waits only when nothing has. And a
// bounded connect that is made at once leaves the same socket behind as one
// made on the connect thread.
#include "mail/IdExceptions.h"
#include "mail/IdTCPConnection.h"
#include "mail/TlsIOHandler.h"
#include "support/OneLineReply.h"
#include "support/ScriptedServer.h"
#include "support/TestHelpers.h"
#include "support/TestTls.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace
{

struct Limits
{
    int Connect;
    int Read;
};

// No limit of either kind, a connect limit alone, a read limit alone, both.
const Limits kLimits[] = {{0, -1}, {10000, -1}, {-1, -1}, {0, 5000}, {10000, 5000}};

std::unique_ptr<TIdTCPClientCustom> ClientFor(const ScriptedServer& server, Limits limits)
{
    auto c = std::make_unique<TIdTCPClientCustom>(std::make_unique<TOneLineReply>());
    c->Host = server.Host();
    c->Port = server.Port();
    c->ConnectTimeout = limits.Connect;
    c->ReadTimeout = limits.Read;
    return c;
}

std::string Trace(Limits limits)
{
    return "connect limit " + std::to_string(limits.Connect) + ", read limit " + std::to_string(limits.Read);
}

} // namespace

TEST(ConnectionReads, LinesThatComeLaterAreWaitedFor)
{
    for (Limits limits : kLimits)
    {
        SCOPED_TRACE(Trace(limits));
        // Lines in one burst, then one after a pause: a socket left
        // non-blocking by the connect would fail the read that has to wait.
        ScriptedServer srv(R"(
            S: one
            S: two
            SLEEP 150
            S: three
        )");
        auto c = ClientFor(srv, limits);
        c->Connect();
        TIdIOHandler& io = *c->IOHandler();
        EXPECT_EQ(io.ReadLine(), "one");
        EXPECT_EQ(io.ReadLine(), "two");
        EXPECT_EQ(io.ReadLine(), "three");
        EXPECT_FALSE(io.LastReadTimedOut());
        c->Disconnect(false);
    }
}

TEST(ConnectionReads, PeerThatClosesOrResetsEndsTheReadTheSameWay)
{
    for (Limits limits : kLimits)
    {
        SCOPED_TRACE(Trace(limits));
        {
            ScriptedServer srv(R"(
                S: last words
                CLOSE
            )");
            auto c = ClientFor(srv, limits);
            c->Connect();
            EXPECT_EQ(c->IOHandler()->ReadLine(), "last words");
            EXPECT_EQ(MessageOf<EIdConnClosedGracefully>([&] { c->IOHandler()->ReadLine(); }),
                      "Connection Closed Gracefully.");
        }
        {
            ScriptedServer srv(R"(
                S: partial
                SLEEP 50
                RESET
            )");
            auto c = ClientFor(srv, limits);
            c->Connect();
            EXPECT_EQ(c->IOHandler()->ReadLine(), "partial");
            try
            {
                c->IOHandler()->ReadLine();
                ADD_FAILURE() << "read past a reset";
            }
            catch (const EIdSocketError& e)
            {
                EXPECT_EQ(e.LastError, 10054);
            }
        }
    }
}

TEST(ConnectionReads, ReadThatWouldBlockWaitsOutItsLimit)
{
    ScriptedServer srv(R"(
        S: first
        STALL
    )");
    auto c = ClientFor(srv, {10000, 100});
    c->Connect();
    TIdIOHandler& io = *c->IOHandler();
    EXPECT_EQ(io.ReadLine(), "first");
    EXPECT_EQ(io.ReadLine(), "");
    EXPECT_TRUE(io.LastReadTimedOut());
    // The same wait through the raising read of a reply.
    EXPECT_EQ(MessageOf<EIdReadTimeout>([&] { c->ReadReply(""); }), "Read Timeout");
    c->Disconnect(false);
}

// The socket keeps the last limit it was given: a later read with another
// limit, or with none, must not inherit it.
TEST(ConnectionReads, EachReadKeepsItsOwnLimit)
{
    ScriptedServer srv(R"(
        S: first
        SLEEP 300
        S: second
        SLEEP 300
        S: third
    )");
    auto c = ClientFor(srv, {10000, 100});
    c->Connect();
    TIdIOHandler& io = *c->IOHandler();
    EXPECT_EQ(io.ReadLine(), "first");
    EXPECT_EQ(io.ReadLine(), "") << "the short limit was not kept";
    EXPECT_TRUE(io.LastReadTimedOut());
    io.ReadTimeout = 5000;
    EXPECT_EQ(io.ReadLine(), "second");
    io.ReadTimeout = 0; // no limit at all
    EXPECT_EQ(io.ReadLine(), "third");
    EXPECT_FALSE(io.LastReadTimedOut());
    c->Disconnect(false);
}

class ConnectionReadsTls : public testing::Test
{
protected:
    void SetUp() override
    {
        Ca = std::make_unique<TestCa>(Folder.Path(), "reads test CA");
        Trust.Set("SSL_CERT_FILE", Ca->CaFile());
        Trust.Set("SSL_CERT_DIR", Folder.Path());
    }

    TempFolder Folder{"tls-reads"};
    std::unique_ptr<TestCa> Ca;
    ScopedEnvironment Trust;
};

// Several lines in one record: those already taken out of the session are
// read without a wait, and the read after them still keeps its limit.
TEST_F(ConnectionReadsTls, LinesAlreadyDecryptedAreReadThenTheLimitHolds)
{
    TlsTestServer server(Ca->Issue("reads", {"127.0.0.1"}), "one\r\ntwo\r\nthree");
    TIdTCPClientCustom c(std::make_unique<TOneLineReply>());
    c.Host = "127.0.0.1";
    c.Port = server.Port();
    c.ConnectTimeout = 2000;
    c.ReadTimeout = 200;
    TIdTlsIOHandler* tls = PrepareTLSHandler(c, utUseImplicitTLS);
    ASSERT_NE(tls, nullptr);
    c.Connect();
    ASSERT_TRUE(tls->TlsActive());
    EXPECT_EQ(tls->ReadLine(), "one");
    EXPECT_EQ(tls->ReadLine(), "two");
    EXPECT_EQ(tls->ReadLine(), "three");
    EXPECT_FALSE(tls->LastReadTimedOut());
    EXPECT_EQ(tls->ReadLine(), "");
    EXPECT_TRUE(tls->LastReadTimedOut());
    c.Disconnect(false);
}
