// libzipdll.so: adds files to an archive and deletes members from it.
#include "platform/zipdll/DllSupport.h"
#include "platform/zipdll/ZipCentral.h"
#include "platform/RegularFile.h"

#include <zip.h>

#include <algorithm>
#include <deque>
#include <cstdlib>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

using namespace tarnel::zipdll;
namespace zipcentral = tarnel::zipcentral;

namespace {

struct ArchiveCloser {
    void operator()(zip_t* za) const { zip_discard(za); }
};
using Archive = std::unique_ptr<zip_t, ArchiveCloser>;

struct FileReader;

// A file queued for the archive, as it was when queued: a move deletes it
// only when it is still that file and its member is in the written archive.
struct Source {
    std::string path;
    std::string name;      // the member's name
    struct stat seen;      // the path itself (a link stays a link)
    off_t size;            // the data read (a link's target)
    bool replaced = false; // a later file of this call took the same name
    const FileReader* reader = nullptr;
};

// A queued file's data, opened only when libzip writes its member (so many
// members never hold many descriptors), and only while it is still the very
// regular file that was queued: a name swapped meanwhile for a fifo or a
// device would block or act when opened.
struct FileReader {
    std::string path;
    struct stat queued; // the data's file (a link's target)
    Reporter* reporter = nullptr;
    int fd = -1;
    zip_error_t error{};
    bool refused = false;
    bool withdrawn = false;
    zip_uint64_t index = 0;
    bool replacesMember = false; // an original member of that name comes back when withdrawn
};

void Refuse(FileReader& f, const std::string& why, int zipError, int systemError)
{
    if (!f.refused)
        f.reporter->Message("Error - " + f.path + " was left out: " + why, kErrorGeneral);
    f.refused = true;
    zip_error_set(&f.error, zipError, systemError);
}

zip_int64_t ReadQueuedFile(void* state, void* data, zip_uint64_t length, zip_source_cmd_t command)
{
    FileReader& f = *static_cast<FileReader*>(state);
    switch (command) {
    case ZIP_SOURCE_OPEN: {
        const int fd = tarnel::OpenRegularFile(f.path);
        if (fd == tarnel::kNotARegularFile) {
            Refuse(f, "it is no regular file any more", ZIP_ER_OPEN, 0);
            return -1;
        }
        if (fd < 0) {
            Refuse(f, std::strerror(-fd), ZIP_ER_OPEN, -fd);
            return -1;
        }
        struct stat now;
        if (::fstat(fd, &now) != 0 || now.st_dev != f.queued.st_dev || now.st_ino != f.queued.st_ino) {
            ::close(fd);
            Refuse(f, "another file took its place after it was queued", ZIP_ER_CHANGED, 0);
            return -1;
        }
        f.fd = fd;
        return 0;
    }
    case ZIP_SOURCE_READ: {
        const ssize_t n = ::read(f.fd, data, std::min<zip_uint64_t>(length, SSIZE_MAX));
        if (n < 0) {
            Refuse(f, std::strerror(errno), ZIP_ER_READ, errno);
            return -1;
        }
        return n;
    }
    case ZIP_SOURCE_SEEK: {
        const zip_int64_t end = ::lseek(f.fd, 0, SEEK_END);
        const zip_int64_t to = zip_source_seek_compute_offset(zip_uint64_t(::lseek(f.fd, 0, SEEK_CUR)),
                                                              zip_uint64_t(end), data, length, &f.error);
        if (to < 0 || ::lseek(f.fd, to, SEEK_SET) < 0)
            return -1;
        return 0;
    }
    case ZIP_SOURCE_TELL:
        return ::lseek(f.fd, 0, SEEK_CUR);
    case ZIP_SOURCE_CLOSE:
    case ZIP_SOURCE_FREE:
        if (f.fd >= 0)
            ::close(f.fd);
        f.fd = -1;
        return 0;
    case ZIP_SOURCE_STAT: {
        auto* st = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &f.error);
        if (!st)
            return -1;
        zip_stat_init(st);
        st->mtime = f.queued.st_mtime;
        st->valid |= ZIP_STAT_MTIME;
        return sizeof(zip_stat_t);
    }
    case ZIP_SOURCE_ERROR:
        return zip_error_to_data(&f.error, data, length);
    case ZIP_SOURCE_SUPPORTS:
        return zip_source_make_command_bitmap(ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                                              ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL,
                                              ZIP_SOURCE_SUPPORTS, -1);
    default:
        zip_error_set(&f.error, ZIP_ER_OPNOTSUPP, 0);
        return -1;
    }
}

struct AddRequest {
    const TZipParams& params;
    Reporter& reporter;
    zip_t* archive;
    const ArchiveCopy& copy;
    std::vector<Source> added;       // removed after a move
    std::vector<std::string> walked; // directories, removed after a move when empty
    std::unordered_map<std::string, size_t> byName;
    std::deque<FileReader>& readers; // outlive the archive, whose sources point at them
    zip_uint64_t originalMembers = 0;
    int count = 0;
};

std::string StoredName(const std::string& path, bool dropDirNames)
{
    std::string name = path;
    while (name.rfind("./", 0) == 0)
        name.erase(0, 2);
    name.erase(0, name.find_first_not_of('/'));
    if (dropDirNames) {
        const size_t slash = name.rfind('/');
        if (slash != std::string::npos)
            name.erase(0, slash + 1);
    }
    return name;
}

// Update: only files newer than their member or not yet held; freshen: only
// files already held and newer. DOS times have two-second steps.
bool WantedByTime(const AddRequest& r, zip_int64_t index, time_t fileTime)
{
    if (!r.params.update && !r.params.freshen)
        return true;
    if (index < 0)
        return r.params.update != ZIPDLL_FALSE;
    zip_stat_t st;
    if (zip_stat_index(r.archive, zip_uint64_t(index), 0, &st) != 0 || !(st.valid & ZIP_STAT_MTIME))
        return true;
    return fileTime > st.mtime + 1;
}

bool AddFile(AddRequest& r, const std::string& path, const struct stat& seen, const struct stat& st)
{
    const std::string name = StoredName(path, r.params.dropDirNames != ZIPDLL_FALSE);
    if (name.empty() || name.size() > 255) {
        r.reporter.Message("Error - name longer than 255 bytes refused: " + name, kErrorRefused);
        return true;
    }
    const zip_int64_t existing = zip_name_locate(r.archive, name.c_str(), ZIP_FL_ENC_RAW);
    if (!WantedByTime(r, existing, st.st_mtime))
        return true;
    FileReader& reader = r.readers.emplace_back();
    reader.path = path;
    reader.queued = st;
    reader.reporter = &r.reporter;
    zip_error_init(&reader.error);
    zip_source_t* source = zip_source_function(r.archive, ReadQueuedFile, &reader);
    if (!source) {
        r.reporter.Message("Error - cannot read " + path + ": " + zip_strerror(r.archive), kErrorGeneral);
        return true;
    }
    const zip_int64_t index = zip_file_add(r.archive, name.c_str(), source, ZIP_FL_OVERWRITE | ZIP_FL_ENC_GUESS);
    if (index < 0) {
        zip_source_free(source);
        r.reporter.Message("Error - cannot add " + path + ": " + zip_strerror(r.archive), kErrorGeneral);
        return true;
    }
    const auto i = zip_uint64_t(index);
    reader.index = i;
    reader.replacesMember = i < r.originalMembers;
    if (r.params.level <= 0)
        zip_set_file_compression(r.archive, i, ZIP_CM_STORE, 0);
    else
        zip_set_file_compression(r.archive, i, ZIP_CM_DEFLATE, zip_uint32_t(std::min(r.params.level, 9)));
    zip_file_set_mtime(r.archive, i, st.st_mtime, 0);
    zip_file_set_external_attributes(r.archive, i, 0, ZIP_OPSYS_UNIX, zip_uint32_t(st.st_mode & 0xFFFF) << 16);
    if (r.params.encrypt && r.params.password && *r.params.password &&
        zip_file_set_encryption(r.archive, i, ZIP_EM_AES_256, r.params.password) != 0)
        r.reporter.Message("Error - cannot encrypt " + name, kErrorGeneral);
    r.reporter.FileStart(name, st.st_size);
    if (r.params.verbose)
        r.reporter.Message("  adding: " + name);
    r.reporter.FileEnd();
    const auto [it, first] = r.byName.try_emplace(name, r.added.size());
    if (!first) {
        r.added[it->second].replaced = true;
        it->second = r.added.size();
    }
    r.added.push_back({path, name, seen, st.st_size, false, &reader});
    ++r.count;
    return !r.reporter.Cancelled();
}

bool AddPath(AddRequest& r, const std::string& path, bool recurse);

bool IsHidden(const char* name) { return name[0] == '.'; }

// The entries of dir that match pattern; directories are entered only when
// recursing, and links to directories never (no loops).
bool AddMatching(AddRequest& r, const std::string& dir, const std::string& pattern, bool recurse)
{
    const int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        r.reporter.Message("Error - cannot read the directory " + dir + ": " + std::strerror(errno), kErrorGeneral);
        return true;
    }
    DIR* d = ::fdopendir(fd);
    if (!d) {
        ::close(fd);
        return true;
    }
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0)
            continue;
        if (IsHidden(e->d_name) && !r.params.hiddenFiles)
            continue;
        if (WildcardMatch(pattern, e->d_name))
            names.emplace_back(e->d_name);
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names)
        if (!AddPath(r, dir.empty() ? name : dir + "/" + name, recurse))
            return false;
    return true;
}

bool AddPath(AddRequest& r, const std::string& path, bool recurse)
{
    struct stat seen;
    if (::lstat(path.c_str(), &seen) != 0) {
        r.reporter.Message("Error - file not found: " + path, kErrorGeneral);
        return true;
    }
    struct stat st = seen;
    if (S_ISLNK(seen.st_mode) && (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)))
        return true; // dangling links and links to directories are left out
    if (r.copy.Holds(st)) {
        r.reporter.Message("  skipped: " + path + " (the archive being written)", kErrorRefused);
        return true;
    }
    if (S_ISDIR(st.st_mode)) {
        if (!recurse)
            return true;
        r.walked.push_back(path);
        if (!r.params.dropDirNames && !r.params.freshen && !r.params.update) {
            const std::string name = StoredName(path, false) + "/";
            if (name.size() > 1 && name.size() <= 255 && zip_name_locate(r.archive, name.c_str(), ZIP_FL_ENC_RAW) < 0)
                zip_dir_add(r.archive, name.c_str(), ZIP_FL_ENC_GUESS);
        }
        return AddMatching(r, path, "*", recurse);
    }
    if (!S_ISREG(st.st_mode))
        return true;
    return AddFile(r, path, seen, st);
}

bool AddSelector(AddRequest& r, const std::string& selector)
{
    const bool recurse = r.params.recurse != ZIPDLL_FALSE;
    struct stat st;
    if (!HasWildcards(selector) ||
        (!IsFolderSelector(selector) && ::lstat(selector.c_str(), &st) == 0)) // a file named "a*.txt" is that file alone
        return AddPath(r, selector, recurse);
    const size_t slash = selector.rfind('/');
    const std::string dir = slash == std::string::npos ? "" : selector.substr(0, slash);
    const std::string pattern = slash == std::string::npos ? selector : selector.substr(slash + 1);
    if (!dir.empty() && recurse && !r.params.dropDirNames && !r.params.freshen && !r.params.update) {
        const std::string name = StoredName(dir, false) + "/";
        if (name.size() > 1 && name.size() <= 255 && zip_name_locate(r.archive, name.c_str(), ZIP_FL_ENC_RAW) < 0)
            zip_dir_add(r.archive, name.c_str(), ZIP_FL_ENC_GUESS);
        r.walked.push_back(dir);
    }
    return AddMatching(r, dir, pattern == "*.*" ? "*" : pattern, recurse);
}

Archive OpenArchive(const std::string& path, int flags, Reporter& reporter)
{
    int error = 0;
    zip_t* za = zip_open(path.c_str(), flags, &error);
    if (!za) {
        zip_error_t e;
        zip_error_init_with_code(&e, error);
        reporter.Message("Error - cannot open the archive: " + std::string(zip_error_strerror(&e)), kErrorGeneral);
        zip_error_fini(&e);
    }
    return Archive(za);
}

// The count includes deleted entries, which have no name any more.
bool NoMembersLeft(zip_t* archive)
{
    const zip_int64_t n = zip_get_num_entries(archive, 0);
    for (zip_int64_t i = 0; i < n; ++i)
        if (zip_get_name(archive, zip_uint64_t(i), ZIP_FL_ENC_RAW))
            return false;
    return true;
}

// Writes the changed copy and puts it in the original's place. An archive
// left with no members becomes the empty archive: closing it would remove
// the file.
// withdraw, when given, takes out members whose files were refused while
// being written, and says whether anything is left worth writing again.
bool Finish(Archive& archive, ArchiveCopy& copy, Reporter& reporter, const std::function<bool()>& withdraw = {})
{
    if (reporter.Cancelled()) {
        reporter.Message("Cancelled: the archive is unchanged", kErrorGeneral);
        return false;
    }
    bool closed = NoMembersLeft(archive.get());
    const bool empty = closed;
    while (!closed) {
        closed = zip_close(archive.get()) == 0;
        if (!closed && !(withdraw && withdraw()))
            break;
    }
    if (!empty && !closed) {
        reporter.Message("Error - cannot write the archive: " + std::string(zip_strerror(archive.get())), kErrorGeneral);
        return false;
    }
    if (empty)
        archive.reset(); // discarded: the empty archive is written instead
    else
        archive.release(); // closed
    std::string error;
    if (!copy.Commit(empty, error)) {
        reporter.Message("Error - cannot replace the archive: " + error, kErrorGeneral);
        return false;
    }
    return true;
}

// A file refused when libzip came to read it fails the whole write: its
// member is taken out (an original member of its name comes back) so the
// others can be written without it.
bool WithdrawRefused(AddRequest& r)
{
    bool withdrew = false;
    for (FileReader& f : r.readers) {
        if (!f.refused || f.withdrawn)
            continue;
        f.withdrawn = true;
        withdrew = true;
        if (f.replacesMember)
            zip_unchange(r.archive, f.index);
        else
            zip_delete(r.archive, f.index);
        --r.count;
    }
    return withdrew && r.count > 0;
}

bool Unchanged(const struct stat& before, const struct stat& now)
{
    return before.st_dev == now.st_dev && before.st_ino == now.st_ino && before.st_size == now.st_size &&
           before.st_mtim.tv_sec == now.st_mtim.tv_sec && before.st_mtim.tv_nsec == now.st_mtim.tv_nsec &&
           before.st_ctim.tv_sec == now.st_ctim.tv_sec && before.st_ctim.tv_nsec == now.st_ctim.tv_nsec;
}

// Only now that the archive holding them is complete, and only files whose
// data is there: a file that changed after it was queued (the archive may
// hold the older data), or whose member is not in the written archive, stays.
void RemoveMovedSources(const AddRequest& r, const std::string& written)
{
    int error = 0;
    Archive check(zip_open(written.c_str(), ZIP_RDONLY, &error));
    for (const Source& source : r.added) {
        zip_stat_t member;
        zip_stat_init(&member);
        const bool stored = check &&
                            zip_stat(check.get(), source.name.c_str(), ZIP_FL_ENC_RAW, &member) == 0 &&
                            (member.valid & ZIP_STAT_SIZE) && member.size == zip_uint64_t(source.size);
        struct stat now;
        if (source.reader && source.reader->refused) {
            // already reported
        } else if (source.replaced) {
            r.reporter.Message("Kept " + source.path + ": another file took its place as " + source.name,
                               kErrorGeneral);
        } else if (!stored) {
            r.reporter.Message("Kept " + source.path + ": its data is not in the archive as " + source.name,
                               kErrorGeneral);
        } else if (::lstat(source.path.c_str(), &now) != 0 || !Unchanged(source.seen, now)) {
            r.reporter.Message("Kept " + source.path + ": it changed while it was being added", kErrorGeneral);
        } else if (::unlink(source.path.c_str()) != 0) {
            r.reporter.Message("Error - cannot delete " + source.path + ": " + std::strerror(errno), kErrorGeneral);
        }
    }
    for (auto it = r.walked.rbegin(); it != r.walked.rend(); ++it)
        ::rmdir(it->c_str()); // only when emptied
}

// libzip writes the archive anew from what it read: bytes before the first
// member (a self-extractor) are dropped, and a NUL in a name becomes a space.
// Such an archive is left as it is, with a message, rather than changed so.
// Sets records to the central directory's member count.
bool SafeToRewrite(const std::string& path, Reporter& reporter, size_t& records)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return true; // a new archive
    const zipcentral::CentralDirectory central = zipcentral::ReadCentralDirectory(fd);
    ::close(fd);
    records = central.records.size();
    if (!central.records.empty() && central.FirstLocalHeader() > 0) {
        reporter.Message("Error - the archive starts with " + std::to_string(central.FirstLocalHeader()) +
                             " bytes that are not part of it (a self-extractor?); changing the archive would drop "
                             "them, so it was left unchanged",
                         kErrorRefused);
        return false;
    }
    for (const zipcentral::CentralRecord& r : central.records) {
        if (r.name.find('\0') != std::string::npos) {
            reporter.Message("Error - the member " + zipcentral::PrintableName(r.name) +
                                 " has a name holding a NUL byte, which changing the archive would rewrite; "
                                 "it was left unchanged",
                             kErrorRefused);
            return false;
        }
    }
    return true;
}

int32_t Delete(const TZipParams& params, const std::string& archiveName, const std::vector<std::string>& selectors,
               Reporter& reporter)
{
    ArchiveCopy copy;
    std::string error;
    if (!copy.Begin(archiveName, error)) {
        reporter.Message("Error - cannot copy the archive: " + error, kErrorGeneral);
        return 0;
    }
    size_t records = 0;
    if (!SafeToRewrite(copy.TempPath(), reporter, records))
        return 0;
    Archive archive = OpenArchive(copy.TempPath(), 0, reporter);
    if (!archive)
        return 0;
    int32_t count = 0;
    const MemberSelection selection(selectors, [&](const std::string& name) {
        return zip_name_locate(archive.get(), name.c_str(), ZIP_FL_ENC_RAW) >= 0;
    });
    std::set<zip_uint64_t> indexes;
    const zip_int64_t n = zip_get_num_entries(archive.get(), 0);
    if (params.selectByIndex) {
        // An index names the central directory's record: libzip's must be the same list.
        if (size_t(n) != records) {
            reporter.Message("Error - the archive's directory cannot be read as listed; nothing was deleted",
                             kErrorGeneral);
            return 0;
        }
        for (const std::string& selector : selectors) {
            char* end = nullptr;
            const unsigned long long index = std::strtoull(selector.c_str(), &end, 10);
            if (selector.empty() || selector[0] < '0' || selector[0] > '9' || *end || index >= uint64_t(n)) {
                reporter.Message("Error - not a member index: " + selector + "; nothing was deleted", kErrorRefused);
                return 0;
            }
            indexes.insert(index);
        }
    }
    for (zip_int64_t i = 0; i < n && !reporter.Cancelled(); ++i) {
        const char* name = zip_get_name(archive.get(), zip_uint64_t(i), ZIP_FL_ENC_RAW);
        if (!name || selectors.empty())
            continue;
        if (params.selectByIndex ? !indexes.count(zip_uint64_t(i)) : !selection.Selects(name))
            continue;
        if (params.verbose)
            reporter.Message(std::string("  deleting: ") + name);
        zip_delete(archive.get(), zip_uint64_t(i));
        ++count;
    }
    if (count == 0)
        return 0;
    return Finish(archive, copy, reporter) ? count : 0;
}

int32_t Add(const TZipParams& params, const std::string& archiveName, const std::vector<std::string>& selectors,
            Reporter& reporter)
{
    ArchiveCopy copy;
    std::string error;
    if (!copy.Begin(archiveName, error)) {
        reporter.Message("Error - cannot copy the archive: " + error, kErrorGeneral);
        return 0;
    }
    size_t records = 0;
    if (!SafeToRewrite(copy.TempPath(), reporter, records))
        return 0;
    std::deque<FileReader> readers;
    Archive archive = OpenArchive(copy.TempPath(), ZIP_CREATE, reporter);
    if (!archive)
        return 0;
    const auto entries = zip_get_num_entries(archive.get(), 0);
    AddRequest request{params, reporter, archive.get(), copy, {}, {}, {}, readers, zip_uint64_t(std::max<zip_int64_t>(entries, 0)), 0};
    for (const std::string& selector : selectors)
        if (!AddSelector(request, selector))
            break;
    if (request.count == 0)
        return 0;
    const std::string written = copy.RealPath();
    if (!Finish(archive, copy, reporter, [&] { return WithdrawRefused(request); }))
        return 0;
    if (params.move)
        RemoveMovedSources(request, written);
    return request.count;
}

} // namespace

extern "C" __attribute__((visibility("default"))) int32_t ZipDllExec(TZipParams* params)
{
    if (!params)
        return 0;
    Reporter reporter(params->callback, params->caller, params->handle);
    try {
        std::string archiveName;
        std::vector<std::string> selectors;
        if (!ReadName(params->archiveName, archiveName, reporter) ||
            !ReadSelectors(params->selectors, params->selectorCount, selectors, reporter))
            return 0;
        if (params->deleteEntries)
            return Delete(*params, archiveName, selectors, reporter);
        return Add(*params, archiveName, selectors, reporter);
    } catch (const std::exception& e) {
        reporter.Message(std::string("Error - ") + e.what(), kErrorGeneral);
        return 0;
    }
}

extern "C" __attribute__((visibility("default"))) int32_t GetZipDllVersion(void) { return ZIPDLL_VERSION; }
