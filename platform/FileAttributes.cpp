#include "platform/FileAttributes.h"

#include "platform/DirectoryReader.h"

#include <cerrno>
#include <cstdio>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>

namespace tarnel {

namespace {

constexpr const char* kDosAttribName = "user.DOSATTRIB";
constexpr uint32_t kDosAttribBits = faHidden | faSysFile | faArchive;

bool HasDotName(const std::string& path)
{
    size_t end = path.size();
    while (end > 1 && path[end - 1] == '/')
        --end;
    const size_t slash = path.rfind('/', end - 1);
    const size_t start = slash == std::string::npos ? 0 : slash + 1;
    const std::string_view name(path.data() + start, end - start);
    return !name.empty() && name[0] == '.' && name != "." && name != "..";
}

// A link swapped in after the look is refused, never followed.
int ChmodNoFollow(const std::string& path, mode_t mode)
{
    return ::fchmodat(AT_FDCWD, path.c_str(), mode, AT_SYMLINK_NOFOLLOW);
}

enum class DosAttrib { Absent, Unsupported, Present };

// The stored DOS attribute; bits stays 0 for a value in a form not known.
// False, with errno set, when it cannot be read for another reason.
bool ReadDosAttrib(const std::string& path, DosAttrib& state, uint32_t& bits)
{
    state = DosAttrib::Absent;
    bits = 0;
    // Samba follows the text with a binary block of its own: size the buffer
    // from the value rather than assume the text alone.
    std::vector<char> value(64);
    for (;;) {
        const ssize_t n = ::lgetxattr(path.c_str(), kDosAttribName, value.data(), value.size());
        if (n >= 0) {
            state = DosAttrib::Present;
            const int parsed = ParseDosAttrib(value.data(), size_t(n));
            if (parsed > 0)
                bits = uint32_t(parsed);
            return true;
        }
        if (errno == ENODATA)
            return true;
        if (errno == ENOTSUP) {
            state = DosAttrib::Unsupported;
            return true;
        }
        if (errno != ERANGE)
            return false;
        const ssize_t size = ::lgetxattr(path.c_str(), kDosAttribName, nullptr, 0);
        if (size < 0)
            return errno == ENODATA;
        value.resize(size_t(size) + 1);
    }
}

bool StoreDosAttrib(const std::string& path, uint32_t bits, mode_t mode)
{
    char text[16];
    const int length = std::snprintf(text, sizeof text, "0x%x", unsigned(bits));
    if (::lsetxattr(path.c_str(), kDosAttribName, text, size_t(length), 0) == 0)
        return true;
    // User attributes need write permission, which a read-only file lacks even
    // for its owner: lend it for the one call.
    if (errno != EACCES || (mode & S_IWUSR))
        return false;
    if (ChmodNoFollow(path, mode | S_IWUSR) != 0) {
        errno = EACCES;
        return false;
    }
    const bool stored = ::lsetxattr(path.c_str(), kDosAttribName, text, size_t(length), 0) == 0;
    const int error = errno;
    if (ChmodNoFollow(path, mode) != 0)
        return false;
    errno = error;
    return stored;
}

} // namespace

bool ReadFileAttributes(const std::string& path, uint32_t& attr)
{
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0)
        return false;
    attr = 0;
    if (S_ISDIR(st.st_mode))
        attr |= faDirectory;
    if (!(st.st_mode & S_IWUSR))
        attr |= faReadOnly;
    if (HasDotName(path))
        attr |= faHidden;
    DosAttrib state;
    uint32_t dosBits;
    // An unreadable DOS attribute only means no DOS bits, as in a listing.
    if (ReadDosAttrib(path, state, dosBits))
        attr |= dosBits & kDosAttribBits;
    return true;
}

bool WriteFileAttributes(const std::string& path, uint32_t attr)
{
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0)
        return false;
    const bool dotName = HasDotName(path);
    if (dotName && !(attr & faHidden)) {
        errno = EPERM;
        return false;
    }
    DosAttrib state;
    uint32_t oldDos;
    if (!ReadDosAttrib(path, state, oldDos))
        return false;
    uint32_t newDos = (oldDos & ~kDosAttribBits) | (attr & kDosAttribBits);
    // The name already hides it: asking for hidden needs no stored bit.
    if (dotName)
        newDos = (newDos & ~uint32_t(faHidden)) | (oldDos & faHidden);
    const bool storeDos = newDos != oldDos;
    if (storeDos && state == DosAttrib::Unsupported) {
        errno = ENOTSUP;
        return false;
    }

    const mode_t mode = st.st_mode & 07777;
    const bool wasReadOnly = !(mode & S_IWUSR);
    const bool readOnly = attr & faReadOnly;
    // A link has no permissions of its own; its target is not ours to change.
    if (S_ISLNK(st.st_mode) && readOnly != wasReadOnly) {
        errno = EPERM;
        return false;
    }
    mode_t current = mode;
    // Clearing read-only comes first and setting it last, so that the DOS
    // attribute is stored while the owner may still write.
    if (wasReadOnly && !readOnly) {
        current = mode | S_IWUSR;
        if (ChmodNoFollow(path, current) != 0)
            return false;
    }
    if (storeDos && !StoreDosAttrib(path, newDos, current))
        return false;
    if (!wasReadOnly && readOnly && ChmodNoFollow(path, mode & ~mode_t(S_IWUSR | S_IWGRP | S_IWOTH)) != 0)
        return false;
    return true;
}

} // namespace tarnel
