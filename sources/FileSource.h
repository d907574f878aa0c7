#pragma once
// Where a pane's entries come from. A place names its source ("local" for a
// folder of the disk, "zip" for the inside of a ZIP archive) and a location
// in it; the source lists that location in chunks, says what can be done to
// its entries and makes the operations that do it. Listing runs on any
// thread; everything else is called on the window's thread.
#include "panes/Place.h"

#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

namespace tarnel {

// One listed entry. Kind is a FileKind (directory or file).
struct SourceEntry {
    std::string name;
    // The folder the entry lies in, ending in "/"; empty for the listed
    // location itself. A source that gathers entries from many folders into
    // one listing (search results) fills it.
    std::string directory;
    std::string description;
    uint8_t kind = 0;
    bool sizeDone = false; // Size is final (a folder of an archive: its members summed)
    uint32_t attr = 0;
    int32_t time = 0; // packed DOS date-time
    int64_t size = 0;
    int64_t memberIndex = -1; // an archive member's central directory index
};

// Set by whoever abandons a listing; a source looks at it between entries.
class CancelToken {
public:
    bool Cancelled() const { return cancelled_.load(std::memory_order_relaxed); }
    void Cancel() { cancelled_.store(true, std::memory_order_relaxed); }

private:
    std::atomic<bool> cancelled_{false};
};

// Receives a listing, on the thread that lists.
class ListSink {
public:
    virtual ~ListSink() = default;
    // Entries in the order listed: folders and files mixed, as met.
    virtual void Chunk(std::vector<SourceEntry>&& entries) = 0;
    // How far a listing that knows its length has come (0..100).
    virtual void Progress(int /*percent*/) {}
    // Something the user is told once the listing is whole (a damaged archive).
    virtual void Problem(const std::string& /*text*/) {}
};

enum class Capability : uint32_t {
    CopyIn = 1u << 0,     // files can be copied (or moved) into the location
    CopyOut = 1u << 1,    // entries can be copied out to a folder of the disk
    Delete = 1u << 2,
    Rename = 1u << 3,
    MakeFolder = 1u << 4,
    OpenMember = 1u << 5, // an entry can be opened for reading (through a copy when not on disk)
    // Entries are files of the disk at directory + name: tools, properties,
    // descriptions, bookmarks, directory totals and icons work on them, and
    // an archive among them can be entered.
    DiskPaths = 1u << 6,
};

class Capabilities {
public:
    constexpr Capabilities() = default;
    constexpr Capabilities(std::initializer_list<Capability> items)
    {
        for (const Capability c : items)
            bits_ |= uint32_t(c);
    }
    constexpr bool Has(Capability c) const { return (bits_ & uint32_t(c)) != 0; }
    constexpr bool operator==(const Capabilities&) const = default;

private:
    uint32_t bits_ = 0;
};

class FileSource {
public:
    virtual ~FileSource() = default;
    // The name places use: "local", "zip".
    virtual const char* Name() const = 0;
    // Lists the place into sink, in chunks of at most chunkSize entries, and
    // returns when it is done or cancel was set. Runs on a worker thread;
    // it touches nothing but the place, the sink and the source's own
    // thread-safe state.
    virtual void List(const PanePlace& place, ListSink& sink, const CancelToken& cancel) const = 0;
    virtual Capabilities Can(const PanePlace& place) const = 0;

    static constexpr size_t kChunkSize = 2048;
};

inline constexpr const char* kLocalSourceName = "local";
inline constexpr const char* kZipSourceName = "zip";

// The name of the source a place lies in.
inline const char* SourceNameOf(const PanePlace& place) { return place.ZipMode > 0 ? kZipSourceName : kLocalSourceName; }

} // namespace tarnel
