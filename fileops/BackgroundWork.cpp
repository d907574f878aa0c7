#include "fileops/BackgroundWork.h"

#include "fileops/OperationProgressDialog.h"
#include "fileops/QtOperationUi.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QProgressDialog>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <map>
#include <mutex>

namespace tarnel {

namespace {

constexpr int kProgressTickMs = 100;

} // namespace

struct BackgroundWork::Shared {
    std::mutex mutex;
    BackgroundWork* host = nullptr;                                 // null once it is gone
    std::map<const Operation*, std::function<void()>> finishers;  // cleared at the end of the program
};

struct BackgroundWork::Watched {
    std::shared_ptr<Operation> op;
    QElapsedTimer started;
    QPointer<OperationProgressDialog> dialog;
    std::function<void(const Operation&)> done;
    bool showProgress = true;
};

struct BackgroundWork::Task {
    std::thread thread;
    std::atomic<bool> done{false};
    std::shared_ptr<std::atomic<bool>> cancel = std::make_shared<std::atomic<bool>>(false);
};

namespace {

// The operations' questions go to the window's thread; the worker waits in
// the operation, not here.
class WindowQuestions final : public OperationQuestions {
public:
    WindowQuestions(std::shared_ptr<BackgroundWork::Shared> shared, std::function<void(BackgroundWork*, const std::shared_ptr<Operation>&, const OperationQuestion&, std::function<void(int)>)> ask)
        : shared_(std::move(shared))
        , ask_(std::move(ask))
    {
    }
    void Ask(const std::shared_ptr<Operation>& op, const OperationQuestion& question,
             std::function<void(int)> reply) override;

private:
    std::shared_ptr<BackgroundWork::Shared> shared_;
    std::function<void(BackgroundWork*, const std::shared_ptr<Operation>&, const OperationQuestion&,
                       std::function<void(int)>)>
        ask_;
};

} // namespace

void WindowQuestions::Ask(const std::shared_ptr<Operation>& op, const OperationQuestion& question,
                          std::function<void(int)> reply)
{
    std::lock_guard lock(shared_->mutex);
    BackgroundWork* host = shared_->host;
    if (!host) {
        reply(StopAnswer(question.type));
        return;
    }
    QMetaObject::invokeMethod(
        host, [host, ask = ask_, op, question, reply] { ask(host, op, question, reply); }, Qt::QueuedConnection);
}

BackgroundWork::BackgroundWork(QWidget* window)
    : QObject(window)
    , window_(window)
    , timer_(new QTimer(this))
    , shared_(std::make_shared<Shared>())
{
    shared_->host = this;
    timer_->setInterval(kProgressTickMs);
    connect(timer_, &QTimer::timeout, this, &BackgroundWork::Tick);
    runner_.SetEnded([shared = shared_](const std::shared_ptr<Operation>& op, RunMode) {
        std::lock_guard lock(shared->mutex);
        const auto it = shared->finishers.find(op.get());
        if (it != shared->finishers.end()) {
            if (it->second)
                it->second();
            shared->finishers.erase(it);
        }
        if (BackgroundWork* host = shared->host)
            QMetaObject::invokeMethod(host, [host, op] { host->Ended(op); }, Qt::QueuedConnection);
    });
}

BackgroundWork::~BackgroundWork()
{
    Shutdown();
    std::lock_guard lock(shared_->mutex);
    shared_->host = nullptr;
}

bool BackgroundWork::Run(const std::shared_ptr<Operation>& op, RunMode mode, std::function<void()> finished,
                         std::function<void(const Operation&)> done, bool showProgress)
{
    if (*stopping_)
        return false;
    op->SetQuestions(std::make_shared<WindowQuestions>(
        shared_, [](BackgroundWork* host, const std::shared_ptr<Operation>& o, const OperationQuestion& q,
                    std::function<void(int)> reply) { host->Ask(o, q, std::move(reply)); }));
    {
        std::lock_guard lock(shared_->mutex);
        shared_->finishers[op.get()] = std::move(finished);
    }
    auto watched = std::make_unique<Watched>();
    watched->op = op;
    watched->started.start();
    watched->done = std::move(done);
    watched->showProgress = showProgress;
    watched_.push_back(std::move(watched));
    if (!runner_.Start(op, mode)) {
        {
            std::lock_guard lock(shared_->mutex);
            shared_->finishers.erase(op.get());
        }
        watched_.pop_back();
        return false;
    }
    if (!timer_->isActive())
        timer_->start();
    return true;
}

std::vector<std::shared_ptr<Operation>> BackgroundWork::Operations() const
{
    std::vector<std::shared_ptr<Operation>> ops;
    for (const auto& w : watched_)
        ops.push_back(w->op);
    return ops;
}

void BackgroundWork::Ended(const std::shared_ptr<Operation>& op)
{
    const auto it = std::find_if(watched_.begin(), watched_.end(), [&](const auto& w) { return w->op == op; });
    if (it == watched_.end())
        return;
    std::unique_ptr<Watched> ended = std::move(*it);
    watched_.erase(it);
    delete ended->dialog.data();
    for (OpenQuestion& q : questions_)
        if (q.op.lock() == op && q.box)
            q.box->reject();
    if (watched_.empty())
        timer_->stop();
    if (!*stopping_ && ended->done)
        ended->done(*op);
}

void BackgroundWork::Ask(const std::shared_ptr<Operation>& op, const OperationQuestion& q, std::function<void(int)> reply)
{
    if (*stopping_ || op->Cancelled()) {
        reply(StopAnswer(q.type));
        return;
    }
    using Type = OperationQuestion::Type;
    if (testMessages_ && (q.type == Type::Notice || q.type == Type::ErrorText || q.type == Type::Confirm)) {
        reply(testMessages_(q));
        return;
    }
    if (testAnswers_) {
        OperationUi& ui = *testAnswers_;
        int answer = 0;
        switch (q.type) {
        case OperationQuestion::Type::Replace:
            answer = int(q.factsKnown ? ui.AskReplaceKnown(q.path, q.facts) : ui.AskReplace(q.path));
            break;
        case OperationQuestion::Type::Error: answer = int(ui.AskError(q.what, q.path, q.error)); break;
        case OperationQuestion::Type::ConfirmTrash: answer = ui.ConfirmTrash(q.count); break;
        case OperationQuestion::Type::DeletePermanently: answer = int(ui.AskDeletePermanently(q.path)); break;
        case OperationQuestion::Type::CreateFolder: answer = ui.ConfirmCreateFolder(q.path); break;
        case OperationQuestion::Type::Confirm: answer = 1; break;
        case OperationQuestion::Type::Inform:
        case OperationQuestion::Type::Notice:
        case OperationQuestion::Type::ErrorText: ui.Refused(q.text); break;
        }
        reply(answer);
        return;
    }
    QMessageBox* box = NewQuestionBox(window_, q);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::finished, box, [box, q, reply] { reply(AnswerOf(q, *box)); });
    std::erase_if(questions_, [](const OpenQuestion& open) { return !open.box; });
    questions_.push_back({op, box});
    box->open(); // the window's own loop serves it: nothing waits here
}

QMessageBox* BackgroundWork::QuestionOf(const Operation* op) const
{
    for (const OpenQuestion& q : questions_)
        if (q.box && q.op.lock().get() == op)
            return q.box.data();
    return nullptr;
}

OperationProgressDialog* BackgroundWork::ProgressDialogOf(const Operation* op) const
{
    for (const auto& w : watched_)
        if (w->op.get() == op)
            return w->dialog.data();
    return nullptr;
}

// Shows each operation's progress once it has run for a while; closes the
// questions of operations cancelled meanwhile.
void BackgroundWork::Tick()
{
    for (const auto& w : watched_) {
        if (Finished(w->op->State()))
            continue;
        if (!w->dialog && w->showProgress && w->started.elapsed() >= progressDelayMs_) {
            w->dialog = new OperationProgressDialog(w->op, window_);
            w->dialog->setAttribute(Qt::WA_DeleteOnClose);
            w->dialog->show();
        }
        if (w->dialog)
            w->dialog->Update();
    }
    for (OpenQuestion& q : questions_) {
        const std::shared_ptr<Operation> op = q.op.lock();
        if (q.box && (!op || op->Cancelled()))
            q.box->reject();
    }
    std::erase_if(questions_, [](const OpenQuestion& open) { return !open.box; });
}

std::shared_ptr<std::atomic<bool>> BackgroundWork::StartTask(std::function<void(const std::atomic<bool>& cancel)> work,
                                                             std::function<void()> done)
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

int BackgroundWork::Running() const
{
    return runner_.ActiveCount() +
           int(std::count_if(tasks_.begin(), tasks_.end(), [](const auto& task) { return !task->done; }));
}

void BackgroundWork::Shutdown()
{
    const bool first = !stopping_->exchange(true);
    timer_->stop();
    if (first) {
        runner_.CancelAll();
        for (OpenQuestion& q : questions_)
            if (q.box)
                q.box->reject();
        questions_.clear();
        // A plain wait with a limit: the cancelled work has nothing left to
        // ask, and one stuck on a dead mount is left to end on its own.
        runner_.WaitAll(quitGrace_);
        std::lock_guard lock(shared_->mutex);
        shared_->finishers.clear(); // what ends later tells nobody
    }
    for (const auto& w : watched_)
        delete w->dialog.data();
    for (const auto& task : tasks_)
        *task->cancel = true;
    if (std::any_of(tasks_.begin(), tasks_.end(), [](const auto& task) { return !task->done; })) {
        QProgressDialog waiting("Cancelling the background operations...", QString(), 0, 0, window_);
        waiting.setWindowTitle("Tarnel");
        waiting.setMinimumDuration(0);
        waiting.show();
        while (std::any_of(tasks_.begin(), tasks_.end(), [](const auto& task) { return !task->done; })) {
            QApplication::processEvents(QEventLoop::AllEvents, 20);
            QThread::msleep(5);
        }
    }
    std::vector<std::shared_ptr<Task>> tasks;
    tasks.swap(tasks_);
    for (const auto& task : tasks)
        task->thread.join();
}

} // namespace tarnel
