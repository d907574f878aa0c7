#include "viewer/model/RarArchive.h"

#include "panes/TempTree.h"
#include "platform/unrar/ExtractPath.h"
#include "viewer/model/RarTestArchives.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>
#include <sys/stat.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarnel {
namespace {

using test::Rar4Builder;
using test::RarMember;

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> DirectoryNames(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dir))
        names.push_back(std::filesystem::relative(e.path(), dir).string());
    std::sort(names.begin(), names.end());
    return names;
}

Rar4Builder GoodArchive()
{
    Rar4Builder b;
    b.File("a.txt", std::string(1234, 'a')).Directory("docs").File("docs/b.txt", "bee\n");
    return b;
}

class RarArchiveTest : public ::testing::Test {
protected:
    test::TempTree tree;
    TEnhRar rar{TARNEL_UNRAR_LIBRARY};
    std::vector<std::string> notes;

    std::string Archive(const std::string& name, const std::string& bytes)
    {
        const std::string path = tree.Path() + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    void Record()
    {
        rar.OnNotify = [this](TRarStatus s, const std::string&, const std::string& file, int code, bool&) {
            notes.push_back(std::to_string(int(s)) + " " + file + " " + std::to_string(code));
        };
    }
};

TEST_F(RarArchiveTest, ListsTestsAndExtractsAGoodArchive)
{
    ASSERT_TRUE(rar.UnRarAvailable());
    const std::string path = Archive("good.rar", GoodArchive().Bytes());
    rar.SetFileName("\"" + path + "\"");
    EXPECT_EQ(rar.FileName(), path);
    EXPECT_EQ(rar.infos(), 0u);
    ASSERT_EQ(rar.Entries().size(), 3u);
    EXPECT_EQ(rar.Entries()[0].FileName, "a.txt");
    EXPECT_EQ(rar.Entries()[0].UnpackedSize, 1234u);
    EXPECT_EQ(rar.Entries()[0].ArchiveName, path);
    EXPECT_FALSE(rar.Entries()[0].IsDirectory);
    EXPECT_TRUE(rar.Entries()[1].IsDirectory);
    EXPECT_EQ(rar.Entries()[2].FileName, "docs/b.txt");

    Record();
    rar.Test();
    EXPECT_EQ(rar.infos(), 0u);
    EXPECT_EQ(rar.LastCode(), ERAR_END_ARCHIVE);
    EXPECT_EQ(rar.Entries().size(), 6u) << "test appends to the listing";
    ASSERT_EQ(notes.size(), 6u);
    EXPECT_EQ(notes[0], "1 a.txt 0");
    EXPECT_EQ(notes[1], "2 a.txt 0");

    notes.clear();
    const std::string out = tree.Path() + "out";
    std::filesystem::create_directory(out);
    rar.Extract(out);
    EXPECT_EQ(rar.infos(), 0u);
    EXPECT_TRUE(rar.Refused().empty());
    EXPECT_EQ(notes.front(), "3 a.txt 0");
    EXPECT_EQ(notes.back(), "4 docs/b.txt 0");
    EXPECT_EQ(ReadFile(out + "/a.txt"), std::string(1234, 'a'));
    EXPECT_EQ(ReadFile(out + "/docs/b.txt"), "bee\n");
    EXPECT_EQ(DirectoryNames(out), (std::vector<std::string>{"a.txt", "docs", "docs/b.txt"}));
}

TEST_F(RarArchiveTest, DamagedArchivesSetTheirFlags)
{
    const std::string good = GoodArchive().Bytes();
    // Cut inside the last member's data: the members before it still list.
    rar.SetFileName(Archive("cut.rar", good.substr(0, good.size() - 9)));
    EXPECT_EQ(rar.infos(), unsigned(riIncomplete));
    EXPECT_EQ(rar.Entries().size(), 3u);
    rar.Test();
    EXPECT_EQ(rar.infos(), unsigned(riIncomplete));

    // Cut inside the second header: only the first member lists.
    rar.SetFileName(Archive("cut2.rar", good.substr(0, 7 + 13 + 32 + 5 + 1234 + 10)));
    EXPECT_NE(rar.infos() & (riIncomplete | riBadArchive), 0u);
    EXPECT_EQ(rar.Entries().size(), 1u);

    Rar4Builder crc;
    crc.File("first.txt", "fine").Add({"bad.txt", "damaged data", false, false, 0, true}).File("last.txt", "x");
    rar.SetFileName(Archive("crc.rar", crc.Bytes()));
    EXPECT_EQ(rar.infos(), 0u) << "listing does not read the data";
    rar.Test();
    EXPECT_EQ(rar.infos(), unsigned(riBadArchive));
    const std::string out = tree.Path() + "crc-out";
    std::filesystem::create_directory(out);
    rar.Extract(out);
    EXPECT_EQ(rar.infos(), unsigned(riBadArchive));
    EXPECT_EQ(DirectoryNames(out), std::vector<std::string>{"first.txt"}) << "no file under the damaged member's name";

    rar.SetFileName(Archive("empty.rar", Rar4Builder().Bytes()));
    EXPECT_EQ(rar.infos(), unsigned(riBadArchive));
    EXPECT_TRUE(rar.Entries().empty());

    rar.SetFileName(Archive("garbage.rar", "this is no archive at all, not even close"));
    EXPECT_EQ(rar.infos(), unsigned(riBadArchive));
    rar.SetFileName(tree.Path() + "missing.rar");
    EXPECT_EQ(rar.infos(), unsigned(riBadArchive));
    EXPECT_TRUE(rar.Entries().empty());
}

// Stored RAR 4 members are checked against the CRCs of their headers, found by
// walking the blocks: the walk must find every member libarchive finds.
TEST_F(RarArchiveTest, EveryMembersCrcIsChecked)
{
    // A file header without flag 0x8000 still has its data area.
    RarMember noFlag{"one.txt", "first data", false, false, 0, true};
    noFlag.dataFlag = false;
    Rar4Builder plain;
    plain.Add(noFlag).File("two.txt", "second");
    rar.SetFileName(Archive("noflag.rar", plain.Bytes()));
    EXPECT_EQ(rar.infos(), 0u);
    EXPECT_EQ(rar.Entries().size(), 2u);
    rar.Test();
    EXPECT_EQ(rar.infos(), unsigned(riBadArchive)) << "one.txt has a bad CRC";

    // A self-extractor: a program, then the archive.
    std::string program(0x10000, '\0');
    program[0] = 'M', program[1] = 'Z';
    program.replace(100, 7, std::string("Rar!\x1A\x07\x00", 7)); // the marker's bytes in the program
    Rar4Builder good = GoodArchive(), damaged;
    damaged.File("first.txt", "fine").Add({"bad.txt", "damaged data", false, false, 0, true});
    rar.SetFileName(Archive("good.exe", program + good.Bytes()));
    ASSERT_EQ(rar.Entries().size(), 3u);
    rar.Test();
    EXPECT_EQ(rar.infos(), 0u) << "a sound self-extractor tests ok";
    rar.SetFileName(Archive("bad.exe", program + damaged.Bytes()));
    EXPECT_EQ(rar.infos(), 0u);
    EXPECT_EQ(rar.Entries().size(), 2u);
    rar.Test();
    EXPECT_EQ(rar.infos(), unsigned(riBadArchive)) << "the damaged member of a self-extractor";
    const std::string out = tree.Path() + "sfx-out";
    std::filesystem::create_directory(out);
    rar.Extract(out);
    EXPECT_EQ(DirectoryNames(out), std::vector<std::string>{"first.txt"});

    // A program holding a small archive of its own (off libarchive's 16-byte
    // steps) before the real one: the scan and libarchive read different
    // members. Members that cannot be matched with their headers make the
    // archive bad rather than go unchecked.
    const std::string decoy = Rar4Builder().File("decoy.txt", "decoy").Bytes();
    program.replace(100, decoy.size(), decoy);
    rar.SetFileName(Archive("decoy.exe", program + good.Bytes()));
    EXPECT_EQ(rar.infos(), unsigned(riBadArchive));
    rar.Test();
    EXPECT_EQ(rar.infos(), unsigned(riBadArchive));

    // A stated size that wraps the scan's offset round to where it stood:
    // the scan ends at once instead of taking the same header millions of times.
    RarMember wrapping{"abcd", ""};
    wrapping.claimedSize = 0 - uint64_t(7 + 25 + 8 + 4); // this header's own size short of 2^64
    rar.SetFileName(Archive("wraps.rar", Rar4Builder().Add(wrapping).Bytes()));
    EXPECT_LE(rar.Entries().size(), 1u);
}

// A named pipe with an archive's name: opening it would wait for a writer.
TEST_F(RarArchiveTest, APipeIsNeverOpened)
{
    const std::string fifo = tree.Path() + "pipe.rar";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    auto listing = std::async(std::launch::async, [&] { rar.SetFileName(fifo); });
    if (listing.wait_for(std::chrono::seconds(5)) == std::future_status::timeout) {
        const int writer = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK); // lets the blocked open return
        ::close(writer);
        FAIL() << "the listing blocked on the pipe";
    }
    EXPECT_EQ(rar.infos(), unsigned(riBadArchive));
    EXPECT_TRUE(rar.Entries().empty());
}

// The header record holds names of 259 bytes; longer ones arrive cut.
TEST_F(RarArchiveTest, LongNamesAreNeverUsedCut)
{
    const std::string part(100, 'n');
    const std::string longDir = part + "1/" + part + "2/" + part + "3"; // 305 bytes
    Rar4Builder b;
    b.Directory(longDir).File(longDir + "/f.txt", "deep");
    // An archive whose own path is longer than the record's field.
    std::string dir = tree.Path();
    for (int i = 0; i < 3; ++i)
        dir += part + "/";
    std::filesystem::create_directories(dir);
    const std::string archive = dir + "long.rar";
    b.Write(archive);
    std::vector<std::string> archiveNames;
    rar.OnNotify = [&](TRarStatus, const std::string& name, const std::string&, int, bool&) {
        archiveNames.push_back(name);
    };
    rar.SetFileName(archive);
    ASSERT_EQ(rar.Entries().size(), 2u);
    EXPECT_EQ(rar.Entries()[0].ArchiveName, archive);
    const std::string out = tree.Path() + "long-out";
    std::filesystem::create_directory(out);
    rar.Extract(out);
    EXPECT_EQ(rar.infos(), 0u);
    EXPECT_TRUE(rar.Refused().empty());
    EXPECT_EQ(ReadFile(out + "/" + longDir + "/f.txt"), "deep");
    const std::string cut = out + "/" + longDir.substr(0, 259);
    EXPECT_FALSE(std::filesystem::exists(cut)) << "no directory made from the cut name";
    ASSERT_FALSE(archiveNames.empty());
    for (const std::string& name : archiveNames)
        EXPECT_EQ(name, archive) << "the status names the archive whole";
}

TEST_F(RarArchiveTest, SizesAreSixtyFourBit)
{
    Rar4Builder b;
    b.Add({"big.iso", "", false, false, 5ull << 30, false});
    rar.SetFileName(Archive("big.rar", b.Bytes(false)));
    ASSERT_GE(rar.Entries().size(), 1u);
    EXPECT_EQ(rar.Entries()[0].UnpackedSize, 5ull << 30);
    EXPECT_EQ(rar.infos(), unsigned(riIncomplete)) << "the data the header promises is not there";
}

TEST_F(RarArchiveTest, ExtractionNeverLeavesTheDestination)
{
    Rar4Builder b;
    RarMember up{"../escaped.txt", "out"}, absolute{tree.Path() + "absolute.txt", "abs"};
    RarMember link{"link", "../../outside"}, deepLink{"sub/ok-link", "../sub2"};
    link.symlink = deepLink.symlink = true;
    RarMember through{"planted/file.txt", "through a planted link"};
    b.Add(up).Add(absolute).Add(link).Add(deepLink).Add(through).File("sub/kept.txt", "kept");
    const std::string archive = Archive("evil.rar", b.Bytes());
    const std::string out = tree.Path() + "dest/inner";
    std::filesystem::create_directories(out);
    std::filesystem::create_directory(tree.Path() + "elsewhere");
    std::filesystem::create_directory_symlink(tree.Path() + "elsewhere", out + "/planted");

    rar.SetFileName(archive);
    rar.Extract(out);
    EXPECT_EQ(rar.infos(), 0u);
    EXPECT_EQ(rar.Refused(), (std::vector<std::string>{"../escaped.txt", tree.Path() + "absolute.txt", "link",
                                                       "planted/file.txt"}));
    EXPECT_EQ(ReadFile(out + "/sub/kept.txt"), "kept") << "the walk goes on after a refusal";
    EXPECT_EQ(std::filesystem::read_symlink(out + "/sub/ok-link"), "../sub2");
    EXPECT_FALSE(std::filesystem::exists(tree.Path() + "dest/escaped.txt"));
    EXPECT_FALSE(std::filesystem::exists(tree.Path() + "absolute.txt"));
    EXPECT_FALSE(std::filesystem::is_symlink(out + "/link"));
    EXPECT_TRUE(std::filesystem::is_empty(tree.Path() + "elsewhere"));
}

TEST(RarExtractPath, RefusesNamesAndLinksThatClimbOut)
{
    std::vector<std::string> parts;
    EXPECT_TRUE(SplitMemberPath("a/./b//c", parts));
    EXPECT_EQ(parts, (std::vector<std::string>{"a", "b", "c"}));
    for (const char* bad : {"", "/etc/passwd", "a/../../b", "..", "./", "a/.."})
        EXPECT_FALSE(SplitMemberPath(bad, parts)) << bad;
    EXPECT_TRUE(LinkStaysInside("x/y", 0));
    EXPECT_TRUE(LinkStaysInside("../x", 1));
    EXPECT_FALSE(LinkStaysInside("../x", 0));
    EXPECT_FALSE(LinkStaysInside("y/../..", 3)) << "a climb after a descent may pass through links";
    EXPECT_FALSE(LinkStaysInside("/etc", 5));
}

// A full disk stands in as a file size limit: writes past it fail with EFBIG
// just as they would with ENOSPC.
TEST_F(RarArchiveTest, AFullDiskLeavesNoPartialMember)
{
    Rar4Builder b;
    b.File("small.txt", "fits").File("large.bin", std::string(256 * 1024, 'L')).File("after.txt", "z");
    const std::string archive = Archive("full.rar", b.Bytes());
    const std::string out = tree.Path() + "full";
    std::filesystem::create_directory(out);
    const pid_t child = fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{64 * 1024, 64 * 1024};
        setrlimit(RLIMIT_FSIZE, &limit);
        TEnhRar inChild{TARNEL_UNRAR_LIBRARY};
        inChild.SetFileName(archive);
        inChild.Extract(out);
        _exit(inChild.LastCode() == ERAR_EWRITE ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the walk ends with the write error";
    EXPECT_EQ(DirectoryNames(out), std::vector<std::string>{"small.txt"});
}

TEST(RarLibraryMissing, NothingIsCalled)
{
    TEnhRar rar{"/nonexistent/libunrar.so"};
    EXPECT_FALSE(rar.UnRarAvailable());
    rar.SetFileName("/nonexistent/a.rar");
    rar.Test();
    EXPECT_EQ(rar.infos(), 0u);
    EXPECT_TRUE(rar.Entries().empty());
}

} // namespace
} // namespace tarnel
