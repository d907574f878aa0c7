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

} // namespace tarnel
