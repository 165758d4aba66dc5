#include "mail/IdExceptions.h"
#include "mail/IdTCPConnection.h"
#include "support/FakeClock.h"
#include "support/Loopback.h"
#include "support/OneLineReply.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <thread>
#include <vector>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

namespace
{

int ThreadCount()
{
    int n = 0;
    for ([[maybe_unused]] auto& entry : std::filesystem::directory_iterator("/proc/self/task"))
        ++n;
    return n;
}

} // namespace

TEST(ConnectTimeout, GivesUpAfterTheTimeOutWithNoThreadLeft)
{
    SilentListener silent;
    if (!silent.Silent())
        GTEST_SKIP() << "this kernel answers connects to a full listen queue";
    // A limit shorter than a test clock's slice, and the program's default.
    for (int timeout : {10, 10000})
    {
        SCOPED_TRACE(timeout);
        int threadsBefore = ThreadCount();
        auto clock = std::make_shared<FakeClock>();
        TIdTCPClientCustom client(std::make_unique<TOneLineReply>());
        client.Host = "127.0.0.1";
        client.Port = silent.Port();
        client.ConnectTimeout = timeout;
        client.Clock = clock;
        std::string message;
        try
        {
            client.Connect();
        }
        catch (const EIdConnectTimeout& e)
        {
            message = e.Message;
        }
        EXPECT_EQ(message, "Connect timed out.");
        EXPECT_EQ(clock->Served(), std::chrono::milliseconds(timeout));
        EXPECT_EQ(client.IOHandler(), nullptr);
        EXPECT_FALSE(client.Connected());
        EXPECT_EQ(ThreadCount(), threadsBefore);
    }
}

TEST(ConnectTimeout, ConnectsAgainAfterATimeOut)
{
    SilentListener silent;
    if (!silent.Silent())
        GTEST_SKIP() << "this kernel answers connects to a full listen queue";
    LoopbackListener listener;
    ASSERT_TRUE(listener.Listening());

    auto clock = std::make_shared<FakeClock>();
    TIdTCPClientCustom client(std::make_unique<TOneLineReply>());
    client.Host = "127.0.0.1";
    client.Port = silent.Port();
    client.ConnectTimeout = 10000;
    client.Clock = clock;
    EXPECT_THROW(client.Connect(), EIdConnectTimeout);
    client.Port = listener.Port();
    for (int timeout : {5000, -1})
    {
        client.ConnectTimeout = timeout;
        const auto served = clock->Served();
        client.Connect();
        // A connect that ends early does not sit out the whole time-out.
        EXPECT_EQ(clock->Served(), served);
        EXPECT_TRUE(client.Connected());
        client.Disconnect(false);
    }
}

// Name lookup in a network namespace of our own, so no query can leave the
// machine. A label longer than 63 bytes is refused by the resolver itself.
TEST(ConnectLookup, UnknownHost)
{
    int lastError = 0;
    std::string message;
    bool isolated = false;
    std::thread([&] {
        if (::unshare(CLONE_NEWNET) != 0)
            return;
        isolated = true;
        TIdTCPClientCustom client(std::make_unique<TOneLineReply>());
        client.Host = std::string(64, 'x') + ".no-such-host.invalid";
        client.Port = 110;
        client.ConnectTimeout = 5000;
        try
        {
            client.Connect();
        }
        catch (const EIdSocketError& e)
        {
            lastError = e.LastError;
            message = e.Message;
        }
    }).join();
    if (!isolated)
        GTEST_SKIP() << "cannot make a network namespace here";
    EXPECT_EQ(lastError, 11001);
    EXPECT_EQ(message, "Socket Error # 11001\r\nHost not found.");
}

TEST(ConnectLookup, AddressLiteralAndFamily)
{
    SocketFd listener(::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in6 addr{};
    addr.sin6_family = AF_INET6;
    addr.sin6_addr = in6addr_loopback;
    socklen_t len = sizeof addr;
    if (listener.Value < 0 || ::bind(listener.Value, reinterpret_cast<sockaddr*>(&addr), len) != 0)
        GTEST_SKIP() << "no IPv6 loopback";
    ASSERT_EQ(::listen(listener.Value, 4), 0);
    ASSERT_EQ(::getsockname(listener.Value, reinterpret_cast<sockaddr*>(&addr), &len), 0);
    TIdTCPClientCustom client(std::make_unique<TOneLineReply>());
    client.Host = "::1";
    client.Port = ntohs(addr.sin6_port);
    client.IPVersion = Id_IPv6;
    client.Connect();
    EXPECT_TRUE(client.Connected());
    client.Disconnect(false);
    // The same literal in the IPv4 family is no host at all.
    client.IPVersion = Id_IPv4;
    try
    {
        client.Connect();
        ADD_FAILURE() << "connected";
    }
    catch (const EIdSocketError& e)
    {
        EXPECT_EQ(e.LastError, 11001);
    }
}
