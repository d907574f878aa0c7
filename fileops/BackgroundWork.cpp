#include "fileops/BackgroundWork.h"

#include "fileops/QtOperationUi.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QProgressDialog>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <mutex>

namespace tarnel {

namespace {

constexpr int kProgressTickMs = 100;

} // namespace

struct BackgroundWork::Job {
    uint16_t id = 0;
    std::thread thread;
    std::atomic<bool> done {false};
    std::atomic<bool> cancelled {false};
    // Written by the worker, read by the main thread's timer.
    std::atomic<uint64_t> itemsDone {0}, itemsTotal {0}, bytesDone {0}, bytesTotal {0};
    std::atomic<bool> progressSeen {false};
    mutable std::mutex nameMutex;
    std::string currentName;
    QElapsedTimer started;
    QPointer<QProgressDialog> dialog;

    std::string CurrentName() const
    {
        std::lock_guard lock(nameMutex);
        return currentName;
    }
};

namespace {

// The worker's side: questions go to the main thread and wait for the
// answer; progress only lands in the job's atomics.
class JobUi final : public OperationUi {
public:
    JobUi(QWidget* window, std::shared_ptr<BackgroundWork::Job> job, std::shared_ptr<std::atomic<bool>> stopping)
        : window_(window)
        , job_(std::move(job))
        , stopping_(std::move(stopping))
    {
    }

    ReplaceAnswer AskReplace(const std::string& path) override
    {
        return Ask(ReplaceAnswer::Cancel, [&](ForegroundOperationUi& ui) { return ui.AskReplace(path); });
    }
    ReplaceAnswer AskReplaceKnown(const std::string& path, const ReplaceFacts& facts) override
    {
        return Ask(ReplaceAnswer::Cancel, [&](ForegroundOperationUi& ui) { return ui.AskReplaceKnown(path, facts); });
    }
    bool ConfirmCreateFolder(const std::string& path) override
    {
        return Ask(false, [&](ForegroundOperationUi& ui) { return ui.ConfirmCreateFolder(path); });
    }
    ErrorAnswer AskError(const std::string& what, const std::string& path, int error) override
    {
        return Ask(ErrorAnswer::Cancel, [&](ForegroundOperationUi& ui) { return ui.AskError(what, path, error); });
    }
    bool ConfirmTrash(size_t count) override
    {
        return Ask(false, [&](ForegroundOperationUi& ui) { return ui.ConfirmTrash(count); });
    }
    DeleteAnswer AskDeletePermanently(const std::string& path) override
    {
        return Ask(DeleteAnswer::Cancel, [&](ForegroundOperationUi& ui) { return ui.AskDeletePermanently(path); });
    }
    void Refused(const std::string& text) override
    {
        Ask(0, [&](ForegroundOperationUi& ui) {
            ui.Refused(text);
            return 0;
        });
    }
    bool Progress(uint64_t itemsDone, uint64_t itemsTotal, uint64_t bytesDone, uint64_t bytesTotal,
                  const std::string& currentName) override
    {
        job_->itemsDone = itemsDone;
        job_->itemsTotal = itemsTotal;
        job_->bytesDone = bytesDone;
        job_->bytesTotal = bytesTotal;
        if (!currentName.empty()) {
            std::lock_guard lock(job_->nameMutex);
            job_->currentName = currentName;
        }
        job_->progressSeen = true;
        return !job_->cancelled && !*stopping_;
    }

private:
    // Asked on the main thread while this thread waits. Once the owner shuts
    // down nobody is left to answer: the answer is the one that stops.
    template <typename Answer, typename F>
    Answer Ask(Answer stop, F&& ask)
    {
        if (*stopping_ || job_->cancelled)
            return stop;
        Answer answer = stop;
        QMetaObject::invokeMethod(
            qApp,
            [&] {
                if (*stopping_)
                    return;
                ForegroundOperationUi ui(window_);
                answer = ask(ui);
            },
            Qt::BlockingQueuedConnection);
        return answer;
    }

    QWidget* window_;
    std::shared_ptr<BackgroundWork::Job> job_;
    std::shared_ptr<std::atomic<bool>> stopping_;
};

QProgressDialog* NewJobDialog(QWidget* window, const std::shared_ptr<BackgroundWork::Job>& job)
{
    auto* dialog = new QProgressDialog(window);
    dialog->setWindowTitle("Tarnel");
    dialog->setCancelButtonText("Cancel");
    dialog->setRange(0, 1000);
    dialog->setMinimumDuration(0);
    dialog->setAutoClose(false);
    dialog->setAutoReset(false);
    std::weak_ptr<BackgroundWork::Job> weak = job;
    QObject::connect(dialog, &QProgressDialog::canceled, dialog, [weak] {
        if (auto j = weak.lock())
            j->cancelled = true;
    });
    dialog->show();
    return dialog;
}

} // namespace

BackgroundWork::BackgroundWork(QWidget* window)
    : QObject(window)
    , window_(window)
    , timer_(new QTimer(this))
{
    timer_->setInterval(kProgressTickMs);
    connect(timer_, &QTimer::timeout, this, &BackgroundWork::UpdateProgress);
}

struct BackgroundWork::Task {
    std::thread thread;
    std::atomic<bool> done {false};
    std::shared_ptr<std::atomic<bool>> cancel = std::make_shared<std::atomic<bool>>(false);
};

BackgroundWork::~BackgroundWork() { Shutdown(); }

std::shared_ptr<std::atomic<bool>> BackgroundWork::StartTask(
    std::function<void(const std::atomic<bool>& cancel)> work, std::function<void()> done)
{
    JoinEndedTasks();
    auto task = std::make_shared<Task>();
    if (*stopping_) {
        *task->cancel = true; // nothing starts once the program is ending
        return task->cancel;
    }
    tasks_.push_back(task);
    task->thread = std::thread([this, task, work = std::move(work), done = std::move(done)] {
        work(*task->cancel);
        // Queued on the owner: it outlives the thread, which it joins.
        QMetaObject::invokeMethod(
            this, [cancel = task->cancel, done] { if (!*cancel) done(); }, Qt::QueuedConnection);
        task->done = true;
    });
    return task->cancel;
}

void BackgroundWork::JoinEndedTasks()
{
    std::erase_if(tasks_, [](const std::shared_ptr<Task>& task) {
        if (!task->done)
            return false;
        task->thread.join();
        return true;
    });
}

void BackgroundWork::Start(uint16_t id, int code, std::vector<std::string> sources, std::string target,
                           std::function<void(uint16_t)> finished, unsigned flags,
                           std::shared_ptr<OperationObserver> observer)
{
    auto job = std::make_shared<Job>();
    job->id = id;
    job->started.start();
    jobs_.push_back(job);
    job->thread = std::thread([window = window_, job, stopping = stopping_, code, sources = std::move(sources),
                               target = std::move(target), finished = std::move(finished), flags,
                               observer = std::move(observer)] {
        {
            JobUi ui(window, job, stopping);
            ShellFileOperation operation(ui);
            operation.SetObserver(observer.get());
            operation.Run(code, sources, target, flags);
        }
        job->done = true;
        if (finished)
            finished(job->id);
    });
    if (!timer_->isActive())
        timer_->start();
}

void BackgroundWork::Reap(uint16_t id)
{
    const auto it = std::find_if(jobs_.begin(), jobs_.end(), [id](const auto& job) { return job->id == id; });
    if (it == jobs_.end())
        return;
    const std::shared_ptr<Job> job = *it;
    jobs_.erase(it);
    if (job->thread.joinable())
        job->thread.join(); // it has posted its last message: ends at once
    delete job->dialog.data();
    if (jobs_.empty())
        timer_->stop();
}

// Shows each running operation's progress once it has run for a while.
void BackgroundWork::UpdateProgress()
{
    const std::vector<std::shared_ptr<Job>> jobs = jobs_; // a copy: nothing below may change the list
    for (const std::shared_ptr<Job>& job : jobs) {
        if (job->done || !job->progressSeen || job->started.elapsed() < progressDelayMs_)
            continue;
        if (!job->dialog)
            job->dialog = NewJobDialog(window_, job);
        const uint64_t bytesTotal = job->bytesTotal, bytesDone = job->bytesDone;
        const uint64_t itemsTotal = job->itemsTotal, itemsDone = job->itemsDone;
        const double part = bytesTotal ? double(bytesDone) / double(bytesTotal)
                                       : (itemsTotal ? double(itemsDone) / double(itemsTotal) : 0.0);
        job->dialog->setValue(int(std::min(part, 1.0) * 1000));
        job->dialog->setLabelText(ProgressText(itemsDone, itemsTotal, bytesDone, bytesTotal, job->CurrentName()));
    }
}

int BackgroundWork::Running() const
{
    const auto running = [](const auto& work) { return !work->done; };
    return int(std::count_if(jobs_.begin(), jobs_.end(), running) +
               std::count_if(tasks_.begin(), tasks_.end(), running));
}

QProgressDialog* BackgroundWork::ProgressDialogOf(uint16_t id) const
{
    for (const auto& job : jobs_)
        if (job->id == id)
            return job->dialog.data();
    return nullptr;
}

void BackgroundWork::Shutdown()
{
    *stopping_ = true;
    timer_->stop();
    for (const auto& job : jobs_)
        job->cancelled = true;
    for (const auto& task : tasks_)
        *task->cancel = true;
    if (Running() > 0) {
        // A worker may be waiting for an answer right now: events go on being
        // served (the answer is "Cancel") until every worker has ended. The
        // list is looked at afresh each round, never walked across the loop.
        QProgressDialog waiting("Cancelling the background operations...", QString(), 0, 0, window_);
        waiting.setWindowTitle("Tarnel");
        waiting.setMinimumDuration(0);
        waiting.show();
        while (Running() > 0) {
            QApplication::processEvents(QEventLoop::AllEvents, 20);
            QThread::msleep(5);
        }
    }
    std::vector<std::shared_ptr<Job>> jobs;
    jobs.swap(jobs_);
    for (const auto& job : jobs) {
        if (job->thread.joinable())
            job->thread.join();
        delete job->dialog.data();
    }
    std::vector<std::shared_ptr<Task>> tasks;
    tasks.swap(tasks_);
    for (const auto& task : tasks)
        task->thread.join();
}

} // namespace tarnel
