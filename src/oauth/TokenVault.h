#pragma once

#include "check/Account.h"

#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>

class QObject;
class TSecretStore;

// Where an account's refresh token is kept between runs. Blocking: called
// beside the windows, never on the thread that answers for the keyring.
class ITokenVault
{
public:
    virtual ~ITokenVault() = default;
    // Nullopt: none kept. Raises ETokenUnavailable when the store cannot
    // answer now (a keyring that stays locked).
    virtual std::optional<std::string> Read(const Account& account) = 0;
    // Replaces what is kept in one step, so a rotated token is never lost
    // between the old one going and the new one coming.
    virtual void Write(const Account& account, const std::string& token) = 0;
    // Raises ETokenUnavailable when the store answered but kept the token.
    virtual void Erase(const Account& account) = 0;
    // True where the token is kept apart from the hive file.
    virtual bool Private() const = 0;
};

// The vault's key for an account: its secret key's four values and its
// issuer, so a token is never offered to another server.
std::string VaultKeyOf(const Account& account);

// Tokens for this run only (the tests).
class TMemoryTokenVault final : public ITokenVault
{
public:
    std::optional<std::string> Read(const Account& account) override;
    void Write(const Account& account, const std::string& token) override;
    void Erase(const Account& account) override;
    bool Private() const override { return true; }

private:
    std::mutex FMutex;
    std::map<std::string, std::string> FTokens;
};

// Without a keyring: the hive, where the passwords are kept then too, under
// a key of its own named by the account's server, user and issuer (so that
// moving an account in the list does not move its token). The hive is read
// and written on the thread of `owner` (the windows'), where the settings
// are saved, so that no save can lose a rotated token; each call from
// another thread waits for that (at most `waitSeconds`).
class THiveTokenVault final : public ITokenVault
{
public:
    explicit THiveTokenVault(QObject& owner, int waitSeconds = 30);
    std::optional<std::string> Read(const Account& account) override;
    void Write(const Account& account, const std::string& token) override;
    void Erase(const Account& account) override;
    bool Private() const override { return false; }

private:
    void OnOwnersThread(std::function<void()> work);
    QObject& FOwner;
    const int FWaitSeconds;
};

// The hive key of the tokens kept there, and an account's value name in it.
constexpr const char* HiveTokensKey = "Software\\ternbell\\Tokens";
std::string HiveTokenName(const Account& account);

// The desktop keyring: the account's password attributes plus a kind that
// marks a refresh token. The store answers on its own thread's event loop;
// each call waits for that answer (at most `waitSeconds`, for a keyring
// that asks the user to unlock). Where no keyring answers, `fallback`
// keeps the tokens.
class TKeyringTokenVault final : public ITokenVault
{
public:
    TKeyringTokenVault(TSecretStore& store, ITokenVault& fallback, int waitSeconds = 120);
    std::optional<std::string> Read(const Account& account) override;
    void Write(const Account& account, const std::string& token) override;
    void Erase(const Account& account) override;
    bool Private() const override;

private:
    TSecretStore& FStore;
    ITokenVault& FFallback;
    const int FWaitSeconds;
};

// The kind of keyring item a refresh token is.
constexpr const char* RefreshTokenKind = "oauth2-refresh-token";
