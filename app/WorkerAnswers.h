#pragma once
// Questions that may wait on a file system (does this place exist, start this
// program in that folder) are asked on a thread of their own; the answer
// comes back to the window's thread as a queued call. The window's thread
// makes no system call on a user's path: a dead network mount must not
// freeze it. A thread that never returns is never waited for, not even when
// the program ends: its answer is dropped once this object is gone.
#include <QObject>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace tarnel {

class WorkerAnswers : public QObject {
public:
    // At most limit questions are left waiting at a time.
    explicit WorkerAnswers(int limit, QObject* parent = nullptr);
    ~WorkerAnswers() override;

    // Runs work on a new thread, then answer(result) on this object's thread.
    // False, and nothing started, while limit questions are still unanswered.
    template <typename Result>
    bool Ask(std::function<Result()> work, std::function<void(const Result&)> answer)
    {
        if (mailbox_->waiting.load() >= limit_)
            return false;
        ++mailbox_->waiting;
        std::thread([mailbox = mailbox_, work = std::move(work), answer = std::move(answer)] {
            const Result result = work();
            const std::lock_guard<std::mutex> lock(mailbox->mutex);
            if (mailbox->owner)
                QMetaObject::invokeMethod(mailbox->owner, [answer, result] { answer(result); }, Qt::QueuedConnection);
            --mailbox->waiting; // after the answer is on its way: no longer waiting means it is queued

        }).detach();
        return true;
    }

    int Waiting() const { return mailbox_->waiting.load(); }

private:
    // Shared with the threads, which may outlive this object.
    struct Mailbox {
        std::mutex mutex;
        QObject* owner = nullptr;
        std::atomic<int> waiting{0};
    };
    std::shared_ptr<Mailbox> mailbox_;
    int limit_;
};

} // namespace tarnel
