// Copy, move and delete with an archive on one side, on real archives.
#include "fileops/model/ZipFileOperation.h"
#include "fileops/model/ZipBuilder.h"
#include "fileops/model/ZipMaster.h"
#include "panes/PaneFixture.h"
#include "panes/TempTree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace tarnel {
namespace {

namespace fs = std::filesystem;
using test::ZipBuilder;

class RecordingUi : public ZipOperationUi {
public:
    void Inform(const std::string& text) override { shown.push_back(text); }
    void Error(const std::string& text) override { shown.push_back("error: " + text); }
    bool Confirm(const std::string& text) override
    {
        shown.push_back("? " + text);
        return answer;
    }
    std::vector<std::string> shown;
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
        zip.SetZipFilename(archive);
        std::vector<std::string> names;
        for (const ZipDirEntry& e : zip.ZipContents())
            names.push_back(e.FileName);
        std::sort(names.begin(), names.end());
        return names;
    }

    ZipSide InArchive(const std::string& zipPath) const { return {archive + "/", 1, zipPath}; }
    ZipSide OnDisk(const std::string& dir) const { return {tree.Path() + dir + "/", 0, ""}; }

    test::TempTree tree;
    TZipMaster zip;
    RecordingUi ui;
    std::string archive;
};

TEST_F(ZipFileOperationTest, FileListOfASelection)
{
    test::PaneFixture f;
    f.pane.ZipMode = 1;
    f.pane.ZipPath = "a/";
    f.Add(fkDirectory, "..");
    f.Add(fkDirectory, "b");
    f.Add(fkFile, "x.txt");
    f.Add(fkDrive, "/");
    EXPECT_EQ(ZipFileList(f.pane, {0, 1, 2, 3, 9}), (std::vector<std::string>{"a/b/", "a/x.txt"}));
    f.pane.ZipMode = 0;
    EXPECT_EQ(ZipFileList(f.pane, {1, 2}), (std::vector<std::string>{"b/*.*", "x.txt"}));

    EXPECT_TRUE(IsZipOperation(3, InArchive(""), OnDisk("out")));
    EXPECT_TRUE(IsZipOperation(2, OnDisk("out"), InArchive("")));
    EXPECT_FALSE(IsZipOperation(3, OnDisk("out"), InArchive(""))) << "deleting on disk next to an archive pane";
}

TEST_F(ZipFileOperationTest, CopyOutKeepsTheStoredFolders)
{
    const auto result = RunZipOperation(2, InArchive("a/b/"), OnDisk("out"), {"a/b/c.txt"}, false, zip, ui);
    EXPECT_EQ(Slurp(tree.Path() + "out/a/b/c.txt"), "ccc");
    EXPECT_FALSE(fs::exists(tree.Path() + "out/c.txt"));
    EXPECT_TRUE(result.targetChanged);
    EXPECT_FALSE(result.sourceChanged);
    EXPECT_TRUE(ui.shown.empty());

    std::ofstream(tree.Path() + "out/d.txt") << "old";
    RunZipOperation(2, InArchive(""), OnDisk("out"), {"d.txt", "a/*.*"}, false, zip, ui);
    EXPECT_EQ(Slurp(tree.Path() + "out/d.txt"), "dd") << "copying out overwrites";
}

TEST_F(ZipFileOperationTest, MoveOutAsksBeforeDeletingFromTheArchive)
{
    ui.answer = false;
    auto result = RunZipOperation(1, InArchive(""), OnDisk("out"), {"d.txt"}, false, zip, ui);
    EXPECT_EQ(ui.shown, (std::vector<std::string>{std::string("? ") + kDeleteFromZipText}));
    EXPECT_TRUE(fs::exists(tree.Path() + "out/d.txt"));
    EXPECT_EQ(Members(), (std::vector<std::string>{"a/", "a/b/c.txt", "d.txt"}));
    EXPECT_FALSE(result.sourceChanged);

    ui.answer = true;
    result = RunZipOperation(1, InArchive(""), OnDisk("out"), {"a/*.*"}, false, zip, ui);
    EXPECT_TRUE(result.sourceChanged);
    EXPECT_EQ(Members(), (std::vector<std::string>{"d.txt"}));
    EXPECT_EQ(Slurp(tree.Path() + "out/a/b/c.txt"), "ccc");

    ui.shown.clear();
    RunZipOperation(1, InArchive(""), OnDisk("out"), {"d.txt"}, true, zip, ui);
    EXPECT_TRUE(ui.shown.empty()) << "no question with FastZipMove";
    EXPECT_TRUE(Members().empty());
}

// A move takes out of the archive only the members it wrote to disk, by
// their names: not those that failed, nor any when the extraction was
// refused (FastZipMove asks nothing, so nothing else stood in the way).
TEST_F(ZipFileOperationTest, MoveOutDeletesOnlyTheMembersExtracted)
{
    const std::string before = Slurp(archive);
    auto result = RunZipOperation(1, InArchive(""), OnDisk("gone"), {"d.txt", "a/*.*"}, true, zip, ui);
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
    result = RunZipOperation(1, InArchive(""), OnDisk("out"), {"a/*.*", "d.txt"}, true, zip, ui);
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
    RunZipOperation(1, InArchive(""), OnDisk("out"), {"*.*"}, true, zip, ui);
    EXPECT_EQ(Members(), (std::vector<std::string>{"./y.txt", "docs//x.txt", "docs/x.txt", "twin.txt", "twin.txt",
                                                   "y.txt"}));
    EXPECT_EQ(Slurp(tree.Path() + "out/single.txt"), "s");
    EXPECT_EQ(ui.shown, (std::vector<std::string>{kNotMovedText}));

    // More members than one library call may name.
    ZipBuilder many;
    for (int i = 0; i < 4200; ++i)
        many.Add({"many/" + std::to_string(i), "m"});
    many.Add({"keep.txt", "k"});
    std::ofstream(archive, std::ios::binary | std::ios::trunc) << many.Bytes();
    ui.shown.clear();
    RunZipOperation(1, InArchive(""), OnDisk("out"), {"many/*.*"}, true, zip, ui);
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

    RunZipOperation(2, InArchive(""), OnDisk("out"), ZipFileList(f.pane, {0}), false, zip, ui);
    EXPECT_TRUE(fs::exists(tree.Path() + "out/a*b/3.txt"));
    EXPECT_TRUE(fs::exists(tree.Path() + "out/a*b/sub/5.txt"));
    EXPECT_FALSE(fs::exists(tree.Path() + "out/aXYb"));
    EXPECT_FALSE(fs::exists(tree.Path() + "out/axb"));

    RunZipOperation(3, InArchive(""), OnDisk("out"), ZipFileList(f.pane, {1}), false, zip, ui);
    EXPECT_EQ(Members(), (std::vector<std::string>{"a*b/3.txt", "a*b/sub/5.txt", "aXYb/4.txt", "axb/2.txt"}));
    EXPECT_TRUE(ui.shown.empty());
    EXPECT_EQ(std::system(("unzip -tqq '" + archive + "' >/dev/null").c_str()), 0);

    // Adding names the folder on disk the same way.
    tree.Dir("src/q*");
    tree.Dir("src/qq");
    std::ofstream(tree.Path() + "src/q*/in.txt") << "in";
    std::ofstream(tree.Path() + "src/q*/*.*") << "odd name";
    std::ofstream(tree.Path() + "src/qq/not.txt") << "not";
    RunZipOperation(2, OnDisk("src"), InArchive(""), {"q*/*.*"}, false, zip, ui);
    EXPECT_EQ(Members(), (std::vector<std::string>{"a*b/3.txt", "a*b/sub/5.txt", "aXYb/4.txt", "axb/2.txt", "q*/",
                                                   "q*/*.*", "q*/in.txt"}));
    // The folder row of q* takes the whole folder, the member "q*/*.*" with it.
    f.Add(fkDirectory, "q*");
    RunZipOperation(3, InArchive(""), OnDisk("out"), ZipFileList(f.pane, {2}), false, zip, ui);
    EXPECT_EQ(Members(), (std::vector<std::string>{"a*b/3.txt", "a*b/sub/5.txt", "aXYb/4.txt", "axb/2.txt"}));
}

TEST_F(ZipFileOperationTest, RefusalsChangeNothing)
{
    const std::string before = Slurp(archive);
    RunZipOperation(2, InArchive(""), InArchive(""), {"d.txt"}, false, zip, ui);
    RunZipOperation(1, InArchive(""), InArchive("a/"), {"d.txt"}, true, zip, ui);
    RunZipOperation(4, InArchive(""), OnDisk("out"), {"d.txt"}, false, zip, ui);
    RunZipOperation(170, InArchive(""), OnDisk("out"), {"d.txt"}, false, zip, ui);
    EXPECT_EQ(ui.shown, (std::vector<std::string>{kBetweenZipsText, kBetweenZipsText, kRenameInZipText}));
    EXPECT_EQ(Slurp(archive), before);
    EXPECT_TRUE(fs::is_empty(tree.Path() + "out"));

    // A target folder that has gone: nothing is written anywhere else.
    ui.shown.clear();
    RunZipOperation(2, InArchive(""), OnDisk("gone"), {"d.txt"}, false, zip, ui);
    ASSERT_EQ(ui.shown.size(), 1u);
    EXPECT_NE(ui.shown[0].find("does not exist"), std::string::npos);
    EXPECT_FALSE(fs::exists("d.txt"));
}

TEST_F(ZipFileOperationTest, DeleteRemovesFoldersAndFilesWithoutAsking)
{
    const auto result = RunZipOperation(3, InArchive(""), OnDisk("out"), {"a/*.*"}, false, zip, ui);
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
    auto result = RunZipOperation(2, OnDisk("src"), InArchive("a/"), {"docs/*.*", "top.txt"}, false, zip, ui);
    EXPECT_EQ(fs::current_path(), cwd) << "the working directory comes back";
    EXPECT_TRUE(result.targetChanged);
    EXPECT_FALSE(result.sourceChanged);
    EXPECT_EQ(Members(), (std::vector<std::string>{"a/", "a/b/c.txt", "d.txt", "docs/", "docs/deep/",
                                                   "docs/deep/.hidden", "top.txt"}));
    EXPECT_TRUE(fs::exists(tree.Path() + "src/top.txt"));
    EXPECT_EQ(std::system(("unzip -tqq '" + archive + "' >/dev/null").c_str()), 0);

    result = RunZipOperation(1, OnDisk("src"), InArchive(""), {"docs/*.*", "top.txt"}, false, zip, ui);
    EXPECT_TRUE(result.sourceChanged);
    EXPECT_FALSE(fs::exists(tree.Path() + "src/top.txt"));
    EXPECT_FALSE(fs::exists(tree.Path() + "src/docs/deep/.hidden"));
    EXPECT_TRUE(ui.shown.empty());
}

} // namespace
} // namespace tarnel
