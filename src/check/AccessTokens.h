#pragma once

#include "check/Account.h"

#include <stdexcept>
#include <string>

// The account must be signed in (again) before it can log in: never signed
// in, or its grant was revoked or expired.
struct ESignInNeeded : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

// A token could not be had for now (the token endpoint down, slow or
// refusing for a while); the next round tries again.
struct ETokenUnavailable : std::runtime_error
{
    using std::runtime_error::runtime_error;
};

// Where a session gets an OAuth2 account's access token. Called from the
// threads that run sessions, so an implementation is thread-safe.
class IAccessTokens
{
public:
    virtual ~IAccessTokens() = default;
    // A valid access token; `refused` asks for a fresh one because the
    // server refused the last one.
    virtual std::string AccessToken(const Account& account, bool refused) = 0;
};
