#include "panes/DirData.h"

#include "panes/PaneControls.h"
#include "panes/PathUtil.h"
#include "panes/WorkerThread.h"

namespace tarnel {

TDirData::TDirData() { Items.reserve(kInitialCapacity); }

TDirData::~TDirData()
{
    Reads->Close(); // a read under way is abandoned, not waited for
    StopWorkers();
    // What the workers use outside the listing (the icon resolver) is
    // destroyed after the panes.
    WaitForReleasedWorkers();
    ClearEntries(); // a worker held up past the wait keeps what it still reads
}

TFileData& TDirData::NewEntry() { return storage_.emplace_back(); }

void TDirData::ClearEntries()
{
    std::erase_if(inUse_, [](const std::shared_ptr<ListingUse>& use) { return !use->InUse(); });
    if (inUse_.empty()) {
        Items.clear();
        storage_.clear();
        storage_.shrink_to_fit();
    } else {
        // Rare: an idle worker was kept off the processor mid-entry. Rather
        // than wait for it, hand it the old entries and start new ones.
        struct Retired {
            std::vector<TFileData*> items;
            std::deque<TFileData> storage;
        };
        auto retired = std::make_shared<Retired>();
        retired->items.swap(Items);
        retired->storage.swap(storage_);
        for (const std::shared_ptr<ListingUse>& use : inUse_)
            use->Keep(retired);
        inUse_.clear();
        Items.reserve(kInitialCapacity);
    }
    EntryDirs.clear();
    Count = FileCount = DirCount = DriveCount = 0;
}

void TDirData::StopWorkers()
{
    // Both are told first, so they wind down side by side.
    if (SizeThread)
        SizeThread->Terminate();
    if (IconThread)
        IconThread->Terminate();
    LetGo(SizeThread);
    LetGo(IconThread);
}

void TDirData::LetGo(std::unique_ptr<PaneWorker>& worker)
{
    if (std::shared_ptr<ListingUse> use = StopWorker(worker))
        inUse_.push_back(std::move(use));
}

const DriveList& TDirData::DriveSource() const { return Drives ? *Drives : SystemDrives(); }

const SourceTable& TDirData::SourcesTable() const
{
    if (Sources)
        return *Sources;
    static const std::shared_ptr<const SourceTable> defaults = DefaultSources();
    return *defaults;
}

Capabilities TDirData::Can() const { return SourcesTable().Can(Place()); }

const std::string& TDirData::DirOf(const TFileData& entry) const
{
    if (EntryDirs.empty())
        return Path;
    const auto found = EntryDirs.find(&entry);
    return found == EntryDirs.end() ? Path : found->second;
}

void RememberDirSizes(const TDirData& pane)
{
    if (!pane.Can(Capability::DiskPaths))
        return;
    for (int i = 0; i < pane.Count; ++i) {
        const TFileData& e = pane.Item(i);
        if (e.Kind == fkDirectory && e.SizeDone.load())
            DirSizes().Store(pane.DirOf(e) + e.Name, e.Size.load());
    }
}

void RememberPlace(TDirData& pane)
{
    // A listing not yet whole has no position worth keeping over the last one.
    if (pane.Controls && !pane.Reading())
        pane.Positions.Store(pane.Key(), pane.Controls->TopRow(), pane.Controls->CurrentRow());
    RememberDirSizes(pane);
}

void RecordHistory(TDirData& pane)
{
    PanePlace entry = pane.Place().WithDelimiter();
    if (pane.HistoryIndex != -1 && pane.History[size_t(pane.HistoryIndex)] == entry)
        return;
    pane.History.resize(size_t(pane.HistoryIndex + 1));
    pane.History.push_back(std::move(entry));
    ++pane.HistoryIndex;
    while (int(pane.History.size()) > TDirData::kHistoryLimit) {
        pane.History.erase(pane.History.begin());
        --pane.HistoryIndex;
    }
    if (pane.Controls)
        pane.Controls->HistoryChanged();
}

} // namespace tarnel
