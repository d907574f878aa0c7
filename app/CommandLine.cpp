#include "app/CommandLine.h"

#include "panes/PathUtil.h"
#include "platform/ssh/SftpUrl.h"

#include <cerrno>

#include <unistd.h>

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

std::string CurrentDirectory()
{
    std::vector<char> buffer(4096);
    while (!getcwd(buffer.data(), buffer.size())) {
        if (errno != ERANGE)
            return {};
        buffer.resize(buffer.size() * 2);
    }
    return buffer.data();
}

std::string AbsolutePath(const std::string& path, const std::string& cwd)
{
    if (IsSftpText(path))
        return path; // a remote folder is no path of this machine
    const std::string joined = path[0] == '/' ? path : cwd + "/" + path;
    std::string out;
    size_t i = 0;
    while (i < joined.size()) {
        const size_t slash = joined.find('/', i);
        const size_t end = slash == std::string::npos ? joined.size() : slash;
        const std::string part = joined.substr(i, end - i);
        if (!part.empty() && part != ".")
            out += "/" + part;
        i = end + 1;
    }
    return out.empty() ? "/" : out;
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
            places.push_back(arg[0] != '/' && cwd.empty() ? arg : AbsolutePath(arg, cwd));
    }
    return places;
}

} // namespace tarnel
