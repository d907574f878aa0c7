#include "panes/WorkerThread.h"

#include "platform/ThreadPriority.h"

#include <condition_variable>

namespace tarnel {

namespace {

struct ReleasedCount {
    std::mutex mutex;
    std::condition_variable ended; // one released thread ended
    int running = 0; // released threads still running
};

ReleasedCount& Released()
{
    static ReleasedCount count;
    return count;
}

} // namespace

GatedWorker::~GatedWorker() { Release(); }

void GatedWorker::Start(std::function<void()> body)
{
    thread_ = std::thread([gate = gate_, body = std::move(body)]() mutable {
        RunAtIdlePriority();
        body();
        body = nullptr; // the job goes before the count says this thread is done
        ReleasedCount& count = Released();
        std::lock_guard lock(count.mutex);
        gate->ended = true;
        if (gate->counted) {
            --count.running;
            count.ended.notify_all();
        }
    });
}

void GatedWorker::Terminate() { gate_->terminated.store(true, std::memory_order_relaxed); }

void GatedWorker::Wait()
{
    if (thread_.joinable())
        thread_.join();
}

void GatedWorker::Release()
{
    Terminate(); // a released thread's results would go nowhere
    {
        std::lock_guard lock(gate_->mutex);
        gate_->released = true;
    }
    if (!thread_.joinable())
        return;
    ReleasedCount& count = Released();
    std::lock_guard lock(count.mutex);
    if (!gate_->ended) {
        gate_->counted = true;
        ++count.running;
    }
    thread_.detach();
}

bool GatedWorker::Lingers(const Gate& gate, std::chrono::milliseconds grace)
{
    {
        std::lock_guard lock(const_cast<Gate&>(gate).mutex);
        if (!gate.released)
            return false;
    }
    ReleasedCount& count = Released();
    std::unique_lock lock(count.mutex);
    return !count.ended.wait_for(lock, grace, [&] { return gate.ended; });
}

bool WaitForReleasedWorkers(std::chrono::milliseconds limit)
{
    ReleasedCount& count = Released();
    std::unique_lock lock(count.mutex);
    return count.ended.wait_for(lock, limit, [&] { return count.running == 0; });
}

} // namespace tarnel
