// The JMAP texts a check reads, free of the network: what a sound answer
// gives, and that every hostile one ends in EJmapMalformed (or the error it
// names), never in a crash or an unbounded read.

#include "mail/JmapWire.h"
#include "platform/Json.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>

#include <functional>
#include <string>

namespace
{

const std::string SessionUrl = "http://127.0.0.1:8080/.well-known/jmap";

std::string Session(const std::string& capabilities, const std::string& rest)
{
    return R"({"capabilities":{)" + capabilities + R"(},"accounts":{"u1":{"name":"ann"}},)" + rest + "}";
}

const std::string Core = R"("urn:ietf:params:jmap:core":{"maxObjectsInGet":4096,"maxCallsInRequest":50})";
const std::string Mail = R"("urn:ietf:params:jmap:mail":{})";
const std::string Primary = R"("primaryAccounts":{"urn:ietf:params:jmap:mail":"u1"})";

QJsonObject Object(const std::string& json)
{
    QJsonObject o;
    std::string problem;
    EXPECT_TRUE(ReadJsonObject(json, MaxJmapAnswer, o, &problem)) << problem;
    return o;
}

} // namespace

TEST(JmapSession, ReadsTheMailAccountAndMakesItsUrlsAbsolute)
{
    const TJmapSession s = ReadJmapSession(
        Session(Core + "," + Mail, Primary + R"(,"apiUrl":"/jmap/","eventSourceUrl":"/jmap/eventsource/","state":"7")"),
        SessionUrl);
    EXPECT_EQ(s.ApiUrl, "http://127.0.0.1:8080/jmap/");
    EXPECT_EQ(s.EventSourceUrl, "http://127.0.0.1:8080/jmap/eventsource/");
    EXPECT_EQ(s.AccountId, "u1");
    EXPECT_EQ(s.State, "7");
    EXPECT_EQ(s.MaxObjectsInGet, 4096);
    EXPECT_EQ(s.MaxCallsInRequest, 50);
}

TEST(JmapSession, RefusesWhatCannotBeUsed)
{
    struct Case
    {
        const char* Name;
        std::string Body;
        bool NoMail; // EJmapNoMail rather than EJmapMalformed
    };
    const std::string api = R"("apiUrl":"/jmap/")";
    const Case cases[] = {
        {"no mail capability", Session(Core, Primary + "," + api), true},
        {"no primary mail account", Session(Core + "," + Mail, api), true},
        {"an account id that is no id", Session(Core + "," + Mail,
                                                R"("primaryAccounts":{"urn:ietf:params:jmap:mail":"a b"},)" + api),
         false},
        {"no core capability", Session(Mail, Primary + "," + api), false},
        {"no apiUrl", Session(Core + "," + Mail, Primary), false},
        {"apiUrl a number", Session(Core + "," + Mail, Primary + R"(,"apiUrl":7)"), false},
        {"capabilities a list", R"({"capabilities":[],"apiUrl":"/"})", false},
        {"not JSON", "<html>login</html>", false},
        {"a list", "[]", false},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Name);
        if (c.NoMail)
            EXPECT_THROW(ReadJmapSession(c.Body, SessionUrl), EJmapNoMail);
        else
            EXPECT_THROW(ReadJmapSession(c.Body, SessionUrl), EJmapMalformed);
    }
}

TEST(JmapJson, RefusesDocumentsPastTheBounds)
{
    const std::string deep = std::string(65, '[') + std::string(65, ']');
    const std::string deepInObject = "{\"a\":" + std::string(64, '[') + std::string(64, ']') + "}";
    const std::string bracketsInString = "{\"a\":\"" + std::string(1000, '[') + "\"}";
    QJsonObject o;
    std::string problem;
    EXPECT_FALSE(ReadJsonObject(deep, 1 << 20, o, &problem));
    EXPECT_NE(problem.find("nested"), std::string::npos) << problem;
    EXPECT_FALSE(ReadJsonObject(deepInObject, 1 << 20, o));
    EXPECT_TRUE(ReadJsonObject(bracketsInString, 1 << 20, o)) << "brackets inside a string are text";
    EXPECT_FALSE(ReadJsonObject(std::string(100, ' ') + "{}", 99, o, &problem));
    EXPECT_NE(problem.find("larger"), std::string::npos) << problem;
    EXPECT_FALSE(ReadJsonObject("{\"a\":1", 100, o));
}

TEST(JmapResponse, GivesEachCallItsAnswerAndRaisesTheServersErrors)
{
    const TJmapResponse r(R"({"methodResponses":[
        ["Email/changes",{"accountId":"u1","oldState":"1","newState":"2","hasMoreChanges":false,
                          "created":["M1"],"updated":[],"destroyed":["M0"]},"c"],
        ["error",{"type":"cannotCalculateChanges"},"m"]],"sessionState":"7"})");
    const TJmapChanges c = ReadJmapChanges(r.Answer("c", "Email/changes"), 10);
    EXPECT_EQ(c.NewState, "2");
    EXPECT_EQ(c.Created, std::vector<std::string>{"M1"});
    EXPECT_EQ(c.Destroyed, std::vector<std::string>{"M0"});
    try
    {
        r.Answer("m", "Mailbox/changes");
        FAIL() << "an error answer was taken";
    }
    catch (const EJmapMethodError& e)
    {
        EXPECT_EQ(e.Type, "cannotCalculateChanges");
    }
    EXPECT_THROW(r.Answer("c", "Email/get"), EJmapMalformed) << "another method's answer";
    EXPECT_THROW(r.Answer("x", "Email/get"), EJmapMalformed) << "a call left unanswered";
}

TEST(JmapResponse, RefusesHostileAnswers)
{
    std::string manyIds = R"({"ids":[)";
    for (int i = 0; i < 100000; ++i)
        manyIds += (i ? ",\"M" : "\"M") + std::to_string(i) + "\"";
    manyIds += R"(],"total":100000})";
    const std::vector<std::pair<const char*, std::function<void()>>> cases = {
        {"100,000 ids where 5,000 were asked", [&] { ReadJmapQuery(Object(manyIds), 5000); }},
        {"an id with a slash", [] { ReadJmapQuery(Object(R"({"ids":["../etc"]})"), 10); }},
        {"ids not a list", [] { ReadJmapQuery(Object(R"({"ids":{"a":1}})"), 10); }},
        {"a total below zero", [] { ReadJmapQuery(Object(R"({"ids":[],"total":-1})"), 10); }},
        {"more emails than ids", [] {
             std::string state;
             ReadJmapEmails(Object(R"({"state":"1","list":[{"id":"a"},{"id":"b"}]})"), 1, state);
         }},
        {"an email without an id", [] {
             std::string state;
             ReadJmapEmails(Object(R"({"state":"1","list":[{"subject":"x"}]})"), 1, state);
         }},
        {"a subject that is a number", [] {
             std::string state;
             ReadJmapEmails(Object(R"({"state":"1","list":[{"id":"a","subject":1}]})"), 1, state);
         }},
        {"a size past 2^53", [] {
             std::string state;
             ReadJmapEmails(Object(R"({"state":"1","list":[{"id":"a","size":1e300}]})"), 1, state);
         }},
        {"hasMoreChanges a string", [] {
             ReadJmapChanges(Object(R"({"oldState":"1","newState":"2","hasMoreChanges":"no","created":[],
                                        "updated":[],"destroyed":[]})"),
                             10);
         }},
        {"methodResponses not answers", [] { TJmapResponse(R"({"methodResponses":[["a",1]]})"); }},
        {"a document of 16 MB and more", [] { TJmapResponse(std::string(MaxJmapAnswer + 1, ' ')); }},
    };
    for (const auto& [name, read] : cases)
    {
        SCOPED_TRACE(name);
        EXPECT_THROW(read(), EJmapMalformed);
    }
}

TEST(JmapEmails, ReadsWhatARowShows)
{
    std::string state;
    const std::vector<TJmapEmail> e = ReadJmapEmails(Object(R"({"state":"9","list":[
        {"id":"M1","mailboxIds":{"P1":true,"P2":false},"keywords":{"$seen":true},
         "from":[{"name":"Ann Bee","email":"ann@example.org"},{"name":null,"email":"bob@example.org"}],
         "subject":"Grüße","size":1234,"messageId":["a@b"],"receivedAt":"2026-12-10T04:00:00Z",
         "preview":"Hello","header:X-Priority:asText":" 1","header:List-Id:asText":"<l.example.org>"},
        {"id":"M2","from":null,"subject":null,"messageId":null,"size":null}]})"),
                                                     2, state);
    ASSERT_EQ(e.size(), 2u);
    EXPECT_EQ(state, "9");
    EXPECT_EQ(e[0].MailboxIds, std::vector<std::string>{"P1"});
    EXPECT_TRUE(e[0].Seen);
    EXPECT_EQ(e[0].From, "Ann Bee <ann@example.org>, bob@example.org");
    EXPECT_EQ(e[0].Subject, "Grüße");
    EXPECT_EQ(e[0].MessageId, "<a@b>");
    EXPECT_EQ(e[0].Size, 1234);
    EXPECT_EQ(JmapUtcSeconds(e[0].ReceivedAt), 1796875200);
    EXPECT_EQ(e[0].Priority, " 1");
    EXPECT_EQ(e[1].From, "");
    EXPECT_EQ(e[1].Size, -1);
    EXPECT_FALSE(e[1].Seen);
}

TEST(JmapRequest, CarriesTheCapabilitiesAndBackReferences)
{
    const std::string text = JmapRequestText(
        {{"Email/get", QJsonObject{{"#ids", JmapResultOf("q", "Email/query", "/ids")}}, "g"}});
    const QJsonObject request = QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
    EXPECT_EQ(request["using"].toArray(),
              (QJsonArray{"urn:ietf:params:jmap:core", "urn:ietf:params:jmap:mail"}));
    const QJsonArray call = request["methodCalls"].toArray()[0].toArray();
    EXPECT_EQ(call[0].toString(), "Email/get");
    EXPECT_EQ(call[1].toObject()["#ids"].toObject()["path"].toString(), "/ids");
    EXPECT_EQ(call[2].toString(), "g");
}
