#include "mail/IdBuffer.h"
#include "mail/IdExceptions.h"
#include "platform/AsciiText.h"
#include "support/ScriptedServer.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <netdb.h>

TEST(InputQueue, FindsFromOffsets)
{
    TIdBuffer b;
    b.Write("ab\r\ncd\r\nef");
    struct Case
    {
        std::string What;
        std::size_t From;
        long Want;
    };
    for (const Case& c : {Case{"\n", 0, 3}, Case{"\n", 3, 3}, Case{"\n", 4, 7}, Case{"\n", 8, -1}, Case{"\r\n", 0, 2},
                          Case{"\r\n", 3, 6}, Case{"ef", 0, 8}, Case{"efg", 0, -1}, Case{"", 0, -1},
                          Case{"a", 100, -1}})
        EXPECT_EQ(b.IndexOf(c.What, c.From), c.Want) << c.What << " from " << c.From;
}

TEST(InputQueue, ExtractAndRemove)
{
    TIdBuffer b;
    b.Write("hello world");
    EXPECT_EQ(b.Extract(5), "hello");
    b.Remove(1);
    EXPECT_EQ(b.IndexOf("d"), 4);
    EXPECT_EQ(b.Extract(100), "world");
    EXPECT_TRUE(b.Empty());
    EXPECT_EQ(b.Extract(3), "");
}

TEST(InputQueue, CompactsOnlyPastTheStep)
{
    TIdBuffer b;
    std::string chunk(3000, 'x');
    chunk += "\n";
    b.Write(chunk);
    b.Write("tail");
    b.Remove(1000);
    b.Write("1");
    // 1000 consumed bytes are kept: no move yet.
    EXPECT_EQ(b.StorageSize(), chunk.size() + 5);
    b.Remove(1200);
    b.Write("2");
    // More than 2048 consumed: the live bytes moved to the front.
    EXPECT_EQ(b.StorageSize(), b.Size());
    EXPECT_EQ(b.Peek(), std::string(800, 'x') + "\ntail12");
    EXPECT_EQ(b.IndexOf("\n"), 800);
}

TEST(SocketErrors, ErrnoMapping)
{
    struct Case
    {
        int Errno;
        int Number;
    };
    for (Case c : {Case{ECONNREFUSED, 10061}, Case{ECONNRESET, 10054}, Case{ETIMEDOUT, 10060},
                   Case{EHOSTUNREACH, 10065}, Case{ENETUNREACH, 10051}, Case{EADDRINUSE, 10048},
                   Case{EADDRNOTAVAIL, 10049}, Case{ECONNABORTED, 10053}, Case{ENOTCONN, 10057},
                   Case{EPIPE, 10054}, Case{EINTR, 10004}, Case{EACCES, 10013}, Case{ENOBUFS, 10055},
                   Case{ENETDOWN, 10050}, Case{EHOSTDOWN, 10064}, Case{EBADF, 10009}, Case{ENOTSOCK, 10038},
                   Case{ENOENT, ENOENT}})
        EXPECT_EQ(SocketErrorFromErrno(c.Errno), c.Number) << c.Errno;
    EXPECT_EQ(SocketErrorFromLookup(EAI_NONAME, 0), 11001);
    EXPECT_EQ(SocketErrorFromLookup(EAI_SYSTEM, ECONNREFUSED), 10061);
}

TEST(SocketErrors, Messages)
{
    EXPECT_EQ(EIdSocketError(10060).Message, "Socket Error # 10060\r\nConnection timed out.");
    EXPECT_EQ(EIdSocketError(10052).Message, "Socket Error # 10052\r\nNet dropped connection or reset.");
    EXPECT_EQ(EIdSocketError(10058).Message, "Socket Error # 10058\r\nCannot send or receive after socket is closed.");
    EXPECT_EQ(EIdSocketError(11001).LastError, 11001);
    // Numbers outside the table keep the system's own wording.
    EXPECT_EQ(SocketErrorDescription(ENOENT), "No such file or directory");
    // Every error class is a mail error with its fixed text.
    EXPECT_EQ(EIdConnClosedGracefully().Message, "Connection Closed Gracefully.");
    EXPECT_EQ(EIdClosedSocket().Message, "Disconnected.");
    EXPECT_EQ(EIdReadTimeout().Message, "Read Timeout");
    EXPECT_EQ(EIdConnectTimeout().Message, "Connect timed out.");
}

TEST(TextHelpers, TrimAndCase)
{
    using namespace AsciiText;
    EXPECT_EQ(Trim(std::string("\x01 \t a b \r\n\x20", 10)), "a b");
    EXPECT_EQ(Trim(" \t "), "");
    for (std::string s : {"", "  ", "x", " x\r\n", "\tx y\x1F", "x  "})
    {
        std::string t = s;
        TrimInPlace(t);
        EXPECT_EQ(t, Trim(s));
    }
    EXPECT_EQ(Trim("\xE9x\xA0"), "\xE9x\xA0"); // 8-bit bytes are not blanks
    EXPECT_EQ(UpperCase("+ok\xE9z"), "+OK\xE9Z");
    EXPECT_TRUE(SameText("+Ok", "+OK"));
    EXPECT_FALSE(SameText("\xE9", "\xC9"));
    EXPECT_FALSE(SameText("OK", "OK "));
}

namespace
{
// A bare socket connected to the server: the client side without any of the
// code under test.
int ConnectTo(const ScriptedServer& srv)
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(srv.Port()));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    return fd;
}
}

// The scripted server itself must notice a wrong client: the tests built on it
// rely on that.
TEST(ScriptedServerSelf, ReportsWrongLine)
{
    EXPECT_NONFATAL_FAILURE(
        {
            ScriptedServer srv("C: USER ann\n");
            int fd = ConnectTo(srv);
            ::send(fd, "USER bob\r\n", 10, 0);
            srv.WaitDone();
            ::close(fd);
        },
        "expected 'USER ann\\r\\n', got 'USER bob\\r\\n'");
}

TEST(ScriptedServerSelf, ReportsUnfinishedScript)
{
    EXPECT_NONFATAL_FAILURE(
        {
            ScriptedServer srv("S: hello\nC: QUIT\n");
            int fd = ConnectTo(srv);
            char buf[16];
            ::recv(fd, buf, sizeof buf, 0);
            ::close(fd);
            srv.WaitDone();
        },
        "the client closed the connection");
}
