#include "panes/FileData.h"
#include "panes/RowText.h"
#include "platform/DirectoryReader.h"

#include <gtest/gtest.h>

using namespace tarnel;

TEST(RowText, SizeUnitsAndSeparators)
{
    DisplayLocale l;
    EXPECT_EQ(SizeText(0, l), "0");
    EXPECT_EQ(SizeText(1024, l), "1,024");
    EXPECT_EQ(SizeText(1025, l), "1 KB");
    EXPECT_EQ(SizeText(1536, l), "1.5 KB");
    EXPECT_EQ(SizeText(1048576, l), "1,024 KB");
    EXPECT_EQ(SizeText(1048577, l), "1 MB");
    EXPECT_EQ(SizeText(int64_t(5) << 40, l), "5,242,880 MB"); // no 32-bit limit
    l.groupSeparator = ".";
    l.decimalPoint = ",";
    EXPECT_EQ(SizeText(1048576 + 524288, l), "1,5 MB");
    EXPECT_EQ(SizeText(999999, l), "976,6 KB");
    EXPECT_EQ(DriveSpaceText(int64_t(3000) << 20, int64_t(1234567) << 20, l), "3.000/1.234.567");
    // Rounded, not cut: 1.9 of 3.9 MB, and half a megabyte goes up.
    EXPECT_EQ(DriveSpaceText(int64_t(1.9 * 1048576), int64_t(3.9 * 1048576), l), "2/4");
    EXPECT_EQ(DriveSpaceText(int64_t(1) << 19, int64_t(1) << 18, l), "1/0");
}

TEST(RowText, DirectorySizeCell)
{
    DisplayLocale l;
    TFileData dir;
    dir.Kind = fkDirectory;
    dir.Size = -1;
    EXPECT_EQ(EntrySizeText(dir, false, l), "");
    dir.Size = 2048; // remembered from an earlier visit, not walked yet
    dir.UsedBytes = 0;
    EXPECT_EQ(EntrySizeText(dir, false, l), "2 KB");
    EXPECT_EQ(EntrySizeText(dir, true, l), "") << "the space used is not known yet, not 0";
    dir.UsedBytes = 8192;
    dir.SizeDone = 1;
    EXPECT_EQ(EntrySizeText(dir, true, l), "8 KB");
}

TEST(RowText, TimeTextAndInvalidDates)
{
    DisplayLocale l;
    const uint32_t t = PackDosTime(2024, 3, 7, 9, 5, 30);
    EXPECT_EQ(TimeText(int32_t(t), l), "07/03/2024 09:05");
    l.shortDateFormat = "M/d/yy";
    EXPECT_EQ(TimeText(int32_t(t), l), "3/7/24 09:05");
    l.shortDateFormat = "dddd d MMM yyyy";
    EXPECT_EQ(TimeText(int32_t(t), l), "Thursday 7 Mar 2024 09:05");
    EXPECT_EQ(TimeText(0, l), "<invalid date>");
    EXPECT_EQ(TimeText(int32_t((13u << 21) | (1u << 16) | (1u << 5)), l), "<invalid date>"); // month 13
}

TEST(RowText, FitTextCutsAtEitherEnd)
{
    auto width = [](const std::string& s) { return int(s.size()) * 10; };
    EXPECT_EQ(FitText("short", 50, "...", true, width), "short");
    EXPECT_EQ(FitText("", 0, "...", true, width), "");
    EXPECT_EQ(FitText("abcdefghij", 60, "...", true, width), "abc...");
    EXPECT_EQ(FitText("abcdefghij", 60, "...", false, width), "...hij");
    EXPECT_EQ(FitText("abcdefghij", 30, "", false, width), "hij");
    EXPECT_EQ(FitText("abcdefghij", 20, "...", true, width), "..."); // even the marker is too wide
    // Multi-byte characters are cut whole.
    auto chars = [](const std::string& s) {
        int n = 0;
        for (char c : s)
            n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
        return n * 10;
    };
    EXPECT_EQ(FitText("\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9", 30, "", true, chars), "\xc3\xa9\xc3\xa9\xc3\xa9");
    EXPECT_EQ(FitText("\xc3\xa9\xc3\xa9\xc3\xa9\xc3\xa9", 30, ".", false, chars), ".\xc3\xa9\xc3\xa9");
}
