#pragma once

#include "oauth/HttpExchange.h"
#include "oauth/OAuthJson.h"
#include "oauth/Providers.h"

#include <optional>
#include <string>

// The requests to an authorization server's token, device and revocation
// endpoints. An OAuth error answer raises EOAuthRefused with its code; 429
// and 5xx EOAuthUnreachable; anything else unexpected EOAuthMalformed.

// The authorization code grant's exchange, with the PKCE verifier.
TTokenGrant ExchangeCode(const TProvider& provider, const std::string& code, const std::string& verifier,
                         const std::string& redirectUri, const THttpLimits& limits);
TTokenGrant RefreshTokens(const TProvider& provider, const std::string& refreshToken, const THttpLimits& limits);

// The device grant (RFC 8628): the code to show, then polls.
TDeviceCode StartDeviceGrant(const TProvider& provider, const THttpLimits& limits);
// One poll: nullopt while the user has not finished ("authorization_pending");
// "slow_down" adds five seconds to `interval`.
std::optional<TTokenGrant> PollDeviceGrant(const TProvider& provider, const TDeviceCode& device, int& interval,
                                           const THttpLimits& limits);

// RFC 7009, for a refresh token; does nothing where the provider has no
// revocation endpoint.
void RevokeToken(const TProvider& provider, const std::string& refreshToken, const THttpLimits& limits);
