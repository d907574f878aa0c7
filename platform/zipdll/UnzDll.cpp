// libunzdll.so: extracts and tests members of an archive. Members land
// below the current directory only: names that are absolute, climb out with
// "..", or are symbolic links are refused, and every directory on the way is
// opened without following links.
#include "platform/RegularFile.h"
#include "platform/zipdll/DllSupport.h"
#include "platform/zipdll/ZipCentral.h"

#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <random>
#include <set>
#include <utility>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarnel::zipdll;
namespace zipcentral = tarnel::zipcentral;

namespace {

struct ArchiveCloser {
    void operator()(zip_t* za) const { zip_discard(za); }
};
struct FileCloser {
    void operator()(zip_file_t* f) const { zip_fclose(f); }
};
using Archive = std::unique_ptr<zip_t, ArchiveCloser>;
using MemberFile = std::unique_ptr<zip_file_t, FileCloser>;

class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() { reset(); }
    Fd(Fd&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
    Fd& operator=(Fd&& o) noexcept
    {
        std::swap(fd_, o.fd_);
        return *this;
    }
    int get() const { return fd_; }
    int release() { return std::exchange(fd_, -1); }
    void reset()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

// What extraction needs of a member, from libzip when it opened the archive,
// else from the central directory alone.
struct Member {
    zip_uint64_t index = 0;
    std::string name; // the stored bytes, from the central directory
    bool sized = false;
    uint64_t size = 0;
    uint64_t compressedSize = 0;
    bool methodKnown = false;
    uint16_t method = 0;
    bool encrypted = false;
    uint16_t encryptionMethod = 0;
    bool timed = false;
    time_t mtime = 0;
    mode_t mode = 0644;
    bool symlink = false;
    uint32_t crc = 0;
    int64_t localHeader = -1;
};

// A member's data as it is read out.
class MemberStream {
public:
    virtual ~MemberStream() = default;
    // Bytes read, 0 at the end, -1 on an error (then Error tells).
    virtual int64_t Read(char* out, size_t n) = 0;
    virtual std::string Error() const = 0;
};

class LibzipStream : public MemberStream {
public:
    explicit LibzipStream(zip_file_t* file) : file_(file) {}
    ~LibzipStream() override { zip_fclose(file_); }
    int64_t Read(char* out, size_t n) override { return zip_fread(file_, out, n); }
    std::string Error() const override { return zip_file_strerror(file_); }

private:
    zip_file_t* file_;
};

// Stored and deflated data read straight from the file, for archives libzip
// refuses whole (one name with the UTF-8 flag and bytes that are none, a
// self-extractor whose offsets were not adjusted): every member that can be
// read still is. The checksum is checked at the end.
class DirectStream : public MemberStream {
public:
    DirectStream(int fd, const Member& m) : fd_(fd), method_(m.method), expectedCrc_(m.crc) {}
    ~DirectStream() override
    {
        if (inflating_)
            inflateEnd(&z_);
    }

    bool Open(const Member& m)
    {
        unsigned char h[30];
        if (m.localHeader < 0 || PreadAll(m.localHeader, h, 30) != 30 ||
            (h[0] | h[1] << 8 | h[2] << 16 | uint32_t(h[3]) << 24) != 0x04034B50) {
            error_ = "its local header is missing";
            return false;
        }
        pos_ = m.localHeader + 30 + (h[26] | h[27] << 8) + (h[28] | h[29] << 8);
        left_ = m.compressedSize;
        struct stat st {};
        if (::fstat(fd_, &st) != 0 || uint64_t(pos_) + left_ > uint64_t(st.st_size)) {
            error_ = "its data goes past the end of the file";
            return false;
        }
        if (method_ == ZIP_CM_DEFLATE) {
            if (inflateInit2(&z_, -MAX_WBITS) != Z_OK) {
                error_ = "out of memory";
                return false;
            }
            inflating_ = true;
        }
        return true;
    }

    int64_t Read(char* out, size_t n) override
    {
        const int64_t got = method_ == ZIP_CM_DEFLATE ? Inflate(out, n) : Stored(out, n);
        if (got > 0)
            crc_ = crc32(crc_, reinterpret_cast<const Bytef*>(out), uInt(got));
        if (got == 0 && crc_ != expectedCrc_) {
            error_ = "CRC error";
            return -1;
        }
        return got;
    }
    std::string Error() const override { return error_; }

private:
    size_t PreadAll(int64_t pos, void* out, size_t n) { return zipcentral::PreadFully(fd_, pos, out, n); }

    int64_t Stored(char* out, size_t n)
    {
        const size_t want = size_t(std::min<uint64_t>(n, left_));
        if (want == 0)
            return 0;
        const size_t got = PreadAll(pos_, out, want);
        if (got != want) {
            error_ = "read error";
            return -1;
        }
        pos_ += int64_t(got);
        left_ -= got;
        return int64_t(got);
    }

    int64_t Inflate(char* out, size_t n)
    {
        if (ended_)
            return 0;
        z_.next_out = reinterpret_cast<Bytef*>(out);
        z_.avail_out = uInt(std::min<size_t>(n, 1u << 30));
        while (z_.avail_out == uInt(std::min<size_t>(n, 1u << 30))) {
            if (z_.avail_in == 0 && left_ > 0) {
                const size_t want = size_t(std::min<uint64_t>(sizeof input_, left_));
                if (PreadAll(pos_, input_, want) != want) {
                    error_ = "read error";
                    return -1;
                }
                pos_ += int64_t(want);
                left_ -= want;
                z_.next_in = input_;
                z_.avail_in = uInt(want);
            }
            const int flush = left_ == 0 ? Z_FINISH : Z_NO_FLUSH;
            const int rc = inflate(&z_, flush);
            if (rc == Z_STREAM_END) {
                ended_ = true;
                break;
            }
            if (rc == Z_BUF_ERROR && z_.avail_in == 0 && left_ == 0) {
                error_ = "the compressed data ends too soon";
                return -1;
            }
            if (rc != Z_OK && rc != Z_BUF_ERROR) {
                error_ = z_.msg ? z_.msg : "invalid compressed data";
                return -1;
            }
        }
        return int64_t(std::min<size_t>(n, 1u << 30) - z_.avail_out);
    }

    int fd_;
    uint16_t method_;
    uint32_t expectedCrc_;
    uLong crc_ = crc32(0, nullptr, 0);
    int64_t pos_ = 0;
    uint64_t left_ = 0;
    z_stream z_{};
    bool inflating_ = false;
    bool ended_ = false;
    Bytef input_[1 << 15];
    std::string error_;
};

// Splits a stored name into its path components; false for names that would
// leave the target directory.
bool SafeComponents(const std::string& name, std::vector<std::string>& parts)
{
    if (name.empty() || name[0] == '/')
        return false;
    parts.clear();
    size_t start = 0;
    while (start <= name.size()) {
        size_t slash = name.find('/', start);
        if (slash == std::string::npos)
            slash = name.size();
        std::string part = name.substr(start, slash - start);
        if (part == "..")
            return false;
        if (!part.empty() && part != ".")
            parts.push_back(std::move(part));
        start = slash + 1;
    }
    return !parts.empty();
}

// The attributes of a Unix writer: file type and permission bits.
void TakeUnixAttributes(Member& m, zip_uint8_t opsys, zip_uint32_t attributes)
{
    if (opsys != ZIP_OPSYS_UNIX)
        return;
    const mode_t mode = (attributes >> 16) & 0xFFFF;
    m.symlink = S_ISLNK(mode);
    if ((mode & 07777) != 0)
        m.mode = mode & 0777;
}

class Extractor {
public:
    // archive: libzip's reading of it, or null when only the central
    // directory could be read; fd and archiveStat: the file itself.
    Extractor(const TUnzipParams& params, Reporter& reporter, zip_t* archive, int fd, const struct stat& archiveStat)
        : params_(params), reporter_(reporter), archive_(archive), fd_(fd), archiveStat_(archiveStat)
    {
    }

    // 1 when the member was extracted (or tested), 0 otherwise.
    int Process(const Member& m)
    {
        if (m.name.size() > 255)
            return Refuse(zipcentral::PrintableName(m.name.substr(0, 255)) + "...", "a name longer than 255 bytes");
        if (m.name.find('\0') != std::string::npos)
            return Refuse(zipcentral::PrintableName(m.name), "a name holding a NUL byte cannot be written on disk");
        std::vector<std::string> parts;
        if (!SafeComponents(m.name, parts))
            return Refuse(m.name, "a path outside the target directory");
        if (m.symlink)
            return Refuse(m.name, "a symbolic link");
        const bool isDir = m.name.back() == '/';
        if (isDir) {
            // Not counted as a file, but done once its folder is there (or
            // none is wanted), so that moving a folder out takes its entry.
            reporter_.FileStart(m.name, 0);
            const bool made = params_.testOnly || !params_.keepDirNames ||
                              OpenDirectories(parts, parts.size(), m.name).get() >= 0;
            reporter_.FileEnd(m.name, made, m.index);
            return 0;
        }
        if (!params_.keepDirNames)
            parts.erase(parts.begin(), parts.end() - 1);
        std::unique_ptr<MemberStream> stream = Open(m);
        if (!stream)
            return 0;
        reporter_.FileStart(m.name, int64_t(m.size));
        const int done = params_.testOnly ? Test(m, *stream) : Extract(m, parts, *stream);
        reporter_.FileEnd(m.name, done == 1, m.index);
        return done;
    }

private:
    std::unique_ptr<MemberStream> Open(const Member& m)
    {
        if (m.encrypted && (!params_.password || !*params_.password)) {
            reporter_.Message("Error - " + m.name + " is encrypted: a password is needed", kErrorGeneral);
            return nullptr;
        }
        if (!archive_) {
            if (m.encrypted || (m.method != ZIP_CM_STORE && m.method != ZIP_CM_DEFLATE)) {
                reporter_.Message("Error - " + m.name + " cannot be read: the archive is not consistent, and only "
                                  "members neither encrypted nor compressed but by deflating are read from such "
                                  "an archive", kErrorGeneral);
                return nullptr;
            }
            auto direct = std::make_unique<DirectStream>(fd_, m);
            if (!direct->Open(m)) {
                reporter_.Message("Error - cannot read " + m.name + ": " + direct->Error(), kErrorGeneral);
                return nullptr;
            }
            return direct;
        }
        // Told apart before opening: opening such a member fails and leaks
        // inside libzip 1.7.
        if (m.methodKnown && !zip_compression_method_supported(m.method, 0)) {
            reporter_.Message("Error - " + m.name + ": unsupported compression method " + std::to_string(m.method),
                              kErrorGeneral);
            return nullptr;
        }
        if (m.encrypted && !zip_encryption_method_supported(m.encryptionMethod, 0)) {
            reporter_.Message("Error - " + m.name + ": unsupported encryption method", kErrorGeneral);
            return nullptr;
        }
        zip_file_t* file = m.encrypted ? zip_fopen_index_encrypted(archive_, m.index, 0, params_.password)
                                       : zip_fopen_index(archive_, m.index, 0);
        if (!file) {
            const int code = zip_error_code_zip(zip_get_error(archive_));
            if (code == ZIP_ER_WRONGPASSWD || code == ZIP_ER_NOPASSWD)
                reporter_.Message("Error - " + m.name + " is encrypted: wrong password", kErrorGeneral);
            else
                reporter_.Message("Error - cannot read " + m.name + ": " + zip_strerror(archive_), kErrorGeneral);
            zip_error_clear(archive_);
            return nullptr;
        }
        return std::make_unique<LibzipStream>(file);
    }

    int Refuse(const std::string& name, const char* why)
    {
        reporter_.Message("Error - " + name + " refused: " + why, kErrorRefused);
        return 0;
    }

    // Reads the member to its end, handing each piece to write. The data
    // must be as long as the archive states: a deflated member may unpack
    // to more, and its checksum can be made to fit.
    template <class Write>
    std::string ReadMember(const Member& m, MemberStream& file, Write&& write)
    {
        const bool sized = m.sized;
        char buffer[1 << 16];
        uint64_t total = 0;
        int64_t got;
        while ((got = file.Read(buffer, sizeof buffer)) > 0) {
            total += uint64_t(got);
            if (sized && total > m.size)
                return "more data than its stated size of " + std::to_string(m.size) + " bytes";
            if (std::string problem = write(buffer, got); !problem.empty())
                return problem;
            if (reporter_.Cancelled())
                return "cancelled";
        }
        if (got < 0)
            return file.Error();
        if (sized && total != m.size)
            return "less data than its stated size of " + std::to_string(m.size) + " bytes";
        return {};
    }

    int Test(const Member& m, MemberStream& file)
    {
        const std::string problem = ReadMember(m, file, [](const char*, int64_t) { return std::string(); });
        if (!problem.empty()) {
            reporter_.Message("Error - " + m.name + ": " + problem, kErrorGeneral);
            return 0;
        }
        if (params_.verbose)
            reporter_.Message("  testing: " + m.name + "  OK");
        return 1;
    }

    // Opens (creating when missing) the first count components as
    // directories below the current one, never through a link.
    Fd OpenDirectories(const std::vector<std::string>& parts, size_t count, const std::string& name)
    {
        Fd dir(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        for (size_t i = 0; i < count && dir.get() >= 0; ++i) {
            if (::mkdirat(dir.get(), parts[i].c_str(), 0755) != 0 && errno != EEXIST)
                break;
            Fd next(::openat(dir.get(), parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
            dir = std::move(next);
        }
        if (dir.get() < 0)
            reporter_.Message("Error - cannot make the folder for " + name + ": " + std::strerror(errno), kErrorGeneral);
        return dir;
    }

    bool WantedByTime(int dirFd, const std::string& leaf, const Member& m)
    {
        struct stat st;
        const bool exists = ::fstatat(dirFd, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
        const bool update = params_.update != ZIPDLL_FALSE;
        const bool freshen = params_.freshen != ZIPDLL_FALSE && !update;
        if (!exists)
            return !freshen;
        if (update || freshen)
            return m.timed && m.mtime > st.st_mtime + 1;
        return params_.overwrite != ZIPDLL_FALSE;
    }

    // Writes a temporary beside the target and renames it into place only
    // once the data is complete and its checksum is right.
    // The archive being read is never replaced by one of its members (a
    // member named as the archive, extracted beside it).
    bool IsTheArchive(int dirFd, const std::string& leaf) const
    {
        struct stat st;
        return ::fstatat(dirFd, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && st.st_dev == archiveStat_.st_dev &&
               st.st_ino == archiveStat_.st_ino;
    }

    int Extract(const Member& m, const std::vector<std::string>& parts, MemberStream& file)
    {
        const int dirFd = FolderOf(parts, m.name);
        if (dirFd < 0)
            return 0;
        const std::string& leaf = parts.back();
        if (IsTheArchive(dirFd, leaf))
            return Refuse(m.name, "it would replace the archive being read");
        if (!WantedByTime(dirFd, leaf, m)) {
            if (params_.verbose)
                reporter_.Message("  skipped: " + m.name);
            return 0;
        }
        std::string temp;
        Fd out = CreateTemp(dirFd, temp);
        if (out.get() < 0) {
            reporter_.Message("Error - cannot write " + m.name + ": " + std::strerror(errno), kErrorGeneral);
            return 0;
        }
        std::string problem = Copy(m, file, out.get());
        if (problem.empty()) {
            ::fchmod(out.get(), m.mode);
            if (m.timed) {
                const timespec times[2] = {{m.mtime, 0}, {m.mtime, 0}};
                ::futimens(out.get(), times);
            }
            // The data must be on the disk before the name replaces a file
            // there, or a crash could leave neither. A new name loses
            // nothing, and syncing every one would slow large extractions.
            struct stat there;
            if (::fstatat(dirFd, leaf.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 && ::fsync(out.get()) != 0)
                problem = std::strerror(errno);
        }
        if (::close(out.release()) != 0 && problem.empty())
            problem = std::strerror(errno);
        if (problem.empty() && IsTheArchive(dirFd, leaf))
            problem = "it would replace the archive being read";
        if (!problem.empty() || ::renameat(dirFd, temp.c_str(), dirFd, leaf.c_str()) != 0) {
            const std::string why = problem.empty() ? std::strerror(errno) : problem;
            ::unlinkat(dirFd, temp.c_str(), 0);
            reporter_.Message("Error - " + m.name + ": " + why, kErrorGeneral);
            return 0;
        }
        if (params_.verbose)
            reporter_.Message("  inflating: " + m.name);
        return 1;
    }

    Fd CreateTemp(int dirFd, std::string& name)
    {
        static thread_local std::mt19937 random{std::random_device{}()};
        for (int attempt = 0; attempt < 100; ++attempt) {
            name = ".tarnel-x" + std::to_string(random() % 100000000);
            Fd fd(::openat(dirFd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
            if (fd.get() >= 0 || errno != EEXIST)
                return fd;
        }
        return Fd();
    }

    std::string Copy(const Member& m, MemberStream& file, int out)
    {
        return ReadMember(m, file, [out](const char* data, int64_t size) {
            for (int64_t done = 0; done < size;) {
                const ssize_t put = ::write(out, data + done, size_t(size - done));
                if (put < 0 && errno == EINTR)
                    continue;
                if (put <= 0)
                    return std::string(std::strerror(errno));
                done += put;
            }
            return std::string();
        });
    }

    // Members come folder by folder: the last folder opened serves the next
    // member of the same folder without walking its path again.
    int FolderOf(const std::vector<std::string>& parts, const std::string& name)
    {
        const std::vector<std::string> folder(parts.begin(), parts.end() - 1);
        if (cachedFolder_.get() < 0 || folder != cachedParts_) {
            cachedFolder_ = OpenDirectories(parts, parts.size() - 1, name);
            cachedParts_ = folder;
        }
        return cachedFolder_.get();
    }

    Fd cachedFolder_;
    std::vector<std::string> cachedParts_;
    const TUnzipParams& params_;
    Reporter& reporter_;
    zip_t* archive_;
    int fd_;
    struct stat archiveStat_;
};

Member FromLibzip(zip_t* za, zip_uint64_t index, const zip_stat_t& st)
{
    Member m;
    m.index = index;
    m.sized = st.valid & ZIP_STAT_SIZE;
    m.size = st.size;
    m.methodKnown = st.valid & ZIP_STAT_COMP_METHOD;
    m.method = st.comp_method;
    m.encrypted = (st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE;
    m.encryptionMethod = st.encryption_method;
    m.timed = st.valid & ZIP_STAT_MTIME;
    m.mtime = st.mtime;
    zip_uint8_t opsys = 0;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(za, index, 0, &opsys, &attributes) == 0)
        TakeUnixAttributes(m, opsys, attributes);
    return m;
}

Member FromCentral(zip_uint64_t index, const zipcentral::CentralRecord& r)
{
    Member m;
    m.index = index;
    m.name = r.name;
    m.sized = true;
    m.size = r.uncompressedSize;
    m.compressedSize = r.compressedSize;
    m.methodKnown = true;
    m.method = r.method;
    m.encrypted = r.flags & 1;
    m.timed = true;
    m.mtime = time_t(zipcentral::UnixTimeFromDos(r.dosTime));
    TakeUnixAttributes(m, zip_uint8_t(r.madeBy >> 8), r.externalAttributes);
    m.crc = r.crc;
    m.localHeader = r.localHeader;
    return m;
}

// Members named by their index: each selector is the decimal index of one.
bool ReadIndexes(const std::vector<std::string>& selectors, std::set<zip_uint64_t>& out, Reporter& reporter)
{
    for (const std::string& selector : selectors) {
        char* end = nullptr;
        errno = 0;
        const unsigned long long index = std::strtoull(selector.c_str(), &end, 10);
        if (selector.empty() || !std::isdigit(static_cast<unsigned char>(selector[0])) || *end || errno) {
            reporter.Message("Error - not a member index: " + selector, kErrorRefused);
            return false;
        }
        out.insert(zip_uint64_t(index));
    }
    return true;
}

int32_t Run(const TUnzipParams& params, Reporter& reporter)
{
    std::string archiveName;
    std::vector<std::string> selectors;
    if (!ReadName(params.archiveName, archiveName, reporter) ||
        !ReadSelectors(params.selectors, params.selectorCount, selectors, reporter))
        return 0;
    std::set<zip_uint64_t> indexes;
    if (params.selectByIndex && !ReadIndexes(selectors, indexes, reporter))
        return 0;
    // Only a regular file is opened: a fifo named as an archive would block.
    const int opened = tarnel::OpenRegularFile(archiveName);
    if (opened < 0) {
        reporter.Message("Error - cannot open the archive: " +
                             std::string(opened == tarnel::kNotARegularFile ? "it is not a regular file"
                                                                           : std::strerror(-opened)),
                         kErrorGeneral);
        return 0;
    }
    Fd fd(opened);
    struct stat archiveStat {};
    ::fstat(fd.get(), &archiveStat);
    const zipcentral::CentralDirectory central = zipcentral::ReadCentralDirectory(fd.get());
    int error = 0;
    const int forLibzip = ::fcntl(fd.get(), F_DUPFD_CLOEXEC, 0);
    zip_t* za = forLibzip >= 0 ? zip_fdopen(forLibzip, 0, &error) : nullptr;
    if (!za && forLibzip >= 0)
        ::close(forLibzip);
    Archive archive(za);
    if (!archive) {
        zip_error_t e;
        zip_error_init_with_code(&e, error);
        const std::string why = zip_error_strerror(&e);
        zip_error_fini(&e);
        if (!central.found) {
            reporter.Message("Error - cannot open the archive: " + why, kErrorGeneral);
            return 0;
        }
        // One bad record or unadjusted offsets need not cost every member.
        reporter.Message("The archive is not consistent (" + why + "): its members are read one by one");
    }
    // Names come from the central directory, byte for byte, when it lists
    // the members libzip does (libzip turns a NUL into a space).
    const zip_int64_t n = archive ? zip_get_num_entries(archive.get(), 0) : zip_int64_t(central.records.size());
    const bool centralNames = central.records.size() == size_t(n);
    Extractor extractor(params, reporter, archive.get(), fd.get(), archiveStat);
    const MemberSelection selection(selectors, [&](const std::string& name) {
        if (archive)
            return zip_name_locate(archive.get(), name.c_str(), ZIP_FL_ENC_RAW) >= 0;
        return std::any_of(central.records.begin(), central.records.end(),
                           [&](const zipcentral::CentralRecord& r) { return r.name == name; });
    });
    int32_t count = 0;
    for (zip_int64_t i = 0; i < n && !reporter.Cancelled(); ++i) {
        const auto index = zip_uint64_t(i);
        if (params.selectByIndex && !indexes.count(index))
            continue;
        Member m;
        if (archive) {
            zip_stat_t st;
            const char* name = zip_get_name(archive.get(), index, ZIP_FL_ENC_RAW);
            if (!name || zip_stat_index(archive.get(), index, ZIP_FL_ENC_RAW, &st) != 0)
                continue;
            m = FromLibzip(archive.get(), index, st);
            m.name = centralNames ? central.records[index].name : name;
        } else {
            m = FromCentral(index, central.records[index]);
        }
        if (params.selectByIndex || selection.Selects(m.name))
            count += extractor.Process(m);
    }
    return count;
}

} // namespace

extern "C" __attribute__((visibility("default"))) int32_t UnzDllExec(TUnzipParams* params)
{
    if (!params)
        return 0;
    Reporter reporter(params->callback, params->caller, params->handle);
    try {
        return Run(*params, reporter);
    } catch (const std::exception& e) {
        reporter.Message(std::string("Error - ") + e.what(), kErrorGeneral);
        return 0;
    }
}

extern "C" __attribute__((visibility("default"))) int32_t GetUnzDllVersion(void) { return ZIPDLL_VERSION; }
