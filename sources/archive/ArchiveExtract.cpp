#include "sources/archive/ArchiveExtract.h"

#include "platform/RegularFile.h"

#include <archive.h>
#include <archive_entry.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace tarnel {

namespace {

std::vector<std::string> PartsOf(const std::string& relative)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= relative.size()) {
        const size_t slash = std::min(relative.find('/', start), relative.size());
        if (slash > start)
            parts.push_back(relative.substr(start, slash - start));
        start = slash + 1;
    }
    return parts;
}

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { Reset(); }
    Fd(Fd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Fd& operator=(Fd&& other) noexcept
    {
        Reset();
        fd_ = std::exchange(other.fd_, -1);
        return *this;
    }
    void Reset()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }
    int Get() const { return fd_; }
    int Release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

std::string Errno(int error) { return std::strerror(error); }

// The folder that holds relative's last part, made where missing, walked by
// descriptor without following links: a link on the way (made by an earlier
// member, say) cannot lead the write out of the target.
Fd OpenParent(int root, const std::vector<std::string>& parts, std::string& error)
{
    Fd dir(::fcntl(root, F_DUPFD_CLOEXEC, 0));
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        if (::mkdirat(dir.Get(), parts[i].c_str(), 0755) != 0 && errno != EEXIST) {
            error = "the folder " + parts[i] + " cannot be made: " + Errno(errno);
            return Fd();
        }
        Fd next(::openat(dir.Get(), parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (next.Get() < 0) {
            error = errno == ELOOP || errno == ENOTDIR ? "the folder " + parts[i] + " on its way is no folder"
                                                       : "the folder " + parts[i] + " cannot be entered: " + Errno(errno);
            return Fd();
        }
        dir = std::move(next);
    }
    return dir;
}

std::string TemporaryName()
{
    static thread_local std::mt19937_64 random{std::random_device{}()};
    char name[40];
    std::snprintf(name, sizeof name, ".tarnel-%016llx.part", static_cast<unsigned long long>(random()));
    return name;
}

// Moves the finished temporary file onto its name: over the old file only
// when the user said so, never over a folder.
bool PutInPlace(int dir, const std::string& temp, const std::string& leaf, bool replace, std::string& error)
{
    struct stat st;
    if (::fstatat(dir, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode)) {
        error = "a folder of that name is in the way";
        return false;
    }
    const int r = replace ? ::renameat(dir, temp.c_str(), dir, leaf.c_str())
                          : ::renameat2(dir, temp.c_str(), dir, leaf.c_str(), RENAME_NOREPLACE);
    if (r == 0)
        return true;
    error = errno == EEXIST ? "a file of that name is already there" : Errno(errno);
    return false;
}

class Extraction {
public:
    Extraction(const ArchiveTable& table, int root, int64_t archiveSize) : table_(table), root_(root)
    {
        bombLimit_ = std::max<int64_t>(archiveSize, 1) * 100;
    }

    // False when the run must stop (stopped says why).
    bool Member(struct archive* a, const ArchiveMember& m, const ArchiveExtractItem& item, ArchiveExtractReport& report)
    {
        const std::vector<std::string> parts = PartsOf(item.relative);
        auto refuse = [&](const std::string& why) {
            report.refused.push_back(item.relative + ": " + why);
            return true;
        };
        if (m.unsafe || parts.empty())
            return refuse("its name is absolute or climbs out of the folder");
        if (m.encrypted)
            return refuse("it is encrypted");
        std::string error;
        if (m.type == ArchiveMember::Type::Folder) {
            std::vector<std::string> withLeaf = parts;
            withLeaf.push_back("."); // the folder itself is made as a parent
            Fd made = OpenParent(root_, withLeaf, error);
            if (made.Get() < 0)
                return refuse(error);
            report.done.push_back(m.ordinal);
            return true;
        }
        if (m.type == ArchiveMember::Type::Other)
            return refuse("it is no file, folder or link");
        Fd dir = OpenParent(root_, parts, error);
        if (dir.Get() < 0)
            return refuse(error);
        const std::string& leaf = parts.back();
        const std::string temp = TemporaryName();
        if (m.type == ArchiveMember::Type::Symlink) {
            if (!LinkStaysInside(item.relative, m.linkTarget))
                return refuse("it is a link that points outside the folder (" + m.linkTarget + ")");
            if (::symlinkat(m.linkTarget.c_str(), dir.Get(), temp.c_str()) != 0)
                return refuse(Errno(errno));
        } else if (!m.hardLink.empty()) {
            const auto it = written_.find(m.hardLink);
            if (it == written_.end())
                return refuse("it is a hard link to " + m.hardLink + ", which was not copied with it");
            std::string linkError;
            const std::vector<std::string> targetParts = PartsOf(it->second);
            Fd targetDir = OpenParent(root_, targetParts, linkError);
            if (targetDir.Get() < 0 ||
                ::linkat(targetDir.Get(), targetParts.back().c_str(), dir.Get(), temp.c_str(), 0) != 0)
                return refuse(linkError.empty() ? Errno(errno) : linkError);
        } else {
            Fd out(::openat(dir.Get(), temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
            if (out.Get() < 0)
                return refuse(Errno(errno));
            const bool whole = WriteData(a, m, out.Get(), report);
            if (whole) {
                ::fchmod(out.Get(), mode_t(m.mode & 0777));
                const struct timespec times[2] = {{0, UTIME_OMIT}, {time_t(m.mtime), 0}};
                ::futimens(out.Get(), times);
            }
            if (!whole || ::close(out.Release()) != 0) {
                ::unlinkat(dir.Get(), temp.c_str(), 0);
                if (!report.stopped.empty())
                    return false;
                return refuse(dataError_.empty() ? Errno(errno) : dataError_);
            }
        }
        if (!PutInPlace(dir.Get(), temp, leaf, item.replace, error)) {
            ::unlinkat(dir.Get(), temp.c_str(), 0);
            return refuse(error);
        }
        written_[m.path] = item.relative;
        report.done.push_back(m.ordinal);
        return true;
    }

private:
    // The member's data, checked against the two bomb rules as it comes.
    bool WriteData(struct archive* a, const ArchiveMember& m, int out, ArchiveExtractReport& report)
    {
        int64_t end = 0;
        const void* block;
        size_t length;
        la_int64_t offset;
        for (;;) {
            const int r = archive_read_data_block(a, &block, &length, &offset);
            if (r == ARCHIVE_EOF)
                break;
            if (r < ARCHIVE_WARN) {
                const char* text = archive_error_string(a);
                dataError_ = text ? text : "its data cannot be read";
                return false;
            }
            end = std::max<int64_t>(end, offset + int64_t(length));
            if (m.sizeKnown && !table_.singleFile && end > m.size) {
                report.stopped = m.path + " unpacks to more than its stated size (" + std::to_string(m.size) +
                                 " bytes); the copy was stopped";
                return false;
            }
            if (end > bombLimit_) {
                report.stopped = m.path + " unpacks to more than 100 times the archive's size; the copy was stopped";
                return false;
            }
            for (size_t put = 0; put < length;) {
                const ssize_t n = ::pwrite(out, static_cast<const char*>(block) + put, length - put, off_t(offset + put));
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0) {
                    dataError_ = Errno(n < 0 ? errno : ENOSPC);
                    return false;
                }
                put += size_t(n);
            }
        }
        // A sparse member's last hole counts in its length.
        if (::ftruncate(out, off_t(end)) != 0) {
            dataError_ = Errno(errno);
            return false;
        }
        return true;
    }

    const ArchiveTable& table_;
    int root_;
    int64_t bombLimit_;
    std::string dataError_;
    std::unordered_map<std::string, std::string> written_; // member path -> where it went
};

} // namespace

bool LinkStaysInside(const std::string& relative, const std::string& linkTarget)
{
    if (linkTarget.empty() || linkTarget[0] == '/')
        return false;
    long depth = long(PartsOf(relative).size()) - 1; // the folders above the link
    for (const std::string& part : PartsOf(linkTarget)) {
        if (part == "..")
            --depth;
        else if (part != ".")
            ++depth;
        if (depth < 0)
            return false;
    }
    return true;
}

ArchiveExtractReport ExtractArchiveMembers(const std::string& archive, const ArchiveTable& table,
                                           const std::vector<ArchiveExtractItem>& plan, const std::string& targetDir,
                                           const std::function<void(const std::string&)>& status,
                                           const CancelToken* cancel)
{
    ArchiveExtractReport report;
    if (plan.empty())
        return report;
    Fd root(::open(targetDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (root.Get() < 0) {
        report.stopped = "The folder " + targetDir + " cannot be opened: " + Errno(errno);
        return report;
    }
    Fd file(OpenRegularFileForReading(archive));
    struct stat st {};
    if (file.Get() < 0 || ::fstat(file.Get(), &st) != 0) {
        report.stopped = "The archive " + archive + " cannot be opened";
        return report;
    }
    if (int64_t(st.st_size) != table.archiveSize) {
        report.stopped = "The archive " + archive + " changed since it was listed; nothing was copied";
        return report;
    }
    std::unordered_map<int64_t, const ArchiveExtractItem*> wanted;
    for (const ArchiveExtractItem& item : plan)
        wanted[item.ordinal] = &item;
    ArchiveReader reader(file.Get(), table.singleFile);
    if (!reader.Open()) {
        report.stopped = reader.Error();
        return report;
    }
    Extraction extraction(table, root.Get(), int64_t(st.st_size));
    size_t left = wanted.size();
    int retries = 0;
    for (int64_t ordinal = 0; left > 0; ++ordinal) {
        if (cancel && cancel->Cancelled()) {
            report.stopped = "The copy was cancelled";
            break;
        }
        struct archive_entry* entry;
        const int r = archive_read_next_header(reader.Handle(), &entry);
        if (r == ARCHIVE_EOF)
            break;
        if (r == ARCHIVE_RETRY && ++retries < 64) {
            --ordinal;
            continue;
        }
        if (r < ARCHIVE_WARN) {
            report.stopped = reader.Error();
            break;
        }
        const auto it = wanted.find(ordinal);
        const ArchiveMember* m = table.ByOrdinal(ordinal);
        if (it == wanted.end() || !m)
            continue;
        --left;
        if (status)
            status(it->second->relative);
        if (!extraction.Member(reader.Handle(), *m, *it->second, report))
            break;
    }
    if (left > 0 && report.stopped.empty())
        for (const ArchiveExtractItem& item : plan)
            if (std::find(report.done.begin(), report.done.end(), item.ordinal) == report.done.end() &&
                std::none_of(report.refused.begin(), report.refused.end(),
                             [&](const std::string& r) { return r.starts_with(item.relative + ": "); }))
                report.refused.push_back(item.relative + ": the archive ended before it");
    return report;
}

} // namespace tarnel
