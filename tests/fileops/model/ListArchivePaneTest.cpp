// Archives shown as folders, through the real reading and navigation.
#include "fileops/model/ZipBuilder.h"
#include "fileops/model/ZipMaster.h"
#include "panes/Matcher.h"
#include "panes/Navigation.h"
#include "panes/PaneFixture.h"
#include "panes/ReadDirectory.h"
#include "panes/TempTree.h"
#include "sources/LocalSource.h"
#include "sources/ZipSource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

namespace tarnel {
namespace {

using test::ZipBuilder;

class ListArchivePaneTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto sources = std::make_shared<SourceTable>();
        sources->local = std::make_shared<LocalSource>();
        sources->zip = std::make_shared<ZipSource>(&zip);
        fixture.pane.Sources = sources;
        fixture.pane.ReportProblem = [this](const std::string& text) { error = text; };
    }

    std::string Write(const std::string& name, const std::string& bytes)
    {
        std::ofstream(tree.Path() + name, std::ios::binary) << bytes;
        return tree.Path() + name;
    }

    void Show(const std::string& archive, const std::string& zipPath)
    {
        fixture.pane.Path = archive;
        fixture.pane.ZipMode = 1;
        fixture.pane.ZipPath = zipPath;
        error.clear();
        ReadDirectory(fixture.pane);
    }

    // The row showing name, or -1.
    int rowOf(const std::string& name) const
    {
        for (int i = 0; i < fixture.pane.Count; ++i)
            if (fixture.pane.Item(i).Name == name)
                return i;
        return -1;
    }

    // "name size" per row, in the pane's order.
    std::vector<std::string> Rows() const
    {
        std::vector<std::string> rows;
        for (int i = 0; i < fixture.pane.Count; ++i) {
            const TFileData& e = fixture.pane.Item(i);
            rows.push_back(std::string(e.Kind == fkDirectory ? "d " : "f ") + e.Name + " " + std::to_string(e.Size.load()));
        }
        return rows;
    }

    static std::string Sample()
    {
        ZipBuilder b;
        b.Add({"a/b/c.txt", "12345"});
        b.Add({"d.txt", "dd"});
        b.Add({"A/x.LOG", "xyz"});
        b.Add({"empty/", ""});
        b.Add({"e.bin", "e"});
        return b.Bytes();
    }

    test::TempTree tree;
    test::PaneFixture fixture;
    TZipMaster zip;
    std::string error;
};

TEST_F(ListArchivePaneTest, FoldersAreImpliedByPathsAndSumTheirFiles)
{
    const std::string archive = Write("s.zip", Sample());
    Show(archive, "");
    EXPECT_EQ(Rows(), (std::vector<std::string>{"d .. -1", "d a 8", "d empty 0", "f d.txt 2", "f e.bin 1"}))
        << "a and A are one folder";
    EXPECT_EQ(fixture.pane.DirCount, 3);
    EXPECT_EQ(fixture.pane.FileCount, 2);
    EXPECT_EQ(fixture.controls.pathLabel, archive + "/");
    EXPECT_EQ(fixture.controls.filterItems, (std::vector<std::string>{"*", "*.bin", "*.txt"}));
    EXPECT_TRUE(error.empty());

    Show(archive, "a/");
    EXPECT_EQ(Rows(), (std::vector<std::string>{"d .. -1", "d b 5", "f x.LOG 3"}));
    EXPECT_EQ(fixture.controls.pathLabel, archive + "/a/");
    Show(archive, "a/b/");
    EXPECT_EQ(Rows(), (std::vector<std::string>{"d .. -1", "f c.txt 5"}));
    Show(archive, "empty/");
    EXPECT_EQ(Rows(), (std::vector<std::string>{"d .. -1"}));

    fixture.controls.filterText = "*.txt";
    Show(archive, "");
    EXPECT_EQ(Rows(), (std::vector<std::string>{"d .. -1", "d a 8", "d empty 0", "f d.txt 2"}));
    EXPECT_EQ(fixture.controls.filterItems, (std::vector<std::string>{"*", "*.bin", "*.txt"}))
        << "filtered files still offer their pattern";
}

TEST_F(ListArchivePaneTest, DamagedOrOddArchivesListWhatCanBeRead)
{
    std::string bytes = Sample();
    bytes.resize(bytes.find("e.bin") + 2); // cut inside the last member's name
    Show(Write("cut.zip", bytes), "");
    EXPECT_EQ(error, "Error 2 reading Zip file");
    EXPECT_EQ(Rows(), (std::vector<std::string>{"d .. -1", "d a 8", "d empty 0", "f d.txt 2"}));
    bytes.resize(bytes.size() - 16); // now the one before it runs into the end
    Show(Write("cut.zip", bytes), "");
    EXPECT_EQ(error, "Error 3 reading Zip file");
    EXPECT_EQ(Rows(), (std::vector<std::string>{"d .. -1", "d a 8", "f d.txt 2"}));

    for (const std::string& junk : {std::string(), std::string(70000, 'P'), ZipBuilder().Bytes()}) {
        Show(Write("junk.zip", junk), "");
        EXPECT_EQ(Rows(), (std::vector<std::string>{"d .. -1"}));
    }
    Show(tree.Path() + "missing.zip", "");
    EXPECT_EQ(Rows(), (std::vector<std::string>{"d .. -1"}));
    EXPECT_EQ(fixture.pane.Item(0).Time, 0);

    // Names that would pose as the way out, doubled slashes, duplicates.
    ZipBuilder b;
    b.Add({"../up.txt", "u"});
    b.Add({"x//y.txt", "y"});
    b.Add({"dup.txt", "1"});
    b.Add({"dup.txt", "22"});
    b.Add({"back\\slash.txt", "b"});
    Show(Write("odd.zip", b.Bytes()), "");
    std::vector<std::string> rows = Rows();
    std::sort(rows.begin(), rows.end());
    EXPECT_EQ(rows, (std::vector<std::string>{"d .. -1", "d x 1", "f back\\slash.txt 1", "f dup.txt 1",
                                                "f dup.txt 2"}));
    EXPECT_EQ(error, "1 member(s) here are not listed: their names are absolute or hold an empty, \".\" or \"..\" part")
        << "a member no row shows is still in the archive";
    Show(tree.Path() + "odd.zip", "x/");
    EXPECT_EQ(Rows(), (std::vector<std::string>{"d .. -1"})) << "an empty name makes no row";
    EXPECT_NE(error.find("1 member(s) here are not listed"), std::string::npos);

    ZipBuilder hidden;
    hidden.Add({"/etc/abs.txt", "a"});
    hidden.Add({".", "d"});
    hidden.Add({"ok.txt", "o"});
    Show(Write("hidden.zip", hidden.Bytes()), "");
    EXPECT_EQ(Rows(), (std::vector<std::string>{"d .. -1", "f ok.txt 1"}));
    EXPECT_NE(error.find("2 member(s) here are not listed"), std::string::npos) << error;
}

// Into an archive by its name, down its folders, and out again by "..",
// with the place recorded so Back returns inside the archive.
TEST_F(ListArchivePaneTest, EnteringAndLeavingAnArchive)
{
    Write("data.ZIP", Sample());
    Write("other.txt", "t");
    TDirData& pane = fixture.pane;
    pane.Path = tree.Path();
    ReadDirectory(pane);
    ASSERT_EQ(OpenEntry(pane, rowOf("data.ZIP"), {}), OpenResult::Moved);
    EXPECT_EQ(pane.ZipMode, 1);
    EXPECT_EQ(pane.Path, tree.Path() + "data.ZIP/");
    ASSERT_EQ(OpenEntry(pane, rowOf("a"), {}), OpenResult::Moved);
    EXPECT_EQ(pane.ZipPath, "a/");
    EXPECT_NE(rowOf("x.LOG"), -1);
    EXPECT_EQ(OpenEntry(pane, rowOf("x.LOG"), {}), OpenResult::OpenFile);
    ASSERT_TRUE(GoBack(pane, {}));
    EXPECT_EQ(pane.ZipPath, "");
    EXPECT_EQ(pane.ZipMode, 1);
    EXPECT_NE(rowOf("d.txt"), -1);
    ASSERT_EQ(OpenEntry(pane, rowOf(".."), {}), OpenResult::Moved);
    EXPECT_EQ(pane.ZipMode, 0);
    EXPECT_EQ(pane.Path, tree.Path());
    EXPECT_NE(rowOf("other.txt"), -1);
}

// A .zip member is a file of the archive, not a place on disk: opening it
// leaves the pane where it is and opens the member's copy.
TEST_F(ListArchivePaneTest, AZipMemberOpensAsAFile)
{
    ZipBuilder b;
    b.Add({"inner.zip", Sample()});
    b.Add({"a/deep.ZIP", Sample()});
    Write("outer.zip", b.Bytes());
    TDirData& pane = fixture.pane;
    pane.Path = tree.Path();
    ReadDirectory(pane);
    ASSERT_EQ(OpenEntry(pane, rowOf("outer.zip"), {}), OpenResult::Moved);
    EXPECT_EQ(OpenEntry(pane, rowOf("inner.zip"), {}), OpenResult::OpenFile);
    EXPECT_EQ(pane.Path, tree.Path() + "outer.zip/");
    EXPECT_EQ(pane.ZipMode, 1);
    ASSERT_EQ(OpenEntry(pane, rowOf("a"), {}), OpenResult::Moved);
    const size_t recorded = pane.History.size();
    EXPECT_EQ(OpenEntry(pane, rowOf("deep.ZIP"), {}), OpenResult::OpenFile);
    EXPECT_EQ(pane.ZipPath, "a/");
    EXPECT_EQ(pane.History.size(), recorded) << "nothing recorded for the member";
}

} // namespace
} // namespace tarnel
