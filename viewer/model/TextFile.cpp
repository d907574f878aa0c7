#include "viewer/model/TextFile.h"

#include "viewer/model/FileBlocks.h"
#include "viewer/model/RangeReader.h"

#include "platform/RegularFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnel {

TextFile::~TextFile() { Close(); }

bool TextFile::Open(const std::string& path, int64_t headBytes)
{
    Close();
    // Opening a fifo would take a writer's data from its reader, and a
    // device such as /dev/zero never ends: only a regular file is opened.
    const int fd = OpenRegularFile(path);
    if (fd < 0)
        return false;
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return false;
    }
    reader_ = std::make_shared<DescriptorReader>(fd);
    size_ = st.st_size;
    bytesRead_ = misses_ = 0;
    path_ = path;
    KeepHead(headBytes);
    return true;
}

bool TextFile::Open(std::shared_ptr<const RangeReader> reader, const std::string& path, int64_t size, int64_t headBytes)
{
    Close();
    if (!reader)
        return false;
    reader_ = std::move(reader);
    size_ = std::max<int64_t>(size, 0);
    bytesRead_ = misses_ = 0;
    path_ = path;
    KeepHead(headBytes);
    // A start that never came is a file that cannot be shown, not an empty one.
    if (!reader_->Failure().empty() && HeadBytes() < std::min(headBytes, size_)) {
        reader_.reset();
        return false;
    }
    return true;
}

void TextFile::KeepHead(int64_t headBytes)
{
    const size_t keep = size_t(std::clamp<int64_t>(std::min(headBytes, size_), 0, int64_t(1) << 26));
    if (keep > 0) {
        auto head = std::make_shared<std::string>(keep, '\0');
        head->resize(ReadAt(0, head->data(), keep));
        head_ = std::move(head);
    }
}

bool TextFile::Remote() const { return reader_ && reader_->Remote(); }

std::string TextFile::Failure() const { return reader_ ? reader_->Failure() : std::string(); }

void TextFile::Close()
{
    reader_.reset();
    size_ = 0;
    head_.reset();
    blocks_.reset();
}

void TextFile::Share(TextFile& other) const
{
    if (&other == this)
        return;
    other.Close();
    other.reader_ = reader_;
    other.size_ = size_;
    other.bytesRead_ = other.misses_ = 0;
    other.path_ = path_;
    other.head_ = head_;
}

void TextFile::ReadThrough(std::shared_ptr<FileBlocks> blocks) { blocks_ = std::move(blocks); }

void TextFile::TakeFrom(TextFile& other)
{
    if (&other == this)
        return;
    Close();
    std::swap(reader_, other.reader_);
    std::swap(size_, other.size_);
    std::swap(bytesRead_, other.bytesRead_);
    std::swap(misses_, other.misses_);
    path_ = other.path_;
    head_.swap(other.head_);
    blocks_.swap(other.blocks_);
    other.Close();
}

size_t TextFile::ReadAt(int64_t offset, void* buffer, size_t size) const
{
    if (!reader_ || offset < 0)
        return 0;
    size_t got = 0;
    const int64_t headSize = HeadBytes();
    if (offset < headSize) {
        got = std::min(size, size_t(headSize - offset));
        std::memcpy(buffer, head_->data() + offset, got);
        // A kept whole file ends here: what it grew by since is not its.
        if (headSize == size_)
            size = got;
    }
    if (blocks_ && got < size) {
        const FileBlocks::Copied copied = blocks_->Copy(offset + int64_t(got), static_cast<char*>(buffer) + got, size - got);
        got += copied.bytes;
        if (copied.missing)
            ++misses_;
        bytesRead_ += int64_t(got);
        return got;
    }
    if (got < size)
        got += reader_->ReadAt(offset + int64_t(got), static_cast<char*>(buffer) + got, size - got);
    bytesRead_ += int64_t(got);
    return got;
}

WholeRead ReadFileForEditing(const std::string& path, int64_t maxBytes, std::string& data, int64_t& size)
{
    data.clear();
    size = 0;
    TextFile file;
    if (!file.Open(path))
        return WholeRead::Missing;
    size = file.Size();
    if (size > maxBytes)
        return WholeRead::TooLarge;
    // One byte more than the size finds a file that grew while it was read.
    data.resize(size_t(size) + 1);
    const size_t got = file.ReadAt(0, data.data(), data.size());
    if (got != size_t(size)) {
        data.clear();
        return WholeRead::Failed;
    }
    data.resize(got);
    return WholeRead::Read;
}

namespace {

bool WriteAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

} // namespace

namespace {

// A new file beside the target, created with mode 0666 so that the umask
// gives it the permissions any new file of the user's would get.
int CreateTemporary(const std::string& dir, std::string& temp)
{
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        // Short and fixed, so that a target name of any length still leaves room.
        temp = dir + "/.tarnel-save-";
        for (int i = 0; i < 10; ++i)
            temp += kLetters[random() % (sizeof kLetters - 1)];
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

// A link stays a link: the file it points to is the one replaced.
std::string ResolveLink(const std::string& path)
{
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
        return path;
    char* real = ::realpath(path.c_str(), nullptr);
    if (!real)
        return path; // a dangling link: the new file takes its place
    std::string resolved = real;
    std::free(real);
    return resolved;
}

} // namespace

std::string SaveFileAtomically(const std::string& requestedPath, const std::string& data)
{
    const std::string path = ResolveLink(requestedPath);
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    struct stat old;
    const bool oldExists = ::stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode);

    std::string temp;
    const int fd = CreateTemporary(dir, temp);
    if (fd < 0)
        return std::strerror(errno);
    if (oldExists) {
        // Keeping the group is a courtesy; another group is no failure.
        if (::fchown(fd, uid_t(-1), old.st_gid) != 0) {
        }
        (void)::fchmod(fd, old.st_mode & 07777);
    }
    int error = 0;
    if (!WriteAll(fd, data.data(), data.size()) || ::fsync(fd) != 0)
        error = errno ? errno : EIO;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(temp.c_str(), path.c_str()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temp.c_str());
        return std::strerror(error);
    }
    // The rename itself must reach the disk too.
    const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        (void)::fsync(dirFd);
        ::close(dirFd);
    }
    return {};
}

} // namespace tarnel
