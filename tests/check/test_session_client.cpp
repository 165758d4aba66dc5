// How a mail client is aimed at an account, for both protocols.
#include "check/AccountSession.h"
#include "check/CheckClients.h"
#include "mail/Imap4Client.h"
#include "mail/Pop3Client.h"
#include "support/FakeClock.h"
#include "support/ScriptedServer.h"

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
        std::unique_ptr<TCheckClient> client = MakeCheckClient(false, {5000, 5000, 5000}, nullptr);
        client->SetAccount({"Caption", true, user, utf8, srv.Host(), "", false}, srv.Port());
        client->Connect();
        client->Disconnect();
    }
    EXPECT_TRUE(srv.WaitDone());
    EXPECT_TRUE(srv.Ok());
}

} // namespace
