#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include <sys/socket.h>

// Performs one TCP connect on its own thread so the caller can give up after
// a time-out. The connect is made non-blocking and waited for with poll on
// the socket and a wake-up pipe: closing a socket under a blocked connect
// does not wake it on Linux. The thread is always joined by its owner.
class TIdConnectThread
{
public:
    // Starts the connect of `socket` (not owned) to `address`; with
    // `started` the connect is already under way and is only waited for.
    TIdConnectThread(int socket, const sockaddr* address, socklen_t length, bool started = false);
    // Stops a connect still in progress and waits for the thread.
    ~TIdConnectThread();
    TIdConnectThread(const TIdConnectThread&) = delete;
    TIdConnectThread& operator=(const TIdConnectThread&) = delete;

    // Waits at most `milliseconds` for the connect to end; true when it has.
    bool WaitFinished(int milliseconds);
    bool Finished();
    // Asks a connect in progress to give up; it then ends silently.
    void Terminate();
    // Joins the thread.
    void WaitFor();

    // The recorded failure, read after the thread ended: a socket error
    // number (0 when none) and a message for failures without one.
    int LastError() const { return FLastError; }
    const std::string& ErrorMessage() const { return FErrorMessage; }

private:
    void Execute();
    void Record(int lastError, const std::string& message);

    int FSocket;
    bool FStarted;
    sockaddr_storage FAddress{};
    socklen_t FLength;
    int FWakeRead = -1;
    int FWakeWrite = -1;
    std::mutex FLock;
    std::condition_variable FDone;
    bool FFinished = false;
    int FLastError = 0;
    std::string FErrorMessage;
    std::thread FThread;
};
