#include "platform/FileSystem.h"

#include "platform/Volumes.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include <dirent.h>
#include <fcntl.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace tarnel {

namespace {

int Result(int rc) { return rc < 0 ? -errno : rc; }

std::string ParentOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? std::string("/") : path.substr(0, slash);
}

class PosixFileSystem final : public FileSystem {
public:
    int Open(const std::string& path, int flags, mode_t mode) override
    {
        int fd;
        do
            fd = ::open(path.c_str(), flags | O_CLOEXEC, mode);
        while (fd < 0 && errno == EINTR);
        return Result(fd);
    }

    int Close(int fd) override
    {
        // Linux frees the descriptor even when close reports EINTR; only a real
        // error (a delayed write failure on NFS) is worth reporting.
        if (::close(fd) < 0 && errno != EINTR)
            return -errno;
        return 0;
    }

    ssize_t Read(int fd, void* buffer, size_t size) override
    {
        ssize_t n;
        do
            n = ::read(fd, buffer, size);
        while (n < 0 && errno == EINTR);
        return n < 0 ? -errno : n;
    }

    ssize_t Write(int fd, const void* data, size_t size) override
    {
        ssize_t n;
        do
            n = ::write(fd, data, size);
        while (n < 0 && errno == EINTR);
        return n < 0 ? -errno : n;
    }

    ssize_t CopyFileRange(int inFd, int outFd, size_t size) override
    {
        ssize_t n;
        do
            n = ::copy_file_range(inFd, nullptr, outFd, nullptr, size, 0);
        while (n < 0 && errno == EINTR);
        return n < 0 ? -errno : n;
    }

    int Fstat(int fd, struct stat& st) override { return Result(::fstat(fd, &st)); }
    int Fsync(int fd) override
    {
        int rc;
        do
            rc = ::fsync(fd);
        while (rc < 0 && errno == EINTR);
        return Result(rc);
    }
    int Fchmod(int fd, mode_t mode) override { return Result(::fchmod(fd, mode)); }
    int Fchown(int fd, uid_t uid, gid_t gid) override { return Result(::fchown(fd, uid, gid)); }
    int FSetTimes(int fd, const struct timespec times[2]) override { return Result(::futimens(fd, times)); }

    int Stat(const std::string& path, struct stat& st) override { return Result(::stat(path.c_str(), &st)); }
    int Lstat(const std::string& path, struct stat& st) override { return Result(::lstat(path.c_str(), &st)); }
    int Mkdir(const std::string& path, mode_t mode) override { return Result(::mkdir(path.c_str(), mode)); }

    int Rename(const std::string& from, const std::string& to, RenameMode mode) override
    {
        if (mode == RenameMode::Replace)
            return Result(::rename(from.c_str(), to.c_str()));
        return Result(::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE));
    }

    int Unlink(const std::string& path) override { return Result(::unlink(path.c_str())); }
    int Rmdir(const std::string& path) override { return Result(::rmdir(path.c_str())); }
    int Symlink(const std::string& target, const std::string& linkPath) override
    {
        return Result(::symlink(target.c_str(), linkPath.c_str()));
    }

    int ReadLink(const std::string& path, std::string& target) override
    {
        return ReadLinkAt(AT_FDCWD, path, target);
    }

    int MakeNode(const std::string& path, mode_t mode, dev_t device) override
    {
        return Result(::mknod(path.c_str(), mode, device));
    }
    int Chmod(const std::string& path, mode_t mode) override { return Result(::chmod(path.c_str(), mode)); }
    int Lchown(const std::string& path, uid_t uid, gid_t gid) override
    {
        return Result(::lchown(path.c_str(), uid, gid));
    }
    int SetTimes(const std::string& path, const struct timespec times[2]) override
    {
        return Result(::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW));
    }

    int ListDirectory(const std::string& path, std::vector<std::string>& names) override
    {
        DIR* dir = ::opendir(path.c_str());
        if (!dir)
            return -errno;
        return ReadNames(dir, names);
    }

    // Reads and closes dir.
    static int ReadNames(DIR* dir, std::vector<std::string>& names)
    {
        names.clear();
        for (;;) {
            errno = 0;
            const dirent* entry = ::readdir(dir);
            if (!entry)
                break;
            const char* n = entry->d_name;
            if (n[0] == '.' && (n[1] == '\0' || (n[1] == '.' && n[2] == '\0')))
                continue;
            names.emplace_back(n);
        }
        const int error = errno;
        ::closedir(dir);
        return -error;
    }

    int RealPath(const std::string& path, std::string& resolved) override
    {
        char* real = ::realpath(path.c_str(), nullptr);
        if (!real)
            return -errno;
        resolved = real;
        std::free(real);
        return 0;
    }

    int MountPointOf(const std::string& path, std::string& mountPoint) override
    {
        std::string real;
        if (const int rc = RealPath(path, real); rc < 0)
            return rc;
        struct stat st;
        if (::stat(real.c_str(), &st) < 0)
            return -errno;
        // The mount table knows bind mounts; the device walk below is the answer
        // when the table and the path disagree (a mount made or gone meanwhile).
        const std::string fromTable = VolumeRootOf(real);
        struct stat rootSt;
        if (::stat(fromTable.c_str(), &rootSt) == 0 && rootSt.st_dev == st.st_dev) {
            mountPoint = fromTable;
            return 0;
        }
        std::string current = real;
        while (current != "/") {
            const std::string parent = ParentOf(current);
            struct stat parentSt;
            if (::stat(parent.c_str(), &parentSt) < 0 || parentSt.st_dev != st.st_dev)
                break;
            current = parent;
        }
        mountPoint = current;
        return 0;
    }

    int OpenAt(int dirFd, const std::string& name, int flags, mode_t mode) override
    {
        int fd;
        do
            fd = ::openat(dirFd, name.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
        while (fd < 0 && errno == EINTR);
        return Result(fd);
    }
    int StatAt(int dirFd, const std::string& name, struct stat& st) override
    {
        return Result(::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW));
    }
    int MkdirAt(int dirFd, const std::string& name, mode_t mode) override
    {
        return Result(::mkdirat(dirFd, name.c_str(), mode));
    }
    int UnlinkAt(int dirFd, const std::string& name, bool directory) override
    {
        return Result(::unlinkat(dirFd, name.c_str(), directory ? AT_REMOVEDIR : 0));
    }
    int RenameAt(int fromDirFd, const std::string& from, int toDirFd, const std::string& to,
                 RenameMode mode) override
    {
        return Result(::renameat2(fromDirFd, from.c_str(), toDirFd, to.c_str(),
                                  mode == RenameMode::NoReplace ? RENAME_NOREPLACE : 0));
    }
    int SymlinkAt(const std::string& target, int dirFd, const std::string& name) override
    {
        return Result(::symlinkat(target.c_str(), dirFd, name.c_str()));
    }
    int ReadLinkAt(int dirFd, const std::string& name, std::string& target) override
    {
        // st_size of a link is unreliable on some file systems (/proc, some FUSE):
        // grow until the answer is shorter than the buffer.
        std::string buffer(256, '\0');
        for (;;) {
            const ssize_t n = ::readlinkat(dirFd, name.c_str(), buffer.data(), buffer.size());
            if (n < 0)
                return -errno;
            if (size_t(n) < buffer.size()) {
                buffer.resize(size_t(n));
                target = std::move(buffer);
                return 0;
            }
            if (buffer.size() >= (1u << 20))
                return -ENAMETOOLONG;
            buffer.resize(buffer.size() * 4);
        }
    }
    int MakeNodeAt(int dirFd, const std::string& name, mode_t mode, dev_t device) override
    {
        return Result(::mknodat(dirFd, name.c_str(), mode, device));
    }
    int ChmodAt(int dirFd, const std::string& name, mode_t mode) override
    {
        return Result(::fchmodat(dirFd, name.c_str(), mode, 0));
    }
    int LchownAt(int dirFd, const std::string& name, uid_t uid, gid_t gid) override
    {
        return Result(::fchownat(dirFd, name.c_str(), uid, gid, AT_SYMLINK_NOFOLLOW));
    }
    int SetTimesAt(int dirFd, const std::string& name, const struct timespec times[2]) override
    {
        return Result(::utimensat(dirFd, name.c_str(), times, AT_SYMLINK_NOFOLLOW));
    }

    int CopyXattrsFd(int fromFd, int toFd) override
    {
        std::vector<char> list(1024);
        ssize_t listSize = ::flistxattr(fromFd, list.data(), list.size());
        if (listSize < 0 && errno == ERANGE) {
            listSize = ::flistxattr(fromFd, nullptr, 0);
            if (listSize > 0) {
                list.resize(size_t(listSize));
                listSize = ::flistxattr(fromFd, list.data(), list.size());
            }
        }
        if (listSize < 0)
            return errno == ENOTSUP ? 0 : -errno;
        int firstError = 0;
        std::string value;
        for (const char* name = list.data(); name < list.data() + listSize;
             name += std::char_traits<char>::length(name) + 1) {
            const ssize_t valueSize = ::fgetxattr(fromFd, name, nullptr, 0);
            if (valueSize < 0)
                continue; // removed meanwhile
            value.resize(size_t(valueSize));
            const ssize_t got = ::fgetxattr(fromFd, name, value.data(), value.size());
            if (got < 0)
                continue;
            if (::fsetxattr(toFd, name, value.data(), size_t(got), 0) < 0 && firstError == 0 && errno != ENOTSUP)
                firstError = -errno;
        }
        return firstError;
    }

    int ListDirectoryFd(int dirFd, std::vector<std::string>& names) override
    {
        // fdopendir takes the descriptor over: give it a copy, rewound.
        const int copy = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (copy < 0)
            return -errno;
        DIR* dir = ::fdopendir(copy);
        if (!dir) {
            const int error = errno;
            ::close(copy);
            return -error;
        }
        return ReadNames(dir, names);
    }
};

} // namespace

FileSystem& RealFileSystem()
{
    static PosixFileSystem instance;
    return instance;
}

} // namespace tarnel
