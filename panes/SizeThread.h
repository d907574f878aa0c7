#pragma once
// The worker that fills in the totals of a pane's subdirectories.
#include "panes/WorkerThread.h"

#include <string>

namespace tarnel {

struct TDirData;

// Runs at idle priority over the listing as it was when the thread was made.
// Pass 1 computes the directories without a total; pass 2 then refreshes the
// ones whose total was remembered from an earlier visit, so a missing total is
// never kept waiting behind a refresh. After each computed directory the scan
// starts again at row 0, because the main thread may have re-sorted meanwhile.
// Results go straight into the entries' atomic fields; a changed total asks
// the sink for a repaint of the size column. Checkpoints 1-8 (8: done).
class TDirSizeThread : public GatedWorker {
public:
    // path: the pane's directory, ending in "/". Starts the thread.
    TDirSizeThread(TDirData& pane, std::string path, WorkerSink& sink);
};

} // namespace tarnel
