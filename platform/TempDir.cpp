#include "platform/TempDir.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnel {

namespace {

std::string AbsoluteEnv(const char* name)
{
    const char* value = std::getenv(name);
    return value && value[0] == '/' ? std::string(value) : std::string();
}

std::string JoinPath(std::string dir, const std::string& name)
{
    while (!dir.empty() && dir.back() == '/')
        dir.pop_back();
    return dir + "/" + name;
}

} // namespace

std::string PrivateTempDirPath()
{
    const std::string runtime = AbsoluteEnv("XDG_RUNTIME_DIR");
    if (!runtime.empty())
        return JoinPath(runtime, "tarnel");
    const std::string tmp = AbsoluteEnv("TMPDIR");
    // The uid that will own the directory, so that the check below agrees.
    return JoinPath(tmp.empty() ? "/tmp" : tmp, "tarnel-" + std::to_string(::geteuid()));
}

std::string EnsurePrivateDir(const std::string& dir, std::string& error)
{
    if (::mkdir(dir.c_str(), 0700) == 0) {
        // The umask may have taken bits away; the check below wants 0700.
        if (::chmod(dir.c_str(), 0700) != 0) {
            error = dir + ": " + std::strerror(errno);
            return {};
        }
    } else if (errno != EEXIST) {
        error = dir + ": " + std::strerror(errno);
        return {};
    }
    struct stat st;
    if (::lstat(dir.c_str(), &st) != 0) {
        error = dir + ": " + std::strerror(errno);
        return {};
    }
    if (!S_ISDIR(st.st_mode)) {
        error = dir + ": not a directory of its own (a link or a file)";
        return {};
    }
    if (st.st_uid != ::geteuid()) {
        error = dir + ": owned by another user";
        return {};
    }
    if ((st.st_mode & 07777) != 0700) {
        error = dir + ": open to other users (mode is not 0700)";
        return {};
    }
    return dir;
}

std::string PrivateTempDir(std::string& error)
{
    return EnsurePrivateDir(PrivateTempDirPath(), error);
}

std::string MakeTempFileIn(const std::string& dir, const std::string& prefix)
{
    std::string path = dir;
    if (path.empty() || path.back() != '/')
        path += '/';
    path += prefix;
    path += "XXXXXX";
    const int fd = ::mkostemp(path.data(), O_CLOEXEC);
    if (fd < 0)
        return {};
    ::close(fd);
    return path;
}

} // namespace tarnel
