// Passwords in a real keyring on a private bus, through the configuration
// keeper and the real windows (offscreen): moved in from the hive, typed on
// OK, moved with the account, deleted with it; a locked keyring and no bus;
// and a round that logs in to Dovecot with no password in the hive.

#include "check/MessageList.h"
#include "config/AccountRows.h"
#include "config/AccountSecrets.h"
#include "config/FoldersDialog.h"
#include "oauth/TokenKeeper.h"
#include "support/Dovecot.h"
#include "support/DovecotFixture.h"
#include "support/PrivateKeyring.h"
#include "support/ScriptedServer.h"
#include "support/UiFixture.h"
#include "support/WiredShell.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>

namespace
{

const std::string Account1 = AccountKey(1);

std::vector<std::string> AttributesOf(const std::string& user, const std::string& host, const std::string& port,
                                      const std::string& protocol = "pop3")
{
    return {"protocol", protocol, "host", host, "port", port, "user", user};
}

class Keyring : public UiFixture
{
protected:
    // The hive holds one POP3 account ann on mail.example.org:110.
    void Prepare(PrivateKeyring::TSetup setup, bool bus = true, const std::string& password = "hive secret")
    {
        UiFixture::SetUp();
        Store(ConfigKey, "AccountsNo", 1);
        Store(Account1, "UserName", "ann");
        Store(Account1, "UserPassword", password);
        Store(Account1, "HostAddress", "mail.example.org");
        Store(Account1, "HostPort", "110");
        if (!bus)
            FEnv.Set("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
        else
        {
            const std::string why = PrivateKeyring::Unavailable();
            if (!why.empty())
                GTEST_SKIP() << why;
            keyring = std::make_unique<PrivateKeyring>(setup);
        }
        keeper->UseSecrets(secrets);
    }
    void SetUp() override {}
    void TearDown() override
    {
        if (keeper)
            UiFixture::TearDown();
    }

    std::string Kept(const std::string& user = "ann", const std::string& host = "mail.example.org",
                     const std::string& port = "110", const std::string& protocol = "pop3")
    {
        return keyring->Lookup(AttributesOf(user, host, port, protocol));
    }
    // Waits until the hive's password is emptied (true) or 10 s passed.
    bool HiveEmptied()
    {
        return WaitUntil([] { return String(Account1, "UserPassword").empty(); }, 10000);
    }
    QTreeWidgetItem* Row() { return settings->lvwAccounts->topLevelItem(0); }
    void Ok()
    {
        keeper->Save();
        // Every answer the save asked for has come.
        ASSERT_TRUE(WaitUntil([] { return String(Account1, "UserPassword").empty(); }, 10000));
        WaitUntil([] { return false; }, 300);
    }

    std::unique_ptr<PrivateKeyring> keyring;
    TSecretStore store;
    TAccountSecrets secrets{store};
};

TEST_F(Keyring, HivePasswordMovesInAndLeavesTheHiveOnlyOnceKept)
{
    Prepare(PrivateKeyring::TSetup::Unlocked);
    keeper->Load();
    ASSERT_TRUE(HiveEmptied());
    EXPECT_EQ(Kept(), "hive secret");
    EXPECT_EQ(keyring->Labels(AttributesOf("ann", "mail.example.org", "110")),
              std::vector<std::string>{"ternbell: ann on mail.example.org"});
    EXPECT_EQ(keeper->Config.Accounts[0].Password, "");
    EXPECT_EQ(settings->EditedAccounts()[0].Password, "");
    settings->lvwAccounts->setCurrentItem(Row());
    EXPECT_EQ(settings->txtPassword->text(), "");
    EXPECT_EQ(settings->txtPassword->placeholderText(), "Stored in the keyring");
    EXPECT_EQ(settings->lblPasswordStore->text(), "Passwords are in the keyring.");
    // A later save writes no password back.
    keeper->Save();
    EXPECT_EQ(String(Account1, "UserPassword"), "");
}

// OK after an edit of the selected account: what the keyring then holds
// under which identity.
struct TEdit
{
    const char* Name;
    const char* Password; // typed, or "" for none
    const char* Host;     // the account's host after the edit
    const char* KeptNew;  // under ann on Host:110
    const char* KeptOld;  // under ann on mail.example.org:110, when Host or the protocol differs
    bool Jmap = false;    // the account turned to JMAP
};

class KeyringEdit : public Keyring, public testing::WithParamInterface<TEdit>
{
};

TEST_P(KeyringEdit, OkKeepsThePasswordUnderTheAccountsIdentity)
{
    const TEdit& edit = GetParam();
    Prepare(PrivateKeyring::TSetup::Unlocked);
    keeper->Load();
    ASSERT_TRUE(HiveEmptied());
    settings->lvwAccounts->setCurrentItem(Row());
    if (*edit.Password)
        settings->txtPassword->setText(QString::fromUtf8(edit.Password));
    settings->txtHost->setText(QString::fromUtf8(edit.Host));
    if (edit.Jmap)
        settings->rdbJmap->click();
    Ok();
    const std::string protocol = edit.Jmap ? "jmap" : "pop3";
    EXPECT_TRUE(WaitUntil([&] { return Kept("ann", edit.Host, "110", protocol) == edit.KeptNew; }, 10000))
        << Kept("ann", edit.Host, "110", protocol);
    if (std::string(edit.Host) != "mail.example.org" || edit.Jmap)
        EXPECT_TRUE(WaitUntil([&] { return Kept() == edit.KeptOld; }, 10000)) << Kept();
    EXPECT_EQ(String(Account1, "UserPassword"), "");
}

INSTANTIATE_TEST_SUITE_P(Edits, KeyringEdit,
                         testing::Values(TEdit{"TypedPassword", "typed", "mail.example.org", "typed", ""},
                                         TEdit{"ChangedHostMoves", "", "other.example.org", "hive secret", ""},
                                         TEdit{"BothTheTypedOneUnderTheNewHost", "typed", "other.example.org",
                                               "typed", ""},
                                         TEdit{"JmapMovesItUnderItsOwnProtocol", "", "mail.example.org",
                                               "hive secret", "", true}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST_F(Keyring, RemovedAccountsSecretIsDeleted)
{
    Prepare(PrivateKeyring::TSetup::Unlocked);
    keeper->Load();
    ASSERT_TRUE(HiveEmptied());
    settings->lvwAccounts->clear();
    keeper->Save();
    EXPECT_TRUE(WaitUntil([this] { return Kept().empty(); }, 10000));
}

// Where the keyring does not take the password, the hive keeps it and the
// page says where it is.
struct TNoKeep
{
    const char* Name;
    PrivateKeyring::TSetup Setup;
    bool Bus;
    const char* Line;
};

class KeyringRefuses : public Keyring, public testing::WithParamInterface<TNoKeep>
{
};

TEST_P(KeyringRefuses, HiveKeepsThePassword)
{
    const TNoKeep& c = GetParam();
    Prepare(c.Setup, c.Bus);
    if (c.Setup == PrivateKeyring::TSetup::Unlocked) // the locked one
    {
        // Something kept before, so the keyring has been asked and answered.
        TSecretKey key{"pop3", "mail.example.org", "110", "ann", {}};
        bool kept = false;
        store.Write(key, "x", "old", [&kept](const TSecretReply& r) { kept = r.Status == TSecretStatus::Done; });
        ASSERT_TRUE(WaitUntil([&kept] { return kept; }, 10000));
        keyring->Lock();
    }
    keeper->Load();
    settings->lvwAccounts->setCurrentItem(Row());
    ASSERT_TRUE(WaitUntil([&] { return settings->lblPasswordStore->text() == QString::fromUtf8(c.Line); }, 10000))
        << settings->lblPasswordStore->text().toStdString();
    WaitUntil([] { return false; }, 300);
    EXPECT_EQ(String(Account1, "UserPassword"), "hive secret");
    EXPECT_EQ(keeper->Config.Accounts[0].Password, "hive secret");
    EXPECT_EQ(settings->txtPassword->text(), "hive secret");
}

INSTANTIATE_TEST_SUITE_P(
    Keyrings, KeyringRefuses,
    testing::Values(TNoKeep{"Locked", PrivateKeyring::TSetup::Unlocked, true,
                            "Passwords are in the keyring."},
                    TNoKeep{"NoService", PrivateKeyring::TSetup::WithoutService, true,
                            "No keyring: passwords are in the settings."},
                    TNoKeep{"NoBus", PrivateKeyring::TSetup::WithoutService, false,
                            "No keyring: passwords are in the settings."}),
    [](const auto& info) { return std::string(info.param.Name); });

// The round through the tray shell's wiring, against Dovecot.
class KeyringRound : public DovecotFixture<Keyring>
{
protected:
    void Start(bool lock, bool imap4 = false)
    {
        NewMailbox("dove secret", "ann");
        Server->Deliver("ann", "From: bob@example.org\r\nSubject: kept\r\n\r\nbody\r\n");
        Prepare(PrivateKeyring::TSetup::Unlocked, true, "");
        keyring->Store({"protocol", "pop3", "host", Server->Host(), "port", std::to_string(Server->Pop3Port()),
                        "user", "ann"},
                       "not ours"); // another program's item under the same attributes is not read
        Store(Account1, "HostAddress", Server->Host());
        Store(Account1, "HostPort", std::to_string(imap4 ? Server->ImapPort() : Server->Pop3Port()));
        Store(Account1, "IMAP4", imap4 ? 1 : 0);
        Store(ConfigKey, "PlaySound", "");
        Store(ConfigKey, "ShowIcon", "");
        LoadPending = false;
        keeper->Load();
        const TSecretKey key = SecretKeyOf(keeper->Config.Accounts[0]);
        bool kept = false;
        store.Write(key, SecretLabelOf(keeper->Config.Accounts[0]), "dove secret",
                    [&kept](const TSecretReply& r) { kept = r.Status == TSecretStatus::Done; });
        ASSERT_TRUE(WaitUntil([&kept] { return kept; }, 10000));
        if (lock)
            keyring->Lock();
        wired = std::make_unique<WiredShell>(*tray, *keeper, *settings, *newMail);
        wired->mailCheck.UseSecrets(&secrets);
    }
    void TearDown() override
    {
        wired.reset();
        Keyring::TearDown();
    }
    // Runs one round and waits until it has listed something.
    const TMessageList& Round()
    {
        wired->mailCheck.CheckAccounts();
        wired->WaitForChecks();
        return wired->mailCheck.Rows();
    }

    std::unique_ptr<WiredShell> wired;
    // Outlives the windows that are given it.
    TAccountTokens tokens{store};
};

TEST_F(KeyringRound, LogsInWithThePasswordFromTheKeyring)
{
    Start(false);
    EXPECT_EQ(String(Account1, "UserPassword"), "");
    const TMessageList& rows = Round();
    ASSERT_EQ(rows.Count(), 1);
    EXPECT_EQ(rows.ImageIndex(0), riMessage) << rows.Row(0).Hint;
    EXPECT_EQ(rows.Row(0).SubItems.at(1), "kept");
}

TEST_F(KeyringRound, LockedKeyringMakesAnErrorRowThatSaysSo)
{
    Start(true);
    const TMessageList& rows = Round();
    ASSERT_EQ(rows.Count(), 1);
    EXPECT_EQ(rows.ImageIndex(0), riError);
    EXPECT_EQ(rows.Row(0).Hint, "The keyring stayed locked; the password was not read.");
}

// The Account page's folder choice logs in with the password the keyring
// keeps, as a round does: the settings hold none.
TEST_F(KeyringRound, FolderChoiceLogsInWithThePasswordFromTheKeyring)
{
    Start(false, true);
    settings->ShowConfig(keeper->Config);
    settings->lvwAccounts->topLevelItem(0)->setSelected(true);
    settings->btnFolders->click();
    TfrmFolders* dialog = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (dialog = settings->findChild<TfrmFolders*>()) && dialog->Loaded(); }, 10000));
    EXPECT_EQ(dialog->lblFolders->text().toStdString(), "Folders to check for new mail:");
    ASSERT_GE(dialog->lvwFolders->topLevelItemCount(), 1);
    EXPECT_EQ(dialog->lvwFolders->topLevelItem(0)->text(0), "INBOX");
}

// An OAuth2 account's folder choice asks the program's tokens for its login,
// as a round does: never signed in, it says a sign-in is needed.
TEST_F(KeyringRound, FolderChoiceOfAnOAuth2AccountAsksForItsToken)
{
    Start(false, true);
    ScriptedServer server(R"(
        S: * OK [CAPABILITY IMAP4rev1 AUTH=XOAUTH2 AUTH=OAUTHBEARER SASL-IR] ready
        C: C1 LOGOUT
        S: * BYE
        S: C1 OK bye
    )");
    settings->SetAccessTokens(&tokens.Tokens);
    Account& account = keeper->Config.Accounts[0];
    account.Host = server.Host();
    account.Port = std::to_string(server.Port());
    account.Authentication = aaOAuth2;
    account.OAuth2Issuer = "https://accounts.google.com";
    settings->ShowConfig(keeper->Config);
    settings->lvwAccounts->topLevelItem(0)->setSelected(true);
    settings->btnFolders->click();
    TfrmFolders* dialog = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (dialog = settings->findChild<TfrmFolders*>()) && dialog->Loaded(); }, 10000));
    EXPECT_EQ(dialog->lblFolders->text().toStdString(),
              "The folder list could not be read: This account needs a sign-in with its mail provider: open its "
              "settings and sign in.");
}

} // namespace
