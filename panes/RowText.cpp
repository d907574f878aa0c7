#include "panes/RowText.h"

#include "panes/FileData.h"
#include "platform/DirectoryReader.h"

#include <cmath>
#include <vector>

namespace tarnel {

namespace {

std::string GroupDigits(const std::string& digits, const std::string& separator)
{
    std::string out;
    out.reserve(digits.size() + digits.size() / 3 * separator.size());
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            out += separator;
        out += digits[i];
    }
    return out;
}

std::string TwoDigits(int v)
{
    return std::string{char('0' + v / 10 % 10), char('0' + v % 10)};
}

const char* const kMonthNames[] = {"January", "February", "March", "April", "May", "June", "July",
                                   "August", "September", "October", "November", "December"};
const char* const kDayNames[] = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

int DayOfWeek(int y, int m, int d) // Sakamoto
{
    static const int t[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
    if (m < 3)
        y -= 1;
    return (y + y / 4 - y / 100 + y / 400 + t[m - 1] + d) % 7;
}

std::string DateField(char letter, size_t count, const DosDateTime& t)
{
    switch (letter) {
    case 'd':
        if (count == 1) return std::to_string(t.day);
        if (count == 2) return TwoDigits(t.day);
        if (count == 3) return std::string(kDayNames[DayOfWeek(t.year, t.month, t.day)], 3);
        return kDayNames[DayOfWeek(t.year, t.month, t.day)];
    case 'M':
        if (count == 1) return std::to_string(t.month);
        if (count == 2) return TwoDigits(t.month);
        if (count == 3) return std::string(kMonthNames[t.month - 1], 3);
        return kMonthNames[t.month - 1];
    default: // 'y'
        if (count <= 2) return TwoDigits(t.year % 100);
        return std::to_string(t.year);
    }
}

std::string FormatDate(const std::string& pattern, const DosDateTime& t)
{
    std::string out;
    for (size_t i = 0; i < pattern.size();) {
        const char c = pattern[i];
        if (c == '\'') { // quoted literal text
            const size_t end = pattern.find('\'', i + 1);
            out += pattern.substr(i + 1, (end == std::string::npos ? pattern.size() : end) - i - 1);
            i = end == std::string::npos ? pattern.size() : end + 1;
            continue;
        }
        if (c == 'd' || c == 'M' || c == 'y') {
            size_t run = 1;
            while (i + run < pattern.size() && pattern[i + run] == c)
                ++run;
            out += DateField(c, run, t);
            i += run;
            continue;
        }
        out += c;
        ++i;
    }
    return out;
}

size_t PreviousCharStart(const std::string& s, size_t end)
{
    size_t i = end - 1;
    while (i > 0 && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80 && end - i < 4)
        --i;
    return i;
}

size_t NextCharStart(const std::string& s, size_t start)
{
    size_t i = start + 1;
    while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80 && i - start < 4)
        ++i;
    return i;
}

} // namespace

std::string FormatGrouped(double value, int maxDecimals, const DisplayLocale& locale)
{
    const double scale = maxDecimals > 0 ? std::pow(10.0, maxDecimals) : 1.0;
    const bool negative = value < 0;
    const auto scaled = static_cast<long long>(std::floor(std::fabs(value) * scale + 0.5));
    const long long whole = static_cast<long long>(scaled / static_cast<long long>(scale));
    long long fraction = scaled % static_cast<long long>(scale);
    std::string out = negative && scaled != 0 ? "-" : "";
    out += GroupDigits(std::to_string(whole), locale.groupSeparator);
    if (fraction != 0) {
        std::string digits = std::to_string(fraction);
        digits.insert(0, size_t(maxDecimals) - digits.size(), '0');
        while (!digits.empty() && digits.back() == '0')
            digits.pop_back();
        out += locale.decimalPoint + digits;
    }
    return out;
}

std::string SizeText(int64_t value, const DisplayLocale& locale)
{
    if (value > 1048576)
        return FormatGrouped(double(value) / 1048576.0, 1, locale) + " MB";
    if (value > 1024)
        return FormatGrouped(double(value) / 1024.0, 1, locale) + " KB";
    return FormatGrouped(double(value), 0, locale);
}

std::string TimeText(int32_t dosTime, const DisplayLocale& locale)
{
    DosDateTime t{};
    if (!UnpackDosTime(uint32_t(dosTime), t))
        return kInvalidDateText;
    return FormatDate(locale.shortDateFormat, t) + " " + TwoDigits(t.hour) + ":" + TwoDigits(t.minute);
}

std::string DriveSpaceText(int64_t freeBytes, int64_t totalBytes, const DisplayLocale& locale)
{
    // Rounded like every other figure of the list, not cut: 1.9 MB shows as 2.
    return FormatGrouped(double(freeBytes) / 1048576.0, 0, locale) + "/" +
           FormatGrouped(double(totalBytes) / 1048576.0, 0, locale);
}

std::string EntrySizeText(const TFileData& entry, bool bigSizes, const DisplayLocale& locale)
{
    if (entry.Kind == fkDrive)
        return {};
    const int64_t size = entry.Size.load(std::memory_order_relaxed);
    if (size == -1) // a directory not yet measured, or a size that cannot be read
        return {};
    const bool useUsed = entry.Kind == fkDirectory && bigSizes;
    // A total remembered from an earlier visit comes without the space used,
    // which only the size thread's walk finds: nothing is shown until then.
    if (useUsed && !entry.SizeDone.load(std::memory_order_relaxed))
        return {};
    return SizeText(useUsed ? entry.UsedBytes.load(std::memory_order_relaxed) : size, locale);
}

std::string FitText(const std::string& text, int limit, const std::string& marker, bool cutAtEnd,
                    const std::function<int(const std::string&)>& widthOf)
{
    if (text.empty() || widthOf(text) <= limit)
        return text;
    const int room = limit - widthOf(marker);
    // Candidate cut points, longest kept text first; widths shrink with the text,
    // so a binary search finds the longest text that fits.
    std::vector<size_t> cuts; // kept length (cut at end) or start offset (cut at start)
    if (cutAtEnd) {
        for (size_t end = text.size(); end > 0; end = PreviousCharStart(text, end))
            cuts.push_back(end);
    } else {
        for (size_t start = 0; start < text.size(); start = NextCharStart(text, start))
            cuts.push_back(start);
    }
    cuts.push_back(cutAtEnd ? 0 : text.size());
    auto kept = [&](size_t cut) { return cutAtEnd ? text.substr(0, cut) : text.substr(cut); };
    size_t lo = 0, hi = cuts.size() - 1; // cuts[hi] is the empty text, which always "fits"
    while (lo < hi) {
        const size_t mid = (lo + hi) / 2;
        const std::string candidate = kept(cuts[mid]);
        if (candidate.empty() || widthOf(candidate) <= room)
            hi = mid;
        else
            lo = mid + 1;
    }
    const std::string rest = kept(cuts[lo]);
    return cutAtEnd ? rest + marker : marker + rest;
}

} // namespace tarnel
