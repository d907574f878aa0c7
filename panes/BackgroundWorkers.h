#pragma once
// The real worker threads of the disk panes.
#include "panes/PaneWorkers.h"

namespace tarnel {

// Starts TReadIconsThread and TDirSizeThread for a pane. The sink and the
// resolver must outlive every worker started (stop the panes' workers first).
class BackgroundWorkers : public PaneWorkerFactory {
public:
    BackgroundWorkers(WorkerSink& sink, IconResolver& icons);
    // Directory totals only: no icon thread.
    explicit BackgroundWorkers(WorkerSink& sink);

    // Null when the thread cannot be started (the pane then simply goes without).
    std::unique_ptr<PaneWorker> StartIconThread(TDirData& pane, std::mutex& iconMutex, const std::string& path) override;
    std::unique_ptr<PaneWorker> StartSizeThread(TDirData& pane, std::mutex& iconMutex, const std::string& path) override;

private:
    WorkerSink& sink_;
    IconResolver* icons_;
};

} // namespace tarnel
