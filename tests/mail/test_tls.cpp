// The TLS handler and the POP3 and IMAP4 clients over it: a Dovecot with a
// certificate from a throw-away CA (trusted through SSL_CERT_FILE), and
// servers that must not get the password: bad certificates, a server that
// hides or refuses STARTTLS, a handshake that never ends.
#include "mail/IdExceptions.h"
#include "mail/IdMessage.h"
#include "mail/Imap4Client.h"
#include "mail/Pop3Client.h"
#include "mail/TlsIOHandler.h"
#include "support/Dovecot.h"
#include "support/DovecotFixture.h"
#include "support/FakeClock.h"
#include "support/ScriptedServer.h"
#include "support/TestHelpers.h"
#include "support/TestTls.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <netinet/tcp.h>

#include <chrono>
#include <memory>
#include <string>

namespace
{

using namespace std::chrono_literals;

using State = TIdIMAP4ConnectionState;

bool Secured(TIdTCPConnection& connection)
{
    auto* tls = dynamic_cast<TIdTlsIOHandler*>(connection.IOHandler());
    return tls && tls->TlsActive();
}

std::string Mail(const std::string& subject)
{
    return "From: Sender <sender@example.org>\r\nTo: someone@example.org\r\nSubject: " + subject
           + "\r\n\r\nbody\r\n";
}

// One Dovecot with TLS for the suite.
class TlsDovecot : public DovecotFixture<>
{
public:
    static void SetUpTestSuite() { StartSuite({.Tls = true}); }

protected:
    void SetUp() override
    {
        DovecotFixture::SetUp();
        if (IsSkipped() || HasFatalFailure())
            return;
        User = TestMailboxName();
        NewMailbox("pw-" + User, User);
        for (TIdTCPClientCustom* client : {static_cast<TIdTCPClientCustom*>(&Pop), static_cast<TIdTCPClientCustom*>(&Imap)})
        {
            client->Host = Server->Host();
            client->ConnectTimeout = 5000;
            client->ReadTimeout = 5000;
        }
        Pop.Username = Imap.Username = User;
        Pop.Password = Imap.Password = "pw-" + User;
    }

    void TearDown() override
    {
        Pop.Disconnect(false);
        Imap.Disconnect(false);
    }

    std::string User;
    TIdPOP3 Pop;
    TIdIMAP4 Imap;
};

TEST_F(TlsDovecot, Pop3ImplicitAndStartTlsReadTheMaildrop)
{
    Server->Deliver(User, Mail("over TLS"));
    struct Case
    {
        TIdUseTLS Use;
        uint16_t Port;
    };
    for (const Case& c : {Case{utUseImplicitTLS, Server->Pop3sPort()}, Case{utUseRequireTLS, Server->Pop3Port()}})
    {
        SCOPED_TRACE(c.Use);
        Pop.UseTLS = c.Use;
        Pop.Port = c.Port;
        Pop.Password = "wrong";
        EXPECT_THROW(Pop.Connect(), EIdReplyPOP3Error);
        Pop.Password = "pw-" + User;
        Pop.Connect();
        EXPECT_TRUE(Secured(Pop));
        if (c.Use == utUseRequireTLS)
        {
            // The list was asked again over TLS, where STLS is no more.
            EXPECT_TRUE(Pop.CapaAnswered);
            for (const std::string& capability : Pop.ServerCapabilities)
                EXPECT_NE(capability, "STLS");
        }
        ASSERT_EQ(Pop.CountMessages(), 1);
        TIdMessage message;
        Pop.FetchHeader(1, message);
        EXPECT_EQ(message.Subject, "over TLS");
        EXPECT_GT(Pop.MessageSize(1), 0);
        Pop.Disconnect();
        EXPECT_FALSE(Pop.Connected());
    }
    // The same client then serves a plain account: the TLS handler it kept
    // must not start a handshake on the plain port.
    Pop.UseTLS = utNoTLSSupport;
    Pop.Port = Server->Pop3Port();
    Pop.Connect();
    EXPECT_FALSE(Secured(Pop));
    EXPECT_EQ(Pop.CountMessages(), 1);
    Pop.Disconnect();
}

TEST_F(TlsDovecot, Imap4ImplicitAndStartTlsLogInAndFetch)
{
    Server->Deliver(User, Mail("imap over TLS"));
    struct Case
    {
        TIdUseTLS Use;
        uint16_t Port;
        std::string Host;
    };
    for (const Case& c : {Case{utUseImplicitTLS, Server->ImapsPort(), "127.0.0.1"},
                          Case{utUseRequireTLS, Server->ImapPort(), "localhost"}})
    {
        SCOPED_TRACE(c.Use);
        Imap.UseTLS = c.Use;
        Imap.Port = c.Port;
        Imap.Host = c.Host;
        Imap.Password = "wrong";
        EXPECT_TRUE(Imap.Connect(true));
        EXPECT_EQ(Imap.ConnectionState, State::NonAuthenticated);
        Imap.Disconnect();
        Imap.Password = "pw-" + User;
        EXPECT_TRUE(Imap.Connect(true));
        EXPECT_TRUE(Secured(Imap));
        EXPECT_EQ(Imap.ConnectionState, State::Authenticated);
        EXPECT_FALSE(Imap.HasCapability("STARTTLS"));
        ASSERT_TRUE(Imap.SelectMailbox("inbox"));
        EXPECT_EQ(Imap.MailBox.ExistsCount, 1);
        TIdMessage message;
        ASSERT_TRUE(Imap.FetchHeader(1, message));
        EXPECT_EQ(message.Subject, "imap over TLS");
        EXPECT_TRUE(Imap.CloseMailbox());
        Imap.Disconnect();
    }
}

TEST_F(TlsDovecot, KeepAliveReachesTheTlsSocket)
{
    Imap.UseTLS = utUseImplicitTLS;
    Imap.Port = Server->ImapsPort();
    Imap.KeepAlive = 60;
    Imap.Connect(true);
    ASSERT_TRUE(Secured(Imap));
    int idle = 0;
    socklen_t length = sizeof idle;
    const int socket = dynamic_cast<TIdTlsIOHandler&>(*Imap.IOHandler()).Binding()->Handle();
    EXPECT_EQ(::getsockopt(socket, IPPROTO_TCP, TCP_KEEPIDLE, &idle, &length), 0);
    EXPECT_EQ(idle, 60); // the system's own is 7200
    Imap.Disconnect();
}

TEST_F(TlsDovecot, ReadTimeoutStillBoundsReadsOverTls)
{
    Pop.UseTLS = utUseImplicitTLS;
    Pop.Port = Server->Pop3sPort();
    Pop.Connect();
    // Nothing is owed: the read must come back empty after the limit, which
    // runs on a test clock.
    TIdIOHandler& handler = *Pop.IOHandler();
    auto clock = std::make_shared<FakeClock>();
    handler.Clock = clock;
    EXPECT_EQ(handler.ReadLine("\n", 30000), "");
    EXPECT_TRUE(handler.LastReadTimedOut());
    EXPECT_EQ(clock->Served(), 30s);
    handler.Clock.reset();
    EXPECT_TRUE(Pop.Connected());
    EXPECT_EQ(Pop.CountMessages(), 0);
    Pop.Disconnect();
}

// ------------------------------------------------------------- refusals

class TlsRefusal : public testing::Test
{
protected:
    void SetUp() override
    {
        Ca = std::make_unique<TestCa>(Folder.Path(), "trusted test CA");
        Trust.Set("SSL_CERT_FILE", Ca->CaFile());
        Trust.Set("SSL_CERT_DIR", Folder.Path());
        Pop.Host = "127.0.0.1";
        Pop.Username = "ann";
        Pop.Password = "secret";
        Pop.ConnectTimeout = 400;
        Pop.ReadTimeout = 400;
        Imap.Host = "127.0.0.1";
        Imap.Username = "ann";
        Imap.Password = "secret";
        Imap.ConnectTimeout = 400;
        Imap.ReadTimeout = 400;
    }

    TempFolder Folder{"tls-refusal"};
    std::unique_ptr<TestCa> Ca;
    ScopedEnvironment Trust;
    TIdPOP3 Pop;
    TIdIMAP4 Imap;
};

TEST_F(TlsRefusal, CertificatesThatDoNotVerifyStopTheConnectWithTheirReason)
{
    TempFolder otherFolder("tls-other");
    TestCa untrusted(otherFolder.Path(), "someone else's CA");
    struct Case
    {
        const char* Name;
        TestCa::Issued Cert;
        std::string Reason;
    };
    const Case cases[] = {
        {"wrong host", Ca->Issue("wrong-host", {"mail.example.org"}),
         "The server's certificate was issued for another host name."},
        {"expired", Ca->Issue("expired", {"127.0.0.1"}, -30, -1), "The server's certificate has expired."},
        {"not yet valid", Ca->Issue("future", {"127.0.0.1"}, 2, 30), "The server's certificate is not valid yet."},
        {"unknown CA", untrusted.Issue("unknown-ca", {"127.0.0.1"}),
         "The server's certificate was issued by an unknown authority."},
        {"self-signed", untrusted.SelfSigned(), "The server's certificate is self-signed and not trusted."},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Name);
        TlsTestServer server(c.Cert, "+OK ready");
        TIdPOP3 pop;
        pop.Host = "127.0.0.1";
        pop.Port = server.Port();
        pop.Username = "ann";
        pop.Password = "secret";
        pop.ConnectTimeout = 2000;
        pop.UseTLS = utUseImplicitTLS;
        EXPECT_EQ(MessageOf<EIdTLSCertificateError>([&] { pop.Connect(); }), c.Reason);
        EXPECT_FALSE(pop.Connected());
        ASSERT_TRUE(server.WaitDone());
        EXPECT_FALSE(server.HandshakeDone());
        EXPECT_EQ(server.Received(), "");
    }
}

TEST_F(TlsRefusal, TheTestServerRecordsWhatAVerifiedClientSends)
{
    // The counterpart of the refusals: with a good certificate the client
    // goes on, and the server sees it.
    TlsTestServer server(Ca->Issue("good", {"127.0.0.1"}), "+OK ready");
    Pop.Port = server.Port();
    Pop.UseTLS = utUseImplicitTLS;
    EXPECT_THROW(Pop.Connect(), EIdReadTimeout);
    Pop.Disconnect(false);
    ASSERT_TRUE(server.WaitDone());
    EXPECT_TRUE(server.HandshakeDone());
    EXPECT_EQ(server.Received(), "CAPA\r\n");
}

TEST_F(TlsRefusal, AHandshakeThatNeverEndsIsBoundedByTheConnectLimit)
{
    TlsTestServer server(Ca->Issue("stall", {"127.0.0.1"}), "", true);
    Imap.Port = server.Port();
    Imap.UseTLS = utUseImplicitTLS;
    auto clock = std::make_shared<FakeClock>();
    Imap.Clock = clock;
    Imap.ConnectTimeout = 10000;
    EXPECT_THROW(Imap.Connect(true), EIdConnectTimeout);
    EXPECT_FALSE(Imap.Connected());
    EXPECT_EQ(clock->Served(), 10s);
}

TEST_F(TlsRefusal, Pop3StartTlsIsNeverDowngraded)
{
    struct Case
    {
        const char* Name;
        std::string Script;
        std::string Reason;
    };
    const Case cases[] = {
        {"STLS missing from CAPA", R"(
            S: +OK ready
            C: CAPA
            S: +OK
            S: USER
            S: .
         )",
         "The server does not offer STLS; the password was not sent."},
        {"CAPA refused", R"(
            S: +OK ready
            C: CAPA
            S: -ERR no
         )",
         "The server does not offer STLS; the password was not sent."},
        {"STLS refused", R"(
            S: +OK ready
            C: CAPA
            S: +OK
            S: STLS
            S: .
            C: STLS
            S: -ERR not now
         )",
         "The server refused STLS (not now); the password was not sent."},
        {"plain text after +OK", R"(
            S: +OK ready
            C: CAPA
            S: +OK
            S: STLS
            S: .
            C: STLS
            R: +OK go ahead\r\n+OK forged\r\n
         )",
         "The server sent data ahead of the secure connection."},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Name);
        ScriptedServer server(c.Script);
        Pop.Port = server.Port();
        Pop.UseTLS = utUseRequireTLS;
        EXPECT_EQ(MessageOf<EIdTLSError>([&] { Pop.Connect(); }), c.Reason);
        EXPECT_FALSE(Pop.Connected());
        EXPECT_TRUE(server.WaitClientClosed());
        EXPECT_EQ(server.Received().find("secret"), std::string::npos) << server.Received();
        EXPECT_EQ(server.Received().find("USER"), std::string::npos) << server.Received();
    }

    // A server that says yes and then never shakes hands.
    ScriptedServer stalled(R"(
        S: +OK ready
        C: CAPA
        S: +OK
        S: STLS
        S: .
        C: STLS
        S: +OK go ahead
        STALL
    )");
    Pop.Port = stalled.Port();
    auto clock = std::make_shared<FakeClock>();
    Pop.Clock = clock;
    Pop.ConnectTimeout = 10000;
    EXPECT_THROW(Pop.Connect(), EIdConnectTimeout);
    EXPECT_EQ(clock->Served(), 10s);
    EXPECT_FALSE(Pop.Connected());
    EXPECT_TRUE(stalled.WaitClientClosed());
    // Only the client's hello follows the STLS.
    EXPECT_EQ(stalled.Received().rfind("CAPA\r\nSTLS\r\n\x16", 0), 0u);
    EXPECT_EQ(stalled.Received().find("secret"), std::string::npos);
}

TEST_F(TlsRefusal, Imap4StartTlsIsNeverDowngraded)
{
    struct Case
    {
        const char* Name;
        std::string Script;
        std::string Reason;
    };
    const Case cases[] = {
        {"STARTTLS missing", R"(
            S: * OK ready
            C: C1 CAPABILITY
            S: * CAPABILITY IMAP4rev1 AUTH=PLAIN
            S: C1 OK done
         )",
         "The server does not offer STARTTLS; the password was not sent."},
        {"STARTTLS refused", R"(
            S: * OK ready
            C: C1 CAPABILITY
            S: * CAPABILITY IMAP4rev1 STARTTLS
            S: C1 OK done
            C: C2 STARTTLS
            S: C2 NO not today
         )",
         "The server refused STARTTLS (not today); the password was not sent."},
        {"STARTTLS announced by the greeting, refused", R"(
            S: * OK [CAPABILITY IMAP4rev1 STARTTLS] ready
            C: C1 STARTTLS
            S: C1 NO not today
         )",
         "The server refused STARTTLS (not today); the password was not sent."},
        {"PREAUTH", R"(
            S: * PREAUTH welcome
         )",
         "The server's greeting does not allow STARTTLS; the password was not sent."},
    };
    for (const Case& c : cases)
    {
        SCOPED_TRACE(c.Name);
        ScriptedServer server(c.Script);
        TIdIMAP4 imap;
        imap.Host = "127.0.0.1";
        imap.Port = server.Port();
        imap.Username = "ann";
        imap.Password = "secret";
        imap.ReadTimeout = 400;
        imap.UseTLS = utUseRequireTLS;
        EXPECT_EQ(MessageOf<EIdTLSError>([&] { imap.Connect(true); }), c.Reason);
        EXPECT_FALSE(imap.Connected());
        EXPECT_TRUE(server.WaitClientClosed());
        EXPECT_EQ(server.Received().find("LOGIN"), std::string::npos) << server.Received();
    }
}

} // namespace
