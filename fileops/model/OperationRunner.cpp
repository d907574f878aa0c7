#include "fileops/model/OperationRunner.h"

#include <algorithm>
#include <condition_variable>
#include <thread>

namespace tarnel {

struct OperationRunner::Shared : std::enable_shared_from_this<Shared> {
    struct Entry {
        std::shared_ptr<Operation> op;
        RunMode mode;
        bool started = false;
    };

    mutable std::mutex mutex;
    std::condition_variable changed;
    std::vector<Entry> entries; // unfinished, in start order
    std::function<void(const std::shared_ptr<Operation>&, RunMode)> ended;
    bool volumeQueue = false;
    bool stopping = false;

    // Whether entry i must wait for an earlier one onto its volume.
    bool MustWait(size_t i) const
    {
        if (!volumeQueue || entries[i].op->Volume().empty())
            return false;
        for (size_t j = 0; j < i; ++j)
            if (entries[j].op->Volume() == entries[i].op->Volume())
                return true;
        return false;
    }

    // Under the lock: the entries that may start now, marked started.
    std::vector<Entry> TakeStartable()
    {
        std::vector<Entry> ready;
        for (size_t i = 0; i < entries.size(); ++i)
            if (!entries[i].started && !MustWait(i)) {
                entries[i].started = true;
                ready.push_back(entries[i]);
            }
        return ready;
    }

    void Launch(const std::vector<Entry>& ready)
    {
        for (const Entry& e : ready)
            std::thread([self = shared_from_this(), e] { self->RunOne(e); }).detach();
    }

    void RunOne(const Entry& e)
    {
        e.op->Run();
        Finish(e);
    }

    void Finish(const Entry& e)
    {
        std::function<void(const std::shared_ptr<Operation>&, RunMode)> tell;
        {
            std::lock_guard lock(mutex);
            tell = ended;
        }
        // Told before it leaves the list: whoever waits for the list to empty
        // finds every completion already said.
        if (tell)
            tell(e.op, e.mode);
        std::vector<Entry> next;
        {
            std::lock_guard lock(mutex);
            std::erase_if(entries, [&](const Entry& x) { return x.op == e.op; });
            if (!stopping)
                next = TakeStartable();
            changed.notify_all();
        }
        Launch(next);
    }
};

OperationRunner::OperationRunner(std::function<void(const std::shared_ptr<Operation>&, RunMode)> ended)
    : shared_(std::make_shared<Shared>())
{
    shared_->ended = std::move(ended);
}

OperationRunner::~OperationRunner()
{
    CancelAll();
    std::lock_guard lock(shared_->mutex);
    shared_->ended = nullptr; // whoever would be told is going away too
}

void OperationRunner::SetEnded(std::function<void(const std::shared_ptr<Operation>&, RunMode)> ended)
{
    std::lock_guard lock(shared_->mutex);
    shared_->ended = std::move(ended);
}

void OperationRunner::SetVolumeQueue(bool on)
{
    std::vector<Shared::Entry> ready;
    {
        std::lock_guard lock(shared_->mutex);
        shared_->volumeQueue = on;
        if (!shared_->stopping)
            ready = shared_->TakeStartable(); // turned off: whatever waited goes now
    }
    shared_->Launch(ready);
}

bool OperationRunner::VolumeQueue() const
{
    std::lock_guard lock(shared_->mutex);
    return shared_->volumeQueue;
}

bool OperationRunner::Start(const std::shared_ptr<Operation>& op, RunMode mode)
{
    std::vector<Shared::Entry> ready;
    {
        std::lock_guard lock(shared_->mutex);
        if (shared_->stopping)
            return false;
        if (mode == RunMode::Background &&
            std::count_if(shared_->entries.begin(), shared_->entries.end(),
                          [](const Shared::Entry& e) { return e.mode == RunMode::Background; }) >= kBackgroundSlots)
            return false;
        shared_->entries.push_back({op, mode, false});
        ready = shared_->TakeStartable();
    }
    shared_->Launch(ready);
    return true;
}

std::vector<std::shared_ptr<Operation>> OperationRunner::Active() const
{
    std::lock_guard lock(shared_->mutex);
    std::vector<std::shared_ptr<Operation>> ops;
    for (const auto& e : shared_->entries)
        ops.push_back(e.op);
    return ops;
}

int OperationRunner::ActiveCount() const
{
    std::lock_guard lock(shared_->mutex);
    return int(shared_->entries.size());
}

int OperationRunner::BackgroundCount() const
{
    std::lock_guard lock(shared_->mutex);
    return int(std::count_if(shared_->entries.begin(), shared_->entries.end(),
                             [](const Shared::Entry& e) { return e.mode == RunMode::Background; }));
}

void OperationRunner::CancelAll()
{
    std::vector<Shared::Entry> unstarted;
    {
        std::lock_guard lock(shared_->mutex);
        shared_->stopping = true;
        for (const auto& e : shared_->entries) {
            e.op->Cancel();
            if (!e.started)
                unstarted.push_back(e);
        }
        for (auto& e : unstarted)
            for (auto& x : shared_->entries)
                if (x.op == e.op)
                    x.started = true; // never launched now: finished here
    }
    for (const auto& e : unstarted) {
        e.op->MarkCancelledBeforeStart();
        shared_->Finish(e);
    }
}

bool OperationRunner::WaitAll(std::chrono::milliseconds timeout)
{
    std::unique_lock lock(shared_->mutex);
    return shared_->changed.wait_for(lock, timeout, [&] { return shared_->entries.empty(); });
}

} // namespace tarnel
