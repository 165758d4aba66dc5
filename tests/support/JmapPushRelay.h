#pragma once

#include "support/TestHelpers.h"

#include <sys/types.h>

#include <cstdint>
#include <string>

// The tests' JMAP push relay (jmap_push_relay.py) in front of a JMAP server
// on loopback: every request passes through, and the event source is served
// from the server's own states, asked five times a second, for servers whose
// own build does not push. Started without a fork (a sanitizer's threads
// survive it badly); ends with the object.
class JmapPushRelay
{
public:
    explicit JmapPushRelay(std::uint16_t serverPort);
    ~JmapPushRelay();
    JmapPushRelay(const JmapPushRelay&) = delete;
    JmapPushRelay& operator=(const JmapPushRelay&) = delete;

    std::uint16_t Port() const { return FPort; }
    // The well-known address through the relay.
    std::string SessionUrl() const;

private:
    TempFolder FFolder{"jmap-relay"};
    pid_t FPid = -1;
    std::uint16_t FPort = 0;
};
