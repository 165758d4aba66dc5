#include "desktop/Animate.h"

#include "desktop/DecoderModule.h"
#include "decoders/DecoderEntries.h"
#include "platform/CodePage.h"
#include "platform/Exception.h"

#include <QFile>
#include <QPainter>


#include <algorithm>
#include <cstring>
#include <memory>

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
    TAnimationClip clip;
    if (!file.empty())
        clip = LoadAnimation(file);
    FTimer.stop();
    FClip = std::move(clip);
    FFileName = file;
    FRunsDone = 0;
    FCurrent = FClip.Frames.empty() ? 0 : FirstFrame();
    update();
}

std::string TAnimate::FileName() const
{
    return FFileName;
}

void TAnimate::SetActive(bool on)
{
    if (!on)
    {
        FTimer.stop();
        return;
    }
    if (FClip.Frames.empty() || FTimer.isActive())
        return;
    FRunsDone = 0;
    FCurrent = FirstFrame();
    FTimer.start(FClip.FrameInterval);
    update();
}

bool TAnimate::Active() const
{
    return FTimer.isActive();
}

int TAnimate::FrameCount() const
{
    return int(FClip.Frames.size());
}

int TAnimate::CurrentFrame() const
{
    return FCurrent;
}

int TAnimate::FrameInterval() const
{
    return FClip.FrameInterval;
}

QSize TAnimate::sizeHint() const
{
    if (FClip.Frames.empty())
        return QWidget::sizeHint();
    return FClip.Frames.front().size();
}

void TAnimate::paintEvent(QPaintEvent*)
{
    if (FCurrent < 1 || FCurrent > FrameCount())
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
