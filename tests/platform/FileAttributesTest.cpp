// Attribute bits to and from permissions and user.DOSATTRIB.
#include "platform/DirectoryReader.h"
#include "platform/FileAttributes.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace tarnel;

namespace {

class FileAttributesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string templ = testing::TempDir() + "fileattr-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(templ.data()));
        dir_ = templ + "/";
    }

    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string Make(const std::string& name, mode_t mode = 0644) const
    {
        const std::string path = dir_ + name;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, mode);
        EXPECT_GE(fd, 0) << name;
        ::close(fd);
        EXPECT_EQ(0, ::chmod(path.c_str(), mode)); // umask must not matter
        return path;
    }

    static mode_t Mode(const std::string& path)
    {
        struct stat st {};
        EXPECT_EQ(0, ::stat(path.c_str(), &st));
        return st.st_mode & 07777;
    }

    static uint32_t Read(const std::string& path)
    {
        uint32_t attr = 0xdead;
        EXPECT_TRUE(ReadFileAttributes(path, attr)) << path;
        return attr;
    }

    // The stored text, or "-" when there is none.
    static std::string Stored(const std::string& path)
    {
        char value[256];
        const ssize_t n = ::getxattr(path.c_str(), "user.DOSATTRIB", value, sizeof value);
        return n < 0 ? std::string("-") : std::string(value, size_t(n));
    }

    static void Store(const std::string& path, const std::string& value)
    {
        ASSERT_EQ(0, ::setxattr(path.c_str(), "user.DOSATTRIB", value.data(), value.size(), 0));
    }

    bool XattrsSupported() const
    {
        const std::string probe = Make("xattr-probe");
        const bool ok = ::setxattr(probe.c_str(), "user.probe", "1", 1, 0) == 0;
        ::unlink(probe.c_str());
        return ok;
    }

    std::string dir_;
};

TEST_F(FileAttributesTest, ReadOnlyIsTheOwnerWriteBit)
{
    const std::string file = Make("file", 0664);
    EXPECT_EQ(0u, Read(file));

    ASSERT_TRUE(WriteFileAttributes(file, faReadOnly));
    EXPECT_EQ(0444u, Mode(file)) << "setting read-only clears every write bit";
    EXPECT_EQ(uint32_t(faReadOnly), Read(file));

    ASSERT_TRUE(WriteFileAttributes(file, 0));
    EXPECT_EQ(0644u, Mode(file)) << "clearing it gives the owner, and only the owner, write permission";
    EXPECT_EQ(0u, Read(file));

    // Group-writable but not owner-writable counts as read-only, and staying
    // read-only does not touch the mode.
    const std::string odd = Make("odd", 0464);
    EXPECT_EQ(uint32_t(faReadOnly), Read(odd));
    ASSERT_TRUE(WriteFileAttributes(odd, faReadOnly));
    EXPECT_EQ(0464u, Mode(odd));

    const std::string dir = dir_ + "dir";
    ASSERT_EQ(0, ::mkdir(dir.c_str(), 0755));
    EXPECT_EQ(uint32_t(faDirectory), Read(dir));
    ASSERT_TRUE(WriteFileAttributes(dir, faDirectory | faReadOnly));
    EXPECT_EQ(0555u, Mode(dir));
    EXPECT_EQ(uint32_t(faDirectory | faReadOnly), Read(dir));
    ASSERT_TRUE(WriteFileAttributes(dir, faDirectory));
    EXPECT_EQ(0755u, Mode(dir));
}

TEST_F(FileAttributesTest, NoDosChangeStoresNothing)
{
    // Permissions alone must work where extended attributes do not.
    const std::string file = Make("file");
    ASSERT_TRUE(WriteFileAttributes(file, faReadOnly));
    ASSERT_TRUE(WriteFileAttributes(file, 0));
    EXPECT_EQ("-", Stored(file));
}

TEST_F(FileAttributesTest, HiddenSystemArchiveGoThroughDosAttribKeepingOtherBits)
{
    if (!XattrsSupported())
        GTEST_SKIP() << "no user extended attributes on " << dir_;
    const std::string file = Make("file");
    ASSERT_TRUE(WriteFileAttributes(file, faHidden | faSysFile | faArchive));
    EXPECT_EQ("0x26", Stored(file));
    EXPECT_EQ(uint32_t(faHidden | faSysFile | faArchive), Read(file));
    ASSERT_TRUE(WriteFileAttributes(file, faArchive | faReadOnly));
    EXPECT_EQ("0x20", Stored(file));
    EXPECT_EQ(uint32_t(faArchive | faReadOnly), Read(file));
    // Stored while the owner could still write, then made read-only.
    EXPECT_EQ(0444u, Mode(file));
    ASSERT_TRUE(WriteFileAttributes(file, faSysFile));
    EXPECT_EQ("0x4", Stored(file));
    EXPECT_EQ(0644u, Mode(file));
    // A file that stays read-only still takes DOS bits (its owner needs write
    // permission for that, lent for the call) and keeps its mode.
    ASSERT_EQ(0, ::chmod(file.c_str(), 0440));
    ASSERT_TRUE(WriteFileAttributes(file, faReadOnly | faHidden));
    EXPECT_EQ("0x2", Stored(file));
    EXPECT_EQ(0440u, Mode(file));

    // Bits this program does not manage (directory, temporary) stay stored,
    // and a stored read-only bit neither counts nor is dropped.
    const std::string other = Make("other");
    Store(other, "0x111");
    EXPECT_EQ(0u, Read(other));
    ASSERT_TRUE(WriteFileAttributes(other, faHidden));
    EXPECT_EQ("0x113", Stored(other));
    ASSERT_TRUE(WriteFileAttributes(other, 0));
    EXPECT_EQ("0x111", Stored(other));

    // Samba's form: the text, a NUL and a binary block.
    const std::string samba = Make("samba");
    Store(samba, std::string("0x22\0\x03\x00\x11\x22", 9));
    EXPECT_EQ(uint32_t(faHidden | faArchive), Read(samba));
    ASSERT_TRUE(WriteFileAttributes(samba, faArchive));
    EXPECT_EQ("0x20", Stored(samba));

    // A form not known reads as no bits.
    const std::string unknown = Make("unknown");
    Store(unknown, "hidden");
    EXPECT_EQ(0u, Read(unknown));
}

TEST_F(FileAttributesTest, LeadingDotStaysHidden)
{
    const std::string dotted = Make(".profile");
    EXPECT_EQ(uint32_t(faHidden), Read(dotted));
    // Hidden already by its name: asking for hidden stores nothing.
    ASSERT_TRUE(WriteFileAttributes(dotted, faHidden));
    EXPECT_EQ("-", Stored(dotted));

    // Clearing it cannot work; refused before anything changes.
    errno = 0;
    EXPECT_FALSE(WriteFileAttributes(dotted, faReadOnly));
    EXPECT_EQ(EPERM, errno);
    EXPECT_EQ(0644u, Mode(dotted));

    if (!XattrsSupported())
        return;
    Store(dotted, "0x2");
    ASSERT_TRUE(WriteFileAttributes(dotted, faHidden | faArchive));
    EXPECT_EQ("0x22", Stored(dotted));
}

TEST_F(FileAttributesTest, MissingPathFails)
{
    uint32_t attr = 0;
    errno = 0;
    EXPECT_FALSE(ReadFileAttributes(dir_ + "missing", attr));
    EXPECT_EQ(ENOENT, errno);
    errno = 0;
    EXPECT_FALSE(WriteFileAttributes(dir_ + "missing", faReadOnly));
    EXPECT_EQ(ENOENT, errno);
}

// A link in the pane is the link: its target, perhaps far outside, is never changed.
TEST_F(FileAttributesTest, LinksAreTheirOwnEntryAndTheirTargetsStayAsTheyAre)
{
    const std::string target = Make("target", 0644);
    const std::string link = dir_ + "link";
    ASSERT_EQ(0, ::symlink(target.c_str(), link.c_str()));
    errno = 0;
    EXPECT_FALSE(WriteFileAttributes(link, faReadOnly));
    EXPECT_EQ(EPERM, errno);
    EXPECT_EQ(0644u, Mode(target));
    EXPECT_FALSE(WriteFileAttributes(link, faHidden));
    EXPECT_EQ("-", Stored(target));
    EXPECT_EQ(0u, Read(link) & faReadOnly);

    ::chmod(target.c_str(), 0444);
    EXPECT_EQ(0u, Read(link) & faReadOnly); // the target's state is not the link's
    ASSERT_EQ(0, ::symlink("missing", (dir_ + "dangling").c_str()));
    EXPECT_EQ(0u, Read(dir_ + "dangling") & faDirectory);
}

} // namespace
