#pragma once
// Where a pane's entries come from. A place names its source ("local" for a
// folder of the disk, "zip" for the inside of a ZIP archive) and a location
// in it; the source lists that location in chunks, says what can be done to
// its entries and makes the operations that do it. Listing runs on any
// thread; everything else is called on the window's thread.
#include "panes/Place.h"
#include "platform/ShellFileOperation.h"

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
    // Entries that are not files of the disk have descriptions all the same,
    // in a DESCRIPT.ION of the place's own, which the source reads and writes.
    Describe = 1u << 7,
    // The entries' attributes are their permission bits, which the source
    // reads and sets.
    Permissions = 1u << 8,
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

// What an operation a source runs asks of the window.
class SourceOperationUi {
public:
    virtual ~SourceOperationUi() = default;
    virtual void Inform(const std::string& text) = 0;  // a plain message box
    virtual void Error(const std::string& text) = 0;   // the error box
    virtual bool Confirm(const std::string& text) = 0; // Yes / No
    // A file of the same name is at the target: the disk copy's question,
    // with both files' sizes and times (seconds since the epoch).
    struct FileFacts {
        int64_t size = 0;
        int64_t time = 0;
    };
    virtual ReplaceAnswer AskReplace(const std::string& path, const FileFacts& existing, const FileFacts& incoming) = 0;
    // The same question the other way round: a member of the archive is
    // there, and a file of the disk would take its place.
    virtual ReplaceAnswer AskReplaceMember(const std::string& member, const FileFacts& existing,
                                           const FileFacts& incoming)
    {
        return AskReplace(member, existing, incoming);
    }
    // The same question for a file coming from a remote machine.
    virtual ReplaceAnswer AskReplaceFromServer(const std::string& path, const FileFacts& existing,
                                               const FileFacts& incoming)
    {
        return AskReplace(path, existing, incoming);
    }
    // A library's note on what it does now (the status bar's kind of text).
    virtual void Status(const std::string& /*text*/) {}
    // How far long work has come; false once the user stopped it.
    virtual bool Progress(uint64_t /*bytesDone*/, uint64_t /*bytesTotal*/, const std::string& /*currentName*/)
    {
        return true;
    }
};

// A run of replace questions, one for each file already at the target: an
// answer "to all" stands for the rest of the run.
class ReplaceQuestions {
public:
    enum class Choice { Replace, Keep, Stop };
    // ask() puts the question; it is not asked once an answer "to all" stands.
    template <class Ask>
    Choice Next(Ask&& ask)
    {
        if (yesToAll_)
            return Choice::Replace;
        if (skipAll_)
            return Choice::Keep;
        switch (ask()) {
        case ReplaceAnswer::YesToAll:
            yesToAll_ = true;
            return Choice::Replace;
        case ReplaceAnswer::Yes:
            return Choice::Replace;
        case ReplaceAnswer::SkipAll:
            skipAll_ = true;
            return Choice::Keep;
        case ReplaceAnswer::No:
            return Choice::Keep;
        case ReplaceAnswer::Cancel:
            break;
        }
        return Choice::Stop;
    }

private:
    bool yesToAll_ = false;
    bool skipAll_ = false;
};

// One selected row: a folder stands for everything below it; a member of
// an archive is named by its central directory index, which the row carries.
struct SourceRow {
    std::string name;
    bool folder = false;
    int64_t index = -1;
};

struct SourceOperationResult {
    bool sourceChanged = false; // the selection's place needs reading again
    bool targetChanged = false; // the other place does
};

struct SourceOperationOptions {
    bool fastMove = false; // a move removes what it moved out without asking
    std::string newName;   // a rename's new name for the one selected row
};

// A file command that a source runs itself. Made on the window's thread, run
// on a worker: it holds copies of everything it needs.
class SourceOperation {
public:
    virtual ~SourceOperation() = default;
    virtual SourceOperationResult Run(const std::vector<SourceRow>& rows) = 0;
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

    // Whether this source runs the file command code (a FileOperationCode)
    // on the entries of from, with to as the other side, itself rather than
    // through the disk engine: on entries of its own places, or taking files
    // into one.
    virtual bool RunsOperation(int /*code*/, const PanePlace& /*from*/, const PanePlace& /*to*/) const { return false; }
    // The operation RunsOperation says this source runs; null when the
    // source has nothing to run it with (a source made for listing alone).
    virtual std::unique_ptr<SourceOperation> OperationFor(int /*code*/, const PanePlace& /*from*/,
                                                          const PanePlace& /*to*/, SourceOperationUi& /*ui*/,
                                                          const SourceOperationOptions& /*options*/) const
    {
        return nullptr;
    }

    static constexpr size_t kChunkSize = 2048;
};

// The name of the source a place lies in.
inline const char* SourceNameOf(const PanePlace& place) { return place.Source(); }

} // namespace tarnel
