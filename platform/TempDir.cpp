#include "platform/TempDir.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <fcntl.h>
#include <pwd.h>
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

std::string HomeDir()
{
    std::string home = AbsoluteEnv("HOME");
    if (home.empty())
        if (const passwd* pw = ::getpwuid(::geteuid()); pw && pw->pw_dir && pw->pw_dir[0] == '/')
            home = pw->pw_dir;
    return home;
}

std::string HostName()
{
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0')
        return "localhost";
    std::string host = name;
    for (char& c : host)
        if (c == '/' || c < ' ')
            c = '_';
    return host;
}

// The fallback when the first choice failed with firstError.
std::string FallBackToHome(const std::string& firstError, std::string& error)
{
    const std::string dir = HomePrivateDirPath();
    if (dir.empty()) {
        error = firstError + "; and no home folder to fall back to";
        return {};
    }
    // The cache folder itself may be missing in a fresh account.
    const std::string parent = dir.substr(0, dir.rfind('/'));
    if (::mkdir(parent.c_str(), 0700) != 0 && errno != EEXIST) {
        error = firstError + "; and " + parent + ": " + std::strerror(errno);
        return {};
    }
    std::string homeError;
    const std::string made = EnsurePrivateDir(dir, homeError);
    if (made.empty())
        error = firstError + "; and " + homeError;
    return made;
}

} // namespace

std::string HomePrivateDirPath()
{
    std::string cache = AbsoluteEnv("XDG_CACHE_HOME");
    if (cache.empty()) {
        const std::string home = HomeDir();
        if (home.empty())
            return {};
        cache = JoinPath(home, ".cache");
    }
    return JoinPath(cache, "tarnel-" + HostName());
}

std::string SharedTmpPrivateDir(std::string& error)
{
    const std::string tmp = AbsoluteEnv("TMPDIR");
    const std::string dir = JoinPath(tmp.empty() ? "/tmp" : tmp, "tarnel-" + std::to_string(::geteuid()));
    std::string sharedError;
    const std::string made = EnsurePrivateDir(dir, sharedError);
    return made.empty() ? FallBackToHome(sharedError, error) : made;
}

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
    const std::string runtime = AbsoluteEnv("XDG_RUNTIME_DIR");
    if (runtime.empty())
        return SharedTmpPrivateDir(error);
    std::string runtimeError;
    const std::string made = EnsurePrivateDir(JoinPath(runtime, "tarnel"), runtimeError);
    return made.empty() ? FallBackToHome(runtimeError, error) : made;
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
