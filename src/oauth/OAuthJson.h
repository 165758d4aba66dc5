#pragma once

#include <string>
#include <string_view>

// The JSON documents an authorization server sends, read into plain values.
// Every reader refuses a document past MaxOAuthDocument, one that is not a
// JSON object, and a member of the wrong type (EOAuthMalformed).

// More than any honest token, discovery or device answer needs.
constexpr std::size_t MaxOAuthDocument = 256 * 1024;

// A token endpoint's success (RFC 6749 5.1).
struct TTokenGrant
{
    std::string AccessToken;
    std::string RefreshToken; // empty: the server kept the one it had
    std::string IdToken;
    std::string Scope;
    int ExpiresIn = 0; // seconds; 0: the server did not say
};

// An error answer (RFC 6749 5.2); an empty Code when the document has none.
struct TOAuthErrorAnswer
{
    std::string Code;
    std::string Description;
};

// The endpoints of one authorization server.
struct TEndpoints
{
    std::string Issuer;
    std::string Authorization;
    std::string Token;
    std::string Device;     // empty: no device grant
    std::string Revocation; // empty: no revocation
};

// A device authorization answer (RFC 8628 3.2).
struct TDeviceCode
{
    std::string DeviceCode;
    std::string UserCode;
    std::string VerificationUri;
    std::string VerificationUriComplete;
    int ExpiresIn = 0;
    int Interval = 5; // seconds between polls
};

TTokenGrant ReadTokenGrant(std::string_view body);
// Never raises: a body that is not an error object gives an empty Code.
TOAuthErrorAnswer ReadErrorAnswer(std::string_view body);
// A discovery document (OpenID Connect Discovery, RFC 8414) for `issuer`:
// its "issuer" must be the one asked for, or a server could pass off
// another's endpoints as its own.
TEndpoints ReadDiscovery(std::string_view body, const std::string& issuer);
TDeviceCode ReadDeviceCode(std::string_view body);
// Who an ID token names, for display only (its signature is not checked:
// it came straight from the token endpoint over the secured line): the
// "email" claim, else "preferred_username", else empty.
std::string IdTokenName(const std::string& idToken);
