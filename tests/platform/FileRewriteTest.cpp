// Rewriting a user's file in place: what the file keeps, what is refused, and
// what a full disk leaves.
#include "platform/FileRewrite.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include <fcntl.h>
#include <grp.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace tarnel;
namespace fs = std::filesystem;

namespace {

constexpr uid_t kOther = 65534; // nobody

std::string ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteFile(const std::string& path, const std::string& data)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
}

std::vector<std::string> Names(const std::string& dir)
{
    std::vector<std::string> names;
    if (fs::exists(dir))
        for (const auto& e : fs::directory_iterator(dir))
            names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

struct FileRewriteTest : ::testing::Test {
    void SetUp() override
    {
        char tmpl[] = "/tmp/tarnel-rewrite-XXXXXX";
        root = mkdtemp(tmpl);
        ::chmod(root.c_str(), 0755);
        spare = root + "/state";
        const char* old = std::getenv("XDG_STATE_HOME");
        oldState = old ? old : "";
        hadState = old != nullptr;
        setenv("XDG_STATE_HOME", spare.c_str(), 1);
    }
    void TearDown() override
    {
        if (hadState)
            setenv("XDG_STATE_HOME", oldState.c_str(), 1);
        else
            unsetenv("XDG_STATE_HOME");
        fs::remove_all(root);
    }
    // Runs body as another user in a child; its result is the exit status.
    int AsOtherUser(const std::function<int()>& body)
    {
        const pid_t pid = fork();
        if (pid == 0) {
            if (setgroups(0, nullptr) != 0 || setresgid(kOther, kOther, kOther) != 0 ||
                setresuid(kOther, kOther, kOther) != 0)
                _exit(99);
            _exit(body());
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 98;
    }

    std::string root, spare, oldState;
    bool hadState = false;
};

TEST_F(FileRewriteTest, TheFileKeepsItsInodeOwnerModeAttributesAndLinks)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to give the file another owner";
    const std::string file = root + "/notes.txt";
    const std::string link = root + "/other-name.txt";
    WriteFile(file, "old contents, long enough to shrink\n");
    ASSERT_EQ(::link(file.c_str(), link.c_str()), 0);
    ASSERT_EQ(::chown(file.c_str(), kOther, kOther), 0);
    ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
    const bool xattrs = ::setxattr(file.c_str(), "user.DOSATTRIB", "0x21", 4, 0) == 0;
    struct stat before;
    ASSERT_EQ(::stat(file.c_str(), &before), 0);

    for (const std::string& data : {std::string("short\r\n"), std::string(100000, 'x')}) {
        const RewriteResult r = RewriteFile(file, data);
        ASSERT_EQ(r.status, RewriteStatus::Written) << r.error;
        EXPECT_EQ(ReadAll(file), data);
        EXPECT_EQ(ReadAll(link), data);
        struct stat after;
        ASSERT_EQ(::stat(file.c_str(), &after), 0);
        EXPECT_EQ(after.st_ino, before.st_ino);
        EXPECT_EQ(after.st_nlink, 2u);
        EXPECT_EQ(after.st_uid, kOther);
        EXPECT_EQ(after.st_gid, kOther);
        EXPECT_EQ(after.st_mode & 07777, 0640u);
        if (xattrs) {
            char value[16] = {};
            EXPECT_EQ(::getxattr(file.c_str(), "user.DOSATTRIB", value, sizeof value), 4);
            EXPECT_STREQ(value, "0x21");
        }
        // The synced copy is gone once the file is written.
        EXPECT_EQ(Names(root), (std::vector<std::string>{"notes.txt", "other-name.txt"}));
        EXPECT_TRUE(Names(spare + "/tarnel").empty());
    }
    // Through a symbolic link the file it names is written, the link stays.
    const std::string symlink = root + "/via-link";
    ASSERT_EQ(::symlink("notes.txt", symlink.c_str()), 0);
    ASSERT_EQ(RewriteFile(symlink, "linked").status, RewriteStatus::Written);
    EXPECT_EQ(ReadAll(file), "linked");
    EXPECT_TRUE(fs::is_symlink(symlink));
}

TEST_F(FileRewriteTest, FilesTheUserMayNotWriteAreRefusedAndLeftAlone)
{
    // The read-only attribute holds for every user, root included.
    const std::string file = root + "/readonly.txt";
    WriteFile(file, "keep");
    ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
    EXPECT_EQ(RewriteFile(file, "lost").status, RewriteStatus::ReadOnly);
    EXPECT_EQ(ReadAll(file), "keep");

    // Another user's file that only its owner may write.
    const std::string theirs = root + "/theirs.txt";
    WriteFile(theirs, "theirs");
    ASSERT_EQ(::chmod(theirs.c_str(), 0644), 0);
    if (geteuid() == 0) {
        EXPECT_EQ(AsOtherUser([&] { return int(RewriteFile(theirs, "mine").status); }),
                  int(RewriteStatus::NotAllowed));
        EXPECT_EQ(ReadAll(theirs), "theirs");
    }

    // Never opened: a fifo would block or take a writer's data.
    const std::string fifo = root + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
    EXPECT_EQ(RewriteFile(fifo, "x").status, RewriteStatus::NotRegular);
    EXPECT_EQ(Names(root), (std::vector<std::string>{"fifo", "readonly.txt", "theirs.txt"}));
}

TEST_F(FileRewriteTest, AFileUnderAnotherProgramsLeaseIsRefusedAtOnce)
{
    const std::string file = root + "/leased.txt";
    WriteFile(file, "keep");
    int ready[2], done[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(done), 0);
    const pid_t holder = fork();
    if (holder == 0) {
        // A holder that does not give the lease up when asked.
        ::signal(SIGIO, SIG_IGN);
        const int fd = ::open(file.c_str(), O_RDONLY);
        const char ok = fd >= 0 && ::fcntl(fd, F_SETLEASE, F_RDLCK) == 0 ? 'y' : 'n';
        (void)!::write(ready[1], &ok, 1);
        char c;
        (void)!::read(done[0], &c, 1);
        _exit(0);
    }
    char ok = 'n';
    ASSERT_EQ(::read(ready[0], &ok, 1), 1);
    struct Release {
        int done;
        pid_t holder;
        ~Release()
        {
            (void)!::write(done, "x", 1);
            ::waitpid(holder, nullptr, 0);
        }
    } release{done[1], holder};
    if (ok != 'y')
        GTEST_SKIP() << "leases are not available here";

    const auto started = std::chrono::steady_clock::now();
    const RewriteResult r = RewriteFile(file, "lost");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_EQ(r.status, RewriteStatus::Failed);
    EXPECT_EQ(ReadAll(file), "keep");
    EXPECT_EQ(Names(root), (std::vector<std::string>{"leased.txt"}));
}

TEST_F(FileRewriteTest, AWritableFileInAFolderTheUserMayNotWriteIsSaved)
{
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to act as a second user";
    const std::string dir = root + "/locked";
    ASSERT_EQ(::mkdir(dir.c_str(), 0755), 0);
    const std::string file = dir + "/shared.txt";
    WriteFile(file, "old");
    ASSERT_EQ(::chmod(file.c_str(), 0666), 0);
    ASSERT_EQ(::mkdir(spare.c_str(), 0700), 0);
    ASSERT_EQ(::chown(spare.c_str(), kOther, kOther), 0);

    EXPECT_EQ(AsOtherUser([&] { return int(RewriteFile(file, "new from another user").status); }),
              int(RewriteStatus::Written));
    EXPECT_EQ(ReadAll(file), "new from another user");
    struct stat st;
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 0u);
    EXPECT_EQ(Names(dir), (std::vector<std::string>{"shared.txt"}));
    EXPECT_TRUE(Names(spare + "/tarnel").empty()); // the copy went there and is gone again
}

TEST_F(FileRewriteTest, AFileChangedSinceItWasReadIsLeftAlone)
{
    const std::string file = root + "/log.txt";
    WriteFile(file, "read");
    FileStamp stamp;
    ASSERT_TRUE(StampOf(file, stamp));
    EXPECT_EQ(RewriteFile(file, "first save", &stamp).status, RewriteStatus::Written);
    ASSERT_TRUE(StampOf(file, stamp));

    // Grown in place by another program.
    std::ofstream(file, std::ios::app) << " appended";
    EXPECT_EQ(RewriteFile(file, "mine", &stamp).status, RewriteStatus::Changed);
    EXPECT_EQ(ReadAll(file), "first save appended");

    // Same size, another time.
    ASSERT_TRUE(StampOf(file, stamp));
    WriteFile(file, "FIRST SAVE APPENDED");
    struct timespec times[2] = {{0, UTIME_OMIT}, {stamp.mtimeSec + 5, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    EXPECT_EQ(RewriteFile(file, "mine", &stamp).status, RewriteStatus::Changed);

    // Replaced by another file under the same name, same size and time.
    ASSERT_TRUE(StampOf(file, stamp));
    const std::string other = root + "/other";
    WriteFile(other, "first save appended");
    struct timespec same[2] = {{0, UTIME_OMIT}, {stamp.mtimeSec, stamp.mtimeNsec}};
    ASSERT_EQ(::utimensat(AT_FDCWD, other.c_str(), same, 0), 0);
    ASSERT_EQ(::rename(other.c_str(), file.c_str()), 0);
    EXPECT_EQ(RewriteFile(file, "mine", &stamp).status, RewriteStatus::Changed);

    // Gone: it is not made again.
    ::unlink(file.c_str());
    EXPECT_EQ(RewriteFile(file, "mine", &stamp).status, RewriteStatus::Changed);
    EXPECT_FALSE(fs::exists(file));
    // Without a stamp a missing name gets a new file, whole.
    EXPECT_EQ(RewriteFile(file, "fresh").status, RewriteStatus::Written);
    EXPECT_EQ(ReadAll(file), "fresh");
    EXPECT_EQ(Names(root), (std::vector<std::string>{"log.txt"}));
}

TEST_F(FileRewriteTest, AFullDiskLeavesTheOldContents)
{
    const std::string disk = root + "/small";
    ASSERT_EQ(::mkdir(disk.c_str(), 0755), 0);
    if (::mount("tarnel-test", disk.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a small file system here";
    struct Unmount {
        std::string dir;
        ~Unmount() { ::umount(dir.c_str()); }
    } unmount{disk};
    const std::string file = disk + "/big.txt";
    const std::string old(40 * 1024, 'o');
    WriteFile(file, old);

    // No room for the copy beside it: the copy goes to the state directory,
    // then the file itself has no room to grow.
    const RewriteResult r = RewriteFile(file, std::string(100 * 1024, 'n'));
    EXPECT_EQ(r.status, RewriteStatus::Failed);
    EXPECT_FALSE(r.error.empty());
    EXPECT_EQ(ReadAll(file), old);
    EXPECT_EQ(Names(disk), (std::vector<std::string>{"big.txt"}));
    EXPECT_TRUE(Names(spare + "/tarnel").empty());

    // Shorter contents fit, with the copy kept elsewhere meanwhile.
    EXPECT_EQ(RewriteFile(file, std::string(30 * 1024, 's')).status, RewriteStatus::Written);
    EXPECT_EQ(ReadAll(file), std::string(30 * 1024, 's'));
    EXPECT_EQ(Names(disk), (std::vector<std::string>{"big.txt"}));
}

} // namespace
