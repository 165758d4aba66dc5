#include "platform/MediaPlayer.h"

#include <QAudioDevice>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMediaDevices>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>

// The audible path: a private sound server with a null output, its monitor
// recorded while the player plays. Skipped where no sound server is installed.

namespace
{
bool WaitUntil(const std::function<bool()>& done, int limitMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done())
    {
        if (clock.elapsed() > limitMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

void Stop(QProcess& process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000))
    {
        process.kill();
        process.waitForFinished(5000);
    }
}

class PrivateSoundServer
{
public:
    bool Start()
    {
        if (!FDir.isValid())
            return false;
        Socket = FDir.filePath(QStringLiteral("native"));
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), FDir.path());
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), FDir.path());
        FServer.setProcessEnvironment(env);
        FServer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        FServer.start(QStringLiteral("pulseaudio"),
                      {QStringLiteral("-n"), QStringLiteral("--daemonize=no"), QStringLiteral("--exit-idle-time=-1"),
                       QStringLiteral("--use-pid-file=no"), QStringLiteral("--log-level=error"),
                       QStringLiteral("-L"), QStringLiteral("module-null-sink sink_name=quiet"),
                       QStringLiteral("-L"),
                       QStringLiteral("module-native-protocol-unix auth-anonymous=1 socket=") + Socket});
        if (!FServer.waitForStarted(5000))
            return false;
        return WaitUntil([&] { return QFile::exists(Socket); }, 10000);
    }

    ~PrivateSoundServer() { Stop(FServer); }

    QString Socket;

private:
    QTemporaryDir FDir;
    QProcess FServer;
};

std::string ToneWave(int ms, int rate = 8000)
{
    std::string data;
    for (int i = 0; i < rate * ms / 1000; ++i)
    {
        const auto v = uint16_t(int16_t(12000 * std::sin(i * 0.3)));
        data += char(v & 0xFF);
        data += char(v >> 8);
    }
    const auto le = [](uint32_t v, int n) {
        std::string s;
        for (int i = 0; i < n; ++i)
            s += char((v >> (8 * i)) & 0xFF);
        return s;
    };
    return "RIFF" + le(uint32_t(36 + data.size()), 4) + "WAVEfmt " + le(16, 4) + le(1, 2) + le(1, 2)
           + le(uint32_t(rate), 4) + le(uint32_t(rate * 2), 4) + le(2, 2) + le(16, 2) + "data"
           + le(uint32_t(data.size()), 4) + data;
}
}

TEST(MediaOutput, PlaysThroughTheSoundServerWithoutBlocking)
{
    if (QStandardPaths::findExecutable(QStringLiteral("pulseaudio")).isEmpty())
        GTEST_SKIP() << "no pulseaudio here: the audible path cannot be tested (the silent one is)";
    PrivateSoundServer server;
    ASSERT_TRUE(server.Start()) << "the private sound server did not come up";
    // Before the first use of the audio devices in this process.
    setenv("PULSE_SERVER", ("unix:" + server.Socket).toLocal8Bit().constData(), 1);
    ASSERT_TRUE(WaitUntil([] { return !QMediaDevices::defaultAudioOutput().isNull(); }, 5000))
        << "the sound server offers no output";

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("tone.wav"));
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        const std::string wave = ToneWave(1500);
        file.write(wave.data(), qint64(wave.size()));
    }

    // Record what reaches the null output, when the recorder is there.
    QProcess recorder;
    const bool record = !QStandardPaths::findExecutable(QStringLiteral("parec")).isEmpty();
    if (record)
    {
        recorder.start(QStringLiteral("parec"), {QStringLiteral("--server=unix:") + server.Socket,
                                                 QStringLiteral("--device=quiet.monitor"), QStringLiteral("--raw"),
                                                 QStringLiteral("--format=s16le"), QStringLiteral("--channels=1"),
                                                 QStringLiteral("--rate=8000")});
        ASSERT_TRUE(recorder.waitForStarted(5000));
    }

    TMediaPlayer player;
    player.FileName = path.toStdString();
    player.Open();
    QElapsedTimer clock;
    clock.start();
    player.Play();
    EXPECT_LT(clock.elapsed(), 1000) << "Play waits for the sound";
    EXPECT_TRUE(player.IsPlaying());
    ASSERT_TRUE(WaitUntil([&] { return player.Position() >= 300; }, 5000));
    ASSERT_TRUE(WaitUntil([&] { return !player.IsPlaying(); }, 10000));
    EXPECT_EQ(player.Position(), player.Length());

    if (record)
    {
        WaitUntil([] { return false; }, 300);
        Stop(recorder);
        const QByteArray pcm = recorder.readAllStandardOutput();
        int peak = 0;
        for (qsizetype i = 0; i + 1 < pcm.size(); i += 2)
            peak = std::max(peak, std::abs(int(int16_t(uint8_t(pcm[i]) | (uint8_t(pcm[i + 1]) << 8)))));
        EXPECT_GT(pcm.size(), 8000) << "the recorder heard nothing at all";
        EXPECT_GT(peak, 3000) << "the tone did not reach the output";
    }
}
