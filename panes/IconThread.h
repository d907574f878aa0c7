#pragma once
// The worker that finds the icon of every entry painting has not reached yet.
#include "panes/WorkerThread.h"

#include <mutex>
#include <string>

namespace tarnel {

struct TDirData;

// Runs once over the listing at idle priority and stores each missing icon
// key under the pane's icon mutex; keys painting already set are kept. The
// resolver goes by name (MimeIconResolver): files are looked at only once
// their rows show.
// Checkpoints 1-3.
class TReadIconsThread : public GatedWorker {
public:
    // path: the pane's directory, ending in "/". iconMutex guards the entries'
    // Icon fields against painting. Starts the thread.
    TReadIconsThread(TDirData& pane, std::mutex& iconMutex, std::string path, IconResolver& resolver,
                     WorkerSink& sink);
};

} // namespace tarnel
