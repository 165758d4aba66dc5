#pragma once

#include "check/AccessTokens.h"
#include "oauth/HttpExchange.h"
#include "oauth/OAuthJson.h"
#include "oauth/Providers.h"
#include "oauth/TokenVault.h"
#include "platform/SecretStore.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

// The access tokens of the OAuth2 accounts: each kept in memory until
// shortly before it expires, then refreshed with the account's refresh
// token from the vault. A rotated refresh token is kept before the old one
// is dropped. After the server calls the grant invalid, the account asks
// for no token again until a new sign-in. Thread-safe; one account's
// sessions wait for each other's refresh, other accounts do not.
class TAccessTokens final : public IAccessTokens
{
public:
    TAccessTokens(ITokenVault& vault, THttpLimits limits);

    // Refreshed this long before the server's expiry, so a token does not
    // run out between the handing and the login.
    int MarginSeconds = 60;

    std::string AccessToken(const Account& account, bool refused) override;

    // The account's provider (built in, or discovered once per run).
    // Raises EOAuthError.
    TProvider ProviderFor(const Account& account);
    // After a sign-in: keeps the grant's tokens and lifts a block.
    void SignedIn(const Account& account, const TTokenGrant& grant);
    // Revokes the refresh token where the provider offers revocation, then
    // forgets both tokens, whether or not the revocation went through.
    // False when the revocation failed; raises ETokenUnavailable when the
    // vault kept the token.
    bool SignOut(const Account& account);
    // Whether the vault holds a refresh token for the account.
    bool HasSignIn(const Account& account);
    ITokenVault& Vault() { return FVault; }

    // Token endpoint requests made, for the benchmarks.
    long Requests() const { return FRequests.load(); }

private:
    struct TEntry
    {
        std::mutex Mutex;
        std::string AccessToken;
        std::string Refresh;  // as last read or kept; empty: ask the vault
        bool Unsaved = false; // the vault refused Refresh: try again next time
        TIdClock::TTimePoint Expires{};
        bool Blocked = false; // invalid_grant: no requests until a sign-in
    };
    std::shared_ptr<TEntry> EntryOf(const Account& account);
    TIdClock& Clock() const { return FLimits.Clock ? *FLimits.Clock : TIdSteadyClock::Instance(); }
    void Keep(TEntry& entry, const Account& account, const TTokenGrant& grant, const std::string& oldRefresh);

    ITokenVault& FVault;
    THttpLimits FLimits;
    std::mutex FMutex;
    std::map<std::string, std::shared_ptr<TEntry>> FEntries;
    std::map<std::string, TProvider> FProviders; // by vault key and client settings
    std::atomic<long> FRequests{0};
};


// What the program holds for its OAuth2 accounts, for as long as its windows
// and sessions run: the refresh tokens in the keyring (for this run only
// where there is none) and the access tokens. `store` answers on the
// user-interface thread; Tokens is the IAccessTokens the sessions get.
struct TAccountTokens
{
    explicit TAccountTokens(TSecretStore& store, THttpLimits limits = {})
        : Fallback(store), Vault(store, Fallback), Tokens(Vault, std::move(limits))
    {
    }
    THiveTokenVault Fallback;
    TKeyringTokenVault Vault;
    TAccessTokens Tokens;
};
