#include "mail/TlsIOHandler.h"

#include "mail/IdExceptions.h"
#include "mail/OpenSsl.h"


#include <algorithm>
#include <cerrno>

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>

namespace
{

// Waits for `events` on `fd` until `deadline` on `clock`, or without limit.
bool WaitFor(int fd, short events, TIdClock& clock, bool limited, TIdClock::TTimePoint deadline)
{
    pollfd entry{fd, events, 0};
    for (;;)
    {
        const int wait = limited ? clock.Left(deadline) : -1;
        int n = ::poll(&entry, 1, clock.Block(wait));
        if (n > 0)
            return true;
        if (n == 0)
        {
            clock.WaitedOut(wait);
            return false;
        }
        if (errno != EINTR)
            RaiseSocketErrorFromErrno(errno);
    }
}

std::string OpenSslReason()
{
    unsigned long code = OpenSsl().ERR_peek_last_error();
    OpenSsl().ERR_clear_error();
    if (code == 0)
        return "unknown reason";
    const char* reason = OpenSsl().ERR_reason_error_string(code);
    return reason ? reason : "unknown reason";
}

// The socket BIO writes with write(2), and a peer that is gone would raise
// SIGPIPE in the whole process; this one sends with MSG_NOSIGNAL instead.
int BioWrite(BIO* bio, const char* bytes, int size)
{
    OpenSsl().BIO_clear_flags(bio, BIO_FLAGS_RWS | BIO_FLAGS_SHOULD_RETRY);
    int fd = static_cast<int>(reinterpret_cast<intptr_t>(OpenSsl().BIO_get_data(bio)));
    for (;;)
    {
        ssize_t n = ::send(fd, bytes, static_cast<std::size_t>(size), MSG_NOSIGNAL);
        if (n >= 0)
            return static_cast<int>(n);
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            OpenSsl().BIO_set_flags(bio, BIO_FLAGS_WRITE | BIO_FLAGS_SHOULD_RETRY);
        return -1;
    }
}

int BioRead(BIO* bio, char* buffer, int size)
{
    OpenSsl().BIO_clear_flags(bio, BIO_FLAGS_RWS | BIO_FLAGS_SHOULD_RETRY);
    int fd = static_cast<int>(reinterpret_cast<intptr_t>(OpenSsl().BIO_get_data(bio)));
    for (;;)
    {
        ssize_t n = ::recv(fd, buffer, static_cast<std::size_t>(size), 0);
        if (n >= 0)
            return static_cast<int>(n);
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            OpenSsl().BIO_set_flags(bio, BIO_FLAGS_READ | BIO_FLAGS_SHOULD_RETRY);
        return -1;
    }
}

long BioCtrl(BIO*, int command, long, void*)
{
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int BioCreate(BIO* bio)
{
    OpenSsl().BIO_set_init(bio, 1);
    return 1;
}

const BIO_METHOD* SocketMethod()
{
    static BIO_METHOD* method = [] {
        BIO_METHOD* m = OpenSsl().BIO_meth_new(OpenSsl().BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "ternbell socket");
        OpenSsl().BIO_meth_set_write(m, BioWrite);
        OpenSsl().BIO_meth_set_read(m, BioRead);
        OpenSsl().BIO_meth_set_ctrl(m, BioCtrl);
        OpenSsl().BIO_meth_set_create(m, BioCreate);
        return m;
    }();
    return method;
}

bool IsAddressLiteral(const std::string& host)
{
    unsigned char address[16];
    return inet_pton(AF_INET, host.c_str(), address) == 1 || inet_pton(AF_INET6, host.c_str(), address) == 1;
}

} // namespace

std::string TlsVerifyText(long verifyResult)
{
    switch (verifyResult)
    {
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return "The server's certificate has expired.";
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return "The server's certificate is not valid yet.";
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return "The server's certificate was issued for another host name.";
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        return "The server's certificate is self-signed and not trusted.";
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        return "The server's certificate was issued by an unknown authority.";
    case X509_V_ERR_CERT_REVOKED:
        return "The server's certificate has been revoked.";
    default:
        return std::string("The server's certificate could not be verified: ")
               + OpenSsl().X509_verify_cert_error_string(verifyResult) + ".";
    }
}

void TIdTlsIOHandler::TContextFree::operator()(ssl_ctx_st* context) const noexcept
{
    OpenSsl().SSL_CTX_free(context);
}

void TIdTlsIOHandler::TSslFree::operator()(ssl_st* ssl) const noexcept
{
    OpenSsl().SSL_free(ssl);
}

TIdTlsIOHandler::TIdTlsIOHandler() = default;

TIdTlsIOHandler::~TIdTlsIOHandler()
{
    DropSession();
}

void TIdTlsIOHandler::DropSession() noexcept
{
    // A close_notify is only sent over a session that is up and still has
    // its socket; the socket may already be gone (and its number reused).
    if (FSsl)
    {
        // Loaded already: the session was made with it.
        const TOpenSsl& ssl = OpenSsl();
        if (SocketAllocated() && !FAheadClosed && ssl.SSL_is_init_finished(FSsl.get()))
            ssl.SSL_shutdown(FSsl.get());
        ssl.ERR_clear_error();
        FSsl.reset();
    }
    FAhead.clear();
    FAheadClosed = false;
}

void TIdTlsIOHandler::Close() noexcept
{
    DropSession();
    TIdIOHandlerStack::Close();
}

void TIdTlsIOHandler::CloseSocket() noexcept
{
    DropSession();
    TIdIOHandlerStack::CloseSocket();
}

void TIdTlsIOHandler::ConnectClient()
{
    // The socket was closed under any earlier session by Open already.
    FSsl.reset();
    FAhead.clear();
    FAheadClosed = false;
    TIdClock& clock = TimeSource();
    const auto end = clock.After(std::max(ConnectTimeout, 0));
    TIdIOHandlerStack::ConnectClient();
    if (PassThrough)
        return;
    int limit = -1;
    if (ConnectTimeout > 0)
        limit = std::max(clock.Left(end), 1);
    else if (ReadTimeout > 0)
        limit = ReadTimeout;
    Handshake(limit);
}

void TIdTlsIOHandler::StartTLS()
{
    if (FSsl)
        return;
    if (!SocketAllocated())
        throw EIdClosedSocket();
    if (!InputBuffer().Empty())
    {
        InputBuffer().Clear();
        CloseSocket();
        throw EIdTLSError("The server sent data ahead of the secure connection.");
    }
    Handshake(ConnectTimeout > 0 ? ConnectTimeout : (ReadTimeout > 0 ? ReadTimeout : -1));
}

void TIdTlsIOHandler::Handshake(int milliseconds)
{
    OpenSsl().ERR_clear_error();
    if (!FContext)
    {
        FContext.reset(OpenSsl().SSL_CTX_new(OpenSsl().TLS_client_method()));
        if (!FContext)
            throw EIdTLSError("The secure connection could not be prepared: " + OpenSslReason());
        OpenSsl().SSL_CTX_ctrl(FContext.get(), SSL_CTRL_SET_MIN_PROTO_VERSION, TLS1_2_VERSION, nullptr);
        // The system's store, or SSL_CERT_FILE / SSL_CERT_DIR when set.
        OpenSsl().SSL_CTX_set_default_verify_paths(FContext.get());
        OpenSsl().SSL_CTX_set_verify(FContext.get(), SSL_VERIFY_PEER, nullptr);
        // Both protocols end their answers themselves; a peer that drops the
        // line without a close_notify is taken as closed, as over a socket.
        OpenSsl().SSL_CTX_set_options(FContext.get(), SSL_OP_IGNORE_UNEXPECTED_EOF);
    }
    FSsl.reset(OpenSsl().SSL_new(FContext.get()));
    BIO* bio = FSsl ? OpenSsl().BIO_new(SocketMethod()) : nullptr;
    if (!bio)
    {
        FSsl.reset();
        throw EIdTLSError("The secure connection could not be prepared: " + OpenSslReason());
    }
    const int fd = FBinding->Handle();
    OpenSsl().BIO_set_data(bio, reinterpret_cast<void*>(static_cast<intptr_t>(fd)));
    OpenSsl().SSL_set_bio(FSsl.get(), bio, bio);
    if (IsAddressLiteral(Host))
        OpenSsl().X509_VERIFY_PARAM_set1_ip_asc(OpenSsl().SSL_get0_param(FSsl.get()), Host.c_str());
    else
    {
        OpenSsl().SSL_ctrl(FSsl.get(), SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                           const_cast<char*>(Host.c_str()));
        OpenSsl().SSL_set_hostflags(FSsl.get(), X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        OpenSsl().SSL_set1_host(FSsl.get(), Host.c_str());
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);

    TIdClock& clock = TimeSource();
    const bool limited = milliseconds >= 0;
    const auto deadline = clock.After(std::max(milliseconds, 0));
    for (;;)
    {
        OpenSsl().ERR_clear_error();
        int rc = OpenSsl().SSL_connect(FSsl.get());
        if (rc == 1)
            break;
        int error = OpenSsl().SSL_get_error(FSsl.get(), rc);
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE)
        {
            if ((!limited || clock.Left(deadline) > 0)
                && WaitFor(fd, error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, clock, limited, deadline))
                continue;
            CloseSocket();
            throw EIdConnectTimeout();
        }
        const long verify = OpenSsl().SSL_get_verify_result(FSsl.get());
        const std::string reason = OpenSslReason();
        CloseSocket();
        if (verify != X509_V_OK)
            throw EIdTLSCertificateError(TlsVerifyText(verify), verify);
        if (error == SSL_ERROR_SYSCALL || error == SSL_ERROR_ZERO_RETURN)
            throw EIdTLSError("The server closed the connection during the secure handshake.");
        throw EIdTLSError("The secure connection could not be established: " + reason + ".");
    }
}

bool TIdTlsIOHandler::ReadAhead(int milliseconds)
{
    TIdClock& clock = TimeSource();
    const bool limited = milliseconds >= 0;
    const auto deadline = clock.After(std::max(milliseconds, 0));
    char chunk[16384];
    for (;;)
    {
        OpenSsl().ERR_clear_error();
        errno = 0;
        int n = OpenSsl().SSL_read(FSsl.get(), chunk, sizeof chunk);
        if (n > 0)
        {
            FAhead.append(chunk, static_cast<std::size_t>(n));
            return true;
        }
        int error = OpenSsl().SSL_get_error(FSsl.get(), n);
        if (error == SSL_ERROR_ZERO_RETURN)
        {
            FAheadClosed = true;
            return true;
        }
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE)
        {
            // A readable socket may carry only part of a record, or a
            // record without data (a session ticket): wait again.
            if (!WaitFor(FBinding->Handle(), error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, clock, limited,
                         deadline))
                return false;
            continue;
        }
        if (error == SSL_ERROR_SYSCALL && errno != 0)
            RaiseSocketErrorFromErrno(errno);
        if (error == SSL_ERROR_SYSCALL)
        {
            FAheadClosed = true;
            return true;
        }
        throw EIdTLSError("The secure connection broke: " + OpenSslReason() + ".");
    }
}

bool TIdTlsIOHandler::WaitReadable(int milliseconds)
{
    if (!FSsl)
        return TIdIOHandlerStack::WaitReadable(milliseconds);
    if (!FAhead.empty() || FAheadClosed)
        return true;
    return ReadAhead(milliseconds);
}

int TIdTlsIOHandler::ReadDataFromSource(char* buffer, int size)
{
    if (!FSsl)
        return TIdIOHandlerStack::ReadDataFromSource(buffer, size);
    if (FAhead.empty() && !FAheadClosed)
        ReadAhead(-1);
    if (FAhead.empty())
        return 0;
    const std::size_t count = std::min<std::size_t>(FAhead.size(), static_cast<std::size_t>(std::max(size, 0)));
    FAhead.copy(buffer, count);
    FAhead.erase(0, count);
    return static_cast<int>(count);
}

int TIdTlsIOHandler::ReadDataWithin(char* buffer, int size, int milliseconds)
{
    if (!FSsl)
        return TIdIOHandlerStack::ReadDataWithin(buffer, size, milliseconds);
    // Plain bytes already taken out of the session go at once; anything
    // else is read by WaitReadable, which tries the session before it waits.
    return TIdIOHandler::ReadDataWithin(buffer, size, milliseconds);
}

int TIdTlsIOHandler::WriteDataToTarget(const char* bytes, int size)
{
    if (!FSsl)
        return TIdIOHandlerStack::WriteDataToTarget(bytes, size);
    for (;;)
    {
        OpenSsl().ERR_clear_error();
        errno = 0;
        int n = OpenSsl().SSL_write(FSsl.get(), bytes, size);
        if (n > 0)
            return n;
        int error = OpenSsl().SSL_get_error(FSsl.get(), n);
        if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE)
        {
            WaitFor(FBinding->Handle(), error == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT, TimeSource(), false, {});
            continue;
        }
        if (error == SSL_ERROR_SYSCALL && errno != 0)
            RaiseSocketErrorFromErrno(errno);
        if (error == SSL_ERROR_ZERO_RETURN || error == SSL_ERROR_SYSCALL)
            return 0;
        throw EIdTLSError("The secure connection broke: " + OpenSslReason() + ".");
    }
}

TIdTlsIOHandler* PrepareTLSHandler(TIdTCPConnection& connection, TIdUseTLS use)
{
    auto* tls = dynamic_cast<TIdTlsIOHandler*>(connection.IOHandler());
    if (use == utNoTLSSupport)
    {
        if (tls)
            tls->PassThrough = true;
        return tls;
    }
    if (!tls)
    {
        auto handler = std::make_unique<TIdTlsIOHandler>();
        tls = handler.get();
        connection.SetIOHandler(std::move(handler));
    }
    tls->PassThrough = use != utUseImplicitTLS;
    return tls;
}

bool LineSecureAsAsked(TIdTCPConnection& connection, TIdUseTLS use)
{
    if (use == utNoTLSSupport)
        return true;
    auto* tls = dynamic_cast<TIdTlsIOHandler*>(connection.IOHandler());
    return tls && tls->TlsActive();
}
