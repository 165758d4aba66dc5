// Integration tests of the POP3 client against a private Dovecot.
#include "support/Dovecot.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>

namespace
{

#define SKIP_WITHOUT_DOVECOT()                                                                     \
    do                                                                                             \
    {                                                                                              \
        std::string why = Dovecot::Unavailable();                                                  \
        if (!why.empty())                                                                          \
            GTEST_SKIP() << why;                                                                   \
    } while (0)

// The first line a server sends on a fresh connection, read with plain
// sockets so the fixture is checked apart from the client under test.
std::string FirstLine(uint16_t port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    std::string line;
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0)
    {
        timeval tv{5, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        char c;
        while (read(fd, &c, 1) == 1 && c != '\n')
            line += c;
    }
    close(fd);
    return line;
}

TEST(Pop3DovecotFixture, StartsServesBothProtocolsAndStopsEverything)
{
    SKIP_WITHOUT_DOVECOT();
    pid_t group = -1;
    std::string folder;
    {
        Dovecot server;
        server.AddUser("ann", "secret");
        server.Start();
        ASSERT_TRUE(server.Running());
        EXPECT_NE(server.Pop3Port(), server.ImapPort());
        EXPECT_EQ(FirstLine(server.Pop3Port()).rfind("+OK", 0), 0u);
        EXPECT_EQ(FirstLine(server.ImapPort()).rfind("* OK", 0), 0u);
        // Without APOP the greeting carries no timestamp.
        EXPECT_EQ(FirstLine(server.Pop3Port()).find('<'), std::string::npos);

        server.Deliver("ann", "Subject: one\r\n\r\n1\r\n");
        server.Deliver("ann", "Subject: two\r\n\r\n2\r\n");
        ASSERT_EQ(server.CountMessages("ann"), 2u);
        EXPECT_EQ(server.Messages("ann")[1], "Subject: two\r\n\r\n2\r\n");
        EXPECT_THROW(server.Deliver("bob", "x"), Dovecot::Failure);
        folder = server.Folder();
        group = server.Master();
    }
    // Nothing of it is left: no folder and no process of the group the
    // master led.
    EXPECT_FALSE(access(folder.c_str(), F_OK) == 0);
    ASSERT_GT(group, 0);
    EXPECT_FALSE(Dovecot::GroupAlive(group));
}

TEST(Pop3DovecotFixture, OffersApopTimestampWhenAsked)
{
    SKIP_WITHOUT_DOVECOT();
    Dovecot server;
    server.AddUser("ann", "secret");
    server.EnableApop();
    server.Start();
    std::string greeting = FirstLine(server.Pop3Port());
    EXPECT_NE(greeting.find('<'), std::string::npos) << greeting;
    EXPECT_NE(greeting.find('>'), std::string::npos) << greeting;
}

} // namespace
