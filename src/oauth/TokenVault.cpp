#include "oauth/TokenVault.h"

#include "check/AccessTokens.h"
#include "i18n/Translate.h"
#include "platform/CodePage.h"
#include "platform/Exception.h"
#include "platform/Registry.h"
#include "platform/SecretStore.h"

#include <QMetaObject>
#include <QThread>

#include <chrono>
#include <future>
#include <memory>

namespace
{

std::string Utf8(const std::string& desktopText)
{
    return FromCodePage(desktopText).toStdString();
}

// The keyring's attributes are UTF-8; the account's texts desktop text.
TSecretKey TokenKeyOf(const Account& account)
{
    return TSecretKey{account.JMAP ? "jmap" : account.IMAP4 ? "imap" : "pop3", Utf8(account.Host), Utf8(account.Port),
                      Utf8(account.UserName), RefreshTokenKind};
}

} // namespace

std::string VaultKeyOf(const Account& account)
{
    return std::string(account.JMAP ? "jmap" : account.IMAP4 ? "imap" : "pop3") + '\n' + account.Host + '\n' + account.Port + '\n' +
           account.UserName + '\n' + account.OAuth2Issuer;
}

std::optional<std::string> TMemoryTokenVault::Read(const Account& account)
{
    std::lock_guard lock(FMutex);
    const auto found = FTokens.find(VaultKeyOf(account));
    if (found == FTokens.end())
        return std::nullopt;
    return found->second;
}

void TMemoryTokenVault::Write(const Account& account, const std::string& token)
{
    std::lock_guard lock(FMutex);
    FTokens[VaultKeyOf(account)] = token;
}

void TMemoryTokenVault::Erase(const Account& account)
{
    std::lock_guard lock(FMutex);
    FTokens.erase(VaultKeyOf(account));
}

TKeyringTokenVault::TKeyringTokenVault(TSecretStore& store, ITokenVault& fallback, int waitSeconds)
    : FStore(store), FFallback(fallback), FWaitSeconds(waitSeconds)
{
}

namespace
{

// One request on the store's thread, waited for here.
TSecretReply Ask(TSecretStore& store, int waitSeconds, std::function<void(TSecretStore&, TSecretCallback)> request)
{
    if (QThread::currentThread() == store.thread())
        throw ETokenUnavailable(ResStr("The keyring cannot be asked from here."));
    auto promise = std::make_shared<std::promise<TSecretReply>>();
    std::future<TSecretReply> answer = promise->get_future();
    QMetaObject::invokeMethod(
        &store,
        [&store, promise, request = std::move(request)] {
            request(store, [promise](const TSecretReply& reply) { promise->set_value(reply); });
        },
        Qt::QueuedConnection);
    if (answer.wait_for(std::chrono::seconds(waitSeconds)) != std::future_status::ready)
        throw ETokenUnavailable(ResStr("The keyring did not answer in time."));
    return answer.get();
}

// Closes the key, writing the file now: a file that cannot take the
// change must not pass for one that did.
void WrittenThrough(TRegistry& reg)
{
    try
    {
        reg.CloseKey();
    }
    catch (const Exception&)
    {
        throw ETokenUnavailable(ResStr("The settings file could not be written."));
    }
}

} // namespace

std::optional<std::string> TKeyringTokenVault::Read(const Account& account)
{
    if (FStore.Presence() == TSecretStore::TPresence::Absent)
        return FFallback.Read(account);
    const TSecretKey key = TokenKeyOf(account);
    TSecretReply reply =
        Ask(FStore, FWaitSeconds, [key](TSecretStore& store, TSecretCallback done) { store.Read(key, done); });
    switch (reply.Status)
    {
    case TSecretStatus::Done:
        return std::move(reply.Secret);
    case TSecretStatus::Missing:
        return std::nullopt;
    case TSecretStatus::Unavailable:
        return FFallback.Read(account);
    default:
        throw ETokenUnavailable(ResStr("The keyring holding the account's sign-in stayed locked."));
    }
}

void TKeyringTokenVault::Write(const Account& account, const std::string& token)
{
    if (FStore.Presence() == TSecretStore::TPresence::Absent)
        return FFallback.Write(account, token);
    const TSecretKey key = TokenKeyOf(account);
    const std::string label = "ternbell: " + Utf8(account.UserName) + " (" + Utf8(account.OAuth2Issuer) + ")";
    const TSecretReply reply = Ask(FStore, FWaitSeconds, [key, label, token](TSecretStore& store, TSecretCallback done) {
        store.Write(key, label, token, done);
    });
    if (reply.Status == TSecretStatus::Unavailable)
        return FFallback.Write(account, token);
    if (reply.Status != TSecretStatus::Done)
        throw ETokenUnavailable(ResStr("The keyring holding the account's sign-in stayed locked."));
}

void TKeyringTokenVault::Erase(const Account& account)
{
    FFallback.Erase(account);
    if (FStore.Presence() == TSecretStore::TPresence::Absent)
        return;
    const TSecretKey key = TokenKeyOf(account);
    const auto erase = [&] {
        return Ask(FStore, FWaitSeconds, [key](TSecretStore& store, TSecretCallback done) { store.Delete(key, done); })
            .Status;
    };
    TSecretStatus status = erase();
    // The keyring passes over a locked item as if there were none, and a
    // token left there signs the account in again at the next start: the
    // read unlocks it (or raises while it stays locked), then it goes.
    if (status == TSecretStatus::Missing && Read(account))
        status = erase();
    if (status == TSecretStatus::Refused || status == TSecretStatus::Failed)
        throw ETokenUnavailable(ResStr("The keyring holding the account's sign-in stayed locked."));
}

bool TKeyringTokenVault::Private() const
{
    return FStore.Presence() != TSecretStore::TPresence::Absent;
}

THiveTokenVault::THiveTokenVault(QObject& owner, int waitSeconds) : FOwner(owner), FWaitSeconds(waitSeconds)
{
}

std::string HiveTokenName(const Account& account)
{
    return std::string(account.JMAP ? "jmap" : account.IMAP4 ? "imap" : "pop3") + "://" + account.UserName + "@" + account.Host + ":" +
           account.Port + " " + account.OAuth2Issuer;
}

void THiveTokenVault::OnOwnersThread(std::function<void()> work)
{
    if (QThread::currentThread() == FOwner.thread())
        return work();
    auto promise = std::make_shared<std::promise<void>>();
    std::future<void> done = promise->get_future();
    QMetaObject::invokeMethod(
        &FOwner,
        [promise, work = std::move(work)] {
            try
            {
                work();
                promise->set_value();
            }
            catch (...)
            {
                promise->set_exception(std::current_exception());
            }
        },
        Qt::QueuedConnection);
    if (done.wait_for(std::chrono::seconds(FWaitSeconds)) != std::future_status::ready)
        throw ETokenUnavailable(ResStr("The settings file could not be reached in time."));
    done.get();
}

// The work holds nothing of the caller's: after a wait that ran out it
// still runs, on a stack long gone.
std::optional<std::string> THiveTokenVault::Read(const Account& account)
{
    auto token = std::make_shared<std::optional<std::string>>();
    OnOwnersThread([token, name = HiveTokenName(account)] {
        TRegistry reg;
        if (reg.OpenKeyReadOnly(HiveTokensKey) && reg.ValueExists(name) &&
            reg.GetDataType(name) == TRegDataType::rdString)
            *token = reg.ReadString(name);
    });
    return *token;
}

void THiveTokenVault::Write(const Account& account, const std::string& token)
{
    OnOwnersThread([token, name = HiveTokenName(account)] {
        TRegistry reg;
        if (!reg.OpenKey(HiveTokensKey, true))
            throw ETokenUnavailable(ResStr("The settings file could not be reached in time."));
        reg.WriteString(name, token);
        WrittenThrough(reg);
    });
}

void THiveTokenVault::Erase(const Account& account)
{
    OnOwnersThread([name = HiveTokenName(account)] {
        TRegistry reg;
        if (reg.OpenKey(HiveTokensKey, false))
        {
            reg.DeleteValue(name);
            WrittenThrough(reg);
        }
    });
}
