#pragma once

#include "mail/IdIOHandler.h"
#include "mail/IdLineAbort.h"

#include <memory>
#include <string>
#include <utility>

#include <sys/socket.h>

// One socket file descriptor, closed with its owner.
class TIdSocketHandle
{
public:
    TIdSocketHandle() = default;
    ~TIdSocketHandle();
    TIdSocketHandle(const TIdSocketHandle&) = delete;
    TIdSocketHandle& operator=(const TIdSocketHandle&) = delete;

    bool HandleAllocated() const { return FHandle >= 0; }
    int Handle() const { return FHandle; }

    // The socket made next is attached to `abort` (null: none).
    void SetLineAbort(std::shared_ptr<TIdLineAbort> abort) { FAbort = std::move(abort); }
    // Raises EIdLineAborted once the line was aborted.
    void CheckAborted() const;
    void AllocateSocket(int family);
    void Bind(const std::string& ip, int port, int family);
    void SetNoDelay(bool noDelay);
    // Keep-alive probes after `seconds` of silence (see KeepAlive).
    void SetKeepAlive(int seconds);
    // Blocking connect on the caller's thread.
    void Connect(const sockaddr* address, socklen_t length);
    int Recv(char* buffer, int size);
    // Recv that waits at most `milliseconds` on `clock` (0: not at all, -1:
    // without limit): -1 when nothing arrived in that time.
    int RecvWithin(char* buffer, int size, int milliseconds, TIdClock& clock);
    int Send(const char* bytes, int size);
    // poll for readability, at most `milliseconds` on `clock`; -1 waits
    // without limit.
    bool Readable(int milliseconds, TIdClock& clock);
    void CloseSocket() noexcept;

private:
    int RecvNoWait(char* buffer, int size);
    // False when the socket refused the limit.
    bool SetReceiveLimit(int milliseconds);

    int FHandle = -1;
    std::shared_ptr<TIdLineAbort> FAbort;
    // The receive limit the socket carries (-1: none), set only when it changes.
    int FReceiveLimit = -1;
};

// A resolved address.
struct TIdSockAddr
{
    sockaddr_storage Address{};
    socklen_t Length = 0;
};

// Resolves a name or address literal for `family` (AF_INET or AF_INET6);
// failures raise EIdSocketError (11001 for an unknown host).
TIdSockAddr ResolveHost(const std::string& host, int port, int family);

// A handler that owns one socket handle.
class TIdIOHandlerSocket : public TIdIOHandler
{
public:
    TIdIOHandlerSocket();
    ~TIdIOHandlerSocket() override;

    TIdSocketHandle* Binding() const { return FBinding.get(); }

    void Open() override;
    void Close() noexcept override;

protected:
    bool SocketAllocated() const override;
    void CloseSocket() noexcept override;
    // Connects the socket to Host and Port.
    virtual void ConnectClient() = 0;

    std::unique_ptr<TIdSocketHandle> FBinding;
};

// The platform socket implementation: receive, send, connect with time-out.
class TIdIOHandlerStack : public TIdIOHandlerSocket
{
public:
    bool WaitReadable(int milliseconds) override;

protected:
    void ConnectClient() override;
    int ReadDataFromSource(char* buffer, int size) override;
    int ReadDataWithin(char* buffer, int size, int milliseconds) override;
    int WriteDataToTarget(const char* bytes, int size) override;

private:
    void ConnectWithTimeout(const TIdSockAddr& address);
};
