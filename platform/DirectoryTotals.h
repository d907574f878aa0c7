#pragma once
// The totals of a directory tree: bytes, bytes taken on disk, files and
// subdirectories below it, the way a pane shows them for a directory entry.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarnel {

struct DirectoryTotals {
    int64_t bytes = 0;     // sizes of the regular files below
    int64_t usedBytes = 0; // what the non-directories below take on disk
    int64_t files = 0;     // every non-directory below: files, links, devices, pipes
    int64_t dirs = 0;      // subdirectories below, readable or not
};

// Bytes per cluster of the volume holding path (statvfs f_frsize), 1 when it
// cannot be asked.
int64_t ClusterSizeOf(const std::string& path);

// Walks a directory tree without following symbolic links (the top included)
// and without entering other volumes: a mount point below the top is left out
// entirely, as "du -x" does. Only regular files add to bytes, so bytes equals
// the sum over "find DIR -type f". Used bytes are st_blocks × 512; a non-empty
// file reporting no blocks counts its size rounded up to whole clusters.
// Directories that cannot be read or vanish meanwhile add nothing.
//
// The stop flag is checked at every directory entry; a stopped walk returns
// false with what it had added so far. Depth costs memory per level but only a
// bounded number of open descriptors, so any depth the file system allows works.
class DirectoryWalker {
public:
    // onLevelError is called when one level fails (out of memory); that level
    // is given up and the walk goes on one level up.
    DirectoryWalker(const std::atomic<bool>& stop, int64_t clusterSize, std::function<void()> onLevelError = {});
    ~DirectoryWalker();
    DirectoryWalker(const DirectoryWalker&) = delete;
    DirectoryWalker& operator=(const DirectoryWalker&) = delete;

    // Adds the tree below dir to totals. False when stopped. With
    // parentDevice (the device of the folder listing dir), a dir that is
    // itself a mount point adds nothing: a listing's totals stay on its volume.
    bool Walk(const std::string& dir, DirectoryTotals& totals, std::optional<uint64_t> parentDevice = {});

    // Directory descriptors kept open at most, beyond the one being read.
    static constexpr size_t kOpenLevelBudget = 128;

private:
    struct Level;
    void ReadLevel(Level& level, DirectoryTotals& totals);
    bool Descend(DirectoryTotals& totals);
    bool EnsureOpen(size_t index);
    void CloseLevel(size_t index);
    void PopLevel();
    void KeepWithinBudget();
    bool Stopped() const { return stop_.load(std::memory_order_relaxed); }

    const std::atomic<bool>& stop_;
    int64_t clusterSize_;
    std::function<void()> onLevelError_;
    std::unique_ptr<char[]> buffer_;
    std::vector<Level> levels_;
    uint64_t device_ = 0;
    size_t openLevels_ = 0;
    size_t oldestOpenHint_ = 1; // levels 1 .. hint-1 are known closed
};

} // namespace tarnel
