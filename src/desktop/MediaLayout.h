#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The layout checks of the two media files, over their leading bytes: what a
// load can tell about a file without the decoders.

// Checks the RIFF layout of a wave file from its leading bytes (at least up
// to the start of the "data" chunk) and its size on disk. Returns an error
// text, or an empty text when the file is whole: a "data" chunk that claims
// more bytes than the file holds means the file was cut short, and the
// format chunk before it must name channels and a sample rate.
std::string WaveLayoutError(std::string_view head, uint64_t fileSize);

// What the headers of an AVI file promise, read without decoding anything.
struct TAnimationHeader
{
    int Width = 0;
    int Height = 0;
    int FrameCount = 0;
    int FrameInterval = 100; // milliseconds
};

// Checks the RIFF layout of an AVI file from its leading bytes (at least its
// header list) and its size on disk, and fills `header`. Returns why the file
// cannot be played, or an empty text: a file that is not an AVI, has no video
// stream, promises no frame or too large a picture, or whose frames are cut
// short. Whether the frames decode is only known when they are decoded.
std::string AnimationLayoutError(std::string_view head, uint64_t fileSize, TAnimationHeader& header);
