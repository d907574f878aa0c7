#include "viewer/model/RarListing.h"

#include <gtest/gtest.h>

namespace tarnel {
namespace {

TRarEntry File(const std::string& name, uint64_t size)
{
    TRarEntry e;
    e.FileName = name;
    e.UnpackedSize = size;
    return e;
}

TRarEntry Directory(const std::string& name)
{
    TRarEntry e = File(name, 4096);
    e.IsDirectory = true;
    return e;
}

TEST(RarListing, MembersTotalAndWarnings)
{
    const RarListing good = BuildRarListing(0, {File("a.txt", 1234), Directory("docs"), File("docs/b", 5)}, ",");
    EXPECT_EQ(good.lines, (std::vector<std::string>{"000001234 - a.txt", "docs", "000000005 - docs/b",
                                                    "Total unpacked size : 1,239 bytes"}));
    EXPECT_TRUE(good.buttonsEnabled);

    const RarListing empty = BuildRarListing(riBadArchive, {}, ".");
    EXPECT_EQ(empty.lines, (std::vector<std::string>{"WARNING : bad or corrupted archive!", "Total unpacked size : 0 bytes"}));
    EXPECT_FALSE(empty.buttonsEnabled);

    const RarListing all = BuildRarListing(riOutOfMemory | riIncomplete | riBadArchive, {File("x", 1)}, ",");
    ASSERT_EQ(all.lines.size(), 5u);
    EXPECT_EQ(all.lines[0], "WARNING : unexpected end of archive found!");
    EXPECT_EQ(all.lines[1], "WARNING : bad or corrupted archive!");
    EXPECT_EQ(all.lines[2], "WARNING : out of memory!");
    EXPECT_EQ(all.lines[3], "000000001 - x");
}

TEST(RarListing, SizesAndTotalBeyondThirtyTwoBits)
{
    const uint64_t five = 5ull << 30; // 5 GiB: negative or wrapped in 32 bits
    const RarListing l = BuildRarListing(0, {File("big", five), File("small", 1), File("bigger", 3 * five)}, ",");
    EXPECT_EQ(l.lines[0], "5368709120 - big");
    EXPECT_EQ(l.lines[1], "000000001 - small");
    EXPECT_EQ(l.lines[3], "Total unpacked size : 21,474,836,481 bytes");
    EXPECT_EQ(GroupedInteger(18446744073709551615ull, "."), "18.446.744.073.709.551.615");
    EXPECT_EQ(GroupedInteger(999, ","), "999");
    EXPECT_EQ(GroupedInteger(1000, ","), "1,000");
}

TEST(RarListing, StatusTextsNameTheArchiveWithoutItsDirectoryAndNeverCallAFailureOk)
{
    EXPECT_EQ(RarStatusText(TRarStatus::rsTesting, "/tmp/x/pack.rar", "a/b.txt"), "Testing pack.rar : a/b.txt");
    EXPECT_EQ(RarStatusText(TRarStatus::rsTested, "/tmp/x/pack.rar", "b"), "pack.rar : b verified OK!");
    EXPECT_EQ(RarStatusText(TRarStatus::rsExtracting, "pack.rar", "b"), "Extracting pack.rar : b");
    EXPECT_EQ(RarStatusText(TRarStatus::rsExtracted, "/pack.rar", "b"), "pack.rar : b extracted OK!");
    EXPECT_EQ(RarStatusText(TRarStatus::rsTested, "/p.rar", "b", 12), "p.rar : b failed the test (error code 12)");
    EXPECT_EQ(RarStatusText(TRarStatus::rsExtracted, "/p.rar", "b", 16), "p.rar : b not extracted (error code 16)");
    EXPECT_EQ(RarStatusText(TRarStatus::rsNone, "/p.rar", "b"), "");
}

TEST(RarListing, DestinationWithinThePaneDirectory)
{
    EXPECT_TRUE(DestinationWithin("/home/u/", "/home/u"));
    EXPECT_TRUE(DestinationWithin("/home/u/", "/home/u/new/deeper"));
    EXPECT_TRUE(DestinationWithin("/Home/U/", "/home/u/x")) << "compared without regard to case";
    EXPECT_FALSE(DestinationWithin("/home/u/", "/home/user2")) << "a longer name is not a subdirectory";
    EXPECT_FALSE(DestinationWithin("/home/u/", "/home"));
    EXPECT_FALSE(DestinationWithin("/home/u/", "/tmp/out"));
}

} // namespace
} // namespace tarnel
