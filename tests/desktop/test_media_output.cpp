#include "desktop/MediaPlayer.h"
#include "support/TestHelpers.h"

#include <QAudioDevice>
#include <QElapsedTimer>
#include <QFile>
#include <QMediaDevices>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

// The audible path: a private sound server with a null output, its monitor
// recorded while the player plays. Skipped where no sound server is installed.

namespace
{
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

    ~PrivateSoundServer() { StopProcess(FServer); }

    QString Socket;

private:
    QTemporaryDir FDir;
    QProcess FServer;
};
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

    TempFolder dir("media");
    const std::string path = dir.Write("tone.wav", ToneWave(1500, 12000));

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
    player.FileName = path;
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
        StopProcess(recorder);
        const QByteArray pcm = recorder.readAllStandardOutput();
        int peak = 0;
        for (qsizetype i = 0; i + 1 < pcm.size(); i += 2)
            peak = std::max(peak, std::abs(int(int16_t(uint8_t(pcm[i]) | (uint8_t(pcm[i + 1]) << 8)))));
        EXPECT_GT(pcm.size(), 8000) << "the recorder heard nothing at all";
        EXPECT_GT(peak, 3000) << "the tone did not reach the output";
    }
}
