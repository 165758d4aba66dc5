#include "mail/IdIOHandler.h"

#include "mail/IdConnectThread.h"
#include "mail/IdExceptions.h"
#include "platform/AsciiText.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

// ---------------------------------------------------------------- TIdIOHandler

TIdIOHandler::TIdIOHandler() = default;

TIdIOHandler::~TIdIOHandler() = default;

void TIdIOHandler::DoStatus(TIdStatus status, const std::string& text)
{
    if (OnStatus)
        OnStatus(status, text);
}

void TIdIOHandler::Open()
{
    FIsOpen = false;
    FPeerClosed = false;
    FRecvBuffer.assign(static_cast<std::size_t>(std::max(RecvBufferSize, 1)), 0);
    FInputBuffer.Clear();
    FHasDeadline = OperationTimeout > 0;
    if (FHasDeadline)
        FDeadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(OperationTimeout);
    FIsOpen = true;
}

void TIdIOHandler::Close() noexcept
{
    FIsOpen = false;
}

void TIdIOHandler::CheckForDisconnect(bool raiseIfDisconnected, bool ignoreBuffer)
{
    if (FPeerClosed && SocketAllocated())
    {
        CloseSocket();
        DoStatus(hsDisconnected, "Disconnected.");
    }
    bool gone = FPeerClosed || !SocketAllocated();
    if (gone && raiseIfDisconnected && (ignoreBuffer || FInputBuffer.Empty()))
        throw EIdConnClosedGracefully();
}

int TIdIOHandler::ReceiveChunk(bool raiseIfDisconnected, int timeout, bool raiseOnTimeout)
{
    if (timeout == -1)
        timeout = ReadTimeout > 0 ? ReadTimeout : -1;
    else if (timeout < -1)
        timeout = -1;
    CheckForDisconnect(raiseIfDisconnected, false);
    if (!SocketAllocated())
    {
        if (raiseIfDisconnected)
            throw EIdException("Not Connected");
        return 0;
    }
    int count = 0;
    do
    {
        // A wait shortened by the session's deadline raises rather than
        // returning a time-out: the whole session is over, not one read.
        bool deadlineWait = false;
        if (FHasDeadline && timeout != 0)
        {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                FDeadline - std::chrono::steady_clock::now()).count();
            if (left <= 0)
                throw EIdOperationTimeout();
            if (timeout < 0 || left < timeout)
            {
                timeout = static_cast<int>(left);
                deadlineWait = true;
            }
        }
        int size = static_cast<int>(std::min<std::size_t>(FRecvBuffer.size(),
                                                          static_cast<std::size_t>(std::max(RecvBufferSize, 1))));
        // One receive that waits at most the limit, as a bare blocking
        // receive would: no wait of its own before it.
        count = ReadDataWithin(FRecvBuffer.data(), size, timeout);
        if (count == NothingYet)
        {
            if (deadlineWait)
                throw EIdOperationTimeout();
            if (raiseOnTimeout)
                throw EIdReadTimeout();
            return -1;
        }
        if (count > 0)
            FInputBuffer.Write(FRecvBuffer.data(), static_cast<std::size_t>(count));
        else
            FPeerClosed = true;
        CheckForDisconnect(raiseIfDisconnected, false);
    } while (count == 0 && SocketAllocated());
    return count;
}

int TIdIOHandler::ReadDataWithin(char* buffer, int size, int milliseconds)
{
    if (milliseconds >= 0 && !WaitReadable(milliseconds))
        return NothingYet;
    return ReadDataFromSource(buffer, size);
}

bool TIdIOHandler::Connected()
{
    try
    {
        ReceiveChunk(false, 0, false);
    }
    catch (const EIdException&)
    {
        // A reset found by the poll: the connection is over, not the query.
        if (SocketAllocated())
        {
            CloseSocket();
            DoStatus(hsDisconnected, "Disconnected.");
        }
    }
    bool live = SocketAllocated() && FIsOpen && !(FPeerClosed && FInputBuffer.Empty());
    return live || !FInputBuffer.Empty();
}

void TIdIOHandler::Write(const std::string& bytes)
{
    CheckForDisconnect(true, true);
    std::size_t sent = 0;
    while (sent < bytes.size())
    {
        int chunk = static_cast<int>(std::min<std::size_t>(bytes.size() - sent, 1u << 30));
        int n = WriteDataToTarget(bytes.data() + sent, chunk);
        if (n <= 0)
        {
            FPeerClosed = true;
            CheckForDisconnect(true, false);
            // Bytes still queued: the peer is gone all the same.
            throw EIdConnClosedGracefully();
        }
        sent += static_cast<std::size_t>(n);
    }
}

void TIdIOHandler::WriteLine(const std::string& text)
{
    std::string line;
    line.reserve(text.size() + 2);
    line.append(text).append("\r\n");
    Write(line);
}

std::string TIdIOHandler::ReadLine(const std::string& terminator, int timeout, int maxLength)
{
    static const std::string LF("\n");
    const std::string& term = terminator.empty() ? LF : terminator;
    if (maxLength < 0)
        maxLength = MaxLineLength;
    FLastReadSplit = false;
    FLastReadTimedOut = false;
    std::chrono::steady_clock::time_point start;
    if (timeout >= 0)
        start = std::chrono::steady_clock::now();
    std::size_t searchFrom = 0;
    long pos;
    for (;;)
    {
        pos = FInputBuffer.IndexOf(term, searchFrom);
        std::size_t size = FInputBuffer.Size();
        if (maxLength > 0 && ((pos >= 0 && pos > maxLength) || (pos < 0 && size > static_cast<std::size_t>(maxLength))))
        {
            if (MaxLineAction == maException)
                throw EIdReadLnMaxLineLengthExceeded();
            FLastReadSplit = true;
            return FInputBuffer.Extract(static_cast<std::size_t>(maxLength));
        }
        if (pos >= 0)
            break;
        // Resume where this search stopped; a terminator may straddle the end.
        searchFrom = size >= term.size() ? size - term.size() + 1 : 0;
        CheckForDisconnect(true, true);
        int received = ReceiveChunk(true, timeout, false);
        if (received == -1)
        {
            FLastReadTimedOut = true;
            return {};
        }
        if (timeout >= 0)
        {
            auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
            if (elapsed.count() >= timeout)
            {
                FLastReadTimedOut = true;
                return {};
            }
        }
    }
    std::string line = FInputBuffer.Extract(static_cast<std::size_t>(pos));
    FInputBuffer.Remove(term.size());
    if (term == "\n" && !line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

std::string TIdIOHandler::ReadLineOrTimeout()
{
    std::string line = ReadLine();
    if (FLastReadTimedOut)
        throw EIdReadTimeout();
    return line;
}

std::string TIdIOHandler::ReadLineSkippingBlanks(int attempts)
{
    for (int i = 0; i < attempts; ++i)
    {
        std::string line = ReadLineOrTimeout();
        AsciiText::TrimInPlace(line);
        if (!line.empty())
            return line;
    }
    return {};
}

void TIdIOHandler::ReadDotTerminated(TIdStrings& lines)
{
    int count = 0;
    std::size_t bytes = 0;
    for (;;)
    {
        std::string line = ReadLineOrTimeout();
        if (line == ".")
            return;
        if (line.size() >= 2 && line[0] == '.' && line[1] == '.')
            line.erase(0, 1);
        bytes += line.size();
        if (++count > MaxReplyLines || bytes > MaxReplyBytes)
            throw EIdReplyTooLarge();
        lines.push_back(std::move(line));
    }
}

std::string TIdIOHandler::ReadExactBytes(int count)
{
    if (count <= 0)
        return {};
    std::size_t wanted = static_cast<std::size_t>(count);
    std::string result = FInputBuffer.Extract(wanted);
    while (result.size() < wanted && Connected())
    {
        std::size_t chunk = std::min(wanted - result.size(), static_cast<std::size_t>(std::max(RecvBufferSize, 1)));
        while (FInputBuffer.Size() < chunk && SocketAllocated())
            ReceiveChunk(true, -1, true);
        result += FInputBuffer.Extract(chunk);
    }
    return result;
}

// ------------------------------------------------------------- TIdSocketHandle

TIdSocketHandle::~TIdSocketHandle()
{
    CloseSocket();
}

void TIdSocketHandle::AllocateSocket(int family)
{
    CloseSocket();
    FHandle = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    FReceiveLimit = -1;
    if (FHandle < 0)
        RaiseSocketErrorFromErrno(errno);
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

int TIdSocketHandle::RecvWithin(char* buffer, int size, int milliseconds)
{
    if (milliseconds == 0)
        return RecvNoWait(buffer, size);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(milliseconds, 0));
    int left = milliseconds;
    for (;;)
    {
        // The kernel bounds the receive itself: one system call, as a bare
        // blocking receive makes.
        if (!SetReceiveLimit(left) && !Readable(left))
            return -1;
        ssize_t n = ::recv(FHandle, buffer, static_cast<std::size_t>(size), 0);
        if (n >= 0)
            return static_cast<int>(n);
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            RaiseSocketErrorFromErrno(errno);
        if (milliseconds > 0)
        {
            left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        deadline - std::chrono::steady_clock::now()).count());
            if (left <= 0)
                return -1;
        }
        // A socket left non-blocking answers at once; the limit decides.
        if (errno != EINTR && !Readable(left))
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

bool TIdSocketHandle::Readable(int milliseconds)
{
    if (FHandle < 0)
        return false;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(milliseconds, 0));
    pollfd fd = {FHandle, POLLIN, 0};
    for (;;)
    {
        int wait = milliseconds;
        if (milliseconds > 0)
        {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            wait = static_cast<int>(std::max<long long>(left.count(), 0));
        }
        int n = ::poll(&fd, 1, milliseconds < 0 ? -1 : wait);
        if (n > 0)
            return true; // errors and hang-ups are readable too: recv reports them
        if (n == 0)
            return false;
        if (errno != EINTR)
            RaiseSocketErrorFromErrno(errno);
    }
}

void TIdSocketHandle::CloseSocket() noexcept
{
    if (FHandle >= 0)
    {
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
    return FBinding && FBinding->Readable(milliseconds);
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
    return FBinding->RecvWithin(buffer, size, milliseconds);
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
    // Name lookup stays outside the connect time-out.
    DoStatus(hsResolving, "Resolving hostname " + Host + ".");
    TIdSockAddr address = ResolveHost(Host, Port, family);
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
    bool unlimited = ConnectTimeout < 0;
    // A near server answers (or refuses) within the connect call: only a
    // connect still under way needs the thread that bounds the wait.
    const int early = ConnectAtOnce(FBinding->Handle(), address);
    if (early == 0)
        return;
    if (early > 0)
        RaiseSocketErrorFromErrno(early);
    TIdConnectThread thread(FBinding->Handle(), reinterpret_cast<const sockaddr*>(&address.Address), address.Length,
                            true);
    int remaining = unlimited ? Slice + 1 : ConnectTimeout;
    while (remaining > Slice)
    {
        if (thread.WaitFinished(Slice))
        {
            remaining = 0;
            break;
        }
        if (!unlimited)
            remaining -= Slice;
    }
    if (remaining > 0)
        thread.WaitFinished(remaining);
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
