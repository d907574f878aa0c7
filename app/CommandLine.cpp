#include "app/CommandLine.h"

#include "panes/PathUtil.h"

namespace tarnel {

bool StartHiddenRequested(const std::vector<std::string>& args)
{
    for (const std::string& arg : args) {
        std::string a = UpperAscii(arg);
        if (!a.empty() && a[0] == '/')
            a[0] = '-';
        if (a == "-MIN")
            return true;
    }
    return false;
}

std::vector<std::string> GivenPlaces(const std::vector<std::string>& args, const std::string& cwd)
{
    std::vector<std::string> places;
    bool options = true;
    for (const std::string& arg : args) {
        if (options && arg == "--") {
            options = false;
            continue;
        }
        // "-MIN" and its spellings; "/MIN" too, though it could be a folder.
        if (arg.empty() || (options && arg[0] == '-') || StartHiddenRequested({arg}))
            continue;
        if (places.size() < 2)
            places.push_back(arg[0] == '/' || cwd.empty() ? arg : AddPathDelimiter(cwd) + arg);
    }
    return places;
}

} // namespace tarnel
