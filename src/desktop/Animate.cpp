#include "desktop/Animate.h"

#include "desktop/DecoderModule.h"
#include "desktop/MediaLayout.h"
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
} // namespace

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
