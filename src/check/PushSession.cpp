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

bool TPushStop::Sleep(int milliseconds, TIdClock& clock)
{
    const TIdClock::TTimePoint deadline = clock.After(std::max(milliseconds, 0));
    std::unique_lock<std::mutex> lock(FLock);
    for (int left = milliseconds; left > 0; left = clock.Left(deadline))
    {
        if (FWake.wait_for(lock, std::chrono::milliseconds(clock.Block(left)), [this] { return FStopped; }))
            return false;
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
                    const TPushEvents& events, TPushStop& stop)
{
    TIdClock& clock = times.Clock ? *times.Clock : TIdSteadyClock::Instance();
    int failures = 0;
    bool lost = false; // a session was lost: mail may have come meanwhile
    while (!stop.Stopped())
    {
        int pause = 0;
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
            failures = 0;
            if (std::exchange(lost, false))
                events.News();
            while (!stop.Stopped())
            {
                const bool news = client->Wait(times.Renew, times.RenewFrom);
                if (client->Renew() || news)
                    events.News();
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
        if (!stop.Sleep(pause, clock))
            return;
    }
}
