#include "platform/DirectoryTotals.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <sys/fsuid.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace tarnel;
namespace fs = std::filesystem;

namespace {

struct DirectoryTotalsTest : ::testing::Test {
    std::string dir;
    std::atomic<bool> stop{false};
    int levelErrors = 0;

    void SetUp() override
    {
        // Memory-backed when possible: removing thousands of directories from
        // a disk mounted with online discard takes minutes.
        std::string tmpl = access("/dev/shm", W_OK) == 0 ? "/dev/shm/tarnel-totals-XXXXXX" : "/tmp/tarnel-totals-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl.data()), nullptr);
        dir = tmpl + "/";
    }
    // Deep trees outgrow PATH_MAX and take "rm -rf" ages: every subdirectory
    // is moved up to the top first, so each level is removed by a short path.
    void TearDown() override
    {
        std::vector<std::string> queue{dir};
        int moved = 0;
        for (size_t i = 0; i < queue.size(); ++i) {
            chmod(queue[i].c_str(), 0755);
            std::vector<fs::directory_entry> entries;
            std::error_code ec;
            for (const auto& e : fs::directory_iterator(queue[i], ec))
                entries.push_back(e);
            for (const auto& e : entries) {
                if (e.is_directory(ec) && !e.is_symlink(ec)) {
                    const std::string up = dir + ".rm" + std::to_string(moved++);
                    if (rename(e.path().c_str(), up.c_str()) == 0)
                        queue.push_back(up);
                } else {
                    unlink(e.path().c_str());
                }
            }
        }
        for (size_t i = queue.size(); i-- > 0;)
            rmdir(queue[i].c_str());
        EXPECT_FALSE(fs::exists(dir)) << "could not remove " << dir;
    }

    void File(const std::string& name, size_t bytes)
    {
        const int fd = open((dir + name).c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        ASSERT_GE(fd, 0) << name;
        const std::string data(bytes, 'x');
        ASSERT_EQ(write(fd, data.data(), data.size()), ssize_t(bytes));
        close(fd);
    }
    void Dir(const std::string& name) { fs::create_directories(dir + name); }

    DirectoryTotals Walk(const std::string& path, int64_t clusterSize = 4096)
    {
        DirectoryWalker walker(stop, clusterSize, [this] { ++levelErrors; });
        DirectoryTotals totals;
        EXPECT_TRUE(walker.Walk(path, totals));
        return totals;
    }

    static int OpenDescriptors()
    {
        int n = 0;
        for ([[maybe_unused]] const auto& e : fs::directory_iterator("/proc/self/fd"))
            ++n;
        return n;
    }

    // A chain of nested directories below dir + name, built with *at() calls
    // because its path outgrows PATH_MAX. Each level holds a one-byte file;
    // with branches also two leaf directories holding one each. Names differ
    // per level so that the order a level is listed in varies too.
    void Chain(const std::string& name, int depth, bool branches)
    {
        Dir(name);
        int fd = open((dir + name).c_str(), O_RDONLY | O_DIRECTORY);
        ASSERT_GE(fd, 0);
        for (int i = 0; i < depth; ++i) {
            const std::string level = std::to_string(i);
            const std::string next = branches ? "d" + level : "d";
            ASSERT_EQ(mkdirat(fd, next.c_str(), 0755), 0) << "level " << i;
            if (branches) {
                for (const std::string& leaf : {"a" + level, "b" + level}) {
                    ASSERT_EQ(mkdirat(fd, leaf.c_str(), 0755), 0);
                    const int leafFile = openat(fd, (leaf + "/f").c_str(), O_CREAT | O_WRONLY, 0644);
                    ASSERT_EQ(write(leafFile, "y", 1), 1);
                    close(leafFile);
                }
            }
            const int nextFd = openat(fd, next.c_str(), O_RDONLY | O_DIRECTORY);
            close(fd);
            ASSERT_GE(nextFd, 0);
            fd = nextFd;
            const int file = openat(fd, "f", O_CREAT | O_WRONLY, 0644);
            ASSERT_EQ(write(file, "x", 1), 1);
            close(file);
        }
        close(fd);
    }
};

// What "find -type f" and friends would say, links never followed.
DirectoryTotals Expected(const std::string& root)
{
    DirectoryTotals t;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        const fs::file_status status = it->symlink_status();
        if (fs::is_directory(status)) {
            ++t.dirs;
        } else {
            ++t.files;
            if (fs::is_regular_file(status))
                t.bytes += int64_t(it->file_size());
        }
    }
    return t;
}

TEST_F(DirectoryTotalsTest, TotalIsTheSumOfTheRegularFilesBelow)
{
    std::mt19937 rng(7);
    std::vector<std::string> dirs{"top"};
    for (int i = 0; i < 40; ++i) {
        const std::string sub = dirs[rng() % dirs.size()] + "/s" + std::to_string(i);
        Dir(sub);
        dirs.push_back(sub);
    }
    for (int i = 0; i < 300; ++i)
        File(dirs[rng() % dirs.size()] + "/f" + std::to_string(i), rng() % 5000);
    // Links of every kind count as files of no bytes; nothing behind them is counted.
    fs::create_symlink("..", dir + "top/s0/up");
    fs::create_directory_symlink("/", dir + "top/root");
    fs::create_symlink(dir + "top/f0-missing", dir + "top/dangling");
    fs::create_symlink("f1", dir + "top/filelink");
    File("top/hard", 1234);
    ASSERT_EQ(link((dir + "top/hard").c_str(), (dir + "top/s1/hard2").c_str()), 0);
    ASSERT_EQ(mkfifo((dir + "top/pipe").c_str(), 0644), 0);

    const DirectoryTotals want = Expected(dir + "top");
    const DirectoryTotals got = Walk(dir + "top");
    EXPECT_EQ(got.bytes, want.bytes);
    EXPECT_EQ(got.files, want.files);
    EXPECT_EQ(got.dirs, want.dirs);
    EXPECT_EQ(got.dirs, 40);
    EXPECT_GE(got.usedBytes, 0);
    EXPECT_EQ(levelErrors, 0);
}

TEST_F(DirectoryTotalsTest, EmptyDirectoryAndLinkedTopAddNothing)
{
    Dir("empty");
    const DirectoryTotals empty = Walk(dir + "empty");
    EXPECT_EQ(empty.bytes, 0);
    EXPECT_EQ(empty.usedBytes, 0);
    EXPECT_EQ(empty.files, 0);
    EXPECT_EQ(empty.dirs, 0);

    // A listed link to a directory is not walked: its target is counted where it lives.
    Dir("real/inner");
    File("real/inner/a", 10);
    fs::create_directory_symlink(dir + "real", dir + "alias");
    const DirectoryTotals alias = Walk(dir + "alias");
    EXPECT_EQ(alias.bytes, 0);
    EXPECT_EQ(alias.files + alias.dirs, 0);

    const DirectoryTotals missing = Walk(dir + "nowhere");
    EXPECT_EQ(missing.bytes, 0);
}

TEST_F(DirectoryTotalsTest, UsedBytesComeFromBlocksElseWholeClusters)
{
    Dir("u");
    File("u/one", 1);
    File("u/zero", 0);
    struct stat one;
    ASSERT_EQ(stat((dir + "u/one").c_str(), &one), 0);
    const DirectoryTotals t = Walk(dir + "u");
    EXPECT_EQ(t.bytes, 1);
    EXPECT_EQ(t.files, 2);
    EXPECT_EQ(t.usedBytes, int64_t(one.st_blocks) * 512) << "the zero-byte file adds nothing";

    // A sparse file reports no blocks: its size rounded up to whole clusters.
    Dir("sparse");
    const int fd = open((dir + "sparse/hole").c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_EQ(ftruncate(fd, 5000), 0);
    close(fd);
    struct stat hole;
    ASSERT_EQ(stat((dir + "sparse/hole").c_str(), &hole), 0);
    if (hole.st_blocks != 0)
        GTEST_SKIP() << "this file system gives sparse files blocks";
    EXPECT_EQ(Walk(dir + "sparse", 4096).usedBytes, 8192);
    EXPECT_EQ(Walk(dir + "sparse", 1).usedBytes, 5000) << "no cluster size known: the plain size";
}

TEST_F(DirectoryTotalsTest, DeepTreesNeedNoDeepStackNorManyDescriptors)
{
    const int before = OpenDescriptors();
    Chain("chain", 10000, false);
    const DirectoryTotals chain = Walk(dir + "chain");
    EXPECT_EQ(chain.dirs, 10000);
    EXPECT_EQ(chain.files, 10000);
    EXPECT_EQ(chain.bytes, 10000);

    // Most levels keep a sibling waiting, so levels give up their
    // descriptors on the way down and are reopened on the way up.
    const int depth = int(DirectoryWalker::kOpenLevelBudget) * 3;
    Chain("branches", depth, true);
    const DirectoryTotals branches = Walk(dir + "branches");
    EXPECT_EQ(branches.dirs, 3 * depth);
    EXPECT_EQ(branches.bytes, 3 * depth);
    EXPECT_EQ(OpenDescriptors(), before) << "a descriptor leaked";
    EXPECT_EQ(levelErrors, 0);
}

TEST_F(DirectoryTotalsTest, StopFlagEndsTheWalkWithFalse)
{
    Dir("s/t");
    File("s/t/a", 5);
    stop = true;
    DirectoryWalker walker(stop, 1);
    DirectoryTotals totals;
    EXPECT_FALSE(walker.Walk(dir + "s", totals));
    EXPECT_EQ(totals.bytes, 0);
}

// Root ignores permissions; a thread whose file-system user is nobody does not.
TEST_F(DirectoryTotalsTest, UnreadableSubdirectoriesAddNothingSilently)
{
    ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
    Dir("p/open");
    Dir("p/locked/inner");
    File("p/open/a", 10);
    File("p/locked/b", 20);
    File("p/locked/inner/c", 30);
    ASSERT_EQ(chmod((dir + "p/locked").c_str(), 0), 0);

    DirectoryTotals totals;
    bool lockedOut = false;
    std::thread walker([&] {
        if (geteuid() == 0)
            setfsuid(65534); // this thread only
        const int probe = open((dir + "p/locked").c_str(), O_RDONLY | O_DIRECTORY);
        lockedOut = probe < 0;
        if (probe >= 0)
            close(probe);
        totals = Walk(dir + "p");
    });
    walker.join();
    if (!lockedOut)
        GTEST_SKIP() << "permissions cannot be taken away here";
    EXPECT_EQ(totals.bytes, 10);
    EXPECT_EQ(totals.files, 1);
    EXPECT_EQ(totals.dirs, 2) << "the locked directory is counted, not what is inside";
    EXPECT_EQ(levelErrors, 0);
}

TEST_F(DirectoryTotalsTest, OtherVolumesAreLeftOut)
{
    // /dev/shm is its own mount in most systems and containers.
    struct stat devStat, shmStat;
    if (stat("/dev", &devStat) != 0 || stat("/dev/shm", &shmStat) != 0 || devStat.st_dev == shmStat.st_dev)
        GTEST_SKIP() << "no mount point below /dev";
    char name[] = "/dev/shm/tarnel-totals-XXXXXX";
    const int fd = mkstemp(name);
    if (fd < 0)
        GTEST_SKIP() << "/dev/shm is not writable";
    constexpr off_t kMarker = 987654321;
    const bool grown = ftruncate(fd, kMarker) == 0;
    close(fd);
    const DirectoryTotals totals = Walk("/dev");
    unlink(name);
    ASSERT_TRUE(grown);
    EXPECT_LT(totals.bytes, kMarker) << "the walk entered /dev/shm";
}

TEST_F(DirectoryTotalsTest, DirectoriesVanishingDuringTheWalkDoNoHarm)
{
    Dir("churn");
    for (int i = 0; i < 20; ++i)
        File("churn/keep" + std::to_string(i), 100);
    std::atomic<bool> done{false};
    std::thread churner([&] {
        for (int round = 0; !done; ++round) {
            const std::string sub = dir + "churn/t" + std::to_string(round % 4);
            std::error_code ec;
            fs::create_directories(sub + "/a/b/c", ec);
            for (int i = 0; i < 10; ++i) {
                const int f = open((sub + "/a/b/f" + std::to_string(i)).c_str(), O_CREAT | O_WRONLY, 0644);
                if (f >= 0)
                    close(f);
            }
            fs::remove_all(sub, ec);
        }
    });
    for (int i = 0; i < 200; ++i) {
        const DirectoryTotals t = Walk(dir + "churn");
        ASSERT_EQ(t.bytes, 2000) << "empty churned files add no bytes";
        ASSERT_GE(t.files, 20);
    }
    done = true;
    churner.join();
    EXPECT_EQ(levelErrors, 0);
}

} // namespace
