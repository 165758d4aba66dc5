#include "mail/IdClock.h"

#include <algorithm>
#include <limits>

int TIdClock::Left(TTimePoint deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, std::numeric_limits<int>::max()));
}

TIdSteadyClock& TIdSteadyClock::Instance()
{
    static TIdSteadyClock clock;
    return clock;
}
