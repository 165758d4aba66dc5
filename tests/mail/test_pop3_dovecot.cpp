// Integration tests of the POP3 client against a private Dovecot.
#include "mail/IdExceptions.h"
#include "mail/IdMessage.h"
#include "mail/Pop3Client.h"
#include "support/Dovecot.h"
#include "support/DovecotFixture.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace
{

#define SKIP_WITHOUT_DOVECOT()                                                                     \
    do                                                                                             \
    {                                                                                              \
        std::string why = Dovecot::Unavailable();                                                  \
        if (!why.empty())                                                                          \
            GTEST_SKIP() << why;                                                                   \
    } while (0)

TEST(Pop3DovecotFixture, StartsServesBothProtocolsAndStopsEverything)
{
    SKIP_WITHOUT_DOVECOT();
    pid_t group = -1;
    std::string folder;
    {
        Dovecot server;
        server.AddUser("ann", "secret");
        server.Start();
        ASSERT_TRUE(server.Running());
        EXPECT_NE(server.Pop3Port(), server.ImapPort());
        EXPECT_EQ(Dovecot::FirstLine(server.Pop3Port()).rfind("+OK", 0), 0u);
        EXPECT_EQ(Dovecot::FirstLine(server.ImapPort()).rfind("* OK", 0), 0u);
        // Without APOP the greeting carries no timestamp.
        EXPECT_EQ(Dovecot::FirstLine(server.Pop3Port()).find('<'), std::string::npos);

        server.Deliver("ann", "Subject: one\r\n\r\n1\r\n");
        server.Deliver("ann", "Subject: two\r\n\r\n2\r\n");
        ASSERT_EQ(server.CountMessages("ann"), 2u);
        EXPECT_EQ(server.Messages("ann")[1], "Subject: two\r\n\r\n2\r\n");
        EXPECT_THROW(server.Deliver("bob", "x"), Dovecot::Failure);
        folder = server.Folder();
        group = server.Master();
    }
    // Nothing of it is left: no folder and no process of the group the
    // master led.
    EXPECT_FALSE(access(folder.c_str(), F_OK) == 0);
    ASSERT_GT(group, 0);
    EXPECT_FALSE(Dovecot::GroupAlive(group));
}

TEST(Pop3DovecotFixture, OffersApopTimestampWhenAsked)
{
    SKIP_WITHOUT_DOVECOT();
    Dovecot server;
    server.AddUser("ann", "secret");
    server.EnableApop();
    server.Start();
    std::string greeting = Dovecot::FirstLine(server.Pop3Port());
    EXPECT_NE(greeting.find('<'), std::string::npos) << greeting;
    EXPECT_NE(greeting.find('>'), std::string::npos) << greeting;
}

// One server for the client tests; each test has its own user, so the
// maildrops do not meet.
class Pop3Dovecot : public DovecotFixture<>
{
protected:
    void SetUp() override
    {
        DovecotFixture::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        User = TestMailboxName();
        NewMailbox("pw-" + User, User);
        AimAt(Pop, Server->Pop3Port(), User, "pw-" + User);
    }

    void TearDown() override
    {
        // A failed expectation must not leave a session behind.
        Pop.Disconnect(false);
    }

    static std::string Mail(const std::string& subject, const std::string& extra = {})
    {
        return "From: Sender <sender@example.org>\r\nTo: someone@example.org\r\nSubject: " + subject
               + "\r\n" + extra + "\r\nbody of " + subject + "\r\n";
    }

    std::string User;
    TIdPOP3 Pop;
};

TEST_F(Pop3Dovecot, LogsInWithTheRightPasswordAndNotWithAWrongOne)
{
    Pop.Connect();
    EXPECT_TRUE(Pop.Connected());
    EXPECT_TRUE(Pop.CapaAnswered);
    EXPECT_NE(std::find(Pop.ServerCapabilities.begin(), Pop.ServerCapabilities.end(), "TOP"),
              Pop.ServerCapabilities.end());
    EXPECT_FALSE(Pop.CanApop);
    Pop.Disconnect();
    EXPECT_FALSE(Pop.Connected());

    Pop.Password = "wrong";
    try
    {
        Pop.Connect();
        FAIL() << "a wrong password was accepted";
    }
    catch (const EIdReplyPOP3Error& e)
    {
        EXPECT_EQ(e.Code, "-ERR");
        EXPECT_EQ(e.EnhancedCode, "[AUTH]");
        EXPECT_EQ(e.Message, "Authentication failed.\r\n");
    }
    EXPECT_FALSE(Pop.Connected());
    // The same object connects again after the failure.
    Pop.Password = "pw-" + User;
    Pop.Connect();
    EXPECT_EQ(Pop.CountMessages(), 0);
    Pop.Disconnect();
}

TEST_F(Pop3Dovecot, CountsAndFetchesDecodedHeaders)
{
    Server->Deliver(User, "From: =?ISO-8859-1?Q?J=F6rg_M=FCller?= <joerg@example.org>, bob@example.org,\r\n"
                          " \"Carol C.\" <carol@example.org>\r\n"
                          "To: ann@example.org\r\n"
                          "Subject: =?ISO-8859-1?Q?Gr=FC=DFe_aus_K=F6ln?=\r\n"
                          "X-Priority: 1 (Highest)\r\n"
                          "\r\n"
                          "Hallo\r\n");
    Server->Deliver(User, "From: Dee <dee@example.org>\r\n"
                          "Subject: =?ISO-8859-1?B?6XTp?= and\r\n"
                          " =?iso-8859-1?q?more_=E9?=\r\n"
                          "Priority: non-priority\r\n"
                          "X-Priority: 1\r\n"
                          "\r\n"
                          ".line starting with a dot\r\n");
    Server->Deliver(User, Mail("plain", "X-Priority: 5\r\n"));
    Pop.Connect();
    ASSERT_EQ(Pop.CountMessages(), 3);

    TIdMessage first;
    EXPECT_TRUE(Pop.FetchHeader(1, first));
    EXPECT_EQ(first.Subject, "Gr\xc3\xbc\xc3\x9f" "e aus K\xc3\xb6ln");
    ASSERT_EQ(first.FromList.Count(), 3u);
    EXPECT_EQ(first.FromList.Items[0].Name, "J\xc3\xb6rg M\xc3\xbcller");
    EXPECT_EQ(first.FromList.Items[0].Address, "joerg@example.org");
    EXPECT_EQ(first.FromList.Items[1].Address, "bob@example.org");
    EXPECT_EQ(first.FromList.Items[2].Address, "carol@example.org");
    EXPECT_EQ(first.Priority, mpHighest);
    // No body line reached the header: TOP n 0 ends at the blank line.
    EXPECT_EQ(first.HeaderLines.Count(), 5u);

    TIdMessage second;
    Pop.FetchHeader(2, second);
    // Decoded into the desktop's UTF-8, folding undone.
    EXPECT_EQ(second.Subject, "\xc3\xa9t\xc3\xa9 and more \xc3\xa9");
    EXPECT_EQ(second.From().Address, "dee@example.org");
    // "Priority" is read before "X-Priority".
    EXPECT_EQ(second.Priority, mpLow);

    TIdMessage third;
    Pop.FetchHeader(3, third);
    EXPECT_EQ(third.Subject, "plain");
    EXPECT_EQ(third.Priority, mpLowest);

    // Fetching again reuses nothing of the earlier message.
    Pop.FetchHeader(3, first);
    EXPECT_EQ(first.Subject, "plain");
    EXPECT_EQ(first.FromList.Count(), 1u);
    Pop.Disconnect();
}

TEST_F(Pop3Dovecot, SizesMatchWhatTheServerReports)
{
    std::vector<std::string> raws = {
        Mail("small"),
        Mail("bigger", "X-Filler: " + std::string(5000, 'x') + "\r\n"),
        // Bare line feeds: the server counts every line end as CR LF.
        "Subject: bare\n\nline one\nline two\n",
    };
    for (const auto& raw : raws)
        Server->Deliver(User, raw);
    Pop.Connect();
    ASSERT_EQ(Pop.CountMessages(), 3);
    // The maildrop size from the same STAT reply.
    std::string stat = Pop.LastReplyPOP3().Text.at(0);
    long total = std::stol(stat.substr(stat.find(' ') + 1));
    long sum = 0;
    for (int n = 1; n <= 3; ++n)
    {
        const std::string& raw = raws[n - 1];
        long expected = static_cast<long>(raw.size());
        if (raw.find("\r\n") == std::string::npos)
            expected += static_cast<long>(std::count(raw.begin(), raw.end(), '\n'));
        int size = Pop.MessageSize(n);
        EXPECT_EQ(size, expected) << "message " << n;
        sum += size;
    }
    EXPECT_EQ(sum, total);
    // A number the maildrop does not have is refused and nothing breaks.
    EXPECT_THROW(Pop.MessageSize(4), EIdReplyPOP3Error);
    EXPECT_TRUE(Pop.Connected());
    Pop.Disconnect();
}

TEST_F(Pop3Dovecot, PipelinedHeaderAndSizeMatchOneAtATime)
{
    Server->Deliver(User, Mail("first"));
    Server->Deliver(User, Mail("second", "X-Filler: " + std::string(3000, 'x') + "\r\n"));
    Pop.Connect();
    ASSERT_TRUE(Pop.CanPipeline());
    ASSERT_EQ(Pop.CountMessages(), 2);
    for (int n = 1; n <= 2; ++n)
    {
        TIdMessage alone;
        Pop.FetchHeader(n, alone);
        const int size = Pop.MessageSize(n);
        TIdMessage together;
        EXPECT_EQ(Pop.FetchHeaderAndSize(n, together).Take(), size) << "message " << n;
        EXPECT_EQ(together.Subject, alone.Subject);
        EXPECT_EQ(together.HeaderLines.Lines, alone.HeaderLines.Lines);
    }
    // Both refused for a number the maildrop lacks; the session goes on.
    TIdMessage missing;
    EXPECT_THROW(Pop.FetchHeaderAndSize(3, missing), EIdReplyPOP3Error);
    EXPECT_EQ(Pop.CountMessages(), 2);
    EXPECT_NO_THROW(Pop.Disconnect());
}

TEST_F(Pop3Dovecot, DeletionsTakeEffectOnlyWithQuit)
{
    for (const char* subject : {"one", "two", "three", "four"})
        Server->Deliver(User, Mail(subject));

    // Dropped without QUIT: nothing is removed.
    Pop.Connect();
    ASSERT_EQ(Pop.CountMessages(), 4);
    EXPECT_TRUE(Pop.DeleteMessage(2));
    EXPECT_TRUE(Pop.DeleteMessage(4));
    EXPECT_THROW(Pop.DeleteMessage(2), EIdReplyPOP3Error); // already marked
    Pop.Disconnect(false);
    EXPECT_EQ(Server->CountMessages(User), 4u);

    Pop.Connect();
    ASSERT_EQ(Pop.CountMessages(), 4);
    EXPECT_TRUE(Pop.DeleteMessage(2));
    EXPECT_TRUE(Pop.DeleteMessage(4));
    Pop.Disconnect();
    std::vector<std::string> left = Server->Messages(User);
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(left[0], Mail("one"));
    EXPECT_EQ(left[1], Mail("three"));

    Pop.Connect();
    EXPECT_EQ(Pop.CountMessages(), 2);
    TIdMessage message;
    Pop.FetchHeader(2, message);
    EXPECT_EQ(message.Subject, "three");
    Pop.Disconnect();
}

TEST_F(Pop3Dovecot, UniqueIdsOutliveTheSessionAndLeaveWithTheirMessage)
{
    for (const char* subject : {"one", "two", "three"})
        Server->Deliver(User, Mail(subject));
    auto listing = [this] {
        std::vector<TIdPOP3UidlEntry> entries;
        EXPECT_TRUE(Pop.RetrieveUIDL(entries));
        std::vector<std::string> ids;
        for (std::size_t i = 0; i < entries.size(); ++i)
        {
            EXPECT_EQ(entries[i].Number, static_cast<int>(i + 1));
            ids.push_back(entries[i].Id);
        }
        return ids;
    };
    Pop.Connect();
    EXPECT_TRUE(Pop.CanUIDL());
    const std::vector<std::string> first = listing();
    ASSERT_EQ(first.size(), 3u);
    EXPECT_TRUE(first[0] != first[1] && first[1] != first[2] && first[0] != first[2]);
    std::string id;
    EXPECT_TRUE(Pop.UIDL(3, id));
    EXPECT_EQ(id, first[2]);
    EXPECT_FALSE(Pop.UIDL(4, id));
    EXPECT_TRUE(Pop.DeleteMessage(2));
    Pop.Disconnect();

    // The messages left keep their ids under their new numbers.
    Pop.Connect();
    EXPECT_EQ(listing(), (std::vector<std::string>{first[0], first[2]}));
    Pop.Disconnect();
}

// A server of their own that offers APOP.
class Pop3DovecotApop : public DovecotFixture<>
{
public:
    static void SetUpTestSuite() { StartSuite({.Apop = true}); }
};

TEST_F(Pop3DovecotApop, LogsInWithApopWhereOffered)
{
    Dovecot& server = *Server;
    NewMailbox("tanstaaf", "ann");
    server.Deliver("ann", "Subject: via apop\r\n\r\nbody\r\n");

    TIdPOP3 pop;
    pop.Host = server.Host();
    pop.Port = server.Pop3Port();
    pop.Username = "ann";
    pop.Password = "tanstaaf";
    pop.AuthType = atAPOP;
    pop.Connect();
    EXPECT_TRUE(pop.CanApop);
    EXPECT_EQ(pop.GreetingTimestamp.front(), '<');
    EXPECT_EQ(pop.GreetingTimestamp.back(), '>');
    EXPECT_EQ(pop.CountMessages(), 1);
    pop.Disconnect();
    EXPECT_NE(server.Log().find("method=APOP"), std::string::npos);

    pop.Password = "wrong";
    EXPECT_THROW(pop.Connect(), EIdReplyPOP3Error);
    EXPECT_FALSE(pop.Connected());
}

// Passwords beyond ASCII as a server of today stores them (UTF-8), by USER
// and PASS and by APOP; and one stored as an old desktop sent it, in
// Windows-1252, which the second try reaches.
TEST_F(Pop3DovecotApop, PasswordsBeyondAscii)
{
    struct Case
    {
        const char* User;
        std::string Stored;
        std::string Typed;
        TIdCredentialCharset Taken;
    };
    const Case cases[] = {
        {"umlauts", "p\xC3\xA4ssw\xC3\xB6rd-\xE2\x82\xAC", "p\xC3\xA4ssw\xC3\xB6rd-\xE2\x82\xAC", ccUTF8},
        {"omega", "\xCE\xA9mega", "\xCE\xA9mega", ccUTF8},
        {"cyrillic", "\xD0\xBF\xD0\xB0\xD1\x80\xD0\xBE\xD0\xBB\xD1\x8C", "\xD0\xBF\xD0\xB0\xD1\x80\xD0\xBE\xD0\xBB\xD1\x8C",
         ccUTF8},
        {"old", "p\xE4ssw\xF6rd-\x80", "p\xC3\xA4ssw\xC3\xB6rd-\xE2\x82\xAC", ccWindows1252},
    };
    Dovecot& server = *Server;
    for (const Case& c : cases)
        NewMailbox(c.Stored, c.User);
    for (const Case& c : cases)
        for (TIdPOP3AuthenticationType kind : {atUserPass, atAPOP, atSASL})
        {
            SCOPED_TRACE(std::string(c.User) +
                         (kind == atAPOP ? " APOP" : kind == atSASL ? " AUTH PLAIN" : " USER/PASS"));
            TIdPOP3 pop;
            pop.Host = server.Host();
            pop.Port = server.Pop3Port();
            pop.Username = c.User;
            pop.Password = c.Typed;
            pop.AuthType = kind;
            pop.SASLMechanisms = {"PLAIN"};
            ASSERT_NO_THROW(pop.Connect()) << server.Log();
            EXPECT_EQ(pop.CredentialCharset, c.Taken);
            EXPECT_EQ(pop.CountMessages(), 0);
            pop.Disconnect();
        }
}

} // namespace
