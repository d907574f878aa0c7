#pragma once
// Reading an archive's table of entries from its local headers.
#include "fileops/model/ZipDirEntry.h"

#include <stdexcept>
#include <vector>

namespace tarnel {

// A damaged archive; the entries read before it stay in the list.
class ZipReadError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The search for the first local header tests at most this many bytes.
inline constexpr int kZipSearchBudget = 60000;
// A self-extracting archive (".EXE") is searched from this byte on.
inline constexpr int64_t kSfxStartOffset = 14000;

// Appends the archive's entries to contents, in file order. A missing file
// gives nothing; a damaged one throws ZipReadError after keeping what was read.
void ReadArchiveDirectory(const std::string& archive, std::vector<ZipDirEntry>& contents);

// The same on bytes in memory (isExe: search from kSfxStartOffset).
void ReadArchiveDirectoryFrom(const std::string& bytes, bool isExe, std::vector<ZipDirEntry>& contents);

} // namespace tarnel
