#pragma once
// The system calls the file-operation engine makes, behind one interface so
// that tests can make any of them fail (a full disk, a vanished source, a
// rename across volumes) and benchmarks can count them.
//
// Paths are raw bytes. Every call returns a negative errno on failure, so an
// error code cannot be clobbered between the failing call and its report.
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>

namespace tarnel {

enum class RenameMode {
    Replace,   // rename(2): an existing target is replaced atomically
    NoReplace, // renameat2 RENAME_NOREPLACE: -EEXIST when the target exists;
               // -EINVAL or -ENOSYS where the file system cannot do it
};

class FileSystem {
public:
    virtual ~FileSystem() = default;

    virtual int Open(const std::string& path, int flags, mode_t mode) = 0; // fd; O_CLOEXEC is added
    virtual int Close(int fd) = 0;
    virtual ssize_t Read(int fd, void* buffer, size_t size) = 0;
    virtual ssize_t Write(int fd, const void* data, size_t size) = 0; // may write less than size
    // copy_file_range at both files' current offsets. -EXDEV, -EINVAL, -ENOSYS
    // or -EOPNOTSUPP mean "not here": the caller falls back to Read/Write.
    virtual ssize_t CopyFileRange(int inFd, int outFd, size_t size) = 0;
    virtual int Fstat(int fd, struct stat& st) = 0;
    virtual int Fsync(int fd) = 0;
    virtual int Fchmod(int fd, mode_t mode) = 0;
    virtual int Fchown(int fd, uid_t uid, gid_t gid) = 0;
    virtual int FSetTimes(int fd, const struct timespec times[2]) = 0; // atime, mtime

    virtual int Stat(const std::string& path, struct stat& st) = 0;  // follows links
    virtual int Lstat(const std::string& path, struct stat& st) = 0; // does not
    virtual int Mkdir(const std::string& path, mode_t mode) = 0;
    virtual int Rename(const std::string& from, const std::string& to, RenameMode mode) = 0;
    virtual int Unlink(const std::string& path) = 0;
    virtual int Rmdir(const std::string& path) = 0;
    virtual int Symlink(const std::string& target, const std::string& linkPath) = 0;
    virtual int ReadLink(const std::string& path, std::string& target) = 0;
    virtual int MakeNode(const std::string& path, mode_t mode, dev_t device) = 0; // fifos, sockets, devices
    virtual int Chmod(const std::string& path, mode_t mode) = 0;                  // follows links
    virtual int Lchown(const std::string& path, uid_t uid, gid_t gid) = 0;
    virtual int SetTimes(const std::string& path, const struct timespec times[2]) = 0; // of a link itself
    // The names in a directory, "." and ".." left out, in directory order.
    virtual int ListDirectory(const std::string& path, std::vector<std::string>& names) = 0;
    virtual int RealPath(const std::string& path, std::string& resolved) = 0;
    // The mount point of the volume holding the existing path (links resolved).
    virtual int MountPointOf(const std::string& path, std::string& mountPoint) = 0;

    // Relative to an open directory, so that a tree is walked without
    // resolving a path that someone could swap for a link meanwhile. The name
    // is one component; its last step is never followed.
    virtual int OpenAt(int dirFd, const std::string& name, int flags, mode_t mode) = 0; // O_NOFOLLOW, O_CLOEXEC added
    virtual int StatAt(int dirFd, const std::string& name, struct stat& st) = 0;
    virtual int MkdirAt(int dirFd, const std::string& name, mode_t mode) = 0;
    virtual int UnlinkAt(int dirFd, const std::string& name, bool directory) = 0;
    virtual int RenameAt(int fromDirFd, const std::string& from, int toDirFd, const std::string& to,
                         RenameMode mode) = 0;
    virtual int SymlinkAt(const std::string& target, int dirFd, const std::string& name) = 0;
    virtual int ReadLinkAt(int dirFd, const std::string& name, std::string& target) = 0;
    virtual int MakeNodeAt(int dirFd, const std::string& name, mode_t mode, dev_t device) = 0;
    virtual int ChmodAt(int dirFd, const std::string& name, mode_t mode) = 0; // not for links
    virtual int LchownAt(int dirFd, const std::string& name, uid_t uid, gid_t gid) = 0;
    virtual int SetTimesAt(int dirFd, const std::string& name, const struct timespec times[2]) = 0;
    // Copies the extended attributes (user.DOSATTRIB among them) from one open
    // file to another, as far as the target takes them; a file system without
    // them is not an error.
    virtual int CopyXattrsFd(int fromFd, int toFd) = 0;
    // The names in an open directory, as ListDirectory; the descriptor stays open.
    virtual int ListDirectoryFd(int dirFd, std::vector<std::string>& names) = 0;
};

// The machine's own file system. Thread-safe: it keeps no state.
FileSystem& RealFileSystem();

} // namespace tarnel
