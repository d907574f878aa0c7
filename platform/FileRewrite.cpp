#include "platform/FileRewrite.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnel {

FileStamp StampFrom(const struct stat& st)
{
    FileStamp s;
    s.dev = st.st_dev;
    s.ino = st.st_ino;
    s.size = st.st_size;
    s.mtimeSec = st.st_mtim.tv_sec;
    s.mtimeNsec = st.st_mtim.tv_nsec;
    return s;
}

namespace {

bool WriteAllAt(int fd, const std::string& data)
{
    size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::pwrite(fd, data.data() + done, data.size() - done, off_t(done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        done += size_t(n);
    }
    return true;
}

std::string DirOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void SyncDir(const std::string& dir)
{
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        (void)::fsync(fd);
        ::close(fd);
    }
}

// A new file dir/<stem>XXXXXXXXXX with the given mode (the umask applies).
int CreateUnique(const std::string& dir, const std::string& stem, mode_t mode, std::string& name)
{
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        name = dir + "/" + stem;
        for (int i = 0; i < 10; ++i)
            name += kLetters[random() % (sizeof kLetters - 1)];
        const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

// Writes data to a new file in dir and syncs it and its name; the path, or
// "" with errno set.
std::string WriteCopy(const std::string& dir, const std::string& stem, mode_t mode, const std::string& data)
{
    std::string name;
    const int fd = CreateUnique(dir, stem, mode, name);
    if (fd < 0)
        return {};
    int error = 0;
    if (!WriteAllAt(fd, data) || ::fsync(fd) != 0)
        error = errno ? errno : EIO;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error != 0) {
        ::unlink(name.c_str());
        errno = error;
        return {};
    }
    SyncDir(dir);
    return name;
}

bool MakeDirs(const std::string& dir)
{
    if (dir.empty() || dir[0] != '/')
        return false;
    for (size_t at = 1; at <= dir.size(); ++at) {
        if (at < dir.size() && dir[at] != '/')
            continue;
        const std::string part = dir.substr(0, at);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    struct stat st;
    return ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The copy's name says what it is a copy of, so that it is found after a crash.
std::string CopyStem(const std::string& path)
{
    std::string base = BaseOf(path);
    if (base.size() > 180) // room for the rest within a name's 255 bytes
        base.resize(180);
    return "." + base + ".tarnel-save-";
}

RewriteResult Fail(RewriteStatus status, int error)
{
    RewriteResult r;
    r.status = status;
    r.error = std::strerror(error);
    return r;
}

// A name with no file: the new file appears whole under it, or not at all.
RewriteResult CreateNew(const std::string& path, const std::string& data)
{
    const std::string dir = DirOf(path);
    const std::string temp = WriteCopy(dir, CopyStem(path), 0666, data);
    if (temp.empty())
        return Fail(RewriteStatus::Failed, errno);
    int rc = ::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE);
    if (rc != 0 && (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
        // No RENAME_NOREPLACE here: link() refuses an existing name just as well.
        rc = ::link(temp.c_str(), path.c_str());
        if (rc == 0)
            ::unlink(temp.c_str());
    }
    if (rc != 0) {
        const int error = errno;
        ::unlink(temp.c_str());
        return Fail(error == EEXIST ? RewriteStatus::Changed : RewriteStatus::Failed, error);
    }
    SyncDir(dir);
    RewriteResult r;
    r.status = RewriteStatus::Written;
    return r;
}

} // namespace

bool StampOf(const std::string& path, FileStamp& stamp)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return false;
    stamp = StampFrom(st);
    return true;
}

int CreateBeside(const std::string& path, mode_t mode, std::string& name)
{
    return CreateUnique(DirOf(path), CopyStem(path), mode, name);
}

void SyncFolderOf(const std::string& path) { SyncDir(DirOf(path)); }

std::string RewriteSpareDir()
{
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && state[0] == '/')
        return std::string(state) + "/tarnel";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/')
        return std::string(home) + "/.local/state/tarnel";
    return {};
}

RewriteResult RewriteFile(const std::string& path, const std::string& data, const FileStamp* expected)
{
    // O_PATH opens nothing: a fifo or a device is looked at, never opened.
    const int probe = ::open(path.c_str(), O_PATH | O_CLOEXEC);
    if (probe < 0) {
        const int error = errno;
        if (error == ENOENT && !expected)
            return CreateNew(path, data);
        return Fail(error == ENOENT ? RewriteStatus::Changed : RewriteStatus::Failed, error);
    }
    struct stat st;
    if (::fstat(probe, &st) != 0) {
        const int error = errno;
        ::close(probe);
        return Fail(RewriteStatus::Failed, error);
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(probe);
        return Fail(RewriteStatus::NotRegular, EINVAL);
    }
    if (expected && StampFrom(st) != *expected) {
        ::close(probe);
        return Fail(RewriteStatus::Changed, EBUSY);
    }
    // Root may write anything: the owner's write bit is what makes a file
    // read-only, for every user alike.
    if (!(st.st_mode & S_IWUSR)) {
        ::close(probe);
        return Fail(RewriteStatus::ReadOnly, EACCES);
    }
    // The very inode looked at, not whatever the name holds by now.
    // Non-blocking: a lease another program holds on the file (a file
    // server's) would otherwise hold the open, and the window, for the whole
    // lease break time.
    const std::string self = "/proc/self/fd/" + std::to_string(probe);
    const int writeFlags = O_WRONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK;
    int fd = ::open(self.c_str(), writeFlags);
    if (fd < 0 && errno == ENOENT)
        fd = ::open(path.c_str(), writeFlags);
    int error = errno;
    if (fd >= 0)
        (void)::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    // The copy goes beside the file the name leads to.
    std::string real;
    {
        char buffer[4096];
        const ssize_t n = ::readlink(self.c_str(), buffer, sizeof buffer);
        real = n > 0 && size_t(n) < sizeof buffer && buffer[0] == '/' ? std::string(buffer, size_t(n)) : path;
    }
    ::close(probe);
    if (fd < 0)
        return Fail(error == EACCES || error == EPERM || error == EROFS || error == ETXTBSY ? RewriteStatus::NotAllowed
                                                                                           : RewriteStatus::Failed,
                    error);
    struct stat opened;
    if (::fstat(fd, &opened) != 0 || opened.st_dev != st.st_dev || opened.st_ino != st.st_ino) {
        ::close(fd);
        return Fail(RewriteStatus::Changed, EBUSY);
    }

    // The new contents, whole and synced, before the file is touched. The copy
    // is private (0600): the file may be readable by its owner alone.
    std::string copy = WriteCopy(DirOf(real), CopyStem(real), 0600, data);
    if (copy.empty()) {
        // A read-only folder, or a full disk: the user's state directory.
        const std::string spare = RewriteSpareDir();
        if (!spare.empty() && MakeDirs(spare))
            copy = WriteCopy(spare, CopyStem(real), 0600, data);
        if (copy.empty()) {
            error = errno;
            ::close(fd);
            return Fail(RewriteStatus::Failed, error);
        }
    }
    auto removeCopy = [&] { ::unlink(copy.c_str()); };

    // Room for the longer contents first, so that a full disk stops the save
    // before the old contents are touched.
    if (int64_t(data.size()) > int64_t(st.st_size) &&
        ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, off_t(data.size())) != 0 &&
        (errno == ENOSPC || errno == EDQUOT || errno == EFBIG)) {
        error = errno;
        ::close(fd);
        removeCopy();
        return Fail(RewriteStatus::Failed, error);
    }

    error = 0;
    if (!WriteAllAt(fd, data) || ::ftruncate(fd, off_t(data.size())) != 0 || ::fsync(fd) != 0)
        error = errno ? errno : EIO;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error != 0) {
        RewriteResult r = Fail(RewriteStatus::Incomplete, error);
        r.keptCopy = copy;
        return r;
    }
    removeCopy();
    RewriteResult r;
    r.status = RewriteStatus::Written;
    return r;
}

} // namespace tarnel
