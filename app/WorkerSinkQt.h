#pragma once
// Hands the worker threads' requests to the main thread.
#include "panes/PaneWorkers.h"

#include <QObject>
#include <QString>

#include <functional>
#include <mutex>
#include <vector>

namespace tarnel {

// The handlers run on the thread that owns this object (the main thread),
// later, from its event loop. Repaint requests for one pane that pile up
// before the main thread gets to them are merged into one call. The panes
// passed must outlive this object (the window owns both); stop the panes'
// workers before destroying it.
class WorkerSinkQt : public QObject, public WorkerSink {
public:
    explicit WorkerSinkQt(QObject* parent = nullptr);

    // Main thread, before the first worker starts.
    void SetRepaintHandler(std::function<void(TDirData&)> handler) { repaint_ = std::move(handler); }
    void SetErrorHandler(std::function<void(const QString&)> handler) { error_ = std::move(handler); }

    // Any thread.
    void RepaintSizeColumn(TDirData& pane) override;
    void ShowWorkerError(const std::string& text) override;

private:
    std::function<void(TDirData&)> repaint_;
    std::function<void(const QString&)> error_;
    std::mutex mutex_;
    std::vector<TDirData*> pending_; // panes with a repaint already on its way
};

} // namespace tarnel
