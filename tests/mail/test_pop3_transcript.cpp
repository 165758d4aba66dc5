// The POP3 client against scripted servers: what a real server never sends.
#include "mail/IdExceptions.h"
#include "mail/IdMessage.h"
#include "mail/MessagePreview.h"
#include "mail/Pop3Client.h"
#include "mail/SaslMechanism.h"
#include "platform/Exception.h"
#include "support/FakeClock.h"
#include "support/ScriptedServer.h"
#include "support/TokenLogin.h"
#include "support/TestHelpers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

namespace
{

void Aim(TIdPOP3& pop, const ScriptedServer& srv, const std::string& user = "ann",
         const std::string& password = "secret")
{
    pop.Host = srv.Host();
    pop.Port = srv.Port();
    pop.Username = user;
    pop.Password = password;
}

bool Sent(const ScriptedServer& srv, const std::string& line)
{
    auto lines = srv.ReceivedLines();
    return std::count(lines.begin(), lines.end(), line) > 0;
}

const char* const LoggedIn = R"(
    S: +OK ready
    C: CAPA
    S: -ERR no
    C: USER ann
    S: +OK
    C: PASS secret
    S: +OK logged in
)";

// A server that takes commands before it has answered earlier ones.
const char* const LoggedInPipelining = R"(
    S: +OK ready
    C: CAPA
    S: +OK
    S: TOP
    S: PIPELINING
    S: .
    C: USER ann
    S: +OK
    C: PASS secret
    S: +OK logged in
)";

// Logged in there, with a read limit short enough for a client that waits
// for one reply before it sends the next command to fail soon.
void ConnectPipelining(TIdPOP3& pop, const ScriptedServer& srv)
{
    Aim(pop, srv);
    pop.ReadTimeout = 2000;
    pop.Connect();
    ASSERT_TRUE(pop.CanPipeline());
}

// A client that gives up before logging in still says goodbye.
const char* const QuitBeforeLogin = R"(
    S: +OK ready
    C: CAPA
    S: -ERR
    C: QUIT
    S: +OK
)";

TEST(Pop3Parse, GreetingTimestamp)
{
    const std::pair<const char*, const char*> cases[] = {
        {"POP3 server ready <1896.697170952@dbc.mtview.ca.us>", "<1896.697170952@dbc.mtview.ca.us>"},
        {"ready <a> and <b>", "<a>"},
        {"x > y <z> w", "<z>"},      // a ">" before the "<" does not count
        {"ready <unclosed", ""},
        {"ready > only", ""},
        {"ready", ""},
        {"<>", "<>"},
        {"", ""},
    };
    for (const auto& [text, stamp] : cases)
        EXPECT_EQ(POP3GreetingTimestamp(text), stamp) << text;
}

TEST(Pop3Parse, StatCountAndListSize)
{
    EXPECT_EQ(POP3StatCount("2 320"), 2);
    EXPECT_EQ(POP3StatCount("0 0"), 0);
    EXPECT_EQ(POP3StatCount(""), 0);
    EXPECT_EQ(POP3StatCount("12 345 extra words"), 12);
    for (const char* bad : {"2", "x 320", "2x 320", " 2 320", "99999999999 1"})
    {
        std::string expected = std::string(bad).find(' ') == std::string::npos
                                   ? "'' is not a valid integer value"
                                   : "'" + std::string(bad).substr(0, std::string(bad).find(' '))
                                         + "' is not a valid integer value";
        EXPECT_EQ(MessageOf<EConvertError>([&] { POP3StatCount(bad); }), expected) << bad;
    }

    const std::pair<const char*, int> sizes[] = {
        {"1 320", 320}, {"7 0", 0}, {"1 320 trailing", 320}, {"1 big", -1},
        {"1", -1},      {"", -1},   {"1  320", -1},          {"1 32x", -1},
    };
    for (const auto& [text, size] : sizes)
        EXPECT_EQ(POP3ListSize(text), size) << text;
}

TEST(Pop3Transcript, WholeSessionWithServerOddities)
{
    ScriptedServer srv(R"(
        S: +OK POP3 ready <1896.697170952@dbc.mtview.ca.us>
        C: CAPA
        S: +OK Capability list follows
        S: TOP
        S: USER
        S: ..odd
        S: .
        C: USER ann
        S: +OK
        C: PASS secret
        S: +OK logged in
        C: STAT
        S: +ok 2 320
        C: TOP 1 0
        S: +OK
        S: Subject: first
        S:
        S: From: Ann <ann@example.org>
        S:
        S: ..dotted
        S: body line
        S: .
        C: LIST 1
        S: +OK 1 120
        C: LIST 2
        S: +OK 2 big
        C: DELE 2
        S: +OK marked
        C: QUIT
        S: +OK bye
    )");
    TIdPOP3 pop;
    Aim(pop, srv);
    pop.Connect();
    EXPECT_EQ(pop.GreetingTimestamp, "<1896.697170952@dbc.mtview.ca.us>");
    EXPECT_TRUE(pop.CanApop);
    EXPECT_TRUE(pop.CapaAnswered);
    EXPECT_EQ(pop.ServerCapabilities, (TIdStrings{"TOP", "USER", ".odd"}));
    EXPECT_EQ(pop.CountMessages(), 2);

    TIdMessage message;
    message.Subject = "left over";
    EXPECT_TRUE(pop.FetchHeader(1, message));
    // Blank lines are dropped; the rest is kept as it came, body included.
    EXPECT_EQ(message.HeaderLines.Lines,
              (std::vector<std::string>{"Subject: first", "From: Ann <ann@example.org>", "..dotted",
                                        "body line"}));
    EXPECT_EQ(message.Subject, "first");
    EXPECT_EQ(message.From().Address, "ann@example.org");

    EXPECT_EQ(pop.MessageSize(1), 120);
    EXPECT_EQ(pop.MessageSize(2), -1);
    EXPECT_TRUE(pop.DeleteMessage(2));
    pop.Disconnect();
    EXPECT_FALSE(pop.Connected());
    EXPECT_TRUE(srv.WaitDone());
}

TEST(Pop3Parse, PipeliningCapability)
{
    const std::pair<TIdStrings, bool> cases[] = {
        {{"TOP", "PIPELINING", "USER"}, true},
        {{"pipelining"}, true},
        {{"PIPELINING with words after the tag"}, true},
        {{"PIPELININGX"}, false},
        {{"X-PIPELINING"}, false},
        {{"TOP", "USER"}, false},
        {{}, false},
    };
    for (const auto& [capabilities, can] : cases)
    {
        TIdPOP3 pop;
        pop.ServerCapabilities = capabilities;
        EXPECT_EQ(pop.CanPipeline(), can) << (capabilities.empty() ? "(none)" : capabilities.front());
    }
}

// The server reads both commands before it answers either: a client that
// waited for the header before asking for the size would wait out its read
// limit here.
TEST(Pop3Transcript, PipelinedHeaderAndSizeShareOneRoundTrip)
{
    ScriptedServer srv(std::string(LoggedInPipelining) + R"(
        C: TOP 1 0
        C: LIST 1
        R: +OK\r\nSubject: first\r\n\r\n.\r\n+OK 1 120\r\n
        C: TOP 2 0
        C: LIST 2
        S: +OK
        S: Subject: second
        S: .
        S: +OK 2 lots
        C: QUIT
        S: +OK bye
    )");
    TIdPOP3 pop;
    ConnectPipelining(pop, srv);
    TIdMessage message;
    EXPECT_EQ(pop.FetchHeaderAndSize(1, message).Take(), 120);
    EXPECT_EQ(message.Subject, "first");
    EXPECT_EQ(pop.FetchHeaderAndSize(2, message).Take(), -1);
    EXPECT_EQ(message.Subject, "second");
    pop.Disconnect();
    EXPECT_TRUE(srv.WaitDone());
    EXPECT_TRUE(srv.Ok());
}

// With a preview asked for, TOP takes the body's first lines, pipelined as
// before; the blank line ends the header, dot-stuffed lines are undone, and
// a message whose body is all past the header has none.
TEST(Pop3Transcript, PipelinedTopWithBodyLinesMakesThePreview)
{
    SetPreviewHelperFolder(TERNBELL_RUNTIME_DIR);
    ScriptedServer srv(std::string(LoggedInPipelining) + R"(
        C: TOP 1 80
        C: LIST 1
        R: +OK\r\nSubject: first\r\nContent-Type: text/plain;\r\n charset=iso-8859-1\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\nGr=FC=DFe\r\n..aus\r\n\r\nK=F6ln\r\n.\r\n+OK 1 120\r\n
        C: TOP 2 80
        C: LIST 2
        R: +OK\r\nSubject: second\r\n.\r\n+OK 2 30\r\n
        C: QUIT
        S: +OK bye
    )");
    TIdPOP3 pop;
    ConnectPipelining(pop, srv);
    TIdMessage message;
    std::string preview;
    EXPECT_EQ(pop.FetchHeaderAndSize(1, message, &preview).Take(), 120);
    EXPECT_EQ(message.Subject, "first");
    EXPECT_EQ(preview, "Gr\xC3\xBC\xC3\x9F" "e .aus K\xC3\xB6ln");
    EXPECT_EQ(pop.FetchHeaderAndSize(2, message, &preview).Take(), 30);
    EXPECT_EQ(message.Subject, "second");
    EXPECT_EQ(preview, "");
    pop.Disconnect();
    EXPECT_TRUE(srv.WaitDone());
    EXPECT_TRUE(srv.Ok());
}

// Bodies read further for their previews go out at once where the server
// pipelines, one by one where it does not; a refused one has none, and
// each keeps only its bound.
TEST(Pop3Transcript, BodyStartsAreAskedAtOnceAndKeptToTheirBound)
{
    for (const bool pipelining : {true, false})
    {
        const std::string further = pipelining ? R"(
            C: TOP 4 900
            C: TOP 7 80
            S: -ERR no message 4
            R: +OK\r\nSubject: seven\r\n\r\n<style>\r\n..x{}</style>\r\n<p>Text</p>\r\n.\r\n
        )" : R"(
            C: TOP 4 900
            S: -ERR no message 4
            C: TOP 7 80
            R: +OK\r\nSubject: seven\r\n\r\n<style>\r\n..x{}</style>\r\n<p>Text</p>\r\n.\r\n
        )";
        ScriptedServer srv(std::string(pipelining ? LoggedInPipelining : LoggedIn) + further + R"(
            C: STAT
            S: +OK 7 120
            C: QUIT
            S: +OK bye
        )");
        TIdPOP3 pop;
        Aim(pop, srv);
        pop.ReadTimeout = 2000;
        pop.Connect();
        EXPECT_EQ(pop.FetchBodyStarts({{4, 900}, {7, 80}}, 23),
                  (std::vector<std::string>{"", "<style>\r\n.x{}</style>\r\n"}));
        EXPECT_EQ(pop.CountMessages(), 7);
        pop.Disconnect();
        EXPECT_TRUE(srv.WaitDone());
        EXPECT_TRUE(srv.Ok()) << pipelining;
    }
}

// Whichever of the two is refused, both replies are read: the next command
// reads its own.
TEST(Pop3Transcript, PipelinedRefusalsKeepTheRepliesInStep)
{
    ScriptedServer srv(std::string(LoggedInPipelining) + R"(
        C: TOP 9 0
        C: LIST 9
        S: -ERR [SYS/TEMP] no message 9
        S: -ERR no such message
        C: TOP 1 0
        C: LIST 1
        R: +OK\r\nSubject: first\r\n.\r\n-ERR cannot size it\r\n
        C: STAT
        S: +OK 1 120
        C: QUIT
        S: +OK bye
    )");
    TIdPOP3 pop;
    ConnectPipelining(pop, srv);
    TIdMessage message;
    try
    {
        pop.FetchHeaderAndSize(9, message);
        FAIL() << "a refused TOP was taken";
    }
    catch (const EIdReplyPOP3Error& e)
    {
        EXPECT_EQ(e.EnhancedCode, "[SYS/TEMP]");
        EXPECT_NE(e.Message.find("no message 9"), std::string::npos) << e.Message;
    }
    // The refused size is raised only when it is taken.
    const TIdPOP3ListAnswer answer = pop.FetchHeaderAndSize(1, message);
    EXPECT_EQ(message.Subject, "first");
    EXPECT_EQ(MessageOf<EIdReplyPOP3Error>([&] { answer.Take(); }), "cannot size it\r\n");
    EXPECT_EQ(pop.CountMessages(), 1);
    EXPECT_NO_THROW(pop.Disconnect());
    EXPECT_TRUE(srv.WaitDone());
    EXPECT_TRUE(srv.Ok());
}

// A server gone between the two replies is an error, not a size.
TEST(Pop3Transcript, PipelinedSizeLostToAClosedConnection)
{
    ScriptedServer srv(std::string(LoggedInPipelining) + R"(
        C: TOP 1 0
        C: LIST 1
        R: +OK\r\nSubject: first\r\n.\r\n
        CLOSE
    )");
    TIdPOP3 pop;
    ConnectPipelining(pop, srv);
    TIdMessage message;
    EXPECT_THROW(pop.FetchHeaderAndSize(1, message), EIdConnClosedGracefully);
    pop.Disconnect(false);
    EXPECT_TRUE(srv.WaitDone());
}

TEST(Pop3Transcript, ConnectResetsTheConnectionState)
{
    ScriptedServer srv(R"(
        S: +OK ready <stamp@host>
        C: CAPA
        S: +OK
        S: USER
        S: .
        C: USER ann
        S: +OK
        C: PASS secret
        S: +OK
        C: QUIT
        S: +OK
        ACCEPT
        S: +OK ready <unclosed
        C: CAPA
        S: -ERR unknown command
        C: USER ann
        S: +OK
        C: PASS secret
        S: +OK
        C: QUIT
        S: +OK
    )");
    TIdPOP3 pop;
    Aim(pop, srv);
    pop.Connect();
    EXPECT_TRUE(pop.CanApop);
    EXPECT_TRUE(pop.CapaAnswered);
    pop.Disconnect();

    // A refused CAPA is no error; state of the first session does not stay.
    pop.Connect();
    EXPECT_EQ(pop.GreetingTimestamp, "");
    EXPECT_FALSE(pop.CanApop);
    EXPECT_TRUE(pop.ServerCapabilities.empty());
    EXPECT_FALSE(pop.CapaAnswered);
    pop.Disconnect();
    EXPECT_TRUE(srv.WaitDone());
}

TEST(Pop3Transcript, StatWithoutSizeRaisesConversionErrorAndStaysOpen)
{
    ScriptedServer srv(std::string(LoggedIn) + R"(
        C: STAT
        S: +OK 2
        C: STAT
        S: +OK 2 320
        C: QUIT
        S: +OK
    )");
    TIdPOP3 pop;
    Aim(pop, srv);
    pop.Connect();
    EXPECT_EQ(MessageOf<EConvertError>([&] { pop.CountMessages(); }), "'' is not a valid integer value");
    EXPECT_TRUE(pop.Connected());
    EXPECT_EQ(pop.CountMessages(), 2);
    pop.Disconnect();
    EXPECT_TRUE(srv.WaitDone());
}

TEST(Pop3Transcript, RefusedTransactionCommandsLeaveTheConnectionOpen)
{
    ScriptedServer srv(std::string(LoggedIn) + R"(
        C: STAT
        S: -ERR [SYS/TEMP] busy
        C: TOP 3 0
        S: -ERR no such message
        C: LIST 3
        S: -ERR no such message
        C: DELE 3
        S: -ERR no such message
        C: STAT
        S: +OK 1 10
        C: QUIT
        S: +OK
    )");
    TIdPOP3 pop;
    Aim(pop, srv);
    pop.Connect();
    TIdMessage message;
    const std::pair<std::function<void()>, std::string> refused[] = {
        {[&] { pop.CountMessages(); }, "busy\r\n"},
        {[&] { pop.FetchHeader(3, message); }, "no such message\r\n"},
        {[&] { pop.MessageSize(3); }, "no such message\r\n"},
        {[&] { pop.DeleteMessage(3); }, "no such message\r\n"},
    };
    for (const auto& [action, text] : refused)
    {
        EXPECT_EQ(MessageOf<EIdReplyPOP3Error>(action), text);
        EXPECT_TRUE(pop.Connected());
    }
    EXPECT_EQ(pop.LastReplyPOP3().Code, "-ERR");
    EXPECT_EQ(pop.CountMessages(), 1);
    pop.Disconnect();
    EXPECT_TRUE(srv.WaitDone());
}

TEST(Pop3Transcript, RefusedPassSendsQuitBeforeTheErrorArrives)
{
    ScriptedServer srv(R"(
        S: +OK ready
        C: CAPA
        S: -ERR
        C: USER ann
        S: +OK
        C: PASS secret
        S: -ERR [IN-USE] locked
        C: QUIT
        S: +OK bye
    )");
    TIdPOP3 pop;
    Aim(pop, srv);
    try
    {
        pop.Connect();
        FAIL() << "the refused login was not reported";
    }
    catch (const EIdReplyPOP3Error& e)
    {
        EXPECT_EQ(e.Message, "locked\r\n");
        EXPECT_EQ(e.Code, "-ERR");
        EXPECT_EQ(e.EnhancedCode, "[IN-USE]");
        // The goodbye was exchanged before the error got here.
        EXPECT_TRUE(Sent(srv, "QUIT"));
        EXPECT_FALSE(pop.Connected());
    }
    EXPECT_TRUE(srv.WaitDone());
}

TEST(Pop3Transcript, FailingQuitAfterRefusedLoginWins)
{
    ScriptedServer srv(R"(
        S: +OK ready
        C: CAPA
        S: -ERR
        C: USER bob
        S: -ERR unknown user
        C: QUIT
        S: -ERR cannot quit
    )");
    TIdPOP3 pop;
    Aim(pop, srv, "bob");
    EXPECT_EQ(MessageOf<EIdReplyPOP3Error>([&] { pop.Connect(); }), "cannot quit\r\n");
    EXPECT_FALSE(pop.Connected());
    EXPECT_FALSE(Sent(srv, "PASS secret"));
    EXPECT_TRUE(srv.WaitDone());
}

TEST(Pop3Transcript, RefusedGreetingLeavesTheConnectionOpen)
{
    ScriptedServer srv(R"(
        S: -ERR [SYS/TEMP] too busy
        C: QUIT
        S: +OK
    )");
    TIdPOP3 pop;
    Aim(pop, srv);
    EXPECT_EQ(MessageOf<EIdReplyPOP3Error>([&] { pop.Connect(); }), "too busy\r\n");
    EXPECT_TRUE(pop.Connected());
    EXPECT_FALSE(Sent(srv, "CAPA"));
    pop.Disconnect();
    EXPECT_TRUE(srv.WaitDone());
}

TEST(Pop3Transcript, ApopSendsTheDigestOfTimestampAndPassword)
{
    ScriptedServer srv(R"(
        S: +OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>
        C: CAPA
        S: -ERR
        C: APOP mrose c4c9334bac560ecc979e58001b3e22fb
        S: +OK maildrop has 1 message (369 octets)
        C: QUIT
        S: +OK
    )");
    TIdPOP3 pop;
    Aim(pop, srv, "mrose", "tanstaaf");
    pop.AuthType = atAPOP;
    pop.Connect();
    pop.Disconnect();
    EXPECT_TRUE(srv.WaitDone());
}

// "pässwörd-€" as the desktop holds it (UTF-8), and in Windows-1252.
const std::string Umlauts = "p\xC3\xA4ssw\xC3\xB6rd-\xE2\x82\xAC";
const std::string UmlautsCp1252 = "p\xE4ssw\xF6rd-\x80";

// Credentials go as UTF-8; a refused password beyond ASCII gets one more
// try in Windows-1252, and the client keeps the form the server took.
TEST(Pop3Transcript, CredentialForms)
{
    struct Case
    {
        const char* Name;
        TIdPOP3AuthenticationType Kind;
        std::string Password;
        std::string Script;
        // Empty when the login is accepted.
        std::string Error;
        TIdCredentialCharset Taken;
    };
    const std::string greeting = "S: +OK ready <1.2@x>\nC: CAPA\nS: -ERR\n";
    const std::string quit = "C: QUIT\nS: +OK\n";
    const std::string sasl = "S: +OK ready\nC: CAPA\nS: +OK\nS: SASL PLAIN\nS: .\n";
    const Case cases[] = {
        {"Windows1252AfterUtf8", atUserPass, Umlauts,
         greeting + "C: USER ann\nS: +OK\nC: PASS " + Umlauts + "\nS: -ERR [AUTH] Authentication failed.\n"
             "C: USER ann\nS: +OK\nC: PASS " + UmlautsCp1252 + "\nS: +OK\n" + quit,
         "", ccWindows1252},
        {"ApopDigestOfEachForm", atAPOP, Umlauts,
         greeting + "C: APOP ann 3be0cff4abf42a336d23f72b840d8d75\nS: -ERR [AUTH] no\n"
             "C: APOP ann 1d102080c301e3d6f6fa07a24aff7f83\nS: +OK\n" + quit,
         "", ccWindows1252},
        {"AsciiPasswordOnce", atUserPass, "secret",
         greeting + "C: USER ann\nS: +OK\nC: PASS secret\nS: -ERR [AUTH] wrong\n" + quit, "wrong\r\n", ccUTF8},
        {"LockedMaildropNotTriedAgain", atUserPass, Umlauts,
         greeting + "C: USER ann\nS: +OK\nC: PASS " + Umlauts + "\nS: -ERR [IN-USE] locked\n" + quit,
         "locked\r\n", ccUTF8},
        {"AuthPlainWhereUserIsNotOffered", atUserPass, "secret",
         sasl + "C: AUTH PLAIN AGFubgBzZWNyZXQ=\nS: +OK\n" + quit,
         "", ccUTF8},
        {"AuthPlainOfEachForm", atSASL, Umlauts,
         sasl + "C: AUTH PLAIN AGFubgBww6Rzc3fDtnJkLeKCrA==\nS: -ERR [AUTH] no\n"
             "C: AUTH PLAIN AGFubgBw5HNzd/ZyZC2A\nS: +OK\n" + quit,
         "", ccWindows1252},
        {"AuthPlainAfterTheContinuation", atSASL, std::string(200, 'x'),
         sasl + "C: AUTH PLAIN\nS: + \nC: " + SASLEncode(std::string("\0ann\0", 5) + std::string(200, 'x')) +
             "\nS: + bW9yZQ==\nC: *\nS: -ERR cancelled\n" + quit,
         "cancelled\r\n", ccUTF8},
        {"HangUpAfterTheRefusal", atUserPass, Umlauts,
         greeting + "C: USER ann\nS: +OK\nC: PASS " + Umlauts + "\nS: -ERR [AUTH] refused\nCLOSE\n", "refused\r\n",
         ccUTF8},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Name);
        ScriptedServer srv(c.Script);
        TIdPOP3 pop;
        Aim(pop, srv, "ann", c.Password);
        pop.AuthType = c.Kind;
        pop.SASLMechanisms = {"PLAIN"};
        if (c.Error.empty())
        {
            pop.Connect();
            EXPECT_EQ(pop.CredentialCharset, c.Taken);
            pop.Disconnect();
        }
        else
            EXPECT_EQ(MessageOf<EIdReplyPOP3Error>([&] { pop.Connect(); }), c.Error);
        EXPECT_TRUE(srv.WaitDone());
        EXPECT_TRUE(srv.Ok());
    }
}

// AUTH with an access token: OAUTHBEARER before XOAUTH2, the response on
// its own line where the command would pass 255 octets, the error challenge
// answered as each mechanism requires, and one fresh token and one retry
// after a refusal of the token only.
TEST(Pop3Transcript, TokenLogins)
{
    struct Case
    {
        const char* Name;
        std::string Script;
        // Empty when the login is accepted.
        std::string Error;
        std::vector<bool> Asked;
        std::string Padding = {};
    };
    const std::string both = "S: +OK ready\nC: CAPA\nS: +OK\nS: USER\nS: SASL PLAIN XOAUTH2 OAUTHBEARER\nS: .\n";
    const std::string xoauth2 = "S: +OK ready\nC: CAPA\nS: +OK\nS: SASL XOAUTH2\nS: .\n";
    const std::string quit = "C: QUIT\nS: +OK\n";
    const std::string challenge = "S: + " + InvalidTokenChallenge + "\n";
    const std::string user = "ann@example.org";
    const std::string longToken = std::string(300, 'x');
    const Case cases[] = {
        {"OauthbearerOnTheCommand",
         both + "C: AUTH OAUTHBEARER " + BearerLine("OAUTHBEARER", user, "tok1") + "\nS: +OK in\n" + quit, "", {false}},
        {"LongTokenOnItsOwnLine",
         xoauth2 + "C: AUTH XOAUTH2\nS: +\nC: " + BearerLine("XOAUTH2", user, "tok1" + longToken) + "\nS: +OK in\n" +
             quit,
         "", {false}, longToken},
        {"OauthbearerRefusedThenRefreshed",
         both + "C: AUTH OAUTHBEARER " + BearerLine("OAUTHBEARER", user, "tok1") + "\n" + challenge +
             "C: AQ==\nS: -ERR [AUTH] no\nC: AUTH OAUTHBEARER " + BearerLine("OAUTHBEARER", user, "tok2") +
             "\nS: +OK in\n" + quit,
         "", {false, true}},
        {"Xoauth2RefusedTwiceRaisesTheSecondRefusal",
         xoauth2 + "C: AUTH XOAUTH2 " + BearerLine("XOAUTH2", user, "tok1") + "\n" + challenge +
             "C:\nS: -ERR first\nC: AUTH XOAUTH2 " + BearerLine("XOAUTH2", user, "tok2") + "\n" + challenge +
             "C:\nS: -ERR [AUTH] second\n" + quit,
         "second\r\n", {false, true}},
        {"LockedMaildropIsNoRefusalOfTheToken",
         xoauth2 + "C: AUTH XOAUTH2 " + BearerLine("XOAUTH2", user, "tok1") + "\nS: -ERR [IN-USE] locked\n" + quit,
         "locked\r\n", {false}},
        {"AnEchoedTokenIsHidden",
         xoauth2 + "C: AUTH XOAUTH2 " + BearerLine("XOAUTH2", user, "tok1") + "\nS: -ERR [IN-USE] tok1 in " +
             BearerLine("XOAUTH2", user, "tok1") + "\n" + quit,
         "... in ...\r\n", {false}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Name);
        ScriptedServer srv(c.Script);
        TIdPOP3 pop;
        Aim(pop, srv, user, "");
        TTokenSource tokens;
        tokens.Padding = c.Padding;
        pop.AccessToken = tokens.Source();
        if (c.Error.empty())
        {
            pop.Connect();
            pop.Disconnect();
        }
        else
            EXPECT_EQ(MessageOf<EIdReplyPOP3Error>([&] { pop.Connect(); }), c.Error);
        EXPECT_EQ(tokens.Asked, c.Asked);
        EXPECT_TRUE(srv.WaitDone());
        EXPECT_TRUE(srv.Ok());
    }
}

TEST(Pop3Transcript, LoginKindsThatCannotRunQuitFirst)
{
    struct Case
    {
        TIdPOP3AuthenticationType kind;
        const char* message;
    };
    for (const Case& c : {Case{atAPOP, "Server do not support APOP (no timestamp)"},
                          Case{atSASL, "Need SASL mechanisms to login with it!!"}})
    {
        ScriptedServer srv(QuitBeforeLogin); // no timestamp in the greeting
        TIdPOP3 pop;
        Aim(pop, srv);
        pop.AuthType = c.kind;
        EXPECT_EQ(MessageOf<EIdException>([&] { pop.Connect(); }), c.message);
        EXPECT_FALSE(pop.Connected());
        EXPECT_TRUE(srv.WaitDone());
    }
}

TEST(Pop3Transcript, NoAutoLoginStopsAfterCapa)
{
    ScriptedServer srv(R"(
        S: +OK ready
        C: CAPA
        S: -ERR
        C: USER  odd user 
        S: +OK
        C: PASS p@ss word 
        S: +OK
        C: QUIT
        S: +OK
    )");
    TIdPOP3 pop;
    Aim(pop, srv, " odd user ", "p@ss word ");
    pop.AutoLogin = false;
    pop.Connect();
    EXPECT_FALSE(Sent(srv, "USER  odd user "));
    // Name and password go out as they are, blanks included.
    pop.Login();
    pop.Disconnect();
    EXPECT_TRUE(srv.WaitDone());
    EXPECT_TRUE(Sent(srv, "USER  odd user "));
    EXPECT_TRUE(Sent(srv, "PASS p@ss word "));
}

TEST(Pop3Transcript, LineBreakInCredentialsIsNeverSent)
{
    // Sent as is, the text after the break would reach the server as a
    // command of its own (here a deletion).
    for (const auto& [user, password] : {std::pair<std::string, std::string>{"ann", "pw\r\nDELE 1"},
                                         {"ann\nDELE 1", "pw"},
                                         {"ann", "pw\rx"}})
    {
        ScriptedServer srv(QuitBeforeLogin);
        TIdPOP3 pop;
        Aim(pop, srv, user, password);
        EXPECT_EQ(MessageOf<EIdException>([&] { pop.Connect(); }),
                  "User name or password contains a line break.");
        EXPECT_FALSE(pop.Connected());
        EXPECT_TRUE(srv.WaitDone());
        EXPECT_FALSE(Sent(srv, "DELE 1"));
    }
}

TEST(Pop3Transcript, DisconnectTwiceAndCommandsOutsideAConnection)
{
    ScriptedServer srv(std::string(LoggedIn) + R"(
        C: QUIT
        S: +OK bye
    )");
    TIdPOP3 pop;
    EXPECT_EQ(MessageOf<EIdNotConnected>([&] { pop.CountMessages(); }), "Not connected.");
    pop.Disconnect(); // nothing to do, nothing raised
    Aim(pop, srv);
    pop.Connect();
    pop.Disconnect();
    pop.Disconnect();
    EXPECT_TRUE(srv.WaitDone());
    auto lines = srv.ReceivedLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "QUIT"), 1);
    EXPECT_EQ(MessageOf<EIdConnClosedGracefully>([&] { pop.CountMessages(); }),
              "Connection Closed Gracefully.");
}

TEST(Pop3Transcript, RefusedQuitStillCloses)
{
    ScriptedServer srv(std::string(LoggedIn) + R"(
        C: QUIT
        S: -ERR [SYS/PERM] could not remove messages
    )");
    TIdPOP3 pop;
    Aim(pop, srv);
    pop.Connect();
    EXPECT_EQ(MessageOf<EIdReplyPOP3Error>([&] { pop.Disconnect(); }), "could not remove messages\r\n");
    EXPECT_FALSE(pop.Connected());
    EXPECT_TRUE(srv.WaitDone());
}

TEST(Pop3Transcript, StalledHeaderEndsWithReadTimeout)
{
    // A read time-out yields an empty line, which the header reader would
    // take for a blank line and skip forever; it must end the fetch.
    ScriptedServer srv(std::string(LoggedIn) + R"(
        C: TOP 1 0
        S: +OK
        S: Subject: stalled
        STALL
    )");
    TIdPOP3 pop;
    Aim(pop, srv);
    pop.ReadTimeout = 30000;
    pop.Connect();
    const auto clock = FakeClockFromNow(pop);
    TIdMessage message;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(MessageOf<EIdReadTimeout>([&] { pop.FetchHeader(1, message); }), "Read Timeout");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(clock->Served(), std::chrono::seconds(30));
    pop.Disconnect(false);
}

// A check that failed mid-line leaves bytes in the queue of a closed
// connection; the delete action's first Disconnect must not try a goodbye on
// it, and the next Connect must work.
TEST(Pop3Transcript, StaleQueueAfterFailedCheckDoesNotFailDisconnect)
{
    struct Case
    {
        const char* Name;
        std::string Script;
        int ReadTimeout;
    };
    const std::string tooLong(20000, 'x');
    const Case cases[] = {
        {"too-long line", std::string(LoggedIn) + "C: STAT\nR: " + tooLong + "\\r\\n\nC: QUIT\nS: +OK\n", 3000},
        {"time-out mid-line", std::string(LoggedIn) + "C: STAT\nR: +OK 2\nSTALL\n", 300},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Name);
        ScriptedServer srv(c.Script + "ACCEPT\n" + LoggedIn + "C: QUIT\nS: +OK bye\n");
        TIdPOP3 pop;
        Aim(pop, srv);
        pop.ReadTimeout = c.ReadTimeout;
        pop.Connect();
        if (c.ReadTimeout < 1000) // the silent server's limit runs out on the test clock
            FakeClockFromNow(pop);
        EXPECT_THROW(pop.CountMessages(), EIdException);
        // The check's own goodbye fails on the same stale line, or is skipped
        // after a time-out; either way the handler ends up closed.
        try
        {
            pop.Disconnect(c.ReadTimeout > 1000);
        }
        catch (const EIdException&)
        {
        }
        EXPECT_NO_THROW(pop.Disconnect());
        EXPECT_NO_THROW(pop.Connect());
        EXPECT_NO_THROW(pop.Disconnect());
        EXPECT_TRUE(srv.WaitDone());
    }
}

// ------------------------------------------------------------ unique ids

TEST(Pop3Parse, UidlLine)
{
    const std::string longest(70, 'x');
    const std::tuple<const char*, std::string, int> cases[] = { // name, line, number (0: refused)
        {"plain", "1 QhdPYR:00WBw1Ph7x7", 1}, {"printable edges", "2 !~\"", 2},
        {"leading zeros", "007 a", 7}, {"largest int", "2147483647 a", 2147483647},
        {"id of 70", "3 " + longest, 3}, {"id of 71", "3 x" + longest, 0},
        {"empty id", "4 ", 0}, {"no id", "4", 0}, {"two spaces", "4  a", 0},
        {"space in id", "4 a b", 0}, {"trailing blank", "4 a ", 0}, {"tab", "4\ta", 0},
        {"control byte", "4 a\x01", 0}, {"delete byte", "4 a\x7f", 0}, {"8-bit byte", "4 \xe9", 0},
        {"zero", "0 a", 0}, {"negative", "-1 a", 0}, {"plus sign", "+1 a", 0},
        {"past int", "2147483648 a", 0}, {"past 64 bits", "99999999999999999999999 a", 0},
        {"leading blank", " 1 a", 0}, {"no number", "a b", 0}, {"empty", "", 0},
    };
    for (const auto& [name, line, number] : cases)
    {
        TIdPOP3UidlEntry entry{99, "kept"};
        EXPECT_EQ(ParseUidlLine(line, entry), number != 0) << name;
        // A refused line leaves the entry as it was.
        EXPECT_EQ(entry.Number, number != 0 ? number : 99) << name;
        EXPECT_EQ(entry.Id, number != 0 ? line.substr(line.find(' ') + 1) : "kept") << name;
    }
}

TEST(Pop3Transcript, UidlListsEveryMessageAndNamesOne)
{
    ScriptedServer srv(R"(
        S: +OK ready
        C: CAPA
        S: +OK
        S: UIDL
        S: .
        C: USER ann
        S: +OK
        C: PASS secret
        S: +OK
        C: UIDL
        S: +OK 3 messages
        S: 1 whqtswO00WBw418f9t5JxYwZ
        S: 2 QhdPYR:00WBw1Ph7x7
        S: 2 QhdPYR:00WBw1Ph7x7
        S: .
        C: UIDL 2
        S: +OK 2 QhdPYR:00WBw1Ph7x7
        C: QUIT
        S: +OK
    )");
    TIdPOP3 pop;
    Aim(pop, srv);
    pop.Connect();
    EXPECT_TRUE(pop.CanUIDL());
    std::vector<TIdPOP3UidlEntry> entries;
    ASSERT_TRUE(pop.RetrieveUIDL(entries));
    std::string dump;
    for (const TIdPOP3UidlEntry& entry : entries)
        dump += std::to_string(entry.Number) + " " + entry.Id + "|";
    // A duplicate is passed on; judging it is the caller's.
    EXPECT_EQ(dump, "1 whqtswO00WBw418f9t5JxYwZ|2 QhdPYR:00WBw1Ph7x7|2 QhdPYR:00WBw1Ph7x7|");
    std::string id;
    EXPECT_TRUE(pop.UIDL(2, id));
    EXPECT_EQ(id, "QhdPYR:00WBw1Ph7x7");
    pop.Disconnect();
    EXPECT_TRUE(srv.WaitDone());
}

// A refusal, or an answer not to be trusted, is read to its end and keeps
// nothing; the next command reads its own reply.
TEST(Pop3Transcript, RefusedOrUntrustedUidlAnswersKeepNothingAndStayInStep)
{
    auto listing = [](TIdPOP3& pop) {
        std::vector<TIdPOP3UidlEntry> entries{{1, "stale"}};
        EXPECT_FALSE(pop.RetrieveUIDL(entries));
        EXPECT_TRUE(entries.empty());
    };
    auto one = [](TIdPOP3& pop) {
        std::string id = "stale";
        EXPECT_FALSE(pop.UIDL(2, id));
        EXPECT_EQ(id, "");
    };
    const std::tuple<const char*, std::string, std::function<void(TIdPOP3&)>, int> cases[] = {
        // name, the exchange, the call, the bad line raised (-1: none)
        {"no unique ids", "C: UIDL\nS: -ERR [SYS/PERM] none kept\n", listing, -1},
        {"no such message", "C: UIDL 2\nS: -ERR no such message\n", one, -1},
        {"bad line in the middle", "C: UIDL\nS: +OK\nS: 1 a\nS: 2 has space\nS: 3 c\nS: 4 x y\nS: .\n", listing, 2},
        {"id over 70", "C: UIDL\nS: +OK\nS: 1 " + std::string(71, 'x') + "\nS: .\n", listing, 1},
        {"stuffed dot line", "C: UIDL\nS: +OK\nS: ..\nS: .\n", listing, 1},
        {"one line past the cap", "C: UIDL\nS: +OK\nFLOOD 50005 1 a\\r\\n\nS: .\n", listing, 0},
        {"answer for another message", "C: UIDL 2\nS: +OK 3 c\n", one, 0},
        {"answer without id", "C: UIDL 2\nS: +OK\n", one, 0},
    };
    for (const auto& [name, exchange, ask, badLine] : cases)
    {
        SCOPED_TRACE(name);
        ScriptedServer srv(std::string(LoggedIn) + exchange + "C: STAT\nS: +OK 2 20\nC: QUIT\nS: +OK\n");
        TIdPOP3 pop;
        Aim(pop, srv);
        pop.Connect();
        EXPECT_FALSE(pop.CanUIDL());
        int raised = -1;
        try
        {
            ask(pop);
        }
        catch (const EIdPOP3UidlInvalid& e)
        {
            raised = e.Line;
        }
        EXPECT_EQ(raised, badLine);
        EXPECT_EQ(pop.CountMessages(), 2);
        pop.Disconnect();
        EXPECT_TRUE(srv.WaitDone());
        EXPECT_TRUE(srv.Ok());
    }
}

// A listing that never ends is an error of the connection, never a list.
TEST(Pop3Transcript, UnfinishedUidlListingIsAnError)
{
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"closed mid-listing", "S: 1 a\nCLOSE\n", "Connection Closed Gracefully."},
        {"never answers", "S: 1 a\nSTALL\n", "Read Timeout"},
        {"cut mid-line", "R: 1 a\\r\\n2 b\nSTALL\n", "Read Timeout"},
        {"floods far past the caps", "FLOOD 6000000 1 a\\r\\n\nSTALL\n", "Reply too large."},
    };
    for (const auto& [name, rest, error] : cases)
    {
        SCOPED_TRACE(name);
        ScriptedServer srv(std::string(LoggedIn) + "C: UIDL\nS: +OK\n" + rest);
        TIdPOP3 pop;
        Aim(pop, srv);
        pop.ReadTimeout = 30000;
        pop.Connect();
        // A flood keeps the steady clock: a pause in it is no time-out.
        if (std::string(error) == "Read Timeout")
            FakeClockFromNow(pop);
        std::vector<TIdPOP3UidlEntry> entries;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(MessageOf<EIdException>([&] { pop.RetrieveUIDL(entries); }), error);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        EXPECT_TRUE(entries.empty());
        pop.Disconnect(false);
    }
}

} // namespace
