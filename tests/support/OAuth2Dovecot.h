#pragma once

#include "check/AccessTokens.h"
#include "support/DovecotFixture.h"
#include "support/oauth/AuthServer.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

// The running suite's test authorization server, one for the suite.
struct OAuth2Suite
{
    static AuthServer& Authorization() { return *Auth; }

    // A fresh access token for `user` (letters, digits and "-" only). The
    // server sends its answer in chunks, which AuthServer::Mint does not
    // join yet: the token is read from the body as it came.
    static std::string MintedToken(const std::string& user)
    {
        const AuthServer::TAnswer answer = Auth->Request("/test/mint", "account=" + user + "&scope=openid%20mail");
        const std::string key = "\"access_token\":\"";
        const std::size_t at = answer.Body.find(key);
        if (answer.Status != 200 || at == std::string::npos)
            throw std::runtime_error("no token minted: " + answer.Body);
        const std::size_t from = at + key.size();
        return answer.Body.substr(from, answer.Body.find('"', from) - from);
    }

    static inline std::unique_ptr<AuthServer> Auth;
    static inline std::string AuthError;
};

// The suite's Dovecot taking OAuth2 access tokens, checked at the suite's
// test authorization server (both started once per suite). A test is
// skipped where either cannot run here. TBase as DovecotFixture's.
template <typename TBase = testing::Test>
class OAuth2DovecotFixture : public DovecotFixture<TBase>, public OAuth2Suite
{
    using TDovecot = DovecotFixture<TBase>;

public:
    static void SetUpTestSuite()
    {
        if (!AuthServer::Unavailable().empty() || !Dovecot::Unavailable().empty())
            return;
        try
        {
            Auth = std::make_unique<AuthServer>();
        }
        catch (const std::exception& e)
        {
            AuthError = e.what();
            return;
        }
        // Dovecot asks as the confidential client, its id and secret in the URL.
        const std::string scheme = "http://";
        TDovecot::StartSuite({.OAuth2Introspection = scheme + "dovecot:dovecot-secret@" +
                                                     Auth->IntrospectionEndpoint().substr(scheme.size())});
    }
    static void TearDownTestSuite()
    {
        TDovecot::TearDownTestSuite();
        Auth.reset();
    }

protected:
    void SetUp() override
    {
        if (const std::string why = AuthServer::Unavailable(); !why.empty())
            GTEST_SKIP() << why;
        ASSERT_TRUE(Auth) << AuthError;
        TDovecot::SetUp();
    }
};

// A token source of the tests' own: a fresh grant's token each time. With
// `Revoked` the grant is ended before the server sees the token, and a
// refusal raises what a revoked grant makes the real source raise.
class TMintedTokens : public IAccessTokens
{
public:
    std::string AccessToken(const Account& account, bool refused) override
    {
        std::lock_guard<std::mutex> hold(Lock);
        Asked.push_back(refused);
        if (refused && Revoked)
            throw ESignInNeeded("invalid_grant");
        const std::string token = OAuth2Suite::MintedToken(account.UserName);
        if (Revoked)
            OAuth2Suite::Authorization().Revoke(account.UserName);
        return token;
    }

    std::vector<bool> AskedSoFar()
    {
        std::lock_guard<std::mutex> hold(Lock);
        return Asked;
    }

    std::mutex Lock;
    bool Revoked = false;
    std::vector<bool> Asked;
};
