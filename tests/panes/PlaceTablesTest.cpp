#include "PaneFixture.h"
#include "panes/PathUtil.h"
#include "panes/PlaceTables.h"

#include <gtest/gtest.h>

using namespace tarnel;

TEST(PlaceTables, OldestKeyDropsOutAndKnownKeysKeepTheirSlot)
{
    TDirPos positions;
    for (int i = 0; i < 50; ++i)
        positions.Store("/d" + std::to_string(i) + "/", i, i + 1);
    positions.Store("/D0/", 7, 8); // same key: updated in place, not moved
    EXPECT_EQ(positions.Find("/d0/"), 50);
    positions.Store("/new/", 1, 2);
    EXPECT_EQ(positions.Count(), 50);
    EXPECT_EQ(positions.TopIndexOf("/d0/"), -1);
    EXPECT_EQ(positions.ItemIndexOf("/d0/"), -1);
    EXPECT_EQ(positions.Find("/new/"), 1);
    EXPECT_EQ(positions.TopIndexOf("/D1/"), 1);
    EXPECT_EQ(positions.ItemIndexOf("/d1/"), 2);
}

TEST(PlaceTables, SizesAreFoundWithoutRegardToCase)
{
    TDirSize sizes;
    EXPECT_EQ(sizes.SizeOf("/tmp/x"), -1);
    sizes.Store("/TMP/X", 42);
    EXPECT_EQ(sizes.SizeOf("/tmp/x"), 42);
    for (int i = 0; i < TDirSize::kCapacity; ++i)
        sizes.Store("/k" + std::to_string(i), i);
    EXPECT_EQ(sizes.SizeOf("/tmp/x"), -1);
    EXPECT_EQ(sizes.Count(), TDirSize::kCapacity);
}

TEST(PlaceTables, RememberDirSizesTakesOnlyComputedDiskTotals)
{
    test::PaneFixture f;
    f.pane.Path = "/remember/";
    f.Add(fkDirectory, "done", 100).SizeDone = 1;
    f.Add(fkDirectory, "remembered", 200); // from DirSizes, not recomputed yet
    f.Add(fkFile, "file", 300).SizeDone = 1;
    RememberDirSizes(f.pane);
    EXPECT_EQ(DirSizes().SizeOf("/remember/done"), 100);
    EXPECT_EQ(DirSizes().SizeOf("/remember/remembered"), -1);
    EXPECT_EQ(DirSizes().SizeOf("/remember/file"), -1);

    f.pane.Path = "/archive.zip/";
    f.pane.ZipMode = 1;
    f.pane.Item(0).Name = "inside";
    RememberDirSizes(f.pane);
    EXPECT_EQ(DirSizes().SizeOf("/archive.zip/inside"), -1);
}

TEST(PathUtil, DelimiterAndReplace)
{
    EXPECT_EQ(AddPathDelimiter(""), "/");
    EXPECT_EQ(AddPathDelimiter("/home"), "/home/");
    EXPECT_EQ(AddPathDelimiter("/home/"), "/home/");
    EXPECT_EQ(ReplaceChar("a/b/c/", '/', '\\'), "a\\b\\c\\");
}

TEST(History, TwentyPlacesNoRepeatsAndForwardEntriesDropped)
{
    test::PaneFixture f;
    for (int i = 0; i < 21; ++i) {
        f.pane.Path = "/p" + std::to_string(i);
        RecordHistory(f.pane);
    }
    ASSERT_EQ(f.pane.History.size(), 20u);
    EXPECT_EQ(f.pane.History.front().Path, "/p1/");
    EXPECT_EQ(f.pane.HistoryIndex, 19);
    RecordHistory(f.pane); // the same place again: nothing added
    EXPECT_EQ(f.pane.History.size(), 20u);
    f.pane.HistoryIndex = 17; // went back two steps
    f.pane.Path = "/elsewhere?odd/";
    RecordHistory(f.pane);
    EXPECT_EQ(f.pane.History.size(), 19u);
    EXPECT_EQ(f.pane.History.back().Path, "/elsewhere?odd/");
    EXPECT_EQ(f.pane.HistoryIndex, 18);
}
