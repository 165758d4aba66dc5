#include "check/PushSession.h"

#include <algorithm>
#include <memory>
#include <utility>

void TPushStop::Stop()
{
    {
        std::lock_guard<std::mutex> lock(FLock);
        FStopped = true;
    }
    FWake.notify_all();
}

bool TPushStop::Stopped() const
{
    std::lock_guard<std::mutex> lock(FLock);
    return FStopped;
}

void TPushStop::Nudge()
{
    {
        std::lock_guard<std::mutex> lock(FLock);
        ++FNudges;
    }
    FWake.notify_all();
}

unsigned TPushStop::Nudges() const
{
    std::lock_guard<std::mutex> lock(FLock);
    return FNudges;
}

bool TPushStop::Sleep(int milliseconds, TIdClock& clock, const unsigned* nudges)
{
    const TIdClock::TTimePoint deadline = clock.After(std::max(milliseconds, 0));
    std::unique_lock<std::mutex> lock(FLock);
    const auto woken = [this, nudges] { return FStopped || (nudges && FNudges != *nudges); };
    for (int left = milliseconds; left > 0 && !woken(); left = clock.Left(deadline))
    {
        if (FWake.wait_for(lock, std::chrono::milliseconds(clock.Block(left)), woken))
            break;
        clock.WaitedOut(left);
    }
    return !FStopped;
}

int RetryAfter(int failures, const TPushTimes& times)
{
    long long wait = times.FirstRetry;
    for (int i = 1; i < failures && wait < times.LastRetry; ++i)
        wait *= 2;
    return static_cast<int>(std::min<long long>(wait, times.LastRetry));
}

void RunPushSession(const std::function<std::unique_ptr<TPushClient>()>& make, const TPushTimes& times,
                    const TPushEvents& events, TPushStop& stop, bool missed)
{
    TIdClock& clock = times.Clock ? *times.Clock : TIdSteadyClock::Instance();
    // A look at the account's interval renews IDLE too; where it comes
    // sooner than the renewal, it rides on a line the server sends in the
    // last quarter of the wait, as the renewal does after RenewFrom.
    const bool looks = times.LookEvery > 0 && times.LookEvery < times.Renew;
    const int wait = looks ? times.LookEvery : times.Renew;
    const int anyLineAfter = looks ? std::min(times.RenewFrom, wait - wait / 4) : times.RenewFrom;
    int failures = 0;
    bool lost = missed; // mail may have come while no session listened
    while (!stop.Stopped())
    {
        int pause = 0;
        // Only a nudge after this one cuts the wait before the next try.
        unsigned nudges = stop.Nudges();
        std::unique_ptr<TPushClient> client;
        try
        {
            client = make();
            const TPushClient::TOpened opened = client->Open();
            if (opened == TPushClient::TOpened::NoIdle)
            {
                client->Close();
                events.Healthy(false);
                return;
            }
            if (opened == TPushClient::TOpened::Refused)
            {
                client->Close();
                events.Healthy(false);
                if (!stop.Sleep(times.AfterRefusal, clock))
                    return;
                continue;
            }
            client->Start();
            // Healthy from the first IDLE the server took, where it hears
            // of every folder: else the interval checks the others.
            events.Healthy(client->HearsEveryFolder());
            if (events.Connected)
                events.Connected();
            failures = 0;
            if (std::exchange(lost, false))
                events.News();
            while (!stop.Stopped())
            {
                const bool news = client->Wait(wait, anyLineAfter);
                // News heard on the line is told before the renewal, so the
                // check does not wait for its round trip.
                if (news)
                    events.News();
                if (client->Renew() && !news)
                    events.News();
                nudges = stop.Nudges();
            }
            client->Close();
            return;
        }
        catch (...)
        {
            if (client)
                client->Close();
            pause = RetryAfter(++failures, times);
        }
        if (stop.Stopped())
            return;
        events.Healthy(false);
        lost = true;
        if (!stop.Sleep(pause, clock, &nudges))
            return;
    }
}
