#include "platform/DirectoryReader.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace tarnel {

namespace {

constexpr size_t kDentsBufferSize = 256 * 1024;
constexpr uint32_t kDosAttribBits = faHidden | faSysFile | faArchive;

class FdCloser {
public:
    explicit FdCloser(int fd)
        : fd_(fd)
    {
    }
    ~FdCloser() { ::close(fd_); }
    FdCloser(const FdCloser&) = delete;
    FdCloser& operator=(const FdCloser&) = delete;

private:
    int fd_;
};

bool IsDotOrDotDot(const char* name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The DOS time of a local mtime without a localtime_r call per file: files of
// one directory often share a day, and within a day without an offset change
// the local time is plain arithmetic. A day is checked (two more calls) only
// once a second file lands near the first, so scattered times cost nothing extra.
class LocalTimePacker {
public:
    uint32_t Pack(int64_t t)
    {
        if (t >= validFrom_ && t < validTo_)
            return PackWithOffset(t, offset_);
        if (haveCandidate_ && t > candidate_ - kHalfDay && t < candidate_ + kHalfDay && ConfirmCandidate())
            return PackWithOffset(t, offset_);
        time_t tt = time_t(t);
        struct tm tm;
        if (localtime_r(&tt, &tm) == nullptr)
            return 0;
        haveCandidate_ = true;
        candidate_ = t;
        candidateOffset_ = tm.tm_gmtoff;
        return PackDosTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    }

private:
    static constexpr int64_t kHalfDay = 12 * 3600;

    static int64_t FloorDiv(int64_t a, int64_t b) { return a / b - (a % b != 0 && (a < 0) != (b < 0)); }

    // Proleptic Gregorian date of a day count since 1970-01-01.
    static void CivilFromDays(int64_t z, int& year, int& month, int& day)
    {
        z += 719468;
        const int64_t era = FloorDiv(z, 146097);
        const int64_t doe = z - era * 146097;
        const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
        const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
        const int64_t mp = (5 * doy + 2) / 153;
        day = int(doy - (153 * mp + 2) / 5 + 1);
        month = int(mp < 10 ? mp + 3 : mp - 9);
        year = int(yoe + era * 400 + (month <= 2));
    }

    static uint32_t PackWithOffset(int64_t t, int64_t offset)
    {
        const int64_t local = t + offset;
        const int64_t days = FloorDiv(local, 86400);
        const int secs = int(local - days * 86400);
        int year, month, day;
        CivilFromDays(days, year, month, day);
        return PackDosTime(year, month, day, secs / 3600, secs / 60 % 60, secs % 60);
    }

    static bool OffsetAt(int64_t t, long& offset)
    {
        time_t tt = time_t(t);
        struct tm tm;
        if (localtime_r(&tt, &tm) == nullptr)
            return false;
        offset = tm.tm_gmtoff;
        return true;
    }

    // Offsets change at most a few times a year, so the same offset twelve
    // hours either side of the candidate means it holds for the day between.
    bool ConfirmCandidate()
    {
        haveCandidate_ = false;
        long before, after;
        if (!OffsetAt(candidate_ - kHalfDay, before) || !OffsetAt(candidate_ + kHalfDay, after) ||
            before != candidateOffset_ || after != candidateOffset_)
            return false;
        offset_ = candidateOffset_;
        validFrom_ = candidate_ - kHalfDay;
        validTo_ = candidate_ + kHalfDay;
        return true;
    }

    int64_t offset_ = 0;
    int64_t validFrom_ = 0;
    int64_t validTo_ = 0; // empty until a day is confirmed
    bool haveCandidate_ = false;
    int64_t candidate_ = 0;
    long candidateOffset_ = 0;
};

} // namespace

int ParseDosAttrib(const char* data, size_t length)
{
    // Wine writes "0x22"; Samba writes the same text NUL-terminated, followed
    // by a binary block of its own that is not needed here.
    if (length < 3 || data[0] != '0' || (data[1] != 'x' && data[1] != 'X'))
        return -1;
    uint32_t value = 0;
    size_t i = 2;
    for (; i < length && data[i] != '\0'; ++i) {
        int digit = HexDigit(data[i]);
        if (digit < 0 || i - 2 >= 8)
            return -1;
        value = value << 4 | uint32_t(digit);
    }
    if (i == 2 || value > 0x7FFFFFFFu)
        return -1;
    return int(value);
}

namespace {

DirectoryEntry UnsearchableEntry(const struct dirent64& d)
{
    DirectoryEntry entry;
    entry.name = d.d_name;
    entry.size = -1;
    if (d.d_type == DT_DIR)
        entry.attr |= faDirectory;
    if (d.d_name[0] == '.' && !IsDotOrDotDot(d.d_name))
        entry.attr |= faHidden;
    return entry;
}

} // namespace

bool DirectoryNames::Read(int dirFd)
{
    fd_ = dirFd;
    for (;;) {
        std::unique_ptr<char[]> block(new char[kDentsBufferSize]); // not cleared: the kernel fills it
        const ssize_t n = ::getdents64(dirFd, block.get(), kDentsBufferSize);
        if (n <= 0)
            return n == 0;
        for (ssize_t pos = 0; pos < n;) {
            const auto* d = reinterpret_cast<const struct dirent64*>(block.get() + pos);
            pos += d->d_reclen;
            entries_.push_back(d);
        }
        blocks_.push_back(std::move(block));
    }
}

namespace {

// getxattrat() (Linux 6.13) looks the name up in the open directory rather
// than walking the folder's whole path again for every entry.
struct XattrArgs {
    uint64_t value;
    uint32_t size;
    uint32_t flags;
};
#ifdef __NR_getxattrat
constexpr long kGetxattratCall = __NR_getxattrat;
#elif defined(__x86_64__) || defined(__aarch64__) || defined(__riscv)
constexpr long kGetxattratCall = 464; // the same number in every table of the generic numbering
#else
constexpr long kGetxattratCall = -1;
#endif

class XattrReader {
public:
    XattrReader(int dirFd, const std::string& dir) : dirFd_(dirFd), path_(dir)
    {
        if (path_.empty() || path_.back() != '/')
            path_ += '/';
        dirLength_ = path_.size();
    }
    // As getxattr(); errno set on failure.
    ssize_t Get(const char* name, const char* attribute, char* value, size_t size)
    {
        if (atWorks_) {
            XattrArgs args{uint64_t(reinterpret_cast<uintptr_t>(value)), uint32_t(size), 0};
            const long n = ::syscall(kGetxattratCall, dirFd_, name, 0, attribute, &args, sizeof args);
            if (n >= 0 || (errno != ENOSYS && errno != EPERM))
                return ssize_t(n);
            atWorks_ = false; // an older kernel, or a sandbox that does not know the call
        }
        path_.resize(dirLength_);
        path_ += name;
        return ::getxattr(path_.c_str(), attribute, value, size);
    }

private:
    int dirFd_;
    std::string path_; // by full path, built in one reused buffer
    size_t dirLength_ = 0;
    bool atWorks_ = kGetxattratCall >= 0;
};

} // namespace

namespace {

// Looks at one named entry at a time; each thread has its own.
class EntryLooker {
public:
    EntryLooker(int dirFd, const struct stat& self, const std::string& dir) : fd_(dirFd), self_(self), xattrs_(dirFd, dir) {}

    // False when the entry is not listed (vanished, or a root's "..").
    bool Look(const struct dirent64& d, DirectoryEntry& entry)
    {
        const char* name = d.d_name;
        const bool dots = IsDotOrDotDot(name);

        // Following links first costs one call for the common case; only a
        // failure needs lstat, to tell a dangling link from a vanished entry.
        struct stat st;
        if (::fstatat(fd_, name, &st, 0) != 0 && ::fstatat(fd_, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            // A directory that may be read but not searched (r--) still
            // names its entries: listed from their types, size and time unknown.
            if (errno != EACCES)
                return false;
            entry = UnsearchableEntry(d);
            return true;
        }
        // A root is its own parent, whichever way its path was written.
        if (dots && name[1] == '.' && st.st_dev == self_.st_dev && st.st_ino == self_.st_ino)
            return false;

        entry.name = name;
        entry.dosTime = packer_.Pack(int64_t(st.st_mtim.tv_sec));
        if (S_ISDIR(st.st_mode)) {
            entry.attr |= faDirectory;
        } else if (S_ISREG(st.st_mode)) {
            entry.size = int64_t(st.st_size);
        }
        if (!(st.st_mode & S_IWUSR))
            entry.attr |= faReadOnly;
        if (name[0] == '.' && !dots)
            entry.attr |= faHidden;

        if (readXattrs_ && !dots && !S_ISLNK(st.st_mode)) {
            const ssize_t len = xattrs_.Get(name, "user.DOSATTRIB", xattrValue_, sizeof xattrValue_);
            if (len >= 0) {
                int dosAttr = ParseDosAttrib(xattrValue_, size_t(len));
                if (dosAttr > 0)
                    entry.attr |= uint32_t(dosAttr) & kDosAttribBits;
            } else if (errno == ENOTSUP) {
                readXattrs_ = false;
            }
        }
        return true;
    }

private:
    int fd_;
    const struct stat& self_;
    XattrReader xattrs_;
    bool readXattrs_ = true;
    char xattrValue_[256];
    LocalTimePacker packer_;
};

// Large folders are looked at by several threads, a block of names each,
// and passed on in the order of their names by the calling thread: the
// kernel's work per entry dominates, and a slow file system answers several
// at once.
constexpr size_t kBlockNames = 1024;
constexpr size_t kParallelFrom = 4 * kBlockNames;
constexpr unsigned kMostThreads = 4;
constexpr size_t kBlocksAhead = 8;

struct LookedBlock {
    std::vector<DirectoryEntry> entries;
    std::atomic<bool> done{false};
};

void LookInParallel(const std::vector<const struct dirent64*>& names, int fd, const struct stat& self,
                    const std::string& dir, const std::function<void(DirectoryEntry&&)>& onEntry)
{
    const size_t blocks = (names.size() + kBlockNames - 1) / kBlockNames;
    std::unique_ptr<LookedBlock[]> looked(new LookedBlock[blocks]);
    std::atomic<size_t> next{0};
    std::atomic<size_t> passed{0}; // blocks passed on by the calling thread
    // Takes the next block nobody has taken; false when none is left. A
    // helper stays at most kBlocksAhead blocks ahead of what was passed on,
    // so a slow taker does not leave the whole folder's entries waiting.
    const auto lookAtNext = [&](EntryLooker& looker, bool helper) {
        if (helper) {
            for (size_t seen = passed.load(); next.load() >= seen + kBlocksAhead && next.load() < blocks;
                 seen = passed.load())
                passed.wait(seen);
        }
        const size_t b = next.fetch_add(1);
        if (b >= blocks)
            return false;
        LookedBlock& block = looked[b];
        const size_t end = std::min(names.size(), (b + 1) * kBlockNames);
        block.entries.reserve(end - b * kBlockNames);
        for (size_t i = b * kBlockNames; i < end; ++i) {
            DirectoryEntry entry;
            if (looker.Look(*names[i], entry))
                block.entries.push_back(std::move(entry));
        }
        block.done.store(true, std::memory_order_release);
        block.done.notify_one();
        return true;
    };

    std::vector<std::thread> helpers;
    // Should onEntry throw, the helpers stop after the block in hand and
    // are waited for before the blocks they write go away.
    struct Joiner {
        std::vector<std::thread>& threads;
        std::atomic<size_t>& next;
        size_t blocks;
        std::atomic<size_t>& passed;
        ~Joiner()
        {
            next.store(blocks);
            passed.store(blocks);
            passed.notify_all();
            for (std::thread& t : threads)
                t.join();
        }
    } joiner{helpers, next, blocks, passed};
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    for (unsigned i = 1; i < std::min(cores, kMostThreads); ++i) {
        try {
            helpers.emplace_back([&] {
                EntryLooker looker(fd, self, dir);
                while (lookAtNext(looker, true)) {
                }
            });
        } catch (const std::system_error&) {
            break; // fewer helpers, or none: this thread looks at the rest
        }
    }
    EntryLooker looker(fd, self, dir);
    for (size_t b = 0; b < blocks; ++b) {
        LookedBlock& block = looked[b];
        // Rather than wait for a helper's block, look at one of the next.
        while (!block.done.load(std::memory_order_acquire) && lookAtNext(looker, false)) {
        }
        block.done.wait(false, std::memory_order_acquire);
        for (DirectoryEntry& entry : block.entries)
            onEntry(std::move(entry));
        std::vector<DirectoryEntry>().swap(block.entries);
        passed.store(b + 1);
        passed.notify_all();
    }
}

} // namespace

bool ReadDirectoryEntries(const std::string& dir, const std::function<void(DirectoryEntry&&)>& onEntry)
{
    return ReadDirectoryEntries(dir, nullptr, onEntry);
}

bool ReadDirectoryEntries(const std::string& dir, const std::function<void(const DirectoryNames&)>& onNames,
                          const std::function<void(DirectoryEntry&&)>& onEntry)
{
    int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    FdCloser closer(fd);
    struct stat self;
    if (::fstat(fd, &self) != 0)
        return false;

    DirectoryNames names;
    names.Read(fd); // an error part way lists what was read
    if (onNames)
        onNames(names);

    if (names.Entries().size() >= kParallelFrom && std::thread::hardware_concurrency() > 1) {
        LookInParallel(names.Entries(), fd, self, dir, onEntry);
        return true;
    }
    EntryLooker looker(fd, self, dir);
    for (const struct dirent64* d : names.Entries()) {
        DirectoryEntry entry;
        if (looker.Look(*d, entry))
            onEntry(std::move(entry));
    }
    return true;
}

} // namespace tarnel
