// The IMAP4 client against scripted servers: the tagged layer and what a real
// server never sends.
#include "mail/IdExceptions.h"
#include "mail/IdMessage.h"
#include "mail/Imap4Client.h"
#include "mail/MessagePreview.h"
#include "platform/Exception.h"
#include "support/FakeClock.h"
#include "support/ScriptedServer.h"
#include "support/TestHelpers.h"
#include "support/TokenLogin.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>

namespace
{

using State = TIdIMAP4ConnectionState;

void Aim(TIdIMAP4& imap, const ScriptedServer& srv, const std::string& user = "ann",
         const std::string& password = "secret")
{
    imap.Host = srv.Host();
    imap.Port = srv.Port();
    imap.Username = user;
    imap.Password = password;
    imap.ReadTimeout = 3000;
}

TIdIMAP4SearchRec Unseen()
{
    TIdIMAP4SearchRec rec;
    rec.SearchKey = skUnseen;
    return rec;
}

const std::string LoggedIn = R"(
    S: * OK [CAPABILITY IMAP4rev1] ready to serve
    C: C1 LOGIN ann secret
    S: C1 OK Logged in
    C: C2 CAPABILITY
    S: * CAPABILITY IMAP4rev1 UIDPLUS IDLE
    S: C2 OK done
)";

const std::string Selected = LoggedIn + R"(
    C: C3 SELECT "inbox"
    S: * FLAGS (\Answered \Flagged \Deleted \Seen \Draft)
    S: * OK [PERMANENTFLAGS (\Deleted \Seen \*)] Flags permitted.
    S: * 882 EXISTS
    S: * 5 RECENT
    S: * OK [UNSEEN 2] First unseen.
    S: * OK [UIDVALIDITY 1700000001] UIDs valid
    S: C3 OK [READ-WRITE] Select completed.
)";

// A header of exactly 342 bytes, the blank line that ends it included.
std::string Header342()
{
    std::string head = "From: Ann <ann@example.org>\r\nSubject: Hello there\r\nX-Pad: ";
    const std::string tail = "\r\n\r\n";
    head += std::string(342 - head.size() - tail.size(), 'x');
    return head + tail;
}

// Raw bytes as a transcript "R:" step.
std::string Raw(const std::string& bytes)
{
    std::string out = "R: ";
    for (char c : bytes)
        out += c == '\r' ? "\\r" : c == '\n' ? "\\n" : c == '\\' ? "\\\\" : std::string(1, c);
    return out + "\n";
}

TEST(Imap4Transcript, WholeCheckOfOneAccount)
{
    ScriptedServer srv(Selected + R"(
        C: C4 SEARCH UNSEEN
        S: * SEARCH 2 84 882
        S: C4 OK Search completed.
        C: C5 FETCH 84 (RFC822.HEADER)
        S: * 883 EXISTS
        S: * 84 FETCH (RFC822.HEADER {342}
    )" + Raw(Header342()) + R"(
        S: )
        S: C5 OK Fetch completed.
        C: C6 FETCH 84 (RFC822.SIZE)
        S: * 884 EXISTS
        S: * 84 FETCH (UID 7 RFC822.SIZE 2345)
        S: C6 OK Fetch completed.
        C: C7 LOGOUT
        S: * BYE Logging out
        S: C7 OK Logout completed.
    )");
    TIdIMAP4 imap;
    Aim(imap, srv);
    EXPECT_TRUE(imap.Connect(true));
    EXPECT_EQ(imap.GreetingBanner(), "[CAPABILITY IMAP4rev1] ready to serve");
    EXPECT_EQ(imap.ConnectionState, State::Authenticated);
    EXPECT_EQ(imap.ServerCapabilities, (TIdStrings{"IMAP4rev1", "UIDPLUS", "IDLE"}));
    EXPECT_TRUE(imap.HasCapability("uidplus"));

    EXPECT_TRUE(imap.SelectMailbox("inbox"));
    EXPECT_EQ(imap.ConnectionState, State::Selected);
    EXPECT_EQ(imap.MailBox.MailboxName, "inbox");
    EXPECT_EQ(imap.MailBox.ExistsCount, 882);
    EXPECT_EQ(imap.MailBox.RecentCount, 5);
    EXPECT_EQ(imap.MailBox.FirstUnseen, 2);

    EXPECT_TRUE(imap.SearchMailbox({Unseen()}));
    EXPECT_EQ(imap.MailBox.SearchHits, (std::vector<std::uint32_t>{2, 84, 882}));

    TIdMessage message;
    EXPECT_TRUE(imap.FetchHeader(84, message));
    ASSERT_EQ(message.HeaderLines.Count(), 4u);
    EXPECT_EQ(message.HeaderLines[0], "From: Ann <ann@example.org>");
    EXPECT_EQ(message.HeaderLines[3], ""); // the blank line that ends the header
    EXPECT_EQ(message.Subject, "Hello there");
    EXPECT_EQ(message.From().Address, "ann@example.org");

    EXPECT_EQ(imap.MessageSize(84), 2345);
    EXPECT_EQ(imap.FetchLine.Uid, "7");
    EXPECT_EQ(imap.LastReplyIMAP4().SideLines, (TIdStrings{"Fetch completed.", "884 EXISTS"}));

    imap.Disconnect();
    EXPECT_FALSE(imap.Connected());
    EXPECT_EQ(imap.ConnectionState, State::NonAuthenticated);
    EXPECT_TRUE(imap.ServerCapabilities.empty());
    EXPECT_TRUE(srv.WaitDone());
}

TEST(Imap4Transcript, PreauthSkipsLoginAndSearchMayFindNothing)
{
    ScriptedServer srv(R"(
        S: * PREAUTH welcome back
        C: C1 CAPABILITY
        S: * CAPABILITY IMAP4rev1
        S: C1 OK done
        C: C2 SELECT "inbox"
        S: * 0 EXISTS
        S: C2 OK [READ-WRITE] done
        C: C3 SEARCH UNSEEN
        S: * SEARCH
        S: C3 OK done
        C: C4 SEARCH UNSEEN
        S: C4 NO not now
    )");
    TIdIMAP4 imap;
    Aim(imap, srv);
    imap.Connect(true);
    EXPECT_EQ(imap.ConnectionState, State::Authenticated);
    EXPECT_EQ(imap.GreetingBanner(), "welcome back");
    EXPECT_TRUE(imap.SelectMailbox("inbox"));
    imap.MailBox.SearchHits = {9};
    EXPECT_TRUE(imap.SearchMailbox({Unseen()}));
    EXPECT_TRUE(imap.MailBox.SearchHits.empty());
    imap.MailBox.SearchHits = {9};
    EXPECT_FALSE(imap.SearchMailbox({Unseen()})); // refused: the hits stay
    EXPECT_EQ(imap.MailBox.SearchHits, (std::vector<std::uint32_t>{9}));
    EXPECT_TRUE(srv.WaitDone());
}

TEST(Imap4Transcript, RefusedLoginRaisesNothingUntilTheSelect)
{
    ScriptedServer srv(R"(
        S: * OK ready
        C: C1 LOGIN ann secret
        S: C1 NO [AUTHENTICATIONFAILED] Authentication failed.
    )");
    TIdIMAP4 imap;
    Aim(imap, srv);
    EXPECT_TRUE(imap.Connect(true));
    EXPECT_EQ(imap.ConnectionState, State::NonAuthenticated);
    EXPECT_EQ(MessageOf<EIdConnectionStateError>([&] { imap.SelectMailbox("inbox"); }),
              "Unable to execute command, wrong connection state;Current connection state: Non Authenticated.");
    EXPECT_EQ(imap.ConnectionState, State::Authenticated);
    EXPECT_TRUE(srv.WaitDone());
}

// What a login changed in the capabilities is asked once, and not at all
// where the login's answer (or a PREAUTH greeting) names them.
TEST(Imap4Transcript, CapabilitiesAreReadOnceAfterTheLogin)
{
    const std::string greeting = "S: * OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=PLAIN] ready\n";
    const std::string login = "C: C1 LOGIN ann secret\n";
    const struct
    {
        const char* Name;
        std::string Script; // up to the LOGOUT, whose tag follows
        int LogoutTag;
        TIdStrings Capabilities;
    } cases[] = {
        {"NamedOnTheCompletion", greeting + login + "S: C1 OK [CAPABILITY IMAP4rev1 IDLE UIDPLUS] Logged in\n", 2,
         {"IMAP4rev1", "IDLE", "UIDPLUS"}},
        {"NamedInAnUntaggedLine", greeting + login + "S: * CAPABILITY IMAP4rev1 NOTIFY\nS: C1 OK Logged in\n", 2,
         {"IMAP4rev1", "NOTIFY"}},
        {"NotNamed", greeting + login + "S: C1 OK Logged in\nC: C2 CAPABILITY\nS: * CAPABILITY IMAP4rev1 IDLE\n"
                                        "S: C2 OK done\n",
         3, {"IMAP4rev1", "IDLE"}},
        {"OtherCodeOnTheCompletion", greeting + login + "S: C1 OK [ALERT] Logged in\nC: C2 CAPABILITY\n"
                                                        "S: * CAPABILITY IMAP4rev1\nS: C2 OK done\n",
         3, {"IMAP4rev1"}},
        {"SaslNamedOnTheCompletion",
         "S: * OK [CAPABILITY IMAP4rev1 SASL-IR LOGINDISABLED AUTH=PLAIN] ready\n"
         "C: C1 AUTHENTICATE PLAIN AGFubgBzZWNyZXQ=\nS: C1 OK [CAPABILITY IMAP4rev1 IDLE] in\n",
         2, {"IMAP4rev1", "IDLE"}},
        {"PreauthNamedInTheGreeting", "S: * PREAUTH [CAPABILITY IMAP4rev1 IDLE] welcome back\n", 1,
         {"IMAP4rev1", "IDLE"}},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.Name);
        const std::string logout = "C" + std::to_string(c.LogoutTag);
        ScriptedServer srv(c.Script + "C: " + logout + " LOGOUT\nS: * BYE\nS: " + logout + " OK bye\n");
        TIdIMAP4 imap;
        Aim(imap, srv);
        imap.Connect(true);
        EXPECT_EQ(imap.ConnectionState, State::Authenticated);
        EXPECT_EQ(imap.ServerCapabilities, c.Capabilities);
        imap.Disconnect();
        EXPECT_TRUE(srv.WaitDone());
        EXPECT_TRUE(srv.Ok());
    }
}

TEST(Imap4Transcript, GreetingsThatAreNotUsable)
{
    {
        ScriptedServer srv("S: * OK\n");
        TIdIMAP4 imap;
        Aim(imap, srv);
        EXPECT_EQ(MessageOf<EIdReplyIMAP4Error>([&] { imap.Connect(false); }),
                  "Unexpected: Response (last) line contained only a * (type 2)");
    }
    {
        // Lines before the status line are read up to it.
        ScriptedServer srv("S: *\nS: * OK late\n");
        TIdIMAP4 imap;
        Aim(imap, srv);
        EXPECT_EQ(MessageOf<EIdReplyIMAP4Error>([&] { imap.Connect(false); }),
                  "Unexpected: Non-last response line (i.e. a data line) only contained one word, instead "
                  "of a * followed by one or more words, offending line: *");
    }
}

TEST(Imap4Transcript, BrokenCompletionsRaiseTheirMessages)
{
    const std::pair<std::string, std::string> cases[] = {
        {"S: c2 ok lower case\n",
         "Unexpected: Line does not start with a command reference (like C41), a *, or a valid response "
         "like OK, BAD, etc, offending line: c2 ok lower case"},
        {"S: CAPABILITY IMAP4rev1\nS: C2 OK done\n",
         "Unexpected: Non-last response line (i.e. a data line) did not start with a *, offending line: "
         "CAPABILITY IMAP4rev1"},
        {"S: C2 OK\n",
         "Unexpected: Logic error, line starts with a command reference (like C41) but nothing else, why "
         "was an exception not thrown earlier?, offending line: C2 OK"},
    };
    for (const auto& [answer, message] : cases)
    {
        ScriptedServer srv("S: * PREAUTH hi\nC: C1 CAPABILITY\nS: C1 OK done\nC: C2 CAPABILITY\n" + answer);
        TIdIMAP4 imap;
        Aim(imap, srv);
        imap.Connect(true);
        TIdStrings list;
        EXPECT_EQ(MessageOf<EIdReplyIMAP4Error>([&] { imap.Capability(list); }), message);
        EXPECT_TRUE(srv.WaitDone());
    }
}

TEST(Imap4Transcript, ByeWithoutCompletionAndByeOutOfTurn)
{
    {
        ScriptedServer srv(LoggedIn + "C: C3 LOGOUT\nS: * BYE going\nCLOSE\n");
        TIdIMAP4 imap;
        Aim(imap, srv);
        imap.Connect(true);
        EXPECT_EQ(MessageOf<EIdConnClosedGracefully>([&] { imap.Disconnect(); }),
                  "Connection Closed Gracefully.");
        EXPECT_FALSE(imap.Connected());
        EXPECT_EQ(MessageOf<EIdClosedSocket>([&] { imap.Disconnect(); }), "Disconnected.");
    }
    {
        ScriptedServer srv(LoggedIn + "C: C3 SELECT \"inbox\"\nS: * BYE idle too long\n");
        TIdIMAP4 imap;
        Aim(imap, srv);
        imap.Connect(true);
        EXPECT_EQ(MessageOf<EIdDisconnectedProbablyIdledOut>([&] { imap.SelectMailbox("inbox"); }),
                  "Server has gracefully disconnected you, possibly because the connection was idle for "
                  "too long.");
        EXPECT_EQ(imap.ConnectionState, State::Lost);
        EXPECT_EQ(MessageOf<EIdConnectionStateError>([&] { imap.CloseMailbox(); }),
                  "Unable to execute command, wrong connection state;Current connection state: .");
    }
}

TEST(Imap4Transcript, HeaderFetchThatAnswersFalseStaysInStep)
{
    ScriptedServer srv(Selected + R"(
        C: C4 FETCH 1 (RFC822.HEADER)
        S: C4 NO no such message
        C: C5 FETCH 2 (RFC822.HEADER)
        S: * 2 FETCH (BODY[HEADER] {6}
        R: ab\r\n\r\n
        S: )
        S: C5 OK done
        C: C6 FETCH 3 (RFC822.HEADER)
        S: * 1 FETCH (FLAGS (\Seen))
        S: * 3 FETCH (RFC822.HEADER {8}
        R: A: b\r\n\r\n)\r\n
        S: C6 OK done
        C: C7 FETCH 3 (RFC822.SIZE)
        S: * 3 FETCH (RFC822.SIZE nothing)
        S: C7 OK done
        C: C8 FETCH 3 (RFC822.SIZE)
        S: * 3 FETCH (FLAGS ())
        S: C8 OK done
    )");
    TIdIMAP4 imap;
    Aim(imap, srv);
    imap.Connect(true);
    imap.SelectMailbox("inbox");
    TIdMessage message;
    EXPECT_FALSE(imap.FetchHeader(1, message));
    // An item we did not ask for: false, and its literal is read away.
    EXPECT_FALSE(imap.FetchHeader(2, message));
    // Another message's flag change before ours is passed over.
    EXPECT_TRUE(imap.FetchHeader(3, message));
    EXPECT_EQ(message.HeaderLines.Lines, (std::vector<std::string>{"A: b", ""}));
    EXPECT_EQ(MessageOf<EConvertError>([&] { imap.MessageSize(3); }), "'nothing' is not a valid integer value");
    EXPECT_EQ(imap.MessageSize(3), -1);
    EXPECT_TRUE(srv.WaitDone());
}

TEST(Imap4Transcript, ServerClosesInTheMiddleOfTheLiteral)
{
    ScriptedServer srv(Selected + R"(
        C: C4 FETCH 1 (RFC822.HEADER)
        S: * 1 FETCH (RFC822.HEADER {342}
        R: From: half
        CLOSE
    )");
    TIdIMAP4 imap;
    Aim(imap, srv);
    imap.Connect(true);
    imap.SelectMailbox("inbox");
    TIdMessage message;
    EXPECT_EQ(MessageOf<EIdConnClosedGracefully>([&] { imap.FetchHeader(1, message); }),
              "Connection Closed Gracefully.");
    EXPECT_TRUE(message.HeaderLines.Empty());
}

TEST(Imap4Transcript, StatesAndNumbersAreCheckedBeforeSending)
{
    ScriptedServer srv(LoggedIn + R"(
        C: C3 LOGOUT
        S: * BYE
        S: C3 OK bye
    )");
    TIdIMAP4 imap;
    EXPECT_EQ(MessageOf<EIdClosedSocket>([&] { imap.Disconnect(); }), "Disconnected.");
    Aim(imap, srv);
    imap.Connect(true);
    TIdMessage message;
    EXPECT_EQ(MessageOf<EIdNumberInvalid>([&] { imap.FetchHeader(0, message); }),
              "Number parameter (relative message number or UID) is invalid; Must be 1 or greater.");
    EXPECT_THROW(imap.MessageSize(-1), EIdNumberInvalid);
    EXPECT_EQ(MessageOf<EIdConnectionStateError>([&] { imap.CloseMailbox(); }),
              "Unable to execute command, wrong connection state;Current connection state: Authenticated.");
    EXPECT_THROW(imap.SearchMailbox({Unseen()}), EIdConnectionStateError);
    EXPECT_THROW(imap.FetchHeader(1, message), EIdConnectionStateError);
    imap.Disconnect();
    EXPECT_TRUE(srv.WaitDone());
    // Nothing was sent for the refused calls.
    EXPECT_EQ(srv.ReceivedLines().size(), 3u);
}

TEST(Imap4Transcript, PasswordsThatNeedQuotingOrALiteral)
{
    {
        ScriptedServer srv(R"x(
            S: * OK ready
            C: C1 LOGIN ann "pass \"word\" (x)"
            S: C1 OK in
            C: C2 CAPABILITY
            S: C2 OK none
        )x");
        TIdIMAP4 imap;
        Aim(imap, srv, "ann", "pass \"word\" (x)");
        imap.Connect(true);
        EXPECT_EQ(imap.ConnectionState, State::Authenticated);
        EXPECT_TRUE(srv.WaitDone());
    }
    {
        ScriptedServer srv("S: * OK ready\nC: C1 LOGIN ann {7}\nS: + go on\nC: s\xc3\xa9\x63ret\n"
                           "S: C1 OK in\nC: C2 CAPABILITY\nS: C2 OK none\n");
        TIdIMAP4 imap;
        Aim(imap, srv, "ann", "s\xc3\xa9\x63ret");
        imap.Connect(true);
        EXPECT_EQ(imap.ConnectionState, State::Authenticated);
        EXPECT_TRUE(srv.WaitDone());
    }
    {
        // Refused before anything is sent; the connection is closed with LOGOUT.
        ScriptedServer srv("S: * OK ready\nC: C1 LOGOUT\nS: * BYE\nS: C1 OK bye\n");
        TIdIMAP4 imap;
        Aim(imap, srv, "ann", "secret\r\nC9 DELETE inbox");
        EXPECT_EQ(MessageOf<EIdException>([&] { imap.Connect(true); }),
                  "User name or password contains a line break.");
        EXPECT_TRUE(srv.WaitDone());
        EXPECT_FALSE(imap.Connected());
    }
}

// LOGIN goes in UTF-8; a refusal of a password beyond ASCII gets one more
// LOGIN in Windows-1252, a refusal for another reason does not.
TEST(Imap4Transcript, CredentialForms)
{
    struct Case
    {
        const char* Name;
        std::string Password;
        std::string Script;
        State After;
        TIdCredentialCharset Taken;
    };
    const std::string utf8 = "p\xC3\xA4ssw\xC3\xB6rd-\xE2\x82\xAC";
    const std::string capabilities = "C: C3 CAPABILITY\nS: C3 OK none\n";
    const Case cases[] = {
        {"Windows1252AfterUtf8", utf8,
         "S: * OK ready\nC: C1 LOGIN ann {14}\nS: + go on\nC: " + utf8 +
             "\nS: C1 NO [AUTHENTICATIONFAILED] Authentication failed.\n"
             "C: C2 LOGIN ann {10}\nS: + go on\nC: p\xE4ssw\xF6rd-\x80\nS: C2 OK in\n" + capabilities,
         State::Authenticated, ccWindows1252},
        {"UnavailableIsNotTriedAgain", utf8,
         "S: * OK ready\nC: C1 LOGIN ann {14}\nS: + go on\nC: " + utf8 +
             "\nS: C1 NO [UNAVAILABLE] Try later\n",
         State::NonAuthenticated, ccUTF8},
        {"AsciiPasswordOnce", "secret",
         "S: * OK ready\nC: C1 LOGIN ann secret\nS: C1 NO [AUTHENTICATIONFAILED] no\n",
         State::NonAuthenticated, ccUTF8},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Name);
        ScriptedServer srv(c.Script);
        TIdIMAP4 imap;
        Aim(imap, srv, "ann", c.Password);
        imap.Connect(true);
        EXPECT_EQ(imap.ConnectionState, c.After);
        EXPECT_EQ(imap.CredentialCharset, c.Taken);
        EXPECT_TRUE(srv.WaitDone());
        EXPECT_TRUE(srv.Ok());
        imap.Disconnect(false);
    }
}

// AUTHENTICATE where the server disables LOGIN and offers PLAIN, or where
// the client is asked for SASL.
TEST(Imap4Transcript, SaslLogins)
{
    struct Case
    {
        const char* Name;
        std::string Script;
        State After;
        bool AskSasl = false;
    };
    const std::string plain = "AGFubgBzZWNyZXQ="; // "\0ann\0secret"
    const std::string capabilities = "C: C2 CAPABILITY\nS: C2 OK none\n";
    const Case cases[] = {
        {"InitialResponseOnTheCommand",
         "S: * OK [CAPABILITY IMAP4rev1 SASL-IR LOGINDISABLED AUTH=PLAIN] ready\n"
         "C: C1 AUTHENTICATE PLAIN " + plain + "\nS: C1 OK in\n" + capabilities,
         State::Authenticated},
        {"InitialResponseAfterTheContinuation",
         "S: * OK [CAPABILITY IMAP4rev1 LOGINDISABLED AUTH=PLAIN] ready\n"
         "C: C1 AUTHENTICATE PLAIN\nS: +\nC: " + plain + "\nS: * OK still here\nS: C1 OK in\n" + capabilities,
         State::Authenticated},
        {"ChallengePlainCannotAnswerIsCancelled",
         "S: * OK [CAPABILITY IMAP4rev1 LOGINDISABLED AUTH=PLAIN] ready\n"
         "C: C1 AUTHENTICATE PLAIN\nS: + \nC: " + plain + "\nS: + bW9yZQ==\nC: *\nS: C1 BAD cancelled\n",
         State::NonAuthenticated},
        {"Refusal",
         "S: * OK [CAPABILITY IMAP4rev1 SASL-IR LOGINDISABLED AUTH=PLAIN] ready\n"
         "C: C1 AUTHENTICATE PLAIN " + plain + "\nS: C1 NO [AUTHENTICATIONFAILED] no\n",
         State::NonAuthenticated},
        {"LoginDisabledWithoutPlainStillTriesLogin",
         "S: * OK [CAPABILITY IMAP4rev1 LOGINDISABLED AUTH=GSSAPI] ready\n"
         "C: C1 LOGIN ann secret\nS: C1 NO [PRIVACYREQUIRED] no\n",
         State::NonAuthenticated},
        {"AskedForSasl",
         "S: * OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=PLAIN] ready\n"
         "C: C1 AUTHENTICATE PLAIN " + plain + "\nS: C1 OK in\n" + capabilities,
         State::Authenticated, true},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Name);
        ScriptedServer srv(c.Script);
        TIdIMAP4 imap;
        Aim(imap, srv);
        if (c.AskSasl)
        {
            imap.AuthType = TIdIMAP4AuthenticationType::atSASL;
            imap.SASLMechanisms = {"plain"};
        }
        imap.Connect(true);
        EXPECT_EQ(imap.ConnectionState, c.After);
        EXPECT_TRUE(srv.WaitDone());
        EXPECT_TRUE(srv.Ok());
        imap.Disconnect(false);
    }
}

// AUTHENTICATE with an access token: OAUTHBEARER before XOAUTH2, the error
// challenge answered as each mechanism requires, one fresh token and one
// retry after a refusal of the token, and the login counted only once the
// command after it succeeds.
TEST(Imap4Transcript, TokenLogins)
{
    struct Case
    {
        const char* Name;
        std::string Script;
        State After;
        std::vector<bool> Asked;
    };
    const std::string both = "S: * OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=PLAIN AUTH=XOAUTH2 AUTH=OAUTHBEARER] ready\n";
    const std::string xoauth2 = "S: * OK [CAPABILITY IMAP4rev1 AUTH=XOAUTH2 AUTH=PLAIN] ready\n";
    const auto ob = [](const char* token) { return BearerLine("OAUTHBEARER", "ann@example.org", token); };
    const auto xo = [](const char* token) { return BearerLine("XOAUTH2", "ann@example.org", token); };
    const std::string challenge = "S: + " + InvalidTokenChallenge + "\n";
    const std::string after2 = "C: C2 CAPABILITY\nS: C2 OK done\n";
    const std::string after3 = "C: C3 CAPABILITY\nS: C3 OK done\n";
    const Case cases[] = {
        {"OauthbearerOnTheCommand", both + "C: C1 AUTHENTICATE OAUTHBEARER " + ob("tok1") + "\nS: C1 OK in\n" + after2,
         State::Authenticated, {false}},
        {"Xoauth2AfterTheContinuation",
         xoauth2 + "C: C1 AUTHENTICATE XOAUTH2\nS: +\nC: " + xo("tok1") + "\nS: C1 OK in\n" + after2,
         State::Authenticated, {false}},
        {"OauthbearerRefusedThenRefreshed",
         both + "C: C1 AUTHENTICATE OAUTHBEARER " + ob("tok1") + "\n" + challenge +
             "C: AQ==\nS: C1 NO [AUTHENTICATIONFAILED] no\nC: C2 AUTHENTICATE OAUTHBEARER " + ob("tok2") +
             "\nS: C2 OK in\n" + after3,
         State::Authenticated, {false, true}},
        {"Xoauth2RefusedTwiceStopsAfterOneRetry",
         xoauth2 + "C: C1 AUTHENTICATE XOAUTH2\nS: +\nC: " + xo("tok1") + "\n" + challenge +
             "C:\nS: C1 NO [AUTHENTICATIONFAILED] no\nC: C2 AUTHENTICATE XOAUTH2\nS: +\nC: " + xo("tok2") + "\n" +
             challenge + "C:\nS: C2 NO [AUTHENTICATIONFAILED] no\n",
         State::NonAuthenticated, {false, true}},
        {"UnavailableIsNoRefusalOfTheToken",
         both + "C: C1 AUTHENTICATE OAUTHBEARER " + ob("tok1") + "\nS: C1 NO [UNAVAILABLE] later\n",
         State::NonAuthenticated, {false}},
        {"RefusedByTheNextCommand",
         both + "C: C1 AUTHENTICATE OAUTHBEARER " + ob("tok1") + "\nS: C1 OK in\n" +
             "C: C2 CAPABILITY\nS: C2 BAD User is authenticated but not connected.\n",
         State::NonAuthenticated, {false}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Name);
        ScriptedServer srv(c.Script);
        TIdIMAP4 imap;
        Aim(imap, srv, "ann@example.org", "");
        TTokenSource tokens;
        imap.AccessToken = tokens.Source();
        imap.Connect(true);
        EXPECT_EQ(imap.ConnectionState, c.After);
        EXPECT_EQ(tokens.Asked, c.Asked);
        EXPECT_TRUE(srv.WaitDone());
        EXPECT_TRUE(srv.Ok());
        imap.Disconnect(false);
    }
}

TEST(Imap4Transcript, TokenLoginWithoutATokenMechanismSendsNothing)
{
    ScriptedServer srv("S: * OK [CAPABILITY IMAP4rev1 AUTH=PLAIN] ready\nC: C1 LOGOUT\nS: * BYE\nS: C1 OK bye\n");
    TIdIMAP4 imap;
    Aim(imap, srv);
    TTokenSource tokens;
    imap.AccessToken = tokens.Source();
    EXPECT_EQ(MessageOf<EIdException>([&] { imap.Connect(true); }), "The server offers no login with an access token.");
    EXPECT_TRUE(tokens.Asked.empty());
    EXPECT_TRUE(srv.WaitDone());
    EXPECT_TRUE(srv.Ok());
}

// Each challenge costs the client a line back: a server that never stops
// asking is cut off.
TEST(Imap4Transcript, EndlessChallengesAreCutOff)
{
    ScriptedServer srv("S: * OK [CAPABILITY IMAP4rev1 SASL-IR AUTH=XOAUTH2] ready\n"
                       "C: C1 AUTHENTICATE XOAUTH2 " + BearerLine("XOAUTH2", "ann", "tok1") + "\n"
                       "FLOOD 120000 + \\r\\n\n");
    TIdIMAP4 imap;
    Aim(imap, srv);
    imap.Connect(false);
    std::unique_ptr<TIdSASLMechanism> mechanism = MakeSASLMechanism("XOAUTH2", {"ann", "tok1"});
    EXPECT_EQ(MessageOf<EIdException>([&] { imap.Authenticate(*mechanism); }), "Reply too large.");
    EXPECT_TRUE(srv.WaitDone());
}

TEST(Imap4Transcript, SilentServerCostsOneReadTimeout)
{
    ScriptedServer srv(R"(
        S: * OK ready
        C: C1 LOGIN ann secret
        STALL
    )");
    TIdIMAP4 imap;
    Aim(imap, srv);
    auto clock = std::make_shared<FakeClock>();
    imap.Clock = clock;
    imap.ReadTimeout = 30000;
    EXPECT_EQ(MessageOf<EIdReadTimeout>([&] { imap.Connect(true); }), "Read Timeout");
    // One limit run out, beside the short drain of lines before a command.
    EXPECT_GE(clock->Served(), std::chrono::seconds(30));
    EXPECT_LT(clock->Served(), std::chrono::seconds(31));
    EXPECT_FALSE(imap.Connected());
    EXPECT_TRUE(srv.WaitClientClosed());
    // No LOGOUT went out to wait for a second time.
    const auto lines = srv.ReceivedLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "C2 LOGOUT"), 0);
}

// Bytes left in the queue of a closed connection do not make Disconnect
// send LOGOUT on it: it reports the connection as gone instead.
TEST(Imap4Transcript, StaleQueueAfterFailedCheckDoesNotSendLogout)
{
    ScriptedServer srv(LoggedIn + "C: C3 SELECT \"inbox\"\nR: * 3 EXI\nSTALL\n");
    TIdIMAP4 imap;
    Aim(imap, srv);
    imap.ReadTimeout = 30000;
    imap.Connect(true);
    FakeClockFromNow(imap);
    EXPECT_THROW(imap.SelectMailbox("inbox"), EIdException);
    imap.Disconnect(false);
    EXPECT_EQ(MessageOf<EIdClosedSocket>([&] { imap.Disconnect(); }), "Disconnected.");
    const auto lines = srv.ReceivedLines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "C4 LOGOUT"), 0);
}

// --- the batched header fetch

const std::string BatchItems = " (RFC822.SIZE BODY.PEEK[HEADER])";

// A FETCH response whose header is a literal: its first line, the header
// bytes, and the line that ends it (`after`, before the ")").
std::string HeaderResponse(const std::string& first, const std::string& subject, const std::string& after = "")
{
    const std::string header = "Subject: " + subject + "\r\n\r\n";
    return "S: " + first + " BODY[HEADER] {" + std::to_string(header.size()) + "}\n" + Raw(header) + "S: " + after
           + ")\n";
}

// "UID size subject" of each record, in order.
std::string Dump(const std::vector<TIdIMAP4FetchedHeader>& records)
{
    std::string out;
    for (const TIdIMAP4FetchedHeader& r : records)
        out += (out.empty() ? "" : "; ") + std::to_string(r.UID) + " " + std::to_string(r.Size) + " " + r.Message.Subject;
    return out;
}

struct BatchCase
{
    const char* What;
    std::vector<std::uint32_t> UIDs;
    std::size_t Chunk;
    std::string Script;
    bool Result;
    std::string Records;
};

TEST(Imap4Transcript, BatchedFetchKeepsWhatWasAskedByItsUID)
{
    const BatchCase cases[] = {
        {"out of order, with flags, a size apart and the UID after the literal",
         {9, 4, 5, 6, 7},
         250,
         "C: C4 UID FETCH 4:7,9" + BatchItems + "\nS: * 3 FETCH (FLAGS (\\Seen))\n"
             + HeaderResponse("* 9 FETCH (UID 9 RFC822.SIZE 120 FLAGS (\\Recent)", "nine") + "S: * 901 EXISTS\n"
             + HeaderResponse("* 4 FETCH (RFC822.SIZE 40", "four", " UID 4 FLAGS ()")
             + "S: * 5 FETCH (UID 5 RFC822.SIZE 50 BODY[HEADER] \"Subject: five\")\n"
               "S: * 6 FETCH (UID 6 BODY[HEADER] NIL RFC822.SIZE 60)\n"
               "S: * 7 FETCH (UID 7 RFC822.SIZE 70)\n"
             + HeaderResponse("* 7 FETCH (UID 7", "seven") + "S: C4 OK done\n",
         true,
         "9 120 nine; 4 40 four; 5 50 five; 7 70 seven"},
        {"in chunks, one command each",
         {3, 1, 2},
         2,
         "C: C4 UID FETCH 1:2" + BatchItems + "\n" + HeaderResponse("* 1 FETCH (UID 1 RFC822.SIZE 10", "one")
             + HeaderResponse("* 2 FETCH (UID 2 RFC822.SIZE 20", "two") + "S: C4 OK done\nC: C5 UID FETCH 3"
             + BatchItems + "\n" + HeaderResponse("* 3 FETCH (UID 3 RFC822.SIZE 30", "three") + "S: C5 OK done\n",
         true,
         "1 10 one; 2 20 two; 3 30 three"},
        {"not asked, twice, two UIDs, broken, left out",
         {4, 5},
         250,
         "C: C4 UID FETCH 4:5" + BatchItems + "\n" + HeaderResponse("* 1 FETCH (UID 3", "three")
             + HeaderResponse("* 2 FETCH (UID 4", "four") + HeaderResponse("* 2 FETCH (UID 4", "again")
             + HeaderResponse("* 3 FETCH (UID 5 UID 6", "five or six")
             + HeaderResponse("* 3 FETCH (UID 5 RFC822.SIZE (", "broken") + "S: C4 OK done\n",
         true,
         "4 -1 four"},
        {"a chunk refused",
         {1, 2, 3},
         2,
         "C: C4 UID FETCH 1:2" + BatchItems + "\n" + HeaderResponse("* 1 FETCH (UID 1", "one")
             + "S: C4 OK done\nC: C5 UID FETCH 3" + BatchItems + "\nS: C5 NO [SERVERBUG] not now\n",
         false,
         "1 -1 one"},
    };
    for (const BatchCase& c : cases)
    {
        SCOPED_TRACE(c.What);
        ScriptedServer srv(Selected + c.Script);
        TIdIMAP4 imap;
        Aim(imap, srv);
        imap.Connect(true);
        ASSERT_TRUE(imap.SelectMailbox("inbox"));
        std::vector<TIdIMAP4FetchedHeader> out;
        EXPECT_EQ(imap.UIDFetchHeadersAndSizes(c.UIDs, out, c.Chunk), c.Result);
        EXPECT_EQ(Dump(out), c.Records);
        EXPECT_TRUE(srv.WaitDone());
    }
}

// With previews on, the same command asks for the body's start without
// \Seen; its answer makes the preview and is not kept. A text that comes
// as NIL, or not at all, gives none.
TEST(Imap4Transcript, BatchedFetchWithPreviewsAsksForTheBodysStart)
{
    SetPreviewHelperFolder(TERNBELL_RUNTIME_DIR);
    const std::string header = "Subject: one\r\nContent-Type: text/html; charset=utf-8\r\n\r\n";
    const std::string text = "<style>p{}</style><p>Caf&eacute; &amp;\r\n<b>more</b></p>";
    ScriptedServer srv(Selected + "C: C4 UID FETCH 1:3 (RFC822.SIZE BODY.PEEK[HEADER] BODY.PEEK[TEXT]<0.4096>)\n"
                       "S: * 1 FETCH (UID 1 RFC822.SIZE 10 BODY[HEADER] {" + std::to_string(header.size()) + "}\n"
                       + Raw(header) + "S:  BODY[TEXT]<0> {" + std::to_string(text.size()) + "}\n" + Raw(text)
                       + "S: )\n"
                         "S: * 2 FETCH (UID 2 RFC822.SIZE 20 BODY[HEADER] \"Subject: two\" BODY[TEXT]<0> NIL)\n"
                       + HeaderResponse("* 3 FETCH (UID 3 RFC822.SIZE 30", "three") + "S: C4 OK done\n");
    TIdIMAP4 imap;
    Aim(imap, srv);
    imap.FetchPreviews = true;
    imap.CheckFieldsOnly = true;
    imap.Connect(true);
    ASSERT_TRUE(imap.SelectMailbox("inbox"));
    std::vector<TIdIMAP4FetchedHeader> out;
    EXPECT_TRUE(imap.UIDFetchHeadersAndSizes({1, 2, 3}, out));
    EXPECT_EQ(Dump(out), "1 10 one; 2 20 two; 3 30 three");
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].Preview, "Caf\xC3\xA9 & more");
    EXPECT_EQ(out[1].Preview, "");
    EXPECT_EQ(out[2].Preview, "");
    EXPECT_TRUE(srv.WaitDone());
}

TEST(Imap4Transcript, BatchedFetchThatCannotEndRaises)
{
    const std::pair<std::string, std::string> cases[] = {
        {"S: * 1 FETCH (UID 1 BODY[HEADER] {342}\nR: From: half\nCLOSE\n", "Connection Closed Gracefully."},
        {HeaderResponse("* 1 FETCH (UID 1", "one") + "CLOSE\n", "Connection Closed Gracefully."},
        {"S: * 1 FETCH (UID 1 RFC822.SIZE 10)\nSTALL\n", "Read Timeout"},
        {"S: * 1 FETCH (UID 1 BODY[HEADER] {33554464}\n", "Reply too large."},
        {"FLOOD 600000 * 1 FETCH (UID 1 FLAGS (\\\\Seen))\\r\\n\n", "Reply too large."},
        {"S: C3 OK an old completion\n",
         "Unexpected: Line in a FETCH answer that is neither untagged nor the completion, offending line: C3 OK "
         "an old completion"},
    };
    for (const auto& [answer, message] : cases)
    {
        SCOPED_TRACE(message);
        ScriptedServer srv(Selected + "C: C4 UID FETCH 1" + BatchItems + "\n" + answer);
        TIdIMAP4 imap;
        Aim(imap, srv);
        imap.Connect(true);
        ASSERT_TRUE(imap.SelectMailbox("inbox"));
        // Only the silent server is to run out of time, on the test clock.
        const bool silent = answer.find("STALL") != std::string::npos;
        imap.IOHandler()->ReadTimeout = silent ? 30000 : 3000;
        if (silent)
            FakeClockFromNow(imap);
        std::vector<TIdIMAP4FetchedHeader> out;
        EXPECT_EQ(MessageOf<EIdException>([&] { imap.UIDFetchHeadersAndSizes({1}, out); }), message);
        EXPECT_TRUE(out.empty());
    }
}

TEST(Imap4Transcript, UIDValidityComesFromTheSelectAnswer)
{
    ScriptedServer srv(Selected + "C: C4 SELECT \"other\"\nS: * 0 EXISTS\nS: C4 OK [READ-WRITE] done\n");
    TIdIMAP4 imap;
    Aim(imap, srv);
    imap.Connect(true);
    ASSERT_TRUE(imap.SelectMailbox("inbox"));
    EXPECT_EQ(imap.MailBox.UIDValidity, 1700000001u);
    ASSERT_TRUE(imap.SelectMailbox("other"));
    EXPECT_EQ(imap.MailBox.UIDValidity, 0u);
    EXPECT_TRUE(srv.WaitDone());
}

} // namespace
