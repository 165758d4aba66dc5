#include "platform/WorkerPool.h"

#include <QCoreApplication>
#include <QEvent>

#include <chrono>
#include <exception>
#include <utility>

TWorkerPool::TWorkerPool(int maxAtOnce, QObject* parent)
    : QObject(parent), FMaxAtOnce(maxAtOnce > 0 ? maxAtOnce : 1), FShared(std::make_shared<TShared>())
{
    FShared->Owner = this;
}

TWorkerPool::~TWorkerPool()
{
    AbortAll();
    Join(1500);
    {
        std::lock_guard<std::mutex> lock(FShared->Lock);
        FShared->Owner = nullptr;
    }
    for (auto& [id, running] : FRunning)
        if (running.Thread.joinable())
            running.Thread.detach();
}

void TWorkerPool::Run(TJob job)
{
    if (FAborted)
        return;
    FWaiting.push_back(std::move(job));
    StartWaiting();
}

void TWorkerPool::StartWaiting()
{
    while (!FAborted && !FWaiting.empty() && static_cast<int>(FRunning.size()) < FMaxAtOnce)
    {
        const std::uint64_t id = FNextId++;
        TRunning& running = FRunning[id];
        running.Job = std::move(FWaiting.front());
        FWaiting.pop_front();
        {
            std::lock_guard<std::mutex> lock(FShared->Lock);
            ++FShared->Live;
        }
        std::function<void()> work = running.Job.Work;
        running.Thread = std::thread([shared = FShared, work = std::move(work), id] {
            if (work)
                work();
            std::lock_guard<std::mutex> lock(shared->Lock);
            shared->EndedIds.push_back(id);
            if (TWorkerPool* owner = shared->Owner)
                QCoreApplication::postEvent(owner, new QEvent(QEvent::User));
            --shared->Live;
            shared->Ended.notify_all();
        });
    }
}

void TWorkerPool::customEvent(QEvent*)
{
    std::vector<std::uint64_t> ended;
    {
        std::lock_guard<std::mutex> lock(FShared->Lock);
        ended.swap(FShared->EndedIds);
    }
    // A Done that raises must not cost the jobs that ended with it their
    // Done: the first error is raised after all have run.
    std::exception_ptr first;
    for (std::uint64_t id : ended)
        try
        {
            Finished(id);
        }
        catch (...)
        {
            if (!first)
                first = std::current_exception();
        }
    if (first)
        std::rethrow_exception(first);
}

void TWorkerPool::Finished(std::uint64_t id)
{
    const auto found = FRunning.find(id);
    if (found == FRunning.end())
        return;
    // The thread has counted itself out; what is left of it is its return.
    found->second.Thread.join();
    std::function<void()> done = std::move(found->second.Job.Done);
    FRunning.erase(found);
    StartWaiting();
    if (!FAborted && done)
        done();
}

void TWorkerPool::AbortAll()
{
    FAborted = true;
    FWaiting.clear();
    for (auto& [id, running] : FRunning)
        if (running.Job.Abort)
            running.Job.Abort();
}

bool TWorkerPool::Join(int milliseconds)
{
    {
        std::unique_lock<std::mutex> lock(FShared->Lock);
        if (!FShared->Ended.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                     [this] { return FShared->Live == 0; }))
            return false;
    }
    for (auto& [id, running] : FRunning)
        if (running.Thread.joinable())
            running.Thread.join();
    FRunning.clear();
    return true;
}
