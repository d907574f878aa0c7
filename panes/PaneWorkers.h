#pragma once
// The background workers a disk listing starts: directory totals and icons.
#include <memory>
#include <mutex>
#include <string>

namespace tarnel {

struct TDirData;

class PaneWorker {
public:
    virtual ~PaneWorker() = default;
    virtual void Terminate() = 0;
    virtual void Wait() = 0;
};

// Starts the two threads of one pane; null results mean "no such thread".
class PaneWorkerFactory {
public:
    virtual ~PaneWorkerFactory() = default;
    virtual std::unique_ptr<PaneWorker> StartIconThread(TDirData& pane, std::mutex& iconMutex, const std::string& path) = 0;
    virtual std::unique_ptr<PaneWorker> StartSizeThread(TDirData& pane, std::mutex& iconMutex, const std::string& path) = 0;
};

// Terminate, wait, free.
inline void StopWorker(std::unique_ptr<PaneWorker>& worker)
{
    if (!worker)
        return;
    worker->Terminate();
    worker->Wait();
    worker.reset();
}

} // namespace tarnel
