#pragma once

#include <QObject>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// Runs jobs beside the user-interface thread, each on a thread of its own,
// at most `maxAtOnce` at a time; the rest wait in order. A job's Work runs on
// its thread and shares nothing but what it captured; its Done runs after it
// on the pool's own thread, through the event loop, where the results may be
// applied. Abort, when given, must be safe to call from the pool's thread
// while Work runs: it makes Work end at once (it closes its lines).
class TWorkerPool : public QObject
{
public:
    struct TJob
    {
        std::function<void()> Work;
        std::function<void()> Done;
        std::function<void()> Abort;
    };

    explicit TWorkerPool(int maxAtOnce, QObject* parent = nullptr);
    // Aborts what runs and waits for it a moment (see Join).
    ~TWorkerPool() override;
    TWorkerPool(const TWorkerPool&) = delete;
    TWorkerPool& operator=(const TWorkerPool&) = delete;

    void Run(TJob job);
    // Jobs running or waiting, whose Done has not run.
    int Pending() const { return static_cast<int>(FRunning.size() + FWaiting.size()); }
    // Aborts every running job and drops the waiting ones; no Done runs
    // after it, and Run starts nothing more.
    void AbortAll();
    // Waits at most `milliseconds` for the running threads to end; true when
    // all did. A thread that does not end (a host lookup cannot be stopped)
    // is left to end by itself.
    bool Join(int milliseconds);

protected:
    // A job's end: the ids are read under the shared lock, the event itself
    // not at all, so all a thread hands over passes through that lock.
    void customEvent(QEvent* event) override;

private:
    // What a job's thread and the pool share: the thread counts itself out
    // here, notes its end and wakes the pool only while the pool is alive.
    struct TShared
    {
        std::mutex Lock;
        std::condition_variable Ended;
        TWorkerPool* Owner = nullptr;
        int Live = 0;
        std::vector<std::uint64_t> EndedIds;
    };
    struct TRunning
    {
        TJob Job;
        std::thread Thread;
    };

    void StartWaiting();
    void Finished(std::uint64_t id);

    const int FMaxAtOnce;
    std::shared_ptr<TShared> FShared;
    std::map<std::uint64_t, TRunning> FRunning;
    std::deque<TJob> FWaiting;
    std::uint64_t FNextId = 0;
    bool FAborted = false;
};
