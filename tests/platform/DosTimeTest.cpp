#include "platform/DirectoryReader.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

using namespace tarnel;

TEST(DosTime, PackUnpackRoundTripsAtTheEdgesOfTheRange)
{
    auto fields = [](const DosDateTime& d) { return std::tie(d.year, d.month, d.day, d.hour, d.minute, d.second); };
    const DosDateTime cases[] = {
        {1980, 1, 1, 0, 0, 0}, {2000, 2, 29, 12, 34, 56}, {2024, 12, 31, 23, 59, 58}, {2107, 12, 31, 23, 59, 58}};
    for (const DosDateTime& c : cases) {
        DosDateTime d {};
        ASSERT_TRUE(UnpackDosTime(PackDosTime(c.year, c.month, c.day, c.hour, c.minute, c.second), d)) << c.year;
        EXPECT_EQ(fields(c), fields(d)) << c.year;
    }
    // Two-second resolution: odd seconds round down.
    EXPECT_EQ(PackDosTime(2020, 5, 6, 7, 8, 8), PackDosTime(2020, 5, 6, 7, 8, 9));
}

TEST(DosTime, ValuesThatCannotBePackedGiveZero)
{
    EXPECT_EQ(0u, PackDosTime(1979, 12, 31, 23, 59, 58));
    EXPECT_EQ(0u, PackDosTime(2108, 1, 1, 0, 0, 0));
    EXPECT_EQ(0u, PackDosTime(2020, 13, 1, 0, 0, 0));
    EXPECT_EQ(0u, PackDosTime(2020, 1, 1, 24, 0, 0));
    EXPECT_EQ(0u, DosTimeFromUnix(0)); // 1970
}

TEST(DosTime, UnpackRejectsImpossibleDates)
{
    const uint32_t valid = PackDosTime(2021, 3, 4, 5, 6, 8);
    const uint32_t dateBits = valid & 0xFFFF0000u;
    auto withMonthDay = [&](int month, int day) {
        return (valid & ~0x01FF0000u) | uint32_t(month) << 21 | uint32_t(day) << 16;
    };
    DosDateTime d {};
    EXPECT_FALSE(UnpackDosTime(0, d));
    EXPECT_FALSE(UnpackDosTime(withMonthDay(13, 1), d));
    EXPECT_FALSE(UnpackDosTime(withMonthDay(2, 30), d));
    EXPECT_FALSE(UnpackDosTime(withMonthDay(4, 31), d));
    EXPECT_FALSE(UnpackDosTime(withMonthDay(2, 29), d)); // 2021 is no leap year
    EXPECT_FALSE(UnpackDosTime(dateBits | 24u << 11, d));
    EXPECT_FALSE(UnpackDosTime(dateBits | 60u << 5, d));
    EXPECT_FALSE(UnpackDosTime(dateBits | 30u, d)); // 60 seconds
    // 2100 is a century year without Feb 29.
    EXPECT_FALSE(UnpackDosTime(uint32_t(2100 - 1980) << 25 | 2u << 21 | 29u << 16, d));
    EXPECT_TRUE(UnpackDosTime(uint32_t(2000 - 1980) << 25 | 2u << 21 | 29u << 16, d));
}

TEST(DosAttrib, ParsesTheTextFormsOfWineAndSamba)
{
    auto parse = [](const std::string& s) { return ParseDosAttrib(s.data(), s.size()); };
    EXPECT_EQ(0x22, parse("0x22"));
    EXPECT_EQ(0x22, parse(std::string("0x22\0", 5)));
    EXPECT_EQ(0x20, parse(std::string("0x20\0\0\0", 7)));
    EXPECT_EQ(0x1A, parse("0X1a"));
    // Samba: the text, NUL, then its own binary block.
    EXPECT_EQ(0x21, parse(std::string("0x21\0\x04\x00\x04\x00\x00\x00\x11\xff", 13)));

    EXPECT_EQ(-1, parse(""));
    EXPECT_EQ(-1, parse("0x"));
    EXPECT_EQ(-1, parse("22"));
    EXPECT_EQ(-1, parse("0x2g"));
    EXPECT_EQ(-1, parse(" 0x22"));
    EXPECT_EQ(-1, parse("0x123456789"));
    EXPECT_EQ(-1, parse("0xFFFFFFFF"));
    EXPECT_EQ(-1, parse(std::string("\x03\x00\x22\x00", 4)));
}
