#pragma once
// The real worker threads of the disk panes.
#include "panes/PaneWorkers.h"
#include "panes/WorkerThread.h"

#include <map>
#include <memory>
#include <utility>

namespace tarnel {

// Starts TReadIconsThread and TDirSizeThread for a pane, at most one of each
// beside a released one that still runs. The sink and the
// resolver must outlive every worker started (stop the panes' workers first).
class BackgroundWorkers : public PaneWorkerFactory {
public:
    BackgroundWorkers(WorkerSink& sink, IconResolver& icons);
    bool MayStartLater(const TDirData& pane) const override;
    // Directory totals only: no icon thread.
    explicit BackgroundWorkers(WorkerSink& sink);

    // Null when the thread cannot be started (the pane then simply goes without).
    std::unique_ptr<PaneWorker> StartIconThread(TDirData& pane, std::mutex& iconMutex, const std::string& path) override;
    std::unique_ptr<PaneWorker> StartSizeThread(TDirData& pane, std::mutex& iconMutex, const std::string& path) override;

private:
    enum Kind { kIcons, kSizes };
    // A pane's released worker of that kind that has not ended yet: a new one
    // would only hang beside it.
    bool Lingering(const TDirData& pane, Kind kind) const;
    void Remember(const TDirData& pane, Kind kind, const GatedWorker& worker);

    WorkerSink& sink_;
    IconResolver* icons_;
    std::map<std::pair<const TDirData*, Kind>, std::shared_ptr<const GatedWorker::Gate>> last_;
};

} // namespace tarnel
