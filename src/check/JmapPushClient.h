#pragma once

#include "check/AccountSession.h"
#include "check/PushSession.h"

#include <memory>

// Seconds between the pings a JMAP event stream is asked for: a line that
// stays quiet longer is taken as lost. Below the five minutes after which
// many NAT routers forget a connection.
constexpr int JmapPingSeconds = 240;

// A JMAP account's push session: the session resource's event source
// (types Email and Mailbox, never closed after a change, pinged), one
// connection for every folder. A server that names no event source, or
// answers it with anything but a stream (Cyrus without its push library
// answers 204), is polled at the interval, and the stream tried again after
// the next check. Its looks at the interval ask the Email state in one
// request and tell news where it moved past the last check's.
std::unique_ptr<TPushClient> MakeJmapPushClient(const Account& account, const TSessionLimits& limits,
                                                std::shared_ptr<TIdLineAbort> abort);

// The event source's URL from the session's template: {types}, {closeafter}
// and {ping} filled in.
std::string JmapEventSourceUrl(const std::string& urlTemplate, int pingSeconds);
