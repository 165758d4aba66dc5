#pragma once

#include "support/DovecotFixture.h"
#include "support/oauth/AuthServer.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>

// The suite's Dovecot taking OAuth2 access tokens, checked at the suite's
// test authorization server (both started once per suite). A test is
// skipped where either cannot run here.
class OAuth2DovecotFixture : public DovecotFixture<>
{
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
        StartSuite({.OAuth2Introspection = scheme + "dovecot:dovecot-secret@" +
                                           Auth->IntrospectionEndpoint().substr(scheme.size())});
    }
    static void TearDownTestSuite()
    {
        DovecotFixture::TearDownTestSuite();
        Auth.reset();
    }

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

protected:
    void SetUp() override
    {
        if (const std::string why = AuthServer::Unavailable(); !why.empty())
            GTEST_SKIP() << why;
        ASSERT_TRUE(Auth) << AuthError;
        DovecotFixture::SetUp();
    }

    static inline std::unique_ptr<AuthServer> Auth;
    static inline std::string AuthError;
};
