#pragma once

#include "support/Dovecot.h"
#include "support/TestHelpers.h"
#include "support/TestTls.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

// What a server offers beyond POP3 and IMAP4 in plain text.
struct DovecotOptions
{
    // STLS and STARTTLS on the plain ports and the implicit TLS ports, with
    // a certificate for 127.0.0.1 and localhost from a throw-away CA.
    bool Tls = false;
    bool Apop = false;
    // Takes OAuth2 access tokens checked at this introspection endpoint
    // (Dovecot::EnableOAuth2).
    std::string OAuth2Introspection = {};
    // Folders with special-use marks (Junk, Trash, Sent) and the mailbox
    // list index that NOTIFY and LIST-STATUS ride on.
    bool Folders = false;
};

// A Dovecot started as `options` ask, with the CA that issued its
// certificate in `caFolder` (a temporary folder when empty). The server
// stops before the CA's files go.
class StartedDovecot
{
public:
    explicit StartedDovecot(const DovecotOptions& options, const std::string& caFolder = {});
    StartedDovecot(const StartedDovecot&) = delete;
    StartedDovecot& operator=(const StartedDovecot&) = delete;

    // Null without TLS.
    TestCa* Ca() const { return FCa.get(); }
    const std::string& CaFolder() const { return FCaFolder; }
    Dovecot& Server() { return FServer; }

private:
    std::unique_ptr<TempFolder> FTemporary;
    std::string FCaFolder;
    std::unique_ptr<TestCa> FCa;
    Dovecot FServer;
};

// The suite's server: started before its first test, stopped after its last.
// Null when it could not start; DovecotSuiteError says why.
StartedDovecot* StartDovecotSuite(const DovecotOptions& options);
void StopDovecotSuite();
const std::string& DovecotSuiteError();
// A user name of the running test's own, made of the test's name.
std::string TestMailboxName();
// Adds a user with an empty Maildir to the suite's `server`: `user`, or one
// named after the running test when empty. A name an earlier test of the
// suite had gets a fresh mailbox.
std::string AddSuiteMailbox(Dovecot& server, const std::string& password, std::string user);

// A gtest base fixture over the suite's own Dovecot. A test is skipped where
// no server can run here; with TLS the CA is trusted (SSL_CERT_FILE) for the
// test. Each test takes mailboxes of its own (NewMailbox), so no two meet in
// a maildrop. TBase is testing::Test or a fixture of windows; a suite that
// needs TLS or APOP declares its own SetUpTestSuite calling StartSuite.
//
//     class Pop3Dovecot : public DovecotFixture<> { ... };
//     TEST_F(Pop3Dovecot, Counts) { const std::string user = NewMailbox();
//                                   Server->Deliver(user, "Subject: hi\r\n\r\nx\r\n"); ... }
template <typename TBase = testing::Test>
class DovecotFixture : public TBase
{
public:
    static void SetUpTestSuite() { StartSuite({}); }
    static void TearDownTestSuite()
    {
        Server = nullptr;
        Ca = nullptr;
        StopDovecotSuite();
    }

protected:
    static void StartSuite(const DovecotOptions& options)
    {
        if (!Dovecot::Unavailable().empty())
            return;
        if (StartedDovecot* started = StartDovecotSuite(options))
        {
            Server = &started->Server();
            Ca = started->Ca();
            CaFolder = started->CaFolder();
        }
    }

    void SetUp() override
    {
        if (const std::string why = Dovecot::Unavailable(); !why.empty())
            GTEST_SKIP() << why;
        ASSERT_NE(Server, nullptr) << DovecotSuiteError();
        if (Ca)
        {
            Trust.Set("SSL_CERT_FILE", Ca->CaFile());
            Trust.Set("SSL_CERT_DIR", CaFolder);
        }
        TBase::SetUp();
    }

    // A user of this test's own with an empty Maildir; `user` empty: one
    // named after the test.
    static std::string NewMailbox(const std::string& password = "secret", const std::string& user = {})
    {
        return AddSuiteMailbox(*Server, password, user);
    }

    // Aims a mail client at the suite's server as `user`.
    template <typename TClient>
    static void AimAt(TClient& client, int port, const std::string& user, const std::string& password = "secret")
    {
        client.Host = Server->Host();
        client.Port = port;
        client.Username = user;
        client.Password = password;
    }

    static inline Dovecot* Server = nullptr;
    // Null without TLS.
    static inline TestCa* Ca = nullptr;
    static inline std::string CaFolder;
    ScopedEnvironment Trust;
};
