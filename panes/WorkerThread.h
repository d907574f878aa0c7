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

// An idle-priority thread on a busy machine may wait seconds for the
// processor, even in the middle of a bracket, so the main thread never waits
// for it: not to join it, not for a lock it holds. The thread touches the
// listing and the sink only inside Gate::Enter brackets of one entry each;
// Release() only raises a flag, and a bracket under way when it does keeps
// the listing it reads alive (ListingUse) until it is over.
class GatedWorker : public PaneWorker {
public:
    struct Gate : ListingUse {
        enum Life { kRunning, kReleasedRunning, kEnded };
        std::atomic<bool> terminated{false};
        std::atomic<int> checkpoint{0};
        // released and inside pair up (both sequentially consistent): either
        // the owner sees a bracket under way, or the thread sees the release.
        std::atomic<bool> released{false};
        std::atomic<bool> inside{false};
        std::atomic<int> life{kRunning};
        std::atomic<int64_t> releasedAtNs{0};
        std::shared_ptr<void> kept; // written by the owner only, freed with the gate

        bool Stopped() const { return terminated.load(std::memory_order_relaxed); }
        void Pass(int point) { checkpoint.store(point, std::memory_order_relaxed); }
        // Runs touch() unless the owner has let go; false then.
        template <typename F>
        bool Enter(F&& touch)
        {
            inside.store(true);
            struct Leave {
                std::atomic<bool>& flag;
                ~Leave() { flag.store(false); }
            } leave{inside};
            if (released.load())
                return false;
            touch();
            return true;
        }
        bool InUse() const override { return inside.load(); }
        void Keep(std::shared_ptr<void> listing) override { kept = std::move(listing); }
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
    std::shared_ptr<ListingUse> Release() override;

    // The thread's gate, for telling later whether it still runs.
    std::shared_ptr<const Gate> SharedGate() const { return gate_; }
    // Released more than grace ago and still running (blocked in I/O on a
    // hung mount, say): a terminated worker normally ends well within it.
    // Asks without waiting.
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
