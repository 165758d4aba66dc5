#include "mail/IdLineAbort.h"

#include <sys/socket.h>

bool TIdLineAbort::Attach(int socket)
{
    std::lock_guard<std::mutex> lock(FLock);
    if (FAborted)
        return false;
    FSocket = socket;
    return true;
}

void TIdLineAbort::Detach(int socket) noexcept
{
    std::lock_guard<std::mutex> lock(FLock);
    if (FSocket == socket)
        FSocket = -1;
}

void TIdLineAbort::Abort() noexcept
{
    std::lock_guard<std::mutex> lock(FLock);
    FAborted = true;
    if (FSocket >= 0)
        ::shutdown(FSocket, SHUT_RDWR);
}

bool TIdLineAbort::Aborted() const
{
    std::lock_guard<std::mutex> lock(FLock);
    return FAborted;
}
