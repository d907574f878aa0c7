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
    if (!icons_)
        return nullptr;
    try {
        return std::make_unique<TReadIconsThread>(pane, iconMutex, path, *icons_, sink_);
    } catch (const std::system_error&) {
        return nullptr; // out of threads: painting still finds every icon by name
    }
}

std::unique_ptr<PaneWorker> BackgroundWorkers::StartSizeThread(TDirData& pane, std::mutex&, const std::string& path)
{
    try {
        return std::make_unique<TDirSizeThread>(pane, path, sink_);
    } catch (const std::system_error&) {
        return nullptr; // out of threads: the totals stay unknown
    }
}

} // namespace tarnel
