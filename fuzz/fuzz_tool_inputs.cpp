// The tools read what others wrote: rename templates and patterns typed by
// the user, dpkg status files, ID3 tags and uninstall commands. None of them
// may crash or hang on any bytes, and a few rules must hold for all input.
#include "tools/model/Id3Tag.h"
#include "tools/model/InstalledSoftware.h"
#include "tools/model/RenamePlan.h"
#include "tools/model/UninstallCommand.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace tarnel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    // Pattern, template and names, separated by zero bytes.
    const size_t a = input.find('\0');
    const size_t b = a == std::string_view::npos ? a : input.find('\0', a + 1);
    if (b != std::string_view::npos && a < 64 && b - a < 64) {
        RenameTemplate t;
        t.pattern = std::string(input.substr(0, a));
        t.text = std::string(input.substr(a + 1, b - a - 1));
        std::vector<std::string> names;
        for (size_t at = b + 1; at < input.size() && names.size() < 32;) {
            const size_t end = std::min(input.find('\n', at), input.size());
            names.emplace_back(input.substr(at, end - at));
            at = end + 1;
        }
        auto lines = BuildRenameLines(MatchingNames(names, t.pattern), t, [](const std::string&) { return false; });
        RunRenamePasses(lines, [](const std::string& from, const std::string& to) {
            if (!IsPlainFileName(to)) // never asked to leave the directory
                std::abort();
            return from.size() % 2 == 0;
        });
        t.text = "[1]";
        t.pattern = "*";
        const auto same = BuildRenameLines(names, t, [](const std::string&) { return false; });
        for (size_t i = 0; i < names.size(); ++i)
            if (same[i].newName != names[i]) // the defaults reproduce every name
                std::abort();
    }

    ParseDpkgStatus(input);
    const UninstallCommand c = ParseUninstallCommand(input);
    if (c.program.size() + c.parameters.size() > input.size())
        std::abort();
    SplitParameters(input);
    if (size >= kId3TagSize)
        if (const auto tag = ParseId3Tag(input.substr(0, kId3TagSize))) {
            const auto block = FormatId3Tag(*tag);
            if (ParseId3Tag(std::string_view(block.data(), block.size()))->title != tag->title)
                std::abort();
        }
    return 0;
}
