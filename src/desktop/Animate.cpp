#include "desktop/Animate.h"

#include "desktop/DecoderModule.h"
#include "desktop/Riff.h"
#include "decoders/DecoderEntries.h"
#include "platform/CodePage.h"
#include "platform/Exception.h"

#include <QFile>
#include <QPainter>

#include <algorithm>
#include <cstring>
#include <memory>

namespace
{

// The header list of an AVI comes first and is small; more is not read
// before the frames are decoded.
constexpr qint64 HeaderBytes = 64 * 1024;

int IntervalOf(uint32_t scale, uint32_t rate)
{
    return std::clamp(int(1000.0 * scale / rate + 0.5), 10, 10000);
}

// Reads the main header and the first video stream header from the chunks of
// the header list, [begin, end) of `head`.
void ReadHeaderList(std::string_view head, uint64_t begin, uint64_t end, TAnimationHeader& header,
                    bool& haveMain, bool& haveVideo)
{
    for (uint64_t at = begin; at + 8 <= end;)
    {
        const std::string_view id = head.substr(at, 4);
        const uint32_t size = RiffUInt32(head, at + 4);
        if (at + 8 + size > end)
            break;
        const std::string_view data = head.substr(at + 8, size);
        if (id == "avih" && size >= 40 && !haveMain)
        {
            haveMain = true;
            if (const uint32_t micro = RiffUInt32(data, 0))
                header.FrameInterval = IntervalOf(micro, 1000);
            header.FrameCount = int(std::min<uint32_t>(RiffUInt32(data, 16), MaxAnimationFrames + 1u));
            header.Width = int(std::min<uint32_t>(RiffUInt32(data, 32), MaxAnimationSide + 1u));
            header.Height = int(std::min<uint32_t>(RiffUInt32(data, 36), MaxAnimationSide + 1u));
        }
        else if (id == "LIST" && size >= 4 && data.substr(0, 4) == "strl" && !haveVideo)
        {
            // The stream header opens a stream list; only a video stream counts.
            if (size >= 12 + 36 && data.substr(4, 4) == "strh" && data.substr(12, 4) == "vids")
            {
                haveVideo = true;
                const std::string_view strh = data.substr(12);
                const uint32_t scale = RiffUInt32(strh, 20);
                const uint32_t rate = RiffUInt32(strh, 24);
                if (scale > 0 && rate > 0)
                    header.FrameInterval = IntervalOf(scale, rate);
                if (const uint32_t length = RiffUInt32(strh, 32))
                    header.FrameCount = int(std::min<uint32_t>(length, MaxAnimationFrames + 1u));
            }
        }
        at = NextRiffChunk(at, size);
    }
}

} // namespace

std::string AnimationLayoutError(std::string_view head, uint64_t fileSize, TAnimationHeader& header)
{
    if (head.size() < 12 || head.substr(0, 4) != "RIFF" || head.substr(8, 4) != "AVI ")
        return "the file cannot be opened as AVI";
    TAnimationHeader found;
    bool haveMain = false;
    bool haveVideo = false;
    for (uint64_t offset = 12;;)
    {
        if (offset + 12 > fileSize || offset + 12 > head.size())
            return "the file cannot be read";
        const std::string_view id = head.substr(offset, 4);
        const uint32_t size = RiffUInt32(head, offset + 4);
        const std::string_view type = head.substr(offset + 8, 4);
        if (id == "LIST" && type == "hdrl")
        {
            if (offset + 8 + size > head.size())
                return "the file cannot be read";
            ReadHeaderList(head, offset + 12, offset + 8 + size, found, haveMain, haveVideo);
        }
        else if (id == "LIST" && type == "movi")
        {
            if (!haveMain)
                return "the file cannot be read";
            if (!haveVideo)
                return "it holds no video the program can decode";
            if (found.FrameCount <= 0)
                return "it holds no frame";
            if (found.FrameCount > MaxAnimationFrames)
                return "too many frames";
            if (found.Width <= 0 || found.Height <= 0 || found.Width > MaxAnimationSide ||
                found.Height > MaxAnimationSide)
                return "the picture size is not supported";
            if (offset + 8 + size > fileSize)
                return "its frames are cut short";
            header = found;
            return {};
        }
        offset = NextRiffChunk(offset, size);
    }
}

TAnimationHeader ReadAnimationHeader(const std::string& fileName)
{
    QFile file(FromCodePage(fileName));
    const auto fail = [&](const std::string& why) {
        return Exception("Cannot play the animation \"" + fileName + "\": " + why + ".");
    };
    if (fileName.empty() || !file.open(QIODevice::ReadOnly))
        throw fail("the file cannot be opened as AVI");
    const QByteArray head = file.read(HeaderBytes);
    TAnimationHeader header;
    const std::string error =
        AnimationLayoutError(std::string_view(head.constData(), size_t(head.size())), uint64_t(file.size()), header);
    if (!error.empty())
        throw fail(error);
    return header;
}

TAnimationClip LoadAnimation(const std::string& fileName)
{
    const std::string path = CodePageToFileName(fileName);
    const auto decode = DecoderEntry<TDecodeAnimationEntry>(DecodeAnimationEntryName);
    TAnimationClip clip;
    std::string error;
    decode(&path, &fileName, &clip, &error);
    if (!error.empty())
        throw Exception(error);
    return clip;
}

TAnimate::TAnimate(QWidget* parent) : QWidget(parent)
{
    connect(&FTimer, &QTimer::timeout, this, &TAnimate::Tick);
}

void TAnimate::SetFileName(const std::string& file)
{
    TAnimationHeader header;
    if (!file.empty())
        header = ReadAnimationHeader(file);
    FActive = false;
    FTimer.stop();
    FHeader = header;
    FClip = TAnimationClip();
    FDecoded = file.empty();
    FFileName = file;
    FRunsDone = 0;
    FCurrent = FrameCount() == 0 ? 0 : FirstFrame();
    updateGeometry();
    if (isVisible())
        Decode();
    update();
}

void TAnimate::Decode()
{
    if (FDecoded)
        return;
    FDecoded = true;
    try
    {
        FClip = LoadAnimation(FFileName);
    }
    catch (const Exception& e)
    {
        // The headers promised frames that do not decode; found while the
        // window shows, where no error box belongs: the place stays empty.
        qWarning("ternbell: %s", e.what());
        FClip = TAnimationClip();
    }
    if (FrameCount() == 0)
    {
        FActive = false;
        FTimer.stop();
        FCurrent = 0;
    }
    else if (FCurrent > FrameCount())
        FCurrent = FirstFrame();
    if (FTimer.isActive())
        FTimer.setInterval(FrameInterval());
    updateGeometry();
}

std::string TAnimate::FileName() const
{
    return FFileName;
}

void TAnimate::SetActive(bool on)
{
    if (!on)
    {
        FActive = false;
        FTimer.stop();
        return;
    }
    if (FrameCount() == 0 || FActive)
        return;
    FActive = true;
    FRunsDone = 0;
    FCurrent = FirstFrame();
    if (isVisible())
        FTimer.start(FrameInterval());
    update();
}

bool TAnimate::Active() const
{
    return FActive;
}

int TAnimate::FrameCount() const
{
    return FDecoded ? int(FClip.Frames.size()) : FHeader.FrameCount;
}

int TAnimate::CurrentFrame() const
{
    return FCurrent;
}

int TAnimate::FrameInterval() const
{
    return FDecoded ? FClip.FrameInterval : FHeader.FrameInterval;
}

bool TAnimate::Decoded() const
{
    return FDecoded;
}

QSize TAnimate::sizeHint() const
{
    if (!FClip.Frames.empty())
        return FClip.Frames.front().size();
    if (!FDecoded)
        return QSize(FHeader.Width, FHeader.Height);
    return QWidget::sizeHint();
}

void TAnimate::showEvent(QShowEvent* event)
{
    Decode();
    if (FActive)
        FTimer.start(FrameInterval());
    QWidget::showEvent(event);
}

void TAnimate::hideEvent(QHideEvent* event)
{
    // Nobody sees the frames: no reason to wake up for them.
    FTimer.stop();
    QWidget::hideEvent(event);
}

void TAnimate::paintEvent(QPaintEvent*)
{
    Decode();
    if (FCurrent < 1 || FCurrent > int(FClip.Frames.size()))
        return;
    const QImage& image = FClip.Frames[size_t(FCurrent - 1)];
    QPoint at(0, 0);
    if (Center)
        at = QPoint((width() - image.width()) / 2, (height() - image.height()) / 2);
    QPainter(this).drawImage(at, image);
}

void TAnimate::Tick()
{
    if (FCurrent >= LastFrame())
    {
        ++FRunsDone;
        if (Repetitions > 0 && FRunsDone >= Repetitions)
        {
            FActive = false;
            FTimer.stop();
            return;
        }
        FCurrent = FirstFrame();
    }
    else
        ++FCurrent;
    update();
}

int TAnimate::FirstFrame() const
{
    return std::clamp(StartFrame, 1, std::max(1, LastFrame()));
}

int TAnimate::LastFrame() const
{
    const int count = FrameCount();
    if (StopFrame <= 0 || StopFrame > count)
        return count;
    return StopFrame;
}
