// The real check cycle and POP3 client against servers that misbehave on
// purpose. Each server is the first of two accounts: it must end as an error
// row or a correct list within its short limits, and the well-behaved second
// account must still be listed.

#include "FakeHost.h"

#include "check/CheckCycle.h"
#include "check/Pop3CheckClient.h"
#include "check/Utils.h"
#include "mail/MailLimits.h"
#include "mail/Pop3Client.h"
#include "support/FakeClock.h"
#include "support/Rows.h"
#include "support/ScriptedServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <string>

namespace
{

// Short stand-ins for the program's 10 s connect, 30 s per read and 120 s per
// account.
constexpr int TestConnectTimeout = 1000;
constexpr int TestReadTimeout = 400;
constexpr int TestOperationTimeout = 800;
// Every case ends well inside this; a hang would not.
constexpr long long CaseBoundMs = 5000;

const char* const Login = R"(
    S: +OK ready
    C: CAPA
    S: -ERR no
    C~ USER
    S: +OK
    C~ PASS
    S: +OK
)";

// The same with a server that takes commands before it has answered.
// A server that keeps no unique ids.
const std::string NoUidl = "C: UIDL\nS: -ERR no unique ids\n";

const char* const PipeliningLogin = R"(
    S: +OK ready
    C: CAPA
    R: +OK\r\nPIPELINING\r\n.\r\n
    C~ USER
    S: +OK
    C~ PASS
    S: +OK
)";

std::string HeaderText(int i)
{
    return "+OK\\r\\nFrom: sender" + std::to_string(i) + "@example.org\\r\\nSubject: message " +
           std::to_string(i) + "\\r\\n.\\r\\n";
}

std::string Header(int i)
{
    // One send per answer: small sends one after another would wait for the
    // client's delayed acknowledgement.
    return "R: " + HeaderText(i) + "\n";
}

// Header and size of message i asked together, answered in one send.
std::string Pipelined(int i, std::string listReply = {})
{
    const std::string n = std::to_string(i);
    if (listReply.empty())
        listReply = "+OK " + n + " 100";
    return "C: TOP " + n + " 0\nC: LIST " + n + "\nR: " + HeaderText(i) + listReply + "\\r\\n\n";
}

// A maildrop of `listed` messages from number `first` on behind a STAT of
// `stat`, each with its size. `uidl`: the server's answer to "UIDL", one it
// cannot be trusted by.
std::string Maildrop(const std::string& stat, int listed, const std::string& size = "100",
                     const std::string& uidl = NoUidl, int first = 1)
{
    std::string script = std::string(Login) + "C: STAT\nS: +OK " + stat + "\n" + uidl;
    for (int i = first; i < first + listed; ++i)
        script += "C: TOP " + std::to_string(i) + " 0\n" + Header(i) + "C: LIST " + std::to_string(i) +
                  "\nS: +OK " + std::to_string(i) + " " + size + "\n";
    return script + "C: QUIT\nS: +OK\n";
}

// A listing of `count` unique ids, "1 id1" on.
std::string UidlOf(int count)
{
    std::string listing = "C: UIDL\nR: +OK\\r\\n";
    for (int i = 1; i <= count; ++i)
        listing += std::to_string(i) + " id" + std::to_string(i) + "\\r\\n";
    return listing + ".\\r\\n\n";
}

struct HostileCase
{
    std::string label;
    std::string script; // empty: nothing listens on the port
    int listed;         // message rows expected; -1: an error row
    std::string hint;   // the error row's text, or the start of it
    int maxMessages = MaxListedMessages;
    std::string size = HumanSize(100); // size column of the listed rows
    int first = 1;                     // the first listed message's number
};

const HostileCase kCases[] = {
    {"Refused", "", -1, "Socket Error # 10061"},
    {"ResetMidGreeting", "R: +OK hel\nRESET\n", -1, "Socket Error # 10054"},
    {"SilentAfterGreeting", "S: +OK ready\nSTALL\n", -1, "Read Timeout"},
    // Each byte comes well inside the read time-out; only the account's
    // deadline ends it.
    {"OneBytePerFewHundredMs", "DRIP 150 +OK a greeting that never seems to end\\r\\n\n", -1,
     "Operation timed out."},
    {"HundredMegabyteLine", "FLOOD 104857600 x\n", -1, "Max line length exceeded."},
    {"EndlessContinuation", "FLOOD 104857600 +OK- more\\r\\n\n", -1, "Reply too large."},
    {"EndlessCapa", "S: +OK ready\nC: CAPA\nS: +OK\nFLOOD 104857600 X\\r\\n\n", -1, "Reply too large."},
    {"EndlessHeader",
     std::string(Login) + "C: STAT\nS: +OK 1 10\n" + NoUidl + "C: TOP 1 0\nS: +OK\nFLOOD 104857600 X-Junk: a\\r\\n\n", -1,
     "Reply too large."},
    {"Stat2Pow31", std::string(Login) + "C: STAT\nS: +OK 2147483648 0\nC: QUIT\nS: +OK\n", -1,
     "'2147483648' is not a valid integer value"},
    {"Stat2Pow63", std::string(Login) + "C: STAT\nS: +OK 9223372036854775808 0\nC: QUIT\nS: +OK\n", -1,
     "'9223372036854775808' is not a valid integer value"},
    {"StatIntMax", std::string(Login) + "C: STAT\nS: +OK 2147483647 0\nC: QUIT\nS: +OK\n", -1,
     "The mailbox holds 2147483647 messages; at most 1000000 can be checked."},
    // The newest are listed, so that new mail is among them.
    {"HundredThousandMessages", Maildrop("100000 0", 500, "100", NoUidl, 99501), 500,
     "Only the newest 500 of 100000 messages are listed.", 500, HumanSize(100), 99501},
    // Every identity is read, the newest kept: their headers alone are asked.
    {"NewestByUniqueIds", Maildrop("10 1000", 3, "100", UidlOf(10), 8), 3,
     "Only the newest 3 of 10 messages are listed.", 3, HumanSize(100), 8},
    {"NegativeListSize", Maildrop("2 200", 2, "-5"), 2, "", MaxListedMessages, HumanSize(-1)},
    {"NonNumericListSize", Maildrop("2 200", 2, "lots"), 2, "", MaxListedMessages, HumanSize(-1)},
    {"PipelinedSizeRefused",
     std::string(PipeliningLogin) + "C: STAT\nS: +OK 1 100\n" + NoUidl + Pipelined(1, "-ERR cannot size it") +
         "C: QUIT\nS: +OK\n",
     -1, "cannot size it"},
    {"PipelinedHeaderRefused",
     std::string(PipeliningLogin) +
         "C: STAT\nS: +OK 1 100\n" + NoUidl + "C: TOP 1 0\nC: LIST 1\nR: -ERR no header\\r\\n-ERR no size\\r\\n\n"
         "C: QUIT\nS: +OK\n",
     -1, "no header"},
    {"PipelinedSilentAfterHeader",
     std::string(PipeliningLogin) + "C: STAT\nS: +OK 1 100\n" + NoUidl + "C: TOP 1 0\nC: LIST 1\n" + Header(1) + "STALL\n", -1,
     "Read Timeout"},
    // Unique ids that cannot be keyed on: the messages are known by their
    // fingerprints instead, each its own row.
    {"DuplicateUniqueIds", Maildrop("2 200", 2, "100", "C: UIDL\nR: +OK\\r\\n1 same\\r\\n2 same\\r\\n.\\r\\n\n"), 2, ""},
    {"UidlListingDisagreesWithStat", Maildrop("2 200", 2, "100", "C: UIDL\nR: +OK\\r\\n1 a\\r\\n.\\r\\n\n"), 2, ""},
    {"UniqueIdOver70", Maildrop("1 100", 1, "100", "C: UIDL\nR: +OK\\r\\n1 " + std::string(71, 'u') + "\\r\\n.\\r\\n\n"), 1, ""},
    {"HtmlInErr", "S: -ERR <h1><font color=red>Boom</font></h1><img src=file:///etc/passwd>\n", -1,
     "<h1><font color=red>Boom</font></h1><img src=file:///etc/passwd>"},
};

class HostileHost : public TFakeHost
{
public:
    TIdPOP3 Pop;
    TPop3CheckClient Check{Pop};

    HostileHost()
    {
        Check.ConnectTimeout = TestConnectTimeout;
        Check.ReadTimeout = TestReadTimeout;
        Check.OperationTimeout = TestOperationTimeout;
    }
    // The program's own limits on a clock that serves them at once, for
    // servers that fall silent; a dripping server is paced in real time.
    void OnFakeClock()
    {
        Check.ConnectTimeout = 10000;
        Check.ReadTimeout = 30000;
        Check.OperationTimeout = AccountCheckTimeout;
        Check.Clock = std::make_shared<FakeClock>();
    }
    // Every account goes to the real POP3 client.
    TCheckCycle Cycle() { return TCheckCycle(List, *this); }
};

long VmHWMKilobytes()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

// Its shadow memory and quarantine count as resident, so the bound is the
// plain build's.
bool UnderAddressSanitizer()
{
#if defined(__SANITIZE_ADDRESS__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    return true;
#else
    return false;
#endif
#else
    return false;
#endif
}

class HostileServer : public testing::TestWithParam<HostileCase>
{
};

TEST_P(HostileServer, EndsAsErrorRowOrListAndTheNextAccountIsChecked)
{
    const HostileCase& c = GetParam();
    std::unique_ptr<ScriptedServer> bad;
    if (!c.script.empty())
        bad = std::make_unique<ScriptedServer>(c.script, 3000);
    ScriptedServer good(Maildrop("1 100", 1));

    HostileHost host;
    if (c.script.find("STALL") != std::string::npos)
        host.OnFakeClock();
    host.AddAccount("Bad", "127.0.0.1");
    host.AccountList[0].Port = std::to_string(bad ? bad->Port() : ScriptedServer::UnusedPort());
    host.AddAccount("Good", "127.0.0.1");
    host.AccountList[1].Port = std::to_string(good.Port());
    TCheckCycle cycle = host.Cycle();
    cycle.MaxMessages = c.maxMessages;

    const auto start = std::chrono::steady_clock::now();
    TInlineRounds(cycle, host.Check, host.Check).Run(host.Snapshot());
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(elapsed, CaseBoundMs);

    const std::vector<TMessageRow> rows = Entries(host.List);
    int badRows = 0;
    for (const TMessageRow& row : rows)
        if (row.Caption == "Bad" && row.ImageIndex != riError)
        {
            ++badRows;
            EXPECT_EQ(row.SubItems.at(1), "message " + std::to_string(c.first + badRows - 1));
            EXPECT_EQ(row.SubItems.at(2), c.size);
        }
    const TMessageRow* note = nullptr;
    for (const TMessageRow& row : rows)
        if (row.Caption == "Bad" && row.ImageIndex == riError)
            note = &row;
    if (c.listed < 0)
    {
        EXPECT_EQ(badRows, 0);
        ASSERT_NE(note, nullptr);
        EXPECT_EQ(note->Hint.substr(0, c.hint.size()), c.hint) << note->Hint;
        EXPECT_EQ(host.Picture, tpFailure);
    }
    else
    {
        EXPECT_EQ(badRows, c.listed);
        EXPECT_EQ(note ? note->Hint : std::string("(none)"), c.hint.empty() ? "(none)" : c.hint);
        EXPECT_EQ(host.Picture, tpIdle);
    }
    ASSERT_FALSE(rows.empty());
    int goodRows = 0;
    for (const TMessageRow& row : rows)
        if (row.Caption == "Good")
        {
            ++goodRows;
            EXPECT_EQ(row.ImageIndex, riMessage);
            EXPECT_EQ(row.SubItems.at(0), "sender1@example.org");
        }
    EXPECT_EQ(goodRows, 1);
    // A dripping or flooding server notices the hang-up at its next send.
    if (bad)
        bad->WaitDone(2000);
    EXPECT_TRUE(good.WaitClientClosed(2000));
    EXPECT_TRUE(good.Ok());

    // The high-water mark of the whole process: nothing the server sent may
    // have been held at once.
    const long hwm = VmHWMKilobytes();
    ASSERT_GT(hwm, 0);
    if (!UnderAddressSanitizer())
        EXPECT_LT(hwm, 100 * 1024) << "VmHWM " << hwm << " kB";
}

INSTANTIATE_TEST_SUITE_P(Matrix, HostileServer, testing::ValuesIn(kCases), RowLabel());


// A malformed Q escape or a sender the parser rejects made the whole account
// an error row on every check. Such fields are listed as they came, beside the
// account's other messages; an overlong subject is cut to what a row keeps.
TEST(HostileHeaders, BadFieldsAreListedAsTheyCame)
{
    const std::string longSubject(3 * MaxRowTextLength, 's');
    ScriptedServer srv(std::string(Login) + "C: STAT\nS: +OK 3 300\n" + NoUidl +
                       "C: TOP 1 0\nR: +OK\\r\\nFrom: a@x\\r\\nSubject: =?ISO-8859-1?Q?50=_off?=\\r\\n.\\r\\n\n"
                       "C: LIST 1\nS: +OK 1 100\n"
                       "C: TOP 2 0\nR: +OK\\r\\nFrom: <b@x> c@y\\r\\nSubject: fine\\r\\n.\\r\\n\n"
                       "C: LIST 2\nS: +OK 2 100\n"
                       "C: TOP 3 0\nR: +OK\\r\\nFrom: d@x\\r\\nSubject: " + longSubject + "\\r\\n.\\r\\n\n"
                       "C: LIST 3\nS: +OK 3 100\n"
                       "C: QUIT\nS: +OK\n");
    HostileHost host;
    host.AddAccount("Home", "127.0.0.1");
    host.AccountList[0].Port = std::to_string(srv.Port());
    TCheckCycle cycle = host.Cycle();
    TInlineRounds(cycle, host.Check, host.Check).Run(host.Snapshot());
    const std::vector<TMessageRow> rows = Entries(host.List);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].SubItems.at(0), "a@x");
    EXPECT_EQ(rows[0].SubItems.at(1), "=?ISO-8859-1?Q?50=_off?=");
    EXPECT_EQ(rows[1].SubItems.at(0), "<b@x> c@y");
    EXPECT_EQ(rows[1].SubItems.at(1), "fine");
    EXPECT_EQ(rows[2].SubItems.at(1), longSubject.substr(0, MaxRowTextLength));
    for (const TMessageRow& row : rows)
        EXPECT_EQ(row.ImageIndex, riMessage);
    EXPECT_EQ(host.Picture, tpIdle);
    EXPECT_TRUE(srv.WaitClientClosed(2000));
}

// Where the server takes commands ahead, every message costs one round trip
// for its header and size; without unique ids a listed one is known by them.
TEST(Pop3Pipelining, EveryMessageAsksForHeaderAndSizeAtOnce)
{
    ScriptedServer srv(std::string(PipeliningLogin) + "C: STAT\nS: +OK 1 100\n" + NoUidl + Pipelined(1) +
                       "C: QUIT\nS: +OK\nACCEPT\n" + PipeliningLogin + "C: STAT\nS: +OK 2 200\n" + NoUidl +
                       Pipelined(1) + Pipelined(2) + "C: QUIT\nS: +OK\n");
    HostileHost host;
    host.AddAccount("Home", "127.0.0.1");
    host.AccountList[0].Port = std::to_string(srv.Port());
    TCheckCycle cycle = host.Cycle();
    TInlineRounds(cycle, host.Check, host.Check).Run(host.Snapshot());
    TInlineRounds(cycle, host.Check, host.Check).Run(host.Snapshot());
    const std::vector<TMessageRow> rows = Entries(host.List);
    ASSERT_EQ(rows.size(), 2u);
    for (int i = 0; i < 2; ++i)
    {
        EXPECT_EQ(rows[i].SubItems.at(1), "message " + std::to_string(i + 1));
        EXPECT_EQ(rows[i].SubItems.at(2), HumanSize(100));
    }
    EXPECT_EQ(host.Picture, tpIdle);
    EXPECT_TRUE(srv.WaitClientClosed(2000));
    EXPECT_TRUE(srv.Ok());
}

} // namespace
