#include "app/AboutBox.h"
#include "app/CommandLine.h"
#include "app/SingleInstance.h"

#include <QCoreApplication>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <optional>
#include <poll.h>
#include <ostream>
#include <regex>
#include <string>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

// --- command line ---------------------------------------------------------

struct TArgsCase
{
    std::vector<const char*> args;
    const char* answerStart; // nullptr: the program starts
};

void PrintTo(const TArgsCase& c, std::ostream* os)
{
    for (const char* a : c.args)
        *os << a << ' ';
}

class CommandLineTest : public ::testing::TestWithParam<TArgsCase>
{
};

TEST_P(CommandLineTest, AnswersOnlyVersionAndHelp)
{
    std::vector<const char*> argv{"ternbell"};
    argv.insert(argv.end(), GetParam().args.begin(), GetParam().args.end());
    const auto answer = CommandLineAnswer(static_cast<int>(argv.size()), argv.data());
    if (!GetParam().answerStart)
    {
        EXPECT_FALSE(answer.has_value()) << *answer;
        return;
    }
    ASSERT_TRUE(answer.has_value());
    EXPECT_EQ(answer->rfind(GetParam().answerStart, 0), 0u) << *answer;
    EXPECT_EQ(answer->back(), '\n');
}

INSTANTIATE_TEST_SUITE_P(
    Args, CommandLineTest,
    ::testing::Values(TArgsCase{{}, nullptr}, TArgsCase{{"--version"}, "ternbell "},
                      TArgsCase{{"-v"}, "ternbell "}, TArgsCase{{"--help"}, "Usage: ternbell"},
                      TArgsCase{{"-h"}, "Usage: ternbell"},
                      // The toolkit's own options are left to it.
                      TArgsCase{{"-platform", "offscreen"}, nullptr},
                      TArgsCase{{"-platform", "xcb", "--version"}, "ternbell "},
                      // The first of the two wins.
                      TArgsCase{{"--help", "--version"}, "Usage: ternbell"},
                      TArgsCase{{"--versions"}, nullptr}));

TEST(Version, IsOneLineWithADottedNumber)
{
    EXPECT_TRUE(std::regex_match(VersionText(), std::regex(R"(ternbell [0-9]+(\.[0-9]+)+)")))
        << VersionText();
    const auto answer = CommandLineAnswer(2, std::vector<const char*>{"ternbell", "--version"}.data());
    EXPECT_EQ(*answer, VersionText() + "\n" + LicenceText());
    EXPECT_NE(LicenceText().find("GPL-3.0-or-later"), std::string::npos);
}

TEST(Version, AboutBoxShowsTheSameVersion)
{
    TfrmAboutBox about;
    bool found = false;
    for (const QLabel* label : about.findChildren<QLabel*>())
        found = found || label->text().toStdString() == VersionText();
    EXPECT_TRUE(found);
    EXPECT_NE(about.lblLicence->text().indexOf(QStringLiteral("GPL-3.0-or-later")), -1);
}

// --- one instance ---------------------------------------------------------

class SingleInstanceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath(QStringLiteral("ternbell-test.socket"));
    }

    // Keeps the first instance's event loop turning until `done` is set.
    static void PumpUntil(const std::atomic<bool>& done)
    {
        while (!done)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QCoreApplication::processEvents();
    }

    // A later start, in a thread of its own as it waits for the answer.
    bool SecondStart(bool* acknowledged = nullptr)
    {
        std::atomic<bool> done{false};
        bool claimed = true, ack = false;
        std::thread second([&] {
            TSingleInstance later(path);
            claimed = later.Claim();
            ack = later.Acknowledged;
            done = true;
        });
        PumpUntil(done);
        second.join();
        if (acknowledged)
            *acknowledged = ack;
        return claimed;
    }

    QTemporaryDir dir;
    QString path;
};

TEST_F(SingleInstanceTest, SecondStartAsksTheFirstToShowItsSettings)
{
    TSingleInstance first(path);
    int shown = 0;
    first.OnShowSettings = [&] { ++shown; };
    ASSERT_TRUE(first.Claim());

    bool acknowledged = false;
    EXPECT_FALSE(SecondStart(&acknowledged));
    EXPECT_TRUE(acknowledged);
    EXPECT_EQ(shown, 1);

    // Every later start is answered, not only the first.
    EXPECT_FALSE(SecondStart(&acknowledged));
    EXPECT_TRUE(acknowledged);
    EXPECT_EQ(shown, 2);
}

TEST_F(SingleInstanceTest, BusyInstanceGetsTheRequestLater)
{
    TSingleInstance first(path);
    int shown = 0;
    first.OnShowSettings = [&] { ++shown; };
    ASSERT_TRUE(first.Claim());

    // The first does not turn its event loop (a check is running): the later
    // start gives up waiting but still does not start a second checker.
    TSingleInstance later(path);
    later.ReplyTimeout = 100;
    EXPECT_FALSE(later.Claim());
    EXPECT_FALSE(later.Acknowledged);
    EXPECT_EQ(shown, 0);

    for (int i = 0; i < 50 && shown == 0; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    EXPECT_EQ(shown, 1);
}

TEST_F(SingleInstanceTest, EndedInstanceLeavesTheNameFree)
{
    {
        TSingleInstance first(path);
        ASSERT_TRUE(first.Claim());
    }
    TSingleInstance next(path);
    EXPECT_TRUE(next.Claim());
    EXPECT_FALSE(SecondStart());
}

// What a killed instance leaves: a socket file nobody listens on and a lock
// file of a process that is gone.
TEST_F(SingleInstanceTest, LeftoversOfAKilledInstanceDoNotBlock)
{
    const QByteArray socketPath = path.toLocal8Bit();
    const QString lockPath = path + QStringLiteral(".lock");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
    {
        const int lock = open(lockPath.toLocal8Bit().constData(), O_RDWR | O_CREAT, 0600);
        flock(lock, LOCK_EX);
        const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, socketPath.constData(), sizeof address.sun_path - 1);
        bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(fd, 1);
        _exit(0); // no clean-up, as after kill -9
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(QFile::exists(path));
    ASSERT_TRUE(QFile::exists(lockPath));

    TSingleInstance next(path);
    int shown = 0;
    next.OnShowSettings = [&] { ++shown; };
    EXPECT_TRUE(next.Claim());
    // And it is the one instance now.
    EXPECT_FALSE(SecondStart());
    EXPECT_EQ(shown, 1);
}

// Two starts at the same moment: the second decides only once the first has.
TEST_F(SingleInstanceTest, AStartWaitsWhileAnotherDecides)
{
    const int lock = open((path + QStringLiteral(".lock")).toLocal8Bit().constData(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(lock, 0);
    ASSERT_EQ(flock(lock, LOCK_EX), 0);
    std::atomic<bool> released{false};
    std::thread other([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        released = true;
        close(lock);
    });
    TSingleInstance next(path);
    EXPECT_TRUE(next.Claim());
    EXPECT_TRUE(released) << "the claim did not wait for the lock";
    other.join();
}

TEST_F(SingleInstanceTest, PlainFileInTheWayDoesNotBlock)
{
    QFile junk(path);
    ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
    junk.write("junk");
    junk.close();
    TSingleInstance first(path);
    EXPECT_TRUE(first.Claim());
    EXPECT_FALSE(SecondStart());
}

TEST_F(SingleInstanceTest, StartsUnguardedWhereItCannotListen)
{
    TSingleInstance first(dir.filePath(QStringLiteral("missing/folder/ternbell.socket")));
    EXPECT_TRUE(first.Claim());
}

struct TRequestCase
{
    const char* name;
    QByteArray bytes;
    int shown;
};

void PrintTo(const TRequestCase& c, std::ostream* os)
{
    *os << c.name;
}

class SingleInstanceRequestTest : public SingleInstanceTest,
                                  public ::testing::WithParamInterface<TRequestCase>
{
};

TEST_P(SingleInstanceRequestTest, OnlyTheShowRequestShowsTheSettings)
{
    TSingleInstance first(path);
    int shown = 0;
    first.OnShowSettings = [&] { ++shown; };
    ASSERT_TRUE(first.Claim());

    std::atomic<bool> done{false};
    QByteArray reply;
    std::thread peer([&] {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.toLocal8Bit().constData(), sizeof address.sun_path - 1);
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0
            && send(fd, GetParam().bytes.constData(), GetParam().bytes.size(), MSG_NOSIGNAL)
                   == GetParam().bytes.size())
        {
            // Answered, or dropped: either ends the wait.
            pollfd wanted{fd, POLLIN, 0};
            char chunk[256];
            ssize_t got = 0;
            while (poll(&wanted, 1, 2000) > 0 && (got = recv(fd, chunk, sizeof chunk, 0)) > 0)
                reply.append(chunk, got);
        }
        close(fd);
        done = true;
    });
    PumpUntil(done);
    peer.join();
    EXPECT_EQ(shown, GetParam().shown);
    EXPECT_EQ(reply, GetParam().shown ? QByteArray("ok\n") : QByteArray());
}

INSTANTIATE_TEST_SUITE_P(
    Requests, SingleInstanceRequestTest,
    ::testing::Values(TRequestCase{"show", "show\n", 1}, TRequestCase{"other", "hide\n", 0},
                      TRequestCase{"no_newline_flood", QByteArray(200, 'a'), 0},
                      TRequestCase{"show_then_more", "show\nshow\n", 1}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
