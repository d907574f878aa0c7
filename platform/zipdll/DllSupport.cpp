#include "platform/zipdll/DllSupport.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace tarnel::zipdll {

void Reporter::Send(int action, int errorCode, int64_t size, const std::string& text)
{
    if (!callback_)
        return;
    TZipCallbackInfo info{};
    info.handle = handle_;
    info.caller = caller_;
    info.version = ZIPDLL_VERSION;
    info.actionCode = action;
    info.errorCode = errorCode;
    info.fileSize = size;
    const size_t n = std::min(text.size(), sizeof info.text - 1);
    std::memcpy(info.text, text.data(), n);
    if (callback_(&info) != ZIPDLL_FALSE)
        cancelled_ = true;
}

namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c + 32) : c; }

bool MatchFrom(std::string_view p, std::string_view n)
{
    size_t pi = 0, ni = 0, starP = std::string_view::npos, starN = 0;
    while (ni < n.size()) {
        if (pi < p.size() && (p[pi] == '?' || (p[pi] != '*' && Lower(p[pi]) == Lower(n[ni])))) {
            ++pi;
            ++ni;
        } else if (pi < p.size() && p[pi] == '*') {
            starP = pi++;
            starN = ni;
        } else if (starP != std::string_view::npos) {
            pi = starP + 1;
            ni = ++starN;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == '*')
        ++pi;
    return pi == p.size();
}

} // namespace

bool WildcardMatch(std::string_view pattern, std::string_view name)
{
    if (pattern.size() >= 3 && pattern.substr(pattern.size() - 3) == "*.*" &&
        (pattern.size() == 3 || pattern[pattern.size() - 4] == '/')) {
        std::string shortened(pattern.substr(0, pattern.size() - 2));
        return MatchFrom(shortened, name);
    }
    return MatchFrom(pattern, name);
}

bool HasWildcards(std::string_view text) { return text.find_first_of("*?") != std::string_view::npos; }

MemberSelection::MemberSelection(const std::vector<std::string>& selectors,
                                 const std::function<bool(const std::string&)>& isMember)
{
    for (const std::string& selector : selectors)
        selectors_.push_back({selector, isMember(selector)});
}

bool MemberSelection::Selects(const std::string& name) const
{
    if (selectors_.empty())
        return true;
    for (const Selector& selector : selectors_)
        if (selector.literal ? selector.text == name : WildcardMatch(selector.text, name))
            return true;
    return false;
}

bool ReadName(const char* text, std::string& out, Reporter& reporter)
{
    if (!text) {
        reporter.Message("Error - no name given", kErrorRefused);
        return false;
    }
    const size_t n = strnlen(text, ZIPDLL_NAME_BUFFER);
    if (n >= ZIPDLL_NAME_BUFFER) {
        reporter.Message("Error - name longer than 255 bytes refused", kErrorRefused);
        return false;
    }
    out.assign(text, n);
    return true;
}

bool ReadSelectors(char* const* selectors, int32_t count, std::vector<std::string>& out, Reporter& reporter)
{
    if (count < 0 || count > ZIPDLL_MAX_SELECTORS) {
        reporter.Message("Error - more than 4097 file names or patterns refused", kErrorRefused);
        return false;
    }
    out.clear();
    for (int32_t i = 0; i < count; ++i) {
        std::string selector;
        if (!ReadName(selectors[i], selector, reporter))
            return false;
        out.push_back(std::move(selector));
    }
    return true;
}

bool WriteEmptyArchive(const std::string& path)
{
    static const unsigned char kEmpty[22] = {'P', 'K', 5, 6};
    std::string temp = path + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return false;
    const bool written = ::write(fd, kEmpty, sizeof kEmpty) == ssize_t(sizeof kEmpty) && ::fsync(fd) == 0;
    const int saved = errno;
    ::close(fd);
    if (!written || ::rename(temp.c_str(), path.c_str()) != 0) {
        ::unlink(temp.c_str());
        errno = written ? errno : saved;
        return false;
    }
    SyncFileAndDirectory(path);
    return true;
}

void SyncFileAndDirectory(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
    const size_t slash = path.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
    const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
}

} // namespace tarnel::zipdll

namespace tarnel::zipdll {

ArchiveCopy::~ArchiveCopy()
{
    if (!temp_.empty())
        ::unlink(temp_.c_str());
}

bool ArchiveCopy::Begin(const std::string& original, std::string& error)
{
    original_ = original;
    std::string temp = original + ".tarnel-XXXXXX";
    const int out = ::mkstemp(temp.data());
    if (out < 0) {
        error = std::strerror(errno);
        return false;
    }
    temp_ = temp;
    bool ok = true;
    const int in = ::open(original.c_str(), O_RDONLY | O_CLOEXEC);
    if (in >= 0) {
        char buffer[1 << 16];
        ssize_t got;
        while (ok && (got = ::read(in, buffer, sizeof buffer)) != 0) {
            if (got < 0) {
                ok = errno == EINTR;
                continue;
            }
            for (ssize_t done = 0; ok && done < got;) {
                const ssize_t put = ::write(out, buffer + done, size_t(got - done));
                ok = put > 0;
                done += put > 0 ? put : 0;
            }
        }
        ::close(in);
    } else {
        ok = errno == ENOENT;
    }
    if (!ok)
        error = std::strerror(errno);
    ::close(out);
    if (in < 0)
        ::unlink(temp_.c_str()); // a new archive: the library creates it
    return ok;
}

bool ArchiveCopy::Commit(bool asEmpty, std::string& error)
{
    if (asEmpty) {
        if (!WriteEmptyArchive(original_)) {
            error = std::strerror(errno);
            return false;
        }
        return true;
    }
    const int fd = ::open(temp_.c_str(), O_RDONLY | O_CLOEXEC);
    const bool synced = fd >= 0 && ::fsync(fd) == 0;
    if (fd >= 0)
        ::close(fd);
    if (!synced || ::rename(temp_.c_str(), original_.c_str()) != 0) {
        error = std::strerror(errno);
        return false;
    }
    temp_.clear();
    SyncFileAndDirectory(original_);
    return true;
}

} // namespace tarnel::zipdll
