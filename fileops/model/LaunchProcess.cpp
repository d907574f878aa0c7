#include "fileops/model/LaunchProcess.h"

#include "fileops/model/LaunchDesktopEntry.h"
#include "platform/ThreadPriority.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tarnel {

namespace {

std::atomic<int> runningWaiters{0};

struct SpawnSetup {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    SpawnSetup()
    {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnSetup()
    {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
};

} // namespace

pid_t StartChild(const std::vector<std::string>& argv, const std::string& workingDir, std::string& error)
{
    if (argv.empty() || argv[0].empty()) {
        error = "nothing to start";
        return -1;
    }
    // Found here, before the child changes folder: a relative PATH entry
    // must never pick a program out of the folder of the file being opened.
    const std::string program = FindProgram(argv[0]);
    if (program.empty()) {
        error = argv[0] + ": " + std::strerror(ENOENT);
        return -1;
    }
    SpawnSetup setup;
    posix_spawn_file_actions_addopen(&setup.actions, 0, "/dev/null", O_RDONLY, 0);
    struct stat st;
    if (!workingDir.empty() && ::stat(workingDir.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
        posix_spawn_file_actions_addchdir_np(&setup.actions, workingDir.c_str());
    // A session of its own, so the program outlives us; default signal
    // handling and an empty mask, whatever this process has set up.
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&setup.attributes, &none);
    posix_spawnattr_setsigdefault(&setup.attributes, &all);
    posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    std::vector<char*> args;
    for (const std::string& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    const int result = posix_spawn(&pid, program.c_str(), &setup.actions, &setup.attributes, args.data(), environ);
    if (result != 0) {
        error = argv[0] + ": " + std::strerror(result);
        return -1;
    }
    return pid;
}

void TWaitProcessEnd::Start(pid_t pid, std::string fileToDelete, std::chrono::milliseconds minimumLife)
{
    const auto started = std::chrono::steady_clock::now();
    ++runningWaiters;
    std::thread([pid, file = std::move(fileToDelete), minimumLife, started] {
        RunAtIdlePriority();
        if (pid > 0) {
            int status = 0;
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }
        std::this_thread::sleep_until(started + minimumLife);
        if (!file.empty())
            ::unlink(file.c_str()); // still open elsewhere: the copy stays, as it may
        --runningWaiters;
    }).detach();
}

int TWaitProcessEnd::Running() { return runningWaiters.load(); }

} // namespace tarnel
