#pragma once
// The owner of the background copies and moves: it starts their threads,
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
    // that thread once the operation is over (post a message from it).
    void Start(uint16_t id, int code, std::vector<std::string> sources, std::string target,
               std::function<void(uint16_t)> finished);
    // Joins a finished operation and closes its progress dialog. An unknown id
    // (already reaped) is ignored.
    void Reap(uint16_t id);
    // Cancels every operation, answers their questions "Cancel" and waits,
    // with a dialog saying so, until all have ended. Nothing runs afterwards.
    void Shutdown();

    int Running() const;
    bool ShuttingDown() const { return stopping_->load(); }
    // For tests: operations that are shown a progress dialog at once.
    void SetProgressDelayMs(int ms) { progressDelayMs_ = ms; }
    QProgressDialog* ProgressDialogOf(uint16_t id) const;

    struct Job; // one operation, shared with its thread

private:
    void UpdateProgress();

    QWidget* window_;
    QTimer* timer_;
    std::vector<std::shared_ptr<Job>> jobs_;
    std::shared_ptr<std::atomic<bool>> stopping_ = std::make_shared<std::atomic<bool>>(false);
    int progressDelayMs_ = 500;
};

} // namespace tarnel
