// Sign-in, the stored refresh token, refresh, rotation, revocation and the
// failures, against the tests' real authorization server and the browser
// stand-in that signs in and consents.

#include "oauth/OAuthErrors.h"
#include "oauth/SignIn.h"
#include "oauth/TokenEndpoint.h"
#include "oauth/TokenKeeper.h"
#include "support/FakeClock.h"
#include "platform/Exception.h"
#include "platform/Hive.h"
#include "platform/Registry.h"
#include "platform/SecretStore.h"
#include "support/PrivateKeyring.h"
#include "support/ScriptedServer.h"
#include "support/TestHelpers.h"
#include "support/oauth/AuthServer.h"

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>
#include <thread>

namespace
{

// A clock that moves only when the test says: expiry without waiting.
class ManualClock : public TIdClock
{
public:
    TTimePoint Now() override { return TTimePoint{} + std::chrono::seconds(FSeconds.load()); }
    void Advance(int seconds) { FSeconds += seconds; }

private:
    std::atomic<long long> FSeconds{1000000};
};

// The browser stand-in, started beside the sign-in as the desktop would.
// `mode` is what it does wrong ("" for nothing); `then` runs once it is done.
class Browser
{
public:
    explicit Browser(std::string mode = {}) : FMode(std::move(mode)) {}
    ~Browser()
    {
        for (std::thread& t : FRuns)
            t.join();
    }
    bool Open(const std::string& url, std::function<void()> then = {})
    {
        FOpened.push_back(url);
        FRuns.emplace_back([this, url, then] {
            QProcess process;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("TERNBELL_TEST_BROWSER", QString::fromStdString(FMode));
            environment.insert("TERNBELL_TEST_LOGIN", "ann@example.org");
            process.setProcessEnvironment(environment);
            process.start(QString::fromStdString(AuthServer::BrowserFolder() + "/xdg-open"),
                          {QString::fromStdString(url)});
            process.waitForFinished(30000);
            if (then)
                then();
        });
        return true;
    }
    const std::vector<std::string>& Opened() const { return FOpened; }

private:
    std::string FMode;
    std::vector<std::string> FOpened;
    std::vector<std::thread> FRuns;
};

class SignInTest : public WithAuthServer<testing::Test>
{
protected:
    void SetUp() override
    {
        if (!Server)
            GTEST_SKIP() << AuthServer::Unavailable();
        account = Server->SignInAccount();
        limits.Clock = clock;
    }
    int Refreshes() { return Server->TokenRequests()["refresh_token"]; }
    int CodeExchanges() { return Server->TokenRequests()["authorization_code"]; }
    TSignInHooks Hooks(Browser& browser, TSignIn* cancelAfter = nullptr)
    {
        TSignInHooks hooks;
        hooks.OpenBrowser = [&browser, cancelAfter](const std::string& url) {
            return browser.Open(url, [cancelAfter] {
                if (cancelAfter)
                    cancelAfter->Cancel();
            });
        };
        hooks.ShowAddress = [this](const std::string& url) { shown = url; };
        return hooks;
    }

    Account account;
    std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
    THttpLimits limits;
    TMemoryTokenVault vault;
    std::string shown;
};

TEST_F(SignInTest, ThroughTheBrowserThenARestartLogsInWithTheStoredTokenAlone)
{
    Browser browser;
    {
        TAccessTokens tokens(vault, limits);
        TSignIn signIn(tokens.ProviderFor(account), limits, account.UserName);
        const TSignedIn done = signIn.WithBrowser(Hooks(browser));
        EXPECT_EQ(done.Who, "ann@example.org");
        ASSERT_EQ(browser.Opened().size(), 1u);
        EXPECT_EQ(shown, browser.Opened()[0]) << "the address is shown to copy as well";
        EXPECT_NE(shown.find("code_challenge_method=S256"), std::string::npos);
        tokens.SignedIn(account, done.Grant);
        EXPECT_EQ(tokens.AccessToken(account, false), done.Grant.AccessToken);
        EXPECT_TRUE(Server->Active(done.Grant.AccessToken));
        EXPECT_EQ(vault.Read(account), done.Grant.RefreshToken);
    }
    // A new run: the vault's refresh token, no browser.
    const int before = Refreshes();
    TAccessTokens restarted(vault, limits);
    const std::string token = restarted.AccessToken(account, false);
    EXPECT_TRUE(Server->Active(token));
    EXPECT_EQ(Refreshes(), before + 1);
    EXPECT_EQ(browser.Opened().size(), 1u);
}

TEST_F(SignInTest, ATokenIsReusedUntilNearItsExpiryOrARefusalAndEachRotationIsKept)
{
    const AuthServer::TTokens minted = Server->Mint(account.UserName);
    vault.Write(account, minted.RefreshToken);
    TAccessTokens tokens(vault, limits);
    const int before = Refreshes();
    const std::string first = tokens.AccessToken(account, false);
    EXPECT_EQ(tokens.AccessToken(account, false), first) << "no request while the token is valid";
    EXPECT_EQ(Refreshes(), before + 1);
    const std::string rotated = *vault.Read(account);
    EXPECT_NE(rotated, minted.RefreshToken) << "the server rotates refresh tokens";

    clock->Advance(3600 - tokens.MarginSeconds + 1);
    const std::string second = tokens.AccessToken(account, false);
    EXPECT_NE(second, first);
    EXPECT_EQ(Refreshes(), before + 2);
    EXPECT_NE(*vault.Read(account), rotated);

    const std::string third = tokens.AccessToken(account, true);
    EXPECT_NE(third, second) << "a refused token is replaced at once";
    EXPECT_TRUE(Server->Active(third));
    // The retired refresh token is of no use any more.
    TProvider provider = tokens.ProviderFor(account);
    try
    {
        RefreshTokens(provider, rotated, limits);
        ADD_FAILURE() << "a rotated-out refresh token was taken";
    }
    catch (const EOAuthRefused& e)
    {
        EXPECT_EQ(e.Code, "invalid_grant");
    }
}

TEST_F(SignInTest, ARevokedGrantAsksForASignInAndNoMoreRequestsUntilOne)
{
    account.UserName = "revoked@example.org";
    vault.Write(account, Server->Mint(account.UserName).RefreshToken);
    TAccessTokens tokens(vault, limits);
    tokens.AccessToken(account, false);
    Server->Revoke(account.UserName);
    const int before = Refreshes();
    EXPECT_THROW(tokens.AccessToken(account, true), ESignInNeeded);
    EXPECT_EQ(Refreshes(), before + 1) << "the refused refresh";
    EXPECT_THROW(tokens.AccessToken(account, true), ESignInNeeded);
    EXPECT_THROW(tokens.AccessToken(account, false), ESignInNeeded);
    EXPECT_EQ(vault.Read(account), std::nullopt) << "a dead token is not kept";
    EXPECT_EQ(Refreshes(), before + 1) << "no request after the grant was found dead";

    TTokenGrant fresh;
    const AuthServer::TTokens minted = Server->Mint(account.UserName);
    fresh.AccessToken = minted.AccessToken;
    fresh.RefreshToken = minted.RefreshToken;
    tokens.SignedIn(account, fresh);
    EXPECT_EQ(tokens.AccessToken(account, false), minted.AccessToken);
    EXPECT_TRUE(Server->Active(tokens.AccessToken(account, true)));
}

TEST_F(SignInTest, NeverSignedInAsksForASignIn)
{
    account.UserName = "new@example.org";
    TAccessTokens tokens(vault, limits);
    EXPECT_THROW(tokens.AccessToken(account, false), ESignInNeeded);
}

TEST_F(SignInTest, ARedirectWithAnotherStateIsTurnedAwayAndNothingIsExchanged)
{
    Browser browser("state");
    TAccessTokens tokens(vault, limits);
    TSignIn signIn(tokens.ProviderFor(account), limits);
    const int before = CodeExchanges();
    EXPECT_THROW(signIn.WithBrowser(Hooks(browser, &signIn)), EOAuthCancelled);
    EXPECT_EQ(CodeExchanges(), before) << "the code of a redirect with another state was used";
}

TEST_F(SignInTest, ACodeIssuedForAnotherVerifierIsRefused)
{
    Browser browser("code");
    TAccessTokens tokens(vault, limits);
    TSignIn signIn(tokens.ProviderFor(account), limits);
    try
    {
        signIn.WithBrowser(Hooks(browser));
        ADD_FAILURE() << "a code for another challenge was exchanged";
    }
    catch (const EOAuthRefused& e)
    {
        EXPECT_EQ(e.Code, "invalid_grant");
    }
}

TEST_F(SignInTest, WithACodeInsteadPollingAtTheServersInterval)
{
    Browser browser;
    TAccessTokens tokens(vault, limits);
    TSignIn signIn(tokens.ProviderFor(account), limits);
    auto waits = std::make_shared<FakeClock>();
    signIn.WaitClock = waits;
    TSignInHooks hooks;
    std::string userCode;
    hooks.ShowCode = [&](const TDeviceCode& code) {
        userCode = code.UserCode;
        browser.Open(code.VerificationUriComplete);
    };
    const TSignedIn done = signIn.WithCode(hooks);
    EXPECT_FALSE(userCode.empty());
    EXPECT_TRUE(Server->Active(done.Grant.AccessToken));
    EXPECT_EQ(done.Who, "ann@example.org");
    EXPECT_GE(waits->Served(), std::chrono::seconds(5)) << "the first poll waits the interval";
}

TEST_F(SignInTest, ServerDownIsATemporaryFailure)
{
    account.OAuth2Issuer = "http://127.0.0.1:" + std::to_string(ScriptedServer::UnusedPort());
    vault.Write(account, "some-refresh-token");
    TAccessTokens tokens(vault, limits);
    EXPECT_THROW(tokens.AccessToken(account, false), ETokenUnavailable);
    EXPECT_EQ(vault.Read(account), "some-refresh-token") << "kept for the next round";
}

TEST_F(SignInTest, SignOutRevokesTheGrant)
{
    account.UserName = "leaving@example.org";
    const AuthServer::TTokens minted = Server->Mint(account.UserName);
    vault.Write(account, minted.RefreshToken);
    TAccessTokens tokens(vault, limits);
    const std::string access = tokens.AccessToken(account, false);
    EXPECT_TRUE(tokens.SignOut(account));
    EXPECT_EQ(vault.Read(account), std::nullopt);
    EXPECT_FALSE(Server->Active(access)) << "revoking the refresh token ends its grant";
    EXPECT_THROW(tokens.AccessToken(account, false), ESignInNeeded);
}

// The account whose refresh token the vault tests keep.
Account VaultAccount()
{
    Account account;
    account.UserName = "ann";
    account.Host = "mail.example.org";
    account.Port = "110";
    account.OAuth2Issuer = "https://op.example";
    return account;
}

struct TVaultRun
{
    std::optional<std::string> Before, After, Erased;
};

// A thread beside the windows reads, writes a token and its rotation and
// reads again; `whileKept` then runs here, on the windows' thread, before
// that thread erases the token and reads once more.
TVaultRun RunBesideTheWindows(ITokenVault& vault, const Account& account, const std::function<void()>& whileKept)
{
    TVaultRun run;
    std::atomic<bool> written{false}, done{false};
    std::thread beside([&] {
        run.Before = vault.Read(account);
        vault.Write(account, "first");
        vault.Write(account, "rotated");
        run.After = vault.Read(account);
        written = true;
        while (written)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        vault.Erase(account);
        run.Erased = vault.Read(account);
        done = true;
    });
    if (WaitUntil([&] { return written.load(); }, 30000))
        whileKept();
    else
        ADD_FAILURE() << "the token was not written";
    written = false;
    EXPECT_TRUE(WaitUntil([&] { return done.load(); }, 30000));
    beside.join();
    return run;
}

// A keyring on a private bus, and its vault for the vault account.
class KeyringVault : public testing::Test
{
protected:
    void SetUp() override
    {
        if (!PrivateKeyring::Unavailable().empty())
            GTEST_SKIP() << PrivateKeyring::Unavailable();
        keyring = std::make_unique<PrivateKeyring>();
    }
    std::unique_ptr<PrivateKeyring> keyring;
    TSecretStore store;
    TMemoryTokenVault fallback;
    TKeyringTokenVault vault{store, fallback, 20};
    const Account account = VaultAccount();
};

// A settings file of the test's own, and its vault for the vault account.
class HiveVault : public testing::Test
{
protected:
    void SetUp() override { env.Set("XDG_CONFIG_HOME", home.path().toStdString()); }
    QTemporaryDir home;
    ScopedEnvironment env;
    QObject windows;
    THiveTokenVault vault{windows, 20};
    const Account account = VaultAccount();
};

// The keyring vault answers threads beside the windows through the store's
// own thread, and keeps the token apart from the account's password.
TEST_F(KeyringVault, KeepsReplacesAndErasesATokenForAThreadBesideTheWindows)
{
    keyring->Store({"protocol", "pop3", "host", "mail.example.org", "port", "110", "user", "ann"}, "password");
    EXPECT_THROW(vault.Read(account), ETokenUnavailable) << "asked on the store's thread, it would never answer";

    const TVaultRun run = RunBesideTheWindows(vault, account, [&] {
        EXPECT_EQ(keyring->Lookup({"protocol", "pop3", "host", "mail.example.org", "port", "110", "user", "ann",
                                  "kind", RefreshTokenKind}),
                  "rotated");
    });
    EXPECT_EQ(run.Before, std::nullopt);
    EXPECT_EQ(run.After, "rotated");
    EXPECT_EQ(run.Erased, std::nullopt);
    EXPECT_EQ(keyring->Lookup({"protocol", "pop3", "host", "mail.example.org", "port", "110", "user", "ann"}),
              "password");
    EXPECT_TRUE(vault.Private());
    EXPECT_EQ(fallback.Read(account), std::nullopt) << "nothing went past the keyring";
}

// A keyring that stays locked keeps the token: its erase is no success.
TEST_F(KeyringVault, AnEraseTheLockedKeyringTurnsDownRaises)
{
    const std::vector<std::string> item{"protocol", "pop3", "host", "mail.example.org", "port", "110",
                                        "user",     "ann",  "kind", RefreshTokenKind};
    // Whether `work`, on a thread beside the windows, raised.
    const auto raisedBeside = [&](const std::function<void()>& work) {
        std::atomic<bool> done{false}, raised{false};
        std::thread beside([&] {
            try
            {
                work();
            }
            catch (const ETokenUnavailable&)
            {
                raised = true;
            }
            done = true;
        });
        EXPECT_TRUE(WaitUntil([&] { return done.load(); }, 30000));
        beside.join();
        return raised.load();
    };
    const auto erase = [&] { vault.Erase(account); };
    EXPECT_FALSE(raisedBeside(erase)) << "nothing kept, nothing to erase";
    ASSERT_FALSE(raisedBeside([&] { vault.Write(account, "kept"); }));
    keyring->Lock();
    EXPECT_TRUE(raisedBeside(erase));
    EXPECT_EQ(keyring->Labels(item).size(), 1u) << "the token is still kept";
}

// Without a keyring the token goes to the hive, written on the windows'
// thread for a thread beside them, under a key of its own.
TEST_F(HiveVault, KeepsReplacesAndErasesATokenForAThreadBesideTheWindows)
{
    const TVaultRun run = RunBesideTheWindows(vault, account, [&] {
        TRegistry reg;
        ASSERT_TRUE(reg.OpenKeyReadOnly(HiveTokensKey));
        EXPECT_EQ(reg.GetValueNames(), std::vector<std::string>{HiveTokenName(account)});
        EXPECT_EQ(reg.ReadString(HiveTokenName(account)), "rotated");
    });
    EXPECT_EQ(run.After, "rotated");
    EXPECT_EQ(run.Erased, std::nullopt);
    EXPECT_FALSE(vault.Private());
}

// A settings file that cannot be written keeps no token: the vault says so,
// and the caller keeps the rotated one for the next try.
TEST_F(HiveVault, AFileThatCannotBeWrittenIsNoSuccess)
{
    vault.Write(account, "first");
    SetHiveReplaceHook([](const std::string&) { throw Exception("disk full"); });
    EXPECT_THROW(vault.Write(account, "rotated"), ETokenUnavailable);
    EXPECT_THROW(vault.Erase(account), ETokenUnavailable);
    SetHiveReplaceHook({});
    EXPECT_EQ(vault.Read(account), "first");
}

// A thread that gave up waiting for the windows leaves them nothing of its
// own to reach: its write still lands, whole, when they get to it.
TEST_F(HiveVault, AWriteThatRanOutOfTimeLandsWholeLater)
{
    THiveTokenVault impatient(windows, 0);
    const std::string rotated(200, 'r');
    std::thread([&] {
        auto token = std::make_unique<std::string>(rotated);
        EXPECT_THROW(impatient.Write(account, *token), ETokenUnavailable) << "the windows were busy";
        token->assign(token->size(), 'x'); // the caller's string, changed and then gone
    }).join();
    QCoreApplication::processEvents();
    TRegistry reg;
    ASSERT_TRUE(reg.OpenKeyReadOnly(HiveTokensKey));
    EXPECT_EQ(reg.ReadString(HiveTokenName(account)), rotated);
}

} // namespace
