#include "viewer/model/FileBlocks.h"

#include "viewer/model/TextFile.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace tarnel {

namespace {
// Blocks asked for after one a copy found missing: the next screens.
constexpr int64_t kAhead = 3;
// Requests beyond this many drop the oldest read-ahead: a fast scroll over
// a slow file wants where it is now, not every place it passed.
constexpr size_t kMaxQueued = 256;
} // namespace

struct FileBlocks::Shared {
    mutable std::mutex mutex;
    std::condition_variable wake;   // the worker: a request or a cancel
    std::condition_variable landed; // waiters: a block is in
    TextFile file;                  // the worker's own handle on the open file
    int64_t size = 0;
    size_t maxBlocks = kDefaultMaxBlocks;
    struct Block {
        std::string data;
        uint64_t lastUse = 0;
    };
    std::map<int64_t, Block> held;
    std::deque<int64_t> queue;
    int64_t reading = -1;
    uint64_t clock = 0;
    int64_t lastMiss = -1;
    bool cancelled = false;
    bool running = false;
    std::function<void()> arrived;

    bool Queued(int64_t block) const { return std::find(queue.begin(), queue.end(), block) != queue.end(); }
    int64_t Blocks() const { return (size + kBlockBytes - 1) / kBlockBytes; }

    void Evict(int64_t keep)
    {
        while (held.size() > maxBlocks) {
            auto oldest = held.end();
            for (auto it = held.begin(); it != held.end(); ++it)
                if (it->first != keep && (oldest == held.end() || it->second.lastUse < oldest->second.lastUse))
                    oldest = it;
            if (oldest == held.end())
                return;
            held.erase(oldest);
        }
    }

    static void Work(std::shared_ptr<Shared> s)
    {
        std::unique_lock<std::mutex> lock(s->mutex);
        for (;;) {
            s->wake.wait(lock, [&] { return s->cancelled || !s->queue.empty(); });
            if (s->cancelled)
                return;
            const int64_t block = s->queue.front();
            s->queue.pop_front();
            if (s->held.count(block))
                continue;
            s->reading = block;
            lock.unlock();
            const int64_t at = block * kBlockBytes;
            std::string data(size_t(std::clamp<int64_t>(s->size - at, 0, kBlockBytes)), '\0');
            const size_t wanted = data.size();
            data.resize(s->file.ReadAt(at, data.data(), data.size()));
            lock.lock();
            s->reading = -1;
            if (s->cancelled)
                return;
            // A server that stopped answering is not asked for the read-ahead
            // too, one timeout after another, while others wait for the
            // connection; what is on screen asks again.
            if (data.size() < wanted && s->file.Remote() && !s->file.Failure().empty())
                s->queue.clear();
            s->held[block] = {std::move(data), ++s->clock};
            s->Evict(block);
            s->landed.notify_all();
            if (s->arrived)
                s->arrived();
        }
    }
};

FileBlocks::FileBlocks(const TextFile& file, size_t maxBlocks) : shared_(std::make_shared<Shared>())
{
    file.Share(shared_->file);
    shared_->size = file.Size();
    shared_->maxBlocks = std::max<size_t>(maxBlocks, 2);
}

FileBlocks::~FileBlocks() { Cancel(); }

void FileBlocks::OnArrival(std::function<void()> arrived)
{
    const std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->arrived = std::move(arrived);
}

// With the lock held.
void FileBlocks::Ask(int64_t block, bool first)
{
    Shared& s = *shared_;
    if (s.cancelled || block < 0 || block >= s.Blocks() || s.held.count(block) || s.reading == block)
        return;
    if (first) {
        s.queue.erase(std::remove(s.queue.begin(), s.queue.end(), block), s.queue.end());
        s.queue.push_front(block);
    } else if (!s.Queued(block)) {
        s.queue.push_back(block);
    }
    while (s.queue.size() > kMaxQueued)
        s.queue.pop_back();
    if (!s.running) {
        s.running = true;
        std::thread(&Shared::Work, shared_).detach();
    }
    s.wake.notify_one();
}

FileBlocks::Copied FileBlocks::Copy(int64_t offset, void* out, size_t size)
{
    Copied copied;
    Shared& s = *shared_;
    const std::lock_guard<std::mutex> lock(s.mutex);
    while (copied.bytes < size) {
        const int64_t at = offset + int64_t(copied.bytes);
        if (at >= s.size)
            break;
        const int64_t block = at / kBlockBytes;
        const auto it = s.held.find(block);
        if (it == s.held.end()) {
            copied.missing = true;
            s.lastMiss = at;
            // The ones after first, in reverse, so that the missing one is read first.
            for (int64_t next = block + kAhead; next > block; --next)
                Ask(next, true);
            Ask(block, true);
            break;
        }
        it->second.lastUse = ++s.clock;
        const std::string& data = it->second.data;
        const size_t from = size_t(at - block * kBlockBytes);
        if (from >= data.size())
            break; // the block read short: so does this
        const size_t take = std::min(size - copied.bytes, data.size() - from);
        std::memcpy(static_cast<char*>(out) + copied.bytes, data.data() + from, take);
        copied.bytes += take;
    }
    return copied;
}

void FileBlocks::Prefetch(int64_t offset, int64_t bytes)
{
    const std::lock_guard<std::mutex> lock(shared_->mutex);
    if (bytes <= 0)
        return;
    for (int64_t block = std::max<int64_t>(0, offset) / kBlockBytes; block * kBlockBytes < offset + bytes; ++block)
        Ask(block, false);
}

bool FileBlocks::WaitFor(int64_t offset, std::chrono::milliseconds timeout)
{
    Shared& s = *shared_;
    std::unique_lock<std::mutex> lock(s.mutex);
    const int64_t block = offset / kBlockBytes;
    return s.landed.wait_for(lock, timeout, [&] { return s.cancelled || s.held.count(block) > 0; }) && !s.cancelled;
}

int64_t FileBlocks::LastMiss() const
{
    const std::lock_guard<std::mutex> lock(shared_->mutex);
    return shared_->lastMiss;
}

std::string FileBlocks::Failure() const { return shared_->file.Failure(); }

void FileBlocks::Cancel()
{
    const std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->cancelled = true;
    shared_->queue.clear();
    shared_->arrived = nullptr;
    shared_->wake.notify_all();
    shared_->landed.notify_all();
}

size_t FileBlocks::HeldBlocks() const
{
    const std::lock_guard<std::mutex> lock(shared_->mutex);
    return shared_->held.size();
}

size_t FileBlocks::MaxBlocks() const { return shared_->maxBlocks; }

size_t FileBlocks::Waiting() const
{
    const std::lock_guard<std::mutex> lock(shared_->mutex);
    return shared_->queue.size() + (shared_->reading >= 0 ? 1 : 0);
}

} // namespace tarnel
