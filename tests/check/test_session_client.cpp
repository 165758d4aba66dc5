// How a mail client is aimed at an account, for both protocols.
#include "check/AccountSession.h"
#include "mail/Imap4Client.h"
#include "mail/Pop3Client.h"

#include <gtest/gtest.h>

namespace
{

template <typename TClient>
void ExpectAimed(const TClient& client, TIdUseTLS tls)
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
        const TSessionLimits limits{11, 22, 33};

        TIdPOP3 pop;
        pop.AutoLogin = false;
        AimSession(pop, account, 2110, limits);
        ExpectAimed(pop, c.Tls);
        EXPECT_TRUE(pop.AutoLogin);

        TIdIMAP4 imap;
        AimSession(imap, account, 2110, limits);
        ExpectAimed(imap, c.Tls);
        EXPECT_EQ(imap.MilliSecsToWaitToClearBuffer, 0);
    }
}

} // namespace
