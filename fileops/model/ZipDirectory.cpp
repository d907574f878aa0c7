#include "fileops/model/ZipDirectory.h"

#include "platform/RegularFile.h"
#include "platform/zipdll/ZipCentral.h"

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

class DirectoryReader {
public:
    DirectoryReader(ByteSource& source, std::vector<ZipDirEntry>& contents)
        : source_(source),
          central_(zipcentral::ReadCentralDirectory(
              [&source](int64_t pos, void* out, size_t n) { return source.ReadAt(pos, out, n); }, source.Size())),
          contents_(contents), first_(contents.size())
    {
        for (size_t i = 0; i < central_.records.size(); ++i)
            recordAt_.try_emplace(central_.records[i].localHeader, i);
    }

    // Reads the local headers, then keeps only those the central directory
    // agrees with: the libraries act on its records, so a row whose local
    // name differs would name some other member or none.
    void Run(bool isExe)
    {
        std::string error;
        try {
            ReadLocalHeaders(isExe);
        } catch (const ZipReadError& e) {
            error = e.what();
        }
        const size_t dropped = KeepConsistent();
        if (dropped > 0) {
            const std::string damage = "Damaged archive: " + std::to_string(dropped) +
                                       " member(s) whose local header does not agree with the central directory "
                                       "are not listed";
            error = error.empty() ? damage : error + "; " + damage;
        }
        if (!error.empty())
            throw ZipReadError(error);
    }

private:
    size_t KeepConsistent()
    {
        if (central_.records.empty()) {
            headerPos_.clear();
            return 0; // no directory to hold them to: listed, but no library call can name them
        }
        size_t kept = first_, dropped = 0;
        for (size_t i = first_; i < contents_.size(); ++i) {
            const auto it = recordAt_.find(headerPos_[i - first_]);
            if (it == recordAt_.end() || central_.records[it->second].name != contents_[i].FileName) {
                ++dropped;
                continue;
            }
            contents_[i].CentralIndex = int64_t(it->second);
            if (kept != i)
                contents_[kept] = std::move(contents_[i]);
            ++kept;
        }
        contents_.resize(kept);
        headerPos_.clear();
        return dropped;
    }

    void ReadLocalHeaders(bool isExe)
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
        const zipcentral::CentralRecord* central = nullptr;
        if (sizesElsewhere) {
            const auto it = recordAt_.find(headerPos);
            central = it == recordAt_.end() ? nullptr : &central_.records[it->second];
        }
        if (central) {
            e.CompressedSize = central->compressedSize;
            e.UncompressedSize = central->uncompressedSize;
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
        headerPos_.push_back(headerPos);
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
    zipcentral::CentralDirectory central_;
    std::unordered_map<int64_t, size_t> recordAt_; // local header position -> record
    std::vector<ZipDirEntry>& contents_;
    size_t first_;
    std::vector<int64_t> headerPos_; // of each entry read, from first_ on
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
    const int fd = OpenRegularFile(archive);
    if (fd == kNotARegularFile)
        throw ZipReadError(NotARegularFileText(archive));
    if (fd < 0)
        return;
    ReadArchiveDirectoryFromFd(fd, archive, contents);
}

void ReadArchiveDirectoryFromFd(int fd, const std::string& archive, std::vector<ZipDirEntry>& contents)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return;
    }
    FileByteSource source(fd, st.st_size);
    DirectoryReader(source, contents).Run(HasExeExtension(archive));
}

std::string NotARegularFileText(const std::string& archive)
{
    return archive + " is not a regular file: only a regular file is read as an archive";
}

} // namespace tarnel
