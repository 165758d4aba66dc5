#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Byte queue used as a connection's input queue: bytes are appended at the
// tail and taken from the head. Consumed head bytes stay in storage until
// they exceed 2048; the next append then moves the live bytes to the front,
// so a burst of small line reads costs no copying.
class TIdBuffer
{
public:
    static constexpr std::size_t GrowthStep = 2048;

    std::size_t Size() const { return FData.size() - FHead; }
    bool Empty() const { return Size() == 0; }

    // Appends bytes at the tail.
    void Write(const char* bytes, std::size_t count);
    void Write(const std::string& bytes) { Write(bytes.data(), bytes.size()); }

    // Offset from the head of the first occurrence of `bytes` at or after
    // `startIndex`, or -1 when absent (also for an empty `bytes`).
    long IndexOf(const std::string& bytes, std::size_t startIndex = 0) const;

    // Removes `count` bytes (at most all) from the head and returns them.
    std::string Extract(std::size_t count);
    // Removes `count` bytes (at most all) from the head.
    void Remove(std::size_t count);

    // The live bytes, for inspection.
    std::string Peek() const { return FData.substr(FHead); }
    // The live bytes in place, valid until the queue changes.
    std::string_view View() const { return std::string_view(FData).substr(FHead); }
    void Clear();

    // Bytes held in storage, consumed head included (for tests).
    std::size_t StorageSize() const { return FData.size(); }

private:
    void Compact();

    std::string FData;
    std::size_t FHead = 0;
};
