#include "platform/unrar/ExtractPath.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnel {
namespace {

std::vector<std::string> SplitSlashes(const std::string& text)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('/', start);
        if (end == std::string::npos) end = text.size();
        parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

} // namespace

bool SplitMemberPath(const std::string& name, std::vector<std::string>& parts)
{
    parts.clear();
    if (name.empty() || name[0] == '/' || name.find('\0') != std::string::npos) return false;
    for (std::string& part : SplitSlashes(name)) {
        if (part.empty() || part == ".") continue;
        if (part == "..") return false;
        parts.push_back(std::move(part));
    }
    return !parts.empty();
}

bool LinkStaysInside(const std::string& target, size_t depth)
{
    if (target.empty() || target[0] == '/') return false;
    bool descending = false;
    for (const std::string& part : SplitSlashes(target)) {
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (descending || depth == 0) return false;
            --depth;
        } else {
            descending = true;
        }
    }
    return true;
}

int OpenDirectoriesBelow(int rootFd, const std::vector<std::string>& parts, size_t count, bool create)
{
    int fd = ::dup(rootFd);
    if (fd < 0) return -errno;
    for (size_t i = 0; i < count && i < parts.size(); ++i) {
        if (create && ::mkdirat(fd, parts[i].c_str(), 0777) != 0 && errno != EEXIST) {
            const int error = errno;
            ::close(fd);
            return -error;
        }
        const int next = ::openat(fd, parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int error = errno;
        ::close(fd);
        if (next < 0) return -error;
        fd = next;
    }
    return fd;
}

int MakeMemberDirectory(const std::string& root, const std::string& memberName)
{
    std::vector<std::string> parts;
    if (!SplitMemberPath(memberName, parts)) return -EPERM;
    const int rootFd = ::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (rootFd < 0) return -errno;
    const int fd = OpenDirectoriesBelow(rootFd, parts, parts.size());
    ::close(rootFd);
    if (fd < 0) return fd;
    ::close(fd);
    return 0;
}

} // namespace tarnel
