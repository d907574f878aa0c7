#include "PaneFixture.h"
#include "panes/Navigation.h"
#include "panes/ReadDirectory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace tarnel;
namespace fs = std::filesystem;

namespace {

struct NavigationTest : ::testing::Test, test::PaneFixture {
    std::string root;
    DisplayLocale locale;

    void SetUp() override
    {
        char tmpl[] = "/tmp/tarnel-nav-XXXXXX";
        root = mkdtemp(tmpl);
        fs::create_directories(root + "/a/b");
        fs::create_directories(root + "/c");
        std::ofstream(root + "/a/DATA.ZIP") << "PK";
        std::ofstream(root + "/a/data.zip.txt") << "x";
        drives = {Volume{"/", DriveType::Fixed, "ext4", "/dev/sda1", "", "/ []", "/"}};
        pane.Path = root + "/a";
        RereadPane(pane, locale);
    }
    void TearDown() override { fs::remove_all(root); }

    int RowOf(const std::string& name)
    {
        for (int i = 0; i < pane.Count; ++i)
            if (pane.Item(i).Name == name)
                return i;
        return -1;
    }
};

} // namespace

TEST_F(NavigationTest, ParentRulesOnDiskAndInsideAnArchive)
{
    pane.Path = "/";
    StepToParent(pane);
    EXPECT_EQ(pane.Path, "/");
    pane.Path = "/a/";
    StepToParent(pane);
    EXPECT_EQ(pane.Path, "/");
    pane.Path = "/x/y/";
    StepToParent(pane);
    EXPECT_EQ(pane.Path, "/x");

    pane.Path = "/data/arc.zip/";
    pane.ZipMode = 1;
    pane.ZipPath = "docs/img/";
    StepToParent(pane);
    EXPECT_EQ(pane.ZipPath, "docs/");
    EXPECT_EQ(pane.ZipMode, 1);
    StepToParent(pane);
    EXPECT_EQ(pane.ZipPath, "");
    StepToParent(pane); // the archive's top: back to the directory that holds it
    EXPECT_EQ(pane.ZipMode, 0);
    EXPECT_EQ(pane.Path, "/data");
}

TEST_F(NavigationTest, OpeningDirectoriesArchivesAndFiles)
{
    EXPECT_EQ(OpenEntry(pane, RowOf("b"), locale), OpenResult::Moved);
    EXPECT_EQ(pane.Path, root + "/a/b/");
    EXPECT_EQ(OpenEntry(pane, RowOf(".."), locale), OpenResult::Moved);
    EXPECT_EQ(pane.Path, root + "/a/");
    EXPECT_EQ(OpenEntry(pane, RowOf("data.zip.txt"), locale), OpenResult::OpenFile);
    EXPECT_EQ(OpenEntry(pane, -1, locale), OpenResult::NoEntry);
    EXPECT_EQ(OpenEntry(pane, RowOf("DATA.ZIP"), locale), OpenResult::Moved);
    EXPECT_EQ(pane.ZipMode, 1);
    EXPECT_EQ(pane.Path, root + "/a/DATA.ZIP/");
    EXPECT_EQ(pane.ZipPath, "");
    GoToParent(pane, locale);
    EXPECT_EQ(pane.ZipMode, 0);
    EXPECT_EQ(pane.Path, root + "/a/");
    EXPECT_EQ(OpenEntry(pane, pane.Count - 1, locale), OpenResult::Moved); // the drive row
    EXPECT_EQ(pane.Path, "/");
}

TEST_F(NavigationTest, HistoryBackForwardAndTheForwardEntriesDropped)
{
    GoToDirectory(pane, root + "/c", locale);
    GoToDirectory(pane, root + "/a/b", locale);
    ASSERT_EQ(pane.History.size(), 3u);
    EXPECT_FALSE(GoForward(pane, locale)); // at the last entry
    EXPECT_TRUE(GoBack(pane, locale));
    EXPECT_TRUE(GoBack(pane, locale));
    EXPECT_EQ(pane.Path, root + "/a/");
    EXPECT_FALSE(GoBack(pane, locale)); // at the first entry
    EXPECT_EQ(pane.History.size(), 3u);  // going back records nothing
    GoToDirectory(pane, root + "/c", locale);
    EXPECT_EQ(pane.History.size(), 2u); // the two forward entries are gone
    EXPECT_FALSE(CanGoForward(pane));
    Refresh(pane, pane, pane, locale);
    EXPECT_EQ(pane.History.size(), 2u); // the same place again adds nothing
}

TEST_F(NavigationTest, GoToOtherCopiesThePlaceArchiveIncluded)
{
    test::PaneFixture other;
    other.pane.Path = "/arc/x.zip/";
    other.pane.ZipMode = 1;
    other.pane.ZipPath = "docs/";
    GoToOther(pane, other.pane, locale);
    EXPECT_EQ(pane.Path, "/arc/x.zip/");
    EXPECT_EQ(pane.ZipMode, 1);
    EXPECT_EQ(pane.ZipPath, "docs/");
}

TEST_F(NavigationTest, CopyPathText)
{
    const int file = RowOf("data.zip.txt");
    EXPECT_EQ(CopyPathText(pane, file, true), root + "/a/data.zip.txt");
    EXPECT_EQ(CopyPathText(pane, file, false), root + "/a/");
    EXPECT_EQ(CopyPathText(pane, pane.Count - 1, true), root + "/a/"); // a drive row adds nothing
    pane.ZipMode = 1;
    pane.ZipPath = "docs/img/";
    EXPECT_EQ(CopyPathText(pane, -1, false), root + "/a/docs/img/");
}

TEST_F(NavigationTest, ReturningRestoresTheRowLeftBehind)
{
    controls.currentRow = 2;
    controls.topRow = 1;
    const int left = controls.currentRow;
    GoToDirectory(pane, root + "/c", locale);
    GoBack(pane, locale);
    EXPECT_EQ(controls.currentRow, left);
    EXPECT_EQ(controls.topRow, 1);
    EXPECT_EQ(controls.SelectedCount(), 0);
}
