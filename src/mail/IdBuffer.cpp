#include "mail/IdBuffer.h"

#include <algorithm>
#include <cstring>
#include <string_view>

void TIdBuffer::Write(const char* bytes, std::size_t count)
{
    if (count == 0)
        return;
    if (FHead > GrowthStep)
        Compact();
    std::size_t need = FData.size() + count;
    if (need > FData.capacity())
    {
        std::size_t rounded = (need + GrowthStep - 1) / GrowthStep * GrowthStep;
        FData.reserve(std::max(rounded, FData.capacity() * 2));
    }
    FData.append(bytes, count);
}

long TIdBuffer::IndexOf(const std::string& bytes, std::size_t startIndex) const
{
    std::size_t size = Size();
    if (bytes.empty() || startIndex >= size || bytes.size() > size - startIndex)
        return -1;
    const char* live = FData.data() + FHead;
    if (bytes.size() == 1)
    {
        const void* hit = std::memchr(live + startIndex, bytes[0], size - startIndex);
        return hit ? static_cast<const char*>(hit) - live : -1;
    }
    std::string_view view(live, size);
    std::size_t pos = view.find(bytes, startIndex);
    return pos == std::string_view::npos ? -1 : static_cast<long>(pos);
}

std::string TIdBuffer::Extract(std::size_t count)
{
    count = std::min(count, Size());
    std::string out(FData, FHead, count);
    Remove(count);
    return out;
}

void TIdBuffer::Remove(std::size_t count)
{
    count = std::min(count, Size());
    FHead += count;
    if (FHead == FData.size())
    {
        // Empty: start over at the front without moving anything.
        FData.clear();
        FHead = 0;
    }
}

void TIdBuffer::Clear()
{
    FData.clear();
    FHead = 0;
}

void TIdBuffer::Compact()
{
    FData.erase(0, FHead);
    FHead = 0;
}
