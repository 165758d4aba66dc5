// The IMAP4 client as the check cycle drives it, against scripted servers.
#include "check/FolderList.h"
#include "check/Imap4CheckClient.h"
#include "mail/IdExceptions.h"
#include "mail/Imap4Client.h"
#include "mail/MessagePreview.h"
#include "platform/Exception.h"
#include "support/FakeClock.h"
#include "support/ScriptedServer.h"
#include "support/TestHelpers.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

const std::string Selected = R"(
    S: * PREAUTH ready
    C: C1 CAPABILITY
    S: C1 OK none
    C: C2 SELECT "INBOX"
    S: * 9 EXISTS
    S: C2 OK [READ-WRITE] done
)";

class Imap4CheckClient : public testing::Test
{
protected:
    void Start(const std::string& script)
    {
        Server = std::make_unique<ScriptedServer>(script);
        Check.SetAccount({"ann", true, "ann", "secret", Server->Host(), std::to_string(Server->Port()), true},
                         Server->Port());
    }

    std::vector<std::string> Sent() { return Server->ReceivedLines(); }

    TIdIMAP4 Client;
    TImap4CheckClient Check{Client, {2000, 2000}};
    std::unique_ptr<ScriptedServer> Server;
};

// A literal's announcement and its bytes as steps of a transcript.
std::string Literal(const std::string& bytes)
{
    std::string line = "{" + std::to_string(bytes.size()) + "}\nR: ";
    for (char c : bytes)
        line += c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
    return line + "\n";
}

// One header response of a batched fetch.
std::string Answer(int uid, const std::string& subject)
{
    const std::string header = "Subject: " + subject + "\r\n";
    return "S: * 1 FETCH (UID " + std::to_string(uid) + " RFC822.SIZE " + std::to_string(uid * 10) +
           " BODY[HEADER] {" + std::to_string(header.size()) + "}\nR: Subject: " + subject + "\\r\\n\nS: )\n";
}

// The hits are taken in the mailbox's order, whatever order they came in.
TEST_F(Imap4CheckClient, FetchesTheNewHitsAtOnceInTheHitsOrder)
{
    const std::string search = "C: C3 UID SEARCH UNSEEN\nS: * SEARCH 7 3 9\nS: C3 OK done\n"
                               "C: C4 UID FETCH 3,9 (RFC822.SIZE BODY.PEEK[HEADER])\n";
    struct Case
    {
        const char* name;
        std::string answer;
        std::vector<std::string> subjects; // empty: the fetch fails
        std::string error;
        std::vector<int> numbers = {3, 1};
        int firstSize = 90;
    };
    const std::vector<Case> cases = {
        {"both", Answer(3, "three") + Answer(9, "nine") + "S: C4 OK done\n", {"nine", "three"}, ""},
        {"asked in the answers' order",
         Answer(3, "three") + Answer(9, "nine") +
             "S: C4 OK done\nC: C5 CLOSE\nS: C5 OK done\nC: C6 LOGOUT\nS: * BYE\nS: C6 OK done\n",
         {"three", "nine"}, "", {1, 3}, 30},
        {"one left out", Answer(9, "nine") + "S: C4 OK done\n", {},
         "The server did not send the header of message UID 3."},
        {"refused", "S: C4 NO busy\n", {}, "The server refused to send the messages' headers."},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.name);
        Start(Selected + search + c.answer);
        Check.Connect();
        ASSERT_EQ(Check.MessageCount(), 3);
        if (c.subjects.empty())
        {
            EXPECT_EQ(MessageOf<EIdException>([&] { Check.FetchMessages(c.numbers); }), c.error);
        }
        else
        {
            const std::vector<TFetchedMessage> fetched = Check.FetchMessages(c.numbers);
            ASSERT_EQ(fetched.size(), 2u);
            EXPECT_EQ(fetched[0].Header.Subject, c.subjects[0]);
            EXPECT_EQ(fetched[0].Size, c.firstSize);
            EXPECT_EQ(fetched[1].Header.Subject, c.subjects[1]);
        }
        // Most scripts end before the logout: its wait goes by the fake clock.
        FakeClockFromNow(Client);
        Check.DisconnectAfterFailure();
        EXPECT_TRUE(Server->WaitDone());
    }
}

// One message's header, with previews on, comes with its body's start in
// one command; the preview is made from it when read.
TEST_F(Imap4CheckClient, OneHeaderWithItsPreviewInOneCommand)
{
    SetPreviewHelperFolder(TERNBELL_RUNTIME_DIR);
    const auto literal = Literal;
    Start(Selected + "C: C3 UID SEARCH UNSEEN\nS: * SEARCH 7 3 9\nS: C3 OK done\n"
                     "C: C4 UID FETCH 3 (RFC822.SIZE BODY.PEEK[HEADER] BODY.PEEK[TEXT]<0.4096>)\n"
                     "S: * 1 FETCH (UID 3 RFC822.SIZE 30 BODY[HEADER] " +
          literal("Subject: three\r\nContent-Type: text/plain; charset=iso-8859-1\r\n\r\n") + "S:  BODY[TEXT]<0> " +
          literal("K\xF6ln\r\n") + "S: )\nS: C4 OK done\n");
    Check.ReadPreviews = true;
    Check.Connect();
    ASSERT_EQ(Check.MessageCount(), 3);
    const TFetchedHeader fetched = Check.FetchHeader(1);
    EXPECT_EQ(fetched.Subject, "three");
    EXPECT_EQ(fetched.Preview, "K\xC3\xB6ln");
    FakeClockFromNow(Client);
    Check.DisconnectAfterFailure();
    EXPECT_TRUE(Server->WaitDone());
}

// Shown previews that came out empty from a body's start cut short are read
// further, all in one more command; one that shows text, or whose body
// ended, is not.
TEST_F(Imap4CheckClient, ShownPreviewsThatShowNothingAreReadFurtherInOneCommand)
{
    SetPreviewHelperFolder(TERNBELL_RUNTIME_DIR);
    const std::string head = "<html><head><style>" + std::string(PreviewBodyBytes, 'x') + "</style></head>";
    const struct
    {
        int Uid;
        std::string Start;
    } messages[] = {{3, head.substr(0, PreviewBodyBytes)}, {4, "<p>short</p>"}, {5, "<style>x</style>"},
                    {9, head.substr(0, PreviewBodyBytes)}};
    std::string script = Selected + "C: C3 UID SEARCH UNSEEN\nS: * SEARCH 3 4 5 9\nS: C3 OK done\n"
                                    "C: C4 UID FETCH 3:5,9 (RFC822.SIZE BODY.PEEK[HEADER] BODY.PEEK[TEXT]<0.4096>)\n";
    for (const auto& m : messages)
        script += "S: * 1 FETCH (UID " + std::to_string(m.Uid) + " RFC822.SIZE 9000 BODY[HEADER] " +
                  Literal("Content-Type: text/html\r\n\r\n") + "S:  BODY[TEXT]<0> " + Literal(m.Start) + "S: )\n";
    script += "S: C4 OK done\nC: C5 UID FETCH 3,9 (BODY.PEEK[TEXT]<0.65536>)\n";
    for (const int uid : {9, 3})
        script += "S: * 1 FETCH (UID " + std::to_string(uid) + " BODY[TEXT]<0> " +
                  Literal(head + "<body><p>Text " + std::to_string(uid) + "</p>") + "S: )\n";
    Start(script + "S: C5 OK done\n");
    Check.ReadPreviews = true;
    Check.ShownPreviews = 4;
    Check.Connect();
    ASSERT_EQ(Check.MessageCount(), 4);
    const std::vector<TFetchedMessage> fetched = Check.FetchMessages({1, 2, 3, 4});
    ASSERT_EQ(fetched.size(), 4u);
    const char* const previews[] = {"Text 3", "short", "", "Text 9"};
    for (std::size_t k = 0; k < 4; ++k)
    {
        EXPECT_TRUE(fetched[k].Header.Preview.Made()) << k;
        EXPECT_EQ(fetched[k].Header.Preview, previews[k]) << k;
    }
    EXPECT_TRUE(Server->WaitDone());
    EXPECT_TRUE(Server->Ok());
    FakeClockFromNow(Client);
    Check.DisconnectAfterFailure();
}

TEST_F(Imap4CheckClient, RefusedSearchCountsAsNoMessages)
{
    Start(Selected + R"(
        C: C3 UID SEARCH UNSEEN
        S: C3 BAD not today
    )");
    Check.Connect();
    EXPECT_EQ(Check.MessageCount(), 0);
    EXPECT_TRUE(Server->WaitDone());
}

TEST_F(Imap4CheckClient, FailurePathClosesTheSelectedMailboxThenLogsOut)
{
    Start(Selected + R"(
        C: C3 UID SEARCH UNSEEN
        S: * SEARCH 1
        S: C3 OK done
        C: C4 UID FETCH 1 (RFC822.SIZE)
        S: * 1 FETCH (UID 1 RFC822.SIZE lots)
        S: C4 OK done
        C: C5 CLOSE
        S: C5 OK closed
        C: C6 LOGOUT
        S: * BYE
        S: C6 OK bye
    )");
    Check.Connect();
    Check.MessageCount();
    EXPECT_THROW(Check.MessageSize(1), EConvertError);
    Check.DisconnectAfterFailure();
    EXPECT_FALSE(Client.Connected());
    EXPECT_TRUE(Server->WaitDone());
    EXPECT_TRUE(Server->Ok());
}

// A line longer than the client keeps leaves the rest of it on the wire: a
// CLOSE or LOGOUT would only read on into it. A list of hits past it is a
// mailbox too large to check, and its error row says so.
TEST_F(Imap4CheckClient, FailurePathAfterAnOverlongLineSaysNoGoodbye)
{
    Start(Selected + R"(
        C: C3 UID SEARCH UNSEEN
        S: * SEARCH 1 )" + std::string(4000, '7') + R"(
        STALL
    )");
    Client.MaxReplyLineLength = 1000;
    Check.Connect();
    EXPECT_EQ(MessageOf<EIdException>([&] { Check.MessageCount(); }),
              "The mailbox holds more unseen messages than can be checked.");
    Check.DisconnectAfterFailure();
    EXPECT_EQ(Sent(), (std::vector<std::string>{"C1 CAPABILITY", "C2 SELECT \"INBOX\"", "C3 UID SEARCH UNSEEN"}));
}

TEST_F(Imap4CheckClient, FailurePathSendsNothingOnceTheServerIsGone)
{
    Start(R"(
        S: * PREAUTH ready
        C: C1 CAPABILITY
        S: C1 OK none
        C: C2 SELECT "INBOX"
        CLOSE
    )");
    Check.Connect();
    EXPECT_THROW(Check.MessageCount(), EIdConnClosedGracefully);
    Check.DisconnectAfterFailure();
    EXPECT_FALSE(Client.Connected());
    EXPECT_EQ(Sent(), (std::vector<std::string>{"C1 CAPABILITY", "C2 SELECT \"INBOX\""}));
}

// An account's folders in one session: their states in one round trip
// (LIST-STATUS where offered, else every STATUS sent before the first
// answer), the inbox as the last check left it not opened, only the new
// UID of the changed folder fetched, the folder that is gone reported alone.
TEST_F(Imap4CheckClient, FoldersAreAskedAtOnceAndOnlyChangedOnesSearched)
{
    const std::string states = R"(
        S: * STATUS INBOX (MESSAGES 1 UIDNEXT 2 UIDVALIDITY 7 UNSEEN 1)
        S: * STATUS "Lists" (MESSAGES 2 UIDNEXT 5 UIDVALIDITY 8 UNSEEN 2)
    )";
    const auto rest = [](int tag) {
        const auto t = [tag](int k) { return "C" + std::to_string(tag + k); };
        return "C: " + t(0) + " SELECT \"Lists\"\nS: * 2 EXISTS\nS: * OK [UIDVALIDITY 8] ok\nS: " + t(0) +
               " OK [READ-WRITE] done\nC: " + t(1) + " UID SEARCH UNSEEN\nS: * SEARCH 3 4\nS: " + t(1) +
               " OK done\nC: " + t(2) + " UID FETCH 4 (RFC822.SIZE BODY.PEEK[HEADER])\n" + Answer(4, "four") +
               "S: " + t(2) + " OK done\nC: " + t(3) + " LOGOUT\nS: * BYE\nS: " + t(3) + " OK bye\n";
    };
    struct
    {
        const char* name;
        std::string script;
        std::string gone;
    } const cases[] = {
        {"LIST-STATUS",
         R"(
            S: * PREAUTH ready
            C: C1 CAPABILITY
            S: * CAPABILITY IMAP4rev1 LIST-EXTENDED LIST-STATUS
            S: C1 OK done
            C: C2 LIST "" ("INBOX" "Lists" "Gone") RETURN (STATUS (MESSAGES UIDNEXT UIDVALIDITY UNSEEN))
            S: * LIST () "/" INBOX
            S: * LIST () "/" Lists
         )" + states + "S: C2 OK done\n" + rest(3),
         "The folder \"Gone\" does not exist on the server."},
        {"STATUS pipelined",
         R"(
            S: * PREAUTH ready
            C: C1 CAPABILITY
            S: * CAPABILITY IMAP4rev1
            S: C1 OK done
            C: C2 STATUS "INBOX" (MESSAGES UIDNEXT UIDVALIDITY UNSEEN)
            C: C3 STATUS "Lists" (MESSAGES UIDNEXT UIDVALIDITY UNSEEN)
            C: C4 STATUS "Gone" (MESSAGES UIDNEXT UIDVALIDITY UNSEEN)
            S: * STATUS INBOX (MESSAGES 1 UIDNEXT 2 UIDVALIDITY 7 UNSEEN 1)
            S: C2 OK done
            S: * STATUS "Lists" (MESSAGES 2 UIDNEXT 5 UIDVALIDITY 8 UNSEEN 2)
            S: C3 OK done
            S: C4 NO [NONEXISTENT] Mailbox doesn't exist: Gone
         )" + rest(5),
         "The folder \"Gone\" could not be checked: [NONEXISTENT] Mailbox doesn't exist: Gone"},
    };
    TSessionOrder order;
    order.Folders.resize(3);
    order.Folders[0].Mailbox = "INBOX";
    order.Folders[0].Known = {"i:7:1"};
    order.Folders[0].LastStamp = "7:2:1:1";
    order.Folders[0].Last.Ids = {"i:7:1"};
    order.Folders[0].Last.ById = true;
    order.Folders[0].Last.Count = 1;
    order.Folders[1].Mailbox = "Lists";
    order.Folders[1].Known = {"i:8:3"};
    order.Folders[1].LastStamp = "8:4:1:1";
    order.Folders[2].Mailbox = "Gone";
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        Start(c.script);
        const TAccountReport report = CheckSession(Check, 100, order);
        ASSERT_EQ(report.Error, "");
        ASSERT_EQ(report.Folders.size(), 3u);
        EXPECT_EQ(report.Folders[0].Ids, (std::vector<std::string>{"i:7:1"}));
        EXPECT_TRUE(report.Folders[0].Numbers.empty());
        EXPECT_EQ(report.Folders[0].Stamp, "7:2:1:1");
        EXPECT_EQ(report.Folders[1].Ids, (std::vector<std::string>{"i:8:3", "i:8:4"}));
        EXPECT_EQ(report.Folders[1].Numbers, (std::vector<int>{2}));
        ASSERT_EQ(report.Folders[1].Fetched.size(), 1u);
        EXPECT_EQ(report.Folders[1].Fetched[0].Header.Subject, "four");
        EXPECT_EQ(report.Folders[1].Stamp, "8:5:2:2");
        EXPECT_EQ(report.Folders[2].Error, c.gone);
        EXPECT_TRUE(Server->WaitDone());
        EXPECT_TRUE(Server->Ok());
    }
}

// A folder answer cut short, flooded or hostile: a clean error for the
// account, or for the one folder whose state did not parse, never a hang.
TEST_F(Imap4CheckClient, FolderStatesCutShortFloodedOrHostileFailCleanly)
{
    const std::string asked = R"(
        S: * PREAUTH ready
        C: C1 CAPABILITY
        S: * CAPABILITY IMAP4rev1 LIST-STATUS
        S: C1 OK done
        C: C2 LIST "" ("INBOX" "Lists") RETURN (STATUS (MESSAGES UIDNEXT UIDVALIDITY UNSEEN))
    )";
    struct
    {
        const char* name;
        std::string answer;
        std::string error;      // the account's
        std::string listsError; // Lists', where the account did not fail
    } const cases[] = {
        {"cut short", "R: * STATUS INBOX (MESSAGES 1\nCLOSE\n", "Connection Closed Gracefully.", ""},
        {"flooded", "FLOOD 8000000 * LIST () \"/\" x\\r\\n\n", "Reply too large.", ""},
        {"hostile", "S: * STATUS INBOX (UIDNEXT 99999999999)\nS: * STATUS Lists (UNSEEN \"a\")\n"
                    "S: * STATUS {5}\nS: C2 OK done\nC: C3 LOGOUT\nS: C3 OK bye\n",
         "", "The folder \"Lists\" does not exist on the server."},
    };
    TSessionOrder order;
    order.Folders = {{"INBOX", {}, {}, {}}, {"Lists", {}, {}, {}}};
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.name);
        Start(asked + c.answer);
        const TAccountReport report = CheckSession(Check, 100, order);
        EXPECT_EQ(report.Error, c.error);
        if (c.error.empty())
        {
            ASSERT_EQ(report.Folders.size(), 2u);
            EXPECT_EQ(report.Folders[1].Error, c.listsError);
        }
        EXPECT_TRUE(Server->WaitDone());
    }
}

// A server's folder whose decoded name holds a line break cannot be stored
// in the settings (a save would fail on it): it is not offered.
TEST_F(Imap4CheckClient, FolderListPassesOverNamesWithLineBreaks)
{
    Start(R"(
        S: * PREAUTH ready
        C: C1 CAPABILITY
        S: C1 OK none
        C: C2 LIST "" "*"
        S: * LIST () "/" "Lists"
        S: * LIST () "/" "a&AA0ACg-C3 DELETE INBOX"
        S: * LIST () "/" "b&AAo-"
        S: * LIST () "/" INBOX
        S: C2 OK done
        C: C3 LOGOUT
        S: C3 OK bye
    )");
    const Account account{"ann", true, "ann", "secret", Server->Host(), std::to_string(Server->Port()), true};
    const TServerFolders found = ListServerFolders(account, Server->Port(), {2000, 2000}, nullptr);
    ASSERT_EQ(found.Error, "");
    std::vector<std::string> names;
    for (const TServerFolder& f : found.Folders)
        names.push_back(f.Name);
    EXPECT_EQ(names, (std::vector<std::string>{"INBOX", "Lists"}));
}

} // namespace

