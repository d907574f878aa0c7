// libunzdll.so: extracts and tests members of an archive. Members land
// below the current directory only: names that are absolute, climb out with
// "..", or are symbolic links are refused, and every directory on the way is
// opened without following links.
#include "platform/zipdll/DllSupport.h"

#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarnel::zipdll;

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
    void reset()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
};

struct Member {
    zip_uint64_t index;
    std::string name;
    zip_stat_t stat;
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

bool IsSymlinkMember(zip_t* za, zip_uint64_t index)
{
    zip_uint8_t opsys = 0;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(za, index, 0, &opsys, &attributes) != 0)
        return false;
    return opsys == ZIP_OPSYS_UNIX && S_ISLNK((attributes >> 16) & 0xFFFF);
}

mode_t MemberMode(zip_t* za, zip_uint64_t index)
{
    zip_uint8_t opsys = 0;
    zip_uint32_t attributes = 0;
    if (zip_file_get_external_attributes(za, index, 0, &opsys, &attributes) == 0 && opsys == ZIP_OPSYS_UNIX) {
        const mode_t mode = (attributes >> 16) & 07777;
        if (mode != 0)
            return mode & 0777;
    }
    return 0644;
}

class Extractor {
public:
    Extractor(const TUnzipParams& params, Reporter& reporter, zip_t* archive)
        : params_(params), reporter_(reporter), archive_(archive)
    {
    }

    // 1 when the member was extracted (or tested), 0 otherwise.
    int Process(const Member& m)
    {
        if (m.name.size() > 255)
            return Refuse(m.name.substr(0, 255) + "...", "a name longer than 255 bytes");
        std::vector<std::string> parts;
        if (!SafeComponents(m.name, parts))
            return Refuse(m.name, "a path outside the target directory");
        if (IsSymlinkMember(archive_, m.index))
            return Refuse(m.name, "a symbolic link");
        const bool isDir = m.name.back() == '/';
        if (isDir) {
            // Not counted as a file, but done once its folder is there (or
            // none is wanted), so that moving a folder out takes its entry.
            reporter_.FileStart(m.name, 0);
            const bool made = params_.testOnly || !params_.keepDirNames ||
                              OpenDirectories(parts, parts.size(), m.name).get() >= 0;
            reporter_.FileEnd(m.name, made);
            return 0;
        }
        if (!params_.keepDirNames)
            parts.erase(parts.begin(), parts.end() - 1);
        const bool encrypted = (m.stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && m.stat.encryption_method != ZIP_EM_NONE;
        if (encrypted && (!params_.password || !*params_.password)) {
            reporter_.Message("Error - " + m.name + " is encrypted: a password is needed", kErrorGeneral);
            return 0;
        }
        // Told apart before opening: opening such a member fails and leaks
        // inside libzip 1.7.
        if ((m.stat.valid & ZIP_STAT_COMP_METHOD) && !zip_compression_method_supported(m.stat.comp_method, 0)) {
            reporter_.Message("Error - " + m.name + ": unsupported compression method " +
                                  std::to_string(m.stat.comp_method), kErrorGeneral);
            return 0;
        }
        if (encrypted && !zip_encryption_method_supported(m.stat.encryption_method, 0)) {
            reporter_.Message("Error - " + m.name + ": unsupported encryption method", kErrorGeneral);
            return 0;
        }
        MemberFile file(encrypted ? zip_fopen_index_encrypted(archive_, m.index, 0, params_.password)
                                  : zip_fopen_index(archive_, m.index, 0));
        if (!file) {
            const int code = zip_error_code_zip(zip_get_error(archive_));
            if (code == ZIP_ER_WRONGPASSWD || code == ZIP_ER_NOPASSWD)
                reporter_.Message("Error - " + m.name + " is encrypted: wrong password", kErrorGeneral);
            else
                reporter_.Message("Error - cannot read " + m.name + ": " + zip_strerror(archive_), kErrorGeneral);
            zip_error_clear(archive_);
            return 0;
        }
        reporter_.FileStart(m.name, int64_t(m.stat.size));
        const int done = params_.testOnly ? Test(m, file.get()) : Extract(m, parts, file.get());
        reporter_.FileEnd(m.name, done == 1);
        return done;
    }

private:
    int Refuse(const std::string& name, const char* why)
    {
        reporter_.Message("Error - " + name + " refused: " + why, kErrorRefused);
        return 0;
    }

    // Reads the member to its end, handing each piece to write. The data
    // must be as long as the archive states: a deflated member may unpack
    // to more, and its checksum can be made to fit.
    template <class Write>
    std::string ReadMember(const Member& m, zip_file_t* file, Write&& write)
    {
        const bool sized = m.stat.valid & ZIP_STAT_SIZE;
        char buffer[1 << 16];
        zip_uint64_t total = 0;
        zip_int64_t got;
        while ((got = zip_fread(file, buffer, sizeof buffer)) > 0) {
            total += zip_uint64_t(got);
            if (sized && total > m.stat.size)
                return "more data than its stated size of " + std::to_string(m.stat.size) + " bytes";
            if (std::string problem = write(buffer, got); !problem.empty())
                return problem;
            if (reporter_.Cancelled())
                return "cancelled";
        }
        if (got < 0)
            return zip_file_strerror(file);
        if (sized && total != m.stat.size)
            return "less data than its stated size of " + std::to_string(m.stat.size) + " bytes";
        return {};
    }

    int Test(const Member& m, zip_file_t* file)
    {
        const std::string problem = ReadMember(m, file, [](const char*, zip_int64_t) { return std::string(); });
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
            return (m.stat.valid & ZIP_STAT_MTIME) && m.stat.mtime > st.st_mtime + 1;
        return params_.overwrite != ZIPDLL_FALSE;
    }

    // Writes a temporary beside the target and renames it into place only
    // once the data is complete and its checksum is right.
    int Extract(const Member& m, const std::vector<std::string>& parts, zip_file_t* file)
    {
        const int dirFd = FolderOf(parts, m.name);
        if (dirFd < 0)
            return 0;
        const std::string& leaf = parts.back();
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
        const std::string problem = Copy(m, file, out.get());
        if (problem.empty()) {
            ::fchmod(out.get(), MemberMode(archive_, m.index));
            if (m.stat.valid & ZIP_STAT_MTIME) {
                const timespec times[2] = {{m.stat.mtime, 0}, {m.stat.mtime, 0}};
                ::futimens(out.get(), times);
            }
        }
        out.reset();
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

    std::string Copy(const Member& m, zip_file_t* file, int out)
    {
        return ReadMember(m, file, [out](const char* data, zip_int64_t size) {
            for (zip_int64_t done = 0; done < size;) {
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
};

int32_t Run(const TUnzipParams& params, Reporter& reporter)
{
    std::string archiveName;
    std::vector<std::string> selectors;
    if (!ReadName(params.archiveName, archiveName, reporter) ||
        !ReadSelectors(params.selectors, params.selectorCount, selectors, reporter))
        return 0;
    int error = 0;
    Archive archive(zip_open(archiveName.c_str(), ZIP_RDONLY, &error));
    if (!archive) {
        zip_error_t e;
        zip_error_init_with_code(&e, error);
        reporter.Message("Error - cannot open the archive: " + std::string(zip_error_strerror(&e)), kErrorGeneral);
        zip_error_fini(&e);
        return 0;
    }
    Extractor extractor(params, reporter, archive.get());
    const MemberSelection selection(selectors, [&](const std::string& name) {
        return zip_name_locate(archive.get(), name.c_str(), ZIP_FL_ENC_RAW) >= 0;
    });
    int32_t count = 0;
    const zip_int64_t n = zip_get_num_entries(archive.get(), 0);
    for (zip_int64_t i = 0; i < n && !reporter.Cancelled(); ++i) {
        Member m{zip_uint64_t(i), {}, {}};
        const char* name = zip_get_name(archive.get(), m.index, ZIP_FL_ENC_RAW);
        if (!name || zip_stat_index(archive.get(), m.index, ZIP_FL_ENC_RAW, &m.stat) != 0)
            continue;
        m.name = name;
        if (selection.Selects(m.name))
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
