#include "desktop/Animate.h"
#include "desktop/DecoderModule.h"
#include "platform/Exception.h"
#include "support/TestHelpers.h"

#include <QFile>
#include <gtest/gtest.h>

#include <fstream>

#include <set>
#include <string>
#include <vector>

namespace
{
const std::string DefaultAnimation = TERNBELL_RUNTIME_DIR "/notify.avi";

// The frame numbers an active control shows during `ms`, in order, each
// change recorded once.
std::vector<int> WatchFrames(TAnimate& animate, int ms)
{
    std::vector<int> seen{animate.CurrentFrame()};
    WaitUntil([&] {
        if (animate.CurrentFrame() != seen.back())
            seen.push_back(animate.CurrentFrame());
        return false;
    }, ms);
    return seen;
}
}

TEST(Animation, DefaultFileIsASmallLoopOfEnoughFrames)
{
    const TAnimationClip clip = LoadAnimation(DefaultAnimation);
    ASSERT_GE(clip.Frames.size(), 9u);
    for (const QImage& frame : clip.Frames)
    {
        EXPECT_EQ(frame.size(), clip.Frames.front().size());
        EXPECT_LE(frame.width(), 73);
        EXPECT_LE(frame.height(), 63);
    }
    EXPECT_NE(clip.Frames[0], clip.Frames[2]) << "the frames show movement";
    EXPECT_GE(clip.FrameInterval, 40);
    EXPECT_LE(clip.FrameInterval, 500);
}

TEST(Animation, UndecodableFilesThrowAndChangeNothing)
{
    TempFolder dir("animate");
    const std::string avi = ReadFile(DefaultAnimation);
    ASSERT_FALSE(avi.empty());
    const std::string bad[] = {
        dir.File("missing.avi"),
        dir.Write("text.avi", "Just some words, not a video.\n"),
        dir.Write("head.avi", avi.substr(0, 64)),
        dir.Write("sound.avi", ReadFile(TERNBELL_RUNTIME_DIR "/notify.wav")),
        dir.Write("empty.avi", ""),
    };
    TAnimate animate;
    animate.SetFileName(DefaultAnimation);
    const int frames = animate.FrameCount();
    for (const std::string& file : bad)
    {
        EXPECT_THROW(animate.SetFileName(file), Exception) << file;
        EXPECT_EQ(animate.FileName(), DefaultAnimation) << file;
        EXPECT_EQ(animate.FrameCount(), frames) << file;
    }
}

TEST(Animation, FileNamesAreDesktopText)
{
    TempFolder dir("animate");
    ASSERT_TRUE(QFile::copy(QString::fromStdString(DefaultAnimation),
                            QString::fromStdString(dir.Path()) + QStringLiteral("/Gl\u00f6ckchen.avi")));
    TAnimate animate;
    const std::string name = dir.Path() + "/Gl\xf6" "ckchen.avi";
    EXPECT_NO_THROW(animate.SetFileName(name));
    EXPECT_EQ(animate.FileName(), name);
    EXPECT_GE(animate.FrameCount(), 9);
}

TEST(Animation, FramesAdvanceOnlyWhileActive)
{
    TAnimate animate;
    animate.SetActive(true);
    EXPECT_FALSE(animate.Active()) << "nothing loaded, nothing to play";

    animate.SetFileName(DefaultAnimation);
    EXPECT_EQ(animate.CurrentFrame(), 1);
    EXPECT_FALSE(animate.Active());
    animate.SetActive(true);
    EXPECT_TRUE(animate.Active());
    ASSERT_TRUE(WaitUntil([&] { return animate.CurrentFrame() >= 3; }, 5000));

    animate.SetActive(false);
    const int stoppedAt = animate.CurrentFrame();
    WaitUntil([] { return false; }, 3 * animate.FrameInterval());
    EXPECT_EQ(animate.CurrentFrame(), stoppedAt);

    animate.SetFileName("");
    EXPECT_EQ(animate.FrameCount(), 0);
    EXPECT_EQ(animate.CurrentFrame(), 0);
}

TEST(Animation, StopFrameBoundsTheLoop)
{
    TAnimate animate;
    animate.SetFileName(DefaultAnimation);
    ASSERT_GT(animate.FrameCount(), 8);
    animate.StopFrame = 8;
    animate.SetActive(true);
    const std::vector<int> seen = WatchFrames(animate, 22 * animate.FrameInterval());
    const std::set<int> distinct(seen.begin(), seen.end());
    EXPECT_EQ(*distinct.begin(), 1);
    EXPECT_EQ(*distinct.rbegin(), 8);
    // 8 is followed by 1: the loop starts over instead of running on.
    bool wrapped = false;
    for (size_t i = 1; i < seen.size(); ++i)
        if (seen[i - 1] == 8)
        {
            EXPECT_EQ(seen[i], 1);
            wrapped = true;
        }
    EXPECT_TRUE(wrapped);
    EXPECT_TRUE(animate.Active()) << "no repetition limit: runs on";
}

TEST(Animation, RepetitionsEndOnTheStopFrame)
{
    TAnimate animate;
    animate.SetFileName(DefaultAnimation);
    animate.StopFrame = 3;
    animate.Repetitions = 2;
    animate.SetActive(true);
    ASSERT_TRUE(WaitUntil([&] { return !animate.Active(); }, 40 * animate.FrameInterval()));
    EXPECT_EQ(animate.CurrentFrame(), 3);
}

TEST(Animation, DrawsTheFrameCentredOrAtTheCorner)
{
    const TAnimationClip clip = LoadAnimation(DefaultAnimation);
    const QImage first = clip.Frames.front().convertToFormat(QImage::Format_RGB32);
    TAnimate animate;
    animate.resize(73, 63);
    animate.SetFileName(DefaultAnimation);

    animate.Center = false;
    QImage shot = animate.grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(shot.copy(QRect(QPoint(0, 0), first.size())), first);

    animate.Center = true;
    shot = animate.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QPoint centre((73 - first.width()) / 2, (63 - first.height()) / 2);
    EXPECT_EQ(shot.copy(QRect(centre, first.size())), first);
}

namespace
{

bool Mapped(const std::string& library)
{
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line))
        if (line.find(library) != std::string::npos)
            return true;
    return false;
}

} // namespace

// A program that only sits in the tray must not carry the decoding libraries;
// they come in with the first animation.
TEST(DecoderModule, MappedOnlyOnceSomethingIsDecoded)
{
    if (DecoderModuleLoaded())
        GTEST_SKIP() << "another test in this process decoded first";
    EXPECT_FALSE(Mapped("libavcodec"));
    const TAnimationClip clip = LoadAnimation(std::string(TERNBELL_RUNTIME_DIR) + "/notify.avi");
    EXPECT_FALSE(clip.Frames.empty());
    EXPECT_TRUE(DecoderModuleLoaded());
    EXPECT_TRUE(Mapped("libavcodec"));
}
