// How a mail client is aimed at an account, for both protocols.
#include "check/AccountSession.h"
#include "check/CheckClients.h"
#include "check/CheckCycle.h"
#include "i18n/Translate.h"
#include "mail/Imap4Client.h"
#include "mail/Pop3Client.h"
#include "support/FakeClock.h"
#include "support/ScriptedServer.h"
#include "support/TokenLogin.h"

#include <gtest/gtest.h>

namespace
{

template <typename TClient>
void ExpectAimed(const TClient& client, TIdUseTLS tls, const std::shared_ptr<TIdClock>& clock)
{
    EXPECT_EQ(client.Username, "ann");
    EXPECT_EQ(client.Password, "pa ss");
    EXPECT_EQ(client.Host, "mail.example.org");
    // The port as the caller converted it, not the account's text.
    EXPECT_EQ(client.Port, 2110);
    EXPECT_EQ(client.UseTLS, tls);
    EXPECT_EQ(client.ConnectTimeout, 11);
    EXPECT_EQ(client.ReadTimeout, 22);
    EXPECT_EQ(client.OperationTimeout, 33);
    EXPECT_EQ(client.Clock, clock);
}

TEST(AimSession, GivesBothProtocolsTheLoginTheLineAndTheLimits)
{
    const struct
    {
        TAccountSecurity Security;
        TIdUseTLS Tls;
    } cases[] = {
        {asNone, utNoTLSSupport},
        {asStartTLS, utUseRequireTLS},
        {asImplicitTLS, utUseImplicitTLS},
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE(c.Security);
        const Account account{"Caption", true, "ann", "pa ss", "mail.example.org", "110", false, c.Security};
        const TSessionLimits limits{11, 22, 33, std::make_shared<FakeClock>()};

        TIdPOP3 pop;
        pop.AutoLogin = false;
        AimSession(pop, account, 2110, limits);
        ExpectAimed(pop, c.Tls, limits.Clock);
        EXPECT_TRUE(pop.AutoLogin);

        TIdIMAP4 imap;
        AimSession(imap, account, 2110, limits);
        ExpectAimed(imap, c.Tls, limits.Clock);
        EXPECT_EQ(imap.MilliSecsToWaitToClearBuffer, 0);
    }
}

// The form of the credentials a server took is the account's first try in
// its next sessions; another account starts in UTF-8.
TEST(AimSession, TheAccountRemembersTheFormItsServerTook)
{
    const std::string utf8 = "p\xC3\xA4ss";
    const std::string cp1252 = "p\xE4ss";
    const auto login = [](const std::string& user, const std::string& password, const std::string& answer) {
        return "S: +OK ready\nC: CAPA\nS: -ERR\nC: USER " + user + "\nS: +OK\nC: PASS " + password + "\nS: " +
               answer + "\n";
    };
    const std::string quit = "C: QUIT\nS: +OK\nACCEPT\n";
    ScriptedServer srv(login("ann", utf8, "-ERR") + "C: USER ann\nS: +OK\nC: PASS " + cp1252 + "\nS: +OK\n" + quit +
                       login("ann", cp1252, "+OK") + quit + login("bob", utf8, "+OK") + "C: QUIT\nS: +OK\n");
    for (const char* user : {"ann", "ann", "bob"})
    {
        std::unique_ptr<TCheckClient> client = MakeCheckClient(mpPop3, {5000, 5000, 5000}, nullptr);
        client->SetAccount({"Caption", true, user, utf8, srv.Host(), "", false}, srv.Port());
        client->Connect();
        client->Disconnect();
    }
    EXPECT_TRUE(srv.WaitDone());
    EXPECT_TRUE(srv.Ok());
}

// A token source of the test's own: hands out a token or raises.
class TScriptedTokens : public IAccessTokens
{
public:
    std::function<std::string()> Next;
    std::vector<std::string> AskedFor; // the user names of the accounts asked for

    std::string AccessToken(const Account& account, bool) override
    {
        AskedFor.push_back(account.UserName);
        return Next();
    }
};

// An OAuth2 account's check logs in with a token asked for at the login;
// what the source raises becomes the report's error, a sign-in needed
// marked as such, and nothing further goes on the wire.
TEST(AimSession, OAuth2AccountsLogInWithTheSourcesToken)
{
    struct Case
    {
        const char* Name;
        std::function<std::string()> Next;
        bool WithSource;
        std::string Error;
        bool SignInNeeded;
    };
    const std::string capa = "S: +OK ready\nC: CAPA\nS: +OK\nS: SASL XOAUTH2\nS: .\n";
    const Case cases[] = {
        {"Token", [] { return std::string("tok1"); }, true, "", false},
        {"SignInNeeded", []() -> std::string { throw ESignInNeeded("invalid_grant"); }, true,
         ResStr("This account needs a sign-in with its mail provider: open its settings and sign in."), true},
        {"TokenUnavailable", []() -> std::string { throw ETokenUnavailable("The token endpoint did not answer."); },
         true, "The token endpoint did not answer.", false},
        {"NoSource", nullptr, false, "This program cannot log in with an access token.", false},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Name);
        const std::string login = c.Error.empty() ? "C: AUTH XOAUTH2 " + BearerLine("XOAUTH2", "ann@example.org", "tok1") +
                                                        "\nS: +OK\nC: STAT\nS: +OK 0 0\nC: UIDL\nS: +OK\nS: .\n"
                                                  : "";
        ScriptedServer srv(capa + login + "C: QUIT\nS: +OK\n");
        auto tokens = std::make_shared<TScriptedTokens>();
        tokens->Next = c.Next;
        TSessionLimits limits{5000, 5000, 5000};
        if (c.WithSource)
            limits.Tokens = tokens;
        std::unique_ptr<TCheckClient> client = MakeCheckClient(mpPop3, limits, nullptr);
        Account account{"Caption", true, "ann@example.org", "", srv.Host(), "", false};
        account.Authentication = aaOAuth2;
        client->SetAccount(account, srv.Port());
        const TAccountReport report = CheckSession(*client, 100, TSessionOrder{});
        EXPECT_EQ(report.Error, c.Error);
        EXPECT_EQ(report.SignInNeeded, c.SignInNeeded);
        EXPECT_EQ(tokens->AskedFor, c.WithSource ? std::vector<std::string>{"ann@example.org"}
                                                 : std::vector<std::string>{});
        EXPECT_TRUE(srv.WaitDone());
        EXPECT_TRUE(srv.Ok());
    }
}

} // namespace
