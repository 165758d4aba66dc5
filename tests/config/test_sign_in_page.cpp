// The Account page's sign-in: choosing how an account logs in, and a sign-in
// through the system's browser (the stand-in first on PATH) against the
// tests' authorization server.

#include "config/Config.h"
#include "config/SettingsForm.h"
#include "config/SignInPanel.h"
#include "oauth/Providers.h"
#include "oauth/TokenKeeper.h"
#include "support/TestHelpers.h"
#include "support/oauth/AuthServer.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>

#include <gtest/gtest.h>

namespace
{

class SignInPage : public testing::Test
{
protected:
    void Show(const Account& account)
    {
        TConfig config;
        config.Accounts = {account};
        settings.ShowConfig(config);
        settings.show();
        settings.pagSettings->setCurrentWidget(settings.tabAccount);
        settings.lvwAccounts->setCurrentItem(settings.lvwAccounts->topLevelItem(0));
    }
    TSignInPanel& Panel() { return *settings.pnlSignIn; }
    const Account& Edited() { return settings.EditedAccounts().at(0); }

    TfrmSettings settings;
};

TEST_F(SignInPage, TheChoiceOfProviderIsTheAccountsWayToLogIn)
{
    struct TRow
    {
        TSignInPanel::TProviderChoice Choice;
        const char* Issuer; // typed in the issuer field
        TAccountAuthentication Authentication;
        std::string Stored;
    };
    const TRow rows[] = {
        {TSignInPanel::pcGoogle, "", aaOAuth2, GoogleIssuer},
        {TSignInPanel::pcMicrosoft, "", aaOAuth2, MicrosoftIssuer("common")},
        {TSignInPanel::pcMicrosoft, "consumers", aaOAuth2, MicrosoftIssuer("consumers")},
        {TSignInPanel::pcOther, "https://id.example.org", aaOAuth2, "https://id.example.org"},
        {TSignInPanel::pcPassword, "", aaPassword, "https://id.example.org"}, // kept for a change of mind
    };
    Show(Account{});
    for (const TRow& row : rows)
    {
        SCOPED_TRACE(row.Stored);
        Panel().cboAuthentication->setCurrentIndex(row.Choice);
        if (Panel().txtIssuer->isVisible())
        {
            Panel().txtIssuer->clear();
            QTest::keyClicks(Panel().txtIssuer, row.Issuer);
        }
        QTest::keyClicks(Panel().txtClientId, "x");
        EXPECT_EQ(Edited().Authentication, row.Authentication);
        EXPECT_EQ(Edited().OAuth2Issuer, row.Stored);
        EXPECT_EQ(settings.txtPassword->isEnabled(), row.Authentication == aaPassword);
        EXPECT_EQ(Panel().btnSignIn->isVisible(), row.Authentication == aaOAuth2);
        // Shown again, the account reads back as chosen.
        std::string issuerField;
        EXPECT_EQ(TSignInPanel::ChoiceOf(Edited(), &issuerField), row.Choice);
        if (row.Choice == TSignInPanel::pcMicrosoft)
            EXPECT_EQ(issuerField, *row.Issuer ? row.Issuer : "common");
    }
}

// The API token is JMAP's: offered while JMAP is chosen, kept in the
// password field, and given up for a password when the protocol changes.
TEST_F(SignInPage, AnApiTokenIsOfferedForJmapAccountsInThePasswordField)
{
    Account jmap;
    jmap.JMAP = true;
    Show(jmap);
    ASSERT_EQ(Panel().cboAuthentication->count(), TSignInPanel::pcApiToken + 1);
    Panel().cboAuthentication->setCurrentIndex(TSignInPanel::pcApiToken);
    EXPECT_EQ(Edited().Authentication, aaBearer);
    EXPECT_TRUE(settings.txtPassword->isEnabled());
    EXPECT_EQ(settings.lblPassword->text(), "API token:");
    EXPECT_FALSE(Panel().btnSignIn->isVisible());
    std::string issuerField;
    EXPECT_EQ(TSignInPanel::ChoiceOf(Edited(), &issuerField), TSignInPanel::pcApiToken);

    settings.rdbImap4->click();
    EXPECT_EQ(Edited().Authentication, aaPassword);
    EXPECT_EQ(Panel().cboAuthentication->count(), TSignInPanel::pcApiToken);
    EXPECT_EQ(Panel().cboAuthentication->currentIndex(), TSignInPanel::pcPassword);
    EXPECT_EQ(settings.lblPassword->text(), "Password:");
    settings.rdbJmap->click();
    EXPECT_EQ(Panel().cboAuthentication->count(), TSignInPanel::pcApiToken + 1);
    EXPECT_EQ(Edited().Authentication, aaPassword);
}

class SignInPageWithServer : public WithAuthServer<SignInPage>
{
protected:
    void SetUp() override
    {
        if (!Server)
            GTEST_SKIP() << AuthServer::Unavailable();
        path.Set("PATH", AuthServer::BrowserFolder() + ":" + qgetenv("PATH").toStdString());
        path.Set("TERNBELL_TEST_BROWSER_LOG", folder.File("opened"));
        path.Set("TERNBELL_TEST_LOGIN", "ann@example.org");
        account = Server->SignInAccount();
        settings.SetAccessTokens(&tokens);
        Show(account);
    }
    ScopedEnvironment path;
    TempFolder folder{"signin"};
    Account account;
    TMemoryTokenVault vault;
    TAccessTokens tokens{vault, {}};
};

TEST_F(SignInPageWithServer, SignInOpensTheBrowserAndSaysWhoIsSignedInLeavingTheFocus)
{
    ASSERT_TRUE(Panel().btnSignIn->isEnabled());
    settings.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&settings));
    Panel().btnSignIn->setFocus();
    QTest::keyClick(&settings, Qt::Key_S, Qt::AltModifier);
    EXPECT_TRUE(WaitUntil([&] { return Panel().pnlWaiting->isVisible(); }, 5000)) << "Alt+S starts it";
    ASSERT_TRUE(WaitUntil([&] { return Panel().lblSignedIn->text().contains("Signed in as"); }, 30000))
        << Panel().lblSignedIn->text().toStdString();
    EXPECT_EQ(Panel().lblSignedIn->text(), "Signed in as ann@example.org.");
    EXPECT_FALSE(Panel().pnlWaiting->isVisible()) << "the wait closes by itself";
    EXPECT_EQ(QApplication::focusWidget(), Panel().btnSignIn);
    EXPECT_TRUE(Panel().txtAddress->text().startsWith(QString::fromStdString(Server->Issuer() + "/auth?")));
    EXPECT_NE(ReadFile(folder.File("opened")), "") << "the browser was asked";
    EXPECT_TRUE(vault.Read(account).has_value());
    EXPECT_TRUE(Server->Active(tokens.AccessToken(account, false)));
}

TEST_F(SignInPageWithServer, TheSignInIsForTheAccountAsEditedSinceItWasShown)
{
    ScopedEnvironment login("TERNBELL_TEST_LOGIN", "bob@example.org");
    settings.txtUserName->setText("bob@example.org");
    Panel().btnSignIn->click();
    ASSERT_TRUE(WaitUntil([&] { return Panel().lblSignedIn->text().contains("Signed in as"); }, 30000))
        << Panel().lblSignedIn->text().toStdString();
    Account bob = account;
    bob.UserName = "bob@example.org";
    EXPECT_TRUE(vault.Read(bob).has_value());
    EXPECT_FALSE(vault.Read(account).has_value());
}

TEST_F(SignInPageWithServer, StoppingASignInKeepsNothingAndSignOutForgets)
{
    ScopedEnvironment idle("TERNBELL_TEST_BROWSER", "none");
    Panel().btnSignIn->click();
    ASSERT_TRUE(WaitUntil([&] { return !Panel().txtAddress->text().isEmpty(); }, 10000));
    Panel().btnCancelSignIn->click();
    EXPECT_FALSE(Panel().pnlWaiting->isVisible());
    EXPECT_TRUE(Panel().btnSignIn->isEnabled());
    EXPECT_FALSE(vault.Read(account).has_value());

    vault.Write(account, Server->Mint(account.UserName).RefreshToken);
    Panel().btnSignOut->click();
    ASSERT_TRUE(WaitUntil([&] { return Panel().lblSignedIn->text() == "Signed out."; }, 10000))
        << Panel().lblSignedIn->text().toStdString();
    EXPECT_FALSE(vault.Read(account).has_value());
}

} // namespace
