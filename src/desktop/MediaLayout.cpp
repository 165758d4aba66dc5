#include "desktop/MediaLayout.h"

#include "decoders/DecoderEntries.h"
#include "desktop/Riff.h"

#include <algorithm>

std::string WaveLayoutError(std::string_view head, uint64_t fileSize)
{
    if (head.size() < 12 || head.substr(0, 4) != "RIFF" || head.substr(8, 4) != "WAVE")
        return "is not a wave sound file";
    uint64_t offset = 12;
    bool haveFormat = false;
    while (true)
    {
        if (offset + 8 > fileSize)
            return "holds no sound data";
        if (offset + 8 > head.size())
            return {};  // the chunks go on past what was read; the decoder checks the rest
        const std::string_view id = head.substr(offset, 4);
        const uint32_t size = RiffUInt32(head, offset + 4);
        if (id == "fmt ")
        {
            if (offset + 8 + 8 > head.size())
                return {};
            const uint32_t channels = RiffUInt32(head, offset + 8) >> 16;
            const uint32_t rate = RiffUInt32(head, offset + 12);
            if (size < 16 || channels == 0 || rate == 0)
                return "has no valid sound format";
            haveFormat = true;
        }
        else if (id == "data")
        {
            if (!haveFormat)
                return "has no valid sound format";
            // 0 and all ones are what streaming writers leave when the length is unknown.
            if (size != 0 && size != 0xFFFFFFFFu && offset + 8 + size > fileSize)
                return "is cut short";
            return {};
        }
        offset = NextRiffChunk(offset, size);
    }
}

namespace
{

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
                header.FrameInterval = FrameIntervalOf(micro, 1000000);
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
                    header.FrameInterval = FrameIntervalOf(scale, rate);
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

