// An OAuth2 account's sessions as the program opens them, at a real Dovecot
// that checks tokens at the test authorization server: the check of either
// protocol, a revoked grant ending in a sign-in needed, and a push session
// that asks for a token at each login.
#include "check/AccessTokens.h"
#include "check/CheckClients.h"
#include "check/CheckCycle.h"
#include "check/Imap4PushClient.h"
#include "i18n/Translate.h"
#include "support/OAuth2Dovecot.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace
{

class OAuth2Sessions : public OAuth2DovecotFixture<>
{
protected:
    Account OAuth2Account(bool imap4, const std::string& user)
    {
        Account a;
        a.UserName = user;
        a.Host = Server->Host();
        a.Port = std::to_string(imap4 ? Server->ImapPort() : Server->Pop3Port());
        a.IMAP4 = imap4;
        a.Authentication = aaOAuth2;
        return a;
    }
};

TEST_F(OAuth2Sessions, ChecksLogInWithATokenUntilTheGrantIsRevoked)
{
    struct Case
    {
        const char* Name;
        bool Imap4;
        bool Revoked;
        std::vector<bool> Asked;
    };
    const Case cases[] = {
        {"Imap4", true, false, {false}},
        {"Pop3", false, false, {false}},
        {"Imap4Revoked", true, true, {false, true}},
        {"Pop3Revoked", false, true, {false, true}},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Name);
        const std::string user = NewMailbox("unused", std::string("check-") + c.Name);
        Server->Deliver(user, "Subject: hi\r\n\r\nbody\r\n");
        auto tokens = std::make_shared<TMintedTokens>();
        tokens->Revoked = c.Revoked;
        TSessionLimits limits;
        limits.Tokens = tokens;
        std::unique_ptr<TCheckClient> client = MakeCheckClient(c.Imap4 ? mpImap4 : mpPop3, limits, nullptr);
        const Account account = OAuth2Account(c.Imap4, user);
        client->SetAccount(account, std::stoi(account.Port));
        const TAccountReport report = CheckSession(*client, 100, TSessionOrder{});
        if (c.Revoked)
        {
            EXPECT_TRUE(report.SignInNeeded);
            EXPECT_EQ(report.Error,
                      ResStr("This account needs a sign-in with its mail provider: open its settings and sign in."));
        }
        else
        {
            EXPECT_EQ(report.Error, "");
            EXPECT_EQ(report.Count, 1);
        }
        EXPECT_EQ(tokens->Asked, c.Asked);
    }
}

// A push session that opens again logs in again, with the token the source
// has then, never one kept from before.
TEST_F(OAuth2Sessions, PushAsksForATokenAtEachOpen)
{
    const std::string user = NewMailbox("unused", "push");
    auto tokens = std::make_shared<TMintedTokens>();
    TSessionLimits limits;
    limits.Tokens = tokens;
    const Account account = OAuth2Account(true, user);
    std::unique_ptr<TPushClient> push = MakePushClient(account, limits, nullptr);
    for (int open = 0; open < 2; ++open)
    {
        EXPECT_EQ(push->Open(), TPushClient::TOpened::Ready);
        push->Close();
    }
    EXPECT_EQ(tokens->Asked, (std::vector<bool>{false, false}));
}

} // namespace
