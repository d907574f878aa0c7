#pragma once
// Mounts tests/fuse/sleepy_fs: a file system whose every answer takes a set
// number of seconds, like a server that has gone away. Used by the tests and
// the stall benchmark; header-only so that both can take it.
//
// Mounts are made inside a private mount namespace (EnterPrivateMountSpace,
// first thing in main, while the process has one thread): nobody else ever
// sees them, and they vanish with the process however it ends.
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarnel::test {

// "" when mounts may be made here; else why not (the tests then skip).
inline std::string& MountSpaceProblem()
{
    static std::string problem = "the private mount namespace was not entered";
    return problem;
}

// Call while the process has a single thread. Also puts an empty tmpfs over
// /media, so that a test may mount there as removable media are.
inline void EnterPrivateMountSpace()
{
    std::string& problem = MountSpaceProblem();
    const int fuse = ::open("/dev/fuse", O_RDWR | O_CLOEXEC);
    if (fuse < 0) {
        problem = std::string("/dev/fuse cannot be opened: ") + std::strerror(errno);
        return;
    }
    ::close(fuse);
    if (::unshare(CLONE_NEWNS) != 0) {
        problem = std::string("no private mount namespace: ") + std::strerror(errno);
        return;
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        problem = std::string("mounts cannot be made private: ") + std::strerror(errno);
        return;
    }
    ::mkdir("/media", 0755);
    if (::mount("tarnel-test-media", "/media", "tmpfs", MS_NOSUID | MS_NODEV, "mode=0755,size=1m") != 0) {
        problem = std::string("no tmpfs over /media: ") + std::strerror(errno);
        return;
    }
    problem.clear();
}

inline std::string ReadMountTable()
{
    std::ifstream in("/proc/self/mountinfo");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// True when mountPoint (no spaces or escapes in it) is in the mount table.
inline bool IsMounted(const std::string& mountPoint)
{
    return ReadMountTable().find(" " + mountPoint + " ") != std::string::npos;
}

class SleepyMount {
public:
    // fsName and subType make the mount table show "fuse.<subType> <fsName>":
    // "sshfs" makes a network volume of it.
    // wait: returns once mounted (or failed); else poll Ready().
    SleepyMount(std::string mountPoint, unsigned seconds, std::string fsName = "sleepy",
                std::string subType = "sleepy", bool wait = true)
        : mountPoint_(std::move(mountPoint))
    {
        if (!MountSpaceProblem().empty()) {
            problem_ = MountSpaceProblem();
            return;
        }
        ::mkdir(mountPoint_.c_str(), 0755);
        const std::string delay = std::to_string(seconds);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::execl(TARNEL_SLEEPY_FS, TARNEL_SLEEPY_FS, delay.c_str(), mountPoint_.c_str(), fsName.c_str(),
                    subType.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        if (pid_ < 0) {
            problem_ = "cannot start sleepy_fs";
            return;
        }
        if (!wait)
            return;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!Ready()) {
            if (!problem_.empty())
                return;
            if (std::chrono::steady_clock::now() > end) {
                problem_ = "sleepy_fs did not mount in 10 s";
                Unmount();
                return;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    // True once the mount is in the table. Asked of the table, never of the
    // mount point: that would wait.
    bool Ready()
    {
        if (!problem_.empty() || pid_ <= 0)
            return false;
        if (IsMounted(mountPoint_))
            return true;
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            problem_ = "sleepy_fs ended without mounting";
        }
        return false;
    }

    ~SleepyMount() { Unmount(); }
    SleepyMount(const SleepyMount&) = delete;
    SleepyMount& operator=(const SleepyMount&) = delete;

    bool Mounted() const { return problem_.empty() && pid_ > 0; }
    const std::string& Problem() const { return problem_; }
    const std::string& MountPoint() const { return mountPoint_; }

    // Detaches the mount and ends the server: a caller still waiting on it
    // gets an error at once instead of its answer.
    void Unmount()
    {
        if (pid_ <= 0)
            return;
        ::umount2(mountPoint_.c_str(), MNT_DETACH);
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        ::rmdir(mountPoint_.c_str());
    }

private:
    std::string mountPoint_;
    std::string problem_;
    pid_t pid_ = -1;
};

} // namespace tarnel::test
