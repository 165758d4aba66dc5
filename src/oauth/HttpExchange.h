#pragma once

#include "mail/IdClock.h"
#include "mail/HttpUrl.h"
#include "mail/IdLineAbort.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

// Reads `url` (mail/HttpUrl.h); one that cannot be used raises EOAuthSetup.
THttpUrl ParseHttpUrl(const std::string& url);

// What one exchange may cost: a server that is slow, never ends its answer
// or sends without end is cut off within these.
struct THttpLimits
{
    int ConnectMilliseconds = 15000;
    int TotalMilliseconds = 30000; // the whole exchange, however the bytes are paced
    std::size_t MaxBody = 256 * 1024;
    std::shared_ptr<TIdClock> Clock;         // null: the steady clock
    std::shared_ptr<TIdLineAbort> LineAbort; // another thread's way to end it
};

struct THttpAnswer
{
    int Status = 0;
    std::string Body;
};

// One request on a fresh connection ("Connection: close"), HTTP/1.1. A
// redirect is not followed: an authorization server has no reason to send
// its client elsewhere. A form body is sent as
// application/x-www-form-urlencoded. Failures to connect or read raise
// EOAuthUnreachable; an answer past the limits or malformed EOAuthMalformed.
THttpAnswer HttpExchange(const std::string& url, const std::string& form, const THttpLimits& limits,
                         const std::string& authorization = {});

// application/x-www-form-urlencoded, in the given order.
std::string FormEncode(const std::vector<std::pair<std::string, std::string>>& fields);
