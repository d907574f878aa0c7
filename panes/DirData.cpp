#include "panes/DirData.h"

#include "panes/PaneControls.h"
#include "panes/PathUtil.h"
#include "panes/WorkerThread.h"

namespace tarnel {

TDirData::TDirData() { Items.reserve(kInitialCapacity); }

TDirData::~TDirData()
{
    StopWorkers();
    // What the workers use outside the listing (the icon resolver) is
    // destroyed after the panes.
    WaitForReleasedWorkers();
}

TFileData& TDirData::NewEntry() { return storage_.emplace_back(); }

void TDirData::ClearEntries()
{
    Items.clear();
    storage_.clear();
    storage_.shrink_to_fit();
    Count = FileCount = DirCount = DriveCount = 0;
}

void TDirData::StopWorkers()
{
    // Both are told first, so they wind down side by side.
    if (SizeThread)
        SizeThread->Terminate();
    if (IconThread)
        IconThread->Terminate();
    StopWorker(SizeThread);
    StopWorker(IconThread);
}

const DriveList& TDirData::DriveSource() const { return Drives ? *Drives : SystemDrives(); }

void RememberDirSizes(const TDirData& pane)
{
    if (pane.ZipMode != 0)
        return;
    for (int i = 0; i < pane.Count; ++i) {
        const TFileData& e = pane.Item(i);
        if (e.Kind == fkDirectory && e.SizeDone.load())
            DirSizes().Store(pane.Path + e.Name, e.Size.load());
    }
}

void RememberPlace(TDirData& pane)
{
    if (pane.Controls)
        pane.Positions.Store(pane.PlaceKey(), pane.Controls->TopRow(), pane.Controls->CurrentRow());
    RememberDirSizes(pane);
}

void RecordHistory(TDirData& pane)
{
    HistoryEntry entry{AddPathDelimiter(pane.Path), pane.ZipPath, pane.ZipMode};
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
