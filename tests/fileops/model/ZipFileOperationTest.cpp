// Copy, move and delete with an archive on one side, on real archives.
#include "fileops/model/ZipFileOperation.h"
#include "fileops/model/ZipBuilder.h"
#include "fileops/model/ZipMaster.h"
#include "panes/Matcher.h"
#include "panes/PaneFixture.h"
#include "panes/ReadDirectory.h"
#include "platform/zipdll/ZipCentral.h"
#include "sources/ZipSource.h"
#include "panes/TempTree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace tarnel {
namespace {

namespace fs = std::filesystem;
using test::BuiltMember;
using test::ZipBuilder;

class RecordingUi : public SourceOperationUi {
public:
    void Inform(const std::string& text) override { shown.push_back(text); }
    void Error(const std::string& text) override { shown.push_back("error: " + text); }
    bool Confirm(const std::string& text) override
    {
        shown.push_back("? " + text);
        return answer;
    }
    ReplaceAnswer AskReplace(const std::string& path, const FileFacts& existing, const FileFacts& incoming) override
    {
        asked.push_back({path, existing, incoming});
        if (replaceAnswers.empty())
            return ReplaceAnswer::Yes;
        const ReplaceAnswer answer = replaceAnswers.front();
        replaceAnswers.erase(replaceAnswers.begin());
        return answer;
    }
    struct Question {
        std::string path;
        FileFacts existing, incoming;
    };
    std::vector<std::string> shown;
    std::vector<Question> asked;
    std::vector<ReplaceAnswer> replaceAnswers;
    bool answer = false;
};

std::string Slurp(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

class ZipFileOperationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        zip.OwnLibraryDirectory = TARNEL_ZIP_LIBRARY_DIR;
        zip.ShowMessage = [this](const std::string& text) { ui.shown.push_back("box: " + text); };
        ZipBuilder b;
        b.Add({"a/b/c.txt", "ccc"});
        b.Add({"a/", ""});
        b.Add({"d.txt", "dd"});
        archive = tree.Path() + "s.zip";
        std::ofstream(archive, std::ios::binary) << b.Bytes();
        tree.Dir("out");
    }

    std::vector<std::string> Members()
    {
        try {
            zip.SetZipFilename(archive);
        } catch (const ZipReadError&) {
        }
        std::vector<std::string> names;
        for (const ZipDirEntry& e : zip.ZipContents())
            names.push_back(e.FileName);
        std::sort(names.begin(), names.end());
        return names;
    }

    // The row of a member as the listing makes it: its name in the folder
    // and its index (nth: of members bearing the same name).
    SourceRow Member(const std::string& zipPath, const std::string& name, int nth = 0)
    {
        zip.SetZipFilename(archive);
        for (const ZipDirEntry& e : zip.ZipContents())
            if (e.FileName == zipPath + name && nth-- == 0)
                return {name, false, e.CentralIndex};
        ADD_FAILURE() << "no member " << zipPath + name;
        return {name, false, -1};
    }
    // The rows named, as listing the archive's folder makes them.
    std::vector<SourceRow> Listed(const std::string& zipPath, const std::vector<std::string>& names,
                               std::string* error = nullptr)
    {
        test::PaneFixture f;
        f.pane.Path = archive + "/";
        f.pane.ZipMode = 1;
        f.pane.ZipPath = zipPath;
        std::string listingError;
        f.pane.ReportProblem = [&](const std::string& text) { listingError = text; };
        ReadDirectory(f.pane);
        if (error)
            *error = listingError;
        std::vector<int> rows;
        for (const std::string& name : names) {
            int found = -1;
            for (int i = 0; i < int(f.pane.Items.size()); ++i)
                if (f.pane.Items[size_t(i)]->Name == name)
                    found = i;
            EXPECT_GE(found, 0) << "no row " << name;
            rows.push_back(found);
        }
        f.pane.Count = int(f.pane.Items.size());
        return SourceRowsOf(f.pane, rows);
    }
    void WriteArchive(const ZipBuilder& b) { std::ofstream(archive, std::ios::binary | std::ios::trunc) << b.Bytes(); }

    static SourceRow Folder(const std::string& name) { return {name, true, -1}; }
    static SourceRow File(const std::string& name) { return {name, false, -1}; }

    ZipSide InArchive(const std::string& zipPath) const { return {archive + "/", 1, zipPath}; }
    ZipSide OnDisk(const std::string& dir) const { return {tree.Path() + dir + "/", 0, ""}; }

    test::TempTree tree;
    TZipMaster zip;
    RecordingUi ui;
    std::string archive;
};

TEST_F(ZipFileOperationTest, RowsOfASelection)
{
    test::PaneFixture f;
    f.pane.ZipMode = 1;
    f.pane.ZipPath = "a/";
    f.Add(fkDirectory, "..");
    f.Add(fkDirectory, "b");
    f.Add(fkFile, "x.txt").ZipIndex = 7;
    f.Add(fkDrive, "/");
    const std::vector<SourceRow> rows = SourceRowsOf(f.pane, {0, 1, 2, 3, 9});
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_TRUE(rows[0].name == "b" && rows[0].folder);
    EXPECT_TRUE(rows[1].name == "x.txt" && !rows[1].folder && rows[1].index == 7);

}

TEST_F(ZipFileOperationTest, CopyOutKeepsTheStoredFolders)
{
    const auto result = RunZipOperation(2, InArchive("a/b/"), OnDisk("out"), {Member("a/b/", "c.txt")}, false, zip, ui);
    EXPECT_EQ(Slurp(tree.Path() + "out/a/b/c.txt"), "ccc");
    EXPECT_FALSE(fs::exists(tree.Path() + "out/c.txt"));
    EXPECT_TRUE(result.targetChanged);
    EXPECT_FALSE(result.sourceChanged);
    EXPECT_TRUE(ui.shown.empty());

    std::ofstream(tree.Path() + "out/d.txt") << "old";
    RunZipOperation(2, InArchive(""), OnDisk("out"), {Member("", "d.txt"), Folder("a")}, false, zip, ui);
    EXPECT_EQ(Slurp(tree.Path() + "out/d.txt"), "dd") << "replaced on Yes";
}

TEST_F(ZipFileOperationTest, MoveOutAsksBeforeDeletingFromTheArchive)
{
    ui.answer = false;
    auto result = RunZipOperation(1, InArchive(""), OnDisk("out"), {Member("", "d.txt")}, false, zip, ui);
    EXPECT_EQ(ui.shown, (std::vector<std::string>{std::string("? ") + kDeleteFromZipText}));
    EXPECT_TRUE(fs::exists(tree.Path() + "out/d.txt"));
    EXPECT_EQ(Members(), (std::vector<std::string>{"a/", "a/b/c.txt", "d.txt"}));
    EXPECT_FALSE(result.sourceChanged);

    ui.answer = true;
    result = RunZipOperation(1, InArchive(""), OnDisk("out"), {Folder("a")}, false, zip, ui);
    EXPECT_TRUE(result.sourceChanged);
    EXPECT_EQ(Members(), (std::vector<std::string>{"d.txt"}));
    EXPECT_EQ(Slurp(tree.Path() + "out/a/b/c.txt"), "ccc");

    ui.shown.clear();
    RunZipOperation(1, InArchive(""), OnDisk("out"), {Member("", "d.txt")}, true, zip, ui);
    EXPECT_TRUE(ui.shown.empty()) << "no question with FastZipMove";
    EXPECT_TRUE(Members().empty());
}

// A move takes out of the archive only the members it wrote to disk, by
// their names: not those that failed, nor any when the extraction was
// refused (FastZipMove asks nothing, so nothing else stood in the way).
TEST_F(ZipFileOperationTest, MoveOutDeletesOnlyTheMembersExtracted)
{
    const std::string before = Slurp(archive);
    auto result = RunZipOperation(1, InArchive(""), OnDisk("gone"), {Member("", "d.txt"), Folder("a")}, true, zip, ui);
    EXPECT_EQ(Slurp(archive), before);
    EXPECT_FALSE(result.sourceChanged);
    ASSERT_EQ(ui.shown.size(), 1u);
    EXPECT_NE(ui.shown[0].find("does not exist"), std::string::npos);

    ZipBuilder b;
    b.Add({"a/", ""});
    b.Add({"a/b/c.txt", "ccc"});
    b.Add({"a/bad.txt", "original"});
    b.Add({"d.txt", "dd"});
    std::string bytes = b.Bytes();
    bytes[bytes.find("original")] = 'O'; // its checksum no longer fits
    std::ofstream(archive, std::ios::binary | std::ios::trunc) << bytes;
    ui.shown.clear();
    result = RunZipOperation(1, InArchive(""), OnDisk("out"), {Folder("a"), Member("", "d.txt")}, true, zip, ui);
    EXPECT_TRUE(result.sourceChanged);
    EXPECT_EQ(Members(), (std::vector<std::string>{"a/", "a/bad.txt"})) << "a folder goes only with all it holds";
    EXPECT_EQ(ui.shown, (std::vector<std::string>{kNotMovedText}));
    EXPECT_EQ(Slurp(tree.Path() + "out/a/b/c.txt"), "ccc");
    EXPECT_EQ(Slurp(tree.Path() + "out/d.txt"), "dd");
    EXPECT_FALSE(fs::exists(tree.Path() + "out/a/bad.txt"));
    EXPECT_NE(std::system(("unzip -tqq '" + archive + "' >/dev/null 2>&1").c_str()), 0) << "the bad member stays bad";

    // Members that meet in one file on disk, under one name or names the
    // folder takes as one, all stay in the archive.
    ZipBuilder twins;
    twins.Add({"twin.txt", "first"});
    twins.Add({"twin.txt", "second"});
    twins.Add({"docs/x.txt", "one"});
    twins.Add({"docs//x.txt", "two"});
    twins.Add({"./y.txt", "three"});
    twins.Add({"y.txt", "four"});
    twins.Add({"single.txt", "s"});
    std::ofstream(archive, std::ios::binary | std::ios::trunc) << twins.Bytes();
    ui.shown.clear();
    RunZipOperation(1, InArchive(""), OnDisk("out"),
                    {Member("", "twin.txt"), Member("", "twin.txt", 1), Folder("docs"), Member("", "y.txt"),
                     Member("", "single.txt")},
                    true, zip, ui);
    // The first of two members meeting in one file is written, the second
    // finds it there and stays.
    EXPECT_EQ(Members(), (std::vector<std::string>{"./y.txt", "docs//x.txt", "twin.txt", "twin.txt"}));
    EXPECT_EQ(Slurp(tree.Path() + "out/docs/x.txt"), "one");
    EXPECT_EQ(Slurp(tree.Path() + "out/single.txt"), "s");
    EXPECT_EQ(ui.shown, (std::vector<std::string>{kNotMovedText}));

    // More members than one library call may name.
    ZipBuilder many;
    for (int i = 0; i < 4200; ++i)
        many.Add({"many/" + std::to_string(i), "m"});
    many.Add({"keep.txt", "k"});
    std::ofstream(archive, std::ios::binary | std::ios::trunc) << many.Bytes();
    ui.shown.clear();
    RunZipOperation(1, InArchive(""), OnDisk("out"), {Folder("many")}, true, zip, ui);
    EXPECT_EQ(Members(), (std::vector<std::string>{"keep.txt"}));
    EXPECT_TRUE(fs::exists(tree.Path() + "out/many/4199"));
    EXPECT_TRUE(ui.shown.empty());
    EXPECT_EQ(std::system(("unzip -tqq '" + archive + "' >/dev/null").c_str()), 0);
}

// "*" and "?" are legal in folder names: a folder row takes that folder,
// not the look-alikes its name would match as a pattern.
TEST_F(ZipFileOperationTest, AFolderRowTakesThatFolderOnly)
{
    ZipBuilder b;
    for (const char* name : {"a?b/1.txt", "axb/2.txt", "a*b/3.txt", "aXYb/4.txt", "a*b/sub/5.txt"})
        b.Add({name, name});
    std::ofstream(archive, std::ios::binary | std::ios::trunc) << b.Bytes();
    test::PaneFixture f;
    f.pane.ZipMode = 1;
    f.Add(fkDirectory, "a*b");
    f.Add(fkDirectory, "a?b");

    RunZipOperation(2, InArchive(""), OnDisk("out"), SourceRowsOf(f.pane, {0}), false, zip, ui);
    EXPECT_TRUE(fs::exists(tree.Path() + "out/a*b/3.txt"));
    EXPECT_TRUE(fs::exists(tree.Path() + "out/a*b/sub/5.txt"));
    EXPECT_FALSE(fs::exists(tree.Path() + "out/aXYb"));
    EXPECT_FALSE(fs::exists(tree.Path() + "out/axb"));

    RunZipOperation(3, InArchive(""), OnDisk("out"), SourceRowsOf(f.pane, {1}), false, zip, ui);
    EXPECT_EQ(Members(), (std::vector<std::string>{"a*b/3.txt", "a*b/sub/5.txt", "aXYb/4.txt", "axb/2.txt"}));
    EXPECT_TRUE(ui.shown.empty());
    EXPECT_EQ(std::system(("unzip -tqq '" + archive + "' >/dev/null").c_str()), 0);

    // Adding names the folder on disk the same way.
    tree.Dir("src/q*");
    tree.Dir("src/qq");
    std::ofstream(tree.Path() + "src/q*/in.txt") << "in";
    std::ofstream(tree.Path() + "src/q*/*.*") << "odd name";
    std::ofstream(tree.Path() + "src/qq/not.txt") << "not";
    RunZipOperation(2, OnDisk("src"), InArchive(""), {Folder("q*")}, false, zip, ui);
    EXPECT_EQ(Members(), (std::vector<std::string>{"a*b/3.txt", "a*b/sub/5.txt", "aXYb/4.txt", "axb/2.txt", "q*/",
                                                   "q*/*.*", "q*/in.txt"}));
    // The folder row of q* takes the whole folder, the member "q*/*.*" with it.
    f.Add(fkDirectory, "q*");
    RunZipOperation(3, InArchive(""), OnDisk("out"), SourceRowsOf(f.pane, {2}), false, zip, ui);
    EXPECT_EQ(Members(), (std::vector<std::string>{"a*b/3.txt", "a*b/sub/5.txt", "aXYb/4.txt", "axb/2.txt"}));
}

TEST_F(ZipFileOperationTest, RefusalsChangeNothing)
{
    const std::string before = Slurp(archive);
    const SourceRow d = Member("", "d.txt");
    RunZipOperation(2, InArchive(""), InArchive(""), {d}, false, zip, ui);
    RunZipOperation(1, InArchive(""), InArchive("a/"), {d}, true, zip, ui);
    RunZipOperation(4, InArchive(""), OnDisk("out"), {d}, false, zip, ui);
    RunZipOperation(FO_PROPERTIES, InArchive(""), OnDisk("out"), {d}, false, zip, ui);
    EXPECT_EQ(ui.shown, (std::vector<std::string>{kBetweenZipsText, kBetweenZipsText, kRenameInZipText}));
    EXPECT_EQ(Slurp(archive), before);
    EXPECT_TRUE(fs::is_empty(tree.Path() + "out"));

    // A target folder that has gone: nothing is written anywhere else.
    ui.shown.clear();
    RunZipOperation(2, InArchive(""), OnDisk("gone"), {d}, false, zip, ui);
    ASSERT_EQ(ui.shown.size(), 1u);
    EXPECT_NE(ui.shown[0].find("does not exist"), std::string::npos);
    EXPECT_FALSE(fs::exists("d.txt"));
}

TEST_F(ZipFileOperationTest, DeleteRemovesFoldersAndFilesWithoutAsking)
{
    const auto result = RunZipOperation(3, InArchive(""), OnDisk("out"), {Folder("a")}, false, zip, ui);
    EXPECT_TRUE(ui.shown.empty());
    EXPECT_TRUE(result.sourceChanged);
    EXPECT_EQ(Members(), (std::vector<std::string>{"d.txt"}));
    EXPECT_EQ(std::system(("unzip -tqq '" + archive + "' >/dev/null").c_str()), 0);
}

TEST_F(ZipFileOperationTest, CopyAndMoveIntoAnArchive)
{
    tree.Dir("src/docs/deep");
    std::ofstream(tree.Path() + "src/docs/deep/.hidden") << "h";
    std::ofstream(tree.Path() + "src/top.txt") << "top";
    const std::string cwd = fs::current_path();
    auto result = RunZipOperation(2, OnDisk("src"), InArchive("a/"), {Folder("docs"), File("top.txt")}, false, zip, ui);
    EXPECT_EQ(fs::current_path(), cwd) << "the working directory comes back";
    EXPECT_TRUE(result.targetChanged);
    EXPECT_FALSE(result.sourceChanged);
    EXPECT_EQ(Members(), (std::vector<std::string>{"a/", "a/b/c.txt", "d.txt", "docs/", "docs/deep/",
                                                   "docs/deep/.hidden", "top.txt"}));
    EXPECT_TRUE(fs::exists(tree.Path() + "src/top.txt"));
    EXPECT_EQ(std::system(("unzip -tqq '" + archive + "' >/dev/null").c_str()), 0);

    result = RunZipOperation(1, OnDisk("src"), InArchive(""), {Folder("docs"), File("top.txt")}, false, zip, ui);
    EXPECT_TRUE(result.sourceChanged);
    EXPECT_FALSE(fs::exists(tree.Path() + "src/top.txt"));
    EXPECT_FALSE(fs::exists(tree.Path() + "src/docs/deep/.hidden"));
    EXPECT_TRUE(ui.shown.empty());
}

// A row acts on the very member it shows, never on members its name would
// match as a pattern, nor on one whose name only begins the same.
TEST_F(ZipFileOperationTest, ARowActsOnTheMemberItShowsOnly)
{
    const std::string evil("a\0evil.txt", 10);
    ZipBuilder b;
    b.Add({"*", "star"});
    b.Add({"a", "plain a"});
    b.Add({evil, "evil"});
    b.Add({"b?.txt", "question"});
    b.Add({"bb.txt", "bb"});
    WriteArchive(b);

    RunZipOperation(2, InArchive(""), OnDisk("out"), Listed("", {evil}), false, zip, ui);
    EXPECT_TRUE(fs::is_empty(tree.Path() + "out")) << "the row a\\0evil.txt must not write a";
    ASSERT_EQ(ui.shown.size(), 1u) << "a name no file can bear is reported";
    EXPECT_NE(ui.shown[0].find("a\\0evil.txt"), std::string::npos) << ui.shown[0];
    EXPECT_NE(ui.shown[0].find("NUL"), std::string::npos) << ui.shown[0];

    ui.shown.clear();
    RunZipOperation(2, InArchive(""), OnDisk("out"), Listed("", {"*", "b?.txt"}), false, zip, ui);
    EXPECT_EQ(Slurp(tree.Path() + "out/*"), "star");
    EXPECT_EQ(Slurp(tree.Path() + "out/b?.txt"), "question");
    EXPECT_FALSE(fs::exists(tree.Path() + "out/a"));
    EXPECT_FALSE(fs::exists(tree.Path() + "out/bb.txt"));
    EXPECT_TRUE(ui.shown.empty());

    // A local header naming another member than the central directory does:
    // that entry is damage, not a row; the others act as listed.
    ZipBuilder odd;
    odd.Add({"*", "star"});
    odd.Add({"a", "plain a"});
    odd.Add({"b?.txt", "question"});
    odd.Add({"bb.txt", "bb"});
    BuiltMember disagreeing{"c*", "c"};
    disagreeing.centralName = "c";
    odd.Add(disagreeing);
    WriteArchive(odd);
    std::string error;
    const std::vector<SourceRow> star = Listed("", {"*"}, &error);
    EXPECT_NE(error.find("Damaged archive: 1 member(s)"), std::string::npos) << error;
    RunZipOperation(3, InArchive(""), OnDisk("out"), star, false, zip, ui);
    EXPECT_EQ(Members(), (std::vector<std::string>{"a", "b?.txt", "bb.txt", "c"}));
    RunZipOperation(3, InArchive(""), OnDisk("out"), Listed("", {"b?.txt"}), false, zip, ui);
    EXPECT_EQ(Members(), (std::vector<std::string>{"a", "bb.txt", "c"}));
    EXPECT_EQ(std::system(("unzip -tqq '" + archive + "' >/dev/null").c_str()), 0);

    // A row listed before the archive changed names nothing now.
    const std::vector<SourceRow> a = Listed("", {"a"});
    ZipBuilder changed;
    changed.Add({"other", "o"});
    changed.Add({"a", "a"});
    WriteArchive(changed);
    ui.shown.clear();
    RunZipOperation(3, InArchive(""), OnDisk("out"), a, false, zip, ui);
    EXPECT_EQ(Members(), (std::vector<std::string>{"a", "other"}));
    ASSERT_EQ(ui.shown.size(), 1u);
    EXPECT_NE(ui.shown[0].find("no longer holds a"), std::string::npos);
}

// Copying out asks before replacing a file, as a disk copy does, and never
// writes over the archive it reads.
TEST_F(ZipFileOperationTest, CopyOutAsksBeforeReplacing)
{
    const std::string existing = tree.Path() + "out/d.txt";
    std::ofstream(existing) << "newer on disk";
    std::ofstream(tree.Path() + "out/a/b/c.txt") << "";
    tree.Dir("out/a/b");
    std::ofstream(tree.Path() + "out/a/b/c.txt") << "mine";

    ui.replaceAnswers = {ReplaceAnswer::No};
    RunZipOperation(2, InArchive(""), OnDisk("out"), {Member("", "d.txt")}, false, zip, ui);
    EXPECT_EQ(Slurp(existing), "newer on disk");
    ASSERT_EQ(ui.asked.size(), 1u);
    struct stat st;
    ASSERT_EQ(::stat(existing.c_str(), &st), 0);
    EXPECT_EQ(ui.asked[0].path, tree.Path() + "out/d.txt");
    EXPECT_EQ(ui.asked[0].existing.size, 13);
    EXPECT_EQ(ui.asked[0].existing.time, st.st_mtime);
    EXPECT_EQ(ui.asked[0].incoming.size, 2);
    EXPECT_EQ(ui.asked[0].incoming.time, zipcentral::UnixTimeFromDos(0x5A215C00));

    // Cancel: nothing at all is written, not even what asked nothing.
    ui.asked.clear();
    ui.replaceAnswers = {ReplaceAnswer::Cancel};
    fs::remove(tree.Path() + "out/a/b/c.txt");
    std::ofstream(tree.Path() + "out/a/b/c.txt") << "mine";
    RunZipOperation(2, InArchive(""), OnDisk("out"), {Folder("a"), Member("", "d.txt")}, false, zip, ui);
    EXPECT_EQ(ui.asked.size(), 1u);
    EXPECT_EQ(Slurp(tree.Path() + "out/a/b/c.txt"), "mine");
    EXPECT_EQ(Slurp(existing), "newer on disk");

    // Skip all: one question, and neither existing file is replaced.
    ui.asked.clear();
    ui.replaceAnswers = {ReplaceAnswer::SkipAll};
    RunZipOperation(2, InArchive(""), OnDisk("out"), {Folder("a"), Member("", "d.txt")}, false, zip, ui);
    EXPECT_EQ(ui.asked.size(), 1u);
    EXPECT_EQ(Slurp(tree.Path() + "out/a/b/c.txt"), "mine");
    EXPECT_EQ(Slurp(existing), "newer on disk");

    // Yes to all: one question for both.
    ui.asked.clear();
    ui.replaceAnswers = {ReplaceAnswer::YesToAll};
    RunZipOperation(2, InArchive(""), OnDisk("out"), {Folder("a"), Member("", "d.txt")}, false, zip, ui);
    EXPECT_EQ(ui.asked.size(), 1u);
    EXPECT_EQ(Slurp(tree.Path() + "out/a/b/c.txt"), "ccc");
    EXPECT_EQ(Slurp(existing), "dd");
    EXPECT_TRUE(ui.shown.empty());

    // A member named as the archive, copied out beside it.
    ZipBuilder inner;
    inner.Add({"s.zip", "the inner archive"});
    inner.Add({"x.txt", "x"});
    WriteArchive(inner);
    const std::string before = Slurp(archive);
    ui.asked.clear();
    RunZipOperation(2, InArchive(""), OnDisk(""), Listed("", {"s.zip", "x.txt"}), false, zip, ui);
    EXPECT_EQ(Slurp(archive), before);
    EXPECT_TRUE(ui.asked.empty()) << "no question: the archive is never replaced";
    EXPECT_EQ(Slurp(tree.Path() + "x.txt"), "x");
    ASSERT_EQ(ui.shown.size(), 1u);
    EXPECT_NE(ui.shown[0].find("archive being read"), std::string::npos) << ui.shown[0];
}

// A member's stored name stays byte for byte: an archive libzip would
// rewrite (a NUL in a name) is left as it is, with a message; a name that is
// no UTF-8 goes through a delete and an add unchanged.
TEST_F(ZipFileOperationTest, StoredNamesKeepEveryByte)
{
    ZipBuilder withNul;
    withNul.Add({std::string("a\0b.txt", 7), "x"});
    withNul.Add({"keep.txt", "k"});
    withNul.Add({"drop.txt", "d"});
    WriteArchive(withNul);
    const std::string before = Slurp(archive);
    RunZipOperation(3, InArchive(""), OnDisk("out"), Listed("", {"drop.txt"}), false, zip, ui);
    EXPECT_EQ(Slurp(archive), before);
    tree.Dir("src");
    std::ofstream(tree.Path() + "src/new.txt") << "n";
    RunZipOperation(2, OnDisk("src"), InArchive(""), {File("new.txt")}, false, zip, ui);
    EXPECT_EQ(Slurp(archive), before);
    ASSERT_EQ(ui.shown.size(), 2u) << "each refusal is told";
    EXPECT_NE(ui.shown[0].find("a\\0b.txt has a name holding a NUL byte"), std::string::npos) << ui.shown[0];
    ui.shown.clear();

    const std::string latin("caf\xE9.txt");
    ZipBuilder latin1;
    latin1.Add({latin, "c"});
    latin1.Add({"drop.txt", "d"});
    WriteArchive(latin1);
    RunZipOperation(3, InArchive(""), OnDisk("out"), Listed("", {"drop.txt"}), false, zip, ui);
    RunZipOperation(2, OnDisk("src"), InArchive(""), {File("new.txt")}, false, zip, ui);
    EXPECT_EQ(Members(), (std::vector<std::string>{latin, "new.txt"}));
    EXPECT_TRUE(ui.shown.empty());
    EXPECT_EQ(std::system(("unzip -tqq '" + archive + "' >/dev/null").c_str()), 0);
}

} // namespace
} // namespace tarnel
