#include "platform/RegularFile.h"
#include "panes/TempTree.h"

#include <gtest/gtest.h>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tarnel;

TEST(RegularFile, OpensOnlyRegularFilesAndNamesEveryRefusal)
{
    test::TempTree tree;
    ASSERT_TRUE(tree.File("plain.txt", 5));
    tree.Dir("folder");
    ASSERT_EQ(::symlink("plain.txt", (tree.Path() + "link").c_str()), 0);

    const int fd = OpenRegularFile(tree.Path() + "link"); // a link to a file is that file
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::fcntl(fd, F_GETFL) & O_ACCMODE, O_RDONLY);
    ::close(fd);

    EXPECT_EQ(OpenRegularFile(tree.Path() + "folder"), kNotARegularFile);
    EXPECT_EQ(OpenRegularFile("/dev/null"), kNotARegularFile);
    EXPECT_EQ(OpenRegularFile(tree.Path() + "missing"), -ENOENT);
    EXPECT_EQ(OpenRegularFile(""), -ENOENT);
    EXPECT_EQ(OpenRegularFileForReading("/dev/zero"), -1);
}

// A fifo is refused at once, through a link too, and never opened: opening
// it would block, or take a waiting writer's data.
TEST(RegularFile, FifoIsRefusedWithoutBlocking)
{
    test::TempTree tree;
    const std::string fifo = tree.Path() + "pipe.zip";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(::symlink("pipe.zip", (tree.Path() + "to-pipe").c_str()), 0);

    EXPECT_EQ(OpenRegularFile(fifo), kNotARegularFile);
    EXPECT_EQ(OpenRegularFile(tree.Path() + "to-pipe"), kNotARegularFile);
}
