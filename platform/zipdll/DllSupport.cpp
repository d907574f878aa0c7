#include "platform/zipdll/DllSupport.h"

#include "platform/RegularFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
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

bool IsFolderSelector(std::string_view selector)
{
    return selector.size() > 4 && selector.substr(selector.size() - 4) == "/*.*";
}

MemberSelection::MemberSelection(const std::vector<std::string>& selectors,
                                 const std::function<bool(const std::string&)>& isMember)
{
    for (const std::string& selector : selectors) {
        // "X/" is folder X and all below it: no member name of a file ends
        // in "/", so it never means one file, as "X/*.*" can.
        if (!selector.empty() && selector.back() == '/')
            selectors_.push_back({selector, Kind::Folder});
        else if (isMember(selector))
            selectors_.push_back({selector, Kind::Literal});
        else if (IsFolderSelector(selector))
            selectors_.push_back({selector.substr(0, selector.size() - 3), Kind::Folder});
        else
            selectors_.push_back({selector, Kind::Pattern});
    }
}

bool MemberSelection::Selects(const std::string& name) const
{
    if (selectors_.empty())
        return true;
    for (const Selector& selector : selectors_) {
        switch (selector.kind) {
        case Kind::Literal:
            if (selector.text == name)
                return true;
            break;
        case Kind::Folder:
            if (name.size() >= selector.text.size() &&
                std::equal(selector.text.begin(), selector.text.end(), name.begin(),
                           [](char a, char b) { return Lower(a) == Lower(b); }))
                return true;
            break;
        case Kind::Pattern:
            if (WildcardMatch(selector.text, name))
                return true;
            break;
        }
    }
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

void SyncFileAndDirectory(const std::string& path)
{
    const int fd = OpenRegularFile(path);
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

namespace {

std::string DirectoryOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : (slash == 0 ? "/" : path.substr(0, slash));
}

// The file an archive name stands for, links resolved, so that the new
// archive replaces the file and not a link to it. A name that does not
// exist yet resolves through its folder.
bool RealArchivePath(const std::string& given, std::string& real, std::string& error)
{
    if (char* resolved = ::realpath(given.c_str(), nullptr)) {
        real = resolved;
        std::free(resolved);
        return true;
    }
    if (errno != ENOENT) {
        error = std::strerror(errno);
        return false;
    }
    struct stat st;
    if (::lstat(given.c_str(), &st) == 0) {
        error = "it is a link to a file that does not exist";
        return false;
    }
    const size_t slash = given.rfind('/');
    const std::string leaf = slash == std::string::npos ? given : given.substr(slash + 1);
    char* folder = ::realpath(DirectoryOf(given).c_str(), nullptr);
    if (!folder || leaf.empty() || leaf == "." || leaf == "..") {
        error = folder ? "not a file name" : std::strerror(errno);
        std::free(folder);
        return false;
    }
    real = std::string(folder) + (std::strcmp(folder, "/") == 0 ? "" : "/") + leaf;
    std::free(folder);
    return true;
}

// A new file in dir under a short name: the archive's own name may take all
// 255 bytes, and libzip adds seven more to this one for its temporary.
int CreateTemp(const std::string& dir, mode_t mode, std::string& path)
{
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    static thread_local std::mt19937 random{std::random_device{}()};
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = ".tarnel-";
        for (int i = 0; i < 6; ++i)
            name += kLetters[random() % (sizeof kLetters - 1)];
        path = (dir == "/" ? "" : dir) + "/" + name;
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    errno = EEXIST;
    return -1;
}

bool SameFile(const struct stat& a, dev_t dev, ino_t ino) { return a.st_dev == dev && a.st_ino == ino; }

} // namespace

ArchiveCopy::~ArchiveCopy()
{
    if (!temp_.empty())
        ::unlink(temp_.c_str());
}

bool ArchiveCopy::Begin(const std::string& original, std::string& error)
{
    if (!RealArchivePath(original, original_, error))
        return false;
    // Never opened unless it is a regular file: a fifo would block here.
    const int in = OpenRegularFile(original_);
    if (in == kNotARegularFile) {
        error = "not a regular file";
        return false;
    }
    if (in < 0 && in != -ENOENT) {
        error = std::strerror(-in);
        return false;
    }
    existed_ = in >= 0;
    if (existed_ && ::fstat(in, &originalStat_) != 0) {
        error = std::strerror(errno);
        ::close(in);
        return false;
    }
    if (existed_ && !S_ISREG(originalStat_.st_mode)) {
        error = "not a regular file";
        ::close(in);
        return false;
    }
    // A new archive gets the mode a new file gets (0666 less the umask):
    // the open applies the umask, and the mode is read back from the file.
    std::string temp;
    const int out = CreateTemp(DirectoryOf(original_), existed_ ? 0600 : 0666, temp);
    if (out < 0) {
        error = std::strerror(errno);
        if (in >= 0)
            ::close(in);
        return false;
    }
    temp_ = temp;
    struct stat tempStat {};
    ::fstat(out, &tempStat);
    tempDev_ = tempStat.st_dev;
    tempIno_ = tempStat.st_ino;
    mode_ = existed_ ? (originalStat_.st_mode & 0777) : (tempStat.st_mode & 0777);
    bool ok = true;
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
    }
    if (!ok)
        error = std::strerror(errno);
    ::close(out);
    if (!existed_) { // a new archive: the library creates it
        ::unlink(temp_.c_str());
        tempDev_ = 0;
        tempIno_ = 0;
    }
    return ok;
}

bool ArchiveCopy::Holds(const struct stat& st) const
{
    return (existed_ && SameFile(st, originalStat_.st_dev, originalStat_.st_ino)) || SameFile(st, tempDev_, tempIno_);
}

bool ArchiveCopy::Commit(bool asEmpty, std::string& error)
{
    static const unsigned char kEmpty[22] = {'P', 'K', 5, 6};
    const int fd = asEmpty ? ::open(temp_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0600)
                           : ::open(temp_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    bool ok = fd >= 0 && (!asEmpty || ::write(fd, kEmpty, sizeof kEmpty) == ssize_t(sizeof kEmpty));
    if (ok) {
        // The replaced archive's owner where this user may set it (the
        // group alone is often allowed), then its mode.
        if (existed_ && ::fchown(fd, originalStat_.st_uid, originalStat_.st_gid) != 0) {
            [[maybe_unused]] const int ignored = ::fchown(fd, uid_t(-1), originalStat_.st_gid);
        }
        ok = ::fchmod(fd, mode_) == 0 && ::fsync(fd) == 0;
    }
    const int saved = errno;
    if (fd >= 0)
        ::close(fd);
    if (!ok || ::rename(temp_.c_str(), original_.c_str()) != 0) {
        error = std::strerror(ok ? errno : saved);
        return false;
    }
    temp_.clear();
    SyncFileAndDirectory(original_);
    return true;
}

} // namespace tarnel::zipdll
