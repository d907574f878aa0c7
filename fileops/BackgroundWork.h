#pragma once
// The owner of the background work (copies, moves, the properties totals): it
// starts their threads,
// answers their questions on the main thread, shows their progress from
// atomics read by a timer (a busy window never stalls a copy), and at exit
// cancels them and waits until every one has ended.
#include "platform/ShellFileOperation.h"

#include <QObject>
#include <QPointer>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

class QProgressDialog;
class QTimer;
class QWidget;

namespace tarnel {

class BackgroundWork : public QObject {
public:
    // Questions and progress dialogs open over window.
    explicit BackgroundWork(QWidget* window);
    ~BackgroundWork() override; // Shutdown()

    // Runs the operation on a thread of its own; finished(id) is called on
    // that thread once the operation is over (post a message from it). An
    // observer is told of the finished entries on that thread too.
    void Start(uint16_t id, int code, std::vector<std::string> sources, std::string target,
               std::function<void(uint16_t)> finished, unsigned flags = kDefaultFileOperationFlags,
               std::shared_ptr<OperationObserver> observer = nullptr);
    // Joins a finished operation and closes its progress dialog. An unknown id
    // (already reaped) is ignored.
    void Reap(uint16_t id);
    // Cancels every operation, answers their questions "Cancel" and waits,
    // with a dialog saying so, until all have ended. Nothing runs afterwards.
    void Shutdown();

    // Runs work on a thread of its own, then done() on the main thread unless
    // the returned flag was set meanwhile. Setting it asks the work to stop;
    // the thread is joined here later, never by the one who set the flag.
    std::shared_ptr<std::atomic<bool>> StartTask(std::function<void(const std::atomic<bool>& cancel)> work,
                                                 std::function<void()> done);

    int Running() const; // operations and tasks not yet ended
    bool ShuttingDown() const { return stopping_->load(); }
    // For tests: operations that are shown a progress dialog at once.
    void SetProgressDelayMs(int ms) { progressDelayMs_ = ms; }
    QProgressDialog* ProgressDialogOf(uint16_t id) const;

    struct Job; // one operation, shared with its thread
    struct Task; // one task, shared with its thread

private:
    void UpdateProgress();
    void JoinEndedTasks();

    QWidget* window_;
    QTimer* timer_;
    std::vector<std::shared_ptr<Job>> jobs_;
    std::vector<std::shared_ptr<Task>> tasks_;
    std::shared_ptr<std::atomic<bool>> stopping_ = std::make_shared<std::atomic<bool>>(false);
    int progressDelayMs_ = 500;
};

} // namespace tarnel
