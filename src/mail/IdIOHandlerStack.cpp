#include "mail/IdIOHandlerStack.h"

#include "mail/IdConnectThread.h"
#include "mail/IdExceptions.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

// ------------------------------------------------------------- TIdSocketHandle

TIdSocketHandle::~TIdSocketHandle()
{
    CloseSocket();
}

void TIdSocketHandle::CheckAborted() const
{
    if (FAbort && FAbort->Aborted())
        throw EIdLineAborted();
}

void TIdSocketHandle::AllocateSocket(int family)
{
    CloseSocket();
    FHandle = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    FReceiveLimit = -1;
    if (FHandle < 0)
        RaiseSocketErrorFromErrno(errno);
    if (FAbort && !FAbort->Attach(FHandle))
    {
        CloseSocket();
        throw EIdLineAborted();
    }
}

void TIdSocketHandle::Bind(const std::string& ip, int port, int family)
{
    // Any address and port 0 is what connect picks by itself; binding it
    // explicitly would only tie up an ephemeral port earlier.
    if (ip.empty() && port == 0)
        return;
    TIdSockAddr address;
    if (ip.empty())
    {
        if (family == AF_INET6)
        {
            auto* a = reinterpret_cast<sockaddr_in6*>(&address.Address);
            a->sin6_family = AF_INET6;
            a->sin6_addr = in6addr_any;
            a->sin6_port = htons(static_cast<uint16_t>(port));
            address.Length = sizeof(sockaddr_in6);
        }
        else
        {
            auto* a = reinterpret_cast<sockaddr_in*>(&address.Address);
            a->sin_family = AF_INET;
            a->sin_addr.s_addr = htonl(INADDR_ANY);
            a->sin_port = htons(static_cast<uint16_t>(port));
            address.Length = sizeof(sockaddr_in);
        }
    }
    else
    {
        address = ResolveHost(ip, port, family);
    }
    if (::bind(FHandle, reinterpret_cast<const sockaddr*>(&address.Address), address.Length) != 0)
        RaiseSocketErrorFromErrno(errno);
}

void TIdSocketHandle::SetNoDelay(bool noDelay)
{
    int value = noDelay ? 1 : 0;
    if (::setsockopt(FHandle, IPPROTO_TCP, TCP_NODELAY, &value, sizeof(value)) != 0)
        RaiseSocketErrorFromErrno(errno);
}

void TIdSocketHandle::SetKeepAlive(int seconds)
{
    constexpr int Probes = 6;
    // The most the system takes for the first probe.
    seconds = std::min(seconds, 32767);
    const int interval = std::max(seconds / Probes, 1);
    const unsigned userTimeout = static_cast<unsigned>(seconds + interval * Probes) * 1000u;
    const int on = 1;
    if (::setsockopt(FHandle, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on) != 0
        || ::setsockopt(FHandle, IPPROTO_TCP, TCP_KEEPIDLE, &seconds, sizeof seconds) != 0
        || ::setsockopt(FHandle, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval) != 0
        || ::setsockopt(FHandle, IPPROTO_TCP, TCP_KEEPCNT, &Probes, sizeof Probes) != 0
        // Probes are not sent while data waits for its acknowledgement: this
        // bounds that case the same.
        || ::setsockopt(FHandle, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeout, sizeof userTimeout) != 0)
        RaiseSocketErrorFromErrno(errno);
}

void TIdSocketHandle::Connect(const sockaddr* address, socklen_t length)
{
    if (::connect(FHandle, address, length) == 0)
        return;
    int err = errno;
    // An interrupted connect goes on in the background; wait for its end.
    while (err == EINTR || err == EINPROGRESS || err == EALREADY)
    {
        pollfd fd = {FHandle, POLLOUT, 0};
        int n = ::poll(&fd, 1, -1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
        {
            err = errno;
            break;
        }
        socklen_t len = sizeof(err);
        if (::getsockopt(FHandle, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
            err = errno;
    }
    if (err != 0)
        RaiseSocketErrorFromErrno(err);
}

int TIdSocketHandle::Recv(char* buffer, int size)
{
    for (;;)
    {
        ssize_t n = ::recv(FHandle, buffer, static_cast<std::size_t>(size), 0);
        if (n >= 0)
            return static_cast<int>(n);
        if (errno != EINTR)
            RaiseSocketErrorFromErrno(errno);
    }
}

int TIdSocketHandle::RecvNoWait(char* buffer, int size)
{
    for (;;)
    {
        ssize_t n = ::recv(FHandle, buffer, static_cast<std::size_t>(size), MSG_DONTWAIT);
        if (n >= 0)
            return static_cast<int>(n);
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return -1;
        if (errno != EINTR)
            RaiseSocketErrorFromErrno(errno);
    }
}

int TIdSocketHandle::RecvWithin(char* buffer, int size, int milliseconds, TIdClock& clock)
{
    if (milliseconds == 0)
        return RecvNoWait(buffer, size);
    const auto deadline = clock.After(std::max(milliseconds, 0));
    int left = milliseconds;
    for (;;)
    {
        // The kernel bounds the receive itself: one system call, as a bare
        // blocking receive makes.
        if (!SetReceiveLimit(clock.Block(left)) && !Readable(left, clock))
            return -1;
        ssize_t n = ::recv(FHandle, buffer, static_cast<std::size_t>(size), 0);
        if (n >= 0)
            return static_cast<int>(n);
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            RaiseSocketErrorFromErrno(errno);
        const bool interrupted = errno == EINTR;
        // The receive limit ran out. A socket left non-blocking answers the
        // same at once: the steady clock then shows time left for the poll
        // below, a test clock takes it as the limit run out.
        if (!interrupted)
            clock.WaitedOut(left);
        if (milliseconds > 0)
        {
            left = clock.Left(deadline);
            if (left <= 0)
                return -1;
        }
        // A socket left non-blocking answers at once; the limit decides.
        if (!interrupted && !Readable(left, clock))
            return -1;
    }
}

bool TIdSocketHandle::SetReceiveLimit(int milliseconds)
{
    if (milliseconds == FReceiveLimit)
        return true;
    timeval limit{};
    if (milliseconds > 0)
    {
        limit.tv_sec = milliseconds / 1000;
        limit.tv_usec = (milliseconds % 1000) * 1000;
    }
    if (::setsockopt(FHandle, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) != 0)
        return false;
    FReceiveLimit = milliseconds;
    return true;
}

int TIdSocketHandle::Send(const char* bytes, int size)
{
    for (;;)
    {
        // No SIGPIPE for a peer that is gone: the error is raised instead.
        ssize_t n = ::send(FHandle, bytes, static_cast<std::size_t>(size), MSG_NOSIGNAL);
        if (n >= 0)
            return static_cast<int>(n);
        if (errno != EINTR)
            RaiseSocketErrorFromErrno(errno);
    }
}

bool TIdSocketHandle::Readable(int milliseconds, TIdClock& clock)
{
    if (FHandle < 0)
        return false;
    const auto deadline = clock.After(std::max(milliseconds, 0));
    pollfd fd = {FHandle, POLLIN, 0};
    for (;;)
    {
        const int wait = milliseconds > 0 ? clock.Left(deadline) : std::max(milliseconds, -1);
        int n = ::poll(&fd, 1, clock.Block(wait));
        if (n > 0)
            return true; // errors and hang-ups are readable too: recv reports them
        if (n == 0)
        {
            clock.WaitedOut(wait);
            return false;
        }
        if (errno != EINTR)
            RaiseSocketErrorFromErrno(errno);
    }
}

void TIdSocketHandle::CloseSocket() noexcept
{
    if (FHandle >= 0)
    {
        if (FAbort)
            FAbort->Detach(FHandle);
        ::close(FHandle);
        FHandle = -1;
    }
}

TIdSockAddr ResolveHost(const std::string& host, int port, int family)
{
    addrinfo hints{};
    hints.ai_family = family;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    std::string service = std::to_string(port);
    int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (rc != 0)
        RaiseSocketError(SocketErrorFromLookup(rc, errno));
    std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> guard(found, &::freeaddrinfo);
    if (!found || found->ai_addrlen > sizeof(sockaddr_storage))
        RaiseSocketError(Id_WSAHOST_NOT_FOUND);
    TIdSockAddr result;
    std::memcpy(&result.Address, found->ai_addr, found->ai_addrlen);
    result.Length = found->ai_addrlen;
    return result;
}

// ---------------------------------------------------------- TIdIOHandlerSocket

TIdIOHandlerSocket::TIdIOHandlerSocket() = default;

TIdIOHandlerSocket::~TIdIOHandlerSocket() = default;

void TIdIOHandlerSocket::Open()
{
    TIdIOHandler::Open();
    if (FBinding)
        FBinding->CloseSocket();
    else
        FBinding = std::make_unique<TIdSocketHandle>();
    FBinding->SetLineAbort(LineAbort);
    if (!Host.empty() && Port > 0)
        ConnectClient();
}

void TIdIOHandlerSocket::Close() noexcept
{
    if (FBinding)
        FBinding->CloseSocket();
    TIdIOHandler::Close();
}

bool TIdIOHandlerSocket::SocketAllocated() const
{
    return FBinding && FBinding->HandleAllocated();
}

void TIdIOHandlerSocket::CloseSocket() noexcept
{
    if (FBinding)
        FBinding->CloseSocket();
}

// ----------------------------------------------------------- TIdIOHandlerStack

bool TIdIOHandlerStack::WaitReadable(int milliseconds)
{
    return FBinding && FBinding->Readable(milliseconds, TimeSource());
}

int TIdIOHandlerStack::ReadDataFromSource(char* buffer, int size)
{
    if (!SocketAllocated())
        throw EIdClosedSocket();
    return FBinding->Recv(buffer, size);
}

int TIdIOHandlerStack::ReadDataWithin(char* buffer, int size, int milliseconds)
{
    if (!SocketAllocated())
        throw EIdClosedSocket();
    return FBinding->RecvWithin(buffer, size, milliseconds, TimeSource());
}

int TIdIOHandlerStack::WriteDataToTarget(const char* bytes, int size)
{
    if (!SocketAllocated())
        throw EIdClosedSocket();
    return FBinding->Send(bytes, size);
}

void TIdIOHandlerStack::ConnectClient()
{
    int family = IPVersion == Id_IPv6 ? AF_INET6 : AF_INET;
    FBinding->AllocateSocket(family);
    FBinding->Bind(BoundIP, BoundPort, family);
    if (!UseNagle)
        FBinding->SetNoDelay(true);
    if (KeepAlive > 0)
        FBinding->SetKeepAlive(KeepAlive);
    // Name lookup stays outside the connect time-out.
    DoStatus(hsResolving, "Resolving hostname " + Host + ".");
    TIdSockAddr address = ResolveHost(Host, Port, family);
    // A socket not yet connecting ignores a shutdown: an abort during the
    // lookup is seen here.
    FBinding->CheckAborted();
    DoStatus(hsConnecting, "Connecting to " + Host + ".");
    if (ConnectTimeout == 0)
        FBinding->Connect(reinterpret_cast<const sockaddr*>(&address.Address), address.Length);
    else
        ConnectWithTimeout(address);
}

namespace
{

// Starts a connect without waiting for it. Returns 0 when it is already
// made, an errno value when it already failed, and -1 when it is still
// under way. The socket is left blocking.
int ConnectAtOnce(int socket, const TIdSockAddr& address)
{
    const int flags = ::fcntl(socket, F_GETFL);
    if (flags < 0 || ::fcntl(socket, F_SETFL, flags | O_NONBLOCK) != 0)
        return errno;
    int err = ::connect(socket, reinterpret_cast<const sockaddr*>(&address.Address), address.Length) == 0 ? 0 : errno;
    if (err == EINPROGRESS || err == EINTR)
    {
        pollfd fd = {socket, POLLOUT, 0};
        if (::poll(&fd, 1, 0) > 0)
        {
            socklen_t len = sizeof(err);
            if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
                err = errno;
        }
        else
            err = -1;
    }
    // Reads and writes after the connect block as usual.
    ::fcntl(socket, F_SETFL, flags);
    return err;
}

} // namespace

void TIdIOHandlerStack::ConnectWithTimeout(const TIdSockAddr& address)
{
    constexpr int Slice = 125;
    const bool unlimited = ConnectTimeout < 0;
    // A near server answers (or refuses) within the connect call: only a
    // connect still under way needs the thread that bounds the wait.
    const int early = ConnectAtOnce(FBinding->Handle(), address);
    // From here a shutdown reaches the connect; one that came before it is
    // seen now.
    FBinding->CheckAborted();
    if (early == 0)
        return;
    if (early > 0)
        RaiseSocketErrorFromErrno(early);
    TIdClock& clock = TimeSource();
    const auto deadline = clock.After(std::max(ConnectTimeout, 0));
    TIdConnectThread thread(FBinding->Handle(), reinterpret_cast<const sockaddr*>(&address.Address), address.Length,
                            true);
    for (;;)
    {
        // Without a limit the wait goes on in slices until the connect ends.
        const int wait = unlimited ? Slice : clock.Left(deadline);
        if (wait <= 0 || thread.WaitFinished(clock.Block(wait)))
            break;
        clock.WaitedOut(wait);
    }
    if (!thread.Finished())
    {
        // Stop the thread before the socket goes, so its descriptor number
        // cannot be reused under it.
        thread.Terminate();
        thread.WaitFor();
        FBinding->CloseSocket();
        throw EIdConnectTimeout();
    }
    thread.WaitFor();
    if (thread.LastError() != 0)
        RaiseSocketError(thread.LastError());
    if (!thread.ErrorMessage().empty())
        throw EIdConnectException(thread.ErrorMessage());
}
