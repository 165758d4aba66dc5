#pragma once

#include "mail/IdIOHandlerStack.h"
#include "mail/IdTCPConnection.h"
#include "mail/MailTypes.h"

#include <memory>
#include <string>

struct ssl_ctx_st;
struct ssl_st;

// A socket handler that speaks TLS 1.2 or newer: the server's certificate
// chain is verified against the system's trust store (SSL_CERT_FILE and
// SSL_CERT_DIR are honoured) and its name checked against Host. Lines, blocks
// and bytes are read through the base class as over a plain socket, with the
// same read time-out.
//
// With PassThrough the connection starts in plain text and StartTLS turns it
// secure later (STLS, STARTTLS); without, the handshake is part of the
// connect and bounded by the same limit.
class TIdTlsIOHandler : public TIdIOHandlerStack
{
public:
    TIdTlsIOHandler();
    ~TIdTlsIOHandler() override;

    bool PassThrough = false;

    bool TlsActive() const { return FSsl != nullptr; }
    // Runs the handshake over the open socket. Bytes the server sent ahead
    // of it would be taken as if they had come secured, so they are refused.
    // Bounded by ConnectTimeout (when positive, else ReadTimeout).
    void StartTLS();

    bool WaitReadable(int milliseconds) override;
    void Close() noexcept override;

protected:
    void ConnectClient() override;
    void CloseSocket() noexcept override;
    int ReadDataFromSource(char* buffer, int size) override;
    int ReadDataWithin(char* buffer, int size, int milliseconds) override;
    int WriteDataToTarget(const char* bytes, int size) override;

private:
    struct TContextFree
    {
        void operator()(ssl_ctx_st* context) const noexcept;
    };
    struct TSslFree
    {
        void operator()(ssl_st* ssl) const noexcept;
    };

    void Handshake(int milliseconds);
    void DropSession() noexcept;
    // One SSL_read into FAhead; false when nothing came within the time.
    bool ReadAhead(int milliseconds);

    std::unique_ptr<ssl_ctx_st, TContextFree> FContext;
    std::unique_ptr<ssl_st, TSslFree> FSsl;
    // Plain bytes already taken out of the session.
    std::string FAhead;
    bool FAheadClosed = false;
};

// The text an error row shows for an OpenSSL verification result.
std::string TlsVerifyText(long verifyResult);

// Before a connect: installs a TLS handler on `connection` when `use` asks
// for TLS and it has none, and sets it to start plain (STARTTLS) or secure.
// With no TLS asked for, a TLS handler left from an earlier account is set
// to stay plain. Returns the TLS handler, or null.
TIdTlsIOHandler* PrepareTLSHandler(TIdTCPConnection& connection, TIdUseTLS use);
// True when `use` asks for no TLS, or the connection's line is secured.
bool LineSecureAsAsked(TIdTCPConnection& connection, TIdUseTLS use);
// True for the settings that negotiate TLS inside the plain session.
inline bool UsesStartTLS(TIdUseTLS use)
{
    return use == utUseRequireTLS || use == utUseExplicitTLS;
}
