// The IMAP4 client's login against a private Dovecot (the cycle's tests and
// Delete's cover the mailbox commands there).
#include "mail/IdExceptions.h"
#include "mail/Imap4Client.h"
#include "support/Dovecot.h"
#include "support/TestHelpers.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace
{

using State = TIdIMAP4ConnectionState;

const std::string OddPassword = "pa ss\"wo\\rd (x)";

// One server for all tests; each test has its own user.
class Imap4Dovecot : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        if (!Dovecot::Unavailable().empty())
            return;
        Server = std::make_unique<Dovecot>();
        for (const char* user : {"plain", "odd"})
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

} // namespace
