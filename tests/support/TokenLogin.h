#pragma once

#include "mail/SaslMechanism.h"

#include <functional>
#include <string>
#include <vector>

// The wire side of a login with an access token, for transcripts: the
// base64 a mechanism opens with, the server's error challenge, and a token
// source that hands out "tok1", "tok2", ... and records what it was asked.
inline std::string BearerLine(const std::string& mechanism, const std::string& user, const std::string& token)
{
    const std::string kv(1, '\x01');
    return SASLEncode(mechanism == "XOAUTH2" ? "user=" + user + kv + "auth=Bearer " + token + kv + kv
                                             : "n,a=" + user + "," + kv + "auth=Bearer " + token + kv + kv);
}

inline const std::string InvalidTokenChallenge =
    SASLEncode(R"({"status":"invalid_token","scope":"mail","schemes":"bearer"})");

struct TTokenSource
{
    // One entry per call: whether it asked for a fresh token.
    std::vector<bool> Asked;
    // Appended to each token, to make it as long as a test needs.
    std::string Padding;

    std::function<std::string(bool)> Source()
    {
        return [this](bool refused) {
            Asked.push_back(refused);
            return "tok" + std::to_string(Asked.size()) + Padding;
        };
    }
};
