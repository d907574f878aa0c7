#include "panes/BackgroundWorkers.h"

#include "panes/IconThread.h"
#include "panes/SizeThread.h"

#include <system_error>

namespace tarnel {

BackgroundWorkers::BackgroundWorkers(WorkerSink& sink, IconResolver& icons) : sink_(sink), icons_(&icons) {}

BackgroundWorkers::BackgroundWorkers(WorkerSink& sink) : sink_(sink), icons_(nullptr) {}

std::unique_ptr<PaneWorker> BackgroundWorkers::StartIconThread(TDirData& pane, std::mutex& iconMutex,
                                                               const std::string& path)
{
    if (!icons_ || Lingering(pane, kIcons))
        return nullptr;
    try {
        auto worker = std::make_unique<TReadIconsThread>(pane, iconMutex, path, *icons_, sink_);
        Remember(pane, kIcons, *worker);
        return worker;
    } catch (const std::system_error&) {
        return nullptr; // out of threads: painting still finds every icon by name
    }
}

std::unique_ptr<PaneWorker> BackgroundWorkers::StartSizeThread(TDirData& pane, std::mutex&, const std::string& path)
{
    if (Lingering(pane, kSizes))
        return nullptr; // the totals stay unknown until the stuck walk ends
    try {
        auto worker = std::make_unique<TDirSizeThread>(pane, path, sink_);
        Remember(pane, kSizes, *worker);
        return worker;
    } catch (const std::system_error&) {
        return nullptr; // out of threads: the totals stay unknown
    }
}

bool BackgroundWorkers::MayStartLater(const TDirData& pane) const
{
    return (icons_ && Lingering(pane, kIcons)) || Lingering(pane, kSizes);
}

// A terminated worker ends within milliseconds unless the system holds it
// (or a loaded machine keeps the idle thread waiting: then one more starts).
constexpr std::chrono::milliseconds kStuckAfter {50};

bool BackgroundWorkers::Lingering(const TDirData& pane, Kind kind) const
{
    const auto it = last_.find({&pane, kind});
    return it != last_.end() && GatedWorker::Lingers(*it->second, kStuckAfter);
}

void BackgroundWorkers::Remember(const TDirData& pane, Kind kind, const GatedWorker& worker)
{
    std::shared_ptr<const GatedWorker::Gate>& last = last_[{&pane, kind}];
    // A released worker still winding down stays the one watched: should it
    // turn out stuck, no more are started beside it.
    if (last && last->life.load() == GatedWorker::Gate::kReleasedRunning)
        return;
    last = worker.SharedGate();
}

} // namespace tarnel
