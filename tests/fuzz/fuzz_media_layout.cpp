// The layout checks of wave and AVI files: any bytes and any claimed file
// size end in a verdict, and a file found whole reports a header within the
// bounds the decoders keep to.
#include "decoders/DecoderEntries.h"
#include "desktop/MediaLayout.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    // The first byte picks how the size on disk relates to what was read.
    const uint64_t extra = data[0] < 128 ? 0 : uint64_t(data[0]) << 24;
    const std::string_view head(reinterpret_cast<const char*>(data + 1), size - 1);
    const uint64_t fileSize = head.size() + extra;

    WaveLayoutError(head, fileSize);

    TAnimationHeader header;
    if (AnimationLayoutError(head, fileSize, header).empty())
    {
        if (header.FrameCount < 1 || header.FrameCount > MaxAnimationFrames || header.Width < 1 ||
            header.Width > MaxAnimationSide || header.Height < 1 || header.Height > MaxAnimationSide ||
            header.FrameInterval < 10 || header.FrameInterval > 10000)
            std::abort();
    }
    return 0;
}
