// The keyring store against a real Secret Service on a private bus, a bus
// without one, a locked keyring and no bus at all.

#include "platform/SecretStore.h"
#include "support/PrivateKeyring.h"

#include <gtest/gtest.h>

#include <optional>

namespace
{

const TSecretKey Ann{"pop3", "mail.example.org", "110", "ann", {}};
const std::vector<std::string> AnnAttributes{"protocol", "pop3", "host", "mail.example.org", "port", "110",
                                             "user", "ann"};

// One request through the event loop; the reply, or none within 20 s.
std::optional<TSecretReply> Ask(const std::function<void(TSecretCallback)>& request)
{
    std::optional<TSecretReply> reply;
    request([&reply](const TSecretReply& r) { reply = r; });
    EXPECT_FALSE(reply) << "answered inside the call";
    WaitUntil([&reply] { return reply.has_value(); }, 20000);
    return reply;
}

TSecretStatus StatusOf(const std::optional<TSecretReply>& reply)
{
    EXPECT_TRUE(reply) << "no answer";
    return reply ? reply->Status : TSecretStatus::Failed;
}

class Secrets : public testing::Test
{
protected:
    void Start(PrivateKeyring::TSetup setup = PrivateKeyring::TSetup::Unlocked)
    {
        const std::string why = PrivateKeyring::Unavailable();
        if (!why.empty())
            GTEST_SKIP() << why;
        keyring = std::make_unique<PrivateKeyring>(setup);
    }
    TSecretStatus Read(std::string* secret = nullptr)
    {
        const auto reply = Ask([this](TSecretCallback done) { store.Read(Ann, done); });
        if (secret && reply)
            *secret = reply->Secret;
        return StatusOf(reply);
    }
    TSecretStatus Write(const std::string& secret)
    {
        return StatusOf(Ask([&](TSecretCallback done) { store.Write(Ann, "ternbell: ann on mail.example.org", secret, done); }));
    }
    TSecretStatus Delete() { return StatusOf(Ask([this](TSecretCallback done) { store.Delete(Ann, done); })); }

    std::unique_ptr<PrivateKeyring> keyring;
    TSecretStore store;
};

TEST_F(Secrets, NoBusAnswersUnavailableWithoutStartingTheHelper)
{
    ScopedEnvironment nowhere("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus");
    for (const auto& request : std::vector<std::function<TSecretStatus()>>{
             [this] { return Read(); }, [this] { return Write("pw"); }, [this] { return Delete(); }})
        EXPECT_EQ(request(), TSecretStatus::Unavailable);
    EXPECT_EQ(store.Presence(), TSecretStore::TPresence::Absent);
    EXPECT_EQ(store.HelpersStarted(), 0);
}

TEST_F(Secrets, KeepsReadsChangesAndDeletesUnderTheAccountsAttributes)
{
    Start();
    EXPECT_EQ(Read(), TSecretStatus::Missing);
    EXPECT_EQ(store.Presence(), TSecretStore::TPresence::Present);
    ASSERT_EQ(Write("first sécret"), TSecretStatus::Done);
    EXPECT_EQ(keyring->Lookup(AnnAttributes), "first sécret");
    EXPECT_EQ(keyring->Labels(AnnAttributes), std::vector<std::string>{"ternbell: ann on mail.example.org"});
    ASSERT_EQ(Write("second"), TSecretStatus::Done);
    std::string secret;
    EXPECT_EQ(Read(&secret), TSecretStatus::Done);
    EXPECT_EQ(secret, "second");
    EXPECT_EQ(keyring->Labels(AnnAttributes).size(), 1u) << "a change replaces the item";
    // Another port is another account.
    TSecretKey otherPort = Ann;
    otherPort.Port = "995";
    EXPECT_EQ(StatusOf(Ask([&](TSecretCallback done) { store.Read(otherPort, done); })), TSecretStatus::Missing);
    EXPECT_EQ(Delete(), TSecretStatus::Done);
    EXPECT_EQ(keyring->Lookup(AnnAttributes), "");
    EXPECT_EQ(Read(), TSecretStatus::Missing);
    EXPECT_EQ(Delete(), TSecretStatus::Missing);
}

TEST_F(Secrets, ATokenIsKeptBesideThePasswordWithoutEitherFindingTheOther)
{
    Start();
    TSecretKey token = Ann;
    token.Kind = "oauth2-refresh-token";
    auto tokenStatus = [&](auto&& request) { return StatusOf(Ask(request)); };
    ASSERT_EQ(Write("password"), TSecretStatus::Done);
    EXPECT_EQ(tokenStatus([&](TSecretCallback done) { store.Read(token, done); }), TSecretStatus::Missing);
    ASSERT_EQ(tokenStatus([&](TSecretCallback done) { store.Write(token, "ternbell: ann", "refresh", done); }),
              TSecretStatus::Done);
    std::vector<std::string> tokenAttributes = AnnAttributes;
    tokenAttributes.insert(tokenAttributes.end(), {"kind", "oauth2-refresh-token"});
    EXPECT_EQ(keyring->Lookup(tokenAttributes), "refresh");
    std::string secret;
    EXPECT_EQ(Read(&secret), TSecretStatus::Done);
    EXPECT_EQ(secret, "password");
    EXPECT_EQ(Delete(), TSecretStatus::Done);
    const auto reply = Ask([&](TSecretCallback done) { store.Read(token, done); });
    ASSERT_EQ(StatusOf(reply), TSecretStatus::Done) << "deleting the password kept the token";
    EXPECT_EQ(reply->Secret, "refresh");
}

TEST_F(Secrets, LockedKeyringThatStaysLockedRefuses)
{
    Start();
    ASSERT_EQ(Write("kept"), TSecretStatus::Done);
    keyring->Lock();
    EXPECT_EQ(Read(), TSecretStatus::Refused);
    EXPECT_EQ(Write("new"), TSecretStatus::Refused);
    EXPECT_EQ(store.Presence(), TSecretStore::TPresence::Present);
}

// A bus without the service, and a service that cannot make a keyring to
// keep the password in: no keyring, and the store says so from then on.
class SecretsWithout : public Secrets, public testing::WithParamInterface<PrivateKeyring::TSetup>
{
};

TEST_P(SecretsWithout, AKeyringAWriteIsUnavailable)
{
    Start(GetParam());
    EXPECT_EQ(Write("pw"), TSecretStatus::Unavailable);
    EXPECT_EQ(store.Presence(), TSecretStore::TPresence::Absent);
    EXPECT_EQ(Read(), TSecretStatus::Unavailable);
}

INSTANTIATE_TEST_SUITE_P(Setups, SecretsWithout,
                         testing::Values(PrivateKeyring::TSetup::WithoutService,
                                         PrivateKeyring::TSetup::WithoutCollection),
                         [](const auto& info) {
                             return info.param == PrivateKeyring::TSetup::WithoutService ? "Service" : "Collection";
                         });

} // namespace
