// How a mail client is aimed at an account, for both protocols.
#include "check/AccountSession.h"
#include "check/CheckClients.h"
#include "mail/Imap4Client.h"
#include "mail/Pop3Client.h"
#include "support/ScriptedServer.h"

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

// One login as each protocol sends it, and the server's answer.
std::string Pop3Login(const std::string& user, const std::string& password, const std::string& answer)
{
    return "C: USER " + user + "\nS: +OK\nC: PASS " + password + "\nS: " + answer + "\n";
}

std::string Imap4Login(int tag, const std::string& user, const std::string& password, const std::string& answer)
{
    const std::string t = "C" + std::to_string(tag);
    return "C: " + t + " LOGIN " + user + " {" + std::to_string(password.size()) + "}\nS: + go\nC: " + password +
           "\nS: " + t + " " + answer + "\n";
}

std::string Imap4After(int tag)
{
    std::string lines;
    for (int t = tag; t < tag + 2; ++t)
        lines += "C: C" + std::to_string(t) + " CAPABILITY\nS: C" + std::to_string(t) + " OK done\n";
    return lines + "C: C" + std::to_string(tag + 2) + " LOGOUT\nS: * BYE\nS: C" + std::to_string(tag + 2) + " OK bye\n";
}

// The form of the credentials a server took is the account's first try in
// its next sessions, by either protocol; another account starts in UTF-8.
TEST(AimSession, TheAccountRemembersTheFormItsServerTook)
{
    const std::string utf8 = "p\xC3\xA4ss";
    const std::string cp1252 = "p\xE4ss";
    const std::string pop3 = "S: +OK ready\nC: CAPA\nS: -ERR\n";
    const std::string imap4 = "S: * OK ready\n";
    const std::string pop3Script = pop3 + Pop3Login("ann", utf8, "-ERR") + Pop3Login("ann", cp1252, "+OK") +
                                   "C: QUIT\nS: +OK\nACCEPT\n" + pop3 + Pop3Login("ann", cp1252, "+OK") +
                                   "C: QUIT\nS: +OK\nACCEPT\n" + pop3 + "C: USER bob\nS: +OK\nC: PASS " + utf8 +
                                   "\nCLOSE\n";
    const std::string imap4Script = imap4 + Imap4Login(1, "ann", utf8, "NO refused") +
                                    Imap4Login(2, "ann", cp1252, "OK in") + Imap4After(3) + "ACCEPT\n" + imap4 +
                                    Imap4Login(1, "ann", cp1252, "OK in") + Imap4After(2) + "ACCEPT\n" + imap4 +
                                    "C: C1 LOGIN bob {5}\nCLOSE\n";
    for (bool imap4 : {false, true})
    {
        SCOPED_TRACE(imap4 ? "IMAP4" : "POP3");
        ScriptedServer srv(imap4 ? imap4Script : pop3Script);
        for (const char* user : {"ann", "ann", "bob"})
        {
            const Account account{"Caption", true, user, utf8, srv.Host(), "", imap4};
            std::unique_ptr<TCheckClient> client = MakeCheckClient(imap4, {5000, 5000, 5000}, nullptr);
            client->SetAccount(account, srv.Port());
            if (std::string(user) == "bob")
            {
                // Only its first try matters: the server hangs up on it.
                EXPECT_ANY_THROW(client->Connect());
                continue;
            }
            client->Connect();
            client->Disconnect();
        }
        EXPECT_TRUE(srv.WaitDone());
        EXPECT_TRUE(srv.Ok());
    }
}

} // namespace
