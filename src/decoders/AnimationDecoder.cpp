// The animation decoder of the decoder module: FFmpeg, mapped only once an
// animation is first shown.
#include "decoders/DecoderEntries.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace
{
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

// Raised inside the module only; the entry point turns it into its answer.
struct TDecodeFailure
{
    std::string Message;
};

[[noreturn]] void Fail(const std::string& fileName, const std::string& why)
{
    throw TDecodeFailure{"Cannot play the animation \"" + fileName + "\": " + why + "."};
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
        if (frame->width <= 0 || frame->height <= 0 || frame->width > MaxAnimationSide ||
            frame->height > MaxAnimationSide)
            Fail(FFileName, "the picture size is not supported");
        if (int(FFrames.size()) >= MaxAnimationFrames)
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

namespace
{

TAnimationClip Decode(const std::string& path, const std::string& fileName)
{
    av_log_set_level(AV_LOG_FATAL);

    // The demuxer is fixed to AVI: probing would take a text file for a
    // terminal animation.
    AVFormatContext* rawFormat = nullptr;
    if (fileName.empty() || avformat_open_input(&rawFormat, path.c_str(), av_find_input_format("avi"), nullptr) < 0)
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
        clip.FrameInterval = FrameIntervalOf(rate.den, rate.num);

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

} // namespace

extern "C" void ternbell_decode_animation(const std::string* path, const std::string* fileName,
                                          TAnimationClip* clip, std::string* error)
{
    try
    {
        *clip = Decode(*path, *fileName);
    }
    catch (const TDecodeFailure& failure)
    {
        *error = failure.Message;
    }
    catch (const std::exception& e)
    {
        *error = "Cannot play the animation \"" + *fileName + "\": " + e.what() + ".";
    }
}
