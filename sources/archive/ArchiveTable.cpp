#include "sources/archive/ArchiveTable.h"

#include "platform/RegularFile.h"
#include "sources/archive/ArchiveNames.h"
#include "sources/archive/ArchiveRewrite.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnel {

namespace {

constexpr size_t kReadBlock = 128 * 1024;
// A damaged archive may make the reader ask to retry forever.
constexpr int kMaxRetries = 64;

la_ssize_t ReadBlock(struct archive* a, void* data, const void** out)
{
    auto* reader = static_cast<ArchiveReader*>(data);
    for (;;) {
        const ssize_t got = ::read(reader->fd_, reader->buffer_.data(), reader->buffer_.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            archive_set_error(a, errno, "%s", std::strerror(errno));
            return -1;
        }
        *out = reader->buffer_.data();
        return got;
    }
}

la_int64_t SeekTo(struct archive*, void* data, la_int64_t offset, int whence)
{
    const off_t at = ::lseek(static_cast<ArchiveReader*>(data)->fd_, off_t(offset), whence);
    return at < 0 ? ARCHIVE_FATAL : la_int64_t(at);
}

la_int64_t SkipOver(struct archive*, void* data, la_int64_t request)
{
    const int fd = static_cast<ArchiveReader*>(data)->fd_;
    const off_t here = ::lseek(fd, 0, SEEK_CUR);
    struct stat st;
    if (here < 0 || ::fstat(fd, &st) != 0)
        return 0;
    // Never past the end: the reader then reads and finds the file short.
    const la_int64_t step = std::min<la_int64_t>(request, std::max<la_int64_t>(0, st.st_size - here));
    return ::lseek(fd, off_t(step), SEEK_CUR) < 0 ? 0 : step;
}

// "./a//b/" -> "a/b"; unsafe when absolute or holding "..".
std::string PlainName(const std::string& stored, bool& unsafe)
{
    unsafe = !stored.empty() && stored[0] == '/';
    std::string plain;
    size_t start = 0;
    while (start <= stored.size()) {
        const size_t slash = std::min(stored.find('/', start), stored.size());
        const std::string_view part(stored.data() + start, slash - start);
        if (part == "..")
            unsafe = true;
        if (!part.empty() && part != ".") {
            if (!plain.empty())
                plain += '/';
            plain.append(part);
        }
        start = slash + 1;
    }
    if (plain.empty())
        unsafe = true; // no name at all: nothing a row could show
    return plain;
}

// The name as stored where the format stores bytes (tar, cpio, ar): no
// conversion per member. Formats that store UTF-16 give it converted, and
// where the locale cannot hold it, as UTF-8.
std::string BytesOrUtf8(const char* bytes, const char* utf8) { return bytes ? bytes : (utf8 ? utf8 : ""); }

std::string BaseName(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The folder index: every member's parents exist, with sizes summed.
void IndexFolders(ArchiveTable& table)
{
    table.folders.clear();
    table.byPath.clear();
    table.byPath.reserve(table.members.size());
    table.folders[""];
    // Members come folder by folder: the last one's folder is walked once.
    std::string lastParent;
    for (size_t i = 0; i < table.members.size(); ++i) {
        const ArchiveMember& m = table.members[i];
        if (m.unsafe)
            continue;
        const auto [seen, first] = table.byPath.try_emplace(m.path, i);
        const size_t earlier = seen->second;
        seen->second = i;
        const size_t leafAt = m.path.rfind('/') + 1; // npos + 1 is 0
        const bool sameFolder = !lastParent.empty() && leafAt == lastParent.size() &&
                                m.path.compare(0, leafAt, lastParent) == 0;
        std::string parent = sameFolder ? lastParent : std::string();
        size_t start = sameFolder ? leafAt : 0;
        for (size_t slash = m.path.find('/', start); slash != std::string::npos; slash = m.path.find('/', start)) {
            const std::string name = m.path.substr(start, slash - start);
            ArchiveFolder& above = table.folders[parent];
            parent = m.path.substr(0, slash + 1);
            auto [it, made] = table.folders.try_emplace(parent);
            if (made) {
                above.folders.push_back(name);
                it->second.mtime = m.mtime;
            }
            start = slash + 1;
        }
        lastParent = parent;
        if (m.type == ArchiveMember::Type::Folder) {
            auto [it, made] = table.folders.try_emplace(m.path + "/");
            if (made)
                table.folders[parent].folders.push_back(m.path.substr(start));
            it->second.mtime = m.mtime;
            it->second.ownEntry = true;
            continue;
        }
        ArchiveFolder& here = table.folders[parent];
        // A name stored twice (an appended tar) is listed once, as its last copy.
        bool replaced = false;
        if (!first && table.members[earlier].type != ArchiveMember::Type::Folder)
            for (size_t& f : here.files)
                if (f == earlier) {
                    f = i;
                    replaced = true;
                }
        if (!replaced)
            here.files.push_back(i);
    }
    // Summed sizes: each file counts in its folder, then every folder in
    // the one above it, the deepest first.
    for (const auto& [path, index] : table.byPath) {
        const ArchiveMember& m = table.members[index];
        if (m.type == ArchiveMember::Type::Folder || !m.sizeKnown)
            continue;
        const size_t slash = path.rfind('/');
        table.folders[slash == std::string::npos ? std::string() : path.substr(0, slash + 1)].size += m.size;
    }
    std::vector<std::pair<size_t, const std::string*>> byDepth;
    for (const auto& [path, folder] : table.folders)
        if (!path.empty())
            byDepth.emplace_back(size_t(std::count(path.begin(), path.end(), '/')), &path);
    std::sort(byDepth.begin(), byDepth.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
    for (const auto& [depth, path] : byDepth) {
        const size_t slash = path->rfind('/', path->size() - 2);
        const std::string parent = slash == std::string::npos ? std::string() : path->substr(0, slash + 1);
        table.folders[parent].size += table.folders[*path].size;
    }
}

// A lone compressed file has no stated size: it is learnt by reading it,
// stopping at the compression-bomb limit.
void MeasureSingleMember(struct archive* a, ArchiveMember& m, int64_t archiveSize, std::string& problem,
                         const CancelToken& cancel)
{
    const int64_t limit = std::max<int64_t>(archiveSize, 1) * 100;
    int64_t total = 0;
    const void* block;
    size_t length;
    la_int64_t offset;
    for (;;) {
        if (cancel.Cancelled())
            return;
        const int r = archive_read_data_block(a, &block, &length, &offset);
        if (r == ARCHIVE_EOF)
            break;
        if (r < ARCHIVE_WARN) {
            problem = archive_error_string(a) ? archive_error_string(a) : "The compressed data is damaged";
            break;
        }
        total = std::max<int64_t>(total, offset + int64_t(length));
        if (total > limit) {
            problem = "The compressed file unpacks to more than 100 times its own size; it was not measured further";
            break;
        }
    }
    m.size = total;
    m.sizeKnown = true;
}

} // namespace

const ArchiveMember* ArchiveTable::ByOrdinal(int64_t ordinal) const
{
    if (ordinal < 0 || size_t(ordinal) >= members.size())
        return nullptr;
    return &members[size_t(ordinal)];
}

const ArchiveMember* ArchiveTable::ByPath(const std::string& path) const
{
    const auto it = byPath.find(path);
    return it == byPath.end() ? nullptr : &members[it->second];
}

ArchiveReader::ArchiveReader(int fd, bool allowSingleFile)
    : fd_(fd), buffer_(kReadBlock), allowSingleFile_(allowSingleFile), a_(archive_read_new())
{
    // The filters built into the library only: one that would start an
    // external program says so by a warning and is left out.
    using Enable = int (*)(struct archive*);
    for (Enable filter : {archive_read_support_filter_gzip, archive_read_support_filter_bzip2,
                          archive_read_support_filter_xz, archive_read_support_filter_lzma,
                          archive_read_support_filter_zstd, archive_read_support_filter_lz4,
                          archive_read_support_filter_lzip, archive_read_support_filter_compress,
                          archive_read_support_filter_rpm})
        filter(a_);
    for (Enable format : {archive_read_support_format_tar, archive_read_support_format_cpio,
                          archive_read_support_format_ar, archive_read_support_format_7zip,
                          archive_read_support_format_rar, archive_read_support_format_rar5,
                          archive_read_support_format_iso9660, archive_read_support_format_xar,
                          archive_read_support_format_cab, archive_read_support_format_lha})
        format(a_);
    if (allowSingleFile_)
        archive_read_support_format_raw(a_);
}

ArchiveReader::~ArchiveReader() { archive_read_free(a_); }

bool ArchiveReader::Open()
{
    archive_read_set_callback_data(a_, this);
    archive_read_set_read_callback(a_, ReadBlock);
    archive_read_set_seek_callback(a_, SeekTo);
    archive_read_set_skip_callback(a_, SkipOver);
    return archive_read_open1(a_) == ARCHIVE_OK;
}

std::string ArchiveReader::Error() const
{
    const char* text = archive_error_string(a_);
    return text ? text : "The archive cannot be read";
}

bool ArchiveReader::SingleFile() const { return archive_format(a_) == ARCHIVE_FORMAT_RAW; }

bool ArchiveReader::Unrecognised() const
{
    return SingleFile() && (archive_filter_count(a_) <= 1 || archive_filter_code(a_, 0) == ARCHIVE_FILTER_NONE);
}

ArchiveContent DetectArchiveContent(int fd)
{
    unsigned char head[4] = {};
    if (::pread(fd, head, sizeof head, 0) == ssize_t(sizeof head) && head[0] == 'P' && head[1] == 'K' &&
        ((head[2] == 3 && head[3] == 4) || (head[2] == 5 && head[3] == 6) || (head[2] == 7 && head[3] == 8)))
        return ArchiveContent::Zip;
    if (::lseek(fd, 0, SEEK_SET) != 0)
        return ArchiveContent::None;
    ArchiveReader reader(fd);
    struct archive_entry* entry;
    if (!reader.Open() || archive_read_next_header(reader.Handle(), &entry) < ARCHIVE_WARN ||
        reader.Unrecognised())
        return ArchiveContent::None;
    return ArchiveContent::Archive;
}

ArchiveContent DetectArchiveContent(const std::string& path)
{
    const int fd = OpenRegularFileForReading(path);
    if (fd < 0)
        return ArchiveContent::None;
    const ArchiveContent kind = DetectArchiveContent(fd);
    ::close(fd);
    return kind;
}

namespace {

std::shared_ptr<ArchiveTable> ReadTableFrom(int fd, const std::string& fileName, int64_t fileSize,
                                            const CancelToken& cancel, const std::function<void(int)>& progress)
{
    auto table = std::make_shared<ArchiveTable>();
    table->archiveSize = fileSize;
    ArchiveReader reader(fd);
    if (!reader.Open()) {
        table->problem = reader.Error();
        IndexFolders(*table);
        return table;
    }
    struct archive* a = reader.Handle();
    int shown = -1;
    int retries = 0;
    size_t encrypted = 0;
    for (int64_t ordinal = 0;; ++ordinal) {
        if (cancel.Cancelled())
            return nullptr;
        struct archive_entry* entry;
        const int r = archive_read_next_header(a, &entry);
        if (r == ARCHIVE_EOF)
            break;
        if (r == ARCHIVE_RETRY && ++retries < kMaxRetries) {
            --ordinal;
            continue;
        }
        if (r < ARCHIVE_WARN) {
            table->problem = reader.Error();
            break;
        }
        if (ordinal == 0 && reader.Unrecognised()) {
            table->problem = "This file is no archive that can be read";
            break;
        }
        ArchiveMember& m = table->members.emplace_back();
        m.ordinal = ordinal;
        const std::string stored = BytesOrUtf8(archive_entry_pathname(entry), archive_entry_pathname_utf8(entry));
        table->singleFile = reader.SingleFile();
        if (table->singleFile) {
            m.path = SingleMemberName(BaseName(fileName));
            m.unsafe = m.path.empty() || m.path == "." || m.path == "..";
        } else {
            m.path = PlainName(stored, m.unsafe);
        }
        switch (archive_entry_filetype(entry)) {
        case AE_IFDIR:
            m.type = ArchiveMember::Type::Folder;
            break;
        case AE_IFLNK:
            m.type = ArchiveMember::Type::Symlink;
            break;
        case AE_IFREG:
        case 0:
            m.type = ArchiveMember::Type::File;
            break;
        default:
            m.type = ArchiveMember::Type::Other; // devices, fifos: listed, never made
        }
        if (!stored.empty() && stored.back() == '/')
            m.type = ArchiveMember::Type::Folder;
        m.top = m.path.empty() && m.type == ArchiveMember::Type::Folder;
        if (const char* link = archive_entry_hardlink(entry); link || archive_entry_hardlink_utf8(entry)) {
            bool unsafeLink = false;
            m.hardLink = PlainName(BytesOrUtf8(link, archive_entry_hardlink_utf8(entry)), unsafeLink);
            if (unsafeLink)
                m.hardLink.clear(), m.unsafe = true;
            m.type = ArchiveMember::Type::File;
        }
        if (m.type == ArchiveMember::Type::Symlink)
            m.linkTarget = BytesOrUtf8(archive_entry_symlink(entry), archive_entry_symlink_utf8(entry));
        m.sizeKnown = archive_entry_size_is_set(entry) != 0;
        m.size = m.sizeKnown ? int64_t(archive_entry_size(entry)) : 0;
        m.mtime = archive_entry_mtime_is_set(entry) ? int64_t(archive_entry_mtime(entry)) : 0;
        m.mode = uint32_t(archive_entry_perm(entry));
        m.encrypted = archive_entry_is_encrypted(entry) != 0;
        encrypted += m.encrypted ? 1 : 0;
        if (table->singleFile && !m.sizeKnown)
            MeasureSingleMember(a, m, fileSize, table->problem, cancel);
        if (progress && fileSize > 0) {
            const int64_t at = archive_filter_bytes(a, -1);
            const int percent = int(std::min<int64_t>(100, at * 100 / fileSize));
            if (percent != shown)
                progress(shown = percent);
        }
    }
    table->format = archive_format(a);
    table->writable = !table->singleFile && WritableKindOf(a).has_value();
    if (const char* name = archive_format_name(a))
        table->formatName = name;
    IndexFolders(*table);
    // A hard link shows the size of the file it shares.
    bool linked = false;
    for (ArchiveMember& m : table->members)
        if (!m.hardLink.empty() && m.size == 0)
            if (const ArchiveMember* other = table->ByPath(m.hardLink); other && other->hardLink.empty()) {
                m.size = other->size;
                linked = true;
            }
    if (encrypted > 0) {
        const std::string said = std::to_string(encrypted) + " member(s) are encrypted and cannot be read";
        table->problem = table->problem.empty() ? said : table->problem + "; " + said;
    }
    if (linked)
        IndexFolders(*table);
    return table;
}

} // namespace

std::shared_ptr<const ArchiveTable> ReadArchiveTable(const std::string& path, const CancelToken& cancel,
                                                     const std::function<void(int)>& progress)
{
    const int fd = OpenRegularFileForReading(path);
    if (fd < 0) {
        auto table = std::make_shared<ArchiveTable>();
        table->problem = "The archive " + path + " cannot be opened";
        IndexFolders(*table);
        return table;
    }
    struct stat st {};
    ::fstat(fd, &st);
    std::shared_ptr<ArchiveTable> table = ReadTableFrom(fd, path, int64_t(st.st_size), cancel, progress);
    ::close(fd);
    return table;
}

std::shared_ptr<const ArchiveTable> ArchiveTableCache::Get(const std::string& path, const CancelToken& cancel,
                                                           const std::function<void(int)>& progress)
{
    const int fd = OpenRegularFileForReading(path);
    if (fd < 0)
        return ReadArchiveTable(path, cancel, progress); // says why it cannot be read
    struct stat st {};
    ::fstat(fd, &st);
    const Key key{uint64_t(st.st_dev), uint64_t(st.st_ino), int64_t(st.st_size),
                  int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
    {
        std::lock_guard lock(mutex_);
        for (auto it = kept_.begin(); it != kept_.end(); ++it)
            if (it->first == key) {
                std::rotate(kept_.begin(), it, it + 1);
                ::close(fd);
                return kept_.front().second;
            }
    }
    std::shared_ptr<const ArchiveTable> table = ReadTableFrom(fd, path, int64_t(st.st_size), cancel, progress);
    ::close(fd);
    if (!table)
        return nullptr;
    constexpr size_t kKept = 4;
    std::lock_guard lock(mutex_);
    ++reads_;
    kept_.insert(kept_.begin(), {key, table});
    if (kept_.size() > kKept)
        kept_.pop_back();
    return table;
}

int ArchiveTableCache::Reads() const
{
    std::lock_guard lock(mutex_);
    return reads_;
}

} // namespace tarnel
