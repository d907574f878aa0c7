#include "sources/ListingChannel.h"

#include <utility>

namespace tarnel {

void ListingChannel::Open(TaskPoster poster, std::function<void()> onMail)
{
    std::lock_guard lock(mutex_);
    poster_ = std::move(poster);
    onMail_ = std::move(onMail);
    open_ = true;
}

bool ListingChannel::IsOpen() const
{
    std::lock_guard lock(mutex_);
    return open_;
}

void ListingChannel::Close()
{
    std::function<void()> onMail;
    TaskPoster poster;
    {
        std::lock_guard lock(mutex_);
        CancelCurrentLocked();
        open_ = false;
        // Destroyed outside the lock: they may hold what a worker must not wait for.
        onMail = std::move(onMail_);
        poster = std::move(poster_);
    }
}

uint64_t ListingChannel::Begin(std::shared_ptr<CancelToken> cancel)
{
    std::lock_guard lock(mutex_);
    CancelCurrentLocked();
    cancel_ = std::move(cancel);
    ++running_;
    return ticket_;
}

void ListingChannel::Abandon()
{
    std::lock_guard lock(mutex_);
    CancelCurrentLocked();
}

void ListingChannel::CancelCurrentLocked()
{
    if (cancel_)
        cancel_->Cancel();
    cancel_.reset();
    ++ticket_;
    mail_ = {};
}

ListingChannel::Mail ListingChannel::Take()
{
    std::lock_guard lock(mutex_);
    Mail taken = std::move(mail_);
    mail_ = {};
    return taken;
}

uint64_t ListingChannel::Current() const
{
    std::lock_guard lock(mutex_);
    return ticket_;
}

int ListingChannel::Running() const
{
    std::lock_guard lock(mutex_);
    return running_;
}

bool ListingChannel::Deliver(uint64_t ticket, std::vector<SourceEntry>&& chunk)
{
    std::lock_guard lock(mutex_);
    if (ticket != ticket_ || !open_)
        return false;
    mail_.chunks.push_back(std::move(chunk));
    WakeLocked();
    return true;
}

void ListingChannel::Progress(uint64_t ticket, int percent)
{
    std::lock_guard lock(mutex_);
    if (ticket != ticket_ || !open_)
        return;
    mail_.progress = percent;
    WakeLocked();
}

void ListingChannel::Problem(uint64_t ticket, std::string text)
{
    std::lock_guard lock(mutex_);
    if (ticket != ticket_ || !open_)
        return;
    mail_.problems.push_back(std::move(text));
    WakeLocked();
}

void ListingChannel::Finish(uint64_t ticket)
{
    std::lock_guard lock(mutex_);
    --running_;
    if (ticket == ticket_) {
        mail_.finished = true;
        cancel_.reset();
    }
    if (open_)
        WakeLocked(); // also a returning stale worker: a read waiting for a free worker may start
}

void ListingChannel::WakeLocked()
{
    if (wakePending_ || !poster_)
        return;
    wakePending_ = true;
    poster_([self = shared_from_this()] { self->RunMail(); });
}

void ListingChannel::RunMail()
{
    std::function<void()> onMail;
    {
        std::lock_guard lock(mutex_);
        wakePending_ = false;
        if (!open_)
            return;
        onMail = onMail_;
    }
    onMail();
}

} // namespace tarnel
