#include "fileops/model/ZipDirectory.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <limits>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace tarnel {

namespace {

constexpr uint32_t kLocalHeaderSig = 0x04034B50;
constexpr uint32_t kCentralHeaderSig = 0x02014B50;
constexpr uint32_t kEndOfCentralSig = 0x06054B50;
constexpr uint32_t kZip64EndSig = 0x06064B50;
constexpr uint32_t kZip64LocatorSig = 0x07064B50;
constexpr uint32_t kDataDescriptorSig = 0x08074B50;
constexpr uint32_t kSizeInZip64 = 0xFFFFFFFF;
constexpr uint16_t kFlagDataDescriptor = 8;

uint16_t Le16(const unsigned char* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t Le32(const unsigned char* p) { return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24; }
uint64_t Le64(const unsigned char* p) { return uint64_t(Le32(p)) | uint64_t(Le32(p + 4)) << 32; }

// Sequential reads with cheap forward seeks, over a file or a byte string.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual int64_t Size() const = 0;
    // Reads up to n bytes at pos; returns the count read.
    virtual size_t ReadAt(int64_t pos, void* out, size_t n) = 0;

    size_t Read(void* out, size_t n)
    {
        const size_t got = ReadAt(pos_, out, n);
        pos_ += int64_t(got);
        return got;
    }
    bool Seek(int64_t pos)
    {
        if (pos < 0 || pos > Size())
            return false;
        pos_ = pos;
        return true;
    }
    int64_t Position() const { return pos_; }

private:
    int64_t pos_ = 0;
};

class MemorySource : public ByteSource {
public:
    explicit MemorySource(const std::string& bytes) : bytes_(bytes) {}
    int64_t Size() const override { return int64_t(bytes_.size()); }
    size_t ReadAt(int64_t pos, void* out, size_t n) override
    {
        if (pos < 0 || pos >= Size())
            return 0;
        const size_t got = std::min(n, size_t(Size() - pos));
        std::memcpy(out, bytes_.data() + pos, got);
        return got;
    }

private:
    const std::string& bytes_;
};

// A 64 KiB window over the file, so the byte-by-byte search and the many
// short header reads cost no system call each.
class FileByteSource : public ByteSource {
public:
    FileByteSource(int fd, int64_t size) : fd_(fd), size_(size), buffer_(new unsigned char[kWindow]) {}
    ~FileByteSource() override { ::close(fd_); }
    int64_t Size() const override { return size_; }
    size_t ReadAt(int64_t pos, void* out, size_t n) override
    {
        auto* dest = static_cast<unsigned char*>(out);
        size_t done = 0;
        while (done < n && pos < size_) {
            if (pos < start_ || pos >= start_ + int64_t(filled_)) {
                if (!Fill(pos))
                    break;
            }
            const size_t offset = size_t(pos - start_);
            const size_t take = std::min(n - done, filled_ - offset);
            std::memcpy(dest + done, buffer_.get() + offset, take);
            done += take;
            pos += int64_t(take);
        }
        return done;
    }

private:
    static constexpr size_t kWindow = 65536;
    bool Fill(int64_t pos)
    {
        ssize_t got;
        do
            got = ::pread(fd_, buffer_.get(), kWindow, pos);
        while (got < 0 && errno == EINTR);
        start_ = pos;
        filled_ = got > 0 ? size_t(got) : 0;
        return filled_ > 0;
    }
    int fd_;
    int64_t size_;
    std::unique_ptr<unsigned char[]> buffer_;
    int64_t start_ = 0;
    size_t filled_ = 0;
};

// The Zip64 extra field holds, in this order, only the values whose 32-bit
// places are all ones. True when it was found.
bool ReadZip64Extra(const unsigned char* extra, size_t n, uint64_t& uncompressed, uint64_t& compressed,
                    uint64_t* offset)
{
    for (size_t i = 0; i + 4 <= n;) {
        const uint16_t id = Le16(extra + i), len = Le16(extra + i + 2);
        if (i + 4 + len > n)
            return false;
        if (id == 1) {
            const unsigned char* v = extra + i + 4;
            size_t left = len;
            // A local header's field holds both sizes, whichever of them overflowed.
            if (!offset && left >= 16) {
                uncompressed = Le64(v);
                compressed = Le64(v + 8);
                return true;
            }
            auto take = [&](uint64_t& field) {
                if (field == kSizeInZip64 && left >= 8) {
                    field = Le64(v);
                    v += 8;
                    left -= 8;
                }
            };
            take(uncompressed);
            take(compressed);
            if (offset)
                take(*offset);
            return true;
        }
        i += 4 + len;
    }
    return false;
}

struct CentralSizes {
    uint64_t compressed = 0;
    uint64_t uncompressed = 0;
    uint32_t crc = 0;
};

// Sizes by local-header position, from the central directory. Needed only
// for members whose local header leaves the sizes out (streaming writers put
// them after the data, Zip64 writers in an extra field).
class CentralDirectory {
public:
    explicit CentralDirectory(ByteSource& source) : source_(source) {}

    const CentralSizes* Find(int64_t localHeaderPos)
    {
        if (!loaded_) {
            loaded_ = true;
            Load();
        }
        const auto it = sizes_.find(localHeaderPos);
        return it == sizes_.end() ? nullptr : &it->second;
    }

private:
    void Load()
    {
        const int64_t size = source_.Size();
        const int64_t tail = std::min<int64_t>(size, 65535 + 22);
        std::string end(size_t(tail), '\0');
        if (source_.ReadAt(size - tail, end.data(), end.size()) != end.size())
            return;
        const auto* bytes = reinterpret_cast<const unsigned char*>(end.data());
        for (int64_t i = tail - 22; i >= 0; --i) {
            if (Le32(bytes + i) == kEndOfCentralSig) {
                LoadFrom(size - tail + i, bytes + i);
                return;
            }
        }
    }

    void LoadFrom(int64_t endPos, const unsigned char* end)
    {
        uint64_t cdSize = Le32(end + 12);
        uint64_t cdOffset = Le32(end + 16);
        int64_t cdEnd = endPos;
        unsigned char locator[20];
        if (endPos >= 20 && source_.ReadAt(endPos - 20, locator, 20) == 20 && Le32(locator) == kZip64LocatorSig) {
            unsigned char record[56];
            const uint64_t recordPos = Le64(locator + 8);
            if (recordPos < uint64_t(endPos) && source_.ReadAt(int64_t(recordPos), record, 56) == 56 &&
                Le32(record) == kZip64EndSig) {
                cdSize = Le64(record + 40);
                cdOffset = Le64(record + 48);
                cdEnd = int64_t(recordPos);
            }
        }
        if (cdSize > uint64_t(cdEnd) || cdSize > (uint64_t(1) << 31))
            return;
        const int64_t cdPos = cdEnd - int64_t(cdSize);
        if (cdOffset > uint64_t(std::numeric_limits<int64_t>::max()))
            return; // an offset no file has: no true sizes from this directory
        // A prefix (a self-extractor's code) shifts every stored offset.
        const int64_t shift = cdPos - int64_t(cdOffset);
        std::string cd(size_t(cdSize), '\0');
        if (source_.ReadAt(cdPos, cd.data(), cd.size()) != cd.size())
            return;
        Parse(reinterpret_cast<const unsigned char*>(cd.data()), cd.size(), shift);
    }

    void Parse(const unsigned char* p, size_t n, int64_t shift)
    {
        size_t i = 0;
        while (i + 46 <= n && Le32(p + i) == kCentralHeaderSig) {
            const size_t nameLen = Le16(p + i + 28), extraLen = Le16(p + i + 30), commentLen = Le16(p + i + 32);
            if (i + 46 + nameLen + extraLen + commentLen > n)
                return;
            CentralSizes sizes{Le32(p + i + 20), Le32(p + i + 24), Le32(p + i + 16)};
            uint64_t offset = Le32(p + i + 42);
            ReadZip64Extra(p + i + 46 + nameLen, extraLen, sizes.uncompressed, sizes.compressed, &offset);
            int64_t at = 0;
            if (offset <= uint64_t(std::numeric_limits<int64_t>::max()) &&
                !__builtin_add_overflow(int64_t(offset), shift, &at)) // else no member starts there
                sizes_[at] = sizes;
            i += 46 + nameLen + extraLen + commentLen;
        }
    }

    ByteSource& source_;
    bool loaded_ = false;
    std::unordered_map<int64_t, CentralSizes> sizes_;
};

class DirectoryReader {
public:
    DirectoryReader(ByteSource& source, std::vector<ZipDirEntry>& contents)
        : source_(source), central_(source), contents_(contents)
    {
    }

    void Run(bool isExe)
    {
        if (isExe && !source_.Seek(kSfxStartOffset))
            return;
        if (!Search())
            return;
        uint32_t sig = kLocalHeaderSig;
        for (;;) {
            if (sig == kLocalHeaderSig) {
                if (!ReadLocalEntry()) {
                    if (!Search())
                        return;
                    continue; // sig stays the local header signature
                }
            } else if (sig == kCentralHeaderSig || sig == kEndOfCentralSig) {
                return;
            }
            unsigned char next[4];
            if (source_.Read(next, 4) < 4)
                throw ZipReadError("Error reading Zip File");
            sig = Le32(next);
        }
    }

private:
    // Finds "PK\3\4"; the tested-byte budget holds for the whole read.
    bool Search()
    {
        int matched = 0;
        static constexpr unsigned char kSig[4] = {'P', 'K', 3, 4};
        unsigned char b;
        while (source_.Read(&b, 1) == 1) {
            if (matched == 0) {
                if (++tested_ > kZipSearchBudget)
                    return false;
                if (b == kSig[0])
                    matched = 1;
                continue;
            }
            matched = b == kSig[matched] ? matched + 1 : 0;
            if (matched == 4)
                return true;
        }
        return false;
    }

    // False: go back to searching. Throws when entries were already read.
    bool ReadLocalEntry()
    {
        const int64_t headerPos = source_.Position() - 4;
        unsigned char h[26];
        ZipDirEntry e;
        bool complete = source_.Read(h, 26) == 26;
        if (complete) {
            e.VersionNeeded = Le16(h);
            e.Flag = Le16(h + 2);
            e.CompressionMethod = Le16(h + 4);
            e.DateTime = Le32(h + 6);
            e.CRC32 = Le32(h + 10);
            e.CompressedSize = Le32(h + 14);
            e.UncompressedSize = Le32(h + 18);
            e.FileNameLength = Le16(h + 22);
            e.ExtraFieldLength = Le16(h + 24);
            e.FileName.resize(e.FileNameLength);
            complete = source_.Read(e.FileName.data(), e.FileNameLength) == e.FileNameLength;
        }
        if (!complete) {
            if (!contents_.empty())
                throw ZipReadError("Error 2 reading Zip file");
            return false;
        }
        // Zip64 sizes are in the header's own extra field when it has one;
        // a streaming writer's only in the central directory.
        const bool streamed = e.Flag & kFlagDataDescriptor;
        if (!streamed && (e.CompressedSize == kSizeInZip64 || e.UncompressedSize == kSizeInZip64) &&
            e.ExtraFieldLength >= 4) {
            std::string extra(e.ExtraFieldLength, '\0');
            if (source_.ReadAt(source_.Position(), extra.data(), extra.size()) == extra.size())
                ReadZip64Extra(reinterpret_cast<const unsigned char*>(extra.data()), extra.size(),
                               e.UncompressedSize, e.CompressedSize, nullptr);
        }
        const bool sizesElsewhere = streamed || e.CompressedSize == kSizeInZip64 || e.UncompressedSize == kSizeInZip64;
        const CentralSizes* central = sizesElsewhere ? central_.Find(headerPos) : nullptr;
        if (central) {
            e.CompressedSize = central->compressed;
            e.UncompressedSize = central->uncompressed;
            e.CRC32 = central->crc;
        }
        // Sizes come from the file, so the sum may wrap: an end that does
        // not lie past the header would read the same entries forever.
        uint64_t end = 0;
        const bool ahead = !__builtin_add_overflow(uint64_t(source_.Position()), uint64_t(e.ExtraFieldLength), &end) &&
                           !__builtin_add_overflow(end, e.CompressedSize, &end) && end > uint64_t(headerPos);
        if (!ahead || source_.Size() < 22 || end > uint64_t(source_.Size() - 22)) {
            if (!contents_.empty())
                throw ZipReadError("Error 3 reading Zip file");
            return false;
        }
        if (!source_.Seek(source_.Position() + e.ExtraFieldLength))
            throw ZipReadError("Error 4 reading Zip file");
        if (!source_.Seek(int64_t(end)))
            throw ZipReadError("Error 5 reading Zip file");
        if (central && (e.Flag & kFlagDataDescriptor))
            SkipDataDescriptor(e);
        contents_.push_back(std::move(e));
        return true;
    }

    void SkipDataDescriptor(const ZipDirEntry& e)
    {
        const int64_t pos = source_.Position();
        unsigned char d[4];
        int64_t skip = 0;
        if (source_.ReadAt(pos, d, 4) == 4 && Le32(d) == kDataDescriptorSig)
            skip = 4;
        const bool zip64 = e.CompressedSize >= kSizeInZip64 || e.UncompressedSize >= kSizeInZip64;
        skip += zip64 ? 20 : 12;
        if (!source_.Seek(pos + skip))
            source_.Seek(pos);
    }

    ByteSource& source_;
    CentralDirectory central_;
    std::vector<ZipDirEntry>& contents_;
    int tested_ = 0;
};

bool HasExeExtension(const std::string& name)
{
    if (name.size() < 4)
        return false;
    std::string ext = name.substr(name.size() - 4);
    for (char& c : ext)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return ext == ".EXE";
}

} // namespace

void ReadArchiveDirectoryFrom(const std::string& bytes, bool isExe, std::vector<ZipDirEntry>& contents)
{
    MemorySource source(bytes);
    DirectoryReader(source, contents).Run(isExe);
}

void ReadArchiveDirectory(const std::string& archive, std::vector<ZipDirEntry>& contents)
{
    const int fd = ::open(archive.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return;
    }
    FileByteSource source(fd, st.st_size);
    DirectoryReader(source, contents).Run(HasExeExtension(archive));
}

} // namespace tarnel
