#pragma once

#include "check/Account.h"

#include <sys/types.h>

#include <map>
#include <memory>
#include <string>

// The tests' authorization server (server.mjs beside this file) on
// 127.0.0.1 at a free port, for one test suite or one test. Clients:
// "ternbell" (native, public, PKCE) and "dovecot" (confidential, secret
// "dovecot-secret", for introspection). Skip a test when Unavailable says why.
class AuthServer
{
public:
    struct TOptions
    {
        int AccessTokenSeconds = 3600;
        int RefreshTokenSeconds = 14 * 24 * 3600;
    };
    // Starts it and waits (at most 30 s) for its issuer; throws when it
    // does not come up.
    explicit AuthServer(TOptions options);
    AuthServer() : AuthServer(TOptions{}) {}
    ~AuthServer();
    AuthServer(const AuthServer&) = delete;
    AuthServer& operator=(const AuthServer&) = delete;

    // Empty when Node.js and the server's packages are there; else why not.
    static std::string Unavailable();
    // The folder holding the browser stand-in "xdg-open", to put first on
    // PATH.
    static std::string BrowserFolder();

    // "http://127.0.0.1:<port>"
    const std::string& Issuer() const { return FIssuer; }
    // An IMAP4 account that signs in here as the native client.
    Account SignInAccount() const
    {
        Account account;
        account.IMAP4 = true;
        account.Host = "mail.example.org";
        account.Port = "993";
        account.UserName = "ann@example.org";
        account.Authentication = aaOAuth2;
        account.OAuth2Issuer = FIssuer;
        account.OAuth2ClientId = "ternbell";
        account.OAuth2Scope = "openid email mail";
        return account;
    }
    std::string IntrospectionEndpoint() const { return FIssuer + "/token/introspection"; }

    struct TTokens
    {
        std::string AccessToken;
        std::string RefreshToken;
    };
    // A fresh grant for `account` (the mailbox's address) without a browser.
    TTokens Mint(const std::string& account, const std::string& scope = {});
    // Whether the server takes `accessToken` now (introspection, as the
    // mail server asks).
    bool Active(const std::string& accessToken);
    // Ends every grant of `account`, with its tokens.
    void Revoke(const std::string& account);
    // Token endpoint requests, granted or refused, by grant type
    // ("refresh_token", "authorization_code", ...).
    std::map<std::string, int> TokenRequests();
    // Ends the server: its port refuses from then on.
    void Stop();

    // One plain request to the server: the status and body. Throws when it
    // cannot be had.
    struct TAnswer
    {
        int Status = 0;
        std::string Body;
    };
    TAnswer Request(const std::string& path, const std::string& form = {}, const std::string& headers = {}) const;

private:
    // Started with posix_spawn, not QProcess: a forked child breaks the
    // thread sanitizer's runtime. Its standard input is a pipe we hold, so
    // it ends with the test process however that ends.
    pid_t FPid = -1;
    int FInput = -1;
    std::string FOutput; // its standard output, a file
    std::string FIssuer;
    int FPort = 0;
};

// A fixture over `Base` with one authorization server for its suite; it
// stays null where the server cannot run (Unavailable says why).
template <class Base> class WithAuthServer : public Base
{
protected:
    static void SetUpTestSuite()
    {
        if (AuthServer::Unavailable().empty())
            Server = std::make_unique<AuthServer>();
    }
    static void TearDownTestSuite() { Server.reset(); }
    static inline std::unique_ptr<AuthServer> Server;
};
