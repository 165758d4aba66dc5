#include "mail/IdConnectThread.h"

#include "mail/IdExceptions.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <system_error>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

TIdConnectThread::TIdConnectThread(int socket, const sockaddr* address, socklen_t length, bool started)
    : FSocket(socket), FStarted(started), FLength(length)
{
    std::memcpy(&FAddress, address, length);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        RaiseSocketErrorFromErrno(errno);
    FWakeRead = fds[0];
    FWakeWrite = fds[1];
    try
    {
        FThread = std::thread(&TIdConnectThread::Execute, this);
    }
    catch (const std::system_error& e)
    {
        ::close(FWakeRead);
        ::close(FWakeWrite);
        throw EIdConnectException(e.what());
    }
}

TIdConnectThread::~TIdConnectThread()
{
    Terminate();
    WaitFor();
    ::close(FWakeRead);
    ::close(FWakeWrite);
}

bool TIdConnectThread::WaitFinished(int milliseconds)
{
    std::unique_lock<std::mutex> lock(FLock);
    return FDone.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return FFinished; });
}

bool TIdConnectThread::Finished()
{
    std::lock_guard<std::mutex> lock(FLock);
    return FFinished;
}

void TIdConnectThread::Terminate()
{
    char byte = 1;
    // A full pipe already holds a wake-up; nothing else can fail here.
    [[maybe_unused]] ssize_t n = ::write(FWakeWrite, &byte, 1);
}

void TIdConnectThread::WaitFor()
{
    if (FThread.joinable())
        FThread.join();
}

void TIdConnectThread::Record(int lastError, const std::string& message)
{
    // A socket closed under the connect is how a time-out ends it: silent.
    if (lastError == Id_WSAENOTSOCK || lastError == Id_WSAEBADF)
        return;
    FLastError = lastError;
    FErrorMessage = message;
}

void TIdConnectThread::Execute()
{
    int flags = ::fcntl(FSocket, F_GETFL);
    if (flags < 0 || ::fcntl(FSocket, F_SETFL, flags | O_NONBLOCK) != 0)
    {
        Record(SocketErrorFromErrno(errno), {});
    }
    else
    {
        int rc = FStarted ? -1 : ::connect(FSocket, reinterpret_cast<const sockaddr*>(&FAddress), FLength);
        int err = FStarted ? EINPROGRESS : rc == 0 ? 0 : errno;
        if (err == EINPROGRESS || err == EINTR)
        {
            pollfd fds[2] = {{FSocket, POLLOUT, 0}, {FWakeRead, POLLIN, 0}};
            for (;;)
            {
                int n = ::poll(fds, 2, -1);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0)
                {
                    err = errno;
                    break;
                }
                if (fds[1].revents != 0)
                {
                    err = EBADF; // stopped by the caller: ends silently
                    break;
                }
                socklen_t len = sizeof(err);
                if (::getsockopt(FSocket, SOL_SOCKET, SO_ERROR, &err, &len) != 0)
                    err = errno;
                break;
            }
        }
        if (err != 0)
            Record(SocketErrorFromErrno(err), {});
        // Reads and writes after the connect block as usual.
        ::fcntl(FSocket, F_SETFL, flags);
    }
    std::lock_guard<std::mutex> lock(FLock);
    FFinished = true;
    FDone.notify_all();
}
