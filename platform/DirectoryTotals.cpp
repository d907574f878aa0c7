#include "platform/DirectoryTotals.h"

#include <algorithm>
#include <new>
#include <stdexcept>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace tarnel {

namespace {

constexpr size_t kDentsBufferSize = 64 * 1024;
constexpr int kDirOpenFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
// An automount point is looked at, never triggered: a walk must not wait for a server.
constexpr int kStatFlags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT;

bool IsDotOrDotDot(const char* name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

void AddFile(const struct stat& st, int64_t clusterSize, DirectoryTotals& totals)
{
    ++totals.files;
    int64_t used = int64_t(st.st_blocks) * 512;
    if (S_ISREG(st.st_mode)) {
        totals.bytes += st.st_size;
        // Some file systems (and sparse files) report no blocks for data they hold.
        if (st.st_blocks == 0 && st.st_size > 0)
            used = clusterSize * ((int64_t(st.st_size) + clusterSize - 1) / clusterSize);
    }
    totals.usedBytes += used;
}

} // namespace

struct DirectoryWalker::Level {
    int fd = -1;                      // -1 while closed to stay within the budget
    std::string name;                 // relative to the level above
    uint64_t inode = 0;               // tells that a reopened directory is still the same one
    std::vector<std::string> pending; // subdirectories still to walk

    Level(int descriptor, std::string levelName, uint64_t levelInode)
        : fd(descriptor), name(std::move(levelName)), inode(levelInode)
    {
    }
    Level(Level&& other) noexcept
        : fd(std::exchange(other.fd, -1)), name(std::move(other.name)), inode(other.inode),
          pending(std::move(other.pending))
    {
    }
    Level& operator=(Level&& other) noexcept
    {
        std::swap(fd, other.fd);
        name = std::move(other.name);
        inode = other.inode;
        pending = std::move(other.pending);
        return *this;
    }
    ~Level()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

int64_t ClusterSizeOf(const std::string& path)
{
    struct statvfs vfs;
    if (::statvfs(path.c_str(), &vfs) != 0)
        return 1;
    if (vfs.f_frsize > 0)
        return int64_t(vfs.f_frsize);
    return vfs.f_bsize > 0 ? int64_t(vfs.f_bsize) : 1;
}

DirectoryWalker::DirectoryWalker(const std::atomic<bool>& stop, int64_t clusterSize, std::function<void()> onLevelError)
    : stop_(stop), clusterSize_(std::max<int64_t>(clusterSize, 1)), onLevelError_(std::move(onLevelError)),
      buffer_(new char[kDentsBufferSize])
{
}

DirectoryWalker::~DirectoryWalker() = default;

bool DirectoryWalker::Walk(const std::string& dir, DirectoryTotals& totals, std::optional<uint64_t> parentDevice)
{
    levels_.clear();
    openLevels_ = 0;
    oldestOpenHint_ = 1;
    if (Stopped())
        return false;
    const int fd = ::open(dir.c_str(), kDirOpenFlags);
    if (fd < 0)
        return true; // unreadable, gone, or a link: nothing below it is counted
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return true;
    }
    device_ = uint64_t(st.st_dev);
    if (parentDevice && *parentDevice != device_) {
        ::close(fd);
        return true; // another volume mounted here, as "du -x" leaves it
    }
    levels_.push_back(Level(fd, std::string(), uint64_t(st.st_ino)));
    openLevels_ = 1;

    auto levelFailed = [&] {
        if (onLevelError_)
            onLevelError_();
        PopLevel();
    };
    try {
        ReadLevel(levels_.back(), totals);
    } catch (const std::exception&) {
        levelFailed();
    }
    while (!levels_.empty() && !Stopped()) {
        try {
            if (!Descend(totals))
                PopLevel();
        } catch (const std::exception&) {
            levelFailed();
        }
    }
    const bool finished = levels_.empty();
    levels_.clear(); // closes what a stop left open
    openLevels_ = 0;
    return finished;
}

// Reads one level whole: files are counted at once, subdirectories wait in
// the level's list, so the buffer is free again before going deeper.
void DirectoryWalker::ReadLevel(Level& level, DirectoryTotals& totals)
{
    for (;;) {
        const ssize_t n = ::getdents64(level.fd, buffer_.get(), kDentsBufferSize);
        if (n <= 0)
            return; // the end, or a failing directory: what was read counts
        for (ssize_t pos = 0; pos < n;) {
            if (Stopped())
                return;
            const auto* d = reinterpret_cast<const struct dirent64*>(buffer_.get() + pos);
            pos += d->d_reclen;
            const char* name = d->d_name;
            if (IsDotOrDotDot(name))
                continue;
            // A subdirectory is looked at when the walk enters it.
            if (d->d_type == DT_DIR) {
                level.pending.emplace_back(name);
                continue;
            }
            struct stat st;
            if (::fstatat(level.fd, name, &st, kStatFlags) != 0)
                continue; // vanished since it was listed
            if (S_ISDIR(st.st_mode))
                level.pending.emplace_back(name);
            else
                AddFile(st, clusterSize_, totals);
        }
    }
}

// Enters the next subdirectory of the deepest level; false when that level is done.
bool DirectoryWalker::Descend(DirectoryTotals& totals)
{
    const size_t index = levels_.size() - 1;
    if (levels_[index].pending.empty())
        return false;
    if (!EnsureOpen(index))
        return false; // the directory was moved or removed: the rest of it is lost
    Level& level = levels_[index];
    std::string name = std::move(level.pending.back());
    level.pending.pop_back();

    struct stat st;
    if (::fstatat(level.fd, name.c_str(), &st, kStatFlags) != 0)
        return true; // vanished
    if (!S_ISDIR(st.st_mode)) {
        AddFile(st, clusterSize_, totals); // replaced by a file meanwhile
        return true;
    }
    if (uint64_t(st.st_dev) != device_)
        return true; // a mount point: another volume is not part of the total
    ++totals.dirs;
    const int fd = ::openat(level.fd, name.c_str(), kDirOpenFlags);
    if (fd < 0)
        return true; // unreadable: counted, but nothing below it
    // A level with nothing left to enter only needs its name from now on
    // (to reopen the levels below it), so a plain deep chain holds two descriptors.
    if (level.pending.empty() && index > 0)
        CloseLevel(index);
    levels_.push_back(Level(fd, std::move(name), uint64_t(st.st_ino)));
    ++openLevels_;
    KeepWithinBudget();
    ReadLevel(levels_.back(), totals);
    return true;
}

// Reopens a level that gave up its descriptor, from the nearest open level
// above it, checking that every directory on the way is still the one walked.
bool DirectoryWalker::EnsureOpen(size_t index)
{
    if (levels_[index].fd >= 0)
        return true;
    size_t base = index;
    while (levels_[base].fd < 0)
        --base; // level 0 stays open for the whole walk
    oldestOpenHint_ = std::min(oldestOpenHint_, base + 1);
    for (size_t i = base + 1; i <= index; ++i) {
        const int fd = ::openat(levels_[i - 1].fd, levels_[i].name.c_str(), kDirOpenFlags);
        if (fd < 0)
            return false;
        struct stat st;
        if (::fstat(fd, &st) != 0 || uint64_t(st.st_ino) != levels_[i].inode || uint64_t(st.st_dev) != device_) {
            ::close(fd);
            return false;
        }
        levels_[i].fd = fd;
        ++openLevels_;
        if (i - 1 > base && levels_[i - 1].pending.empty())
            CloseLevel(i - 1);
    }
    KeepWithinBudget();
    return true;
}

void DirectoryWalker::PopLevel()
{
    CloseLevel(levels_.size() - 1);
    levels_.pop_back();
    oldestOpenHint_ = std::min(oldestOpenHint_, std::max<size_t>(levels_.size(), 1));
}

void DirectoryWalker::CloseLevel(size_t index)
{
    Level& level = levels_[index];
    if (level.fd < 0)
        return;
    ::close(level.fd);
    level.fd = -1;
    --openLevels_;
}

// The deepest levels are needed next, so the shallowest give up their
// descriptors first. The top level (index 0) and the deepest stay open.
void DirectoryWalker::KeepWithinBudget()
{
    size_t i = std::max<size_t>(oldestOpenHint_, 1);
    while (openLevels_ > kOpenLevelBudget + 1 && i + 1 < levels_.size()) {
        CloseLevel(i);
        ++i;
    }
    oldestOpenHint_ = i;
}

} // namespace tarnel
