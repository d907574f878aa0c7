#include "sources/archive/ArchiveRewrite.h"

#include "platform/FileSystem.h"
#include "platform/RegularFile.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <set>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnel {

namespace {

constexpr size_t kBlock = 1 << 16;
// Deeper trees are left out rather than run the process out of descriptors.
constexpr int kMaxDepth = 256;

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

struct ReaderFree {
    void operator()(archive* a) const { archive_read_free(a); }
};
struct WriterFree {
    void operator()(archive* a) const { archive_write_free(a); }
};
struct EntryFree {
    void operator()(archive_entry* e) const { archive_entry_free(e); }
};
using Reader = std::unique_ptr<archive, ReaderFree>;
using Writer = std::unique_ptr<archive, WriterFree>;
using Entry = std::unique_ptr<archive_entry, EntryFree>;

std::string DirOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseOf(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A member's name as compared: no "./" in front, no "/" behind.
std::string Normal(std::string_view name)
{
    while (name.size() >= 2 && name.substr(0, 2) == "./")
        name.remove_prefix(2);
    while (!name.empty() && name.back() == '/')
        name.remove_suffix(1);
    return std::string(name);
}

bool Below(const std::string& name, const std::string& folder)
{
    return name.size() > folder.size() && name.compare(0, folder.size(), folder) == 0 && name[folder.size()] == '/';
}

std::string ErrorText(int error) { return error == ENOSPC ? "The disk is full" : std::strerror(error); }

// withSingle: a compressed file that holds no archive reads as one member.
Reader OpenReader(int fd, bool withSingle = false)
{
    Reader reader(archive_read_new());
    archive_read_support_filter_all(reader.get());
    archive_read_support_format_all(reader.get());
    if (withSingle)
        archive_read_support_format_raw(reader.get());
    if (::lseek(fd, 0, SEEK_SET) != 0 || archive_read_open_fd(reader.get(), fd, kBlock) != ARCHIVE_OK)
        return nullptr;
    return reader;
}

// The writer for kind; null when this libarchive cannot write it without
// an outside program.
Writer MakeWriter(ArchiveKind kind)
{
    Writer w(archive_write_new());
    int rc = kind == ArchiveKind::SevenZip ? archive_write_set_format_7zip(w.get())
                                           : archive_write_set_format_pax_restricted(w.get());
    if (rc == ARCHIVE_OK) {
        switch (kind) {
        case ArchiveKind::TarGz: rc = archive_write_add_filter_gzip(w.get()); break;
        case ArchiveKind::TarXz: rc = archive_write_add_filter_xz(w.get()); break;
        case ArchiveKind::TarZst: rc = archive_write_add_filter_zstd(w.get()); break;
        default: rc = archive_write_add_filter_none(w.get()); break;
        }
    }
    if (rc != ARCHIVE_OK)
        return nullptr;
    // A file, not a tape: no padding past the last byte.
    archive_write_set_bytes_in_last_block(w.get(), 1);
    return w;
}

// The new archive, a hidden file beside the one it will become.
class Output {
public:
    ~Output() { Discard(); }

    bool Create(const std::string& target, mode_t mode, std::string& error)
    {
        target_ = target;
        fd_ = CreateBeside(target, mode, path_);
        if (fd_ < 0) {
            error = "Cannot create a file beside " + target + ": " + ErrorText(errno);
            return false;
        }
        return true;
    }
    bool Open(archive* writer, std::string& error)
    {
        if (archive_write_open(writer, this, nullptr, &Output::WriteBlock, nullptr) != ARCHIVE_OK) {
            error = WriteError(writer);
            return false;
        }
        return true;
    }
    std::string WriteError(archive* writer) const
    {
        if (errno_ != 0)
            return "Cannot write the new " + target_ + ": " + ErrorText(errno_);
        const char* text = archive_error_string(writer);
        return text ? text : "The archive could not be written";
    }
    // Stops a writer that will not finish: its filters are closed (and their
    // memory freed) without another byte reaching the file.
    void Abandon(archive* writer)
    {
        refused_ = true;
        archive_write_close(writer);
    }
    int fd() const { return fd_; }
    const std::string& path() const { return path_; }
    bool Sync(std::string& error)
    {
        if (::fsync(fd_) != 0) {
            error = "Cannot write the new " + target_ + ": " + ErrorText(errno);
            return false;
        }
        return true;
    }
    // The file is in place: nothing to remove any more.
    void Keep()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
        path_.clear();
    }
    void Discard()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
        if (!path_.empty())
            ::unlink(path_.c_str());
        path_.clear();
    }

private:
    static la_ssize_t WriteBlock(archive*, void* self, const void* data, size_t size)
    {
        auto* out = static_cast<Output*>(self);
        if (out->refused_)
            return -1;
        const char* at = static_cast<const char*>(data);
        size_t left = size;
        while (left > 0) {
            const ssize_t n = ::write(out->fd_, at, left);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                out->errno_ = n < 0 ? errno : ENOSPC;
                return -1;
            }
            at += n;
            left -= size_t(n);
        }
        return la_ssize_t(size);
    }

    int fd_ = -1;
    int errno_ = 0;
    bool refused_ = false;
    std::string path_, target_;
};

// Owner names as tar keeps them beside the numbers.
class OwnerNames {
public:
    const std::string& User(uid_t uid)
    {
        auto [it, made] = users_.try_emplace(uid);
        if (made) {
            struct passwd pw, *found = nullptr;
            char buffer[4096];
            if (::getpwuid_r(uid, &pw, buffer, sizeof buffer, &found) == 0 && found)
                it->second = found->pw_name;
        }
        return it->second;
    }
    const std::string& Group(gid_t gid)
    {
        auto [it, made] = groups_.try_emplace(gid);
        if (made) {
            struct group gr, *found = nullptr;
            char buffer[4096];
            if (::getgrgid_r(gid, &gr, buffer, sizeof buffer, &found) == 0 && found)
                it->second = found->gr_name;
        }
        return it->second;
    }

private:
    std::unordered_map<uid_t, std::string> users_;
    std::unordered_map<gid_t, std::string> groups_;
};

struct Failure {
    ArchiveWriteResult::Status status;
    std::string error;
};

// What the old archive holds, from one pass over its headers.
struct OldMember {
    std::string name; // Normal()
    bool folder = false;
    std::string hardlink; // Normal(), or empty
    ArchiveFacts facts;
};

// Decides for each new item whether it goes in, and which old members it
// puts out: the replace questions.
class Admission {
public:
    explicit Admission(const std::vector<OldMember>* old, const ArchiveWriteHooks& hooks) : hooks_(hooks)
    {
        if (!old)
            return;
        for (const OldMember& m : *old) {
            (m.folder ? folders_ : files_)[m.name] = m.facts;
            // Every folder above a member is there, listed or not.
            for (size_t slash = m.name.find('/'); slash != std::string::npos; slash = m.name.find('/', slash + 1))
                folders_.try_emplace(m.name.substr(0, slash));
        }
    }

    enum class Verdict { Take, Leave, Stop };
    Verdict Admit(const std::string& name, bool folder, const ArchiveFacts& incoming, std::string& why)
    {
        const bool oldFolder = folders_.count(name) > 0;
        const auto file = files_.find(name);
        if (folder) {
            if (file != files_.end()) {
                why = "a file of that name is in the archive";
                return Verdict::Leave;
            }
            if (oldFolder)
                dropped_.insert(name); // the folder's own entry: the new one takes its place
            return Verdict::Take;
        }
        if (oldFolder) {
            why = "a folder of that name is in the archive";
            return Verdict::Leave;
        }
        if (file == files_.end())
            return Verdict::Take;
        ReplaceAnswer answer = all_.value_or(ReplaceAnswer::No);
        if (!all_)
            answer = hooks_.askReplace ? hooks_.askReplace(name, file->second, incoming) : ReplaceAnswer::No;
        switch (answer) {
        case ReplaceAnswer::YesToAll: all_ = ReplaceAnswer::Yes; [[fallthrough]];
        case ReplaceAnswer::Yes: dropped_.insert(name); return Verdict::Take;
        case ReplaceAnswer::SkipAll: all_ = ReplaceAnswer::No; [[fallthrough]];
        case ReplaceAnswer::No: why = "not replaced"; return Verdict::Leave;
        case ReplaceAnswer::Cancel: break;
        }
        return Verdict::Stop;
    }
    const std::set<std::string>& Dropped() const { return dropped_; }

private:
    const ArchiveWriteHooks& hooks_;
    std::map<std::string, ArchiveFacts> files_;
    std::map<std::string, ArchiveFacts> folders_;
    std::set<std::string> dropped_;
    std::optional<ReplaceAnswer> all_;
};

// Writes items of the disk into an archive, walking folders by descriptor.
class DiskWriter {
public:
    DiskWriter(archive* out, ArchiveKind kind, const ArchiveWriteHooks& hooks, ArchiveWriteResult& result,
               Admission& admission)
        : out_(out), hardLinks_(kind != ArchiveKind::SevenZip), hooks_(hooks), result_(result), admission_(admission)
    {
    }

    // Never written into the archive: the archive itself and the new one.
    void Exclude(const struct stat& st) { excluded_.insert({st.st_dev, st.st_ino}); }
    void SetTotal(uint64_t bytes) { total_ = bytes; }
    uint64_t Done() const { return done_; }

    // Writes path under member's name. False when the work must stop: failure holds why.
    bool Add(const std::string& path, const std::string& member)
    {
        Fd dir(::open(DirOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (dir.get() < 0) {
            Skip(path, ErrorText(errno));
            return true;
        }
        return AddAt(dir.get(), BaseOf(path), path, member, 0);
    }

    Failure failure{ArchiveWriteResult::Status::Failed, {}};
    size_t written = 0;

private:
    void Skip(const std::string& path, const std::string& why) { result_.skipped.push_back(path + ": " + why); }

    bool Tick(const std::string& name)
    {
        if (!hooks_.progress || hooks_.progress(done_, total_, name))
            return true;
        failure = {ArchiveWriteResult::Status::Cancelled, "Cancelled"};
        return false;
    }

    // A header that cannot be written leaves that item out; a fatal one stops all.
    enum class HeaderResult { Written, Refused, Fatal };
    HeaderResult WriteHeader(archive_entry* entry, const std::string& path)
    {
        const int rc = archive_write_header(out_, entry);
        if (rc >= ARCHIVE_WARN)
            return HeaderResult::Written;
        if (rc == ARCHIVE_FAILED) {
            const char* text = archive_error_string(out_);
            Skip(path, text ? text : "cannot be stored");
            return HeaderResult::Refused;
        }
        failure.error = writeError ? writeError(out_) : "The archive could not be written";
        return HeaderResult::Fatal;
    }

    Entry EntryFor(const std::string& member, const struct stat& st)
    {
        Entry entry(archive_entry_new());
        archive_entry_copy_pathname(entry.get(), member.c_str());
        archive_entry_copy_stat(entry.get(), &st);
        archive_entry_copy_uname(entry.get(), names_.User(st.st_uid).c_str());
        archive_entry_copy_gname(entry.get(), names_.Group(st.st_gid).c_str());
        return entry;
    }

    bool AddAt(int dirFd, const std::string& name, const std::string& path, const std::string& member, int depth)
    {
        if (!Tick(path))
            return false;
        struct stat st;
        if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            Skip(path, ErrorText(errno));
            return true;
        }
        if (excluded_.count({st.st_dev, st.st_ino}))
            return true;
        if (S_ISDIR(st.st_mode))
            return AddFolder(dirFd, name, path, member, st, depth);
        if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) {
            // A fifo, device or socket: opening it could block or act.
            Skip(path, "not a regular file, folder or link");
            return true;
        }
        std::string why;
        switch (admission_.Admit(member, false, {st.st_size, st.st_mtim.tv_sec}, why)) {
        case Admission::Verdict::Take: break;
        case Admission::Verdict::Leave: Skip(path, why); return true;
        case Admission::Verdict::Stop: failure = {ArchiveWriteResult::Status::Cancelled, "Cancelled"}; return false;
        }
        if (S_ISLNK(st.st_mode))
            return AddLink(dirFd, name, path, member, st);
        return AddFile(dirFd, name, path, member, st);
    }

    bool AddLink(int dirFd, const std::string& name, const std::string& path, const std::string& member,
                 struct stat st)
    {
        std::string target(size_t(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
        const ssize_t n = ::readlinkat(dirFd, name.c_str(), target.data(), target.size());
        if (n < 0 || size_t(n) >= target.size()) {
            Skip(path, n < 0 ? ErrorText(errno) : "changed while being read");
            return true;
        }
        target.resize(size_t(n));
        st.st_size = 0;
        Entry entry = EntryFor(member, st);
        archive_entry_copy_symlink(entry.get(), target.c_str());
        switch (WriteHeader(entry.get(), path)) {
        case HeaderResult::Written: break;
        case HeaderResult::Refused: return true;
        case HeaderResult::Fatal: return false;
        }
        Archived(path, st, false);
        return true;
    }

    bool AddFile(int dirFd, const std::string& name, const std::string& path, const std::string& member,
                 const struct stat& seen)
    {
        const int opened = OpenRegularFileAt(dirFd, name);
        if (opened < 0) {
            Skip(path, opened == kNotARegularFile ? "not a regular file" : ErrorText(-opened));
            return true;
        }
        Fd in(opened);
        struct stat st;
        if (::fstat(in.get(), &st) != 0 || st.st_dev != seen.st_dev || st.st_ino != seen.st_ino) {
            Skip(path, "changed while being read");
            return true;
        }
        const std::pair<dev_t, ino_t> id{st.st_dev, st.st_ino};
        if (hardLinks_ && st.st_nlink > 1) {
            if (const auto first = links_.find(id); first != links_.end()) {
                struct stat link = st;
                link.st_size = 0;
                Entry entry = EntryFor(member, link);
                archive_entry_copy_hardlink(entry.get(), first->second.c_str());
                switch (WriteHeader(entry.get(), path)) {
                case HeaderResult::Written: break;
                case HeaderResult::Refused: return true;
                case HeaderResult::Fatal: return false;
                }
                Archived(path, st, false);
                return true;
            }
        }
        Entry entry = EntryFor(member, st);
        switch (WriteHeader(entry.get(), path)) {
        case HeaderResult::Written: break;
        case HeaderResult::Refused: return true;
        case HeaderResult::Fatal: return false;
        }
        // The header promised st_size bytes: exactly those follow, whatever
        // the file does meanwhile.
        std::vector<char> buffer(kBlock);
        int64_t left = st.st_size;
        bool changed = false;
        while (left > 0) {
            ssize_t n = ::read(in.get(), buffer.data(), size_t(std::min<int64_t>(left, int64_t(buffer.size()))));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                changed = true; // shorter than it was: the rest is zeros
                n = ssize_t(std::min<int64_t>(left, int64_t(buffer.size())));
                std::fill(buffer.begin(), buffer.begin() + n, 0);
            }
            if (archive_write_data(out_, buffer.data(), size_t(n)) != n) {
                failure.error = writeError ? writeError(out_) : "The archive could not be written";
                return false;
            }
            left -= n;
            done_ += uint64_t(n);
            if (!Tick(path))
                return false;
        }
        struct stat after;
        if (changed || ::fstat(in.get(), &after) != 0 || StampFrom(after) != StampFrom(st)) {
            Skip(path, "changed while being read; the archive holds it as it was met");
            return true;
        }
        if (hardLinks_ && st.st_nlink > 1)
            links_.try_emplace(id, member);
        Archived(path, st, false);
        return true;
    }

    bool AddFolder(int dirFd, const std::string& name, const std::string& path, const std::string& member,
                   const struct stat& seen, int depth)
    {
        if (depth >= kMaxDepth) {
            Skip(path, "too deep");
            return true;
        }
        std::string why;
        switch (admission_.Admit(member, true, {}, why)) {
        case Admission::Verdict::Take: break;
        case Admission::Verdict::Leave: Skip(path, why); return true;
        case Admission::Verdict::Stop: failure = {ArchiveWriteResult::Status::Cancelled, "Cancelled"}; return false;
        }
        Fd dir(::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        struct stat st;
        if (dir.get() < 0 || ::fstat(dir.get(), &st) != 0 || st.st_dev != seen.st_dev || st.st_ino != seen.st_ino) {
            Skip(path, dir.get() < 0 ? ErrorText(errno) : "changed while being read");
            return true;
        }
        Entry entry = EntryFor(member, st);
        archive_entry_set_size(entry.get(), 0);
        switch (WriteHeader(entry.get(), path)) {
        case HeaderResult::Written: break;
        case HeaderResult::Refused: return true;
        case HeaderResult::Fatal: return false;
        }
        Archived(path, st, true);
        std::vector<std::string> names;
        if (RealFileSystem().ListDirectoryFd(dir.get(), names) < 0) {
            Skip(path, "its contents cannot be read");
            return true;
        }
        // Sorted, so that the same tree always makes the same archive.
        std::sort(names.begin(), names.end());
        for (const std::string& child : names)
            if (!AddAt(dir.get(), child, path + "/" + child, member + "/" + child, depth + 1))
                return false;
        return true;
    }

    void Archived(const std::string& path, const struct stat& st, bool folder)
    {
        ++written;
        result_.archived.push_back({path, StampFrom(st), folder});
    }

public:
    std::function<std::string(archive*)> writeError;

private:
    archive* out_;
    bool hardLinks_;
    const ArchiveWriteHooks& hooks_;
    ArchiveWriteResult& result_;
    Admission& admission_;
    OwnerNames names_;
    std::map<std::pair<dev_t, ino_t>, std::string> links_;
    std::set<std::pair<dev_t, ino_t>> excluded_;
    uint64_t done_ = 0, total_ = 0;
};

// The bytes of regular files below the paths, for the progress gauge.
uint64_t CountAt(int dirFd, const std::string& name, int depth)
{
    struct stat st;
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return 0;
    if (S_ISREG(st.st_mode))
        return uint64_t(st.st_size);
    if (!S_ISDIR(st.st_mode) || depth >= kMaxDepth)
        return 0;
    Fd dir(::openat(dirFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    std::vector<std::string> names;
    if (dir.get() < 0 || RealFileSystem().ListDirectoryFd(dir.get(), names) < 0)
        return 0;
    uint64_t sum = 0;
    for (const std::string& child : names)
        sum += CountAt(dir.get(), child, depth + 1);
    return sum;
}

uint64_t CountBytes(const std::vector<std::string>& paths)
{
    uint64_t sum = 0;
    for (const std::string& path : paths) {
        Fd dir(::open(DirOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (dir.get() >= 0)
            sum += CountAt(dir.get(), BaseOf(path), 0);
    }
    return sum;
}

// The old archive, open for reading, and what its replacement must keep.
class OldArchive {
public:
    bool Open(const std::string& path, std::string& error)
    {
        const int fd = OpenRegularFile(path);
        if (fd < 0) {
            error = path + ": " + (fd == kNotARegularFile ? "not a regular file" : ErrorText(-fd));
            return false;
        }
        fd_ = Fd(fd).release();
        if (::fstat(fd_, &st_) != 0) {
            error = path + ": " + ErrorText(errno);
            return false;
        }
        // Through a link the file it leads to is replaced, not the link.
        char buffer[4096];
        const std::string self = "/proc/self/fd/" + std::to_string(fd_);
        const ssize_t n = ::readlink(self.c_str(), buffer, sizeof buffer);
        real_ = n > 0 && size_t(n) < sizeof buffer && buffer[0] == '/' ? std::string(buffer, size_t(n)) : path;
        // The owner's write bit is what makes a file read-only, for root too.
        if (!(st_.st_mode & S_IWUSR)) {
            error = "The archive " + path + " is read-only";
            return false;
        }
        Reader reader = OpenReader(fd_, true);
        archive_entry* entry = nullptr;
        const int rc = reader ? archive_read_next_header(reader.get(), &entry) : ARCHIVE_FATAL;
        kind_ = reader && rc != ARCHIVE_FATAL ? WritableKindOf(reader.get()) : std::nullopt;
        if (!kind_) {
            // A plain file passes for one member too; a compressed one is the
            // single-member archive the panes show.
            const int format = reader ? archive_format(reader.get()) : 0;
            const bool recognised = rc != ARCHIVE_FATAL && format != 0 &&
                                    (format != ARCHIVE_FORMAT_RAW || archive_filter_count(reader.get()) > 1);
            error = recognised ? std::string(kArchiveReadOnlyText)
                               : path + ": not an archive that can be read, or damaged";
            return false;
        }
        return true;
    }
    ~OldArchive()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }

    // Every member's header, in order; false for a damaged archive.
    bool Scan(std::vector<OldMember>& members, std::string& error, const ArchiveWriteHooks& hooks, bool& cancelled)
    {
        Reader reader = OpenReader(fd_);
        if (!reader) {
            error = real_ + ": cannot be read";
            return false;
        }
        archive_entry* entry = nullptr;
        int rc;
        while ((rc = archive_read_next_header(reader.get(), &entry)) == ARCHIVE_OK || rc == ARCHIVE_WARN) {
            OldMember& m = members.emplace_back();
            m.name = Normal(archive_entry_pathname(entry) ? archive_entry_pathname(entry) : "");
            m.folder = archive_entry_filetype(entry) == AE_IFDIR;
            if (const char* link = archive_entry_hardlink(entry))
                m.hardlink = Normal(link);
            m.facts = {archive_entry_size(entry), int64_t(archive_entry_mtime(entry))};
            if (hooks.progress && !hooks.progress(0, 0, m.name)) {
                cancelled = true;
                return false;
            }
        }
        if (rc != ARCHIVE_EOF) {
            const char* text = archive_error_string(reader.get());
            error = "The archive " + real_ + " is damaged: " + (text ? text : "cannot be read");
            return false;
        }
        return true;
    }

    int fd() const { return fd_; }
    const struct stat& Stat() const { return st_; }
    const std::string& RealPath() const { return real_; }
    ArchiveKind Kind() const { return *kind_; }

private:
    int fd_ = -1;
    struct stat st_ {};
    std::string real_;
    std::optional<ArchiveKind> kind_;
};

// Copies the old archive's members into out, leaving out the members at
// the indexes drop holds. A left-out member that a kept hard link points
// to gives that link its contents, and later links point to it instead.
bool CopyOldMembers(OldArchive& old, const std::vector<OldMember>& members, const std::vector<bool>& drop,
                    archive* out, const std::function<std::string(archive*)>& writeError,
                    const ArchiveWriteHooks& hooks, uint64_t doneBefore, uint64_t total, Failure& failure)
{
    // For each dropped member a kept link needs: the first such link.
    std::map<std::string, size_t> heirOf;      // dropped target's name -> index of its heir
    std::unordered_set<size_t> heirs;
    {
        std::map<std::string, size_t> lastWithName;
        for (size_t i = 0; i < members.size(); ++i) {
            const OldMember& m = members[i];
            if (!drop[i] && !m.hardlink.empty()) {
                const auto target = lastWithName.find(m.hardlink);
                if (target != lastWithName.end() && drop[target->second] && !heirOf.count(m.hardlink)) {
                    heirOf[m.hardlink] = i;
                    heirs.insert(i);
                }
            }
            lastWithName[m.name] = i;
        }
    }
    Reader reader = OpenReader(old.fd());
    if (!reader) {
        failure.error = old.RealPath() + ": cannot be read";
        return false;
    }
    std::vector<char> buffer(kBlock);
    archive_entry* entry = nullptr;
    int rc;
    size_t i = 0;
    for (; (rc = archive_read_next_header(reader.get(), &entry)) == ARCHIVE_OK || rc == ARCHIVE_WARN; ++i) {
        if (i >= members.size()) {
            failure.error = "The archive " + old.RealPath() + " changed while it was read";
            return false;
        }
        const OldMember& m = members[i];
        if (hooks.progress &&
            !hooks.progress(doneBefore + uint64_t(archive_filter_bytes(reader.get(), -1)), total, m.name)) {
            failure = {ArchiveWriteResult::Status::Cancelled, "Cancelled"};
            return false;
        }
        if (heirs.count(i))
            continue; // written already, with its target's contents
        bool withData = true;
        if (drop[i]) {
            const auto heir = heirOf.find(m.name);
            if (heir == heirOf.end())
                continue;
            // The heir takes this member's place and contents.
            archive_entry_copy_pathname(entry, members[heir->second].name.c_str());
        } else if (!m.hardlink.empty()) {
            // A link to a dropped member now points to that member's heir.
            if (const auto heir = heirOf.find(m.hardlink); heir != heirOf.end())
                archive_entry_copy_hardlink(entry, members[heir->second].name.c_str());
            withData = archive_entry_size_is_set(entry) && archive_entry_size(entry) > 0;
        }
        // Holes come back as zeros: the copy's size is what the header says.
        archive_entry_sparse_clear(entry);
        const int header = archive_write_header(out, entry);
        if (header < ARCHIVE_WARN) {
            failure.error = writeError(out);
            return false;
        }
        if (!withData || archive_entry_filetype(entry) != AE_IFREG)
            continue;
        for (;;) {
            const la_ssize_t n = archive_read_data(reader.get(), buffer.data(), buffer.size());
            if (n == 0)
                break;
            if (n < 0) {
                const char* text = archive_error_string(reader.get());
                failure.error = "The archive " + old.RealPath() + " is damaged: " + (text ? text : "cannot be read");
                return false;
            }
            if (archive_write_data(out, buffer.data(), size_t(n)) != n) {
                failure.error = writeError(out);
                return false;
            }
            // A large member must not hold off a cancel until its end.
            if (hooks.progress &&
                !hooks.progress(doneBefore + uint64_t(archive_filter_bytes(reader.get(), -1)), total, m.name)) {
                failure = {ArchiveWriteResult::Status::Cancelled, "Cancelled"};
                return false;
            }
        }
    }
    if (rc != ARCHIVE_EOF) {
        const char* text = archive_error_string(reader.get());
        failure.error = "The archive " + old.RealPath() + " is damaged: " + (text ? text : "cannot be read");
        return false;
    }
    return true;
}

// Gives the new file what the old one had: owner (as far as this user may),
// extended attributes and mode.
void TakeOver(int fd, int oldFd, const struct stat& old)
{
    if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
        [[maybe_unused]] const int groupOnly = ::fchown(fd, uid_t(-1), old.st_gid);
    }
    (void)::fchmod(fd, old.st_mode & 07777);
    // After the mode: an access list among them carries its own mask.
    (void)RealFileSystem().CopyXattrsFd(oldFd, fd);
}

// The finished new archive takes the old one's place. An archive with more
// than one name gets the new contents in its own inode, as every other
// rewritten file does, so that all its names keep showing one file.
void Replace(OldArchive& old, Output& output, ArchiveWriteResult& result)
{
    TakeOver(output.fd(), old.fd(), old.Stat());
    if (!output.Sync(result.error))
        return;
    struct stat now;
    if (::stat(old.RealPath().c_str(), &now) != 0 || StampFrom(now) != StampFrom(old.Stat())) {
        result.error = "The archive " + old.RealPath() + " was changed by another program meanwhile; it was left as it is";
        return;
    }
    if (now.st_nlink <= 1) {
        if (::rename(output.path().c_str(), old.RealPath().c_str()) != 0) {
            result.error = "Cannot replace " + old.RealPath() + ": " + ErrorText(errno);
            return;
        }
        output.Keep();
        SyncFolderOf(old.RealPath());
        result.status = ArchiveWriteResult::Status::Written;
        return;
    }
    const std::string self = "/proc/self/fd/" + std::to_string(old.fd());
    Fd target(::open(self.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    struct stat opened;
    if (target.get() < 0 || ::fstat(target.get(), &opened) != 0 || opened.st_ino != now.st_ino ||
        opened.st_dev != now.st_dev) {
        result.error = "Cannot write " + old.RealPath() + ": " + ErrorText(target.get() < 0 ? errno : EBUSY);
        return;
    }
    // The copy was made for writing alone.
    const std::string madeSelf = "/proc/self/fd/" + std::to_string(output.fd());
    Fd source(::open(madeSelf.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat made;
    if (source.get() < 0 || ::fstat(source.get(), &made) != 0) {
        result.error = "Cannot read " + output.path() + ": " + ErrorText(errno);
        return;
    }
    // Room first, so that a full disk stops it before the old contents change.
    if (made.st_size > now.st_size && ::fallocate(target.get(), FALLOC_FL_KEEP_SIZE, 0, made.st_size) != 0 &&
        (errno == ENOSPC || errno == EDQUOT || errno == EFBIG)) {
        result.error = "Cannot write " + old.RealPath() + ": " + ErrorText(errno);
        return;
    }
    std::vector<char> buffer(kBlock);
    off_t at = 0;
    int error = 0;
    while (error == 0 && at < made.st_size) {
        const ssize_t n = ::pread(source.get(), buffer.data(), buffer.size(), at);
        if (n <= 0) {
            error = n < 0 ? errno : EIO;
            break;
        }
        for (ssize_t put = 0; put < n;) {
            const ssize_t w = ::pwrite(target.get(), buffer.data() + put, size_t(n - put), at + put);
            if (w < 0 && errno == EINTR)
                continue;
            if (w <= 0) {
                error = w < 0 ? errno : ENOSPC;
                break;
            }
            put += w;
        }
        at += n;
    }
    if (error == 0 && (::ftruncate(target.get(), made.st_size) != 0 || ::fsync(target.get()) != 0))
        error = errno;
    if (error != 0) {
        result.status = ArchiveWriteResult::Status::Incomplete;
        result.error = "The archive " + old.RealPath() + " may be half written (" + ErrorText(error) +
                       "); its new contents are in " + output.path();
        result.keptCopy = output.path();
        output.Keep();
        return;
    }
    output.Discard();
    result.status = ArchiveWriteResult::Status::Written;
}

ArchiveWriteResult Failed(ArchiveWriteResult result, const Failure& failure)
{
    result.status = failure.status;
    result.error = failure.error;
    result.archived.clear();
    return result;
}

// Add and delete: the old members less drop, after the new items.
ArchiveWriteResult Rewrite(const std::string& archivePath, const std::string& inside,
                           const std::vector<std::string>& diskPaths, const std::vector<std::string>& deleting,
                           const ArchiveWriteHooks& hooks)
{
    ArchiveWriteResult result;
    OldArchive old;
    if (!old.Open(archivePath, result.error))
        return result;
    std::vector<OldMember> members;
    bool cancelled = false;
    if (!old.Scan(members, result.error, hooks, cancelled)) {
        if (cancelled)
            return Failed(std::move(result), {ArchiveWriteResult::Status::Cancelled, "Cancelled"});
        return result;
    }
    std::vector<bool> drop(members.size(), false);
    for (size_t i = 0; i < members.size(); ++i)
        for (const std::string& name : deleting)
            if (members[i].name == name || Below(members[i].name, name)) {
                drop[i] = true;
                ++result.membersRemoved;
            }
    if (diskPaths.empty() && result.membersRemoved == 0) {
        result.status = ArchiveWriteResult::Status::NothingDone;
        return result;
    }

    Output output;
    if (!output.Create(old.RealPath(), 0600, result.error))
        return result;
    Writer writer = MakeWriter(old.Kind());
    if (!writer || !output.Open(writer.get(), result.error)) {
        if (result.error.empty())
            result.error = kArchiveReadOnlyText;
        return result;
    }
    const auto writeError = [&output](archive* a) { return output.WriteError(a); };

    Admission admission(&members, hooks);
    DiskWriter disk(writer.get(), old.Kind(), hooks, result, admission);
    disk.writeError = writeError;
    const uint64_t diskBytes = CountBytes(diskPaths);
    const uint64_t total = diskBytes + uint64_t(old.Stat().st_size);
    disk.SetTotal(total);
    disk.Exclude(old.Stat());
    struct stat made;
    if (::fstat(output.fd(), &made) == 0)
        disk.Exclude(made);
    for (const std::string& path : diskPaths) {
        if (!disk.Add(path, inside + BaseOf(path))) {
            output.Abandon(writer.get());
            return Failed(std::move(result), disk.failure);
        }
    }
    if (!diskPaths.empty() && disk.written == 0) {
        result.status = ArchiveWriteResult::Status::NothingDone;
        return result;
    }
    for (size_t i = 0; i < members.size(); ++i)
        if (admission.Dropped().count(members[i].name))
            drop[i] = true;
    Failure failure{ArchiveWriteResult::Status::Failed, {}};
    if (!CopyOldMembers(old, members, drop, writer.get(), writeError, hooks, disk.Done(), total, failure)) {
        output.Abandon(writer.get());
        return Failed(std::move(result), failure);
    }
    if (archive_write_close(writer.get()) != ARCHIVE_OK)
        return Failed(std::move(result), {ArchiveWriteResult::Status::Failed, output.WriteError(writer.get())});
    Replace(old, output, result);
    if (!result.Written())
        result.archived.clear();
    return result;
}

} // namespace

const char* ArchiveKindName(ArchiveKind kind)
{
    switch (kind) {
    case ArchiveKind::Tar: return "tar";
    case ArchiveKind::TarGz: return "tar.gz";
    case ArchiveKind::TarXz: return "tar.xz";
    case ArchiveKind::TarZst: return "tar.zst";
    case ArchiveKind::SevenZip: return "7z";
    }
    return "";
}

const char* ArchiveKindExtension(ArchiveKind kind)
{
    switch (kind) {
    case ArchiveKind::Tar: return ".tar";
    case ArchiveKind::TarGz: return ".tar.gz";
    case ArchiveKind::TarXz: return ".tar.xz";
    case ArchiveKind::TarZst: return ".tar.zst";
    case ArchiveKind::SevenZip: return ".7z";
    }
    return "";
}

std::optional<ArchiveKind> ArchiveKindOfName(const std::string& name)
{
    std::string lower = name;
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    const auto ends = [&](std::string_view tail) {
        return lower.size() > tail.size() && lower.compare(lower.size() - tail.size(), tail.size(), tail) == 0;
    };
    if (ends(".tar.gz") || ends(".tgz"))
        return ArchiveKind::TarGz;
    if (ends(".tar.xz") || ends(".txz"))
        return ArchiveKind::TarXz;
    if (ends(".tar.zst") || ends(".tzst"))
        return ArchiveKind::TarZst;
    if (ends(".tar"))
        return ArchiveKind::Tar;
    if (ends(".7z"))
        return ArchiveKind::SevenZip;
    return std::nullopt;
}

std::optional<ArchiveKind> WritableKindOf(struct archive* reader)
{
    if (!reader)
        return std::nullopt;
    const int format = archive_format(reader);
    // The last filter is the file itself ("none"); one more is the compression.
    const int filters = archive_filter_count(reader);
    const int outer = filters > 1 ? archive_filter_code(reader, 0) : ARCHIVE_FILTER_NONE;
    if (filters > 2)
        return std::nullopt;
    std::optional<ArchiveKind> kind;
    if ((format & ARCHIVE_FORMAT_BASE_MASK) == ARCHIVE_FORMAT_TAR) {
        switch (outer) {
        case ARCHIVE_FILTER_NONE: kind = ArchiveKind::Tar; break;
        case ARCHIVE_FILTER_GZIP: kind = ArchiveKind::TarGz; break;
        case ARCHIVE_FILTER_XZ: kind = ArchiveKind::TarXz; break;
        case ARCHIVE_FILTER_ZSTD: kind = ArchiveKind::TarZst; break;
        default: break;
        }
    } else if (format == ARCHIVE_FORMAT_7ZIP && outer == ARCHIVE_FILTER_NONE) {
        kind = ArchiveKind::SevenZip;
    }
    // Only what this library writes by itself, with no outside program.
    if (kind && !MakeWriter(*kind))
        return std::nullopt;
    return kind;
}

bool ArchiveFormatWritable(struct archive* reader) { return WritableKindOf(reader).has_value(); }

bool ArchiveFormatWritable(const std::string& archivePath)
{
    const int fd = OpenRegularFile(archivePath);
    if (fd < 0)
        return false;
    Fd file(fd);
    Reader reader = OpenReader(file.get());
    if (!reader)
        return false;
    archive_entry* entry = nullptr;
    if (archive_read_next_header(reader.get(), &entry) == ARCHIVE_FATAL)
        return false;
    return ArchiveFormatWritable(reader.get());
}

ArchiveWriteResult CreateArchive(const std::string& archivePath, ArchiveKind kind,
                                 const std::vector<std::string>& diskPaths, const ArchiveWriteHooks& hooks)
{
    ArchiveWriteResult result;
    struct stat existing;
    if (::lstat(archivePath.c_str(), &existing) == 0) {
        result.error = "A file named " + archivePath + " is already there";
        return result;
    }
    Writer writer = MakeWriter(kind);
    if (!writer) {
        result.error = std::string("This program cannot write ") + ArchiveKindName(kind) + " archives";
        return result;
    }
    Output output;
    // The mode any new file of the user's gets: 0666 less the umask.
    if (!output.Create(archivePath, 0666, result.error) || !output.Open(writer.get(), result.error))
        return result;
    Admission admission(nullptr, hooks);
    DiskWriter disk(writer.get(), kind, hooks, result, admission);
    disk.writeError = [&output](archive* a) { return output.WriteError(a); };
    disk.SetTotal(CountBytes(diskPaths));
    struct stat made;
    if (::fstat(output.fd(), &made) == 0)
        disk.Exclude(made);
    for (const std::string& path : diskPaths) {
        if (!disk.Add(path, BaseOf(path))) {
            output.Abandon(writer.get());
            return Failed(std::move(result), disk.failure);
        }
    }
    if (archive_write_close(writer.get()) != ARCHIVE_OK)
        return Failed(std::move(result), {ArchiveWriteResult::Status::Failed, output.WriteError(writer.get())});
    if (!output.Sync(result.error))
        return Failed(std::move(result), {ArchiveWriteResult::Status::Failed, result.error});
    // Appears whole under its name, and never over a file made meanwhile.
    int rc = ::renameat2(AT_FDCWD, output.path().c_str(), AT_FDCWD, archivePath.c_str(), RENAME_NOREPLACE);
    if (rc != 0 && (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
        rc = ::link(output.path().c_str(), archivePath.c_str());
        if (rc == 0)
            ::unlink(output.path().c_str());
    }
    if (rc != 0) {
        const int error = errno;
        return Failed(std::move(result),
                      {ArchiveWriteResult::Status::Failed,
                       error == EEXIST ? "A file named " + archivePath + " is already there"
                                       : "Cannot create " + archivePath + ": " + ErrorText(error)});
    }
    output.Keep();
    SyncFolderOf(archivePath);
    result.status = ArchiveWriteResult::Status::Written;
    return result;
}

ArchiveWriteResult AddToArchive(const std::string& archivePath, const std::string& inside,
                                const std::vector<std::string>& diskPaths, const ArchiveWriteHooks& hooks)
{
    std::string folder = Normal(inside);
    if (!folder.empty())
        folder += "/";
    return Rewrite(archivePath, folder, diskPaths, {}, hooks);
}

ArchiveWriteResult DeleteFromArchive(const std::string& archivePath, const std::vector<std::string>& members,
                                     const ArchiveWriteHooks& hooks)
{
    std::vector<std::string> names;
    for (const std::string& m : members)
        if (!Normal(m).empty())
            names.push_back(Normal(m));
    return Rewrite(archivePath, {}, {}, names, hooks);
}

} // namespace tarnel
