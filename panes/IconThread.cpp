#include "panes/IconThread.h"

#include "panes/DirData.h"

#include <unordered_map>

namespace tarnel {

namespace {

class IconJob {
public:
    IconJob(GatedWorker::Gate& gate, TDirData& pane, std::mutex& iconMutex, std::string path, IconResolver& resolver,
            WorkerSink& sink)
        : gate_(gate), pane_(pane), iconMutex_(iconMutex), path_(std::move(path)), resolver_(resolver), sink_(sink),
          items_(pane.Items.data()), itemCount_(pane.Count), firstDrive_(pane.Count - pane.DriveCount), drives_(pane.DriveSource()),
          entryDirs_(pane.EntryDirs)
    {
    }

    void Run()
    {
        try {
            // Mid-sort an entry can be missed; then the listing is gone over
            // again, which costs little since found icons are skipped.
            // The listing's counters are read inside the gate too: once the
            // owner lets go, the pane itself may be gone.
            for (bool complete = false; !complete && !gate_.Stopped();) {
                uint32_t order = 0;
                if (!gate_.Enter([&] { order = pane_.ReorderCount.load(std::memory_order_acquire); }) || !OnePass())
                    return;
                if (!gate_.Enter([&] { complete = pane_.OrderHeldSince(order); }))
                    return;
            }
        } catch (...) {
            const std::string text =
                "TREADICONSTHREAD error at index " + std::to_string(gate_.checkpoint.load()) + " for " + path_;
            gate_.Enter([&] {
                try {
                    sink_.ShowWorkerError(text);
                } catch (...) {
                }
            });
        }
    }

private:
    // False once the owner has let go.
    bool OnePass()
    {
        for (int index = 0; index < itemCount_ && !gate_.Stopped(); ++index) {
            TFileData* target = nullptr;
            FileKind kind = fkFile;
            std::string fullPath;
            const Volume* drive = nullptr;
            const bool held = gate_.Enter([&] {
                gate_.Pass(1);
                TFileData& e = *TDirData::LoadItemFrom(items_, index);
                gate_.Pass(2);
                std::lock_guard lock(iconMutex_);
                if (e.Icon.load() != 0)
                    return;
                target = &e;
                kind = FileKind(e.Kind);
                if (e.Kind == fkDrive) {
                    const int k = index - firstDrive_;
                    if (k >= 0 && size_t(k) < drives_.size()) {
                        drive = &drives_[size_t(k)];
                        fullPath = drive->root;
                    }
                } else {
                    const auto own = entryDirs_.find(&e);
                    fullPath = (own == entryDirs_.end() ? path_ : own->second) +
                               (e.IsParentEntry() ? std::string(".") : e.Name);
                }
            });
            if (!held)
                return false;
            if (target) {
                // Outside the gate and the icon mutex: neither painting nor a
                // re-read waits for the resolver. Painting may store a key
                // meanwhile; its key is as good as this one.
                const int key = resolver_.IconKeyFor(kind, fullPath, drive);
                gate_.Enter([&] {
                    std::lock_guard lock(iconMutex_);
                    if (target->Icon.load() == 0)
                        target->Icon = key;
                });
            }
            gate_.Pass(3);
        }
        return true;
    }

    GatedWorker::Gate& gate_;
    TDirData& pane_;
    std::mutex& iconMutex_;
    const std::string path_;
    IconResolver& resolver_;
    WorkerSink& sink_;
    TFileData** const items_; // the listing it was started on
    const int itemCount_;
    const int firstDrive_;   // drive rows are last and never re-sorted
    const DriveList drives_; // a copy: the main thread may refresh the system list meanwhile
    // A copy, as the listing's own is cleared by the next read: the folders
    // of entries that carry their own (found files).
    const std::unordered_map<const TFileData*, std::string> entryDirs_;
};

} // namespace

TReadIconsThread::TReadIconsThread(TDirData& pane, std::mutex& iconMutex, std::string path, IconResolver& resolver,
                                   WorkerSink& sink)
{
    auto job = std::make_shared<IconJob>(*gate_, pane, iconMutex, std::move(path), resolver, sink);
    Start([job] { job->Run(); });
}

} // namespace tarnel
