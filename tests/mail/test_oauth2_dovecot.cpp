// Logins with OAuth2 access tokens at a real Dovecot that checks each token
// at the test authorization server's introspection endpoint: both
// mechanisms, both protocols, a revoked token refused and replaced once.
#include "mail/IdExceptions.h"
#include "mail/Imap4Client.h"
#include "mail/Pop3Client.h"
#include "support/DovecotFixture.h"
#include "support/oauth/AuthServer.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace
{

// A fresh access token for `user`. The server sends its answer in chunks,
// which AuthServer::Mint does not join yet: the token is read from the body
// as it came.
std::string MintedToken(AuthServer& server, const std::string& user)
{
    const AuthServer::TAnswer answer = server.Request("/test/mint", "account=" + user + "&scope=openid%20mail");
    const std::string key = "\"access_token\":\"";
    const std::size_t at = answer.Body.find(key);
    if (answer.Status != 200 || at == std::string::npos)
        throw std::runtime_error("no token minted: " + answer.Body);
    const std::size_t from = at + key.size();
    return answer.Body.substr(from, answer.Body.find('"', from) - from);
}

class OAuth2Dovecot : public DovecotFixture<>
{
public:
    static void SetUpTestSuite()
    {
        if (!AuthServer::Unavailable().empty() || !Dovecot::Unavailable().empty())
            return;
        try
        {
            Auth = std::make_unique<AuthServer>();
        }
        catch (const std::exception& e)
        {
            AuthError = e.what();
            return;
        }
        // Dovecot asks as the confidential client, its id and secret in the URL.
        const std::string scheme = "http://";
        StartSuite({.OAuth2Introspection = scheme + "dovecot:dovecot-secret@" +
                                           Auth->IntrospectionEndpoint().substr(scheme.size())});
    }
    static void TearDownTestSuite()
    {
        DovecotFixture::TearDownTestSuite();
        Auth.reset();
    }

protected:
    void SetUp() override
    {
        if (const std::string why = AuthServer::Unavailable(); !why.empty())
            GTEST_SKIP() << why;
        ASSERT_TRUE(Auth) << AuthError;
        DovecotFixture::SetUp();
    }

    static inline std::unique_ptr<AuthServer> Auth;
    static inline std::string AuthError;
};

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
            const std::string token = MintedToken(*Auth, user);
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
