#pragma once
// The window's side of long work. Operations run on the runner's workers,
// never on the window's thread: their questions open as dialogs over the
// window (no nested event loop while the work waits), their progress dialog
// shows once they have run half a second and is fed from the operations'
// snapshots by a timer, so a busy window never stalls a copy. At the end of
// the program everything is cancelled; a worker stuck on a file system is
// left behind rather than waited for.
//
// It also runs the window's small tasks (drive lists) on threads of their own.
#include "fileops/model/OperationRunner.h"

#include <QObject>
#include <QPointer>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

class QMessageBox;
class QTimer;
class QWidget;

namespace tarnel {

class OperationProgressDialog;

class BackgroundWork : public QObject {
public:
    // Questions and progress dialogs open over window.
    explicit BackgroundWork(QWidget* window);
    ~BackgroundWork() override; // Shutdown()

    // Runs op. finished is called on the worker once op has ended, whatever
    // the end (post a message from it); done on the window's thread after
    // that, unless the program is ending. False, and nothing runs, when a
    // background slot is not free or the program is ending.
    // showProgress false: whoever started it shows its progress itself.
    bool Run(const std::shared_ptr<Operation>& op, RunMode mode, std::function<void()> finished,
             std::function<void(const Operation&)> done, bool showProgress = true);
    OperationRunner& Runner() { return runner_; }
    // Operations whose done has not run yet, in start order.
    std::vector<std::shared_ptr<Operation>> Operations() const;

    // Tests answer the questions here, on the window's thread, instead of boxes.
    void SetTestAnswers(OperationUi* answers) { testAnswers_ = answers; }
    // And the notes, errors and yes/no questions of the sources' operations.
    void SetTestMessages(std::function<int(const OperationQuestion&)> answer) { testMessages_ = std::move(answer); }
    // The question box open for op, if any.
    QMessageBox* QuestionOf(const Operation* op) const;
    OperationProgressDialog* ProgressDialogOf(const Operation* op) const;
    void SetProgressDelayMs(int ms) { progressDelayMs_ = ms; }

    // Cancels every operation and task. Operations get a short while to end
    // (their completions are posted); tasks are waited for.
    void Shutdown();
    bool ShuttingDown() const { return stopping_->load(); }
    // How long the end waits for cancelled operations (2 s unless set).
    void SetQuitGrace(std::chrono::milliseconds grace) { quitGrace_ = grace; }

    // Runs work on a thread of its own, then done() on the main thread unless
    // the returned flag was set meanwhile. Setting it asks the work to stop;
    // the thread is joined here later, never by the one who set the flag.
    std::shared_ptr<std::atomic<bool>> StartTask(std::function<void(const std::atomic<bool>& cancel)> work,
                                                 std::function<void()> done);
    int Running() const; // operations and tasks not yet ended

    struct Task;
    struct Shared; // what the workers may touch after this is gone

private:
    struct Watched;
    void Ended(const std::shared_ptr<Operation>& op);
    void Ask(const std::shared_ptr<Operation>& op, const OperationQuestion& question, std::function<void(int)> reply);
    void Tick();
    void JoinEndedTasks();

    QWidget* window_;
    QTimer* timer_;
    OperationRunner runner_;
    std::shared_ptr<Shared> shared_;
    std::vector<std::unique_ptr<Watched>> watched_;
    struct OpenQuestion {
        std::weak_ptr<Operation> op;
        QPointer<QMessageBox> box;
    };
    std::vector<OpenQuestion> questions_;
    OperationUi* testAnswers_ = nullptr;
    std::function<int(const OperationQuestion&)> testMessages_;
    std::vector<std::shared_ptr<Task>> tasks_;
    std::shared_ptr<std::atomic<bool>> stopping_ = std::make_shared<std::atomic<bool>>(false);
    int progressDelayMs_ = 500;
    std::chrono::milliseconds quitGrace_{2000};
};

} // namespace tarnel
