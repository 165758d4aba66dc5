// Logins with OAuth2 access tokens at a real Dovecot that checks each token
// at the test authorization server's introspection endpoint: both
// mechanisms, both protocols, a revoked token refused and replaced once.
#include "mail/IdExceptions.h"
#include "mail/Imap4Client.h"
#include "mail/Pop3Client.h"
#include "support/OAuth2Dovecot.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace
{

using OAuth2Dovecot = OAuth2DovecotFixture<>;

TEST_F(OAuth2Dovecot, TokensLogInAndARevokedOneIsReplacedOnce)
{
    struct Case
    {
        const char* Name;
        bool Imap4;
        const char* Mechanism;
        // How many of the tokens handed out are revoked before the server
        // sees them.
        int Revoked;
        std::vector<bool> Asked;
    };
    const Case cases[] = {
        {"Imap4Oauthbearer", true, "OAUTHBEARER", 0, {false}},
        {"Imap4Xoauth2", true, "XOAUTH2", 0, {false}},
        {"Pop3Oauthbearer", false, "OAUTHBEARER", 0, {false}},
        {"Pop3Xoauth2", false, "XOAUTH2", 0, {false}},
        {"Imap4RevokedThenFresh", true, "OAUTHBEARER", 1, {false, true}},
        {"Pop3RevokedThenFresh", false, "XOAUTH2", 1, {false, true}},
        {"Imap4RevokedTwice", true, "XOAUTH2", 2, {false, true}},
        {"Pop3RevokedTwice", false, "OAUTHBEARER", 2, {false, true}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Name);
        const std::string user = NewMailbox("unused", std::string("oauth2-") + c.Name);
        Server->Deliver(user, "Subject: hi\r\n\r\nbody\r\n");
        std::vector<bool> asked;
        const auto source = [&](bool refused) {
            asked.push_back(refused);
            const std::string token = MintedToken(user);
            if (static_cast<int>(asked.size()) <= c.Revoked)
                Auth->Revoke(user);
            return token;
        };
        const bool accepted = c.Revoked < 2;
        if (c.Imap4)
        {
            TIdIMAP4 imap;
            AimAt(imap, Server->ImapPort(), user, "");
            imap.AccessToken = source;
            imap.SASLMechanisms = {c.Mechanism};
            imap.Connect(true);
            EXPECT_EQ(imap.ConnectionState == TIdIMAP4ConnectionState::Authenticated, accepted);
            if (accepted)
            {
                EXPECT_TRUE(imap.SelectMailbox("INBOX"));
                EXPECT_EQ(imap.MailBox.ExistsCount, 1);
            }
            imap.Disconnect();
        }
        else
        {
            TIdPOP3 pop;
            AimAt(pop, Server->Pop3Port(), user, "");
            pop.AccessToken = source;
            pop.SASLMechanisms = {c.Mechanism};
            if (accepted)
            {
                pop.Connect();
                EXPECT_EQ(pop.CountMessages(), 1);
                pop.Disconnect();
            }
            else
                EXPECT_THROW(pop.Connect(), EIdReplyPOP3Error);
        }
        EXPECT_EQ(asked, c.Asked);
    }
}

} // namespace
