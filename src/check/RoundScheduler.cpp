#include "check/RoundScheduler.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <utility>

void TRoundScheduler::SetAccountCount(int count)
{
    const std::size_t n = static_cast<std::size_t>(std::max(count, 0));
    const TTimePoint soonest = Soonest();
    while (FAccounts.size() < n)
        FAccounts.push_back({FInterval, soonest});
    FAccounts.resize(n);
}

void TRoundScheduler::SetInterval(int milliseconds)
{
    FInterval = milliseconds;
    for (TDue& due : FAccounts)
        due.Interval = milliseconds;
}

void TRoundScheduler::SetIntervalOf(int index, int milliseconds)
{
    FAccounts.at(static_cast<std::size_t>(index)).Interval = milliseconds;
}

void TRoundScheduler::SetIntervals(int milliseconds, const std::vector<int>& intervals)
{
    FInterval = milliseconds;
    SetAccountCount(static_cast<int>(intervals.size()));
    for (std::size_t i = 0; i < intervals.size(); ++i)
        SetIntervalOf(static_cast<int>(i), intervals[i]);
}

int TRoundScheduler::IntervalOf(int index) const
{
    return FAccounts.at(static_cast<std::size_t>(index)).Interval;
}

std::optional<int> TRoundScheduler::Restart()
{
    const TTimePoint now = FClock.Now();
    FRoundDue = now + std::chrono::milliseconds(FInterval);
    for (TDue& due : FAccounts)
        due.At = now + std::chrono::milliseconds(due.Interval);
    return WakeInFrom(now);
}

void TRoundScheduler::Checked(const std::vector<int>& indexes)
{
    const TTimePoint now = FClock.Now();
    for (int index : indexes)
        if (index >= 0 && index < static_cast<int>(FAccounts.size()))
            FAccounts[static_cast<std::size_t>(index)].At = now + std::chrono::milliseconds(FAccounts[static_cast<std::size_t>(index)].Interval);
}

TRoundScheduler::TTimePoint TRoundScheduler::Soonest() const
{
    if (FAccounts.empty())
        return FRoundDue;
    TTimePoint soonest = FAccounts.front().At;
    for (const TDue& due : FAccounts)
        soonest = std::min(soonest, due.At);
    return soonest;
}

std::vector<int> TRoundScheduler::Due() const
{
    std::vector<int> due;
    if (FPaused)
        return due;
    const TTimePoint by = std::max(FClock.Now(), Soonest());
    for (std::size_t i = 0; i < FAccounts.size(); ++i)
        if (FAccounts[i].At <= by)
            due.push_back(static_cast<int>(i));
    return due;
}

std::optional<int> TRoundScheduler::WakeIn() const
{
    return WakeInFrom(FClock.Now());
}

std::optional<int> TRoundScheduler::WakeInFrom(TTimePoint now) const
{
    if (FPaused)
        return std::nullopt;
    // Rounded up, so the wake-up is never early by the rounding.
    const auto left = Soonest() - now;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return static_cast<int>(std::clamp<long long>(ms, 0, std::numeric_limits<int>::max()));
}

void TRoundScheduler::Pause()
{
    FPaused = true;
}

void TRoundScheduler::Resume()
{
    if (!std::exchange(FPaused, false))
        return;
    Restart();
}

void TRoundScheduler::RoundEnded()
{
    if (!std::exchange(FRound, false))
        return;
    if (FRoundOnly.empty())
    {
        const TTimePoint now = FClock.Now();
        FRoundDue = now + std::chrono::milliseconds(FInterval);
        for (TDue& due : FAccounts)
            due.At = now + std::chrono::milliseconds(due.Interval);
    }
    else
        Checked(std::exchange(FRoundOnly, {}));
}

bool TRoundScheduler::Busy() const
{
    return FRound || FRoundQueued || !FOnlyQueued.empty() || FAloneRunning || FAloneQueued > 0;
}

bool TRoundScheduler::AskRound(bool clearList)
{
    if (Busy())
    {
        FRoundQueued = FRoundQueued || clearList;
        return false;
    }
    FRound = true;
    FRoundOnly.clear();
    return true;
}

bool TRoundScheduler::AskOnly(const std::vector<int>& indexes)
{
    if (indexes.empty())
        return false;
    if (!Busy())
    {
        FRound = true;
        FRoundOnly = indexes;
        return true;
    }
    for (int index : indexes)
        if (std::find(FOnlyQueued.begin(), FOnlyQueued.end(), index) == FOnlyQueued.end())
            FOnlyQueued.push_back(index);
    return false;
}

bool TRoundScheduler::AskAlone()
{
    if (Busy())
    {
        ++FAloneQueued;
        return false;
    }
    FAloneRunning = true;
    return true;
}

TScheduled TRoundScheduler::Next()
{
    TScheduled next;
    if (FRound || FAloneRunning)
        return next;
    if (FAloneQueued > 0)
    {
        --FAloneQueued;
        FAloneRunning = true;
        next.Kind = TScheduled::skAlone;
    }
    else if (std::exchange(FRoundQueued, false))
    {
        // The whole round covers the accounts some asked for.
        FOnlyQueued.clear();
        FRound = true;
        FRoundOnly.clear();
        next.Kind = TScheduled::skRound;
        next.ClearList = true;
    }
    else if (!FOnlyQueued.empty())
    {
        FRound = true;
        next.Kind = TScheduled::skRound;
        next.Only = std::exchange(FOnlyQueued, {});
        FRoundOnly = next.Only;
    }
    else
        next.Kind = TScheduled::skIdle;
    return next;
}
