#pragma once
// The background workers a disk listing starts: directory totals and icons.
#include "panes/FileData.h"

#include <memory>
#include <mutex>
#include <string>

namespace tarnel {

struct TDirData;
struct Volume;

// A let-go worker that may still be in the middle of one entry of the
// listing: the listing's memory must outlive that one look.
class ListingUse {
public:
    virtual ~ListingUse() = default;
    virtual bool InUse() const = 0;
    // Hands over what must live until the worker is gone.
    virtual void Keep(std::shared_ptr<void> listing) = 0;
};

class PaneWorker {
public:
    virtual ~PaneWorker() = default;
    // Asks the worker to stop; returns at once.
    virtual void Terminate() = 0;
    // Blocks until the worker has ended.
    virtual void Wait() = 0;
    // Lets go of the worker without waiting for it: afterwards it starts no
    // new look at the listing nor report to its sink. A look under way may
    // still finish: then the result says so, until it has.
    virtual std::shared_ptr<ListingUse> Release()
    {
        Wait();
        return nullptr;
    }
};

// Starts the two threads of one pane; null results mean "no such thread".
class PaneWorkerFactory {
public:
    virtual ~PaneWorkerFactory() = default;
    virtual std::unique_ptr<PaneWorker> StartIconThread(TDirData& pane, std::mutex& iconMutex, const std::string& path) = 0;
    virtual std::unique_ptr<PaneWorker> StartSizeThread(TDirData& pane, std::mutex& iconMutex, const std::string& path) = 0;
    // True when a worker refused for the pane just now may start later: the
    // last one of its kind is still winding down.
    virtual bool MayStartLater(const TDirData& /*pane*/) const { return false; }
};

// Where the workers report. Called on the worker threads: an implementation
// with a user interface hands the calls over to its main thread. It must not
// read the pane's listing: a look under way may end after a re-read.
class WorkerSink {
public:
    virtual ~WorkerSink() = default;
    // A directory total of the pane changed: its size column needs repainting.
    virtual void RepaintSizeColumn(TDirData& pane) = 0;
    // A failure the user is told about, the text complete.
    virtual void ShowWorkerError(const std::string& text) = 0;
};

// Finds an entry's icon key for the icon thread. Called on the worker thread
// outside any lock, so it must be thread-safe and outlive the released
// workers (WaitForReleasedWorkers). fullPath is the entry's path ("pane/."
// for "..", the volume root for a drive row); drive is the volume of a drive
// row, else null.
class IconResolver {
public:
    virtual ~IconResolver() = default;
    virtual int IconKeyFor(FileKind kind, const std::string& fullPath, const Volume* drive) = 0;
};

// Terminate, release, free: the listing may be changed once this returns.
inline std::shared_ptr<ListingUse> StopWorker(std::unique_ptr<PaneWorker>& worker)
{
    if (!worker)
        return nullptr;
    worker->Terminate();
    std::shared_ptr<ListingUse> use = worker->Release();
    worker.reset();
    return use;
}

} // namespace tarnel
