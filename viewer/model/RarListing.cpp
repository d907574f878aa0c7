#include "viewer/model/RarListing.h"

#include <cstdio>

namespace tarnel {
namespace {

std::string BaseName(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string AsDirectory(const std::string& path)
{
    return path.empty() || path.back() != '/' ? path + '/' : path;
}

char Upper(char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; }

} // namespace

std::string GroupedInteger(uint64_t value, const std::string& separator)
{
    const std::string digits = std::to_string(value);
    std::string out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += separator;
        out += digits[i];
    }
    return out;
}

RarListing BuildRarListing(unsigned infos, const std::vector<TRarEntry>& entries, const std::string& groupSeparator)
{
    RarListing listing;
    if (infos & riIncomplete) listing.lines.emplace_back("WARNING : unexpected end of archive found!");
    if (infos & riBadArchive) listing.lines.emplace_back("WARNING : bad or corrupted archive!");
    if (infos & riOutOfMemory) listing.lines.emplace_back("WARNING : out of memory!");
    listing.buttonsEnabled = (infos & (riIncomplete | riBadArchive | riOutOfMemory)) == 0;
    uint64_t total = 0;
    for (const TRarEntry& e : entries) {
        if (e.IsDirectory) {
            listing.lines.push_back(e.FileName);
            continue;
        }
        char size[32];
        std::snprintf(size, sizeof size, "%.9llu", static_cast<unsigned long long>(e.UnpackedSize));
        listing.lines.push_back(std::string(size) + " - " + e.FileName);
        total += e.UnpackedSize;
    }
    listing.lines.push_back("Total unpacked size : " + GroupedInteger(total, groupSeparator) + " bytes");
    return listing;
}

std::string RarStatusText(TRarStatus status, const std::string& archiveName, const std::string& memberName,
                          int errorCode)
{
    const std::string archive = BaseName(archiveName);
    const std::string failed = " (error code " + std::to_string(errorCode) + ")";
    if (errorCode != 0 && status == TRarStatus::rsTested) return archive + " : " + memberName + " failed the test" + failed;
    if (errorCode != 0 && status == TRarStatus::rsExtracted) return archive + " : " + memberName + " not extracted" + failed;
    switch (status) {
    case TRarStatus::rsTesting: return "Testing " + archive + " : " + memberName;
    case TRarStatus::rsTested: return archive + " : " + memberName + " verified OK!";
    case TRarStatus::rsExtracting: return "Extracting " + archive + " : " + memberName;
    case TRarStatus::rsExtracted: return archive + " : " + memberName + " extracted OK!";
    case TRarStatus::rsNone: break;
    }
    return {};
}

bool DestinationWithin(const std::string& panePath, const std::string& destination)
{
    const std::string pane = AsDirectory(panePath);
    const std::string target = AsDirectory(destination);
    if (pane.size() > target.size()) return false;
    for (size_t i = 0; i < pane.size(); ++i)
        if (Upper(pane[i]) != Upper(target[i])) return false;
    return true;
}

} // namespace tarnel
