#include "desktop/Animate.h"

#include "platform/CodePage.h"
#include "platform/Exception.h"

#include <QFile>
#include <QPainter>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstring>
#include <memory>

namespace
{
// Bounds on what we keep in memory for one animation.
constexpr int MaxFrames = 2000;
constexpr int MaxSide = 2048;

struct FormatCloser
{
    void operator()(AVFormatContext* context) const { avformat_close_input(&context); }
};
struct CodecCloser
{
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct FrameFreer
{
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct PacketFreer
{
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct ScalerFreer
{
    void operator()(SwsContext* scaler) const { sws_freeContext(scaler); }
};

[[noreturn]] void Fail(const std::string& fileName, const std::string& why)
{
    throw Exception("Cannot play the animation \"" + fileName + "\": " + why + ".");
}

class TFrameCollector
{
public:
    TFrameCollector(const std::string& fileName, std::vector<QImage>& frames)
        : FFileName(fileName), FFrames(frames)
    {
    }

    // Takes every frame the decoder has ready.
    void Drain(AVCodecContext* codec, AVFrame* frame)
    {
        while (avcodec_receive_frame(codec, frame) == 0)
        {
            Add(frame);
            av_frame_unref(frame);
        }
    }

private:
    void Add(const AVFrame* frame)
    {
        if (frame->width <= 0 || frame->height <= 0 || frame->width > MaxSide || frame->height > MaxSide)
            Fail(FFileName, "the picture size is not supported");
        if (int(FFrames.size()) >= MaxFrames)
            Fail(FFileName, "too many frames");
        FScaler.reset(sws_getCachedContext(FScaler.release(), frame->width, frame->height,
                                           AVPixelFormat(frame->format), frame->width, frame->height,
                                           AV_PIX_FMT_RGB24, SWS_POINT, nullptr, nullptr, nullptr));
        if (!FScaler)
            Fail(FFileName, "the picture format is not supported");
        // swscale may write whole SIMD blocks past a row's end, so it fills a
        // padded buffer of its own and the rows are copied out of it.
        const int rowBytes = frame->width * 3;
        const int stride = (rowBytes + 63) / 64 * 64 + 64;
        FBuffer.resize(size_t(stride) * size_t(frame->height + 1));
        uint8_t* target[4] = {FBuffer.data(), nullptr, nullptr, nullptr};
        int strides[4] = {stride, 0, 0, 0};
        sws_scale(FScaler.get(), frame->data, frame->linesize, 0, frame->height, target, strides);
        QImage image(frame->width, frame->height, QImage::Format_RGB888);
        for (int y = 0; y < frame->height; ++y)
            std::memcpy(image.scanLine(y), FBuffer.data() + size_t(y) * size_t(stride), size_t(rowBytes));
        FFrames.push_back(std::move(image));
    }

    const std::string& FFileName;
    std::vector<QImage>& FFrames;
    std::unique_ptr<SwsContext, ScalerFreer> FScaler;
    std::vector<uint8_t> FBuffer;
};
}

TAnimationClip LoadAnimation(const std::string& fileName)
{
    av_log_set_level(AV_LOG_FATAL);
    const QByteArray path = QByteArray::fromStdString(CodePageToFileName(fileName));

    // The demuxer is fixed to AVI: probing would take a text file for a
    // terminal animation.
    AVFormatContext* rawFormat = nullptr;
    if (fileName.empty() || avformat_open_input(&rawFormat, path.constData(), av_find_input_format("avi"), nullptr) < 0)
        Fail(fileName, "the file cannot be opened as AVI");
    std::unique_ptr<AVFormatContext, FormatCloser> format(rawFormat);
    if (avformat_find_stream_info(format.get(), nullptr) < 0)
        Fail(fileName, "the file cannot be read");

    const AVCodec* decoder = nullptr;
    const int streamIndex = av_find_best_stream(format.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &decoder, 0);
    if (streamIndex < 0 || !decoder)
        Fail(fileName, "it holds no video the program can decode");
    const AVStream* stream = format->streams[streamIndex];

    std::unique_ptr<AVCodecContext, CodecCloser> codec(avcodec_alloc_context3(decoder));
    if (!codec || avcodec_parameters_to_context(codec.get(), stream->codecpar) < 0
        || avcodec_open2(codec.get(), decoder, nullptr) < 0)
        Fail(fileName, "its video cannot be decoded");

    TAnimationClip clip;
    AVRational rate = stream->avg_frame_rate.num > 0 ? stream->avg_frame_rate : stream->r_frame_rate;
    if (rate.num > 0 && rate.den > 0)
        clip.FrameInterval = std::clamp(int(1000.0 * rate.den / rate.num + 0.5), 10, 10000);

    std::unique_ptr<AVPacket, PacketFreer> packet(av_packet_alloc());
    std::unique_ptr<AVFrame, FrameFreer> frame(av_frame_alloc());
    if (!packet || !frame)
        Fail(fileName, "out of memory");
    TFrameCollector collector(fileName, clip.Frames);
    while (av_read_frame(format.get(), packet.get()) >= 0)
    {
        const bool ours = packet->stream_index == streamIndex;
        const int sent = ours ? avcodec_send_packet(codec.get(), packet.get()) : 0;
        av_packet_unref(packet.get());
        // A damaged frame is skipped, as a player would; the rest still counts.
        if (sent < 0 && sent != AVERROR(EAGAIN))
            continue;
        if (ours)
            collector.Drain(codec.get(), frame.get());
    }
    avcodec_send_packet(codec.get(), nullptr);
    collector.Drain(codec.get(), frame.get());

    if (clip.Frames.empty())
        Fail(fileName, "it holds no frame");
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
