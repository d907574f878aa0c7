#include "sources/archive/ArchiveNames.h"

#include "panes/PathUtil.h"

#include <array>

namespace tarnel {

namespace {

bool EndsWithIgnoreCase(std::string_view text, std::string_view suffix)
{
    return text.size() > suffix.size() && EqualsIgnoreCase(text.substr(text.size() - suffix.size()), suffix);
}

constexpr std::array<std::string_view, 8> kCompressionSuffixes = {".gz", ".bz2", ".xz", ".zst", ".lz4",
                                                                  ".lzma", ".z", ".lz"};

constexpr std::array<std::string_view, 26> kArchiveSuffixes = {
    ".tar", ".tgz", ".tbz", ".tbz2", ".tb2", ".txz", ".tzst", ".tzs", ".tlz4", ".tlz", ".taz",
    ".7z",  ".rar", ".iso", ".udf",  ".cpio", ".ar", ".deb", ".udeb", ".ddeb", ".rpm", ".xar",
    ".pkg", ".cab", ".lha", ".lzh"};

} // namespace

bool HasArchiveSuffix(std::string_view name)
{
    for (std::string_view suffix : kArchiveSuffixes)
        if (EndsWithIgnoreCase(name, suffix))
            return true;
    for (std::string_view suffix : kCompressionSuffixes)
        if (EndsWithIgnoreCase(name, suffix))
            return true;
    return false;
}

std::string SingleMemberName(std::string_view fileName)
{
    for (std::string_view suffix : kCompressionSuffixes)
        if (EndsWithIgnoreCase(fileName, suffix))
            return std::string(fileName.substr(0, fileName.size() - suffix.size()));
    return std::string(fileName) + ".out";
}

} // namespace tarnel
