#pragma once
// One pane's listing: its entries in three blocks (directories with ".." first,
// files, drives), its place, and what it remembers of places it has left.
#include "panes/FileData.h"
#include "panes/Matcher.h"
#include "panes/PaneWorkers.h"
#include "panes/Place.h"
#include "panes/PlaceTables.h"
#include "panes/RowText.h"
#include "platform/Volumes.h"
#include "sources/ListingChannel.h"
#include "sources/SourceTable.h"

#include <array>
#include <chrono>
#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include <string>
#include <unordered_map>
#include <vector>

namespace tarnel {

class PaneControls;

using RowNames = std::vector<std::pair<uint8_t, std::string>>; // kind and name of each row

// A read whose listing is not whole yet: what it was started with, and the
// entries come so far in the order they came.
struct PendingRead {
    std::string filter;
    ExtensionList patterns;
    std::string cursorName;
    DisplayLocale locale;
    bool diskPaths = false;
    bool queued = false;     // waits for one of the pane's workers to return
    bool shown = false;      // some rows are in the list already
    bool gaugeShown = false;
    std::chrono::steady_clock::time_point lastShown;
    std::vector<TFileData*> dirs, files;
    std::vector<std::string> problems;
    bool selectAfter = false; // select the rows of these names once whole
    RowNames selectNames;
    std::vector<std::function<void()>> whenRead;
};

// A pane's listing at its place; the place's parts are the pane's own
// fields (Path, ZipMode, ZipPath), read and set as one through Place().
struct TDirData : PanePlace {
    static constexpr int kInitialCapacity = 8192;
    static constexpr int kHistoryLimit = 20;

    TDirData();
    ~TDirData();
    TDirData(const TDirData&) = delete;
    TDirData& operator=(const TDirData&) = delete;
    bool operator==(const TDirData&) const = delete; // two panes are not the same by their places alone

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

    TDirPos Positions;
    std::vector<PanePlace> History; // each Path ends in "/"
    int HistoryIndex = -1;
    std::array<int, 3> BestWidths{10, 10, 10};
    // The entry the cursor goes to at the next read, by name, ahead of the
    // remembered row (the folder just left, after going up); "" for none.
    std::string CursorName;

    // Bindings, set by the window (or a test) before the first read.
    PaneControls* Controls = nullptr;
    const DriveList* Drives = nullptr;        // null: the system drive list
    PaneWorkerFactory* Workers = nullptr;     // null: no background threads
    std::shared_ptr<const SourceTable> Sources; // null: DefaultSources()
    // Told what a read found wrong (a damaged archive), once its listing is whole.
    std::function<void(const std::string& text)> ReportProblem;

    // The read under way; null once the listing is whole.
    std::unique_ptr<PendingRead> Pending;
    bool Reading() const { return Pending != nullptr; }
    // Shared with the pane's read workers.
    std::shared_ptr<ListingChannel> Reads = std::make_shared<ListingChannel>();
    // The folders of the entries that carry their own (a listing gathered
    // from many folders). Kept beside the entries, not in them: most
    // listings have none, and an entry's size counts 100,000 times.
    std::unordered_map<const TFileData*, std::string> EntryDirs;

    TFileData& Item(int i) const { return *Items[size_t(i)]; }
    // The worker threads read Items while the main thread sorts it; both sides
    // go through these so every read sees a whole pointer. The main thread's
    // own plain reads need nothing: it is the only writer.
    TFileData* LoadItem(int i) { return LoadItemFrom(Items.data(), i); }
    // A worker reads the buffer of the listing it was started on: after a
    // re-read a look under way still finds that listing, kept alive for it.
    static TFileData* LoadItemFrom(TFileData** items, int i)
    {
        return std::atomic_ref<TFileData*>(items[size_t(i)]).load(std::memory_order_relaxed);
    }
    void SwapItems(size_t a, size_t b)
    {
        TFileData* const first = Items[a];
        TFileData* const second = Items[b];
        std::atomic_ref<TFileData*>(Items[a]).store(second, std::memory_order_relaxed);
        std::atomic_ref<TFileData*>(Items[b]).store(first, std::memory_order_relaxed);
    }
    // Odd while the main thread reorders Items. Mid-swap an entry can be
    // missing from a worker's scan, so a worker that found nothing left to do
    // while this changed looks again.
    std::atomic<uint32_t> ReorderCount{0};
    void BeginReorder()
    {
        ReorderCount.fetch_add(1, std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_release);
    }
    void EndReorder() { ReorderCount.fetch_add(1, std::memory_order_release); }
    // A worker's scan saw a complete order when this is true of the count read
    // (with acquire) before the scan.
    bool OrderHeldSince(uint32_t before) const
    {
        std::atomic_thread_fence(std::memory_order_acquire);
        return before % 2 == 0 && ReorderCount.load(std::memory_order_relaxed) == before;
    }
    // Creates an entry owned by the listing (not yet placed in Items).
    TFileData& NewEntry();
    // Discards every entry; the worker threads must be stopped first. A
    // stopped worker still in the middle of one entry keeps the old memory.
    void ClearEntries();
    void StopWorkers();
    const DriveList& DriveSource() const;
    const SourceTable& SourcesTable() const;
    // What the pane's place lets be done to its entries.
    Capabilities Can() const;
    bool Can(Capability c) const { return Can().Has(c); }
    // The folder an entry lies in, ending in "/".
    const std::string& DirOf(const TFileData& entry) const;
    const PanePlace& Place() const { return *this; }
    void MoveTo(const PanePlace& place) { static_cast<PanePlace&>(*this) = place; }

private:
    void LetGo(std::unique_ptr<PaneWorker>& worker);

    std::deque<TFileData> storage_; // stable addresses, few allocations
    std::vector<std::shared_ptr<ListingUse>> inUse_; // let-go workers that may still read the entries
};

// Copies the pane's computed directory totals into DirSizes().
void RememberDirSizes(const TDirData& pane);

// Remembers the list position of the pane's place and its computed totals.
void RememberPlace(TDirData& pane);

// Appends the pane's place to its history (max 20, forward entries dropped).
void RecordHistory(TDirData& pane);

} // namespace tarnel
