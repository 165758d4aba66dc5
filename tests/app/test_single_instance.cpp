// The running instance's side of the one-instance socket: peers that say
// nothing, say the wrong thing or come in numbers, and the socket file itself.
#include "app/SingleInstance.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

// Turns the event loop until `done` holds or `ms` have passed.
bool PumpUntil(const std::function<bool()>& done, int ms = 3000)
{
    QDeadlineTimer deadline(ms);
    while (!done())
    {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return true;
}

sockaddr_un AddressOf(const QString& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof address.sun_path - 1);
    return address;
}

// A client that speaks raw bytes, in the test's own thread.
class TRawPeer
{
public:
    explicit TRawPeer(const QString& path)
        : FSocket(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0))
    {
        const sockaddr_un address = AddressOf(path);
        // A full backlog clears as soon as the instance's loop turns.
        PumpUntil([&] {
            return connect(FSocket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0
                   || errno != EAGAIN;
        });
        Connected = IsConnected();
    }
    ~TRawPeer() { close(FSocket); }
    TRawPeer(const TRawPeer&) = delete;
    TRawPeer& operator=(const TRawPeer&) = delete;

    void Send(const QByteArray& bytes)
    {
        ASSERT_EQ(send(FSocket, bytes.constData(), bytes.size(), MSG_NOSIGNAL), bytes.size());
    }
    void EndRequest() { shutdown(FSocket, SHUT_WR); }

    // Collects what has arrived; true once the instance has closed its end.
    bool Ended()
    {
        char chunk[256];
        for (;;)
        {
            const ssize_t got = recv(FSocket, chunk, sizeof chunk, MSG_DONTWAIT);
            if (got > 0)
                Reply.append(chunk, got);
            else
                return got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
        }
    }

    bool Connected = false;
    QByteArray Reply;

private:
    bool IsConnected() const
    {
        sockaddr_un peer{};
        socklen_t size = sizeof peer;
        return getpeername(FSocket, reinterpret_cast<sockaddr*>(&peer), &size) == 0;
    }

    int FSocket;
};

class SingleInstanceServeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath(QStringLiteral("ternbell-test.socket"));
    }

    std::function<void()> CountShown()
    {
        return [this] { ++shown; };
    }

    // A later start, in a thread of its own as it waits for the answer.
    bool SecondStart(bool* acknowledged)
    {
        std::atomic<bool> done{false};
        bool claimed = true;
        std::thread second([&] {
            TSingleInstance later(path);
            claimed = later.Claim();
            *acknowledged = later.Acknowledged;
            done = true;
        });
        PumpUntil([&] { return done.load(); }, 10000);
        second.join();
        QCoreApplication::processEvents();
        return claimed;
    }

    void ExpectStillServes()
    {
        const int before = shown;
        bool acknowledged = false;
        EXPECT_FALSE(SecondStart(&acknowledged));
        EXPECT_TRUE(acknowledged);
        EXPECT_EQ(shown, before + 1);
    }

    QTemporaryDir dir;
    QString path;
    int shown = 0;
};

TEST_F(SingleInstanceServeTest, SilentPeersDoNotKeepALaterStartWaiting)
{
    TSingleInstance instance(path);
    instance.OnShowSettings = CountShown();
    ASSERT_TRUE(instance.Claim());
    std::vector<std::unique_ptr<TRawPeer>> silent;
    for (int i = 0; i < 3; ++i)
        silent.push_back(std::make_unique<TRawPeer>(path));
    QCoreApplication::processEvents();
    ExpectStillServes();
}

// What one peer sends, named for the test's label.
struct TPeerBytes
{
    const char* name;
    QByteArray bytes;
};

std::string PeerBytesName(const ::testing::TestParamInfo<TPeerBytes>& info)
{
    return info.param.name;
}

class SingleInstanceStallTest : public SingleInstanceServeTest,
                                public ::testing::WithParamInterface<TPeerBytes>
{
};

TEST_P(SingleInstanceStallTest, PeerWithoutAWholeRequestIsClosedInTime)
{
    TSingleInstance instance(path);
    instance.OnShowSettings = CountShown();
    instance.PeerTimeout = 50;
    ASSERT_TRUE(instance.Claim());
    TRawPeer peer(path);
    ASSERT_TRUE(peer.Connected);
    if (!GetParam().bytes.isEmpty())
        peer.Send(GetParam().bytes);
    EXPECT_TRUE(PumpUntil([&] { return peer.Ended(); }));
    EXPECT_EQ(peer.Reply, QByteArray());
    EXPECT_EQ(shown, 0);
}

INSTANTIATE_TEST_SUITE_P(Stalls, SingleInstanceStallTest,
                         ::testing::Values(TPeerBytes{"silent", {}}, TPeerBytes{"half_request", "sho"}),
                         PeerBytesName);

TEST_F(SingleInstanceServeTest, ManyPeersAreNotAllHeld)
{
    TSingleInstance instance(path);
    instance.OnShowSettings = CountShown();
    ASSERT_TRUE(instance.Claim());
    const int count = 40;
    std::vector<std::unique_ptr<TRawPeer>> peers;
    for (int i = 0; i < count; ++i)
    {
        peers.push_back(std::make_unique<TRawPeer>(path));
        ASSERT_TRUE(peers.back()->Connected) << i;
    }
    // Long before their time is up, all but a few have been let go.
    int open = count;
    PumpUntil([&] {
        open = 0;
        for (auto& peer : peers)
            open += peer->Ended() ? 0 : 1;
        return open <= 8;
    });
    EXPECT_LE(open, 8);
    // The newest are the ones held.
    EXPECT_FALSE(peers.back()->Ended());
    ExpectStillServes();
}

class SingleInstanceJunkTest : public SingleInstanceServeTest,
                               public ::testing::WithParamInterface<TPeerBytes>
{
};

TEST_P(SingleInstanceJunkTest, IsClosedWithoutAnAnswerAndTheInstanceGoesOn)
{
    TSingleInstance instance(path);
    instance.OnShowSettings = CountShown();
    ASSERT_TRUE(instance.Claim());
    {
        TRawPeer peer(path);
        ASSERT_TRUE(peer.Connected);
        peer.Send(GetParam().bytes);
        peer.EndRequest();
        EXPECT_TRUE(PumpUntil([&] { return peer.Ended(); }));
        EXPECT_EQ(peer.Reply, QByteArray());
    }
    EXPECT_EQ(shown, 0);
    ExpectStillServes();
}

INSTANTIATE_TEST_SUITE_P(
    Junk, SingleInstanceJunkTest,
    ::testing::Values(TPeerBytes{"show_without_line_end", "show"}, TPeerBytes{"upper_case", "SHOW\n"},
                      TPeerBytes{"crlf", "show\r\n"}, TPeerBytes{"nul_inside", QByteArray("sh\0ow\n", 6)},
                      TPeerBytes{"leading_nul", QByteArray("\0show\n", 6)},
                      TPeerBytes{"binary", "\xff\xfe\x01\n"},
                      TPeerBytes{"long_line", QByteArray(80, 's') + "\n"},
                      TPeerBytes{"long_line_then_show", QByteArray(100, ' ') + "show\n"}),
    PeerBytesName);

TEST_F(SingleInstanceServeTest, RequestInPiecesIsAnswered)
{
    TSingleInstance instance(path);
    instance.OnShowSettings = CountShown();
    ASSERT_TRUE(instance.Claim());
    TRawPeer peer(path);
    ASSERT_TRUE(peer.Connected);
    peer.Send("sh");
    PumpUntil([] { return false; }, 50);
    EXPECT_FALSE(peer.Ended());
    peer.Send("ow\n");
    EXPECT_TRUE(PumpUntil([&] { return peer.Ended(); }));
    EXPECT_EQ(peer.Reply, QByteArray("ok\n"));
    EXPECT_EQ(shown, 1);
}

TEST_F(SingleInstanceServeTest, SocketIsForTheUserOnlyWhateverTheUmask)
{
    const mode_t saved = umask(0);
    TSingleInstance instance(path);
    instance.OnShowSettings = CountShown();
    const bool claimed = instance.Claim();
    const mode_t during = umask(saved);
    ASSERT_TRUE(claimed);
    EXPECT_EQ(during, 0u) << "the process umask was not given back";
    struct stat file{};
    ASSERT_EQ(stat(QFile::encodeName(path).constData(), &file), 0);
    EXPECT_TRUE(S_ISSOCK(file.st_mode));
    EXPECT_EQ(file.st_mode & 07777, 0600u);
}

TEST_F(SingleInstanceServeTest, EndedInstanceRemovesItsSocket)
{
    {
        TSingleInstance instance(path);
    instance.OnShowSettings = CountShown();
        ASSERT_TRUE(instance.Claim());
        ASSERT_TRUE(QFile::exists(path));
    }
    EXPECT_FALSE(QFile::exists(path));
}

// The path was taken over (say the file was deleted and a new instance
// started): the old instance ending must not cut off the new one.
TEST_F(SingleInstanceServeTest, LaterInstanceStillAnswersAfterTheOldOneEnds)
{
    TSingleInstance instance(path);
    instance.OnShowSettings = CountShown();
    {
        TSingleInstance old(path);
        ASSERT_TRUE(old.Claim());
        ASSERT_TRUE(QFile::remove(path));
        ASSERT_TRUE(instance.Claim());
    }
    ASSERT_TRUE(QFile::exists(path));
    ExpectStillServes();
}

TEST_F(SingleInstanceServeTest, PathTooLongForASocketStartsUnguarded)
{
    const QString longPath = dir.filePath(QString(150, QLatin1Char('x')) + QStringLiteral(".socket"));
    TSingleInstance instance(longPath);
    EXPECT_TRUE(instance.Claim());
    EXPECT_FALSE(QFile::exists(longPath));
}

// A listener that has not taken its earlier connections yet is a running
// instance, however busy, not a leftover to be taken over.
TEST_F(SingleInstanceServeTest, BusyListenerIsNotTakenOver)
{
    const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_un address = AddressOf(path);
    ASSERT_EQ(bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 0), 0);
    // Fill its backlog.
    std::vector<int> waiting;
    for (int i = 0; i < 16; ++i)
    {
        const int peer = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        waiting.push_back(peer);
        if (connect(peer, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0)
            break;
    }
    ASSERT_EQ(errno, EAGAIN);

    TSingleInstance later(path);
    EXPECT_FALSE(later.Claim());
    EXPECT_FALSE(later.Acknowledged);
    for (const int peer : waiting)
        close(peer);
    close(listener);
}

} // namespace

TEST(SingleInstanceName, OneDisplayOneSocketName)
{
    const struct
    {
        const char* platform;
        const char* display;
        const char* expected;
    } cases[] = {
        {"xcb", ":0", "_0"},
        {"xcb", ":0.0", "_0"}, // the screen does not make another display
        {"xcb", ":0.12", "_0"},
        {"xcb", "host.example:10.1", "host.example_10"},
        {"xcb", ":0.", "_0."},
        {"xcb", ":0.x", "_0.x"},
        {"xcb", "", "xcb"},
        {"xcb", "../../x y", ".._.._x_y"},
        {"wayland", "", "wayland-1"},
        {"wayland-egl", "", "wayland-1"},
        {"offscreen", ":0", "offscreen"},
        {"", "", "none"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TSingleInstance::DisplayNameFor(QString::fromUtf8(c.platform), QString::fromUtf8(c.display),
                                                  QStringLiteral("1")),
                  QString::fromUtf8(c.expected))
            << c.platform << " " << c.display;
}
