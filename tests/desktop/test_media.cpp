#include "desktop/MediaPlayer.h"
#include "support/TestHelpers.h"

#include <QElapsedTimer>
#include <QFile>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace
{
const std::string DefaultSound = TERNBELL_RUNTIME_DIR "/notify.wav";

class MediaPlayerTest : public ::testing::Test
{
protected:
    TempFolder Dir{"media"};
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
    std::string noFormat = good.substr(0, 12) + good.substr(36);
    std::string noChannels = good;
    noChannels.replace(22, 2, std::string(2, '\0'));
    std::string noRate = good;
    noRate.replace(24, 4, std::string(4, '\0'));
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
        {"no format before the data", noFormat, noFormat.size(), false},
        {"format without channels", noChannels, noChannels.size(), false},
        {"format without a sample rate", noRate, noRate.size(), false},
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
    // "Kl\xc3\xa4nge.wav" in the desktop code page names the file "Klänge.wav".
    const QString path = QString::fromStdString(Dir.Path()) + QStringLiteral("/Kl\u00e4nge.wav");
    ASSERT_TRUE(QFile::copy(QString::fromStdString(DefaultSound), path));
    Player.FileName = Dir.Path() + "/Kl\xc3\xa4nge.wav";
    EXPECT_NO_THROW(Player.Open());
    EXPECT_TRUE(Player.IsOpen());
}

TEST_F(MediaPlayerTest, BadFilesFailAtOpenAndLeaveThePlayerClosed)
{
    const std::string chime = ReadFile(DefaultSound);
    ASSERT_FALSE(chime.empty());
    const std::string files[] = {
        Dir.File("missing.wav"),
        Dir.Write("text.wav", "This is not a sound at all.\n"),
        Dir.Write("cut.wav", chime.substr(0, chime.size() / 2)),
        Dir.Write("header.wav", chime.substr(0, 30)),
        Dir.Write("empty.wav", ""),
        Dir.Path(),  // a folder
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

// Open reads only the layout; samples that do not decode are found by the
// first play, which fails with the decoder's reason and keeps the file.
TEST_F(MediaPlayerTest, SamplesThatDoNotDecodeFailThePlayNotTheOpen)
{
    std::string odd = ToneWave(100);
    odd.replace(20, 2, std::string("\x34\x12", 2));  // a format tag no decoder knows
    Player.FileName = Dir.Write("odd.wav", odd);
    ASSERT_NO_THROW(Player.Open());
    EXPECT_TRUE(Player.IsOpen());
    EXPECT_EQ(Player.Position(), 0);
    EXPECT_THROW(Player.Play(), EMediaError);
    EXPECT_FALSE(Player.IsPlaying());
    EXPECT_TRUE(Player.IsOpen());
    EXPECT_THROW(Player.Length(), EMediaError);

    Player.FileName = DefaultSound;
    Player.Open();
    EXPECT_GT(Player.Length(), 200);
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
    Player.FileName = Dir.Write("long.wav", ToneWave(4000));
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
    Player.FileName = Dir.Write("tone.wav", ToneWave(1500));
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
    Player.FileName = Dir.Write("tone.wav", ToneWave(2000));
    Player.Open();
    Player.Play();
    Player.Close();
    EXPECT_FALSE(Player.IsOpen());
    EXPECT_FALSE(Player.IsPlaying());
    EXPECT_EQ(Player.Length(), 0);
    WaitUntil([] { return false; }, 100);  // nothing queued may touch the closed player
    EXPECT_FALSE(Player.IsPlaying());
}
