#include "descriptions/DescLineReader.h"
#include "descriptions/Descriptions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <random>
#include <sstream>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace tarnel {
namespace {

class DescTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/tarnel-desc-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = std::string(tmpl) + "/";
    }
    void TearDown() override
    {
        // Every test also checks that no temporary file was left behind.
        EXPECT_EQ(CountTempFiles(), 0);
        std::string cmd = "rm -rf '" + dir_ + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0);
    }

    std::string Put(const std::string& name, const std::string& content)
    {
        std::ofstream(dir_ + name, std::ios::binary) << content;
        return dir_ + name;
    }
    std::string Get(const std::string& name)
    {
        std::ifstream in(dir_ + name, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    std::vector<std::string> Lines(const std::string& content, size_t bufferSize)
    {
        std::string path = Put("lines", content);
        std::vector<std::string> lines;
        int h = DescLineReader::Open(path, bufferSize);
        EXPECT_NE(h, 0);
        while (!DescLineReader::EndOfData(h))
            lines.push_back(DescLineReader::ReadLine(h));
        DescLineReader::Close(h);
        return lines;
    }
    // The names in a folder below dir_, sorted.
    std::vector<std::string> Names(const std::string& sub = "")
    {
        std::vector<std::string> names;
        if (DIR* d = opendir((dir_ + sub).c_str())) {
            while (dirent* e = readdir(d))
                if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                    names.push_back(e->d_name);
            closedir(d);
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    int CountTempFiles()
    {
        int n = 0;
        if (DIR* d = opendir(dir_.c_str())) {
            while (dirent* e = readdir(d))
                n += std::string(e->d_name).rfind("DSC", 0) == 0;
            closedir(d);
        }
        return n;
    }

    std::string dir_;
};

using V = std::vector<std::string>;

TEST(DescLineFormat, ParsesQuotedAndUnquotedNames)
{
    auto d = ParseDescriptionLine("\"My File.txt\" Some text");
    EXPECT_EQ(d.name, "My File.txt");
    EXPECT_EQ(d.description, "Some text");
    d = ParseDescriptionLine("My File.txt Some text");
    EXPECT_EQ(d.name, "My");
    EXPECT_EQ(d.description, "File.txt Some text");

    // Lines that describe nothing, and lines cut short after the quote.
    for (const char* line : {"", "nameonly", " leading", "\"open quote", "\"\" x", "\""})
        EXPECT_EQ(ParseDescriptionLine(line).name, "") << line;
    d = ParseDescriptionLine("\"a b\"");
    EXPECT_EQ(d.name, "a b");
    EXPECT_EQ(d.description, "");
    d = ParseDescriptionLine("\"a b\" ");
    EXPECT_EQ(d.description, "");
    d = ParseDescriptionLine("\"ab\"xyz"); // the byte after the quote is skipped, whatever it is
    EXPECT_EQ(d.description, "yz");
    d = ParseDescriptionLine("name ");
    EXPECT_EQ(d.name, "name");
    EXPECT_EQ(d.description, "");
}

TEST(DescLineFormat, QuotesOnlyNamesWithBlanks)
{
    EXPECT_EQ(FormatDescriptionLine("My File.txt", "text"), "\"My File.txt\" text");
    EXPECT_EQ(FormatDescriptionLine("readme.txt", "two words"), "readme.txt two words");
    EXPECT_EQ(FormatDescriptionLine("readme.txt", ""), "readme.txt ");
    for (std::string name : {"a b", "plain", "\xff\xfe name", "x\"y"}) {
        auto d = ParseDescriptionLine(FormatDescriptionLine(name, " desc \"q\" "));
        EXPECT_EQ(d.name, name);
        EXPECT_EQ(d.description, " desc \"q\" ");
    }
}

TEST_F(DescTest, LineReaderLineEndsAcrossBlocks)
{
    struct Case {
        std::string in;
        V out;
    } cases[] = {
        {"", {}},
        {"\n", {""}},
        {"a", {"a"}},
        {"a\r\nb", {"a", "b"}},
        {"a\n\rb\n\r", {"a", "b"}},
        {"a\r\rb\n\nc", {"a", "b", "c"}}, // CR CR and LF LF end one line each
        {"a\r\n\r\nb", {"a", "", "b"}},
        {"a\n\n\nb", {"a", "", "b"}},
        {"one\rtwo\rthree\r", {"one", "two", "three"}},
        {"\r\r\r", {"", ""}},
        {std::string("x\0y\r\n\0", 6), {std::string("x\0y", 3), std::string("\0", 1)}},
    };
    for (const Case& c : cases)
        for (size_t size : {1, 2, 3, 4, 5, 10240})
            EXPECT_EQ(Lines(c.in, size), c.out) << "input " << testing::PrintToString(c.in) << " buffer " << size;
}

TEST_F(DescTest, LineReaderCutsLongLines)
{
    const size_t max = DescLineReader::kMaxLine;
    EXPECT_EQ(Lines(std::string(max, 'a') + "\n" + std::string(max + 1, 'b') + "\r\nc", 4),
              (V{std::string(max, 'a'), std::string(max, 'b'), "c"}));

    std::string huge(10 * 1024 * 1024, 'x');
    huge += "\r\nnext\r\n";
    EXPECT_EQ(Lines(huge, kDescriptionBufferSize), (V{std::string(max, 'x'), "next"}));
}

TEST_F(DescTest, LineReaderSurvivesBinaryGarbage)
{
    std::mt19937 rng(7);
    std::string junk(200000, '\0');
    for (char& c : junk)
        c = char(rng() % 7 == 0 ? (rng() % 2 ? '\r' : '\n') : rng());
    V a = Lines(junk, 7), b = Lines(junk, kDescriptionBufferSize);
    EXPECT_EQ(a, b);
    size_t total = 0;
    for (const auto& l : a) {
        EXPECT_LE(l.size(), DescLineReader::kMaxLine);
        total += l.size() + 1;
    }
    EXPECT_LE(total, junk.size() + 1);
}

TEST_F(DescTest, LineReaderHandles)
{
    std::string path = Put("f", "x\n");
    std::vector<int> handles;
    for (int i = 0; i < DescLineReader::kHandles; ++i) {
        handles.push_back(DescLineReader::Open(path, 16));
        EXPECT_GE(handles.back(), 1);
        EXPECT_LE(handles.back(), 10);
    }
    EXPECT_EQ(DescLineReader::Open(path, 16), 0);
    DescLineReader::Close(handles[3]);
    int again = DescLineReader::Open(path, 16);
    EXPECT_EQ(again, handles[3]);
    EXPECT_EQ(DescLineReader::ReadLine(again), "x");
    EXPECT_TRUE(DescLineReader::EndOfData(again));
    EXPECT_EQ(DescLineReader::ReadLine(again), "");
    for (int h : handles)
        DescLineReader::Close(h);

    // Bad handles and files: no crash, and reader loops end.
    for (int h : {0, -1, 11, handles[0]}) {
        EXPECT_TRUE(DescLineReader::EndOfData(h));
        EXPECT_EQ(DescLineReader::ReadLine(h), "");
        DescLineReader::Close(h);
    }
    EXPECT_EQ(DescLineReader::Open(dir_ + "missing", 16), 0);
    EXPECT_EQ(DescLineReader::Open(dir_, 16), 0);
    ASSERT_EQ(mkfifo((dir_ + "fifo").c_str(), 0600), 0);
    EXPECT_EQ(DescLineReader::Open(dir_ + "fifo", 16), 0); // must not hang
}

TEST_F(DescTest, LoadTakesTheLaterLineReadTheFirst)
{
    Put(kDescriptionFileName, "readme.txt first\r\n"
                              "\"My File.txt\" Some text\r\n"
                              "nameonly\r\n"
                              "README.TXT second\r\n"
                              "gone was here\n"
                              "Gone \n"
                              "\xff\xfe.bin raw bytes\r"
                              "last no break");
    DescriptionList list;
    list.Set("stale", "x");
    LoadDescriptions(dir_, list);
    EXPECT_EQ(list.Size(), 4u);
    ASSERT_NE(list.Find("Readme.Txt"), nullptr);
    EXPECT_EQ(*list.Find("Readme.Txt"), "second");
    EXPECT_EQ(*list.Find("my file.TXT"), "Some text");
    EXPECT_EQ(*list.Find("\xff\xfe.BIN"), "raw bytes");
    EXPECT_EQ(*list.Find("last"), "no break");
    EXPECT_EQ(list.Find("gone"), nullptr);
    EXPECT_EQ(list.Find("nameonly"), nullptr);

    EXPECT_EQ(ReadDescription(dir_ + "readme.txt"), "first");
    EXPECT_EQ(ReadDescription(dir_ + "MY FILE.TXT"), "Some text");
    EXPECT_EQ(ReadDescription(dir_ + "gone"), "was here"); // the first line, though a later one clears it
    EXPECT_EQ(ReadDescription(dir_ + "nothere"), "");

    LoadDescriptions(dir_ + "missing/", list);
    EXPECT_TRUE(list.Empty());
    EXPECT_EQ(ReadDescription(dir_ + "missing/x"), "");
}

TEST_F(DescTest, WriteCreatesAndRewrites)
{
    EXPECT_EQ(WriteDescription(dir_ + "My File.txt", "spaced"), WriteDescriptionResult::Written);
    EXPECT_EQ(WriteDescription(dir_ + "readme.txt", "plain"), WriteDescriptionResult::Written);
    EXPECT_EQ(Get(kDescriptionFileName), "\"My File.txt\" spaced\r\nreadme.txt plain\r\n");
    struct stat st;
    ASSERT_EQ(stat((dir_ + kDescriptionFileName).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);

    // Both lines for the name are updated, name-only lines dropped, other
    // lines kept byte for byte.
    Put(kDescriptionFileName, "a.txt one\n"
                              "\"b b\" keep\r"
                              "nameonly\r\n"
                              "\"c\" unquoted now\n\r"
                              "A.TXT two");
    ASSERT_EQ(chmod((dir_ + kDescriptionFileName).c_str(), 0640), 0);
    EXPECT_EQ(WriteDescription(dir_ + "a.txt", "new\r\nline\tbreak"), WriteDescriptionResult::Written);
    EXPECT_EQ(Get(kDescriptionFileName), "a.txt new  line break\r\n"
                                         "\"b b\" keep\r\n"
                                         "\"c\" unquoted now\r\n"
                                         "A.TXT new  line break\r\n");
    ASSERT_EQ(stat((dir_ + kDescriptionFileName).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    // Clearing writes "name " which reads as no description.
    EXPECT_EQ(WriteDescription(dir_ + "b b", ""), WriteDescriptionResult::Written);
    EXPECT_EQ(ReadDescription(dir_ + "b b"), "");
    DescriptionList list;
    LoadDescriptions(dir_, list);
    EXPECT_EQ(list.Find("b b"), nullptr);
    EXPECT_NE(Get(kDescriptionFileName).find("\"b b\" \r\n"), std::string::npos);

    // Raw-byte names and directory paths with a trailing slash.
    EXPECT_EQ(WriteDescription(dir_ + "\xff\xfe", "bytes"), WriteDescriptionResult::Written);
    EXPECT_EQ(ReadDescription(dir_ + "\xff\xfe"), "bytes");
    EXPECT_EQ(WriteDescription(dir_ + "sub/", "a dir"), WriteDescriptionResult::Written);
    EXPECT_EQ(ReadDescription(dir_ + "sub"), "a dir");

    // An overlong text is cut so that the line can be read back whole.
    EXPECT_EQ(WriteDescription(dir_ + "long", std::string(9000, 'z')), WriteDescriptionResult::Written);
    EXPECT_EQ(ReadDescription(dir_ + "long"), std::string(DescLineReader::kMaxLine - 5, 'z'));
}

// Lines written by other programs may be longer than the reader takes; a
// rewrite for another name must not cut them.
TEST_F(DescTest, WriteKeepsOtherLongLinesWhole)
{
    const std::string longLine = "big.iso " + std::string(20000, 'q');
    const std::string quoted = "\"two words\" " + std::string(5000, 'w');
    Put(kDescriptionFileName, longLine + "\r\n" + quoted + "\r\nsmall s\r\n");
    EXPECT_EQ(WriteDescription(dir_ + "small", "changed"), WriteDescriptionResult::Written);
    EXPECT_EQ(Get(kDescriptionFileName), longLine + "\r\n" + quoted + "\r\nsmall changed\r\n");
}

TEST_F(DescTest, WriteRefusesNamesTheFormatCannotHold)
{
    Put(kDescriptionFileName, "a x\r\n");
    for (std::string name : {"\"quoted", "a\"b c", "line\nbreak"})
        EXPECT_EQ(WriteDescription(dir_ + name, "d"), WriteDescriptionResult::NameNotStorable) << name;
    EXPECT_EQ(Get(kDescriptionFileName), "a x\r\n");
}

TEST_F(DescTest, WriteKeepsOldFileOnFailure)
{
    const std::string old = "keep me\r\nand me too\r\n" + std::string(3000, 'p') + " q\r\n";
    Put(kDescriptionFileName, old);

    // The temporary file cannot be written in full (as on a full disk).
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = saved;
    small.rlim_cur = 100;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    auto result = WriteDescription(dir_ + "keep", "changed");
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(result, WriteDescriptionResult::NotStored);
    EXPECT_EQ(Get(kDescriptionFileName), old);

    // The old file cannot be read (no reader handle free): it is not replaced
    // by one that lacks its lines.
    std::vector<int> handles;
    for (int i = 0; i < DescLineReader::kHandles; ++i)
        handles.push_back(DescLineReader::Open(dir_ + kDescriptionFileName, 8));
    EXPECT_EQ(WriteDescription(dir_ + "keep", "changed"), WriteDescriptionResult::NotStored);
    for (int h : handles)
        DescLineReader::Close(h);
    EXPECT_EQ(Get(kDescriptionFileName), old);

    // The rename fails: the target is a directory that holds a file.
    std::string other = dir_ + "other/";
    ASSERT_EQ(mkdir(other.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((other + kDescriptionFileName).c_str(), 0755), 0);
    std::ofstream(other + kDescriptionFileName + "/inside") << "x";
    EXPECT_EQ(WriteDescription(other + "f", "d"), WriteDescriptionResult::RenameFailed);
    struct stat st;
    EXPECT_EQ(stat((other + kDescriptionFileName + "/inside").c_str(), &st), 0);
    DIR* d = opendir(other.c_str());
    ASSERT_NE(d, nullptr);
    int entries = 0;
    while (readdir(d))
        ++entries;
    closedir(d);
    EXPECT_EQ(entries, 3); // ".", ".." and the directory: no temporary file

    EXPECT_EQ(WriteDescription(dir_ + "missing-dir/f", "d"), WriteDescriptionResult::NotStored);
}

TEST_F(DescTest, WriteSetsHiddenBitKeepingOthers)
{
    std::string path = Put(kDescriptionFileName, "a b\r\n");
    if (setxattr(path.c_str(), "user.DOSATTRIB", "0x20", 4, 0) != 0)
        GTEST_SKIP() << "no user extended attributes here";
    ASSERT_EQ(WriteDescription(dir_ + "a", "c"), WriteDescriptionResult::Written);
    char value[32] = {};
    ssize_t n = getxattr(path.c_str(), "user.DOSATTRIB", value, sizeof value - 1);
    EXPECT_EQ(std::string(value, n > 0 ? size_t(n) : 0), "0x22");
}

// In a shared folder another user can make DESCRIPT.ION a link to a private
// file of ours: describing something there must neither show that file's
// lines nor copy them into a new file others can read.
TEST_F(DescTest, ALinkIsNoDescriptionFileAndIsNeverWrittenThrough)
{
    const std::string privateDir = dir_ + "private/";
    ASSERT_EQ(mkdir(privateDir.c_str(), 0700), 0);
    const std::string secret = "host1 ssh-ed25519 AAAA\r\nshared.txt leaked\r\n";
    std::ofstream(privateDir + "known_hosts", std::ios::binary) << secret;
    ASSERT_EQ(chmod((privateDir + "known_hosts").c_str(), 0644), 0);
    const std::string shared = dir_ + "shared/";
    ASSERT_EQ(mkdir(shared.c_str(), 0777), 0);
    std::ofstream(shared + "shared.txt") << "x";
    ASSERT_EQ(symlink((privateDir + "known_hosts").c_str(), (shared + kDescriptionFileName).c_str()), 0);

    DescriptionList list;
    LoadDescriptions(shared, list);
    EXPECT_TRUE(list.Empty());
    EXPECT_EQ(ReadDescription(shared + "shared.txt"), "");
    EXPECT_EQ(DescLineReader::Open(shared + kDescriptionFileName, 64), 0);

    const mode_t oldMask = umask(077);
    const WriteDescriptionResult result = WriteDescription(shared + "mine.txt", "ours");
    umask(oldMask);
    EXPECT_EQ(result, WriteDescriptionResult::Written);
    struct stat st;
    ASSERT_EQ(lstat((shared + kDescriptionFileName).c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "the umask's mode, not the link target's";
    std::ifstream in(shared + kDescriptionFileName, std::ios::binary);
    std::stringstream written;
    written << in.rdbuf();
    EXPECT_EQ(written.str(), "mine.txt ours\r\n");
    std::ifstream target(privateDir + "known_hosts", std::ios::binary);
    std::stringstream kept;
    kept << target.rdbuf();
    EXPECT_EQ(kept.str(), secret);
}

// A rewrite keeps what protects the file: its mode, its owner (another
// user's file stays theirs, with the mode they gave it), its extended
// attributes and every hard link to it.
TEST_F(DescTest, RewriteKeepsModeOwnerAttributesAndLinks)
{
    Put(kDescriptionFileName, "a one\r\n");
    const std::string path = dir_ + kDescriptionFileName;
    ASSERT_EQ(chmod(path.c_str(), 0600), 0);
    const bool attributes = setxattr(path.c_str(), "user.origin", "kept", 4, 0) == 0;
    ASSERT_EQ(WriteDescription(dir_ + "b", "two"), WriteDescriptionResult::Written);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    char value[32] = {};
    if (attributes) {
        EXPECT_EQ(getxattr(path.c_str(), "user.origin", value, sizeof value - 1), 4);
        EXPECT_STREQ(value, "kept");
    }

    // A second name for the file: both show the new lines, still one file.
    const std::string second = dir_ + "second-name";
    ASSERT_EQ(link(path.c_str(), second.c_str()), 0);
    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    struct stat before;
    ASSERT_EQ(stat(path.c_str(), &before), 0);
    ASSERT_EQ(WriteDescription(dir_ + "c", "three"), WriteDescriptionResult::Written);
    EXPECT_EQ(Get(kDescriptionFileName), "a one\r\nb two\r\nc three\r\n");
    EXPECT_EQ(Get("second-name"), Get(kDescriptionFileName));
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_ino, before.st_ino);
    EXPECT_EQ(st.st_nlink, 2u);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    if (attributes) {
        std::fill(std::begin(value), std::end(value), 0);
        EXPECT_EQ(getxattr(second.c_str(), "user.origin", value, sizeof value - 1), 4);
        EXPECT_STREQ(value, "kept");
        ssize_t n = getxattr(second.c_str(), "user.DOSATTRIB", value, sizeof value - 1);
        EXPECT_EQ(std::string(value, n > 0 ? size_t(n) : 0), "0x2") << "hidden";
    }
    EXPECT_EQ(Names(), V({kDescriptionFileName, "second-name"})) << "no copy left behind";
    ASSERT_EQ(unlink(second.c_str()), 0);

    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to give the file to another user";
    ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
    ASSERT_EQ(chmod(path.c_str(), 0664), 0);
    const mode_t oldMask = umask(077);
    const WriteDescriptionResult result = WriteDescription(dir_ + "d", "four");
    umask(oldMask);
    EXPECT_EQ(result, WriteDescriptionResult::Written);
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 65534u);
    EXPECT_EQ(st.st_gid, 65534u);
    EXPECT_EQ(st.st_mode & 0777, 0664u);
    EXPECT_EQ(Get(kDescriptionFileName), "a one\r\nb two\r\nc three\r\nd four\r\n");
}

// No room on the disk: the old lines stay under every name, whether the file
// is replaced or written over in place.
TEST_F(DescTest, AFullDiskLeavesTheOldDescriptions)
{
    const std::string disk = dir_ + "small";
    ASSERT_EQ(mkdir(disk.c_str(), 0755), 0);
    if (mount("tarnel-test", disk.c_str(), "tmpfs", 0, "size=64k") != 0)
        GTEST_SKIP() << "cannot mount a small file system here";
    struct Unmount {
        std::string dir;
        ~Unmount() { umount(dir.c_str()); }
    } unmount{disk};
    // Where the in-place rewrite keeps its copy when the folder has no room.
    const std::string spare = dir_ + "state";
    const char* oldState = std::getenv("XDG_STATE_HOME");
    const std::string savedState = oldState ? oldState : "";
    setenv("XDG_STATE_HOME", spare.c_str(), 1);
    struct RestoreState {
        bool had;
        std::string value;
        ~RestoreState() { had ? setenv("XDG_STATE_HOME", value.c_str(), 1) : unsetenv("XDG_STATE_HOME"); }
    } restore{oldState != nullptr, savedState};

    // Whole pages, so that one more line needs a page more.
    std::string old;
    for (int i = 0; old.size() < 40960 - 32; ++i)
        old += "file" + std::to_string(i) + " described\r\n";
    old += "pad " + std::string(40960 - 6 - old.size(), 'x') + "\r\n";
    ASSERT_EQ(old.size(), 40960u);
    const std::string path = disk + "/" + kDescriptionFileName;
    std::ofstream(path, std::ios::binary) << old;
    {
        std::ofstream filler(disk + "/filler", std::ios::binary);
        const std::string block(4096, 'f');
        while (filler.write(block.data(), block.size()))
            ;
    }
    EXPECT_EQ(WriteDescription(disk + "/new.txt", "no room"), WriteDescriptionResult::NotStored);
    EXPECT_TRUE(Get("small/" + std::string(kDescriptionFileName)) == old);

    ASSERT_EQ(link(path.c_str(), (disk + "/second").c_str()), 0);
    EXPECT_EQ(WriteDescription(disk + "/new.txt", "no room"), WriteDescriptionResult::NotStored);
    EXPECT_TRUE(Get("small/" + std::string(kDescriptionFileName)) == old);
    EXPECT_TRUE(Get("small/second") == old);
    EXPECT_EQ(Names("small/"), V({kDescriptionFileName, "filler", "second"}));
    EXPECT_EQ(Names("state/tarnel/"), V{}) << "the copy is removed";
}

// A sparse file of gigabytes costs its maker no disk space; a listing must
// still be quick and small, and the file is left as it is.
TEST_F(DescTest, HugeFilesAreReadOnlyToTheirCapAndNeverRewritten)
{
    std::vector<std::string> told;
    SetDescriptionNotice([&](const std::string& text) { told.push_back(text); });
    Put("here.txt", "");
    Put("there.txt", "");
    Put("beyond.txt", "");
    // Names that are not in the folder, then one that is, then a hole up to
    // 4 GiB with one line past the part that is read.
    std::string head = "here.txt in the folder\r\n";
    for (int i = 0; head.size() < 2 * 1024 * 1024; ++i)
        head += "n" + std::to_string(i) + " x\r\n";
    head += "there.txt also\r\n";
    const std::string path = Put(kDescriptionFileName, head);
    const std::string late = "\r\nbeyond.txt never read\r\n";
    const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(pwrite(fd, late.data(), late.size(), off_t(DescLineReader::kMaxFileBytes) + 100), ssize_t(late.size()));
    ASSERT_EQ(ftruncate(fd, 4LL * 1024 * 1024 * 1024), 0);
    close(fd);

    const auto start = std::chrono::steady_clock::now();
    DescriptionList list;
    LoadDescriptions(dir_, list);
    // Generous for a loaded machine; the whole file would take minutes.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
    EXPECT_EQ(list.Size(), 2u) << "only names in the folder, and only from the part read";
    ASSERT_NE(list.Find("HERE.TXT"), nullptr);
    EXPECT_EQ(*list.Find("there.txt"), "also");
    EXPECT_EQ(list.Find("beyond.txt"), nullptr);
    EXPECT_EQ(ReadDescription(dir_ + "there.txt"), "also");
    EXPECT_EQ(ReadDescription(dir_ + "n5"), "x");
    EXPECT_EQ(ReadDescription(dir_ + "beyond.txt"), "");

    // Not rewritten: that would either cut it or copy gigabytes.
    EXPECT_EQ(WriteDescription(dir_ + "here.txt", "changed"), WriteDescriptionResult::NotStored);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 4LL * 1024 * 1024 * 1024);
    EXPECT_EQ(ReadDescription(dir_ + "here.txt"), "in the folder");

    ASSERT_EQ(told.size(), 1u) << "said once per file";
    EXPECT_NE(told[0].find(path), std::string::npos) << told[0];
    EXPECT_NE(told[0].find("16 MiB"), std::string::npos) << told[0];
    SetDescriptionNotice(nullptr);
}

// A file that grows past the cap while it is read was not read whole, so no
// rewrite may be made from its lines; one of exactly the cap was.
TEST_F(DescTest, AFileGrowingPastTheCapWhileReadIsNotWhole)
{
    const off_t cap = off_t(DescLineReader::kMaxFileBytes);
    const std::string path = Put("grows", "a.txt first\r\n");
    ASSERT_EQ(truncate(path.c_str(), cap), 0);

    int h = DescLineReader::Open(path, 64 * 1024);
    ASSERT_NE(h, 0);
    EXPECT_EQ(DescLineReader::ReadLine(h), "a.txt first");
    EXPECT_FALSE(DescLineReader::Cut(h));
    ASSERT_EQ(truncate(path.c_str(), cap + 100), 0);
    while (!DescLineReader::EndOfData(h))
        DescLineReader::ReadWholeLine(h);
    EXPECT_TRUE(DescLineReader::Cut(h));
    DescLineReader::Close(h);

    ASSERT_EQ(truncate(path.c_str(), cap), 0);
    h = DescLineReader::Open(path, 64 * 1024);
    ASSERT_NE(h, 0);
    while (!DescLineReader::EndOfData(h))
        DescLineReader::ReadWholeLine(h);
    EXPECT_FALSE(DescLineReader::Cut(h)) << "exactly the cap is whole";
    DescLineReader::Close(h);
}

} // namespace
} // namespace tarnel
