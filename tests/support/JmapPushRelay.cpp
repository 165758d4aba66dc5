#include "support/JmapPushRelay.h"

#include "support/Dovecot.h"

#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <utility>

#include <unistd.h>

JmapPushRelay::JmapPushRelay(std::uint16_t serverPort)
{
    const std::string portFile = FFolder.File("port");
    const std::string log = FFolder.File("relay.log");
    const int rc = Dovecot::SpawnGroupLeader(FPid,
                                             {"/usr/bin/python3", TERNBELL_SOURCE_DIR "/tests/support/jmap_push_relay.py",
                                              std::to_string(serverPort), portFile},
                                             log, environ);
    if (rc != 0)
        throw std::runtime_error(std::string("cannot start the JMAP push relay: ") + strerror(rc));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline)
    {
        const std::string said = ReadFile(portFile);
        if (said.rfind("port ", 0) == 0)
        {
            FPort = static_cast<std::uint16_t>(std::stoi(said.substr(5)));
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    Dovecot::EndGroupLeader(std::exchange(FPid, -1));
    throw std::runtime_error("the JMAP push relay did not start: " + ReadFile(log));
}

JmapPushRelay::~JmapPushRelay()
{
    if (FPid > 0)
        Dovecot::EndGroupLeader(FPid);
}

std::string JmapPushRelay::SessionUrl() const
{
    return "http://127.0.0.1:" + std::to_string(FPort) + "/.well-known/jmap";
}
