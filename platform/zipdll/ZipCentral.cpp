#include "platform/zipdll/ZipCentral.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnel::zipcentral {

namespace {

constexpr uint32_t kCentralHeaderSig = 0x02014B50;
constexpr uint32_t kEndOfCentralSig = 0x06054B50;
constexpr uint32_t kZip64EndSig = 0x06064B50;
constexpr uint32_t kZip64LocatorSig = 0x07064B50;
constexpr uint32_t kAllOnes = 0xFFFFFFFF;
// More than any real directory; a stated size past it is refused unread.
constexpr uint64_t kMaxDirectoryBytes = uint64_t(1) << 31;

uint16_t Le16(const unsigned char* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t Le32(const unsigned char* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint64_t Le64(const unsigned char* p) { return uint64_t(Le32(p)) | uint64_t(Le32(p + 4)) << 32; }

// The Zip64 field of a central record holds, in order, only the values whose
// 32-bit places are all ones.
void ReadZip64(const unsigned char* extra, size_t n, CentralRecord& r, uint64_t& offset)
{
    for (size_t i = 0; i + 4 <= n;) {
        const uint16_t id = Le16(extra + i), len = Le16(extra + i + 2);
        if (i + 4 + len > n)
            return;
        if (id == 1) {
            const unsigned char* v = extra + i + 4;
            size_t left = len;
            for (uint64_t* field : {&r.uncompressedSize, &r.compressedSize, &offset}) {
                if (*field == kAllOnes && left >= 8) {
                    *field = Le64(v);
                    v += 8;
                    left -= 8;
                }
            }
            return;
        }
        i += 4 + len;
    }
}

void ParseRecords(const unsigned char* p, size_t n, uint64_t count, int64_t shift, CentralDirectory& out)
{
    size_t i = 0;
    for (uint64_t k = 0; k < count && i + 46 <= n && Le32(p + i) == kCentralHeaderSig; ++k) {
        const size_t nameLen = Le16(p + i + 28), extraLen = Le16(p + i + 30), commentLen = Le16(p + i + 32);
        if (i + 46 + nameLen + extraLen + commentLen > n)
            return;
        CentralRecord r;
        r.madeBy = Le16(p + i + 4);
        r.flags = Le16(p + i + 8);
        r.method = Le16(p + i + 10);
        r.dosTime = Le32(p + i + 12);
        r.crc = Le32(p + i + 16);
        r.compressedSize = Le32(p + i + 20);
        r.uncompressedSize = Le32(p + i + 24);
        r.externalAttributes = Le32(p + i + 38);
        uint64_t offset = Le32(p + i + 42);
        r.name.assign(reinterpret_cast<const char*>(p + i + 46), nameLen);
        ReadZip64(p + i + 46 + nameLen, extraLen, r, offset);
        // An offset no file has still takes its place, so that index i stays
        // record i; it matches no local header.
        int64_t at = -1;
        if (offset > uint64_t(std::numeric_limits<int64_t>::max()) ||
            __builtin_add_overflow(int64_t(offset), shift, &at) || at < 0)
            at = -1;
        r.localHeader = at;
        out.records.push_back(std::move(r));
        i += 46 + nameLen + extraLen + commentLen;
    }
}

void ReadFrom(const ReadAt& read, int64_t endPos, const unsigned char* end, CentralDirectory& out)
{
    uint64_t count = Le16(end + 10);
    uint64_t cdSize = Le32(end + 12);
    uint64_t cdOffset = Le32(end + 16);
    int64_t cdEnd = endPos;
    unsigned char locator[20];
    if (endPos >= 20 && read(endPos - 20, locator, 20) == 20 && Le32(locator) == kZip64LocatorSig) {
        unsigned char record[56];
        const uint64_t recordPos = Le64(locator + 8);
        if (recordPos < uint64_t(endPos) && read(int64_t(recordPos), record, 56) == 56 &&
            Le32(record) == kZip64EndSig) {
            count = Le64(record + 32);
            cdSize = Le64(record + 40);
            cdOffset = Le64(record + 48);
            cdEnd = int64_t(recordPos);
        }
    }
    if (cdSize > uint64_t(cdEnd) || cdSize > kMaxDirectoryBytes ||
        cdOffset > uint64_t(std::numeric_limits<int64_t>::max()))
        return;
    const int64_t cdPos = cdEnd - int64_t(cdSize);
    std::string cd(size_t(cdSize), '\0');
    if (read(cdPos, cd.data(), cd.size()) != cd.size())
        return;
    out.found = true;
    out.shift = cdPos - int64_t(cdOffset);
    ParseRecords(reinterpret_cast<const unsigned char*>(cd.data()), cd.size(), count, out.shift, out);
}

} // namespace

int64_t CentralDirectory::FirstLocalHeader() const
{
    int64_t first = -1;
    for (const CentralRecord& r : records)
        if (r.localHeader >= 0 && (first < 0 || r.localHeader < first))
            first = r.localHeader;
    return first < 0 ? 0 : first;
}

CentralDirectory ReadCentralDirectory(const ReadAt& read, int64_t size)
{
    CentralDirectory out;
    if (size < 22)
        return out;
    const int64_t tail = std::min<int64_t>(size, 65535 + 22);
    std::string end(size_t(tail), '\0');
    if (read(size - tail, end.data(), end.size()) != end.size())
        return out;
    const auto* bytes = reinterpret_cast<const unsigned char*>(end.data());
    for (int64_t i = tail - 22; i >= 0; --i) {
        if (Le32(bytes + i) == kEndOfCentralSig) {
            ReadFrom(read, size - tail + i, bytes + i, out);
            return out;
        }
    }
    return out;
}

size_t PreadFully(int fd, int64_t pos, void* out, size_t n)
{
    size_t done = 0;
    while (done < n) {
        const ssize_t got = ::pread(fd, static_cast<char*>(out) + done, n - done, pos + int64_t(done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += size_t(got);
    }
    return done;
}

CentralDirectory ReadCentralDirectory(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return {};
    return ReadCentralDirectory([fd](int64_t pos, void* out, size_t n) { return PreadFully(fd, pos, out, n); },
                                st.st_size);
}

std::string PrintableName(const std::string& name)
{
    std::string out;
    for (const char c : name) {
        const auto b = static_cast<unsigned char>(c);
        if (b == 0) {
            out += "\\0";
        } else if (b < 0x20 || b == 0x7F) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", b);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

int64_t UnixTimeFromDos(uint32_t dosTime)
{
    std::tm tm{};
    tm.tm_sec = int(dosTime & 0x1F) * 2;
    tm.tm_min = int(dosTime >> 5 & 0x3F);
    tm.tm_hour = int(dosTime >> 11 & 0x1F);
    tm.tm_mday = int(dosTime >> 16 & 0x1F);
    tm.tm_mon = int(dosTime >> 21 & 0x0F) - 1;
    tm.tm_year = int(dosTime >> 25 & 0x7F) + 80;
    tm.tm_isdst = -1;
    return int64_t(std::mktime(&tm));
}

} // namespace tarnel::zipcentral
