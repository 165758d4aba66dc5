#include "support/Loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

namespace
{
sockaddr_in LoopbackAddress(int port)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    return addr;
}
}

SocketFd::~SocketFd()
{
    if (Value >= 0)
        ::close(Value);
}

LoopbackListener::LoopbackListener(int backlog) : FListen(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0))
{
    sockaddr_in addr = LoopbackAddress(0);
    socklen_t len = sizeof addr;
    if (FListen.Value >= 0 && ::bind(FListen.Value, reinterpret_cast<sockaddr*>(&addr), len) == 0
        && ::listen(FListen.Value, backlog) == 0
        && ::getsockname(FListen.Value, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        FPort = ntohs(addr.sin_port);
}

SilentListener::SilentListener()
{
    if (!FListener.Listening())
        return;
    const sockaddr_in addr = LoopbackAddress(FListener.Port());
    for (int i = 0; i < 8; ++i)
    {
        FFillers.emplace_back(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
        if (::connect(FFillers.back().Value, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0)
            continue;
        pollfd p{FFillers.back().Value, POLLOUT, 0};
        if (::poll(&p, 1, 300) == 0)
        {
            FSilent = true; // this one hangs: the queue is full
            return;
        }
    }
}

int ConnectionsTo(uint16_t port)
{
    int count = 0;
    std::ifstream tcp("/proc/net/tcp");
    std::string line;
    std::getline(tcp, line);
    while (std::getline(tcp, line))
    {
        std::istringstream fields(line);
        std::string slot, local, remote, state;
        fields >> slot >> local >> remote >> state;
        const std::size_t colon = remote.find(':');
        if (colon != std::string::npos && std::stoul(remote.substr(colon + 1), nullptr, 16) == port && state == "01")
            ++count;
    }
    return count;
}

std::optional<std::string> ExchangeOnLoopback(int port, const std::string& request)
{
    SocketFd s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const sockaddr_in address = LoopbackAddress(port);
    if (s.Value < 0 || ::connect(s.Value, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
        return std::nullopt;
    ::send(s.Value, request.data(), request.size(), MSG_NOSIGNAL);
    std::string answer;
    char chunk[4096];
    pollfd p{s.Value, POLLIN, 0};
    while (::poll(&p, 1, 10000) > 0)
    {
        const ssize_t n = ::recv(s.Value, chunk, sizeof chunk, 0);
        if (n <= 0)
            break;
        answer.append(chunk, static_cast<std::size_t>(n));
    }
    return answer;
}
