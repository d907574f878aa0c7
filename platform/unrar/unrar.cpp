// libunrar.so: RAR 4 and RAR 5 archives read through libarchive, offered with
// the classic open / read header / process file calling sequence.
#include "platform/unrar/unrar.h"

#include "platform/RegularFile.h"
#include "platform/unrar/ExtractPath.h"

#include <archive.h>
#include <archive_entry.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <fcntl.h>
#include <locale.h>
#include <map>
#include <new>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#define RAR_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct RarHandle;

// One volume of a set as libarchive's reader sees it: a slot opened only when
// reading reaches it.
struct VolumeSlot {
    RarHandle* handle = nullptr;
    size_t index = 0;
    int fd = -1;
    std::string name;
};

// Where an extracted member landed, to link later members to.
struct Landed {
    dev_t rootDev = 0;
    ino_t rootIno = 0;
    dev_t dev = 0;
    ino_t ino = 0;
};

struct RarHandle {
    archive* reader = nullptr;
    int fd = -1;
    archive_entry* entry = nullptr; // the header last read, not yet processed
    std::string archiveName;
    // A RAR 5 volume set is read as one stream, volume after volume.
    std::vector<VolumeSlot> volumes;
    std::vector<char> volumeBuffer;
    RARChangeVolProc changeVolume = nullptr;
    // Regular members this handle extracted, by their path inside the archive.
    std::map<std::string, Landed> landed;
    // libarchive leaves the data checksums of RAR 4 stored members unchecked:
    // the file headers' CRCs in archive order, and the index of the next one.
    std::vector<uint32_t> fileCrcs;
    // Nor does it check stored RAR 5 data: the CRC of each member's header in
    // archive order, -1 where none is kept (a member split across volumes).
    std::vector<int64_t> rar5Crcs;
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

// Member names come out as UTF-8 whatever the process locale: libarchive
// converts RAR 4 Unicode names into the locale's character set, and under
// "C" that leaves non-ASCII names blank.
class Utf8Names {
public:
    Utf8Names()
    {
        // Freed when the library is unloaded: the program loads it again and again.
        struct Owned {
            locale_t locale = ::newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(0));
            Owned()
            {
                if (!locale) locale = ::newlocale(LC_CTYPE_MASK, "en_US.UTF-8", locale_t(0));
            }
            ~Owned()
            {
                if (locale) ::freelocale(locale);
            }
        };
        static const Owned utf8;
        if (utf8.locale) previous_ = ::uselocale(utf8.locale);
    }
    ~Utf8Names()
    {
        if (previous_) ::uselocale(previous_);
    }
    Utf8Names(const Utf8Names&) = delete;
    Utf8Names& operator=(const Utf8Names&) = delete;

private:
    locale_t previous_ = locale_t(0);
};

constexpr uint8_t kRar5Marker[8] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x01, 0x00};
// Volumes a set may have: each is a slot of libarchive's reader.
constexpr size_t kMaxVolumes = 1000;

// A RAR 5 variable-length number from p (at most end); false when cut or
// longer than 64 bits.
bool Vint(const uint8_t*& p, const uint8_t* end, uint64_t& value)
{
    value = 0;
    for (int shift = 0; p < end && shift < 64; shift += 7) {
        const uint8_t b = *p++;
        value |= uint64_t(b & 0x7F) << shift;
        if (!(b & 0x80)) return true;
    }
    return false;
}

// One RAR 5 block header at "at": its type, flags, where it ends, and the
// first bytes of its body.
struct Rar5Block {
    uint64_t type = 0, flags = 0, end = 0;
    uint8_t head[64];
    const uint8_t* body = nullptr;
    const uint8_t* headEnd = nullptr;
};

bool ReadRar5Block(int fd, uint64_t at, uint64_t fileSize, Rar5Block& b)
{
    if (at + 7 > fileSize) return false;
    const size_t length = size_t(std::min<uint64_t>(sizeof b.head, fileSize - at));
    if (!ReadAt(fd, b.head, length, at)) return false;
    const uint8_t* p = b.head + 4; // past the CRC
    b.headEnd = b.head + length;
    uint64_t size = 0, extra = 0, data = 0;
    if (!Vint(p, b.headEnd, size) || size > (2u << 20)) return false;
    const uint64_t headerEnd = at + uint64_t(p - b.head) + size;
    if (!Vint(p, b.headEnd, b.type) || !Vint(p, b.headEnd, b.flags)) return false;
    if ((b.flags & 1) && !Vint(p, b.headEnd, extra)) return false;
    if ((b.flags & 2) && !Vint(p, b.headEnd, data)) return false;
    if (data > fileSize || headerEnd + data > fileSize) return false;
    b.body = p;
    b.end = headerEnd + data;
    return true;
}

// True when fd is a RAR 5 archive that is one volume of a set.
bool IsRar5Volume(int fd)
{
    uint8_t marker[sizeof kRar5Marker];
    struct stat st {};
    if (!ReadAt(fd, marker, sizeof marker, 0) || std::memcmp(marker, kRar5Marker, sizeof marker) != 0
        || ::fstat(fd, &st) != 0)
        return false;
    Rar5Block main;
    uint64_t archiveFlags = 0;
    return ReadRar5Block(fd, sizeof kRar5Marker, uint64_t(st.st_size), main) && main.type == 1
           && Vint(main.body, main.headEnd, archiveFlags) && (archiveFlags & 1);
}

// True when the volume's end block says another volume follows it.
bool MoreVolumesFollow(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0) return false;
    const uint64_t fileSize = uint64_t(st.st_size);
    uint64_t at = sizeof kRar5Marker;
    for (size_t blocks = 0; blocks < kMaxBlocks; ++blocks) {
        Rar5Block b;
        if (!ReadRar5Block(fd, at, fileSize, b) || b.end <= at) return false;
        if (b.type == 5) {
            uint64_t endFlags = 0;
            return Vint(b.body, b.headEnd, endFlags) && (endFlags & 1);
        }
        at = b.end;
    }
    return false;
}

// The name the next volume has: the last number in the file's name counted
// up ("a.part1.rar", "a.part2.rar"; "a.r00", "a.r01"), or "a.rar" to "a.r00".
std::string NextVolumeName(const std::string& path)
{
    const size_t base = path.rfind('/') + 1; // npos + 1 is 0
    std::string name = path;
    size_t end = name.size();
    while (end > base && !std::isdigit(static_cast<unsigned char>(name[end - 1]))) --end;
    if (end == base) {
        const size_t dot = name.rfind('.');
        if (dot == std::string::npos || dot < base || name.size() - dot != 4) return {};
        return name.substr(0, dot + 2) + "00";
    }
    size_t digit = end;
    for (;;) {
        if (digit == base || !std::isdigit(static_cast<unsigned char>(name[digit - 1]))) {
            name.insert(digit, 1, '1'); // 99 becomes 100
            break;
        }
        --digit;
        if (name[digit] != '9') {
            ++name[digit];
            break;
        }
        name[digit] = '0';
    }
    return name;
}

// Opens volume slot i (i > 0) when the one before it says it goes on: by its
// name first, then by asking the change-volume callback. A volume that cannot
// be had leaves the slot empty, and the reader sees the set end there.
void OpenVolume(RarHandle& h, size_t i)
{
    VolumeSlot& slot = h.volumes[i];
    const VolumeSlot& before = h.volumes[i - 1];
    if (slot.fd >= 0 || before.fd < 0 || !MoreVolumesFollow(before.fd)) return;
    std::string name = NextVolumeName(before.name);
    int fd = name.empty() ? -1 : tarnel::OpenRegularFileForReading(name);
    for (int asked = 0; fd < 0 && h.changeVolume && asked < 16; ++asked) {
        std::vector<char> buffer(RAR_VOL_NAME_SIZE, '\0');
        std::snprintf(buffer.data(), buffer.size(), "%s", name.empty() ? before.name.c_str() : name.c_str());
        if (h.changeVolume(buffer.data(), RAR_VOL_ASK) < 0) return;
        buffer.back() = '\0';
        name = buffer.data();
        fd = tarnel::OpenRegularFileForReading(name);
    }
    if (fd < 0) return;
    if (h.changeVolume) {
        std::vector<char> buffer(RAR_VOL_NAME_SIZE, '\0');
        std::snprintf(buffer.data(), buffer.size(), "%s", name.c_str());
        if (h.changeVolume(buffer.data(), RAR_VOL_NOTIFY) < 0) {
            ::close(fd);
            return;
        }
    }
    slot.fd = fd;
    slot.name = name;
}

int VolumeOpen(archive*, void* data)
{
    auto* slot = static_cast<VolumeSlot*>(data);
    if (slot->index > 0) OpenVolume(*slot->handle, slot->index);
    return ARCHIVE_OK;
}

la_ssize_t VolumeRead(archive* reader, void* data, const void** buffer)
{
    auto* slot = static_cast<VolumeSlot*>(data);
    if (slot->fd < 0) return 0;
    std::vector<char>& space = slot->handle->volumeBuffer;
    ssize_t n;
    do n = ::read(slot->fd, space.data(), space.size());
    while (n < 0 && errno == EINTR);
    if (n < 0) {
        archive_set_error(reader, errno, "Read error in %s", slot->name.c_str());
        return -1;
    }
    *buffer = space.data();
    return n;
}

// Skips within the current volume only; the reader reads its way into the next.
la_int64_t VolumeSkip(archive*, void* data, la_int64_t request)
{
    auto* slot = static_cast<VolumeSlot*>(data);
    struct stat st {};
    const off_t at = slot->fd < 0 ? -1 : ::lseek(slot->fd, 0, SEEK_CUR);
    if (request <= 0 || at < 0 || ::fstat(slot->fd, &st) != 0 || st.st_size <= at) return 0;
    const la_int64_t step = std::min<la_int64_t>(request, la_int64_t(st.st_size - at));
    return ::lseek(slot->fd, off_t(step), SEEK_CUR) < 0 ? 0 : step;
}

int VolumeClose(archive*, void*) { return ARCHIVE_OK; } // the handle closes them all

// Reads a RAR 5 volume set from the first volume given, later ones as needed.
int OpenVolumeSet(RarHandle& h)
{
    h.volumes.resize(kMaxVolumes);
    h.volumeBuffer.resize(64 * 1024);
    for (size_t i = 0; i < kMaxVolumes; ++i) {
        h.volumes[i].handle = &h;
        h.volumes[i].index = i;
    }
    h.volumes[0].fd = h.fd;
    h.volumes[0].name = h.archiveName;
    archive_read_set_open_callback(h.reader, VolumeOpen);
    archive_read_set_read_callback(h.reader, VolumeRead);
    archive_read_set_skip_callback(h.reader, VolumeSkip);
    archive_read_set_close_callback(h.reader, VolumeClose);
    archive_read_set_callback_data(h.reader, &h.volumes[0]);
    for (size_t i = 1; i < kMaxVolumes; ++i)
        if (archive_read_append_callback_data(h.reader, &h.volumes[i]) != ARCHIVE_OK) return ARCHIVE_FATAL;
    return archive_read_open1(h.reader);
}

// The data CRCs of a RAR 5 archive's file headers, in the order libarchive
// lists the members: a header continuing a member of the volume before is
// no member of its own.
std::vector<int64_t> ScanRar5FileCrcs(int fd)
{
    std::vector<int64_t> crcs;
    uint8_t marker[sizeof kRar5Marker];
    struct stat st {};
    if (!ReadAt(fd, marker, sizeof marker, 0) || std::memcmp(marker, kRar5Marker, sizeof marker) != 0
        || ::fstat(fd, &st) != 0)
        return crcs;
    uint64_t at = sizeof kRar5Marker;
    for (size_t blocks = 0; blocks < kMaxBlocks; ++blocks) {
        Rar5Block b;
        if (!ReadRar5Block(fd, at, uint64_t(st.st_size), b) || b.end <= at || b.type == 5) break;
        if (b.type == 2 && !(b.flags & 0x0008)) {
            const uint8_t* p = b.body;
            uint64_t fileFlags = 0, size = 0, attributes = 0;
            int64_t crc = -1;
            if (Vint(p, b.headEnd, fileFlags) && Vint(p, b.headEnd, size) && Vint(p, b.headEnd, attributes)) {
                const size_t time = fileFlags & 2 ? 4 : 0;
                if ((fileFlags & 4) && !(b.flags & 0x0010) && size_t(b.headEnd - p) >= time + 4) crc = Le32(p + time);
            }
            crcs.push_back(crc);
        }
        at = b.end;
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

// After the last byte: a member whose data stopped short of its stated size
// goes on in a volume that is not there, or the archive is cut.
int SizeCheck(archive_entry* entry, uint64_t read)
{
    if (!archive_entry_size_is_set(entry) || archive_entry_size(entry) < 0) return ERAR_SUCCESS;
    const uint64_t stated = uint64_t(archive_entry_size(entry));
    return read < stated ? ERAR_EOPEN : read > stated ? ERAR_BAD_DATA : ERAR_SUCCESS;
}

int TestData(const RarHandle& h)
{
    // A folder has no data; libarchive refuses to read any from it.
    if (archive_entry_filetype(h.entry) == AE_IFDIR)
        return archive_read_data_skip(h.reader) == ARCHIVE_OK ? ERAR_SUCCESS : FailureCode(h.reader);
    std::vector<char> buffer(64 * 1024);
    Crc32 crc;
    uint64_t read = 0;
    for (;;) {
        const la_ssize_t n = archive_read_data(h.reader, buffer.data(), buffer.size());
        if (n == 0) break;
        if (n < 0) return FailureCode(h.reader);
        crc.Add(buffer.data(), size_t(n));
        read += uint64_t(n);
    }
    if (const int size = SizeCheck(h.entry, read); size != ERAR_SUCCESS) return size;
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
// only once it is complete and on disk. landed receives the file's identity.
int ExtractRegular(const RarHandle& h, int dirFd, const std::string& finalName, Landed& landed)
{
    archive* reader = h.reader;
    archive_entry* entry = h.entry;
    Crc32 crc;
    std::string temporary;
    const int fd = OpenTemporary(dirFd, temporary);
    if (fd < 0) return ERAR_ECREATE;
    int result = ERAR_SUCCESS;
    std::vector<char> buffer(64 * 1024);
    uint64_t written = 0;
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
        written += uint64_t(n);
    }
    if (result == ERAR_SUCCESS) result = SizeCheck(entry, written);
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
        struct stat st {};
        if (::fstat(fd, &st) == 0) landed.dev = st.st_dev, landed.ino = st.st_ino;
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

// The path inside the archive that names one member, however it was written.
std::string MemberKey(const std::vector<std::string>& parts)
{
    std::string key;
    for (const std::string& part : parts) key += (key.empty() ? "" : "/") + part;
    return key;
}

// Copies the file at fd into a temporary in dirFd and gives it finalName.
int CopyInto(int from, int dirFd, const std::string& finalName)
{
    std::string temporary;
    const int to = OpenTemporary(dirFd, temporary);
    if (to < 0) return ERAR_ECREATE;
    int result = ERAR_SUCCESS;
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        const ssize_t n = ::read(from, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) result = ERAR_EREFERENCE;
        if (n <= 0) break;
        if ((result = WriteAll(to, buffer.data(), size_t(n))) != ERAR_SUCCESS) break;
    }
    struct stat st {};
    if (result == ERAR_SUCCESS && ::fstat(from, &st) == 0) {
        ::fchmod(to, st.st_mode & 07777);
        const struct timespec times[2] = {{0, UTIME_OMIT}, st.st_mtim};
        ::futimens(to, times);
    }
    if (result == ERAR_SUCCESS && ::fsync(to) != 0) result = ERAR_EWRITE;
    if (::close(to) != 0 && result == ERAR_SUCCESS) result = ERAR_EWRITE;
    if (result == ERAR_SUCCESS && ::renameat(dirFd, temporary.c_str(), dirFd, finalName.c_str()) != 0)
        result = ERAR_ECREATE;
    if (result != ERAR_SUCCESS) ::unlinkat(dirFd, temporary.c_str(), 0);
    return result;
}

// A hard link is made only to a regular member this handle extracted into
// the same destination, and only while that file is still the one it wrote;
// where the file system has no hard links the member becomes a copy.
int ExtractHardLink(RarHandle& h, int rootFd, int dirFd, const std::string& finalName)
{
    std::vector<std::string> target;
    const char* stored = archive_entry_hardlink(h.entry);
    if (!stored || !tarnel::SplitMemberPath(stored, target)) return ERAR_EREFERENCE;
    const auto found = h.landed.find(MemberKey(target));
    struct stat root {};
    if (found == h.landed.end() || ::fstat(rootFd, &root) != 0 || root.st_dev != found->second.rootDev
        || root.st_ino != found->second.rootIno)
        return ERAR_EREFERENCE;
    const int targetDir = tarnel::OpenDirectoriesBelow(rootFd, target, target.size() - 1, false);
    if (targetDir < 0) return ERAR_EREFERENCE;
    int result = ERAR_SUCCESS;
    struct stat st {}, existing {};
    if (::fstatat(targetDir, target.back().c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)
        || st.st_dev != found->second.dev || st.st_ino != found->second.ino) {
        result = ERAR_EREFERENCE;
    } else if (::fstatat(dirFd, finalName.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0
               && existing.st_dev == st.st_dev && existing.st_ino == st.st_ino) {
        // Already that very file.
    } else {
        std::string temporary;
        const int probe = OpenTemporary(dirFd, temporary); // a free name to link under
        if (probe < 0) {
            result = ERAR_ECREATE;
        } else {
            ::close(probe);
            ::unlinkat(dirFd, temporary.c_str(), 0);
            if (::linkat(targetDir, target.back().c_str(), dirFd, temporary.c_str(), 0) == 0) {
                if (::renameat(dirFd, temporary.c_str(), dirFd, finalName.c_str()) != 0) {
                    ::unlinkat(dirFd, temporary.c_str(), 0);
                    result = ERAR_ECREATE;
                }
            } else if (errno == EXDEV || errno == EPERM || errno == EMLINK || errno == ENOTSUP) {
                const int from = ::openat(targetDir, target.back().c_str(),
                                          O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
                struct stat opened {};
                if (from < 0 || ::fstat(from, &opened) != 0 || opened.st_ino != st.st_ino || opened.st_dev != st.st_dev)
                    result = ERAR_EREFERENCE;
                else
                    result = CopyInto(from, dirFd, finalName);
                if (from >= 0) ::close(from);
            } else {
                result = errno == ENOSPC || errno == EDQUOT ? ERAR_EWRITE : ERAR_ECREATE;
            }
        }
    }
    ::close(targetDir);
    if (archive_read_data_skip(h.reader) != ARCHIVE_OK && result == ERAR_SUCCESS) result = FailureCode(h.reader);
    return result;
}

int Extract(RarHandle& h, const char* destPath)
{
    std::vector<std::string> parts;
    const char* name = EntryName(h.entry);
    if (!name || !tarnel::SplitMemberPath(name, parts)) return ERAR_ECREATE;
    const int rootFd = ::open(destPath && *destPath ? destPath : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (rootFd < 0) return ERAR_ECREATE;
    const bool directory = archive_entry_filetype(h.entry) == AE_IFDIR;
    const size_t parents = directory ? parts.size() : parts.size() - 1;
    const int dirFd = tarnel::OpenDirectoriesBelow(rootFd, parts, parents);
    if (dirFd < 0) {
        ::close(rootFd);
        return dirFd == -ENOSPC || dirFd == -EDQUOT ? ERAR_EWRITE : ERAR_ECREATE;
    }
    int result = ERAR_SUCCESS;
    Landed landed;
    if (archive_entry_hardlink(h.entry)) {
        result = ExtractHardLink(h, rootFd, dirFd, parts.back());
        struct stat st {};
        if (result == ERAR_SUCCESS && ::fstatat(dirFd, parts.back().c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
            landed.dev = st.st_dev, landed.ino = st.st_ino;
    } else {
        switch (archive_entry_filetype(h.entry)) {
        case AE_IFDIR: break;
        case AE_IFLNK: result = ExtractLink(h.entry, dirFd, parts.back(), parents); break;
        case AE_IFREG: result = ExtractRegular(h, dirFd, parts.back(), landed); break;
        default: result = ERAR_ECREATE; // devices and fifos are not unpacked
        }
    }
    const std::string key = MemberKey(parts);
    struct stat root {};
    if (result == ERAR_SUCCESS && landed.ino != 0 && ::fstat(rootFd, &root) == 0) {
        landed.rootDev = root.st_dev;
        landed.rootIno = root.st_ino;
        h.landed[key] = landed;
    } else {
        h.landed.erase(key); // whatever was there before is no longer what this name holds
    }
    ::close(dirFd);
    ::close(rootFd);
    return result;
}

} // namespace

RAR_EXPORT void* RAROpenArchive(RAROpenArchiveData* data)
{
    const Utf8Names names;
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
    // Only a regular file is opened: a named pipe with an archive's name would
    // hang the caller for good.
    h->fd = tarnel::OpenRegularFileForReading(h->archiveName);
    const int opened = h->fd < 0 ? ARCHIVE_FATAL
                       : IsRar5Volume(h->fd) ? OpenVolumeSet(*h)
                                             : archive_read_open_fd(h->reader, h->fd, 64 * 1024);
    if (opened != ARCHIVE_OK) {
        data->OpenResult = h->fd >= 0 && archive_errno(h->reader) == ENOMEM ? ERAR_NO_MEMORY : ERAR_EOPEN;
        archive_read_free(h->reader);
        if (h->fd >= 0) ::close(h->fd);
        delete h;
        return nullptr;
    }
    h->fileCrcs = ScanRar4FileCrcs(h->fd);
    h->rar5Crcs = ScanRar5FileCrcs(h->fd);
    data->OpenResult = ERAR_SUCCESS;
    return h;
}

RAR_EXPORT int RARCloseArchive(void* handle)
{
    const Utf8Names names;
    auto* h = static_cast<RarHandle*>(handle);
    if (!h) return ERAR_BAD_ARCHIVE;
    archive_read_free(h->reader);
    ::close(h->fd);
    for (size_t i = 1; i < h->volumes.size(); ++i)
        if (h->volumes[i].fd >= 0) ::close(h->volumes[i].fd);
    delete h;
    return ERAR_SUCCESS;
}

RAR_EXPORT int RARReadHeader(void* handle, RARHeaderData* header)
{
    const Utf8Names names;
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
    const bool regular = archive_entry_filetype(entry) == AE_IFREG && !archive_entry_hardlink(entry);
    if (rar4) {
        h->haveCrc = index < h->fileCrcs.size() && regular;
        h->expectedCrc = h->haveCrc ? h->fileCrcs[index] : 0;
    } else {
        h->haveCrc = index < h->rar5Crcs.size() && h->rar5Crcs[index] >= 0 && regular;
        h->expectedCrc = h->haveCrc ? uint32_t(h->rar5Crcs[index]) : 0;
    }
    FillHeader(*h, *header);
    header->FileCRC = h->expectedCrc;
    return ERAR_SUCCESS;
}

RAR_EXPORT int RARProcessFile(void* handle, int operation, char* destPath, char* destName)
{
    const Utf8Names names;
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

RAR_EXPORT void RARSetChangeVolProc(void* handle, RARChangeVolProc proc)
{
    if (auto* h = static_cast<RarHandle*>(handle)) h->changeVolume = proc;
}
