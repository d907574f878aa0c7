#pragma once
// The real file system with chosen calls failing, for the file-operation
// engine's tests: "the 3rd write to a path containing big.bin fails with
// ENOSPC", "open of X fails with EACCES", "the source vanishes (ENOENT) after
// N bytes", "renames cross volumes (EXDEV)". It also counts calls.
#include "platform/FileSystem.h"

#include <cerrno>
#include <fcntl.h>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace tarnel::test {

enum class FsCall {
    Open,
    Close,
    Read,  // read(2), and the reading side of copy_file_range
    Write, // write(2), and the writing side of copy_file_range
    CopyFileRange,
    Fstat,
    Fsync,
    Fchmod,
    Fchown,
    FSetTimes,
    Stat,
    Lstat,
    Mkdir,
    Rename, // matches the old or the new name
    Unlink,
    Rmdir,
    Symlink, // matches the link's path
    ReadLink,
    MakeNode,
    Chmod,
    Lchown,
    SetTimes,
    CopyXattrs, // matches the target
    ListDirectory,
    RealPath,
    MountPointOf,
    Count_,
};

struct Fault {
    FsCall call;
    std::string pathContains; // "" matches every path
    int error = EIO;
    int nth = 1;    // the first matching call that fails, counting from 1
    int times = 1;  // how many matching calls fail from there on; -1: all of them
    // Read and Write only: the data passes until this many bytes went through
    // descriptors of the matching path, then the calls fail (the call that
    // crosses the mark is cut short at it). -1: counted by calls instead.
    int64_t afterBytes = -1;

    int seen = 0;
    int failed = 0;
};

class FaultyFileSystem : public FileSystem {
public:
    explicit FaultyFileSystem(FileSystem& inner = RealFileSystem())
        : inner_(inner)
    {
    }

    Fault& Add(Fault fault) // the reference stays valid
    {
        faults_.push_back(std::move(fault));
        return faults_.back();
    }
    void Fail(FsCall call, std::string pathContains, int error, int nth = 1, int times = 1)
    {
        Add({call, std::move(pathContains), error, nth, times});
    }
    void FailAlways(FsCall call, std::string pathContains, int error)
    {
        Fail(call, std::move(pathContains), error, 1, -1);
    }
    // Reads of path fail with error once bytes went through.
    void VanishAfter(std::string pathContains, int64_t bytes, int error = ENOENT)
    {
        Add({FsCall::Read, std::move(pathContains), error, 1, -1, bytes});
    }
    void FailWritesAfter(std::string pathContains, int64_t bytes, int error = ENOSPC)
    {
        Add({FsCall::Write, std::move(pathContains), error, 1, -1, bytes});
    }
    void Clear() { faults_.clear(); }

    int Calls(FsCall call) const { return calls_[size_t(call)]; }
    int FailuresInjected() const { return failures_; }
    // Runs before every call, with its path: lets a test change the disk mid-way.
    std::function<void(FsCall, const std::string&)> beforeCall;

    // The nth time the operation enters the folder dir (opens it, or lists it
    // by path), dir becomes a link to linkTarget: someone swapping a folder
    // for a link between the look at it and the walk into it.
    void SwapForLinkWhenEntered(std::string dir, std::string linkTarget, int nth = 1)
    {
        struct State {
            int entered = 0;
            bool opened = false; // a listing of the folder just opened is the same entering
        };
        auto state = std::make_shared<State>();
        auto previous = beforeCall;
        beforeCall = [=](FsCall call, const std::string& path) {
            if (previous)
                previous(call, path);
            if (path != dir || state->entered >= nth)
                return;
            if (call == FsCall::Open || (call == FsCall::ListDirectory && !state->opened))
                ++state->entered;
            state->opened = call == FsCall::Open;
            if (state->entered == nth) {
                std::filesystem::rename(dir, dir + ".swapped-away");
                std::filesystem::create_directory_symlink(linkTarget, dir);
            }
        };
    }

    int Open(const std::string& path, int flags, mode_t mode) override
    {
        if (int e = Check(FsCall::Open, path))
            return -e;
        const int fd = inner_.Open(path, flags, mode);
        if (fd >= 0)
            files_[fd] = {path, 0, 0};
        return fd;
    }
    int Close(int fd) override
    {
        const std::string path = PathOf(fd);
        files_.erase(fd);
        const int rc = inner_.Close(fd);
        if (int e = Check(FsCall::Close, path))
            return -e;
        return rc;
    }
    ssize_t Read(int fd, void* buffer, size_t size) override
    {
        OpenFile& file = files_[fd];
        if (int e = CheckData(FsCall::Read, file.path, file.read, size))
            return -e;
        const ssize_t n = inner_.Read(fd, buffer, size);
        if (n > 0)
            file.read += n;
        return n;
    }
    ssize_t Write(int fd, const void* data, size_t size) override
    {
        OpenFile& file = files_[fd];
        if (int e = CheckData(FsCall::Write, file.path, file.written, size))
            return -e;
        const ssize_t n = inner_.Write(fd, data, size);
        if (n > 0)
            file.written += n;
        return n;
    }
    ssize_t CopyFileRange(int inFd, int outFd, size_t size) override
    {
        OpenFile& in = files_[inFd];
        OpenFile& out = files_[outFd];
        if (int e = Check(FsCall::CopyFileRange, in.path))
            return -e;
        if (int e = CheckData(FsCall::Read, in.path, in.read, size))
            return -e;
        if (int e = CheckData(FsCall::Write, out.path, out.written, size))
            return -e;
        const ssize_t n = inner_.CopyFileRange(inFd, outFd, size);
        if (n > 0) {
            in.read += n;
            out.written += n;
        }
        return n;
    }
    int Fstat(int fd, struct stat& st) override
    {
        return Checked(FsCall::Fstat, PathOf(fd), [&] { return inner_.Fstat(fd, st); });
    }
    int Fsync(int fd) override { return Checked(FsCall::Fsync, PathOf(fd), [&] { return inner_.Fsync(fd); }); }
    int Fchmod(int fd, mode_t mode) override
    {
        return Checked(FsCall::Fchmod, PathOf(fd), [&] { return inner_.Fchmod(fd, mode); });
    }
    int Fchown(int fd, uid_t uid, gid_t gid) override
    {
        return Checked(FsCall::Fchown, PathOf(fd), [&] { return inner_.Fchown(fd, uid, gid); });
    }
    int FSetTimes(int fd, const struct timespec times[2]) override
    {
        return Checked(FsCall::FSetTimes, PathOf(fd), [&] { return inner_.FSetTimes(fd, times); });
    }
    int Stat(const std::string& path, struct stat& st) override
    {
        return Checked(FsCall::Stat, path, [&] { return inner_.Stat(path, st); });
    }
    int Lstat(const std::string& path, struct stat& st) override
    {
        return Checked(FsCall::Lstat, path, [&] { return inner_.Lstat(path, st); });
    }
    int Mkdir(const std::string& path, mode_t mode) override
    {
        return Checked(FsCall::Mkdir, path, [&] { return inner_.Mkdir(path, mode); });
    }
    int Rename(const std::string& from, const std::string& to, RenameMode mode) override
    {
        return Checked(FsCall::Rename, from, to, [&] { return inner_.Rename(from, to, mode); });
    }
    int Unlink(const std::string& path) override
    {
        return Checked(FsCall::Unlink, path, [&] { return inner_.Unlink(path); });
    }
    int Rmdir(const std::string& path) override
    {
        return Checked(FsCall::Rmdir, path, [&] { return inner_.Rmdir(path); });
    }
    int Symlink(const std::string& target, const std::string& linkPath) override
    {
        return Checked(FsCall::Symlink, linkPath, [&] { return inner_.Symlink(target, linkPath); });
    }
    int ReadLink(const std::string& path, std::string& target) override
    {
        return Checked(FsCall::ReadLink, path, [&] { return inner_.ReadLink(path, target); });
    }
    int MakeNode(const std::string& path, mode_t mode, dev_t device) override
    {
        return Checked(FsCall::MakeNode, path, [&] { return inner_.MakeNode(path, mode, device); });
    }
    int Chmod(const std::string& path, mode_t mode) override
    {
        return Checked(FsCall::Chmod, path, [&] { return inner_.Chmod(path, mode); });
    }
    int Lchown(const std::string& path, uid_t uid, gid_t gid) override
    {
        return Checked(FsCall::Lchown, path, [&] { return inner_.Lchown(path, uid, gid); });
    }
    int SetTimes(const std::string& path, const struct timespec times[2]) override
    {
        return Checked(FsCall::SetTimes, path, [&] { return inner_.SetTimes(path, times); });
    }
    int ListDirectory(const std::string& path, std::vector<std::string>& names) override
    {
        return Checked(FsCall::ListDirectory, path, [&] { return inner_.ListDirectory(path, names); });
    }
    int RealPath(const std::string& path, std::string& resolved) override
    {
        return Checked(FsCall::RealPath, path, [&] { return inner_.RealPath(path, resolved); });
    }
    int MountPointOf(const std::string& path, std::string& mountPoint) override
    {
        return Checked(FsCall::MountPointOf, path, [&] { return inner_.MountPointOf(path, mountPoint); });
    }

    int OpenAt(int dirFd, const std::string& name, int flags, mode_t mode) override
    {
        const std::string path = PathAt(dirFd, name);
        if (int e = Check(FsCall::Open, path))
            return -e;
        const int fd = inner_.OpenAt(dirFd, name, flags, mode);
        if (fd >= 0)
            files_[fd] = {path, 0, 0};
        return fd;
    }
    int StatAt(int dirFd, const std::string& name, struct stat& st) override
    {
        return Checked(FsCall::Lstat, PathAt(dirFd, name), [&] { return inner_.StatAt(dirFd, name, st); });
    }
    int MkdirAt(int dirFd, const std::string& name, mode_t mode) override
    {
        return Checked(FsCall::Mkdir, PathAt(dirFd, name), [&] { return inner_.MkdirAt(dirFd, name, mode); });
    }
    int UnlinkAt(int dirFd, const std::string& name, bool directory) override
    {
        return Checked(directory ? FsCall::Rmdir : FsCall::Unlink, PathAt(dirFd, name),
                       [&] { return inner_.UnlinkAt(dirFd, name, directory); });
    }
    int RenameAt(int fromDirFd, const std::string& from, int toDirFd, const std::string& to,
                 RenameMode mode) override
    {
        return Checked(FsCall::Rename, PathAt(fromDirFd, from), PathAt(toDirFd, to),
                       [&] { return inner_.RenameAt(fromDirFd, from, toDirFd, to, mode); });
    }
    int SymlinkAt(const std::string& target, int dirFd, const std::string& name) override
    {
        return Checked(FsCall::Symlink, PathAt(dirFd, name), [&] { return inner_.SymlinkAt(target, dirFd, name); });
    }
    int ReadLinkAt(int dirFd, const std::string& name, std::string& target) override
    {
        return Checked(FsCall::ReadLink, PathAt(dirFd, name), [&] { return inner_.ReadLinkAt(dirFd, name, target); });
    }
    int MakeNodeAt(int dirFd, const std::string& name, mode_t mode, dev_t device) override
    {
        return Checked(FsCall::MakeNode, PathAt(dirFd, name),
                       [&] { return inner_.MakeNodeAt(dirFd, name, mode, device); });
    }
    int ChmodAt(int dirFd, const std::string& name, mode_t mode) override
    {
        return Checked(FsCall::Chmod, PathAt(dirFd, name), [&] { return inner_.ChmodAt(dirFd, name, mode); });
    }
    int LchownAt(int dirFd, const std::string& name, uid_t uid, gid_t gid) override
    {
        return Checked(FsCall::Lchown, PathAt(dirFd, name), [&] { return inner_.LchownAt(dirFd, name, uid, gid); });
    }
    int SetTimesAt(int dirFd, const std::string& name, const struct timespec times[2]) override
    {
        return Checked(FsCall::SetTimes, PathAt(dirFd, name), [&] { return inner_.SetTimesAt(dirFd, name, times); });
    }
    int CopyXattrsFd(int fromFd, int toFd) override
    {
        return Checked(FsCall::CopyXattrs, PathOf(toFd), [&] { return inner_.CopyXattrsFd(fromFd, toFd); });
    }
    int ListDirectoryFd(int dirFd, std::vector<std::string>& names) override
    {
        return Checked(FsCall::ListDirectory, PathOf(dirFd), [&] { return inner_.ListDirectoryFd(dirFd, names); });
    }

private:
    struct OpenFile {
        std::string path;
        int64_t read = 0;
        int64_t written = 0;
    };

    static bool Matches(const Fault& f, FsCall call, const std::string& path)
    {
        return f.call == call && (f.pathContains.empty() || path.find(f.pathContains) != std::string::npos);
    }

    // The errno a call fails with, 0 when it goes through.
    int Check(FsCall call, const std::string& path, const std::string& otherPath = {})
    {
        ++calls_[size_t(call)];
        if (beforeCall)
            beforeCall(call, path);
        for (Fault& f : faults_) {
            if (f.afterBytes >= 0 || !(Matches(f, call, path) || (!otherPath.empty() && Matches(f, call, otherPath))))
                continue;
            ++f.seen;
            if (f.seen >= f.nth && (f.times < 0 || f.failed < f.times)) {
                ++f.failed;
                ++failures_;
                return f.error;
            }
        }
        return 0;
    }

    int CheckData(FsCall call, const std::string& path, int64_t transferred, size_t& size)
    {
        if (int e = Check(call, path))
            return e;
        for (Fault& f : faults_) {
            if (f.afterBytes < 0 || !Matches(f, call, path))
                continue;
            if (transferred >= f.afterBytes) {
                ++f.failed;
                ++failures_;
                return f.error;
            }
            if (int64_t(size) > f.afterBytes - transferred)
                size = size_t(f.afterBytes - transferred);
        }
        return 0;
    }

    template <typename Call>
    int Checked(FsCall call, const std::string& path, Call&& inner)
    {
        if (int e = Check(call, path))
            return -e;
        return inner();
    }
    template <typename Call>
    int Checked(FsCall call, const std::string& path, const std::string& otherPath, Call&& inner)
    {
        if (int e = Check(call, path, otherPath))
            return -e;
        return inner();
    }

    std::string PathAt(int dirFd, const std::string& name) const
    {
        if (dirFd == AT_FDCWD || name.starts_with('/'))
            return name;
        const std::string dir = PathOf(dirFd);
        return !dir.empty() && dir.back() == '/' ? dir + name : dir + "/" + name;
    }

    std::string PathOf(int fd) const
    {
        auto it = files_.find(fd);
        return it == files_.end() ? std::string() : it->second.path;
    }

    FileSystem& inner_;
    std::deque<Fault> faults_;
    std::map<int, OpenFile> files_;
    int calls_[size_t(FsCall::Count_)] = {};
    int failures_ = 0;
};

} // namespace tarnel::test
