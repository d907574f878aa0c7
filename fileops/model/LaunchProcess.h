#pragma once
// Starting a program as a child process (never through a shell) and the
// thread that waits for it and removes a temporary copy made for it.
#include <chrono>
#include <string>
#include <vector>

#include <sys/types.h>

namespace tarnel {

// Starts argv[0] (an absolute path, or found in PATH's absolute entries by
// FindProgram) with exactly these arguments, in a session of its own, stdin
// from /dev/null, in workingDir when that is a directory. The child's pid,
// or -1 with error set.
pid_t StartChild(const std::vector<std::string>& argv, const std::string& workingDir, std::string& error);

// Waits for one started child at idle priority, then deletes fileToDelete
// (when not empty), but never before minimumLife has passed since the
// start: many programs hand the file to an instance already running and end
// at once. Frees itself when done; several can run at once.
class TWaitProcessEnd {
public:
    static constexpr std::chrono::seconds kMinimumLife{30};
    static void Start(pid_t pid, std::string fileToDelete,
                      std::chrono::milliseconds minimumLife = kMinimumLife);
    // Waiters still running (for tests).
    static int Running();
};

} // namespace tarnel
