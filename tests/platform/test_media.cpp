#include "platform/MediaPlayer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>

namespace
{
const std::string DefaultSound = TERNBELL_RUNTIME_DIR "/notify.wav";

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

void AppendLE(std::string& out, uint32_t value, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        out += char((value >> (8 * i)) & 0xFF);
}

// A mono 16-bit wave of a quiet tone, `ms` long.
std::string ToneWave(int ms, int rate = 8000)
{
    const uint32_t frames = uint32_t(rate) * uint32_t(ms) / 1000;
    std::string data;
    for (uint32_t i = 0; i < frames; ++i)
        AppendLE(data, uint32_t(int16_t(3000 * std::sin(i * 0.3))) & 0xFFFF, 2);
    std::string wave = "RIFF";
    AppendLE(wave, uint32_t(36 + data.size()), 4);
    wave += "WAVEfmt ";
    AppendLE(wave, 16, 4);
    AppendLE(wave, 1, 2);  // PCM
    AppendLE(wave, 1, 2);  // mono
    AppendLE(wave, uint32_t(rate), 4);
    AppendLE(wave, uint32_t(rate) * 2, 4);
    AppendLE(wave, 2, 2);
    AppendLE(wave, 16, 2);
    wave += "data";
    AppendLE(wave, uint32_t(data.size()), 4);
    return wave + data;
}

class MediaPlayerTest : public ::testing::Test
{
protected:
    std::string Write(const char* name, const std::string& bytes)
    {
        const QString path = Dir.filePath(QString::fromLatin1(name));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes.data(), qint64(bytes.size()));
        return path.toStdString();
    }

    std::string ReadDefault()
    {
        QFile file(QString::fromStdString(DefaultSound));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return file.readAll().toStdString();
    }

    QTemporaryDir Dir;
    TMediaPlayer Player;
};
}

TEST(WaveLayout, TellsWholeFilesFromBrokenOnes)
{
    const std::string good = ToneWave(100);
    struct Case
    {
        const char* name;
        std::string head;
        uint64_t size;
        bool ok;
    };
    std::string unknownLength = good;
    unknownLength.replace(40, 4, std::string(4, '\xFF'));
    std::string listFirst = good.substr(0, 12) + "LIST" + std::string("\x05\0\0\0", 4) + "abcde" + '\0'
                            + good.substr(12);
    const Case cases[] = {
        {"whole", good, good.size(), true},
        {"data cut short", good.substr(0, 200), 200, false},
        {"header only", good.substr(0, 44), 44, false},
        {"cut inside the chunks", good.substr(0, 30), 30, false},
        {"too short for RIFF", "RIFF", 4, false},
        {"not RIFF", "Hello, this is a text file.\n", 28, false},
        {"RIFF but not WAVE", "RIFF\x10\0\0\0AVI LIST", 16, false},
        {"length unknown", unknownLength, unknownLength.size(), true},
        {"odd chunk padded", listFirst, listFirst.size(), true},
        {"chunks beyond the head", good.substr(0, 20), good.size(), true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(WaveLayoutError(c.head, c.size).empty(), c.ok) << c.name;
}

TEST_F(MediaPlayerTest, OpensTheDefaultChime)
{
    Player.FileName = DefaultSound;
    Player.Open();
    EXPECT_TRUE(Player.IsOpen());
    EXPECT_EQ(Player.Position(), 0);
    EXPECT_GT(Player.Length(), 200);
    EXPECT_LT(Player.Length(), 3000);
}

TEST_F(MediaPlayerTest, FileNamesAreDesktopText)
{
    // "Kl\xe4nge.wav" in the desktop code page names the file "Klänge.wav".
    const QString path = Dir.filePath(QStringLiteral("Kl\u00e4nge.wav"));
    ASSERT_TRUE(QFile::copy(QString::fromStdString(DefaultSound), path));
    Player.FileName = Dir.path().toStdString() + "/Kl\xe4nge.wav";
    EXPECT_NO_THROW(Player.Open());
    EXPECT_TRUE(Player.IsOpen());
}

TEST_F(MediaPlayerTest, BadFilesFailAtOpenAndLeaveThePlayerClosed)
{
    const std::string chime = ReadDefault();
    const std::string files[] = {
        (Dir.path() + "/missing.wav").toStdString(),
        Write("text.wav", "This is not a sound at all.\n"),
        Write("cut.wav", chime.substr(0, chime.size() / 2)),
        Write("header.wav", chime.substr(0, 30)),
        Write("empty.wav", ""),
        Dir.path().toStdString(),  // a folder
        "",
    };
    for (const std::string& file : files)
    {
        Player.FileName = DefaultSound;
        Player.Open();
        Player.FileName = file;
        EXPECT_THROW(Player.Open(), EMediaError) << file;
        EXPECT_FALSE(Player.IsOpen()) << file;
        EXPECT_THROW(Player.Play(), EMediaError) << file;
    }
}

TEST_F(MediaPlayerTest, PlayWithoutOpenSaysNoDeviceIsOpen)
{
    try
    {
        Player.Play();
        FAIL() << "Play did not throw";
    }
    catch (const EMediaError& e)
    {
        EXPECT_EQ(e.Message, "No MCI device open.");
    }
    Player.FileName = DefaultSound;
    Player.Open();
    Player.Close();
    EXPECT_THROW(Player.Play(), EMediaError);
}

TEST_F(MediaPlayerTest, PlayReturnsWhileTheSoundGoesOn)
{
    Player.FileName = Write("long.wav", ToneWave(4000));
    Player.Open();
    QElapsedTimer clock;
    clock.start();
    EXPECT_NO_THROW(Player.Play());
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_TRUE(Player.IsPlaying());
    ASSERT_TRUE(WaitUntil([&] { return Player.Position() > 0; }, 3000));
    Player.Stop();
    EXPECT_FALSE(Player.IsPlaying());
}

TEST_F(MediaPlayerTest, PositionIsKeptBetweenPlaysAndNotRewound)
{
    Player.FileName = Write("tone.wav", ToneWave(1500));
    Player.Open();
    Player.Play();
    ASSERT_TRUE(WaitUntil([&] { return Player.Position() >= 200; }, 3000));
    Player.Stop();
    const int stopped = Player.Position();
    EXPECT_GT(stopped, 0);
    EXPECT_LT(stopped, Player.Length());
    WaitUntil([] { return false; }, 100);
    EXPECT_EQ(Player.Position(), stopped) << "a stopped player stands still";

    Player.Play();  // goes on from where it stopped
    EXPECT_GE(Player.Position(), stopped);
    ASSERT_TRUE(WaitUntil([&] { return !Player.IsPlaying(); }, 5000));
    EXPECT_EQ(Player.Position(), Player.Length());

    Player.Play();  // at the end and not rewound: nothing more to play
    EXPECT_FALSE(Player.IsPlaying());
    EXPECT_EQ(Player.Position(), Player.Length());

    Player.AutoRewind = true;
    Player.Play();
    EXPECT_TRUE(Player.IsPlaying());
    EXPECT_LT(Player.Position(), Player.Length() / 2);
    Player.Stop();

    Player.AutoRewind = false;
    Player.Open();  // opening again starts from the beginning
    EXPECT_EQ(Player.Position(), 0);
}

TEST_F(MediaPlayerTest, CloseWhilePlayingStopsAndForgetsTheFile)
{
    Player.FileName = Write("tone.wav", ToneWave(2000));
    Player.Open();
    Player.Play();
    Player.Close();
    EXPECT_FALSE(Player.IsOpen());
    EXPECT_FALSE(Player.IsPlaying());
    EXPECT_EQ(Player.Length(), 0);
    WaitUntil([] { return false; }, 100);  // nothing queued may touch the closed player
    EXPECT_FALSE(Player.IsPlaying());
}
