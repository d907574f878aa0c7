#pragma once
// The bytes of a shown file past what was read with it, in blocks read by a
// worker thread of their own: the thread that shows the file only copies
// what is in memory and asks for the rest, so a file system that stops
// answering stalls the worker, never the caller. Few blocks are kept (the
// ones used least recently go), so a file of any size costs little memory.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tarnel {

class TextFile;

class FileBlocks {
public:
    static constexpr int64_t kBlockBytes = int64_t(64) << 10;
    // 4 MB: several screens either way and the index's read-ahead.
    static constexpr size_t kDefaultMaxBlocks = 64;

    // Reads file (its open descriptor, shared) on the worker.
    explicit FileBlocks(const TextFile& file, size_t maxBlocks = kDefaultMaxBlocks);
    // Cancels; a worker stuck in a read is left behind, never waited for.
    ~FileBlocks();
    FileBlocks(const FileBlocks&) = delete;
    FileBlocks& operator=(const FileBlocks&) = delete;

    // Called on the worker after each block lands, never after Cancel: the
    // caller hands it over to its own thread.
    void OnArrival(std::function<void()> arrived);

    struct Copied {
        size_t bytes = 0;
        bool missing = false; // stopped at a block not read yet, now asked for
    };
    // Copies the bytes from offset that are in memory, up to size. A block
    // that read short (the file shrank, or a read failed) ends the copy
    // there with missing false: a short read, as a direct one would be.
    Copied Copy(int64_t offset, void* out, size_t size);
    // Asks for the blocks over [offset, offset + bytes) not held yet, after
    // any that were asked for by a copy.
    void Prefetch(int64_t offset, int64_t bytes);
    // Waits at most timeout for the block holding offset; true once held.
    bool WaitFor(int64_t offset, std::chrono::milliseconds timeout);
    // What the last failed read met ("" when none failed): a block held
    // short for it says why.
    std::string Failure() const;
    // Where the last copy found a block missing (-1: none yet).
    int64_t LastMiss() const;
    // Drops every request; nothing lands or is told after this.
    void Cancel();

    size_t HeldBlocks() const;
    size_t MaxBlocks() const;
    // Blocks asked for and not landed yet.
    size_t Waiting() const;

private:
    struct Shared;
    void Ask(int64_t block, bool first);
    std::shared_ptr<Shared> shared_;
};

} // namespace tarnel
