// libunrar.so: RAR 4 and RAR 5 archives read through libarchive, offered with
// the classic open / read header / process file calling sequence.
#include "platform/unrar/unrar.h"

#include "platform/unrar/ExtractPath.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <fcntl.h>
#include <new>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#define RAR_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct RarHandle {
    archive* reader = nullptr;
    int fd = -1;
    archive_entry* entry = nullptr; // the header last read, not yet processed
    std::string archiveName;
    // libarchive leaves the data checksums of RAR 4 stored members unchecked:
    // the file headers' CRCs in archive order, and the index of the next one.
    std::vector<uint32_t> fileCrcs;
    size_t entryIndex = 0;
    bool haveCrc = false;
    uint32_t expectedCrc = 0;
};

class Crc32 {
public:
    void Add(const void* data, size_t size)
    {
        static const auto table = [] {
            std::array<uint32_t, 256> t{};
            for (uint32_t i = 0; i < 256; ++i) {
                uint32_t c = i;
                for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
                t[i] = c;
            }
            return t;
        }();
        const auto* p = static_cast<const uint8_t*>(data);
        for (size_t i = 0; i < size; ++i) crc_ = table[(crc_ ^ p[i]) & 0xFF] ^ (crc_ >> 8);
    }
    uint32_t Value() const { return ~crc_; }

private:
    uint32_t crc_ = 0xFFFFFFFFu;
};

uint32_t Le16(const uint8_t* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8; }
uint32_t Le32(const uint8_t* p) { return Le16(p) | Le16(p + 2) << 16; }

constexpr uint8_t kRar4Marker[7] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
// A self-extractor's program comes first; its archive starts within this.
constexpr size_t kMarkerSearch = size_t(1) << 20;
// Bounds the scan of a file that is one long run of tiny blocks; an archive
// with more members than this is judged bad.
constexpr size_t kMaxBlocks = size_t(1) << 26;

bool ReadAt(int fd, void* buffer, size_t size, uint64_t at)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pread(fd, static_cast<char*>(buffer) + done, size - done, off_t(at + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

// True when a RAR 4 archive header with a matching CRC starts at "at".
bool ArchiveHeaderAt(int fd, uint64_t at)
{
    uint8_t block[7];
    if (!ReadAt(fd, block, sizeof block, at) || block[2] != 0x73) return false;
    const size_t size = Le16(block + 5);
    if (size < 7) return false;
    std::vector<uint8_t> header(size);
    if (!ReadAt(fd, header.data(), size, at)) return false;
    Crc32 crc;
    crc.Add(header.data() + 2, size - 2);
    return (crc.Value() & 0xFFFF) == Le16(block);
}

// Where the RAR 4 blocks begin: the first marker in the first megabyte that
// a sound archive header follows (a self-extractor's program may hold the
// marker's bytes too, but hardly many times over).
bool FindRar4Start(int fd, uint64_t& start)
{
    uint8_t first[sizeof kRar4Marker];
    if (ReadAt(fd, first, sizeof first, 0)) {
        if (std::memcmp(first, kRar4Marker, sizeof first) == 0 && ArchiveHeaderAt(fd, sizeof kRar4Marker)) {
            start = 0; // the usual case: no program before the archive
            return true;
        }
        if (std::memcmp(first, "Rar!\x1A\x07\x01", sizeof first) == 0) return false; // RAR 5
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_size < off_t(sizeof kRar4Marker)) return false;
    const size_t length = size_t(std::min<uint64_t>(uint64_t(st.st_size), kMarkerSearch + sizeof kRar4Marker));
    std::unique_ptr<uint8_t[]> head(new (std::nothrow) uint8_t[length]);
    if (!head) return false;
    ssize_t got = 0;
    do got = ::pread(fd, head.get(), length, 0);
    while (got < 0 && errno == EINTR);
    if (got < ssize_t(sizeof kRar4Marker)) return false;
    const uint8_t* const begin = head.get();
    const uint8_t* const end = begin + got;
    int candidates = 0;
    for (const uint8_t* p = begin; p < end && candidates < 16; ++p) {
        p = static_cast<const uint8_t*>(memmem(p, size_t(end - p), kRar4Marker, sizeof kRar4Marker));
        if (!p) return false;
        const uint64_t header = uint64_t(p - begin) + sizeof kRar4Marker;
        if (header + 3 <= uint64_t(got) && begin[header + 2] != 0x73) continue;
        ++candidates;
        if (ArchiveHeaderAt(fd, header)) {
            start = uint64_t(p - begin);
            return true;
        }
    }
    return false;
}

// Reads small pieces at increasing offsets through one buffer: an archive of
// many small members costs a read per buffer, not one per block.
class BlockReader {
public:
    explicit BlockReader(int fd) : fd_(fd), buffer_(64 * 1024) {}
    bool Read(uint64_t at, void* out, size_t size)
    {
        if (at < start_ || at + size > start_ + filled_) {
            ssize_t got;
            do got = ::pread(fd_, buffer_.data(), buffer_.size(), off_t(at));
            while (got < 0 && errno == EINTR);
            start_ = at;
            filled_ = got > 0 ? size_t(got) : 0;
            if (size > filled_) return false;
        }
        std::memcpy(out, buffer_.data() + (at - start_), size);
        return true;
    }

private:
    int fd_;
    std::vector<uint8_t> buffer_;
    uint64_t start_ = 0;
    size_t filled_ = 0;
};

// Walks the RAR 4 blocks by their sizes and keeps each file header's CRC, in
// archive order. A file header (and a service header) always has a data
// area, whatever its flags say; other blocks have one when flag 0x8000 is
// set. A damaged block ends the scan: libarchive then stops there as well,
// and a count that differs from libarchive's marks the archive as bad.
std::vector<uint32_t> ScanRar4FileCrcs(int fd)
{
    std::vector<uint32_t> crcs;
    uint64_t at = 0;
    if (!FindRar4Start(fd, at)) return crcs;
    at += sizeof kRar4Marker;
    BlockReader reader(fd);
    struct stat st {};
    const uint64_t fileSize = ::fstat(fd, &st) == 0 ? uint64_t(st.st_size) : 0;
    uint8_t block[40];
    for (size_t blocks = 0; blocks < kMaxBlocks && reader.Read(at, block, 7); ++blocks) {
        const unsigned type = block[2], flags = Le16(block + 3), size = Le16(block + 5);
        if (size < 7 || type == 0x7B) break;
        uint64_t dataSize = 0;
        if (type == 0x74 || type == 0x7A) {
            if (size < 32 || !reader.Read(at, block, 32)) break;
            dataSize = Le32(block + 7);
            if (flags & 0x100) {
                if (size < 40 || !reader.Read(at, block, 40)) break;
                dataSize |= uint64_t(Le32(block + 32)) << 32;
            }
            if (type == 0x74) crcs.push_back(Le32(block + 16));
        } else if (flags & 0x8000) {
            if (!reader.Read(at, block, 11)) break;
            dataSize = Le32(block + 7);
        }
        // A stated size may wrap the offset round or point past the end:
        // the walk only ever goes forward, and never beyond the file.
        if (dataSize > fileSize || at + size + dataSize <= at || at + size + dataSize > fileSize) break;
        at += size + dataSize;
    }
    return crcs;
}

// libarchive gives text, not codes: sort its failures into ours.
int FailureCode(archive* reader)
{
    if (archive_errno(reader) == ENOMEM) return ERAR_NO_MEMORY;
    const char* text = archive_error_string(reader);
    const std::string message = text ? text : "";
    for (const char* early : {"runcated", "remature", "nexpected end", "EOF"})
        if (message.find(early) != std::string::npos) return ERAR_EOPEN;
    for (const char* data : {"CRC", "checksum", "Checksum"})
        if (message.find(data) != std::string::npos) return ERAR_BAD_DATA;
    for (const char* method : {"Unsupported", "unsupported", "not supported"})
        if (message.find(method) != std::string::npos) return ERAR_UNKNOWN_FORMAT;
    return ERAR_BAD_ARCHIVE;
}

unsigned DosTime(time_t t)
{
    struct tm local {};
    if (!localtime_r(&t, &local) || local.tm_year < 80 || local.tm_year > 207) return 0;
    return unsigned(local.tm_year - 80) << 25 | unsigned(local.tm_mon + 1) << 21 | unsigned(local.tm_mday) << 16
           | unsigned(local.tm_hour) << 11 | unsigned(local.tm_min) << 5 | unsigned(local.tm_sec / 2);
}

void CopyText(char (&field)[260], const char* text)
{
    std::snprintf(field, sizeof field, "%s", text ? text : "");
}

const char* EntryName(archive_entry* entry)
{
    const char* name = archive_entry_pathname(entry);
    return name ? name : archive_entry_pathname_utf8(entry);
}

void FillHeader(const RarHandle& h, RARHeaderData& header)
{
    archive_entry* e = h.entry;
    CopyText(header.ArcName, h.archiveName.c_str());
    CopyText(header.FileName, EntryName(e));
    const bool directory = archive_entry_filetype(e) == AE_IFDIR;
    header.Flags = directory ? 0xE0 : 0;
    const uint64_t size = archive_entry_size_is_set(e) && archive_entry_size(e) > 0 ? uint64_t(archive_entry_size(e)) : 0;
    header.UnpSize = unsigned(size & 0xFFFFFFFFu);
    header.UnpSizeHigh = unsigned(size >> 32);
    header.PackSize = 0; // libarchive does not tell the packed size
    header.PackSizeHigh = 0;
    header.HostOS = 3;
    header.FileCRC = 0;
    header.FileTime = archive_entry_mtime_is_set(e) ? DosTime(archive_entry_mtime(e)) : 0;
    header.UnpVer = 0;
    header.Method = 0;
    header.FileAttr = unsigned(archive_entry_mode(e));
    header.CmtSize = 0;
    header.CmtState = 0;
}

int TestData(const RarHandle& h)
{
    std::vector<char> buffer(64 * 1024);
    Crc32 crc;
    for (;;) {
        const la_ssize_t n = archive_read_data(h.reader, buffer.data(), buffer.size());
        if (n == 0) break;
        if (n < 0) return FailureCode(h.reader);
        crc.Add(buffer.data(), size_t(n));
    }
    return h.haveCrc && crc.Value() != h.expectedCrc ? ERAR_BAD_DATA : ERAR_SUCCESS;
}

int WriteAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return ERAR_EWRITE;
        data += n, size -= size_t(n);
    }
    return ERAR_SUCCESS;
}

int OpenTemporary(int dirFd, std::string& name)
{
    static std::mt19937 random{std::random_device{}()};
    for (int attempt = 0; attempt < 100; ++attempt) {
        char text[32];
        std::snprintf(text, sizeof text, ".tarnel-unrar-%08x", unsigned(random()));
        const int fd = ::openat(dirFd, text, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0 || errno != EEXIST) {
            name = text;
            return fd;
        }
    }
    return -1;
}

// The data goes to a temporary beside the member and takes the member's name
// only once it is complete and on disk.
int ExtractRegular(const RarHandle& h, int dirFd, const std::string& finalName)
{
    archive* reader = h.reader;
    archive_entry* entry = h.entry;
    Crc32 crc;
    std::string temporary;
    const int fd = OpenTemporary(dirFd, temporary);
    if (fd < 0) return ERAR_ECREATE;
    int result = ERAR_SUCCESS;
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        const la_ssize_t n = archive_read_data(reader, buffer.data(), buffer.size());
        if (n == 0) break;
        if (n < 0) {
            result = FailureCode(reader);
            break;
        }
        crc.Add(buffer.data(), size_t(n));
        result = WriteAll(fd, buffer.data(), size_t(n));
        if (result != ERAR_SUCCESS) break;
    }
    if (result == ERAR_SUCCESS && h.haveCrc && crc.Value() != h.expectedCrc) result = ERAR_BAD_DATA;
    if (result == ERAR_SUCCESS) {
        const mode_t umaskNow = ::umask(0);
        ::umask(umaskNow);
        const mode_t mode = archive_entry_mode(entry) & 07777 ? archive_entry_mode(entry) & 0777 : 0666;
        ::fchmod(fd, mode & ~umaskNow);
        if (archive_entry_mtime_is_set(entry)) {
            const struct timespec times[2] = {{0, UTIME_OMIT}, {archive_entry_mtime(entry), 0}};
            ::futimens(fd, times);
        }
        if (::fsync(fd) != 0) result = ERAR_EWRITE;
    }
    if (::close(fd) != 0 && result == ERAR_SUCCESS) result = ERAR_EWRITE;
    if (result == ERAR_SUCCESS && ::renameat(dirFd, temporary.c_str(), dirFd, finalName.c_str()) != 0)
        result = ERAR_ECREATE;
    if (result != ERAR_SUCCESS) ::unlinkat(dirFd, temporary.c_str(), 0);
    return result;
}

int ExtractLink(archive_entry* entry, int dirFd, const std::string& finalName, size_t depth)
{
    const char* target = archive_entry_symlink(entry);
    if (!target || !tarnel::LinkStaysInside(target, depth)) return ERAR_ECREATE;
    ::unlinkat(dirFd, finalName.c_str(), 0);
    return ::symlinkat(target, dirFd, finalName.c_str()) == 0 ? ERAR_SUCCESS : ERAR_ECREATE;
}

int Extract(RarHandle& h, const char* destPath)
{
    std::vector<std::string> parts;
    const char* name = EntryName(h.entry);
    if (!name || !tarnel::SplitMemberPath(name, parts) || archive_entry_hardlink(h.entry))
        return ERAR_ECREATE;
    const int rootFd = ::open(destPath && *destPath ? destPath : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (rootFd < 0) return ERAR_ECREATE;
    const bool directory = archive_entry_filetype(h.entry) == AE_IFDIR;
    const size_t parents = directory ? parts.size() : parts.size() - 1;
    const int dirFd = tarnel::OpenDirectoriesBelow(rootFd, parts, parents);
    ::close(rootFd);
    if (dirFd < 0) return dirFd == -ENOSPC || dirFd == -EDQUOT ? ERAR_EWRITE : ERAR_ECREATE;
    int result = ERAR_SUCCESS;
    switch (archive_entry_filetype(h.entry)) {
    case AE_IFDIR: break;
    case AE_IFLNK: result = ExtractLink(h.entry, dirFd, parts.back(), parents); break;
    case AE_IFREG: result = ExtractRegular(h, dirFd, parts.back()); break;
    default: result = ERAR_ECREATE; // devices and fifos are not unpacked
    }
    ::close(dirFd);
    return result;
}

// Only a regular file is opened, and never in a way that could wait: a named
// pipe with an archive's name would hang the caller for good.
int OpenRegularFile(const std::string& path)
{
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return -1;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) { // replaced between the two looks
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

RAR_EXPORT void* RAROpenArchive(RAROpenArchiveData* data)
{
    if (!data) return nullptr;
    data->CmtSize = 0;
    data->CmtState = 0;
    auto* h = new (std::nothrow) RarHandle;
    if (!h || !(h->reader = archive_read_new())) {
        delete h;
        data->OpenResult = ERAR_NO_MEMORY;
        return nullptr;
    }
    archive_read_support_format_rar(h->reader);
    archive_read_support_format_rar5(h->reader);
    h->archiveName = data->ArcName ? data->ArcName : "";
    h->fd = OpenRegularFile(h->archiveName);
    if (h->fd < 0 || archive_read_open_fd(h->reader, h->fd, 64 * 1024) != ARCHIVE_OK) {
        data->OpenResult = h->fd >= 0 && archive_errno(h->reader) == ENOMEM ? ERAR_NO_MEMORY : ERAR_EOPEN;
        archive_read_free(h->reader);
        if (h->fd >= 0) ::close(h->fd);
        delete h;
        return nullptr;
    }
    h->fileCrcs = ScanRar4FileCrcs(h->fd);
    data->OpenResult = ERAR_SUCCESS;
    return h;
}

RAR_EXPORT int RARCloseArchive(void* handle)
{
    auto* h = static_cast<RarHandle*>(handle);
    if (!h) return ERAR_BAD_ARCHIVE;
    archive_read_free(h->reader);
    ::close(h->fd);
    delete h;
    return ERAR_SUCCESS;
}

RAR_EXPORT int RARReadHeader(void* handle, RARHeaderData* header)
{
    auto* h = static_cast<RarHandle*>(handle);
    if (!h || !header) return ERAR_BAD_ARCHIVE;
    h->entry = nullptr;
    archive_entry* entry = nullptr;
    const int r = archive_read_next_header(h->reader, &entry);
    // RAR 4 data CRCs are checked against the scan's: when the scan and
    // libarchive disagree on the members, some would go unchecked.
    const bool rar4 = archive_format(h->reader) == ARCHIVE_FORMAT_RAR;
    if (r == ARCHIVE_EOF)
        return rar4 && h->entryIndex != h->fileCrcs.size() ? ERAR_BAD_ARCHIVE : ERAR_END_ARCHIVE;
    if (r < ARCHIVE_WARN) return FailureCode(h->reader);
    if (rar4 && h->entryIndex >= h->fileCrcs.size()) return ERAR_BAD_ARCHIVE;
    h->entry = entry;
    const size_t index = h->entryIndex++;
    h->haveCrc = index < h->fileCrcs.size() && archive_entry_filetype(entry) == AE_IFREG;
    h->expectedCrc = h->haveCrc ? h->fileCrcs[index] : 0;
    FillHeader(*h, *header);
    header->FileCRC = h->expectedCrc;
    return ERAR_SUCCESS;
}

RAR_EXPORT int RARProcessFile(void* handle, int operation, char* destPath, char* destName)
{
    auto* h = static_cast<RarHandle*>(handle);
    if (!h || !h->entry) return ERAR_BAD_ARCHIVE;
    int result = ERAR_SUCCESS;
    if (operation == RAR_TEST) {
        result = TestData(*h);
    } else if (operation == RAR_EXTRACT) {
        result = destName ? ERAR_ECREATE : Extract(*h, destPath); // only whole-path extraction is offered
    } else if (archive_read_data_skip(h->reader) != ARCHIVE_OK) {
        result = FailureCode(h->reader);
    }
    h->entry = nullptr;
    return result;
}

RAR_EXPORT void RARSetChangeVolProc(void*, RARChangeVolProc)
{
    // Volumes are not joined: each archive file is read by itself.
}
