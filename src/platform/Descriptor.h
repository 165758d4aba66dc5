#pragma once

#include <unistd.h>
#include <utility>

// Owns one file descriptor and closes it when it goes.
class TDescriptor
{
public:
    TDescriptor() = default;
    explicit TDescriptor(int fd) : FDescriptor(fd) {}
    ~TDescriptor() { Reset(); }
    TDescriptor(TDescriptor&& other) noexcept : FDescriptor(other.Release()) {}
    TDescriptor& operator=(TDescriptor&& other) noexcept
    {
        if (this != &other)
            Reset(other.Release());
        return *this;
    }
    TDescriptor(const TDescriptor&) = delete;
    TDescriptor& operator=(const TDescriptor&) = delete;

    int Get() const { return FDescriptor; }
    bool Valid() const { return FDescriptor >= 0; }
    void Reset(int fd = -1)
    {
        // close() is not retried on EINTR: on Linux the descriptor is gone either way.
        if (FDescriptor >= 0)
            ::close(FDescriptor);
        FDescriptor = fd;
    }
    int Release() { return std::exchange(FDescriptor, -1); }

private:
    int FDescriptor = -1;
};
