// A file system whose server has gone away: every lookup, getattr, readdir,
// open and statfs waits a set number of seconds before it answers. The tests
// mount it to check that no wait of this kind reaches the window's thread.
//
//   sleepy_fs SECONDS MOUNTPOINT [FSNAME [SUBTYPE]]
//
// It stays in the foreground and ends with its parent, so a test that dies
// never leaves a live mount behind; the mount goes with it.
//
// With TARNEL_SLEEPY_FILES naming a folder, its regular files are served
// beside file.txt with their contents (named and opened as slowly).
// With TARNEL_SLEEPY_SLOW_READS set to OFFSET:SWITCH, their reads of bytes
// past OFFSET wait as long too while the file SWITCH exists (the server goes
// away and comes back while a file is open), and nothing is kept in the
// page cache: every read of the file reaches the server.
#define FUSE_USE_VERSION 31

#include <fuse.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <dirent.h>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <ctime>
#include <unistd.h>

namespace {

unsigned int delaySeconds;
const char* filesFrom; // TARNEL_SLEEPY_FILES, or null
long long slowFrom = -1; // TARNEL_SLEEPY_SLOW_READS
std::string slowWhile;

// The file of filesFrom that path names at the top, or "".
std::string ServedFile(const char* path)
{
    if (!filesFrom || path[0] != '/' || strchr(path + 1, '/') || strcmp(path, "/") == 0)
        return {};
    const std::string file = std::string(filesFrom) + path;
    struct stat st;
    return lstat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? file : std::string();
}

// Each answer takes its full time, signals or not.
void Wait()
{
    struct timespec left = {time_t(delaySeconds), 0};
    while (nanosleep(&left, &left) != 0 && errno == EINTR)
        ;
}

void* Init(fuse_conn_info*, fuse_config* cfg)
{
    // Every question goes to the server: nothing answers from the cache.
    cfg->entry_timeout = 0;
    cfg->attr_timeout = 0;
    cfg->negative_timeout = 0;
    return nullptr;
}

int GetAttr(const char* path, struct stat* st, fuse_file_info*)
{
    Wait();
    memset(st, 0, sizeof *st);
    if (strcmp(path, "/") == 0) {
        st->st_mode = S_IFDIR | 0755;
        st->st_nlink = 2;
        return 0;
    }
    if (strcmp(path, "/file.txt") == 0) {
        st->st_mode = S_IFREG | 0644;
        st->st_nlink = 1;
        st->st_size = 6;
        return 0;
    }
    const std::string served = ServedFile(path);
    struct stat real;
    if (!served.empty() && lstat(served.c_str(), &real) == 0) {
        st->st_mode = S_IFREG | 0644;
        st->st_nlink = 1;
        st->st_size = real.st_size;
        st->st_mtime = real.st_mtime;
        return 0;
    }
    return -ENOENT;
}

int ReadDir(const char* path, void* buf, fuse_fill_dir_t fill, off_t, fuse_file_info*, fuse_readdir_flags)
{
    Wait();
    if (strcmp(path, "/") != 0)
        return -ENOENT;
    fill(buf, ".", nullptr, 0, fuse_fill_dir_flags(0));
    fill(buf, "..", nullptr, 0, fuse_fill_dir_flags(0));
    fill(buf, "file.txt", nullptr, 0, fuse_fill_dir_flags(0));
    if (DIR* dir = filesFrom ? opendir(filesFrom) : nullptr) {
        while (const dirent* e = readdir(dir))
            if (!ServedFile((std::string("/") + e->d_name).c_str()).empty())
                fill(buf, e->d_name, nullptr, 0, fuse_fill_dir_flags(0));
        closedir(dir);
    }
    return 0;
}

int Open(const char* path, fuse_file_info* info)
{
    Wait();
    if (slowFrom >= 0)
        info->direct_io = 1;
    return strcmp(path, "/file.txt") == 0 || !ServedFile(path).empty() ? 0 : -ENOENT;
}

int OpenDir(const char*, fuse_file_info*)
{
    Wait();
    return 0;
}

int Read(const char* path, char* buf, size_t size, off_t offset, fuse_file_info*)
{
    const std::string served = ServedFile(path);
    if (!served.empty() && slowFrom >= 0 && offset + off_t(size) > slowFrom && access(slowWhile.c_str(), F_OK) == 0)
        Wait();
    if (!served.empty()) {
        const int fd = open(served.c_str(), O_RDONLY | O_CLOEXEC);
        const ssize_t got = fd >= 0 ? pread(fd, buf, size, offset) : -1;
        if (fd >= 0)
            close(fd);
        return got < 0 ? -EIO : int(got);
    }
    static const char kText[] = "hello\n";
    if (offset >= off_t(sizeof kText - 1))
        return 0;
    if (size > sizeof kText - 1 - size_t(offset))
        size = sizeof kText - 1 - size_t(offset);
    memcpy(buf, kText + offset, size);
    return int(size);
}

int StatFs(const char*, struct statvfs* st)
{
    Wait();
    memset(st, 0, sizeof *st);
    st->f_bsize = st->f_frsize = 4096;
    st->f_blocks = 1000;
    st->f_bfree = st->f_bavail = 250;
    st->f_namemax = 255;
    return 0;
}

int Access(const char*, int)
{
    Wait();
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: %s SECONDS MOUNTPOINT [FSNAME [SUBTYPE]]\n", argv[0]);
        return 2;
    }
    // The test that started us may die without cleaning up: go with it.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() == 1)
        return 1;
    fuse_operations operations{};
    operations.getattr = GetAttr;
    operations.open = Open;
    operations.read = Read;
    operations.statfs = StatFs;
    operations.opendir = OpenDir;
    operations.readdir = ReadDir;
    operations.init = Init;
    operations.access = Access;
    delaySeconds = unsigned(std::strtoul(argv[1], nullptr, 10));
    filesFrom = getenv("TARNEL_SLEEPY_FILES");
    if (const char* slow = getenv("TARNEL_SLEEPY_SLOW_READS")) {
        const char* colon = strchr(slow, ':');
        if (colon) {
            slowFrom = std::strtoll(slow, nullptr, 10);
            slowWhile = colon + 1;
        }
    }
    char options[512];
    snprintf(options, sizeof options, "fsname=%s,subtype=%s", argc > 3 ? argv[3] : "sleepy",
             argc > 4 ? argv[4] : "sleepy");
    char foreground[] = "-f", option[] = "-o";
    char* args[] = {argv[0], foreground, option, options, argv[2], nullptr};
    return fuse_main(5, args, &operations, nullptr);
}
