#pragma once
// The texts of the "packed" page: the listing of an archive, the status line
// of each walk step, and whether an extraction touched a pane's directory.
#include "viewer/model/RarArchive.h"

#include <string>
#include <vector>

namespace tarnel {

struct RarListing {
    std::vector<std::string> lines;
    bool buttonsEnabled = false; // no warning: test and extract may run
};

// Warnings for the flags, then one line per member ("%.9d - %s" for a file,
// the bare name for a directory), then the total. Sizes are 64-bit: a member
// over 999,999,999 bytes shows all its digits.
RarListing BuildRarListing(unsigned infos, const std::vector<TRarEntry>& entries, const std::string& groupSeparator);

// "Testing %s : %s" and its three siblings, with the archive's name without
// its directory; empty for rsNone. A member whose test or extraction failed
// says so with the library's code instead of "OK!".
std::string RarStatusText(TRarStatus status, const std::string& archiveName, const std::string& memberName,
                          int errorCode = 0);

// True when destination lies at or below panePath, compared without regard
// to case; both are taken as directories.
bool DestinationWithin(const std::string& panePath, const std::string& destination);

// Digits of value with separator between groups of three.
std::string GroupedInteger(uint64_t value, const std::string& separator);

} // namespace tarnel
