// The status for bars: the line's form and classes, TEXT filled for i3blocks
// and polybar, and the status through the real one-instance channel with the
// real reader (`ternbell --status`): one answer, followers told of every
// change, a hundred at once closing at random, and one that never reads.

#include "app/SingleInstance.h"
#include "app/StatusChannel.h"
#include "app/StatusClient.h"
#include "app/StatusLine.h"
#include "support/TestHelpers.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <random>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace
{

TStatus Status(int count, bool failed = false, bool paused = false, bool quiet = false)
{
    TStatus s;
    s.Mail.Count = count;
    s.Mail.Failed = failed;
    s.Paused = paused;
    s.Quiet = quiet;
    return s;
}

TEST(StatusLine, ClassesInTheirOrder)
{
    const struct
    {
        TStatus status;
        const char* kind;
    } cases[] = {
        {Status(0), "none"},
        {Status(3), "new"},
        {Status(3, false, false, true), "quiet"},
        {Status(3, true, false, true), "error"},
        {Status(0, true, true, true), "paused"},
    };
    for (const auto& c : cases)
    {
        EXPECT_EQ(StatusClass(c.status), c.kind);
        const QJsonObject json = QJsonDocument::fromJson(QByteArray::fromStdString(StatusJson(c.status))).object();
        EXPECT_EQ(json.value(QStringLiteral("class")).toString().toStdString(), c.kind);
        EXPECT_EQ(json.value(QStringLiteral("alt")).toString().toStdString(), c.kind);
        EXPECT_EQ(json.value(QStringLiteral("text")).toString().toInt(), c.status.Mail.Count);
    }
}

// Names, errors and hints come from servers and the user: whatever they
// hold, the line stays one line of JSON that reads back as it was.
TEST(StatusLine, IsOneLineOfJsonWhateverTheTextsHold)
{
    TStatus s = Status(3);
    s.Mail.Hint = "There are 3 messages to read (last check: 10:00:00)";
    s.Mail.Accounts = {{"Home \"quoted\" \\ back", 2, ""}, {"W\xc3\xb6rk\ttab", 1, "Line one\r\nline two\x01"}};
    s.Checked = "2026-12-09T10:00:00+01:00";
    const std::string line = StatusJson(s);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    EXPECT_EQ(line.rfind("{\"text\": \"3\", \"alt\": \"new\", \"class\": \"new\", \"tooltip\": ", 0), 0u) << line;
    QJsonParseError error{};
    const QJsonObject json = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error).object();
    ASSERT_EQ(error.error, QJsonParseError::NoError) << line;
    EXPECT_EQ(json.value(QStringLiteral("count")).toInt(), 3);
    EXPECT_EQ(json.value(QStringLiteral("quiet")).toBool(true), false);
    EXPECT_EQ(json.value(QStringLiteral("checked")).toString().toStdString(), s.Checked);
    const QJsonArray accounts = json.value(QStringLiteral("accounts")).toArray();
    ASSERT_EQ(accounts.size(), 2);
    EXPECT_EQ(accounts[0].toObject().value(QStringLiteral("name")).toString(), QStringLiteral("Home \"quoted\" \\ back"));
    EXPECT_EQ(accounts[1].toObject().value(QStringLiteral("name")).toString(), QStringLiteral("W\u00f6rk\ttab"));
    EXPECT_EQ(accounts[1].toObject().value(QStringLiteral("error")).toString(),
              QStringLiteral("Line one\r\nline two\u0001"));
    EXPECT_NE(StatusJson(Status(0)).find("\"checked\": null"), std::string::npos);
}

TEST(StatusLine, FormatFillsCountAccountsAndClass)
{
    TStatus s = Status(3);
    s.Mail.Accounts = {{"Home", 2, ""}, {"{count}", 1, ""}, {"Idle", 0, ""}, {"Work", 0, "refused"}};
    const std::string line = StatusJson(s);
    const struct
    {
        const char* format;
        const char* text;
    } cases[] = {
        {"{count}", "3"},
        {"mail {count} ({class})", "mail 3 (new)"},
        {"{accounts}", "Home: 2, {count}: 1, Work: !"},
        {"{unknown} {count", "{unknown} {count"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatStatus(c.format, line), std::optional<std::string>(c.text)) << c.format;
    EXPECT_EQ(FormatStatus("{count}", "not json"), std::nullopt);
}

TEST(StatusOptions, ReadFromTheCommandLine)
{
    const auto parse = [](std::vector<const char*> args, std::string& misuse) {
        args.insert(args.begin(), "ternbell");
        return StatusOptionsOf(static_cast<int>(args.size()), args.data(), misuse);
    };
    std::string misuse;
    EXPECT_FALSE(parse({}, misuse).has_value());
    const auto follow = parse({"--status", "--follow", "--format", "{count}"}, misuse);
    ASSERT_TRUE(follow.has_value());
    EXPECT_TRUE(follow->Follow);
    EXPECT_EQ(follow->Format, std::optional<std::string>("{count}"));
    EXPECT_FALSE(parse({"--status", "--format"}, misuse).has_value());
    EXPECT_NE(misuse.find("--format"), std::string::npos);
    misuse.clear();
    EXPECT_FALSE(parse({"--follow"}, misuse).has_value());
    EXPECT_FALSE(misuse.empty());

    // The quiet's options send their request and print the status after it.
    const struct
    {
        std::vector<const char*> Args;
        const char* Request; // nullptr: refused
    } quiet[] = {
        {{"--quiet", "30"}, "quiet 30\n"}, {{"--resume"}, "resume\n"}, {{"--quiet"}, nullptr},
        {{"--quiet", "0"}, nullptr},        {{"--quiet", "-5"}, nullptr}, {{"--quiet", "1e3"}, nullptr},
        {{"--quiet", "9999999"}, nullptr},
    };
    for (const auto& c : quiet)
    {
        misuse.clear();
        const auto options = parse(c.Args, misuse);
        ASSERT_EQ(options.has_value(), c.Request != nullptr) << c.Args.size();
        if (!c.Request)
        {
            EXPECT_NE(misuse.find("--quiet"), std::string::npos);
            continue;
        }
        EXPECT_EQ(options->Request, c.Request);
        EXPECT_EQ(QuietMinutesOf(options->Request), c.Args.size() > 1 ? std::optional<int>(30) : std::nullopt);
    }
}

// What a reader printed, read from its pipe.
class TPipe
{
public:
    TPipe()
    {
        int ends[2];
        EXPECT_EQ(::pipe2(ends, O_CLOEXEC), 0);
        Read = TDescriptor(ends[0]);
        Write = TDescriptor(ends[1]);
    }
    std::string Drain()
    {
        ::fcntl(Read.Get(), F_SETFL, O_NONBLOCK);
        std::string text;
        char chunk[4096];
        for (ssize_t got; (got = ::read(Read.Get(), chunk, sizeof chunk)) > 0;)
            text.append(chunk, static_cast<std::size_t>(got));
        return text;
    }
    TDescriptor Read;
    TDescriptor Write;
};

int Lines(const std::string& text)
{
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

class StatusChannelTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        path = dir.filePath(QStringLiteral("ternbell-test.socket"));
        instance = std::make_unique<TSingleInstance>(path);
        instance->OnRequest = [this](const QByteArray& request, TDescriptor& connection) {
            return channel.Take(request, connection);
        };
        ASSERT_TRUE(instance->Claim());
        channel.Publish(StatusJson(Status(1)));
    }

    // Runs the reader on a thread of its own while this one turns the
    // instance's event loop, `each` between the turns.
    int Reader(TStatusOptions options, int out, const std::function<void()>& each = {})
    {
        std::atomic<bool> done{false};
        int code = -1;
        std::thread reader([&] {
            code = RunStatus(options, {path.toStdString()}, out, errors.Write.Get());
            done = true;
        });
        while (!done)
        {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            if (each)
                each();
        }
        reader.join();
        return code;
    }

    QTemporaryDir dir;
    QString path;
    TStatusChannel channel;
    std::unique_ptr<TSingleInstance> instance;
    TPipe errors;
};

TEST_F(StatusChannelTest, OneAnswerThenTheConnectionEnds)
{
    TPipe out;
    EXPECT_EQ(Reader({}, out.Write.Get()), 0);
    EXPECT_EQ(out.Drain(), StatusJson(Status(1)) + "\n");
    EXPECT_EQ(Reader({false, "{count} {class}", {}}, out.Write.Get()), 0);
    EXPECT_EQ(out.Drain(), "1 new\n");
    EXPECT_TRUE(WaitUntil([&] { return channel.Readers() == 0; }, 2000));

    // The settings' request still works beside it.
    int shown = 0;
    instance->OnShowSettings = [&] { ++shown; };
    std::atomic<bool> done{false};
    std::thread later([&] {
        TSingleInstance second(path);
        EXPECT_FALSE(second.Claim());
        done = true;
    });
    while (!done)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    later.join();
    EXPECT_EQ(shown, 1);
}

TEST(StatusClient, NoInstanceSaysSo)
{
    QTemporaryDir dir;
    TPipe out, errors;
    EXPECT_EQ(RunStatus({}, {dir.filePath(QStringLiteral("none.socket")).toStdString()}, out.Write.Get(),
                        errors.Write.Get()),
              1);
    EXPECT_EQ(errors.Drain(), "ternbell is not running\n");
    EXPECT_EQ(out.Drain(), "");
}

// A follower gets a line at once and one at every change, only when the
// line changed; it ends when its output is closed, and the instance lets
// its connection go.
TEST_F(StatusChannelTest, FollowerIsToldOfEachChangeUntilItsOutputCloses)
{
    TPipe out;
    int published = 1;
    std::string seen;
    const int code = Reader({true, "{count}", {}}, out.Write.Get(), [&] {
        seen += out.Drain();
        if (Lines(seen) == published && published < 5)
        {
            channel.Publish(StatusJson(Status(published))); // the same again: not sent
            channel.Publish(StatusJson(Status(++published)));
        }
        else if (Lines(seen) == 5)
            out.Read.Reset();
    });
    EXPECT_EQ(code, 0);
    EXPECT_EQ(seen, "1\n2\n3\n4\n5\n");
    EXPECT_TRUE(WaitUntil([&] { return channel.Readers() == 0; }, 2000));
}

// A hundred followers at once, each closing at a random moment while the
// status changes, and one that never reads: every follower is answered,
// the one that does not read is dropped, and the instance holds no
// connection afterwards.
TEST_F(StatusChannelTest, HundredFollowersAtOnceAndOneThatNeverReads)
{
    constexpr int Followers = 100;
    // The one that never reads: its socket fills, then its buffer here. It
    // connects first, as nothing here accepts while the others crowd in.
    TDescriptor silent(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = path.toLocal8Bit();
    std::memcpy(address.sun_path, name.constData(), name.size());
    ASSERT_EQ(::connect(silent.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::send(silent.Get(), "follow\n", 7, MSG_NOSIGNAL), 7);

    std::vector<std::unique_ptr<TPipe>> outs;
    std::vector<std::thread> readers;
    std::atomic<int> ended{0};
    std::vector<int> codes(Followers, -1);
    for (int i = 0; i < Followers; ++i)
    {
        outs.push_back(std::make_unique<TPipe>());
        // Taken here: the list grows while the earlier readers run.
        const int out = outs.back()->Write.Get();
        readers.emplace_back([&, i, out] {
            codes[i] = RunStatus({true, std::nullopt, {}}, {path.toStdString()}, out, errors.Write.Get());
            ++ended;
        });
    }
    std::mt19937 random(47);
    std::vector<bool> closed(Followers, false);
    std::vector<std::string> seen(Followers);
    int change = 1;
    const std::string padding(1000, 'x');
    for (int turn = 0; (ended < Followers || channel.Dropped() == 0) && turn < 20000; ++turn)
    {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        TStatus s = Status(++change);
        s.Mail.Hint = padding; // a full buffer comes sooner
        channel.Publish(StatusJson(s));
        for (int i = 0; i < Followers; ++i)
        {
            if (closed[i])
                continue;
            seen[i] += outs[i]->Drain();
            // Each closes once it was answered, at a moment of its own.
            if (Lines(seen[i]) > 0 && random() % 50 == 0)
            {
                outs[i]->Read.Reset();
                closed[i] = true;
            }
        }
    }
    for (std::thread& t : readers)
        t.join();
    EXPECT_EQ(ended, Followers);
    for (int i = 0; i < Followers; ++i)
    {
        EXPECT_EQ(codes[i], 0) << i;
        EXPECT_GE(Lines(seen[i]), 1) << i;
        EXPECT_EQ(seen[i].rfind("{\"text\": ", 0), 0u) << i;
    }
    EXPECT_EQ(channel.Dropped(), 1u) << "only the one that never reads";
    EXPECT_TRUE(WaitUntil([&] { return channel.Readers() == 0; }, 5000)) << channel.Readers();
    EXPECT_EQ(errors.Drain(), "");
}

} // namespace
