#pragma once
// One pane's listing: its entries in three blocks (directories with ".." first,
// files, drives), its place, and what it remembers of places it has left.
#include "panes/FileData.h"
#include "panes/PaneWorkers.h"
#include "panes/PlaceTables.h"
#include "platform/Volumes.h"

#include <array>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace tarnel {

class PaneControls;
class ExtensionList;
struct TDirData;

// A visited place. Kept as a struct: "?" may occur in a Linux path.
struct HistoryEntry {
    std::string path;
    std::string zipPath;
    int zipMode = 0;
    bool operator==(const HistoryEntry&) const = default;
};

// Fills the listing of a pane that shows the inside of an archive.
using ArchivePaneLister = std::function<void(TDirData& pane, const std::string& filter, ExtensionList& patterns)>;

struct TDirData {
    static constexpr int kInitialCapacity = 8192;
    static constexpr int kHistoryLimit = 20;

    TDirData();
    ~TDirData();
    TDirData(const TDirData&) = delete;
    TDirData& operator=(const TDirData&) = delete;

    // Entries: Items[i] is drawn as row i. The pointers are reordered by
    // sorting; the entries themselves stay put until the next read, so the
    // worker threads may keep writing into them.
    std::vector<TFileData*> Items;
    int Count = 0;
    int FileCount = 0;
    int DirCount = 0;
    int DriveCount = 0;

    std::unique_ptr<PaneWorker> IconThread;
    std::unique_ptr<PaneWorker> SizeThread;
    std::mutex IconMutex;

    uint8_t Ascending = 1;
    std::string Path;
    int ZipMode = 0;
    std::string ZipPath;

    TDirPos Positions;
    std::vector<HistoryEntry> History;
    int HistoryIndex = -1;
    std::array<int, 3> BestWidths{10, 10, 10};

    // Bindings, set by the window (or a test) before the first read.
    PaneControls* Controls = nullptr;
    const DriveList* Drives = nullptr;        // null: the system drive list
    PaneWorkerFactory* Workers = nullptr;     // null: no background threads
    ArchivePaneLister ListArchive;            // empty: archives list nothing

    TFileData& Item(int i) const { return *Items[size_t(i)]; }
    // Creates an entry owned by the listing (not yet placed in Items).
    TFileData& NewEntry();
    // Discards every entry; the worker threads must be stopped first.
    void ClearEntries();
    void StopWorkers();
    const DriveList& DriveSource() const;
    std::string PlaceKey() const { return Path + ZipPath; }

private:
    std::deque<TFileData> storage_; // stable addresses, few allocations
};

// Copies the pane's computed directory totals into DirSizes().
void RememberDirSizes(const TDirData& pane);

// Remembers the list position of the pane's place and its computed totals.
void RememberPlace(TDirData& pane);

// Appends the pane's place to its history (max 20, forward entries dropped).
void RecordHistory(TDirData& pane);

} // namespace tarnel
