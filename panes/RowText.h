#pragma once
// The texts of a pane row's columns, shared by painting, the command-line
// listing and the column measurement.
#include <cstdint>
#include <functional>
#include <string>

namespace tarnel {

struct TFileData;

// Number and date conventions of the user's locale.
struct DisplayLocale {
    std::string groupSeparator = ",";
    std::string decimalPoint = ".";
    // Qt-style pattern: d dd ddd dddd M MM MMM MMMM yy yyyy; other text literal.
    std::string shortDateFormat = "dd/MM/yyyy";
};

// "###,##0" / "###,##0.#" with the locale's separators (half away from zero).
std::string FormatGrouped(double value, int maxDecimals, const DisplayLocale& locale);
// Bytes; above 1024 as KB and above 1048576 as MB, one optional decimal.
std::string SizeText(int64_t value, const DisplayLocale& locale);
// Short date, a blank and hh:mm, or "<invalid date>".
std::string TimeText(int32_t dosTime, const DisplayLocale& locale);
inline constexpr const char* kInvalidDateText = "<invalid date>";
// Free and total megabytes of a drive, "free/total".
std::string DriveSpaceText(int64_t freeBytes, int64_t totalBytes, const DisplayLocale& locale);

// The size column of a file or directory entry ("" for a directory not yet
// measured). With bigSizes, directories show the space they use on disk,
// once measured; the caller leaves it off where nothing is allocated (inside
// an archive).
std::string EntrySizeText(const TFileData& entry, bool bigSizes, const DisplayLocale& locale);

// Shortens text to limit pixels: cut at the end with marker appended, or at the
// start with marker in front. Cuts whole UTF-8 characters.
std::string FitText(const std::string& text, int limit, const std::string& marker, bool cutAtEnd,
                    const std::function<int(const std::string&)>& widthOf);

} // namespace tarnel
