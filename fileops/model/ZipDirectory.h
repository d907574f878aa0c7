#pragma once
// Reading an archive's table of entries from its local headers.
#include "fileops/model/ZipDirEntry.h"

#include <stdexcept>
#include <string>
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
// gives nothing; a damaged one throws ZipReadError after keeping what was read,
// and so does a path that is no regular file (it is never opened). Entries
// whose local header disagrees with the central directory are left out.
void ReadArchiveDirectory(const std::string& archive, std::vector<ZipDirEntry>& contents);

// The same on a descriptor that OpenRegularFile gave; it is closed.
void ReadArchiveDirectoryFromFd(int fd, const std::string& archive, std::vector<ZipDirEntry>& contents);

std::string NotARegularFileText(const std::string& archive);

// The same on bytes in memory (isExe: search from kSfxStartOffset).
void ReadArchiveDirectoryFrom(const std::string& bytes, bool isExe, std::vector<ZipDirEntry>& contents);

} // namespace tarnel
