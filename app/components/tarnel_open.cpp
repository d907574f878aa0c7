// tarnel-open PATH: hands PATH to the running Tarnel, which goes to that
// directory or opens that file. Other programs use it as their "open with":
// the desktop entry runs "tarnel-open --start [PATH...]", which starts Tarnel
// first when none runs.
#include "app/CommandLine.h"
#include "app/PrivateMessages.h"
#include "app/components/InstanceBlock.h"
#include "app/components/InstanceChannel.h"
#include "fileops/model/LaunchDesktopEntry.h"

#include <cerrno>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

namespace {

constexpr const char* kUsage = "usage: tarnel-open [--] PATH\n"
                                "       tarnel-open --start [--] [PATH...]\n";

// The tarnel installed beside this program, else the one in PATH's absolute
// entries; "" when there is none.
std::string TarnelBinary()
{
    std::vector<char> self(4096);
    const ssize_t n = readlink("/proc/self/exe", self.data(), self.size() - 1);
    if (n > 0) {
        std::string path(self.data(), size_t(n));
        path = path.substr(0, path.rfind('/') + 1) + "tarnel";
        if (access(path.c_str(), X_OK) == 0)
            return path;
    }
    return tarnel::FindProgram("tarnel");
}

// Starts Tarnel in a session of its own, so that it outlives this program
// and the terminal or launcher that started it.
bool StartTarnel()
{
    const std::string binary = TarnelBinary();
    if (binary.empty())
        return false;
    const pid_t child = fork();
    if (child < 0)
        return false;
    if (child == 0) {
        setsid();
        char* const argv[] = {const_cast<char*>(binary.c_str()), nullptr};
        execv(argv[0], argv);
        _exit(127);
    }
    return true;
}

// Waits until a started Tarnel owns its block and answers, at most ten seconds.
std::unique_ptr<tarnel::InstanceBlock> WaitForTarnel()
{
    for (int i = 0; i < 200; ++i, usleep(50 * 1000)) {
        // Never the one to make the block: a block this program made is
        // removed when it is closed, and Tarnel may just have opened it.
        auto block = std::make_unique<tarnel::InstanceBlock>();
        if (block->Open(nullptr, tarnel::InstanceBlock::Mode::ExistingOnly) && block->BlockExists())
            return block;
    }
    return nullptr;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() == 1 && (args[0] == "-h" || args[0] == "--help")) {
        std::cout << kUsage;
        return 0;
    }
    const bool start = !args.empty() && args[0] == "--start";
    if (start)
        args.erase(args.begin());
    if (!args.empty() && args[0] == "--")
        args.erase(args.begin());
    if (start && args.empty()) // from the menu: Tarnel itself brings a running window forward
        return StartTarnel() ? 0 : 1;
    // The desktop entry gives every chosen item; the block carries one path,
    // so the first is the one shown.
    if (start)
        args.resize(1);
    if (args.size() != 1 || args[0].empty()) {
        std::cerr << kUsage;
        return 2;
    }

    std::string cwd;
    if (args[0][0] != '/') {
        cwd = tarnel::CurrentDirectory();
        if (cwd.empty()) {
            std::cerr << "tarnel-open: cannot read the current directory: " << std::strerror(errno) << "\n";
            return 1;
        }
    }
    const std::string path = tarnel::AbsolutePath(args[0], cwd);

    auto block = std::make_unique<tarnel::InstanceBlock>();
    std::string error;
    if (!block->Open(&error)) {
        std::cerr << "tarnel-open: " << error << "\n";
        return 1;
    }
    if (!block->BlockExists() && !start) {
        std::cerr << "tarnel-open: Tarnel is not running\n";
        return 1;
    }
    if (!block->BlockExists()) {
        block.reset(); // made by us, so removed here: Tarnel makes its own
        if (!StartTarnel() || !(block = WaitForTarnel())) {
            std::cerr << "tarnel-open: Tarnel did not start\n";
            return 1;
        }
    }
    // The receiver reads the block when the message arrives, so the path must
    // be in place before the message goes out.
    block->WriteShellCall(path);
    if (!tarnel::InstanceChannel::Post(tarnel::UM_SHELLCALL)) {
        std::cerr << "tarnel-open: Tarnel is not running\n";
        return 1;
    }
    return 0;
}
