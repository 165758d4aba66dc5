// The JMAP check client against transcripts on a loopback server: what a
// first and a repeat check send and list, and that every hostile answer ends
// as an error row within the limits.

#include "check/CheckCycle.h"
#include "check/JmapCheckClient.h"
#include "check/JmapMemory.h"
#include "support/ScriptedServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

namespace
{

// Escapes a body for a transcript's "R:" step.
std::string Raw(const std::string& bytes)
{
    std::string out;
    for (const char c : bytes)
        out += c == '\\' ? "\\\\" : c == '\n' ? "\\n" : c == '\r' ? "\\r" : std::string(1, c);
    return out;
}

// One HTTP answer; the connection after it is the next request's.
std::string Answer(const std::string& json, const std::string& status = "200 OK", const std::string& extra = "")
{
    return "R: " +
           Raw("HTTP/1.1 " + status + "\r\nContent-Type: application/json\r\n" + extra +
               "Content-Length: " + std::to_string(json.size()) + "\r\n\r\n" + json) +
           "\n";
}

// Requests and their answers, each request on a connection of its own.
std::string Script(const std::string& exchanges)
{
    std::string script;
    std::size_t at = 0;
    while (at < exchanges.size())
    {
        const std::size_t end = std::min(exchanges.find('\n', at), exchanges.size());
        const std::string line = exchanges.substr(at, end - at);
        if (line.rfind("C~ ", 0) == 0 && !script.empty())
            script += "ACCEPT\n";
        script += line + "\n";
        at = end + 1;
    }
    return script;
}

const std::string SessionJson =
    R"({"capabilities":{"urn:ietf:params:jmap:core":{"maxObjectsInGet":500,"maxCallsInRequest":16},)"
    R"("urn:ietf:params:jmap:mail":{}},"accounts":{"ann":{}},)"
    R"("primaryAccounts":{"urn:ietf:params:jmap:mail":"ann"},"apiUrl":"/jmap/","state":"0"})";

const std::string Mailboxes =
    R"({"methodResponses":[["Mailbox/get",{"state":"m1","list":[)"
    R"({"id":"P1","name":"Inbox","parentId":null,"role":"inbox"},)"
    R"({"id":"P2","name":"Lists","parentId":"P1","role":null}],"notFound":[]},"m"]]})";

std::string Email(const std::string& id, const std::string& subject, const std::string& at)
{
    return R"({"id":")" + id + R"(","mailboxIds":{"P1":true},"keywords":{},"from":[{"name":"Ann","email":"ann@x.org"}],)"
           R"("subject":")" + subject + R"(","size":100,"messageId":[")" + id + R"(@x.org"],"receivedAt":")" + at +
           R"(","preview":"hi"})";
}

const std::string FullCheck =
    R"({"methodResponses":[["Email/get",{"state":"e1","list":[],"notFound":[]},"s"],)"
    R"(["Email/query",{"ids":["M2","M1"],"total":2},"q0"],)"
    R"(["Email/get",{"state":"e1","list":[)" +
    Email("M2", "second", "2026-12-10T02:00:00Z") + "," + Email("M1", "first", "2026-12-10T01:00:00Z") +
    R"(],"notFound":[]},"g0"]]})";

class JmapCheck : public ::testing::Test
{
protected:
    Account AccountAt(const ScriptedServer& srv) const
    {
        Account a;
        a.JMAP = true;
        a.Host = "http://127.0.0.1:" + std::to_string(srv.Port()) + "/.well-known/jmap";
        a.UserName = "ann";
        a.Password = "secret";
        return a;
    }

    // One check as the cycle runs it, the client's request count kept.
    TAccountReport Check(const ScriptedServer& srv, const std::unordered_set<std::string>& known = {})
    {
        TJmapCheckClient client(limits, nullptr);
        client.ReadPreviews = true;
        client.SetAccount(AccountAt(srv), 0);
        TAccountReport report = CheckSession(client, MaxListedMessages, known);
        requests = client.Requests();
        return report;
    }

    TSessionLimits limits{1000, 1000, 3000, nullptr, nullptr, std::make_shared<TJmapMemory>()};
    int requests = 0;
};

} // namespace

TEST_F(JmapCheck, FirstCheckListsTheUnseenOldestFirstAndARepeatAsksOnlyWhatChanged)
{
    ScriptedServer srv(Script("C~ GET /.well-known/jmap HTTP/1.1\n" +
                       Answer("", "301 Moved Permanently", "Location: /jmap/session\r\n") +
                       "C~ GET /jmap/session HTTP/1.1\n" + Answer(SessionJson) +
                       "C~ POST /jmap/ HTTP/1.1\n" + Answer(Mailboxes) + "C~ POST /jmap/ HTTP/1.1\n" +
                       Answer(FullCheck) + "C~ POST /jmap/ HTTP/1.1\n" +
                       Answer(R"({"methodResponses":[["Email/changes",{"oldState":"e1","newState":"e2",)"
                              R"("hasMoreChanges":false,"created":["M3"],"updated":["M1","M3"],"destroyed":[]},"c"],)"
                              R"(["Email/get",{"state":"e2","list":[)" +
                              Email("M3", "third", "2026-12-10T03:00:00Z") +
                              R"(],"notFound":[]},"n"],["Email/get",{"state":"e2","list":[{"id":"M1",)"
                              R"("mailboxIds":{"P1":true},"keywords":{"$seen":true}},)" +
                              Email("M3", "third", "2026-12-10T03:00:00Z") + R"(],"notFound":[]},"u"],)"
                              R"(["Mailbox/changes",{"oldState":"m1","newState":"m1","hasMoreChanges":false,)"
                              R"("created":[],"updated":[],"destroyed":[]},"m"]]})")));
    const TAccountReport first = Check(srv);
    ASSERT_EQ(first.Error, "");
    EXPECT_EQ(requests, 4);
    EXPECT_EQ(first.Ids, (std::vector<std::string>{"j:M1", "j:M2"}));
    ASSERT_EQ(first.Fetched.size(), 2u);
    EXPECT_EQ(first.Fetched[0].Header.Subject, "first");
    EXPECT_EQ(first.Fetched[0].Header.From, "Ann <ann@x.org>");
    EXPECT_EQ(first.Fetched[0].Header.MessageId, "<M1@x.org>");
    EXPECT_EQ(first.Fetched[0].Header.Preview.Text(), "hi");
    EXPECT_EQ(first.Fetched[0].Size, 100);

    // M1 was read elsewhere, M3 came (and is named as changed too): one
    // request, and only M3 is new, listed once.
    const TAccountReport repeat = Check(srv, {"j:M1", "j:M2"});
    ASSERT_EQ(repeat.Error, "");
    EXPECT_EQ(requests, 1);
    EXPECT_EQ(repeat.Ids, (std::vector<std::string>{"j:M2", "j:M3"}));
    ASSERT_EQ(repeat.Fetched.size(), 1u);
    EXPECT_EQ(repeat.Fetched[0].Header.Subject, "third");
    const std::string sent = srv.Received();
    EXPECT_NE(sent.find(R"("sinceState":"e1")"), std::string::npos);
    EXPECT_NE(sent.find(R"("inMailbox":"P1","notKeyword":"$seen")"), std::string::npos);
    EXPECT_NE(sent.find("Authorization: Basic YW5uOnNlY3JldA=="), std::string::npos);
}

TEST_F(JmapCheck, AServerThatCannotTellChangesGetsOneFullCheck)
{
    ScriptedServer srv(Script("C~ GET /.well-known/jmap\n" + Answer(SessionJson) + "C~ POST\n" + Answer(Mailboxes) +
                       "C~ POST\n" + Answer(FullCheck) + "C~ POST\n" +
                       Answer(R"({"methodResponses":[["error",{"type":"cannotCalculateChanges"},"c"],)"
                              R"(["error",{"type":"invalidResultReference"},"n"],)"
                              R"(["error",{"type":"invalidResultReference"},"u"],)"
                              R"(["error",{"type":"cannotCalculateChanges"},"m"]]})") +
                       "C~ POST\n" + Answer(FullCheck)));
    ASSERT_EQ(Check(srv).Error, "");
    const TAccountReport again = Check(srv, {"j:M1", "j:M2"});
    EXPECT_EQ(again.Error, "");
    EXPECT_EQ(requests, 2);
    EXPECT_EQ(again.Ids, (std::vector<std::string>{"j:M1", "j:M2"}));
    EXPECT_TRUE(again.Fetched.empty());
}

TEST_F(JmapCheck, AStateThatNeverMovesCannotHideMailPastTheFullCheck)
{
    const std::string unchanged =
        R"({"methodResponses":[["Email/changes",{"oldState":"e1","newState":"e1","hasMoreChanges":false,)"
        R"("created":[],"updated":[],"destroyed":[]},"c"],["Email/get",{"state":"e1","list":[]},"n"],)"
        R"(["Email/get",{"state":"e1","list":[]},"u"],["Mailbox/changes",{"oldState":"m1","newState":"m1",)"
        R"("hasMoreChanges":false,"created":[],"updated":[],"destroyed":[]},"m"]]})";
    std::string script = "C~ GET\n" + Answer(SessionJson) + "C~ POST\n" + Answer(Mailboxes) + "C~ POST\n" +
                         Answer(FullCheck);
    for (int i = 0; i < JmapRepeatsBeforeFull; ++i)
        script += "C~ POST\n" + Answer(unchanged);
    // The mail the server never told of, found by the full check after them.
    std::string withThird = FullCheck;
    withThird.replace(withThird.find(R"(["M2","M1"])"), 11, R"(["M3","M2","M1"])");
    withThird.replace(withThird.find(R"([{"id":"M2")"), 2, "[" + Email("M3", "third", "2026-12-10T03:00:00Z") + ",{");
    script += "C~ POST\n" + Answer(withThird);
    ScriptedServer srv(Script(script));
    ASSERT_EQ(Check(srv).Error, "");
    for (int i = 0; i < JmapRepeatsBeforeFull; ++i)
        ASSERT_EQ(Check(srv, {"j:M1", "j:M2"}).Ids.size(), 2u) << "repeat " << i;
    const TAccountReport full = Check(srv, {"j:M1", "j:M2"});
    EXPECT_EQ(full.Error, "");
    EXPECT_EQ(full.Ids, (std::vector<std::string>{"j:M1", "j:M2", "j:M3"}));
}

// Hands out "old" until asked afresh after a refusal, then "fresh".
struct TwoTokens : IAccessTokens
{
    std::string AccessToken(const Account&, bool refused) override { return refused ? "fresh" : "old"; }
};

TEST_F(JmapCheck, EachLoginKindSendsItsAuthorization)
{
    struct Case
    {
        TAccountAuthentication Kind;
        std::string Script;
        const char* Sent; // the Authorization header that got the session
    };
    const std::string session = Answer(SessionJson) + "C~ POST\n" + Answer(Mailboxes) + "C~ POST\n" + Answer(FullCheck);
    const Case cases[] = {
        {aaPassword, "C~ GET\n" + session, "Authorization: Basic YW5uOnNlY3JldA=="},
        {aaBearer, "C~ GET\n" + session, "Authorization: Bearer secret"},
        // A refused token is asked afresh once, as the mail protocols do.
        {aaOAuth2, "C~ GET\n" + Answer("", "401 Unauthorized") + "C~ GET\n" + session, "Authorization: Bearer fresh"},
    };
    limits.Tokens = std::make_shared<TwoTokens>();
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Sent);
        limits.Jmap = std::make_shared<TJmapMemory>();
        ScriptedServer srv(Script(c.Script));
        Account a = AccountAt(srv);
        a.Authentication = c.Kind;
        TJmapCheckClient client(limits, nullptr);
        client.SetAccount(a, 0);
        EXPECT_EQ(CheckSession(client, MaxListedMessages, std::unordered_set<std::string>{}).Error, "");
        const std::vector<std::string> lines = srv.ReceivedLines();
        EXPECT_NE(std::find(lines.begin(), lines.end(), c.Sent), lines.end());
    }
}

TEST_F(JmapCheck, HostileAnswersEndAsErrorRows)
{
    std::string manyIds = R"({"methodResponses":[["Email/get",{"state":"e1","list":[]},"s"],["Email/query",{"ids":[)";
    for (int i = 0; i < 100000; ++i)
        manyIds += (i ? ",\"M" : "\"M") + std::to_string(i) + "\"";
    manyIds += R"(]},"q0"]]})";
    struct Case
    {
        const char* Name;
        std::string Script;
        const char* Error; // the start of the error row
    };
    const std::string session = "C~ GET\n" + Answer(SessionJson);
    const Case cases[] = {
        {"a redirect to plain http elsewhere",
         "C~ GET\n" + Answer("", "302 Found", "Location: http://example.org/jmap\r\n"),
         "The JMAP server sent its session resource to http://example.org/jmap"},
        {"a redirect to https elsewhere", "C~ GET\n" + Answer("", "302 Found", "Location: https://127.0.0.1/jmap\r\n"),
         "The JMAP server sent its session resource to"},
        {"redirects without end",
         [] {
             std::string s;
             for (int i = 0; i < 6; ++i)
                 s += "C~ GET\n" + Answer("", "302 Found", "Location: /again\r\n");
             return s;
         }(),
         "The JMAP server redirected its session resource too often."},
        {"a refused password", "C~ GET\n" + Answer("{}", "401 Unauthorized"),
         "The JMAP server refused the user name or password."},
        {"a session without mail",
         "C~ GET\n" + Answer(R"({"capabilities":{"urn:ietf:params:jmap:core":{}},"apiUrl":"/"})"),
         "The server offers no mail over JMAP."},
        {"a session that is no JSON", "C~ GET\n" + Answer("<html>"), "The server's JMAP answer cannot be read."},
        {"100,000 ids where 5,000 were asked", session + "C~ POST\n" + Answer(Mailboxes) + "C~ POST\n" + Answer(manyIds),
         "The server's JMAP answer cannot be read."},
        {"an answer past 16 MB", session + "C~ POST\n" +
                                     "R: HTTP/1.1 200 OK\\r\\nContent-Length: 16777217\\r\\n\\r\\n\nSTALL\n",
         "The server's HTTP answer cannot be read."},
        {"a server that never answers", session + "C~ POST\nSTALL\n", "Read Timeout"},
        {"a server that closes mid-answer",
         session + "C~ POST\nR: HTTP/1.1 200 OK\\r\\nContent-Length: 100\\r\\n\\r\\n{\"meth\nCLOSE\n",
         "The server's HTTP answer cannot be read."},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Name);
        limits.Jmap = std::make_shared<TJmapMemory>();
        ScriptedServer srv(Script(c.Script));
        const TAccountReport report = Check(srv);
        EXPECT_EQ(report.Error.rfind(c.Error, 0), 0u) << report.Error;
        EXPECT_TRUE(report.Ids.empty());
    }
}
