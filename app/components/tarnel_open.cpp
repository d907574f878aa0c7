// tarnel-open PATH: hands PATH to the running Tarnel, which goes to that
// directory or opens that file. Other programs use it as their "open with".
#include "app/PrivateMessages.h"
#include "app/components/InstanceBlock.h"
#include "app/components/InstanceChannel.h"

#include <cerrno>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

constexpr const char* kUsage = "usage: tarnel-open [--] PATH\n";

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

// Absolute, with "." parts and doubled or trailing slashes dropped. The bytes
// of every name are kept and nothing is resolved: "..", symbolic links and the
// letter case stay what the caller wrote, so the window sees the caller's place.
std::string AbsolutePath(const std::string& path, const std::string& cwd)
{
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

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "-h" || args[0] == "--help")) {
        std::cout << kUsage;
        return 0;
    }
    if (!args.empty() && args[0] == "--")
        args.erase(args.begin());
    if (args.size() != 1 || args[0].empty()) {
        std::cerr << kUsage;
        return 2;
    }

    std::string cwd;
    if (args[0][0] != '/') {
        cwd = CurrentDirectory();
        if (cwd.empty()) {
            std::cerr << "tarnel-open: cannot read the current directory: " << std::strerror(errno) << "\n";
            return 1;
        }
    }
    const std::string path = AbsolutePath(args[0], cwd);

    tarnel::InstanceBlock block;
    std::string error;
    if (!block.Open(&error)) {
        std::cerr << "tarnel-open: " << error << "\n";
        return 1;
    }
    if (!block.BlockExists()) {
        std::cerr << "tarnel-open: Tarnel is not running\n";
        return 1;
    }
    // The receiver reads the block when the message arrives, so the path must
    // be in place before the message goes out.
    block.WriteShellCall(path);
    if (!tarnel::InstanceChannel::Post(tarnel::UM_SHELLCALL)) {
        std::cerr << "tarnel-open: Tarnel is not running\n";
        return 1;
    }
    return 0;
}
