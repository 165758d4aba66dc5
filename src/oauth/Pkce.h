#pragma once

#include <string>

// Proof Key for Code Exchange (RFC 7636, S256) and the state value of one
// authorization request: fresh random values from the system's source.
struct TPkce
{
    std::string Verifier;  // 43 characters of base64url
    std::string Challenge; // base64url(SHA-256(Verifier))
    std::string State;
};

TPkce MakePkce();
// base64url(SHA-256(verifier)), without padding.
std::string PkceChallenge(const std::string& verifier);
