#include "viewer/model/RarArchive.h"

#include "panes/TempTree.h"
#include "platform/unrar/ExtractPath.h"
#include "viewer/model/RarTestArchives.h"

#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <cstdio>
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
using test::Rar5Builder;
using test::Rar5Member;
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

// A cancelled walk (the runner's Cancel) ends before the next member and
// says so, rather than passing for a whole one.
TEST_F(RarArchiveTest, AWalkToldToStopEndsBeforeTheNextMember)
{
    rar.SetFileName(Archive("good.rar", GoodArchive().Bytes()));
    const std::string out = tree.Path() + "out";
    std::filesystem::create_directory(out);
    int started = 0;
    rar.OnNotify = [&](TRarStatus s, const std::string&, const std::string&, int, bool& canContinue) {
        if (s == TRarStatus::rsExtracting && ++started == 2)
            canContinue = false;
    };
    rar.Extract(out);
    EXPECT_TRUE(rar.Stopped());
    EXPECT_NE(rar.LastCode(), ERAR_END_ARCHIVE);
    EXPECT_EQ(DirectoryNames(out), std::vector<std::string>{"a.txt"});

    rar.OnNotify = nullptr;
    rar.Test();
    EXPECT_FALSE(rar.Stopped()) << "the next walk starts afresh";
    EXPECT_EQ(rar.LastCode(), ERAR_END_ARCHIVE);
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

    // Stored RAR 5 members are checked the same way.
    Rar5Member bad5{"bad.txt", "damaged data"};
    bad5.crcOf = "the data it had";
    Rar5Builder damaged5;
    damaged5.File("first.txt", "fine").Add(bad5).File("last.txt", "x");
    rar.SetFileName(Archive("crc5.rar", damaged5.Bytes()));
    EXPECT_EQ(rar.infos(), 0u);
    rar.Test();
    EXPECT_EQ(rar.infos(), unsigned(riBadArchive));
    EXPECT_EQ(rar.StoppedAt(), "bad.txt");
    const std::string out5 = tree.Path() + "crc5-out";
    std::filesystem::create_directory(out5);
    rar.Extract(out5);
    EXPECT_EQ(DirectoryNames(out5), std::vector<std::string>{"first.txt"});
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

// Folders have no data: testing and extracting pass over them to the members after.
TEST_F(RarArchiveTest, FoldersOfRar5ArchivesHoldNoDataToTest)
{
    Rar5Builder b;
    b.Directory("docs").File("docs/a.txt", "alpha").Directory("docs/empty").File("b.txt", std::string(3000, 'b'));
    rar.SetFileName(Archive("folders.rar", b.Bytes()));
    EXPECT_EQ(rar.infos(), 0u);
    ASSERT_EQ(rar.Entries().size(), 4u);
    EXPECT_TRUE(rar.Entries()[0].IsDirectory);
    EXPECT_EQ(rar.Entries()[3].UnpackedSize, 3000u);

    Record();
    rar.Test();
    EXPECT_EQ(rar.infos(), 0u);
    EXPECT_EQ(rar.LastCode(), ERAR_END_ARCHIVE);
    EXPECT_EQ(notes, (std::vector<std::string>{"1 docs 0", "2 docs 0", "1 docs/a.txt 0", "2 docs/a.txt 0",
                                               "1 docs/empty 0", "2 docs/empty 0", "1 b.txt 0", "2 b.txt 0"}));

    const std::string out = tree.Path() + "folders-out";
    std::filesystem::create_directory(out);
    rar.Extract(out);
    EXPECT_EQ(rar.infos(), 0u);
    EXPECT_EQ(rar.LastCode(), ERAR_END_ARCHIVE);
    EXPECT_EQ(DirectoryNames(out), (std::vector<std::string>{"b.txt", "docs", "docs/a.txt", "docs/empty"}));
    EXPECT_EQ(ReadFile(out + "/b.txt"), std::string(3000, 'b'));

    // A cut member after a folder is still reached, and found short.
    Rar5Builder cut;
    cut.Directory("d").File("cut.txt", std::string(100, 'c'));
    const std::string bytes = cut.Bytes();
    rar.SetFileName(Archive("cut5.rar", bytes.substr(0, bytes.size() - 60)));
    rar.Test();
    EXPECT_NE(rar.infos() & (riIncomplete | riBadArchive), 0u);
    EXPECT_EQ(rar.StoppedAt(), "cut.txt");
}

// A member stored across two volumes: part1 holds its first half.
class RarVolumeTest : public RarArchiveTest {
protected:
    const std::string whole = std::string(4000, 'x') + std::string(4000, 'y');
    std::string part1, part2;

    void SetUp() override
    {
        Rar5Builder first;
        first.Volume(0, true).File("first.txt", "before the split");
        Rar5Member head{"split.bin", whole.substr(0, 4000)};
        head.unpackedSize = whole.size();
        head.splitAfter = true;
        head.crc = false;
        first.Add(head);
        Rar5Builder second;
        second.Volume(1, false);
        Rar5Member tail{"split.bin", whole.substr(4000)};
        tail.unpackedSize = whole.size();
        tail.splitBefore = true;
        tail.crcOf = whole;
        second.Add(tail).File("last.txt", "after the split");
        part1 = Archive("set.part1.rar", first.Bytes());
        part2 = tree.Path() + "set.part2.rar";
        second.Write(part2 + ".away"); // out of sight until a test puts it in place
    }
};

TEST_F(RarVolumeTest, WithoutTheNextVolumeTheSplitMemberEndsTheArchiveEarly)
{
    rar.SetFileName(part1);
    ASSERT_GE(rar.Entries().size(), 2u);
    EXPECT_EQ(rar.Entries()[1].UnpackedSize, whole.size());
    rar.Test();
    EXPECT_EQ(rar.infos(), unsigned(riIncomplete));
    EXPECT_EQ(rar.StoppedAt(), "split.bin");

    const std::string out = tree.Path() + "vol-out";
    std::filesystem::create_directory(out);
    rar.Extract(out);
    EXPECT_EQ(rar.infos(), unsigned(riIncomplete));
    EXPECT_EQ(DirectoryNames(out), std::vector<std::string>{"first.txt"}) << "nothing under the split member's name";
}

TEST_F(RarVolumeTest, TheNextVolumeIsReadWhenItIsThere)
{
    std::filesystem::rename(part2 + ".away", part2);
    rar.SetFileName(part1);
    EXPECT_EQ(rar.infos(), 0u);
    ASSERT_EQ(rar.Entries().size(), 3u) << "the whole set lists";
    EXPECT_EQ(rar.Entries()[2].FileName, "last.txt");
    rar.Test();
    EXPECT_EQ(rar.infos(), 0u);
    const std::string out = tree.Path() + "vol-out";
    std::filesystem::create_directory(out);
    rar.Extract(out);
    EXPECT_EQ(rar.infos(), 0u);
    EXPECT_EQ(ReadFile(out + "/split.bin"), whole);
    EXPECT_EQ(ReadFile(out + "/last.txt"), "after the split");
}

// The change-volume callback is asked for a volume not found by its name, and
// may name another file or give up.
std::string volumeAnswer;
std::vector<std::string> volumeQuestions;
int AnswerVolume(char* name, int mode)
{
    volumeQuestions.push_back(std::to_string(mode) + " " + name);
    if (mode != RAR_VOL_ASK) return 1;
    if (volumeAnswer.empty()) return -1;
    std::snprintf(name, RAR_VOL_NAME_SIZE, "%s", volumeAnswer.c_str());
    return 1;
}

TEST_F(RarVolumeTest, TheChangeVolumeCallbackIsAskedForAMissingVolume)
{
    RarLibrary library(TARNEL_UNRAR_LIBRARY);
    ASSERT_TRUE(library.Loaded());
    const auto extract = [&](const std::string& into) {
        std::filesystem::create_directory(into);
        std::string name = part1, dest = into;
        RAROpenArchiveData open{};
        open.ArcName = name.data();
        open.OpenMode = RAR_OM_EXTRACT;
        void* handle = library.openArchive(&open);
        EXPECT_NE(handle, nullptr);
        library.setChangeVolProc(handle, AnswerVolume);
        RARHeaderData header{};
        int result = 0;
        while ((result = library.readHeader(handle, &header)) == 0)
            if ((result = library.processFile(handle, RAR_EXTRACT, dest.data(), nullptr)) != 0) break;
        library.closeArchive(handle);
        return result;
    };
    volumeQuestions.clear();
    volumeAnswer.clear();
    EXPECT_EQ(extract(tree.Path() + "refused"), ERAR_EOPEN);
    EXPECT_EQ(volumeQuestions, std::vector<std::string>{"0 " + part2});
    EXPECT_FALSE(std::filesystem::exists(tree.Path() + "refused/split.bin"));

    volumeQuestions.clear();
    volumeAnswer = part2 + ".away";
    EXPECT_EQ(extract(tree.Path() + "answered"), ERAR_END_ARCHIVE);
    EXPECT_EQ(volumeQuestions, (std::vector<std::string>{"0 " + part2, "1 " + part2 + ".away"}));
    EXPECT_EQ(ReadFile(tree.Path() + "answered/split.bin"), whole);
    EXPECT_EQ(ReadFile(tree.Path() + "answered/last.txt"), "after the split");
}

// RAR 4 Unicode names come out as UTF-8 whatever the process locale says.
TEST_F(RarArchiveTest, UnicodeNamesDoNotDependOnTheLocale)
{
    RarMember cyrillic{test::Rar4UnicodeName("_.txt", u"\u0416\u0443\u0440\u043d\u0430\u043b.txt"), "zh"};
    RarMember accented{test::Rar4UnicodeName("caf_", u"caf\u00e9/men\u00fc \u20ac.txt"), "euro"};
    cyrillic.unicode = accented.unicode = true;
    Rar4Builder b;
    b.Add(cyrillic).Add(accented).File("plain.txt", "p");
    const std::string archive = Archive("unicode.rar", b.Bytes());
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    for (const char* locale : {"C", "C.UTF-8"}) {
        if (!std::setlocale(LC_ALL, locale)) continue;
        SCOPED_TRACE(locale);
        rar.SetFileName(archive);
        EXPECT_EQ(rar.infos(), 0u);
        ASSERT_EQ(rar.Entries().size(), 3u);
        EXPECT_EQ(rar.Entries()[0].FileName, "\u0416\u0443\u0440\u043d\u0430\u043b.txt");
        EXPECT_EQ(rar.Entries()[1].FileName, "caf\u00e9/men\u00fc \u20ac.txt");
        const std::string out = tree.Path() + "unicode-" + locale;
        std::filesystem::create_directory(out);
        rar.Extract(out);
        EXPECT_EQ(rar.infos(), 0u);
        EXPECT_TRUE(rar.Refused().empty());
        EXPECT_EQ(ReadFile(out + "/\u0416\u0443\u0440\u043d\u0430\u043b.txt"), "zh");
        EXPECT_EQ(ReadFile(out + "/caf\u00e9/men\u00fc \u20ac.txt"), "euro");
    }
    std::setlocale(LC_ALL, saved.c_str());
}

// A hard link is made to the member already extracted into the destination,
// never to anything else.
TEST_F(RarArchiveTest, HardLinksPointAtMembersExtractedInsideTheDestination)
{
    std::filesystem::create_directory(tree.Path() + "outside");
    std::ofstream(tree.Path() + "outside/secret.txt") << "not to be reached";
    Rar5Builder b;
    b.File("docs/orig.txt", "original").HardLink("copy.txt", "docs/orig.txt");
    b.HardLink("climb.txt", "../outside/secret.txt").HardLink("abs.txt", tree.Path() + "outside/secret.txt");
    b.HardLink("never.txt", "not/in/archive.txt").HardLink("dir-link", "docs").File("after.txt", "after");
    const std::string out = tree.Path() + "dest";
    std::filesystem::create_directories(out + "/docs");
    rar.SetFileName(Archive("links.rar", b.Bytes()));
    EXPECT_EQ(rar.infos(), 0u);
    rar.Test();
    EXPECT_EQ(rar.infos(), 0u);
    rar.Extract(out);
    EXPECT_EQ(rar.infos(), 0u);
    EXPECT_EQ(rar.LastCode(), ERAR_END_ARCHIVE);
    struct stat original {}, linked {};
    ASSERT_EQ(::stat((out + "/docs/orig.txt").c_str(), &original), 0);
    ASSERT_EQ(::stat((out + "/copy.txt").c_str(), &linked), 0);
    EXPECT_EQ(original.st_ino, linked.st_ino);
    EXPECT_EQ(original.st_dev, linked.st_dev);
    EXPECT_EQ(ReadFile(out + "/after.txt"), "after");
    EXPECT_TRUE(rar.Refused().empty());
    EXPECT_EQ(rar.Unlinked(), (std::vector<std::string>{"climb.txt", "abs.txt", "never.txt", "dir-link"}));
    for (const char* name : {"climb.txt", "abs.txt", "never.txt", "dir-link"})
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(out + "/" + name))) << name;
    struct stat secret {};
    ASSERT_EQ(::stat((tree.Path() + "outside/secret.txt").c_str(), &secret), 0);
    EXPECT_EQ(secret.st_nlink, 1u);

    // A file already in the destination under the target's name, not put
    // there by this extraction, is not linked to.
    const std::string other = tree.Path() + "dest2";
    std::filesystem::create_directories(other);
    std::ofstream(other + "/mine.txt") << "the user's";
    Rar5Builder planted;
    planted.HardLink("link.txt", "mine.txt");
    rar.SetFileName(Archive("planted.rar", planted.Bytes()));
    rar.Extract(other);
    EXPECT_EQ(rar.Unlinked(), std::vector<std::string>{"link.txt"});
    EXPECT_FALSE(std::filesystem::exists(other + "/link.txt"));
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
