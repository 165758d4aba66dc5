#pragma once

#include "mail/HttpUrl.h"
#include "mail/IdClock.h"
#include "mail/IdExceptions.h"
#include "mail/IdLineAbort.h"

#include <cstddef>
#include <memory>
#include <string>

// One HTTP/1.1 request on a fresh connection ("Connection: close") over
// the mail library's line, secured with TLS for https. The answer is read
// whole, bounded by the limits however the server paces or frames it.

struct THttpLineLimits
{
    int ConnectTimeout = 10000;
    int ReadTimeout = 30000;
    int OperationTimeout = 120000; // the whole exchange
    std::size_t MaxBody = 256 * 1024;
    std::shared_ptr<TIdClock> Clock;         // null: the steady clock
    std::shared_ptr<TIdLineAbort> LineAbort; // another thread's way to end it
};

struct THttpRequest
{
    std::string Method = "GET";
    THttpUrl Url;
    std::string Authorization; // the header's value; empty: none
    std::string ContentType;   // with a body
    std::string Body;
};

struct THttpReply
{
    int Status = 0;
    std::string Location;    // of a redirect, as sent
    std::string ContentType;
    std::string Body;
};

// An answer that is not HTTP, or past the limits. `Problem` says what was
// wrong, in English, for logs and tests.
class EHttpAnswer : public EIdProtocolError
{
public:
    EHttpAnswer(const std::string& problem);
    std::string Problem;
};

class TIdIOHandler;

// The request as it goes on the wire; `accept` is the Accept header's value.
std::string HttpRequestText(const THttpRequest& request, const std::string& accept = "application/json");
// A line to the URL's host, secured for https, not yet opened.
std::unique_ptr<TIdIOHandler> HttpLineFor(const THttpUrl& url, const THttpLineLimits& limits);

// Failures of the line raise as the mail library raises them (time-outs,
// refusals, certificates); the request's bytes, credentials among them, are
// wiped once sent.
THttpReply HttpOnLine(THttpRequest request, const THttpLineLimits& limits);
