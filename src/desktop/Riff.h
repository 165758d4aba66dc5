#pragma once

#include <cstdint>
#include <string_view>

// Wave sounds and AVI animations are RIFF files: chunks of a four-letter id,
// a little-endian 32-bit size and the data, padded to an even length.

inline uint32_t RiffUInt32(std::string_view bytes, std::size_t at)
{
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = (value << 8) | static_cast<unsigned char>(bytes[at + std::size_t(i)]);
    return value;
}

// Where the chunk after the one at `offset` with `size` bytes of data starts.
inline uint64_t NextRiffChunk(uint64_t offset, uint32_t size)
{
    return offset + 8 + uint64_t(size) + (size & 1);
}
