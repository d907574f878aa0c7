#pragma once
// The mailbox between a pane and the workers that list for it. Both hold it,
// so it outlives whichever goes first: a worker blocked in a dead file
// system may return long after its pane is gone, and then finds nobody to
// tell. Each read has a ticket; what a worker sends under an older ticket
// than the pane's current one is dropped.
#include "sources/FileSource.h"

#include <functional>
#include <memory>
#include <mutex>

namespace tarnel {

// Hands a task to the pane's thread; any thread may call it.
using TaskPoster = std::function<void(std::function<void()>)>;

class ListingChannel : public std::enable_shared_from_this<ListingChannel> {
public:
    // Workers still listing for one pane, the abandoned ones included,
    // beyond which a new read waits for one of them to return.
    static constexpr int kMaxWorkers = 4;

    struct Mail {
        std::vector<std::vector<SourceEntry>> chunks;
        int progress = -1; // the last reported, -1 for none
        std::vector<std::string> problems;
        bool finished = false; // the listing is whole: no more mail for it
    };

    // Pane side, on the pane's thread.
    // onMail runs on the pane's thread, through poster, when mail comes for
    // the current read or a worker returns.
    void Open(TaskPoster poster, std::function<void()> onMail);
    bool IsOpen() const;
    // The pane is gone: the current read is cancelled and nothing is posted.
    void Close();
    // A new read: the current one is cancelled and its mail dropped. The
    // worker counts as running until it calls Finish.
    uint64_t Begin(std::shared_ptr<CancelToken> cancel);
    // The current read is cancelled and its mail dropped; nothing is current.
    void Abandon();
    Mail Take();
    uint64_t Current() const;
    int Running() const;

    // Worker side, any thread. False once the ticket is stale.
    bool Deliver(uint64_t ticket, std::vector<SourceEntry>&& chunk);
    void Progress(uint64_t ticket, int percent);
    void Problem(uint64_t ticket, std::string text);
    // The worker returns; its listing is whole unless it was cancelled.
    void Finish(uint64_t ticket);

private:
    void CancelCurrentLocked();
    void WakeLocked();
    void RunMail();

    mutable std::mutex mutex_;
    TaskPoster poster_;
    std::function<void()> onMail_;
    bool open_ = false;
    bool wakePending_ = false;
    uint64_t ticket_ = 0;
    std::shared_ptr<CancelToken> cancel_;
    int running_ = 0;
    Mail mail_;
};

// A sink that sends a worker's listing through the channel under its ticket.
class ChannelSink : public ListSink {
public:
    ChannelSink(ListingChannel& channel, uint64_t ticket) : channel_(channel), ticket_(ticket) {}
    void Chunk(std::vector<SourceEntry>&& entries) override { channel_.Deliver(ticket_, std::move(entries)); }
    void Progress(int percent) override { channel_.Progress(ticket_, percent); }
    void Problem(const std::string& text) override { channel_.Problem(ticket_, text); }

private:
    ListingChannel& channel_;
    uint64_t ticket_;
};

} // namespace tarnel
