#include "platform/DirectoryReader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

using namespace tarnel;

namespace {

class DirectoryReaderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string templ = testing::TempDir() + "dirreader-XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(templ.data()));
        dir_ = templ;
    }

    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string PathOf(const std::string& name) const { return dir_ + "/" + name; }

    void MakeFile(const std::string& name, size_t bytes = 0, mode_t mode = 0644) const
    {
        int fd = ::open(PathOf(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, mode);
        ASSERT_GE(fd, 0) << name;
        ASSERT_EQ(0, ::ftruncate(fd, off_t(bytes)));
        ::close(fd);
        ASSERT_EQ(0, ::chmod(PathOf(name).c_str(), mode)); // umask must not matter
    }

    void SetMtime(const std::string& name, time_t t, int flags = 0) const
    {
        const timespec times[2] = {{t, 0}, {t, 0}};
        ASSERT_EQ(0, ::utimensat(AT_FDCWD, PathOf(name).c_str(), times, flags));
    }

    std::map<std::string, DirectoryEntry> ReadAll(const std::string& dir) const
    {
        std::map<std::string, DirectoryEntry> entries;
        EXPECT_TRUE(ReadDirectoryEntries(dir,
            [&](DirectoryEntry&& e) { EXPECT_TRUE(entries.emplace(e.name, e).second) << "listed twice: " << e.name; }));
        return entries;
    }

    std::map<std::string, DirectoryEntry> ReadAll() const { return ReadAll(dir_); }

    std::string dir_;
};

// Sets TZ for one test and restores it.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* tz)
    {
        if (const char* old = std::getenv("TZ"))
            old_ = old;
        ::setenv("TZ", tz, 1);
        ::tzset();
    }
    ~ScopedTimeZone()
    {
        if (old_)
            ::setenv("TZ", old_->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }

private:
    std::optional<std::string> old_;
};

} // namespace

TEST_F(DirectoryReaderTest, ListsAnyByteSequenceAsItsRawName)
{
    const std::string names[] = {
        "bad\xff\xfe utf8", "new\nline", "-rf", std::string(255, 'n'),
        "\xe4\xf6\xfc.txt", // Latin-1 umlauts
    };
    for (const std::string& n : names)
        MakeFile(n, 3);

    auto entries = ReadAll();
    EXPECT_EQ(std::size(names) + 2, entries.size());
    for (const std::string& n : names) {
        ASSERT_TRUE(entries.count(n)) << n;
        EXPECT_EQ(3, entries[n].size);
        EXPECT_EQ(0u, entries[n].attr);
    }
    EXPECT_EQ(uint32_t(faDirectory), entries["."].attr);
    EXPECT_EQ(uint32_t(faDirectory), entries[".."].attr);

    // The same directory named with a trailing slash reads the same.
    EXPECT_EQ(entries.size(), ReadAll(dir_ + "/").size());
}

TEST_F(DirectoryReaderTest, ReportsMissingOrNonDirectoryAsFailure)
{
    MakeFile("plain");
    int calls = 0;
    auto count = [&](DirectoryEntry&&) { ++calls; };
    EXPECT_FALSE(ReadDirectoryEntries(PathOf("missing"), count));
    EXPECT_FALSE(ReadDirectoryEntries(PathOf("plain"), count));
    EXPECT_FALSE(ReadDirectoryEntries("", count));
    EXPECT_EQ(0, calls);
}

TEST_F(DirectoryReaderTest, RootHasNoParentEntry)
{
    for (const char* rootPath : {"/", "//", "/.."}) {
        auto root = ReadAll(rootPath);
        EXPECT_TRUE(root.count(".")) << rootPath;
        EXPECT_FALSE(root.count("..")) << rootPath;
        EXPECT_TRUE(root.count("tmp") || root.count("usr")) << rootPath;
    }
    EXPECT_EQ(uint32_t(faDirectory), ReadAll()[".."].attr);
}

TEST_F(DirectoryReaderTest, LinksTakeTheirTargetsKindAndSize)
{
    ASSERT_EQ(0, ::mkdir(PathOf("sub").c_str(), 0755));
    MakeFile("file", 5);
    ASSERT_EQ(0, ::symlink("sub", PathOf("to-dir").c_str()));
    ASSERT_EQ(0, ::symlink("file", PathOf("to-file").c_str()));
    ASSERT_EQ(0, ::symlink("nowhere", PathOf("dangling").c_str()));
    ASSERT_EQ(0, ::symlink("loop", PathOf("loop").c_str()));
    const time_t linkTime = 1600000000;
    SetMtime("dangling", linkTime, AT_SYMLINK_NOFOLLOW);

    auto entries = ReadAll();
    EXPECT_EQ(uint32_t(faDirectory), entries["to-dir"].attr);
    EXPECT_EQ(0, entries["to-dir"].size);
    EXPECT_EQ(0u, entries["to-file"].attr);
    EXPECT_EQ(5, entries["to-file"].size);
    for (const char* broken : {"dangling", "loop"}) {
        ASSERT_TRUE(entries.count(broken)) << broken;
        EXPECT_EQ(0u, entries[broken].attr) << broken;
        EXPECT_EQ(0, entries[broken].size) << broken;
    }
    EXPECT_EQ(DosTimeFromUnix(linkTime), entries["dangling"].dosTime);
}

TEST_F(DirectoryReaderTest, AttributesFromNameAndPermissions)
{
    MakeFile(".hidden");
    MakeFile("readonly", 0, 0444);
    MakeFile("group-readonly", 0, 0644); // only the owner's write bit counts
    MakeFile("owner-readonly", 0, 0466);
    ASSERT_EQ(0, ::mkdir(PathOf(".hidden-dir").c_str(), 0555));

    auto entries = ReadAll();
    EXPECT_EQ(uint32_t(faHidden), entries[".hidden"].attr);
    EXPECT_EQ(uint32_t(faReadOnly), entries["readonly"].attr);
    EXPECT_EQ(0u, entries["group-readonly"].attr);
    EXPECT_EQ(uint32_t(faReadOnly), entries["owner-readonly"].attr);
    EXPECT_EQ(uint32_t(faHidden | faDirectory | faReadOnly), entries[".hidden-dir"].attr);
    EXPECT_EQ(0u, entries["."].attr & faHidden);
    EXPECT_EQ(0u, entries[".."].attr & faHidden);
}

TEST_F(DirectoryReaderTest, DosAttributeAddsHiddenSystemAndArchiveOnly)
{
    MakeFile("probe");
    if (::setxattr(PathOf("probe").c_str(), "user.DOSATTRIB", "0x20", 4, 0) != 0) {
        if (errno == ENOTSUP)
            GTEST_SKIP() << "no user extended attributes on " << dir_;
        FAIL() << "setxattr: " << errno;
    }
    auto tag = [&](const std::string& name, const std::string& value) {
        ASSERT_EQ(0, ::setxattr(PathOf(name).c_str(), "user.DOSATTRIB", value.data(), value.size(), 0));
    };
    MakeFile("hidden-archive");
    tag("hidden-archive", "0x22");
    MakeFile("ro-hidden-system"); // the read-only bit comes from the permissions
    tag("ro-hidden-system", std::string("0x7\0", 4));
    MakeFile("directory-bit");
    tag("directory-bit", "0x10");
    MakeFile("unknown-form");
    tag("unknown-form", "hidden");
    ASSERT_EQ(0, ::mkdir(PathOf("dir").c_str(), 0755));
    tag("dir", "0x2");
    ASSERT_EQ(0, ::symlink("hidden-archive", PathOf("link").c_str()));

    auto entries = ReadAll();
    EXPECT_EQ(uint32_t(faArchive), entries["probe"].attr);
    EXPECT_EQ(uint32_t(faHidden | faArchive), entries["hidden-archive"].attr);
    EXPECT_EQ(uint32_t(faHidden | faSysFile), entries["ro-hidden-system"].attr);
    EXPECT_EQ(0u, entries["directory-bit"].attr);
    EXPECT_EQ(0u, entries["unknown-form"].attr);
    EXPECT_EQ(uint32_t(faDirectory | faHidden), entries["dir"].attr);
    EXPECT_EQ(uint32_t(faHidden | faArchive), entries["link"].attr);
}

TEST_F(DirectoryReaderTest, SizesAreSixtyFourBit)
{
    const int64_t big = (int64_t(5) << 30) + 7; // past both 2 GiB and 4 GiB
    int fd = ::open(PathOf("sparse").c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(0, ::ftruncate(fd, off_t(big)));
    ::close(fd);
    EXPECT_EQ(big, ReadAll()["sparse"].size);
}

// The listing converts times without asking the C library for every file;
// it must still agree with it, also next to daylight-saving changes.
TEST_F(DirectoryReaderTest, TimesMatchLocalTimeAcrossOffsetChanges)
{
    ScopedTimeZone tz("Europe/Berlin");
    const time_t springChange = 1679792400; // 2023-03-26 01:00 UTC
    const time_t autumnChange = 1698541200; // 2023-10-29 01:00 UTC
    std::map<std::string, time_t> times;
    int n = 0;
    for (time_t change : {springChange, autumnChange})
        for (time_t delta = -14 * 3600; delta <= 14 * 3600; delta += 1799)
            times["f" + std::to_string(n++)] = change + delta;
    for (time_t t : {time_t(0), time_t(315532800), time_t(1000000001), time_t(4354819200)}) // 1970, 1980, 2001, 2108
        times["f" + std::to_string(n++)] = t;
    for (const auto& [name, t] : times) {
        MakeFile(name);
        SetMtime(name, t);
    }

    auto entries = ReadAll();
    for (const auto& [name, t] : times)
        EXPECT_EQ(DosTimeFromUnix(t), entries[name].dosTime) << name << " at " << t;
    EXPECT_EQ(0u, entries["f" + std::to_string(n - 1)].dosTime);
    EXPECT_EQ(0u, entries["f" + std::to_string(n - 4)].dosTime);
    EXPECT_NE(0u, entries["f" + std::to_string(n - 2)].dosTime);
}

// A large folder is looked at by several threads: every entry comes once, in
// the order its name was read, with its own size; onNames sees every name
// first, and an entry removed meanwhile is skipped without losing others.
TEST_F(DirectoryReaderTest, LargeFoldersKeepTheOrderOfTheirNames)
{
    constexpr int kFiles = 9000;
    for (int i = 0; i < kFiles; ++i)
        MakeFile("f" + std::to_string(i), size_t(i % 13));
    ASSERT_EQ(0, ::symlink("nowhere", PathOf("dangling").c_str()));

    std::vector<std::string> named;
    std::vector<std::string> listed;
    const bool ok = ReadDirectoryEntries(
        dir_,
        [&](const DirectoryNames& names) {
            EXPECT_TRUE(listed.empty()) << "an entry came before the names";
            for (const struct dirent64* d : names.Entries())
                named.emplace_back(d->d_name);
            ASSERT_EQ(0, ::unlink(PathOf("f4321").c_str()));
        },
        [&](DirectoryEntry&& e) {
            listed.push_back(e.name);
            if (e.name[0] == 'f')
                EXPECT_EQ(std::stoi(e.name.substr(1)) % 13, e.size) << e.name;
            if (e.name == "dangling")
                EXPECT_EQ(0, e.size);
        });
    EXPECT_TRUE(ok);
    ASSERT_EQ(named.size(), size_t(kFiles + 3)); // ".", ".." and the link
    named.erase(std::find(named.begin(), named.end(), "f4321"));
    EXPECT_EQ(listed, named);
}
