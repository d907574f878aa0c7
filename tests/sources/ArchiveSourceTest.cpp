// The libarchive source on its own: listing folders of tar, compressed tar
// and single compressed files, damage and bad names, the kept table, and
// copying members out with the disk copy's questions and safety.
#include "panes/FileData.h"
#include "panes/TempTree.h"
#include "platform/DirectoryReader.h"
#include "platform/ShellFileOperation.h"
#include "sources/ArchiveSource.h"
#include "sources/archive/ArchiveExtract.h"
#include "sources/archive/ArchiveNames.h"
#include "sources/archive/ArchiveRewrite.h"
#include "sources/archive/ArchiveTable.h"
#include "sources/archive/ArchiveVerify.h"

#include <gtest/gtest.h>

#include <archive.h>
#include <archive_entry.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <sys/stat.h>

namespace tarnel {
namespace {

namespace fs = std::filesystem;

struct Listing : ListSink {
    std::vector<SourceEntry> entries;
    std::vector<std::string> problems;
    std::vector<int> progress;
    void Chunk(std::vector<SourceEntry>&& chunk) override
    {
        for (SourceEntry& e : chunk)
            entries.push_back(std::move(e));
    }
    void Progress(int percent) override { progress.push_back(percent); }
    void Problem(const std::string& text) override { problems.push_back(text); }
    const SourceEntry* Find(const std::string& name) const
    {
        for (const SourceEntry& e : entries)
            if (e.name == name)
                return &e;
        return nullptr;
    }
    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (const SourceEntry& e : entries)
            names.push_back(e.name);
        return names;
    }
};

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

int Shell(const std::string& command) { return std::system(command.c_str()); }

PanePlace InArchive(const std::string& file, const std::string& inside = {})
{
    PanePlace place = PanePlace::Archive(file, inside);
    place.SourceName = kArchiveSourceName;
    return place;
}

// Writes a tar by hand, for names and links no tool would store.
struct TarMember {
    std::string name;
    std::string data;
    int type = AE_IFREG;
    std::string link; // symbolic link target
    std::string hardlink;
    int64_t size = -1; // stated size, when it must differ from the data's
};

void WriteTar(const std::string& path, const std::vector<TarMember>& members)
{
    struct archive* a = archive_write_new();
    archive_write_set_format_pax_restricted(a);
    archive_write_open_filename(a, path.c_str());
    for (const TarMember& m : members) {
        struct archive_entry* e = archive_entry_new();
        archive_entry_set_pathname(e, m.name.c_str());
        archive_entry_set_filetype(e, unsigned(m.type));
        archive_entry_set_perm(e, m.type == AE_IFDIR ? 0755 : 0644);
        archive_entry_set_mtime(e, 1600000000, 0);
        if (!m.link.empty())
            archive_entry_set_symlink(e, m.link.c_str());
        if (!m.hardlink.empty())
            archive_entry_set_hardlink(e, m.hardlink.c_str());
        archive_entry_set_size(e, m.hardlink.empty() ? la_int64_t(m.data.size()) : 0);
        archive_write_header(a, e);
        if (!m.data.empty())
            archive_write_data(a, m.data.data(), m.data.size());
        archive_entry_free(e);
    }
    archive_write_close(a);
    archive_write_free(a);
}

// Answers the copy's questions as a test says, and records what was said.
struct ScriptedUi : SourceOperationUi {
    std::vector<ReplaceAnswer> answers;
    std::vector<std::string> asked, said;
    void Inform(const std::string& text) override { said.push_back("inform: " + text); }
    void Error(const std::string& text) override { said.push_back("error: " + text); }
    bool Confirm(const std::string&) override { return true; }
    ReplaceAnswer AskReplace(const std::string& path, const FileFacts&, const FileFacts&) override
    {
        asked.push_back(path);
        if (answers.empty())
            return ReplaceAnswer::Cancel;
        const ReplaceAnswer a = answers.front();
        answers.erase(answers.begin());
        return a;
    }
};

class ArchiveSourceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        tree.Dir("src/docs/deep");
        std::ofstream(tree.Path() + "src/docs/a.txt") << "alpha";
        std::ofstream(tree.Path() + "src/docs/deep/b.txt") << "beta-beta";
        std::ofstream(tree.Path() + "src/top.txt") << "top";
        tree.Dir("out");
    }
    std::string Make(const std::string& name, const std::string& flags)
    {
        const std::string file = tree.Path() + name;
        EXPECT_EQ(Shell("cd '" + tree.Path() + "src' && bsdtar " + flags + " -cf '" + file + "' docs top.txt"), 0);
        return file;
    }
    Listing List(const std::string& file, const std::string& inside = {})
    {
        Listing listing;
        source.List(InArchive(file, inside), listing, never);
        return listing;
    }
    SourceOperationResult Copy(int code, const std::string& file, const std::string& inside,
                               const std::vector<SourceRow>& rows, ScriptedUi& ui)
    {
        auto op = source.OperationFor(code, InArchive(file, inside), PanePlace::Directory(tree.Path() + "out/"),
                                      ui, {});
        EXPECT_TRUE(op);
        return op ? op->Run(rows) : SourceOperationResult{};
    }
    SourceRow RowOf(const Listing& listing, const std::string& name)
    {
        const SourceEntry* e = listing.Find(name);
        EXPECT_TRUE(e) << name;
        return e ? SourceRow{name, e->kind == fkDirectory, e->memberIndex} : SourceRow{};
    }

    test::TempTree tree;
    ArchiveSource source;
    const CancelToken never;
};

TEST_F(ArchiveSourceTest, CompressedTarsListFoldersWithSummedSizesAndTimes)
{
    for (const char* flags : {"", "-z", "-j", "-J", "--zstd", "--lz4", "--lzma"}) {
        SCOPED_TRACE(flags);
        const std::string file = Make(std::string("t") + flags + ".tar", flags);
        const Listing top = List(file);
        EXPECT_EQ(top.Names(), (std::vector<std::string>{"..", "docs", "top.txt"}));
        EXPECT_TRUE(top.problems.empty()) << top.problems.front();
        const SourceEntry* docs = top.Find("docs");
        ASSERT_TRUE(docs);
        EXPECT_EQ(docs->kind, fkDirectory);
        EXPECT_TRUE(docs->sizeDone);
        EXPECT_EQ(docs->size, 5 + 9) << "everything below, summed";
        EXPECT_EQ(top.Find("top.txt")->size, 3);
        struct stat st;
        ASSERT_EQ(::stat((tree.Path() + "src/top.txt").c_str(), &st), 0);
        EXPECT_EQ(top.Find("top.txt")->time, int32_t(DosTimeFromUnix(st.st_mtime)));

        const Listing inner = List(file, "docs/");
        EXPECT_EQ(inner.Names(), (std::vector<std::string>{"..", "deep", "a.txt"}));
        const SourceEntry* a = inner.Find("a.txt");
        ASSERT_TRUE(a);
        EXPECT_GE(a->memberIndex, 0);
    }
}

TEST_F(ArchiveSourceTest, TheTableIsReadOnceWhileTheArchiveIsUnchanged)
{
    const std::string file = Make("t.tar.gz", "-z");
    List(file);
    List(file, "docs/");
    List(file, "docs/deep/");
    EXPECT_EQ(source.Tables().Reads(), 1);
    std::ofstream(tree.Path() + "src/top.txt") << "changed, longer";
    Make("t.tar.gz", "-z");
    const Listing again = List(file);
    EXPECT_EQ(source.Tables().Reads(), 2) << "a changed archive is read again";
    EXPECT_EQ(again.Find("top.txt")->size, 15);
}

TEST_F(ArchiveSourceTest, ImpliedFoldersAndBadNames)
{
    const std::string file = tree.Path() + "odd.tar";
    WriteTar(file, {{"./x/y/z.txt", "zz"}, {"../evil.txt", "e"}, {"/abs.txt", "a"}, {"x//w.txt", "w"}});
    const Listing top = List(file);
    EXPECT_EQ(top.Names(), (std::vector<std::string>{"..", "x"})) << "no row for a name that climbs out";
    ASSERT_EQ(top.problems.size(), 1u);
    EXPECT_NE(top.problems[0].find("2 member(s) are not listed"), std::string::npos) << top.problems[0];
    EXPECT_EQ(top.Find("x")->size, 3);
    EXPECT_EQ(List(file, "x/").Names(), (std::vector<std::string>{"..", "y", "w.txt"}));
    EXPECT_EQ(List(file, "x/y/").Names(), (std::vector<std::string>{"..", "z.txt"}));
}

TEST_F(ArchiveSourceTest, DamagedArchivesListWhatWasReadAndSaySo)
{
    std::string big(300000, 'q');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = char('a' + (i * 7919 % 26));
    std::ofstream(tree.Path() + "src/docs/big.bin") << big;
    const std::string file = Make("t.tar.gz", "-z");
    const std::string whole = Slurp(file);
    std::ofstream(tree.Path() + "cut.tar.gz", std::ios::binary) << whole.substr(0, whole.size() * 2 / 3);
    const Listing cut = List(tree.Path() + "cut.tar.gz");
    EXPECT_NE(cut.Find("docs"), nullptr) << "what came before the damage is listed";
    ASSERT_EQ(cut.problems.size(), 1u);

    std::ofstream(tree.Path() + "noise.tar") << std::string(5000, '\x7f');
    const Listing noise = List(tree.Path() + "noise.tar");
    EXPECT_EQ(noise.Names(), std::vector<std::string>{".."});
    EXPECT_EQ(noise.problems.size(), 1u);

    const Listing missing = List(tree.Path() + "nowhere.tar");
    EXPECT_EQ(missing.problems.size(), 1u);
}

TEST_F(ArchiveSourceTest, ATestReadsEveryMemberAndNamesWhatIsWrong)
{
    std::string big(300000, 'q');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = char('a' + (i * 7919 % 26));
    std::ofstream(tree.Path() + "src/docs/big.bin") << big;
    const std::string file = Make("t.tar.gz", "-z");
    std::vector<std::string> heard;
    const ArchiveTestReport good = TestArchive(file, [&](const std::string& member, uint64_t) {
        heard.push_back(member);
        return true;
    });
    EXPECT_TRUE(good.problems.empty()) << good.problems.front();
    EXPECT_EQ(good.members, heard.size());
    EXPECT_GE(good.bytes, big.size());

    const std::string whole = Slurp(file);
    std::ofstream(tree.Path() + "cut.tar.gz", std::ios::binary) << whole.substr(0, whole.size() * 2 / 3);
    const ArchiveTestReport cut = TestArchive(tree.Path() + "cut.tar.gz");
    ASSERT_EQ(cut.problems.size(), 1u) << "a damaged archive says so once";
    EXPECT_LT(cut.members, good.members);

    std::ofstream(tree.Path() + "plain.tar") << "just some text, no archive";
    EXPECT_EQ(TestArchive(tree.Path() + "plain.tar").problems.size(), 1u);
    ASSERT_EQ(::mkfifo((tree.Path() + "pipe.tar").c_str(), 0600), 0);
    const ArchiveTestReport pipe = TestArchive(tree.Path() + "pipe.tar");
    ASSERT_EQ(pipe.problems.size(), 1u) << "a pipe is never opened";
    EXPECT_NE(pipe.problems[0].find("not a file"), std::string::npos);

    const ArchiveTestReport stopped = TestArchive(file, [](const std::string&, uint64_t) { return false; });
    EXPECT_TRUE(stopped.stopped);
    EXPECT_EQ(stopped.members, 0u);
}

TEST_F(ArchiveSourceTest, ASingleCompressedFileIsOneMemberNamedAfterIt)
{
    for (const char* tool : {"gzip", "xz", "zstd -q", "bzip2"}) {
        SCOPED_TRACE(tool);
        std::ofstream(tree.Path() + "notes.txt") << "single file body\n";
        ASSERT_EQ(Shell("cd '" + tree.Path() + "' && rm -f notes.txt.* && " + tool + " notes.txt"), 0);
        std::string file;
        for (const auto& e : fs::directory_iterator(tree.Path()))
            if (e.path().filename().string().starts_with("notes.txt."))
                file = e.path().string();
        const Listing listing = List(file);
        EXPECT_EQ(listing.Names(), (std::vector<std::string>{"..", "notes.txt"}));
        EXPECT_EQ(listing.Find("notes.txt")->size, 17);
        EXPECT_TRUE(listing.problems.empty());
        EXPECT_TRUE(source.ExtractMember(file, "notes.txt", tree.Path() + "out/"));
        EXPECT_EQ(Slurp(tree.Path() + "out/notes.txt"), "single file body\n");
        fs::remove(file);
    }
    EXPECT_EQ(SingleMemberName("a.TXT.XZ"), "a.TXT");
}

TEST_F(ArchiveSourceTest, ContentNotNameTellsTheKind)
{
    const std::string tarFile = Make("looks-like.txt", "-z");
    EXPECT_EQ(DetectArchiveContent(tarFile), ArchiveContent::Archive);
    ASSERT_EQ(Shell("cd '" + tree.Path() + "src' && zip -q ../z.bin top.txt"), 0);
    EXPECT_EQ(DetectArchiveContent(tree.Path() + "z.bin"), ArchiveContent::Zip);
    EXPECT_EQ(DetectArchiveContent(tree.Path() + "src/top.txt"), ArchiveContent::None) << "plain text";
    std::ofstream(tree.Path() + "empty");
    EXPECT_EQ(DetectArchiveContent(tree.Path() + "empty"), ArchiveContent::None);
    ::mkfifo((tree.Path() + "fifo.tar").c_str(), 0600);
    EXPECT_EQ(DetectArchiveContent(tree.Path() + "fifo.tar"), ArchiveContent::None) << "never opened";
    EXPECT_TRUE(HasArchiveSuffix("a.TAR.GZ"));
    EXPECT_TRUE(HasArchiveSuffix("x.deb"));
    EXPECT_FALSE(HasArchiveSuffix("x.zip"));
    EXPECT_FALSE(HasArchiveSuffix("gz"));
}

TEST_F(ArchiveSourceTest, CopyOutWritesWhatTheRowsStandForAndAsksBeforeReplacing)
{
    const std::string file = Make("t.tar.xz", "-J");
    const Listing docs = List(file, "docs/");
    ScriptedUi ui;
    SourceOperationResult result = Copy(FO_COPY, file, "docs/", {RowOf(docs, "deep"), RowOf(docs, "a.txt")}, ui);
    EXPECT_TRUE(result.targetChanged);
    EXPECT_FALSE(result.sourceChanged);
    EXPECT_TRUE(ui.said.empty()) << ui.said.front();
    EXPECT_EQ(Slurp(tree.Path() + "out/a.txt"), "alpha") << "relative to the folder shown";
    EXPECT_EQ(Slurp(tree.Path() + "out/deep/b.txt"), "beta-beta");
    struct stat st;
    ASSERT_EQ(::stat((tree.Path() + "out/a.txt").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);

    std::ofstream(tree.Path() + "out/a.txt") << "mine";
    std::ofstream(tree.Path() + "out/deep/b.txt") << "mine too";
    ui.answers = {ReplaceAnswer::No, ReplaceAnswer::Yes};
    Copy(FO_COPY, file, "docs/", {RowOf(docs, "a.txt"), RowOf(docs, "deep")}, ui);
    EXPECT_EQ(ui.asked.size(), 2u);
    EXPECT_EQ(Slurp(tree.Path() + "out/a.txt"), "mine") << "No keeps the file on disk";
    EXPECT_EQ(Slurp(tree.Path() + "out/deep/b.txt"), "beta-beta");

    ui.asked.clear();
    ui.answers = {ReplaceAnswer::SkipAll};
    std::ofstream(tree.Path() + "out/deep/b.txt") << "mine again";
    Copy(FO_COPY, file, "docs/", {RowOf(docs, "a.txt"), RowOf(docs, "deep")}, ui);
    EXPECT_EQ(ui.asked.size(), 1u) << "skip all asks no more";
    EXPECT_EQ(Slurp(tree.Path() + "out/deep/b.txt"), "mine again");
    for (const auto& e : fs::recursive_directory_iterator(tree.Path() + "out"))
        EXPECT_FALSE(e.path().filename().string().starts_with(".tarnel-")) << "no temporary file is left";
}

TEST_F(ArchiveSourceTest, MovingOutOfAnArchiveThatCannotBeWrittenIsRefusedBeforeCopying)
{
    const std::string file = Make("t.cpio", "--format cpio");
    const Listing top = List(file);
    ScriptedUi ui;
    Copy(FO_MOVE, file, "", {RowOf(top, "top.txt")}, ui);
    EXPECT_EQ(ui.said, std::vector<std::string>{std::string("inform: ") + kArchiveReadOnlyText});
    EXPECT_FALSE(fs::exists(tree.Path() + "out/top.txt"));
    ui.said.clear();
    Copy(FO_DELETE, file, "", {RowOf(top, "top.txt")}, ui);
    EXPECT_EQ(ui.said, std::vector<std::string>{std::string("inform: ") + kArchiveReadOnlyText});
    EXPECT_EQ(List(file).Names(), (std::vector<std::string>{"..", "docs", "top.txt"}));
}

TEST_F(ArchiveSourceTest, AMoveOutOfATarTakesOutOnlyWhatReachedTheDisk)
{
    const std::string file = Make("t.tar.gz", "-z");
    const Listing top = List(file);
    std::ofstream(tree.Path() + "out/top.txt") << "mine";
    ScriptedUi ui;
    ui.answers = {ReplaceAnswer::No};
    const SourceOperationResult result =
        Copy(FO_MOVE, file, "", {RowOf(top, "top.txt"), RowOf(top, "docs")}, ui);
    EXPECT_TRUE(result.sourceChanged);
    EXPECT_EQ(Slurp(tree.Path() + "out/top.txt"), "mine");
    EXPECT_EQ(Slurp(tree.Path() + "out/docs/a.txt"), "alpha");
    EXPECT_EQ(List(file).Names(), (std::vector<std::string>{"..", "top.txt"}))
        << "the folder went out whole; the file the user kept on disk stays in the archive";

    ui.said.clear();
    Copy(FO_DELETE, file, "", {RowOf(List(file), "top.txt")}, ui);
    EXPECT_EQ(List(file).Names(), (std::vector<std::string>{".."}));
}

TEST_F(ArchiveSourceTest, NothingLandsOutsideTheTarget)
{
    const std::string file = tree.Path() + "links.tar";
    WriteTar(file, {{"d/", "", AE_IFDIR},
                    {"d/real.txt", "real"},
                    {"d/inside", "", AE_IFLNK, "real.txt"},
                    {"d/up", "", AE_IFLNK, "../../../etc"},
                    {"d/abs", "", AE_IFLNK, "/etc/passwd"},
                    {"d/hard", "", AE_IFREG, "", "d/real.txt"},
                    {"d/up/x.txt", "through the link"}});
    const Listing top = List(file);
    ScriptedUi ui;
    Copy(FO_COPY, file, "", {RowOf(top, "d")}, ui);
    EXPECT_EQ(Slurp(tree.Path() + "out/d/real.txt"), "real");
    EXPECT_EQ(fs::read_symlink(tree.Path() + "out/d/inside"), "real.txt");
    EXPECT_FALSE(fs::is_symlink(tree.Path() + "out/d/up"));
    EXPECT_FALSE(fs::is_symlink(tree.Path() + "out/d/abs"));
    struct stat real, hard;
    ASSERT_EQ(::stat((tree.Path() + "out/d/real.txt").c_str(), &real), 0);
    ASSERT_EQ(::stat((tree.Path() + "out/d/hard").c_str(), &hard), 0);
    EXPECT_EQ(real.st_ino, hard.st_ino) << "a hard link stays one";
    ASSERT_EQ(ui.said.size(), 1u);
    EXPECT_NE(ui.said[0].find("d/up: it is a link that points outside"), std::string::npos) << ui.said[0];
    EXPECT_NE(ui.said[0].find("d/abs: it is a link that points outside"), std::string::npos) << ui.said[0];
    EXPECT_FALSE(fs::exists(tree.Path() + "etc"));

    // A link a member made cannot carry a later member out.
    fs::remove_all(tree.Path() + "out/d");
    fs::create_directories(tree.Path() + "elsewhere");
    const std::string trap = tree.Path() + "trap.tar";
    WriteTar(trap, {{"l", "", AE_IFLNK, "sub/../.."}, {"l/escaped.txt", "x"}});
    const Listing trapTop = List(trap);
    Copy(FO_COPY, trap, "", {RowOf(trapTop, "l")}, ui);
    EXPECT_FALSE(fs::exists(tree.Path() + "escaped.txt"));

    EXPECT_TRUE(LinkStaysInside("a/b/l", "../x"));
    EXPECT_FALSE(LinkStaysInside("a/l", "../../x"));
    EXPECT_FALSE(LinkStaysInside("l", "x/../../y"));
}

TEST_F(ArchiveSourceTest, ACompressionBombIsStoppedAndTheRuleNamed)
{
    std::ofstream(tree.Path() + "src/zeros.bin") << std::string(4 << 20, '\0');
    const std::string file = tree.Path() + "bomb.tar.xz";
    ASSERT_EQ(Shell("cd '" + tree.Path() + "src' && bsdtar -Jcf '" + file + "' zeros.bin"), 0);
    ASSERT_LT(fs::file_size(file) * 100, 4u << 20);
    const Listing top = List(file);
    ScriptedUi ui;
    Copy(FO_COPY, file, "", {RowOf(top, "zeros.bin")}, ui);
    ASSERT_EQ(ui.said.size(), 1u);
    EXPECT_NE(ui.said[0].find("more than 100 times the archive's size"), std::string::npos) << ui.said[0];
    EXPECT_FALSE(fs::exists(tree.Path() + "out/zeros.bin"));
    EXPECT_TRUE(fs::is_empty(tree.Path() + "out")) << "the part written is gone";

    // A member whose data runs past the size its header states.
    const std::string liar = tree.Path() + "liar.tar";
    WriteTar(liar, {{"small.txt", "0123456789"}});
    ArchiveTable table = *ReadArchiveTable(liar, never);
    table.members[0].size = 4;
    const ArchiveExtractReport report =
        ExtractArchiveMembers(liar, table, {{0, "small.txt", false}}, tree.Path() + "out");
    EXPECT_NE(report.stopped.find("more than its stated size"), std::string::npos) << report.stopped;
    EXPECT_TRUE(fs::is_empty(tree.Path() + "out"));
}

} // namespace
} // namespace tarnel
