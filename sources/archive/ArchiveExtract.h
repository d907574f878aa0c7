#pragma once
// Writes members of an archive read through libarchive into a folder of the
// disk, in one pass over the archive. Nothing lands outside the folder: an
// unsafe name, a link that points out of it and a folder on the way that is
// a link are refused; each file is written under a temporary name beside
// its place and renamed over it only when whole.
#include "sources/archive/ArchiveTable.h"

#include <functional>
#include <string>
#include <vector>

namespace tarnel {

struct ArchiveExtractItem {
    int64_t ordinal = 0;
    std::string relative; // where it goes, below the target folder ("b/c.txt")
    bool replace = false; // a file already there may be replaced
};

struct ArchiveExtractReport {
    std::vector<int64_t> done;         // ordinals written whole
    std::vector<std::string> refused;  // "name: why", one per member not written
    std::string stopped;               // why the whole run stopped early ("" when it did not)
};

// Extracts the items of plan from the archive file (whose table is table)
// below targetDir. status hears each member's name as it is written.
ArchiveExtractReport ExtractArchiveMembers(const std::string& archive, const ArchiveTable& table,
                                           const std::vector<ArchiveExtractItem>& plan, const std::string& targetDir,
                                           const std::function<void(const std::string&)>& status = {},
                                           const CancelToken* cancel = nullptr);

// Whether a symbolic link stored at relative (below the target) with that
// target stays inside the target folder.
bool LinkStaysInside(const std::string& relative, const std::string& linkTarget);

} // namespace tarnel
