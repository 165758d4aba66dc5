#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A socket descriptor, closed with the object.
class SocketFd
{
public:
    explicit SocketFd(int fd = -1) : Value(fd) {}
    ~SocketFd();
    SocketFd(SocketFd&& other) noexcept : Value(other.Value) { other.Value = -1; }
    SocketFd(const SocketFd&) = delete;
    SocketFd& operator=(const SocketFd&) = delete;
    SocketFd& operator=(SocketFd&&) = delete;

    int Value;
};

// A TCP listener on 127.0.0.1 at a port the system picks, never accepted
// from: the kernel completes connects into its queue, and nothing is ever
// said on them.
class LoopbackListener
{
public:
    explicit LoopbackListener(int backlog = 4);
    // False when the listener could not be set up.
    bool Listening() const { return FPort != 0; }
    int Port() const { return FPort; }

private:
    SocketFd FListen;
    int FPort = 0;
};

// A loopback listener whose queue is full: a further connect gets no answer
// at all and hangs. Not every kernel leaves it hanging; Silent() tells.
class SilentListener
{
public:
    SilentListener();
    bool Silent() const { return FSilent; }
    int Port() const { return FListener.Port(); }

private:
    LoopbackListener FListener{0};
    std::vector<SocketFd> FFillers;
    bool FSilent = false;
};

// Connections in the established state to a port on this machine, as the
// kernel lists them: the lines of /proc/net/tcp whose remote port it is.
int ConnectionsTo(uint16_t port);

// `request` sent to 127.0.0.1:`port` on a connection of its own, and what
// comes back until the peer closes (or is quiet for 10 s); none when the
// connect fails.
std::optional<std::string> ExchangeOnLoopback(int port, const std::string& request);
