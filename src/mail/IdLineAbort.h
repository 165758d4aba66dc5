#pragma once

#include <mutex>

// Lets another thread end a connection's traffic at once: the socket
// attached to it is shut down by Abort, so a receive, a send, a poll or a
// connect blocked on it returns, and no socket can be attached after it.
// The descriptor is detached under the same lock before it is closed, so
// Abort never reaches a number the system has handed out again.
class TIdLineAbort
{
public:
    // False once aborted: the caller gives the socket up.
    bool Attach(int socket);
    void Detach(int socket) noexcept;
    void Abort() noexcept;
    bool Aborted() const;

private:
    mutable std::mutex FLock;
    int FSocket = -1;
    bool FAborted = false;
};
