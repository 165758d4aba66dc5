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
    const std::string name = dir.Path() + "/Gl\xc3\xb6" "ckchen.avi";
    EXPECT_NO_THROW(animate.SetFileName(name));
    EXPECT_EQ(animate.FileName(), name);
    EXPECT_GE(animate.FrameCount(), 9);
}

TEST(Animation, FramesAdvanceOnlyWhileActive)
{
    TAnimate animate;
    animate.show();
    EXPECT_TRUE(animate.Decoded()) << "an animation without a file has nothing to decode";
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
    animate.show();
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
    animate.show();
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

// A RIFF chunk: id, little-endian size, data, padding.
std::string Chunk(const std::string& id, const std::string& data)
{
    std::string out = id;
    for (int i = 0; i < 4; ++i)
        out += char((data.size() >> (8 * i)) & 0xFF);
    out += data;
    if (data.size() & 1)
        out += '\0';
    return out;
}

std::string Le32(uint32_t v)
{
    std::string out;
    for (int i = 0; i < 4; ++i)
        out += char((v >> (8 * i)) & 0xFF);
    return out;
}

// An AVI skeleton: main header, one stream of `type`, `movi` bytes of frames.
std::string Avi(uint32_t frames, uint32_t width, uint32_t height, const std::string& type = "vids",
                std::string movi = std::string(40, 'x'), uint32_t scale = 1)
{
    std::string avih = Le32(125000) + Le32(0) + Le32(0) + Le32(0x10) + Le32(frames) + Le32(0) + Le32(1) +
                       Le32(0) + Le32(width) + Le32(height) + std::string(16, '\0');
    std::string strh = type + "MJPG" + Le32(0) + Le32(0) + Le32(0) + Le32(scale) + Le32(8) + Le32(0) + Le32(frames) +
                       std::string(20, '\0');
    std::string hdrl = "hdrl" + Chunk("avih", avih) + Chunk("LIST", "strl" + Chunk("strh", strh));
    std::string body = "AVI " + Chunk("LIST", hdrl) + Chunk("JUNK", std::string(10, '\0')) +
                       Chunk("LIST", "movi" + movi);
    return Chunk("RIFF", body);
}

} // namespace

TEST(AnimationLayout, TellsPlayableFilesFromBrokenOnes)
{
    const std::string whole = Avi(12, 72, 62);
    const struct
    {
        const char* name;
        std::string bytes;
        uint64_t size; // 0: the bytes' own size
        const char* error;
    } cases[] = {
        {"whole", whole, 0, ""},
        // Without a rate in the stream header the main header's time per
        // frame, in microseconds, counts.
        {"stream_without_rate", Avi(12, 72, 62, "vids", std::string(40, 'x'), 0), 0, ""},
        {"frames_cut_short", whole.substr(0, whole.size() - 10), 0, "its frames are cut short"},
        {"not_riff", "RIFX" + whole.substr(4), 0, "the file cannot be opened as AVI"},
        {"wave_not_avi", whole.substr(0, 8) + "WAVE" + whole.substr(12), 0, "the file cannot be opened as AVI"},
        {"header_list_cut", whole.substr(0, 40), 0, "the file cannot be read"},
        {"sound_stream_only", Avi(12, 72, 62, "auds"), 0, "it holds no video the program can decode"},
        {"no_frames", Avi(0, 72, 62), 0, "it holds no frame"},
        {"too_many_frames", Avi(MaxAnimationFrames + 1, 72, 62), 0, "too many frames"},
        {"huge_picture", Avi(12, 100000, 62), 0, "the picture size is not supported"},
        {"no_picture", Avi(12, 72, 0), 0, "the picture size is not supported"},
        // A file far larger than the head that was read: the frames are the
        // decoder's to check.
        {"head_of_a_large_file", whole, 1u << 30, ""},
        // Sizes near 2^32 must not wrap the offsets.
        {"chunk_size_wraps", whole.substr(0, 12) + Chunk("JUNK", "").replace(4, 4, Le32(0xFFFFFFFF)), 0,
         "the file cannot be read"},
    };
    for (const auto& c : cases)
    {
        TAnimationHeader header;
        const uint64_t size = c.size ? c.size : c.bytes.size();
        EXPECT_EQ(AnimationLayoutError(c.bytes, size, header), c.error) << c.name;
        if (std::string(c.error).empty())
        {
            EXPECT_EQ(header.FrameCount, 12) << c.name;
            EXPECT_EQ(header.Width, 72) << c.name;
            EXPECT_EQ(header.Height, 62) << c.name;
            EXPECT_EQ(header.FrameInterval, 125) << c.name;
        }
    }
}

// A stream header claiming hours per frame once overflowed the conversion
// to milliseconds.
TEST(AnimationLayout, FrameTimesAreBoundedWhateverTheHeaderClaims)
{
    const std::string slow = Avi(12, 72, 62, "vids", std::string(40, 'x'), 0xFFFFFFFFu);
    TAnimationHeader header;
    ASSERT_EQ(AnimationLayoutError(slow, slow.size(), header), "");
    EXPECT_EQ(header.FrameInterval, 10000);
}

TEST(AnimationLayout, TheDefaultFileAgreesWithItsDecodedFrames)
{
    const TAnimationHeader header = ReadAnimationHeader(DefaultAnimation);
    const TAnimationClip clip = LoadAnimation(DefaultAnimation);
    EXPECT_EQ(header.FrameCount, int(clip.Frames.size()));
    EXPECT_EQ(header.FrameInterval, clip.FrameInterval);
    EXPECT_EQ(QSize(header.Width, header.Height), clip.Frames.front().size());
}

// A window that is never shown must not pay for decoding its animation,
// nor wake up for frames nobody sees.
TEST(Animation, HiddenAnimationNeitherDecodesNorTicks)
{
    QWidget window;
    TAnimate* animate = new TAnimate(&window);
    animate->SetFileName(DefaultAnimation);
    animate->StopFrame = 8;
    animate->SetActive(true);
    EXPECT_TRUE(animate->Active());
    EXPECT_EQ(animate->FrameCount(), 12) << "the count the headers promise";
    WaitUntil([] { return false; }, 3 * animate->FrameInterval());
    EXPECT_EQ(animate->CurrentFrame(), 1);
    EXPECT_FALSE(animate->Decoded()) << "a hidden animation was decoded";

    window.show();
    EXPECT_TRUE(animate->Decoded());
    EXPECT_GE(animate->FrameCount(), 9);
    EXPECT_EQ(animate->sizeHint(), LoadAnimation(DefaultAnimation).Frames.front().size());
    ASSERT_TRUE(WaitUntil([&] { return animate->CurrentFrame() >= 3; }, 5000));

    window.hide();
    EXPECT_TRUE(animate->Active()) << "hiding pauses, it does not stop";
    const int pausedAt = animate->CurrentFrame();
    WaitUntil([] { return false; }, 3 * animate->FrameInterval());
    EXPECT_EQ(animate->CurrentFrame(), pausedAt);
}

// Headers that promise frames the decoder cannot make: shown as an empty
// place, the timer stopped, no error thrown from a paint.
TEST(Animation, FramesThatDoNotDecodeLeaveTheAnimationEmpty)
{
    TempFolder dir("animate");
    const std::string file = dir.Write("blank.avi", Avi(12, 72, 62, "vids", std::string(4000, '\0')));
    TAnimate animate;
    animate.SetFileName(file);
    animate.SetActive(true);
    EXPECT_TRUE(animate.Active());
    EXPECT_NO_THROW(animate.grab());
    EXPECT_TRUE(animate.Decoded());
    EXPECT_EQ(animate.FrameCount(), 0);
    EXPECT_EQ(animate.CurrentFrame(), 0);
    EXPECT_FALSE(animate.Active());
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
    EXPECT_FALSE(Mapped("libQt6Multimedia"));
    EXPECT_FALSE(Mapped("libsndfile"));
    const TAnimationClip clip = LoadAnimation(std::string(TERNBELL_RUNTIME_DIR) + "/notify.avi");
    EXPECT_FALSE(clip.Frames.empty());
    EXPECT_TRUE(DecoderModuleLoaded());
    EXPECT_TRUE(Mapped("libavcodec"));
}
