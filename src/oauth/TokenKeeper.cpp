#include "oauth/TokenKeeper.h"

#include "i18n/Translate.h"
#include "oauth/OAuthErrors.h"
#include "oauth/TokenEndpoint.h"

TAccessTokens::TAccessTokens(ITokenVault& vault, THttpLimits limits) : FVault(vault), FLimits(std::move(limits))
{
}

std::shared_ptr<TAccessTokens::TEntry> TAccessTokens::EntryOf(const Account& account)
{
    std::lock_guard lock(FMutex);
    std::shared_ptr<TEntry>& entry = FEntries[VaultKeyOf(account)];
    if (!entry)
        entry = std::make_shared<TEntry>();
    return entry;
}

TProvider TAccessTokens::ProviderFor(const Account& account)
{
    const std::string key = VaultKeyOf(account) + '\n' + account.OAuth2ClientId + '\n' + account.OAuth2Scope;
    {
        std::lock_guard lock(FMutex);
        const auto found = FProviders.find(key);
        if (found != FProviders.end())
            return found->second;
    }
    TProvider provider = ProviderOf(account, FLimits);
    std::lock_guard lock(FMutex);
    FProviders[key] = provider;
    return provider;
}

void TAccessTokens::Keep(TEntry& entry, const Account& account, const TTokenGrant& grant,
                         const std::string& oldRefresh)
{
    // The new refresh token goes in before the old one is given up: the
    // server may already have retired the old one. Where the vault cannot
    // take it now, memory holds it and the next refresh tries again.
    if (!grant.RefreshToken.empty() && grant.RefreshToken != oldRefresh)
    {
        entry.Refresh = grant.RefreshToken;
        entry.Unsaved = true;
    }
    if (entry.Unsaved)
    {
        try
        {
            FVault.Write(account, entry.Refresh);
            entry.Unsaved = false;
        }
        catch (const ETokenUnavailable&)
        {
        }
    }
    entry.AccessToken = grant.AccessToken;
    // A server that names no lifetime: an hour, the common one; a refusal
    // refreshes it earlier.
    const int lifetime = grant.ExpiresIn > 0 ? grant.ExpiresIn : 3600;
    entry.Expires = Clock().Now() + std::chrono::seconds(lifetime);
}

std::string TAccessTokens::AccessToken(const Account& account, bool refused)
{
    const std::shared_ptr<TEntry> entry = EntryOf(account);
    std::lock_guard lock(entry->Mutex);
    const std::string needed = ResStr("The account needs a sign-in: open its settings and choose Sign in.");
    if (entry->Blocked)
        throw ESignInNeeded(needed);
    if (!refused && !entry->AccessToken.empty() &&
        Clock().Now() + std::chrono::seconds(MarginSeconds) < entry->Expires)
        return entry->AccessToken;
    entry->AccessToken.clear();
    if (entry->Refresh.empty())
        entry->Refresh = FVault.Read(account).value_or("");
    if (entry->Refresh.empty())
        throw ESignInNeeded(needed);
    const std::string refresh = entry->Refresh;
    try
    {
        const TProvider provider = ProviderFor(account);
        ++FRequests;
        const TTokenGrant grant = RefreshTokens(provider, refresh, FLimits);
        Keep(*entry, account, grant, refresh);
        return entry->AccessToken;
    }
    catch (const EOAuthRefused& refusal)
    {
        if (refusal.Code != "invalid_grant")
            throw ETokenUnavailable(refusal.what());
        // Revoked or expired: the token is of no use to anyone any more.
        entry->Blocked = true;
        entry->Refresh.clear();
        entry->Unsaved = false;
        try
        {
            FVault.Erase(account);
        }
        catch (const ETokenUnavailable&)
        {
            // Kept or not, it is of no use: the next start is refused the same way.
        }
        throw ESignInNeeded(needed);
    }
    catch (const EOAuthSetup& setup)
    {
        throw ESignInNeeded(setup.what());
    }
    catch (const EOAuthError& error)
    {
        throw ETokenUnavailable(error.what());
    }
}

void TAccessTokens::SignedIn(const Account& account, const TTokenGrant& grant)
{
    const std::shared_ptr<TEntry> entry = EntryOf(account);
    std::lock_guard lock(entry->Mutex);
    // A sign-in whose token cannot be kept is not done: say so now.
    if (!grant.RefreshToken.empty())
        FVault.Write(account, grant.RefreshToken);
    entry->Refresh = grant.RefreshToken;
    entry->Unsaved = false;
    Keep(*entry, account, grant, grant.RefreshToken);
    entry->Blocked = false;
}

bool TAccessTokens::HasSignIn(const Account& account)
{
    const std::optional<std::string> refresh = FVault.Read(account);
    return refresh && !refresh->empty();
}

bool TAccessTokens::SignOut(const Account& account)
{
    const std::shared_ptr<TEntry> entry = EntryOf(account);
    std::lock_guard lock(entry->Mutex);
    bool revoked = true;
    const std::string refresh = entry->Refresh.empty() ? FVault.Read(account).value_or("") : entry->Refresh;
    if (!refresh.empty())
    {
        try
        {
            RevokeToken(ProviderFor(account), refresh, FLimits);
        }
        catch (const EOAuthError&)
        {
            revoked = false;
        }
    }
    FVault.Erase(account);
    entry->AccessToken.clear();
    entry->Refresh.clear();
    entry->Unsaved = false;
    entry->Blocked = false;
    return revoked;
}
