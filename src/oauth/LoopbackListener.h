#pragma once

#include "mail/IdClock.h"
#include "platform/Descriptor.h"

#include <chrono>
#include <string>

// The end of an authorization request (RFC 8252 7.3): a listener on
// 127.0.0.1 at a port the system picks, bound to loopback only, that takes
// the one request carrying the expected state, answers it with a short page
// and closes. Requests without that state (another tab, a stale or forged
// redirect) get an error page and change nothing.
class TLoopbackListener
{
public:
    // Binds and listens; raises EOAuthUnreachable when it cannot.
    TLoopbackListener();
    ~TLoopbackListener();
    TLoopbackListener(const TLoopbackListener&) = delete;
    TLoopbackListener& operator=(const TLoopbackListener&) = delete;

    int Port() const { return FPort; }
    // "http://127.0.0.1:<port>/"
    std::string RedirectUri() const;

    struct TRedirect
    {
        std::string Code;
        std::string Error; // the server's "error", when it sent one instead
        std::string Issuer; // "iss" (RFC 9207), when sent
    };
    // Waits for the request with `state` for at most `limit` on `clock`.
    // Raises EOAuthCancelled on Cancel or when the time is up.
    TRedirect Wait(const std::string& state, TIdClock& clock, std::chrono::milliseconds limit);
    // From any thread: ends a Wait at once.
    void Cancel();

private:
    enum class TAwaited
    {
        Readable,
        TimedOut,
        Cancelled // by Cancel, or the wait failed
    };
    // Until `socket` can be read, the deadline passes or Cancel is called.
    TAwaited AwaitReadable(int socket, TIdClock::TTimePoint deadline, TIdClock& clock);
    // One connection's request line, read within a few seconds.
    std::string ReadRequest(int socket, TIdClock& clock);
    TDescriptor FListen;
    TDescriptor FWake[2];
    int FPort = 0;
};

// The query of a request target, percent-decoded; empty when absent.
std::string QueryValue(const std::string& target, const std::string& name);
