#include "oauth/Providers.h"

#include "check/CheckRules.h"
#include "i18n/Translate.h"
#include "oauth/OAuthErrors.h"

// The build's registered applications (CMake options); empty: none.
#ifndef TERNBELL_GOOGLE_CLIENT_ID
#define TERNBELL_GOOGLE_CLIENT_ID ""
#endif
#ifndef TERNBELL_GOOGLE_CLIENT_SECRET
#define TERNBELL_GOOGLE_CLIENT_SECRET ""
#endif
#ifndef TERNBELL_MICROSOFT_CLIENT_ID
#define TERNBELL_MICROSOFT_CLIENT_ID ""
#endif

namespace
{

const std::string MicrosoftPrefix = "https://login.microsoftonline.com/";

std::string WithoutTrailingSlash(std::string url)
{
    while (!url.empty() && url.back() == '/')
        url.pop_back();
    return url;
}

bool TenantAllowed(const std::string& tenant)
{
    if (tenant.empty() || tenant.size() > 128)
        return false;
    for (const char c : tenant)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_'))
            return false;
    return tenant.front() != '.';
}

} // namespace

std::string MicrosoftIssuer(const std::string& tenant)
{
    return MicrosoftPrefix + tenant + "/v2.0";
}

std::optional<TProvider> BuiltInProvider(const std::string& issuer, bool imap4)
{
    const std::string id = WithoutTrailingSlash(issuer);
    TProvider provider;
    if (id == GoogleIssuer)
    {
        // Google offers the device grant, but not for the mail scope.
        provider.Endpoints = {GoogleIssuer, "https://accounts.google.com/o/oauth2/v2/auth",
                              "https://oauth2.googleapis.com/token", "", "https://oauth2.googleapis.com/revoke"};
        provider.Scope = "https://mail.google.com/";
        provider.ClientId = TERNBELL_GOOGLE_CLIENT_ID;
        provider.ClientSecret = TERNBELL_GOOGLE_CLIENT_SECRET;
        return provider;
    }
    if (id.compare(0, MicrosoftPrefix.size(), MicrosoftPrefix) != 0 || id.size() < MicrosoftPrefix.size() + 5 ||
        id.compare(id.size() - 5, 5, "/v2.0") != 0)
        return std::nullopt;
    const std::string tenant = id.substr(MicrosoftPrefix.size(), id.size() - MicrosoftPrefix.size() - 5);
    if (!TenantAllowed(tenant))
        throw EOAuthSetup(FormatOne(ResStr("\"%s\" is not a Microsoft tenant: use common, consumers, organizations "
                                           "or the tenant's id."),
                                    "%s", tenant));
    const std::string base = MicrosoftPrefix + tenant + "/oauth2/v2.0/";
    // Microsoft offers no revocation endpoint for these tokens.
    provider.Endpoints = {id, base + "authorize", base + "token", base + "devicecode", ""};
    provider.Scope = std::string("https://outlook.office.com/") + (imap4 ? "IMAP" : "POP") +
                     ".AccessAsUser.All offline_access";
    provider.ClientId = TERNBELL_MICROSOFT_CLIENT_ID;
    return provider;
}

TEndpoints DiscoverEndpoints(const std::string& issuer, const THttpLimits& limits)
{
    const THttpUrl where = ParseHttpUrl(issuer);
    std::string path = where.Target == "/" ? "" : where.Target;
    if (path.find('?') != std::string::npos)
        throw EOAuthSetup(ResStr("An issuer's address has no query."));
    path = WithoutTrailingSlash(path);
    const std::string root = OriginOf(where);
    const std::string candidates[] = {WithoutTrailingSlash(issuer) + "/.well-known/openid-configuration",
                                      root + "/.well-known/oauth-authorization-server" + path};
    for (const std::string& url : candidates)
    {
        const THttpAnswer answer = HttpExchange(url, {}, limits);
        if (answer.Status >= 500)
            throw EOAuthUnreachable(ResStr("The authorization server cannot serve now; the next round tries again."));
        if (answer.Status != 200)
            continue;
        TEndpoints endpoints = ReadDiscovery(answer.Body, issuer);
        for (const std::string* endpoint :
             {&endpoints.Authorization, &endpoints.Token, &endpoints.Device, &endpoints.Revocation})
            if (!endpoint->empty())
                ParseHttpUrl(*endpoint);
        return endpoints;
    }
    throw EOAuthSetup(FormatOne(ResStr("%s describes no authorization server."), "%s", issuer));
}

TProvider ProviderOf(const Account& account, const THttpLimits& limits)
{
    if (account.OAuth2Issuer.empty())
        throw EOAuthSetup(ResStr("The account names no authorization server: choose a provider on the Account page."));
    std::optional<TProvider> builtIn = BuiltInProvider(account.OAuth2Issuer, account.IMAP4);
    TProvider provider;
    if (builtIn)
        provider = *builtIn;
    else
        provider.Endpoints = DiscoverEndpoints(account.OAuth2Issuer, limits);
    if (!account.OAuth2ClientId.empty())
    {
        // A secret belongs to the build's own application, not to another.
        if (account.OAuth2ClientId != provider.ClientId)
            provider.ClientSecret.clear();
        provider.ClientId = account.OAuth2ClientId;
    }
    if (!account.OAuth2Scope.empty())
        provider.Scope = account.OAuth2Scope;
    if (provider.ClientId.empty())
        throw EOAuthSetup(FormatOne(ResStr("%s needs the client id of an application registered with it: enter it "
                                           "as the account's client id on the Account page, or build ternbell with "
                                           "one (see the README)."),
                                    "%s", account.OAuth2Issuer));
    return provider;
}
