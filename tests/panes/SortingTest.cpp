#include "PaneFixture.h"
#include "panes/Sorting.h"

#include <gtest/gtest.h>

using namespace tarnel;
using List = std::vector<std::string>;

namespace {

struct SortingTest : ::testing::Test, test::PaneFixture {
    void Sort(int key, bool ascending = true)
    {
        controls.sortKey = key;
        pane.Ascending = ascending ? 1 : 0;
        SortPane(pane, true, true);
    }
};

} // namespace

TEST_F(SortingTest, BlocksStayApartAndParentStaysFirst)
{
    Add(fkDirectory, "zeta");
    Add(fkDirectory, "Alpha");
    Add(fkDirectory, "..");
    Add(fkFile, "b.txt");
    Add(fkFile, "A.txt");
    Add(fkDrive, "/ [root]");
    Add(fkDrive, "/home [data]");
    Add(fkDrive, "/boot []");
    Sort(skName);
    EXPECT_EQ(Names(), (List{"..", "Alpha", "zeta", "A.txt", "b.txt", "/ [root]", "/home [data]", "/boot []"}));
    Sort(skName, false);
    EXPECT_EQ(Names(), (List{"..", "zeta", "Alpha", "b.txt", "A.txt", "/ [root]", "/home [data]", "/boot []"}));
}

TEST_F(SortingTest, RootListingWithoutParentSortsEveryDirectory)
{
    Add(fkDirectory, "b");
    Add(fkDirectory, "a");
    Sort(skName);
    EXPECT_EQ(Names(), (List{"a", "b"}));
}

TEST_F(SortingTest, SizeOrderPlacesUnmeasuredDirectoriesWithOneByteTotals)
{
    Add(fkDirectory, "..");
    Add(fkDirectory, "pending", -1);
    Add(fkDirectory, "big", 5000);
    Add(fkDirectory, "empty", 0);
    Add(fkDirectory, "one", 1);
    Sort(skSize);
    // -1 ranks like 1; equal ranks fall back to the name.
    EXPECT_EQ(Names(), (List{"..", "empty", "one", "pending", "big"}));
}

TEST_F(SortingTest, TiesBreakByNameInTheChosenDirection)
{
    Add(fkFile, "b.txt", 10, 100);
    Add(fkFile, "a.txt", 10, 100);
    Add(fkFile, "c.doc", 10, 100);
    Sort(skSize);
    EXPECT_EQ(Names(), (List{"a.txt", "b.txt", "c.doc"}));
    Sort(skTime, false);
    EXPECT_EQ(Names(), (List{"c.doc", "b.txt", "a.txt"}));
    Sort(skType);
    EXPECT_EQ(Names(), (List{"c.doc", "a.txt", "b.txt"}));
}

TEST_F(SortingTest, TypeOrderKeepsDirectoriesByName)
{
    Add(fkDirectory, "y.aaa");
    Add(fkDirectory, "x.zzz");
    Add(fkFile, "noext");
    Add(fkFile, "a.b.c");
    Sort(skType);
    EXPECT_EQ(Names(), (List{"x.zzz", "y.aaa", "noext", "a.b.c"}));
}

TEST_F(SortingTest, DescriptionsAndNonAsciiBytes)
{
    Add(fkFile, "1", 0, 0, "beta");
    Add(fkFile, "2", 0, 0, "Alpha");
    Add(fkFile, "3", 0, 0, "alphabet");
    Sort(skDescription);
    EXPECT_EQ(Names(), (List{"2", "3", "1"}));
    // Names compare as unsigned bytes after ASCII upper-casing only.
    PaneFixture other;
    other.Add(fkFile, "\xc3\xa9t\xc3\xa9");
    other.Add(fkFile, "zed");
    other.Add(fkFile, "\xff");
    SortPane(other.pane, true, true);
    EXPECT_EQ(other.Names(), (List{"zed", "\xc3\xa9t\xc3\xa9", "\xff"}));
}

TEST_F(SortingTest, SortingLeavesNoRowSelected)
{
    Add(fkFile, "a");
    Add(fkFile, "b");
    controls.SetRangeSelected(0, 1, true);
    Sort(skName);
    EXPECT_EQ(controls.SelectedCount(), 0);
}

TEST_F(SortingTest, LargeListingsWithManyEqualKeys)
{
    for (int i = 0; i < 100000; ++i)
        Add(fkFile, "f" + std::to_string(i % 977), i % 3);
    Sort(skSize);
    for (int i = 1; i < pane.Count; ++i)
        ASSERT_LE(CompareFiles(pane.Item(i - 1), pane.Item(i), skSize, 1), 0) << i;
}

TEST_F(SortingTest, HeaderClicksFlipOnlyTheSameKey)
{
    Add(fkFile, "b", 1);
    Add(fkFile, "a", 2);
    controls.sortKey = skSize;
    EXPECT_TRUE(HeaderSectionClicked(pane, "Size"));
    EXPECT_EQ(pane.Ascending, 0);
    EXPECT_EQ(Names(), (List{"a", "b"}));
    EXPECT_TRUE(HeaderSectionClicked(pane, "Name"));
    EXPECT_EQ(controls.sortKey, skName);
    EXPECT_EQ(pane.Ascending, 0); // another key keeps the direction
    EXPECT_EQ(Names(), (List{"b", "a"}));
    EXPECT_FALSE(HeaderSectionClicked(pane, "name")); // captions compare exactly
    EXPECT_EQ(controls.headerRepaints, 2);
}
