#pragma once

#include <stdexcept>
#include <string>

// What a sign-in or a token request can end in. The texts are for the user
// and never hold a token.
struct EOAuthError : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

// The authorization server answered with an OAuth error ("invalid_grant").
struct EOAuthRefused : EOAuthError
{
    EOAuthRefused(std::string code, const std::string& text) : EOAuthError(text), Code(std::move(code)) {}
    std::string Code;
};

// The server could not be reached, or did not answer within the limits, or
// answered that it cannot serve now (5xx): worth trying again later.
struct EOAuthUnreachable : EOAuthError
{
    using EOAuthError::EOAuthError;
};

// The server answered something that is not what the protocol allows: too
// large, malformed, a redirect elsewhere.
struct EOAuthMalformed : EOAuthError
{
    using EOAuthError::EOAuthError;
};

// The account's settings cannot work: no client id, a plain-text issuer off
// this machine, a malformed tenant.
struct EOAuthSetup : EOAuthError
{
    using EOAuthError::EOAuthError;
};

// The user ended the sign-in, or it ran out of time.
struct EOAuthCancelled : EOAuthError
{
    using EOAuthError::EOAuthError;
};
