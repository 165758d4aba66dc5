// The check cycle with secured accounts: an IMAPS and a POP3 STARTTLS account
// on a Dovecot with a certificate from a throw-away CA, and accounts whose
// servers cannot be trusted, which become error rows saying why.

#include "check/MessageList.h"
#include "config/AccountRows.h"
#include "desktop/UpDownControl.h"
#include "support/Dovecot.h"
#include "support/DovecotAccounts.h"
#include "support/DovecotFixture.h"
#include "support/ScriptedServer.h"
#include "support/TestHelpers.h"
#include "support/TestTls.h"
#include "support/UiFixture.h"
#include "support/WiredDovecot.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTimer>
#include <QTreeWidget>

namespace
{

class CycleTls : public WiredDovecot
{
public:
    static void SetUpTestSuite() { StartSuite({.Tls = true}); }

protected:
    void SetUp() override
    {
        WiredDovecot::SetUp();
        if (wired)
            wired->limits.ConnectTimeout = wired->limits.ReadTimeout = 3000;
    }

    std::string AddAccount(const std::string& caption, bool imap4, TAccountSecurity security, int port)
    {
        const std::string user = NewMailbox();
        Account a = AccountOn(*Server, caption, user, imap4, security);
        a.Port = std::to_string(port);
        keeper->Config.Accounts.push_back(a);
        return user;
    }

    // "caption|from|subject|image" per row, and the tooltip of error rows.
    std::vector<std::string> Rows()
    {
        std::vector<std::string> lines;
        TMessageList& rows = wired->mailCheck.Rows();
        for (int i = 0; i < rows.Count(); ++i)
        {
            const TMessageRow r = rows.Row(i);
            std::string line = r.Caption;
            for (std::size_t k = 0; k < 2 && k < r.SubItems.size(); ++k)
                line += "|" + r.SubItems[k];
            line += "|" + std::to_string(r.ImageIndex);
            if (r.ImageIndex == riError)
                line += "|" + r.Hint;
            lines.push_back(line);
        }
        return lines;
    }

    void Tick()
    {
        wired->shell.timMailTimer();
        wired->WaitForChecks();
    }

};

std::string Mail(const std::string& from, const std::string& subject)
{
    return "From: " + from + "\r\nTo: someone@example.org\r\nSubject: " + subject + "\r\n\r\nbody\r\n";
}

TEST_F(CycleTls, SecuredAccountsAreListedAndUntrustedOnesAreErrorRowsSayingWhy)
{
    const std::string imaps = AddAccount("Imaps", true, asImplicitTLS, Server->ImapsPort());
    const std::string stls = AddAccount("Stls", false, asStartTLS, Server->Pop3Port());
    Server->Deliver(imaps, Mail("ann@example.org", "=?UTF-8?Q?Caf=C3=A9?= over TLS"));
    Server->Deliver(stls, Mail("bob@example.org", "after STLS"));

    // A STARTTLS account whose server hides STLS, as a man in the middle
    // would: the password must not go.
    ScriptedServer stripped(R"(
        S: +OK ready
        C: CAPA
        S: +OK
        S: USER
        S: .
    )");
    AddAccount("Stripped", false, asStartTLS, stripped.Port());
    // An IMAPS account whose certificate is out of date.
    TlsTestServer expired(Ca->Issue("expired", {"127.0.0.1"}, -20, -2), "* OK ready");
    AddAccount("Expired", true, asImplicitTLS, expired.Port());

    Tick();
    const std::vector<std::string> rows = Rows();
    ASSERT_EQ(rows.size(), 4u);
    // The subject in the desktop code page when it holds the letter.
    EXPECT_TRUE(rows[0] == "Imaps|ann@example.org|Caf\xE9 over TLS|1" ||
                rows[0] == "Imaps|ann@example.org|Caf\xC3\xA9 over TLS|1")
        << rows[0];
    EXPECT_EQ(rows[1], "Stls|bob@example.org|after STLS|1");
    EXPECT_EQ(rows[2], "Stripped|0|The server does not offer STLS; the password was not sent.");
    EXPECT_EQ(rows[3], "Expired|0|The server's certificate has expired.");
    EXPECT_TRUE(stripped.WaitClientClosed());
    EXPECT_EQ(stripped.Received(), "CAPA\r\n");
    ASSERT_TRUE(expired.WaitDone());
    EXPECT_EQ(expired.Received(), "");
}

} // namespace
