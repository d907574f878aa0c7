#pragma once
// What both pane worker threads share: the thread at idle priority, its stop
// flag, its checkpoint, and the gate that lets the owner let go of it.
#include "panes/PaneWorkers.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace tarnel {

// An idle-priority thread on a busy machine may wait hundreds of milliseconds
// for the processor, so joining it would stall the main thread. Instead the
// thread touches the listing and the sink only inside Gate::Enter brackets,
// which make no system call; Release() waits at most for a bracket in
// progress, and the thread then winds down alone.
class GatedWorker : public PaneWorker {
public:
    struct Gate {
        std::atomic<bool> terminated{false};
        std::atomic<int> checkpoint{0};
        std::mutex mutex;
        bool released = false; // guarded by mutex
        // Guarded by the mutex of the count of released threads still running.
        bool ended = false;
        bool counted = false;

        bool Stopped() const { return terminated.load(std::memory_order_relaxed); }
        void Pass(int point) { checkpoint.store(point, std::memory_order_relaxed); }
        // Runs touch() unless the owner has let go; false then.
        template <typename F>
        bool Enter(F&& touch)
        {
            std::lock_guard lock(mutex);
            if (released)
                return false;
            touch();
            return true;
        }
    };

    ~GatedWorker() override; // Release
    GatedWorker(const GatedWorker&) = delete;
    GatedWorker& operator=(const GatedWorker&) = delete;

    // Returns at once.
    void Terminate() override;
    // Blocks until the thread has ended by itself or by Terminate.
    void Wait() override;
    // Terminates, then returns once the thread will no longer touch the
    // listing or the sink.
    void Release() override;

    // The thread's gate, for telling later whether it still runs.
    std::shared_ptr<const Gate> SharedGate() const { return gate_; }
    // Released, yet still running after grace (blocked in I/O on a hung
    // mount, say): a terminated worker normally ends well within it.
    static bool Lingers(const Gate& gate, std::chrono::milliseconds grace);

    // The last checkpoint the thread passed, as its error text reports it.
    int Checkpoint() const { return gate_->checkpoint.load(std::memory_order_relaxed); }

protected:
    GatedWorker() = default;
    // Runs body on a new thread at idle priority. body reaches the listing and
    // the sink only through the gate, and never this object, which may be gone.
    void Start(std::function<void()> body);

    const std::shared_ptr<Gate> gate_ = std::make_shared<Gate>();

private:
    std::thread thread_;
};

// Blocks until every released worker thread has ended, or limit has passed:
// call it before destroying what their jobs use outside the gate (an icon
// resolver). A worker stuck on a dead network mount must not keep the program
// from ending: false when some still run at the limit.
inline constexpr std::chrono::milliseconds kReleasedWorkersWait {2000};
bool WaitForReleasedWorkers(std::chrono::milliseconds limit = kReleasedWorkersWait);

} // namespace tarnel
