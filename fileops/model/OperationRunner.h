#pragma once
// Runs operations on worker threads of their own, in the foreground (one the
// window shows a progress dialog for) or in one of the background slots. With
// the volume queue on, operations that write to the same volume run one after
// the other, in the order started, instead of fighting over its head.
//
// Workers are detached: nobody ever joins one, so a worker stuck on a mount
// that does not answer never holds up the window or the end of the program.
// Everything a worker touches is shared with it.
#include "fileops/model/Operation.h"

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace tarnel {

enum class RunMode { Foreground, Background };

class OperationRunner {
public:
    static constexpr int kBackgroundSlots = 30;

    // ended is called on the worker's thread once an operation has finished
    // (or was cancelled before it started); post from it to the window.
    explicit OperationRunner(std::function<void(const std::shared_ptr<Operation>&, RunMode)> ended = nullptr);
    ~OperationRunner(); // cancels everything, waits for nothing

    void SetEnded(std::function<void(const std::shared_ptr<Operation>&, RunMode)> ended);
    void SetVolumeQueue(bool on);
    bool VolumeQueue() const;

    // Starts op now, or queues it behind an unfinished operation onto the
    // same volume. A background operation takes a slot: false (and nothing
    // runs) when all are taken. Returns true once op is running or queued.
    bool Start(const std::shared_ptr<Operation>& op, RunMode mode);

    // Operations not yet finished, in start order.
    std::vector<std::shared_ptr<Operation>> Active() const;
    int ActiveCount() const;
    int BackgroundCount() const;

    // Cancels every operation: running ones stop at their next step, a
    // waiting question is answered "stop", queued ones never start.
    void CancelAll();
    // Waits up to timeout for every worker to end; false when some did not
    // (stuck on a file system): they are left to end on their own.
    bool WaitAll(std::chrono::milliseconds timeout);

    struct Shared;

private:
    std::shared_ptr<Shared> shared_;
};

} // namespace tarnel
