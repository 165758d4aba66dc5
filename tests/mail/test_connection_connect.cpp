#include "mail/IdExceptions.h"
#include "mail/IdTCPConnection.h"
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

double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace

TEST(ConnectTimeout, GivesUpAfterTheTimeOutWithNoThreadLeft)
{
    SilentListener silent;
    if (!silent.Silent())
        GTEST_SKIP() << "this kernel answers connects to a full listen queue";
    struct Case
    {
        int Timeout;
        double Min, Max;
    };
    // 10 ms: one short sleep; 1000 ms: 7 slices of 125 ms and a last one.
    for (Case c : {Case{10, 0.005, 1.0}, Case{1000, 0.9, 3.0}})
    {
        SCOPED_TRACE(c.Timeout);
        int threadsBefore = ThreadCount();
        TIdTCPClientCustom client(std::make_unique<TOneLineReply>());
        client.Host = "127.0.0.1";
        client.Port = silent.Port();
        client.ConnectTimeout = c.Timeout;
        auto start = std::chrono::steady_clock::now();
        std::string message;
        try
        {
            client.Connect();
        }
        catch (const EIdConnectTimeout& e)
        {
            message = e.Message;
        }
        double took = SecondsSince(start);
        EXPECT_EQ(message, "Connect timed out.");
        EXPECT_GE(took, c.Min);
        EXPECT_LE(took, c.Max);
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

    TIdTCPClientCustom client(std::make_unique<TOneLineReply>());
    client.Host = "127.0.0.1";
    client.Port = silent.Port();
    client.ConnectTimeout = 300;
    EXPECT_THROW(client.Connect(), EIdConnectTimeout);
    client.Port = listener.Port();
    for (int timeout : {5000, -1})
    {
        client.ConnectTimeout = timeout;
        auto start = std::chrono::steady_clock::now();
        client.Connect();
        // A connect that ends early does not sit out the whole time-out.
        EXPECT_LT(SecondsSince(start), 2.5);
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
