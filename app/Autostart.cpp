#include "app/Autostart.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnel {

namespace {

std::string ConfigHome()
{
    // XDG base directories: a relative value is to be ignored.
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/')
        return config;
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.config";
}

std::string AutostartDir() { return ConfigHome() + "/autostart"; }

// Creates the missing folders of path; new ones are private (0700) as the
// XDG base directory rules ask.
bool MakeFolders(const std::string& path)
{
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
        if (slash == std::string::npos)
            break;
    }
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool WriteAll(int fd, std::string_view data)
{
    while (!data.empty()) {
        const ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data.remove_prefix(size_t(n));
    }
    return true;
}

// Moves from to to unless to exists. RENAME_NOREPLACE closes the window
// between a check and the rename; a file system without it gets link(2),
// which never replaces either.
bool RenameNoReplace(const std::string& from, const std::string& to)
{
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    if (::link(from.c_str(), to.c_str()) != 0)
        return false;
    ::unlink(from.c_str());
    return true;
}

} // namespace

std::string AutostartFile() { return AutostartDir() + "/tarnel.desktop"; }

bool AutostartExists()
{
    // lstat: a dangling link is still an entry the user put there.
    struct stat st {};
    return ::lstat(AutostartFile().c_str(), &st) == 0;
}

std::string AutostartEntry(const std::string& programPath)
{
    // Quoted argument rules of the Exec key first, then "%" (field codes),
    // then the general escapes every string value gets, which double the
    // backslashes again.
    std::string exec = "\"";
    for (const char c : programPath) {
        if (c == '"' || c == '`' || c == '$' || c == '\\')
            exec += '\\';
        exec += c;
        if (c == '%')
            exec += '%';
    }
    exec += "\" -min";

    std::string value;
    for (const char c : exec) {
        switch (c) {
        case '\\': value += "\\\\"; break;
        case '\n': value += "\\n"; break;
        case '\t': value += "\\t"; break;
        case '\r': value += "\\r"; break;
        default: value += c;
        }
    }
    return "[Desktop Entry]\nType=Application\nName=Tarnel\nExec=" + value + "\n";
}

bool SetAutostart(bool on, const std::string& programPath)
{
    const std::string file = AutostartFile();
    if (!on)
        return ::unlink(file.c_str()) == 0 || errno == ENOENT;
    if (AutostartExists())
        return true;

    const std::string dir = AutostartDir();
    if (!MakeFolders(dir))
        return false;
    std::string temp = dir + "/.tarnel.desktop.XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0)
        return false;
    bool ok = ::fchmod(fd, 0644) == 0 && WriteAll(fd, AutostartEntry(programPath)) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    // EEXIST here means someone else's entry appeared meanwhile: it stays.
    if (!ok || !RenameNoReplace(temp, file)) {
        const bool lostRace = ok && errno == EEXIST;
        ::unlink(temp.c_str());
        return lostRace;
    }
    if (const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dirFd >= 0) {
        (void)::fsync(dirFd);
        ::close(dirFd);
    }
    return true;
}

} // namespace tarnel
