#include "panes/WorkerThread.h"

#include "platform/ThreadPriority.h"

#include <condition_variable>

namespace tarnel {

namespace {

struct ReleasedCount {
    std::mutex mutex; // taken by the waiter and by ending threads, never by Release
    std::condition_variable ended; // one released thread ended
    std::atomic<int> running{0}; // released threads still running
};

ReleasedCount& Released()
{
    // Never destroyed: a detached thread may end after the program's statics.
    static ReleasedCount& count = *new ReleasedCount;
    return count;
}

int64_t NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

GatedWorker::~GatedWorker() { Release(); }

void GatedWorker::Start(std::function<void()> body)
{
    thread_ = std::thread([gate = gate_, body = std::move(body)]() mutable {
        RunAtIdlePriority();
        body();
        body = nullptr; // the job goes before the count says this thread is done
        if (gate->life.exchange(Gate::kEnded) == Gate::kReleasedRunning) {
            ReleasedCount& count = Released();
            std::lock_guard lock(count.mutex); // the waiter goes on only once this is over
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

std::shared_ptr<ListingUse> GatedWorker::Release()
{
    Terminate(); // a released thread's results would go nowhere
    gate_->releasedAtNs.store(NowNs(), std::memory_order_relaxed);
    gate_->released.store(true);
    std::shared_ptr<ListingUse> use = gate_->InUse() ? gate_ : nullptr;
    if (!thread_.joinable())
        return use;
    // Counted before it is marked, so that the count never drops below the truth.
    ReleasedCount& count = Released();
    ++count.running;
    int running = Gate::kRunning;
    if (!gate_->life.compare_exchange_strong(running, Gate::kReleasedRunning))
        --count.running; // it has ended already
    thread_.detach();
    return use;
}

bool GatedWorker::Lingers(const Gate& gate, std::chrono::milliseconds grace)
{
    if (gate.life.load() != Gate::kReleasedRunning)
        return false;
    return NowNs() - gate.releasedAtNs.load(std::memory_order_relaxed) > std::chrono::nanoseconds(grace).count();
}

bool WaitForReleasedWorkers(std::chrono::milliseconds limit)
{
    ReleasedCount& count = Released();
    std::unique_lock lock(count.mutex);
    return count.ended.wait_for(lock, limit, [&] { return count.running.load() <= 0; });
}

} // namespace tarnel
