#include "viewer/model/TextFile.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnel {

TextFile::~TextFile() { Close(); }

bool TextFile::Open(const std::string& path)
{
    Close();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st;
    // A fifo or a device would block or never end.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    size_ = st.st_size;
    bytesRead_ = 0;
    path_ = path;
    return true;
}

void TextFile::Close()
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    size_ = 0;
}

size_t TextFile::ReadAt(int64_t offset, void* buffer, size_t size) const
{
    if (fd_ < 0 || offset < 0)
        return 0;
    size_t got = 0;
    while (got < size) {
        const ssize_t n = ::pread(fd_, static_cast<char*>(buffer) + got, size - got, offset + int64_t(got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += size_t(n);
    }
    bytesRead_ += int64_t(got);
    return got;
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

std::string SaveFileAtomically(const std::string& path, const std::string& data)
{
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    struct stat old;
    const bool oldExists = ::stat(path.c_str(), &old) == 0;

    std::string temp = dir + "/." + base + ".tarnel-XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return std::strerror(errno);
    if (oldExists)
        (void)::fchmod(fd, old.st_mode & 07777);
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
