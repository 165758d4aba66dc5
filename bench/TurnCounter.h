#pragma once

// Counts the round trips of a mail session: a relay between the client and
// the server, which the benchmarks aim their accounts at.

#include "CheckTiming.h"

#include <atomic>
#include <cstdint>
#include <stdexcept>
#include <thread>

#include <poll.h>

// A relay on a loopback port of its own to `upstream`, for one connection at
// a time. It counts round trips: each time the client speaks after the server
// did (the greeting counts as the server's first words).
class TTurnCounter
{
public:
    explicit TTurnCounter(uint16_t upstream) : FUpstream(upstream)
    {
        FListen = ListenOnLoopback(FPort, 1);
        FThread = std::thread([this] { Serve(); });
    }
    ~TTurnCounter()
    {
        ::shutdown(FListen, SHUT_RDWR);
        FThread.join();
        ::close(FListen);
    }
    TTurnCounter(const TTurnCounter&) = delete;
    TTurnCounter& operator=(const TTurnCounter&) = delete;

    uint16_t Port() const { return FPort; }
    // Round trips of the last connection, once it has closed; -1 before.
    int Turns() const { return FTurns.load(); }

private:
    void Serve()
    {
        for (;;)
        {
            const int client = ::accept(FListen, nullptr, nullptr);
            if (client < 0)
                return;
            FTurns = -1;
            Relay(client);
            ::close(client);
        }
    }

    void Relay(int client)
    {
        const int server = ConnectLoopback(FUpstream);
        if (server < 0)
            return;
        int turns = 0;
        bool serverSpoke = false;
        pollfd fds[2] = {{client, POLLIN, 0}, {server, POLLIN, 0}};
        char chunk[65536];
        for (bool open = true; open;)
        {
            if (::poll(fds, 2, -1) < 0)
                break;
            for (int side = 0; side < 2 && open; ++side)
            {
                if (!(fds[side].revents & (POLLIN | POLLHUP | POLLERR)))
                    continue;
                const ssize_t got = ::recv(fds[side].fd, chunk, sizeof chunk, 0);
                if (got <= 0 || ::send(fds[1 - side].fd, chunk, static_cast<std::size_t>(got), MSG_NOSIGNAL) != got)
                {
                    open = false;
                    break;
                }
                if (side == 1)
                    serverSpoke = true;
                else if (serverSpoke)
                {
                    ++turns;
                    serverSpoke = false;
                }
            }
        }
        ::close(server);
        FTurns = turns;
    }

    uint16_t FUpstream;
    int FListen = -1;
    uint16_t FPort = 0;
    std::atomic<int> FTurns{-1};
    std::thread FThread;
};
