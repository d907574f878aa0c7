#include "support/FileSource.h"

#include "platform/TempDir.h"
#include "support/CompressStream.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <limits>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnel {

namespace {

// Far more than a directory ever holds of one second's names; only stops a
// loop that could not otherwise end.
constexpr int kMaxSuffix = 1000000;

std::string ErrnoText(const std::string& path) { return path + ": " + std::strerror(errno); }

bool WriteAll(int fd, const uint8_t* data, size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= size_t(written);
    }
    return true;
}

// Reads up to size bytes; fewer only at the end of the file. -1 on error.
ssize_t ReadFull(int fd, uint8_t* data, size_t size)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t got = ::read(fd, data + done, size - done);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (got == 0)
            break;
        done += size_t(got);
    }
    return ssize_t(done);
}

uint32_t GetLe32(const uint8_t* at)
{
    return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

int CurrentSecond()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    return local.tm_sec > 59 ? 59 : local.tm_sec; // a leap second counts as 59
}

// Opened exclusively, so a name taken between the test and the creation is
// simply the next suffix's turn.
int CreateFsTempFd(const std::string& dir, int second, const std::string& extension, std::string& path,
                   std::string& error)
{
    std::string base = dir;
    if (!base.empty() && base.back() == '/')
        base.pop_back();
    base += "/~fs" + std::to_string(second);
    for (int suffix = 0; suffix < kMaxSuffix; ++suffix) {
        path = base + std::to_string(suffix) + extension;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0)
            return fd;
        if (errno != EEXIST) {
            error = ErrnoText(path);
            return -1;
        }
    }
    error = base + ": no free temporary file name";
    return -1;
}

std::string ExtensionOf(const std::string& fileName)
{
    const size_t dot = fileName.rfind('.');
    const size_t slash = fileName.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    return fileName.substr(dot);
}

// The plain form: a 32-bit little-endian count, then the bytes.
bool WritePlain(int fd, const std::string& path, std::span<const uint8_t> data, std::string& error)
{
    if (data.size() < 4 || GetLe32(data.data()) > data.size() - 4) {
        error = "Damaged file data: the length runs past the end";
        return false;
    }
    if (!WriteAll(fd, data.data() + 4, GetLe32(data.data()))) {
        error = ErrnoText(path);
        return false;
    }
    return true;
}

bool WritePacked(int fd, const std::string& path, std::span<const uint8_t> data, std::string& error)
{
    TDecompressStream stream(data);
    std::span<const uint8_t> block;
    while (stream.NextBlock(block)) {
        if (!WriteAll(fd, block.data(), block.size())) {
            error = ErrnoText(path);
            return false;
        }
    }
    error = stream.Error();
    return error.empty();
}

} // namespace

std::string CreateFsTempFile(const std::string& dir, int second, const std::string& extension, std::string& error)
{
    std::string path;
    const int fd = CreateFsTempFd(dir, second, extension, path, error);
    if (fd < 0)
        return {};
    ::close(fd);
    return path;
}

TFileSource::TFileSource(std::string name) : name_(std::move(name)) {}

TFileSource::~TFileSource() { DropOwnedFile(); }

void TFileSource::DropOwnedFile()
{
    if (owned_)
        ::unlink(path_.c_str());
    owned_ = false;
}

void TFileSource::SetCompress(bool compress)
{
    compress_ = compress;
    if (compress)
        store_ = true;
}

std::string TFileSource::FileName() const
{
    struct stat st;
    if (path_.empty() || ::stat(path_.c_str(), &st) != 0)
        return {};
    return path_;
}

void TFileSource::SetFileName(const std::string& fileName)
{
    DropOwnedFile();
    path_ = fileName;
    extension_ = ExtensionOf(fileName);
}

bool TFileSource::LoadFileData(std::span<const uint8_t> data, std::string& error)
{
    const std::string dir = tempDirectory_.empty() ? PrivateTempDir(error) : tempDirectory_;
    if (dir.empty())
        return false;
    std::string path;
    const int fd = CreateFsTempFd(dir, CurrentSecond(), extension_, path, error);
    if (fd < 0)
        return false;

    bool written = compress_ ? WritePacked(fd, path, data, error) : WritePlain(fd, path, data, error);
    if (::close(fd) != 0 && written) {
        written = false;
        error = ErrnoText(path);
    }
    if (!written) {
        ::unlink(path.c_str());
        return false;
    }
    // The new file exists before the old one goes, so the two never share a name.
    DropOwnedFile();
    path_ = path;
    owned_ = true;
    return true;
}

bool TFileSource::SaveFileData(std::vector<uint8_t>& data, std::string& error) const
{
    const int fd = path_.empty() ? -1 : ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (path_.empty() || errno == ENOENT || errno == ENOTDIR)
            error = name_ + kCannotStoreFile + path_ + kFileIsMissing;
        else
            error = ErrnoText(path_);
        return false;
    }

    constexpr size_t kReadSize = 1 << 16;
    std::vector<uint8_t> out;
    bool ok = true;
    if (compress_) {
        std::vector<uint8_t> buffer(kReadSize);
        TCompressStream stream(out);
        for (;;) {
            const ssize_t got = ReadFull(fd, buffer.data(), buffer.size());
            if (got < 0) {
                error = ErrnoText(path_);
                ok = false;
                break;
            }
            if (!stream.Write(buffer.data(), size_t(got))) {
                error = stream.Error();
                ok = false;
                break;
            }
            if (size_t(got) < buffer.size())
                break;
        }
        if (ok && !stream.Finish()) {
            error = stream.Error();
            ok = false;
        }
    } else {
        out.assign(4, 0);
        for (;;) {
            const size_t at = out.size();
            out.resize(at + kReadSize);
            const ssize_t got = ReadFull(fd, out.data() + at, kReadSize);
            if (got < 0) {
                error = ErrnoText(path_);
                ok = false;
                break;
            }
            out.resize(at + size_t(got));
            if (size_t(got) < kReadSize)
                break;
        }
        const size_t count = out.size() - 4;
        if (ok && count > std::numeric_limits<uint32_t>::max()) {
            error = path_ + ": too large to store";
            ok = false;
        }
        for (int i = 0; ok && i < 4; ++i)
            out[size_t(i)] = uint8_t(count >> (8 * i));
    }
    ::close(fd);
    if (!ok)
        return false;
    data = std::move(out);
    return true;
}

} // namespace tarnel
