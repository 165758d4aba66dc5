#pragma once

#include <chrono>

// Where the line connection takes its time from. Every time limit is
// measured on Now, and every system wait under a limit (a poll, a receive
// limit, a condition) blocks only as long as Block allows; a wait that came
// back with nothing reports WaitedOut. The steady clock leaves each wait as
// asked; a test clock may shorten it and count it as served in full, so a
// limit of seconds runs out in milliseconds.
class TIdClock
{
public:
    using TTimePoint = std::chrono::steady_clock::time_point;

    virtual ~TIdClock() = default;

    virtual TTimePoint Now() = 0;
    // How long a wait given `milliseconds` (-1: without limit) may block.
    virtual int Block(int milliseconds) { return milliseconds; }
    // A wait given `milliseconds` ended without what it waited for.
    virtual void WaitedOut(int /*milliseconds*/) {}

    TTimePoint After(int milliseconds) { return Now() + std::chrono::milliseconds(milliseconds); }
    // Milliseconds from now until `deadline`; 0 once it has passed.
    int Left(TTimePoint deadline);
};

// The system's monotonic clock; one for the whole program.
class TIdSteadyClock final : public TIdClock
{
public:
    static TIdSteadyClock& Instance();

    TTimePoint Now() override { return std::chrono::steady_clock::now(); }
};
