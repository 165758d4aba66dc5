#pragma once

#include "check/Account.h"
#include "oauth/HttpExchange.h"
#include "oauth/OAuthJson.h"

#include <optional>
#include <string>

// One authorization server as an account uses it.
struct TProvider
{
    TEndpoints Endpoints;
    std::string Scope; // what the sign-in asks for
    std::string ClientId;
    std::string ClientSecret; // empty: a public client
    bool DeviceGrant() const { return !Endpoints.Device.empty(); }
};

// The providers built in, by issuer: Google, and Microsoft with its tenant
// ("common", "consumers", "organizations" or a tenant's id or domain). Their
// default scope depends on the account's protocol. Nullopt for any other
// issuer; a Microsoft issuer with a malformed tenant raises EOAuthSetup.
std::optional<TProvider> BuiltInProvider(const std::string& issuer, bool imap4);

// The endpoints of any other issuer, from its discovery document: the
// OpenID Connect one first, then RFC 8414's. Every endpoint must pass
// ParseHttpUrl.
TEndpoints DiscoverEndpoints(const std::string& issuer, const THttpLimits& limits);

// The account's provider: built in, or discovered. The account's client id
// and scope win over the defaults; without any client id, EOAuthSetup says
// in one sentence what is missing and where to set it.
TProvider ProviderOf(const Account& account, const THttpLimits& limits);

// The issuers the Account page offers.
constexpr const char* GoogleIssuer = "https://accounts.google.com";
std::string MicrosoftIssuer(const std::string& tenant);
