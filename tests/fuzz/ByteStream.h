#pragma once

// A line handler over bytes in memory, for the fuzz targets: the input is
// cut into segments, each delivered in chunks of a chosen size and possibly
// repeated many times, so that a short input can play a server that floods.

#include "mail/IdIOHandler.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

class TFuzzByteStream : public TIdIOHandler
{
public:
    // Segments: a control byte, a length byte, then that many bytes. The
    // control's low two bits pick the chunk size (1, 7, 512, 65536 bytes; at
    // least 512 for a repeated segment, to keep the runs fast); the next five
    // bits k say how often the segment repeats: once for 0, k * 40 times
    // (enough for the 10,000-line caps), 4200 times for 31 (enough for the
    // 1 MB caps). Most inputs stay small, so the runs stay fast.
    TFuzzByteStream(const std::uint8_t* data, std::size_t size)
    {
        static const std::size_t ChunkSizes[] = {1, 7, 512, 65536};
        std::size_t i = 0;
        while (i + 2 <= size)
        {
            const std::uint8_t control = data[i];
            const std::size_t length = std::min<std::size_t>(data[i + 1], size - i - 2);
            Segment s;
            s.Bytes.assign(reinterpret_cast<const char*>(data + i + 2), length);
            const std::size_t k = (control >> 2) & 0x1F;
            s.Repeats = k == 0 ? 1 : k == 31 ? 4200 : k * 40;
            s.Chunk = ChunkSizes[s.Repeats > 1 ? std::max(control & 3, 2) : control & 3];
            if (!s.Bytes.empty())
                FSegments.push_back(std::move(s));
            i += 2 + length;
        }
        RecvBufferSize = 65536;
        Open();
    }

    bool WaitReadable(int) override { return !Exhausted(); }
    std::size_t Written() const { return FWritten; }

protected:
    bool SocketAllocated() const override { return FAllocated; }
    void CloseSocket() noexcept override { FAllocated = false; }
    int ReadDataFromSource(char* buffer, int size) override
    {
        if (Exhausted())
            return 0;
        // One chunk may span rounds of a repeated segment and the segments
        // after it.
        const std::size_t limit = std::min(static_cast<std::size_t>(size), FSegments[FIndex].Chunk);
        std::size_t copied = 0;
        while (copied < limit && !Exhausted())
        {
            Segment& s = FSegments[FIndex];
            const std::size_t want = std::min(limit - copied, s.Bytes.size() - FOffset);
            std::copy_n(s.Bytes.data() + FOffset, want, buffer + copied);
            copied += want;
            FOffset += want;
            if (FOffset == s.Bytes.size())
            {
                FOffset = 0;
                if (++FRound == s.Repeats)
                {
                    FRound = 0;
                    ++FIndex;
                }
            }
        }
        return static_cast<int>(copied);
    }
    int WriteDataToTarget(const char*, int size) override
    {
        FWritten += static_cast<std::size_t>(size);
        return size;
    }

private:
    struct Segment
    {
        std::string Bytes;
        std::size_t Chunk = 1;
        std::size_t Repeats = 1;
    };
    bool Exhausted() const { return FIndex >= FSegments.size(); }

    std::vector<Segment> FSegments;
    std::size_t FIndex = 0;
    std::size_t FOffset = 0;
    std::size_t FRound = 0;
    std::size_t FWritten = 0;
    bool FAllocated = true;
};
