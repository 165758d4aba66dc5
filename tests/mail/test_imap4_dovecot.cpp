// The IMAP4 client against a private Dovecot.
#include "mail/IdExceptions.h"
#include "mail/IdMessage.h"
#include "mail/Imap4Client.h"
#include "support/Dovecot.h"
#include "support/TestHelpers.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace
{

using State = TIdIMAP4ConnectionState;

const std::string OddPassword = "pa ss\"wo\\rd (x)";

std::string Mail(const std::string& from, const std::string& subject)
{
    return "From: " + from + "\r\nTo: someone@example.org\r\nSubject: " + subject + "\r\n\r\nbody of "
           + subject + "\r\n";
}

TIdIMAP4SearchRec Unseen()
{
    TIdIMAP4SearchRec rec;
    rec.SearchKey = skUnseen;
    return rec;
}

// One server for all tests; each test has its own user.
class Imap4Dovecot : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        if (!Dovecot::Unavailable().empty())
            return;
        Server = std::make_unique<Dovecot>();
        for (const char* user : {"plain", "odd", "mixed", "uid"})
            Server->AddUser(user, std::string(user) == "odd" ? OddPassword : "secret");
        Server->Start();
    }
    static void TearDownTestSuite() { Server.reset(); }

    void SetUp() override
    {
        const std::string why = Dovecot::Unavailable();
        if (!why.empty())
            GTEST_SKIP() << why;
    }

    void Aim(const std::string& user, const std::string& password = "secret")
    {
        Imap.Host = Server->Host();
        Imap.Port = Server->ImapPort();
        Imap.Username = user;
        Imap.Password = password;
        Imap.ConnectTimeout = 5000;
        Imap.ReadTimeout = 5000;
    }

    static std::unique_ptr<Dovecot> Server;
    TIdIMAP4 Imap;
};

std::unique_ptr<Dovecot> Imap4Dovecot::Server;

TEST_F(Imap4Dovecot, RightAndWrongPassword)
{
    Aim("plain");
    EXPECT_TRUE(Imap.Connect(true));
    EXPECT_EQ(Imap.ConnectionState, State::Authenticated);
    EXPECT_TRUE(Imap.HasCapability("IMAP4rev1"));
    EXPECT_EQ(Imap.CommandCounter, 3); // LOGIN and CAPABILITY twice
    EXPECT_TRUE(Imap.SelectMailbox("inbox"));
    EXPECT_EQ(Imap.MailBox.ExistsCount, 0);
    EXPECT_TRUE(Imap.CloseMailbox());
    EXPECT_EQ(Imap.ConnectionState, State::Authenticated);
    Imap.Disconnect();
    EXPECT_FALSE(Imap.Connected());

    Aim("plain", "wrong");
    EXPECT_TRUE(Imap.Connect(true));
    EXPECT_EQ(Imap.ConnectionState, State::NonAuthenticated);
    EXPECT_THROW(Imap.SelectMailbox("inbox"), EIdConnectionStateError);
    Imap.Disconnect();
}

TEST_F(Imap4Dovecot, PasswordWithSpaceQuoteBackslashAndParentheses)
{
    Aim("odd", OddPassword);
    Imap.Connect(true);
    EXPECT_EQ(Imap.ConnectionState, State::Authenticated);
    EXPECT_TRUE(Imap.SelectMailbox("inbox"));
    Imap.Disconnect();
}

TEST_F(Imap4Dovecot, UnseenMessagesAmongSeenOnes)
{
    Server->DeliverSeen("mixed", Mail("old@example.org", "seen one"));
    const std::string two = Mail("Ann <ann@example.org>", "first unseen");
    Server->Deliver("mixed", two);
    Server->DeliverSeen("mixed", Mail("old@example.org", "seen two"));
    const std::string four = Mail("bob@example.org", "second unseen");
    Server->Deliver("mixed", four);
    const std::string five = Mail("Cy <cy@example.org>", "third unseen");
    Server->Deliver("mixed", five);

    Aim("mixed");
    Imap.Connect(true);
    ASSERT_TRUE(Imap.SelectMailbox("inbox"));
    EXPECT_EQ(Imap.MailBox.ExistsCount, 5);
    EXPECT_EQ(Imap.MailBox.FirstUnseen, 2);
    ASSERT_TRUE(Imap.SearchMailbox({Unseen()}));
    ASSERT_EQ(Imap.MailBox.SearchHits, (std::vector<int>{2, 4, 5}));

    const std::pair<std::string, std::string> expected[] = {
        {"Ann <ann@example.org>", "first unseen"}, {"bob@example.org", "second unseen"},
        {"Cy <cy@example.org>", "third unseen"}};
    const std::size_t sizes[] = {two.size(), four.size(), five.size()};
    for (std::size_t i = 0; i < 3; ++i)
    {
        TIdMessage message;
        EXPECT_TRUE(Imap.FetchHeader(Imap.MailBox.SearchHits[i], message));
        EXPECT_EQ(message.From().Text(), expected[i].first);
        EXPECT_EQ(message.Subject, expected[i].second);
        EXPECT_EQ(Imap.MessageSize(Imap.MailBox.SearchHits[i]), static_cast<int>(sizes[i]));
    }
    // Reading the headers did not mark them read.
    ASSERT_TRUE(Imap.SearchMailbox({Unseen()}));
    EXPECT_EQ(Imap.MailBox.SearchHits, (std::vector<int>{2, 4, 5}));
    Imap.Disconnect();
}

TEST_F(Imap4Dovecot, DeleteByUidRemovesOnlyThatMessage)
{
    for (const char* s : {"a", "b", "c"})
        Server->Deliver("uid", Mail("x@example.org", s));
    Aim("uid");
    Imap.Connect(true);
    ASSERT_TRUE(Imap.HasCapability("UIDPLUS"));
    ASSERT_TRUE(Imap.SelectMailbox("inbox"));
    ASSERT_TRUE(Imap.UIDSearchMailbox({Unseen()}));
    ASSERT_EQ(Imap.MailBox.SearchHits.size(), 3u);
    const int uid = Imap.MailBox.SearchHits[1];
    TIdMessage message;
    ASSERT_TRUE(Imap.UIDFetchHeader(uid, message));
    EXPECT_EQ(message.Subject, "b");
    EXPECT_GT(Imap.UIDMessageSize(uid), 0);
    EXPECT_TRUE(Imap.UIDStoreDeleted(uid));
    EXPECT_TRUE(Imap.UIDExpunge(uid));
    Imap.Disconnect();

    const std::vector<std::string> left = Server->Messages("uid");
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(left[0], Mail("x@example.org", "a"));
    EXPECT_EQ(left[1], Mail("x@example.org", "c"));
}

} // namespace
