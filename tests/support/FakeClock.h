#pragma once

#include "mail/IdClock.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>

// A clock for tests of time limits: its time moves only by the waits that
// ran out, each counted in full, while each really blocks at most `slice`
// milliseconds. A read limit of 30 s runs out in one slice; a server that
// answers within the slice is read as with the steady clock.
class FakeClock : public TIdClock
{
public:
    explicit FakeClock(int slice = 50) : FSlice(slice) {}

    TTimePoint Now() override { return TTimePoint{} + Served(); }
    int Block(int milliseconds) override { return milliseconds < 0 ? milliseconds : std::min(milliseconds, FSlice); }
    void WaitedOut(int milliseconds) override { FServed += std::max(milliseconds, 0); }

    // The time the waits that ran out stood for.
    std::chrono::milliseconds Served() const { return std::chrono::milliseconds(FServed.load()); }

private:
    const int FSlice;
    std::atomic<long long> FServed{0};
};

// Puts the waits of a connected client's line on a fresh FakeClock from now
// on. What came before went by the steady clock, so a server slow to greet
// cannot count as a limit run out.
template <typename TClient>
std::shared_ptr<FakeClock> FakeClockFromNow(TClient& client)
{
    auto clock = std::make_shared<FakeClock>();
    client.IOHandler()->Clock = clock;
    return clock;
}
