#include "platform/DirectoryReader.h"

#include <ctime>

namespace tarnel {

namespace {

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int year, int month)
{
    static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

} // namespace

uint32_t PackDosTime(int year, int month, int day, int hour, int minute, int second)
{
    if (year < 1980 || year > 2107)
        return 0;
    // A field out of its range would spill into its neighbour's bits.
    if (month < 1 || month > 12 || day < 1 || day > 31 || hour < 0 || hour > 23 || minute < 0 || minute > 59 ||
        second < 0 || second > 59)
        return 0;
    return uint32_t(year - 1980) << 25 | uint32_t(month) << 21 | uint32_t(day) << 16 | uint32_t(hour) << 11 |
        uint32_t(minute) << 5 | uint32_t(second / 2);
}

uint32_t DosTimeFromUnix(int64_t unixSeconds)
{
    time_t t = time_t(unixSeconds);
    struct tm tm;
    if (localtime_r(&t, &tm) == nullptr)
        return 0;
    return PackDosTime(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
}

bool UnpackDosTime(uint32_t dosTime, DosDateTime& out)
{
    DosDateTime d;
    d.year = 1980 + int(dosTime >> 25);
    d.month = int(dosTime >> 21 & 0xF);
    d.day = int(dosTime >> 16 & 0x1F);
    d.hour = int(dosTime >> 11 & 0x1F);
    d.minute = int(dosTime >> 5 & 0x3F);
    d.second = int(dosTime & 0x1F) * 2;
    if (d.month < 1 || d.month > 12 || d.day < 1 || d.day > DaysInMonth(d.year, d.month) || d.hour > 23 ||
        d.minute > 59 || d.second > 59)
        return false;
    out = d;
    return true;
}

} // namespace tarnel
