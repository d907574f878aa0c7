#include "platform/RegularFile.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnel {

namespace {

int OpenRegular(int dirFd, const std::string& path, int probeFlags)
{
    if (path.empty())
        return -ENOENT;
    // O_PATH opens nothing: no fifo open, no device driver called.
    const int probe = ::openat(dirFd, path.c_str(), O_PATH | O_CLOEXEC | probeFlags);
    if (probe < 0)
        return -errno;
    struct stat before;
    const bool regular = ::fstat(probe, &before) == 0 && S_ISREG(before.st_mode);
    if (!regular) {
        ::close(probe);
        return kNotARegularFile;
    }
    // Reopen the very inode the probe holds, so a name swapped meanwhile for a
    // fifo is not what gets opened.
    const std::string self = "/proc/self/fd/" + std::to_string(probe);
    int fd = ::open(self.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) // no /proc: fall back to the name
        fd = ::openat(dirFd, path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | probeFlags);
    const int openError = errno;
    ::close(probe);
    if (fd < 0)
        return -openError;
    struct stat after;
    if (::fstat(fd, &after) != 0 || !S_ISREG(after.st_mode) || after.st_dev != before.st_dev ||
        after.st_ino != before.st_ino) {
        ::close(fd);
        return kNotARegularFile;
    }
    return fd;
}

} // namespace

int OpenRegularFile(const std::string& path) { return OpenRegular(AT_FDCWD, path, 0); }

// With O_NOFOLLOW the probe holds the link itself, which is no regular file.
int OpenRegularFileNoLink(const std::string& path) { return OpenRegular(AT_FDCWD, path, O_NOFOLLOW); }

int OpenRegularFileAt(int dirFd, const std::string& name, bool followLink)
{
    if (name.find('/') != std::string::npos)
        return -EINVAL;
    return OpenRegular(dirFd, name, followLink ? 0 : O_NOFOLLOW);
}

int OpenRegularFileForReading(const std::string& path)
{
    const int fd = OpenRegularFile(path);
    return fd >= 0 ? fd : -1;
}

} // namespace tarnel
