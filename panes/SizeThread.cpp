#include "panes/SizeThread.h"

#include "panes/DirData.h"
#include "platform/DirectoryTotals.h"

#include <algorithm>
#include <limits>
#include <optional>

#include <sys/stat.h>
#include <thread>
#include <unordered_map>

namespace tarnel {

namespace {

int32_t ClampCount(int64_t n) { return int32_t(std::min<int64_t>(n, std::numeric_limits<int32_t>::max())); }

class SizeJob {
public:
    SizeJob(GatedWorker::Gate& gate, TDirData& pane, std::string path, WorkerSink& sink)
        : gate_(gate), pane_(pane), path_(std::move(path)), sink_(sink), items_(pane.Items.data()), itemCount_(pane.Count),
          entryDirs_(pane.EntryDirs)
    {
    }

    void Run()
    {
        try {
            // Asked here rather than by the creator: statvfs on a dead network
            // mount can hang, and the creator is the main thread.
            clusterSize_ = ClusterSizeOf(path_);
            if (struct stat st; ::stat(path_.c_str(), &st) == 0)
                device_ = uint64_t(st.st_dev);
            Pass(false);
            gate_.Pass(4);
            Pass(true);
            gate_.Pass(8);
        } catch (...) {
            Report("TDIRSIZETHREAD error at index " + std::to_string(gate_.checkpoint.load()) + " for " + path_);
        }
    }

private:
    // Pass 1 (refresh false): directories with neither a total nor a
    // remembered one. Pass 2: every directory not computed yet.
    void Pass(bool refresh)
    {
        const int first = refresh ? 5 : 1;
        while (!gate_.Stopped()) {
            TFileData* target = nullptr;
            std::string name;
            bool complete = true;
            uint32_t order = 0;
            bool held = gate_.Enter([&] { order = pane_.ReorderCount.load(std::memory_order_acquire); });
            // One entry per bracket: the main thread, waiting to replace the
            // listing, never waits for more than one look at one entry, even
            // when this idle thread is kept off the processor meanwhile.
            for (int index = 0; held && !target && index < itemCount_ && !gate_.Stopped(); ++index) {
                gate_.Pass(first);
                held = gate_.Enter([&] {
                    TFileData& e = *TDirData::LoadItemFrom(items_, index);
                    gate_.Pass(first + 1);
                    if (e.Kind == fkDirectory && !e.IsParentEntry() && e.SizeDone.load() == 0 &&
                        (refresh || e.Size.load() == -1)) {
                        target = &e;
                        name = e.Name;
                    }
                });
            }
            if (held && !target)
                held = gate_.Enter([&] { complete = pane_.OrderHeldSince(order); });
            if (!held)
                return;
            if (!target) {
                if (complete)
                    return;
                std::this_thread::yield(); // a sort is under way: look again after it
                continue;
            }
            gate_.Pass(first + 2);
            Compute(*target, name);
        }
    }

    // The walk runs outside the gate: it touches nothing of the listing.
    void Compute(TFileData& entry, const std::string& name)
    {
        DirectoryTotals totals;
        DirectoryWalker walker(gate_.terminated, clusterSize_, [this] { Report("DIRSIZE error for " + path_); });
        const auto own = entryDirs_.find(&entry);
        const bool finished = walker.Walk((own == entryDirs_.end() ? path_ : own->second) + name, totals,
                                          own == entryDirs_.end() ? device_ : std::nullopt);
        if (!finished)
            totals.bytes = 0; // the read that stopped the walk discards the entry anyway
        gate_.Enter([&] {
            entry.Size = totals.bytes;
            entry.UsedBytes = totals.usedBytes;
            entry.SubFiles = ClampCount(totals.files);
            entry.SubDirs = ClampCount(totals.dirs);
            entry.SizeDone = 1;
            // A stopped walk's zero is never shown: the listing is about to be replaced.
            // A finished one is, even when the total stayed: the space used is new.
            if (!finished)
                return;
            try {
                sink_.RepaintSizeColumn(pane_);
            } catch (...) {
                ShowError("UPDATELIST error for " + path_);
            }
        });
    }

    void Report(const std::string& text)
    {
        gate_.Enter([&] { ShowError(text); });
    }

    // Inside the gate.
    void ShowError(const std::string& text)
    {
        try {
            sink_.ShowWorkerError(text);
        } catch (...) {
            // Nowhere left to tell; the thread must not take the program down.
        }
    }

    GatedWorker::Gate& gate_;
    TDirData& pane_;
    const std::string path_;
    WorkerSink& sink_;
    TFileData** const items_; // the listing it was started on
    const int itemCount_;
    // A copy, as the listing's own is cleared by the next read: the folders
    // of entries that carry their own (found files).
    const std::unordered_map<const TFileData*, std::string> entryDirs_;
    int64_t clusterSize_ = 1;
    std::optional<uint64_t> device_; // of the listed folder: mount points below it are not entered
};

} // namespace

TDirSizeThread::TDirSizeThread(TDirData& pane, std::string path, WorkerSink& sink)
{
    auto job = std::make_shared<SizeJob>(*gate_, pane, std::move(path), sink);
    Start([job] { job->Run(); });
}

} // namespace tarnel
