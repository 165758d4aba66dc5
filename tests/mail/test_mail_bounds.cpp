// What one server can make the line connection and the POP3 client hold, and
// for how long: replies and headers are capped, a session has a deadline.

#include "mail/IdExceptions.h"
#include "mail/IdMessage.h"
#include "mail/MailLimits.h"
#include "mail/Pop3Client.h"
#include "support/ScriptedServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

namespace
{

void Attach(TIdPOP3& client, const ScriptedServer& server, int readTimeout = 2000, int operationTimeout = 0)
{
    client.Host = server.Host();
    client.Port = server.Port();
    client.AutoLogin = false;
    client.ConnectTimeout = 2000;
    client.ReadTimeout = readTimeout;
    client.OperationTimeout = operationTimeout;
}

const char* const Greeting = "S: +OK ready\nC: CAPA\nS: -ERR\n";

// Each unbounded read that a server could feed for ever, flooded past its cap.
struct FloodCase
{
    const char* label;
    std::string script;
    bool stat; // the flood answers STAT rather than the greeting
};

class FloodedReply : public testing::TestWithParam<FloodCase>
{
};

TEST_P(FloodedReply, IsCutAtTheCapAndFailsTheOperation)
{
    ScriptedServer srv(GetParam().script);
    TIdPOP3 pop;
    Attach(pop, srv);
    if (GetParam().stat)
    {
        pop.Connect();
        EXPECT_THROW(pop.CountMessages(), EIdReplyTooLarge);
    }
    else
        EXPECT_THROW(pop.Connect(), EIdReplyTooLarge);
    pop.Disconnect(false);
    srv.WaitDone(2000);
}

const FloodCase kFloods[] = {
    {"CapaOfOneCharacterLines", "S: +OK ready\nC: CAPA\nS: +OK\nFLOOD 20000000 A\\r\\n\n", false},
    {"CapaOfLongLines", "S: +OK ready\nC: CAPA\nS: +OK\nFLOOD 20000000 " + std::string(8000, 'B') + "\\r\\n\n",
     false},
    {"GreetingContinuations", "FLOOD 20000000 +OK- more\\r\\n\n", false},
    {"StatContinuations", std::string(Greeting) + "C: STAT\nFLOOD 20000000 +OK- 1 2\\r\\n\n", true},
};

INSTANTIATE_TEST_SUITE_P(Pop3, FloodedReply, testing::ValuesIn(kFloods),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(ReplyCaps, RepliesJustInsideTheCapsAreRead)
{
    std::string capa;
    for (int i = 0; i < MaxReplyLines; ++i)
        capa += "X\\r\\n";
    ScriptedServer srv(std::string("S: +OK ready\nC: CAPA\nS: +OK\nR: ") + capa + ".\\r\\n\n");
    TIdPOP3 pop;
    Attach(pop, srv);
    pop.Connect();
    EXPECT_EQ(pop.ServerCapabilities.size(), static_cast<std::size_t>(MaxReplyLines));
    pop.Disconnect(false);
}

TEST(ReplyCaps, EndlessHeaderFailsTheFetch)
{
    ScriptedServer srv(std::string(Greeting) + "C: TOP 1 0\nS: +OK\nFLOOD 20000000 X-Junk: a\\r\\n\n");
    TIdPOP3 pop;
    Attach(pop, srv);
    pop.Connect();
    TIdMessage message;
    EXPECT_THROW(pop.FetchHeader(1, message), EIdReplyTooLarge);
    EXPECT_TRUE(message.HeaderLines.Empty());
    pop.Disconnect(false);
    srv.WaitDone(2000);
}

TEST(ReplyCaps, HeaderLinePastTheLineCapKeepsItsStartAndTheSessionInStep)
{
    ScriptedServer srv(std::string(Greeting) + "C: TOP 1 0\nS: +OK\nS: Received: " + std::string(40000, 'x')
                       + "\nS: Subject: after\nS: .\nC: STAT\nS: +OK 1 9\n");
    TIdPOP3 pop;
    Attach(pop, srv);
    pop.Connect();
    TIdMessage message;
    pop.FetchHeader(1, message);
    EXPECT_EQ(message.Subject, "after");
    EXPECT_EQ(message.HeaderLines[0].size(), static_cast<std::size_t>(pop.IOHandler()->MaxLineLength));
    EXPECT_EQ(pop.CountMessages(), 1);
    EXPECT_EQ(pop.IOHandler()->MaxLineAction, maException);
    pop.Disconnect(false);
}

// Blank lines used to be skipped up to 2^31 times.
TEST(ReadLineSkippingBlanks, EndlessBlankLinesEndAfterTheLimit)
{
    ScriptedServer srv("S: +OK ready\nC: CAPA\nFLOOD 20000000 \\r\\n\n");
    TIdPOP3 pop;
    Attach(pop, srv);
    pop.AutoLogin = false;
    pop.TIdTCPClientCustom::Connect();
    pop.ReadReply("+OK");
    pop.IOHandler()->WriteLine("CAPA");
    EXPECT_EQ(pop.IOHandler()->ReadLineSkippingBlanks(), "");
    pop.Disconnect(false);
    srv.WaitDone(2000);
}

// The read time-out applied per wait only: a byte now and then, or blank
// lines, kept a session going indefinitely.
TEST(SessionDeadline, ByteAtATimeServerFailsAtTheDeadline)
{
    ScriptedServer srv("DRIP 100 +OK a greeting that takes its time to arrive\\r\\n\n");
    TIdPOP3 pop;
    Attach(pop, srv, 1000, 500);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(pop.Connect(), EIdOperationTimeout);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    pop.Disconnect(false);
    srv.WaitDone(2000);
}

TEST(SessionDeadline, CountsFromTheConnectAndIsRenewedByTheNext)
{
    ScriptedServer srv(std::string(Greeting) + "C: STAT\nWAIT CLOSE\nACCEPT\n" + Greeting +
                       "C: STAT\nS: +OK 3 4\n");
    TIdPOP3 pop;
    Attach(pop, srv, 2000, 300);
    pop.Connect();
    // The deadline is not a read time-out: the error says the session ran out.
    try
    {
        pop.CountMessages();
        FAIL() << "no time-out";
    }
    catch (const EIdOperationTimeout& e)
    {
        EXPECT_STREQ(e.what(), "Operation timed out.");
    }
    pop.Disconnect(false);
    pop.Connect();
    EXPECT_EQ(pop.CountMessages(), 3);
    pop.Disconnect(false);
}

TEST(SessionDeadline, NoneByDefault)
{
    ScriptedServer srv(std::string(Greeting) + "C: STAT\nSLEEP 300\nS: +OK 1 2\n");
    TIdPOP3 pop;
    Attach(pop, srv);
    EXPECT_EQ(TIdPOP3().OperationTimeout, 0);
    pop.Connect();
    EXPECT_EQ(pop.CountMessages(), 1);
    pop.Disconnect(false);
}

TEST(Pop3Numbers, NegativeListSizeIsNoSize)
{
    for (const char* text : {"1 -5", "1 -2147483648", "1 -0x10", "1 lots", "1 99999999999"})
        EXPECT_EQ(POP3ListSize(text), -1) << text;
    EXPECT_EQ(POP3ListSize("1 0"), 0);
    EXPECT_EQ(POP3ListSize("1 2147483647"), 2147483647);
}

} // namespace
