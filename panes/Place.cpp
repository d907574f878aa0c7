#include "panes/Place.h"

#include "panes/PathUtil.h"
#include "platform/ssh/SftpUrl.h"
#include "sources/archive/ArchiveNames.h"
#include "sources/archive/ArchiveTable.h"

#include <sys/stat.h>

namespace tarnel {

namespace {

// The place path names, its first leading part that kindOf calls an
// archive taken for the archive and the rest for a folder inside it.
template <class KindOf>
PanePlace PlaceOfPath(const std::string& path, KindOf&& kindOf)
{
    if (IsSftpText(path)) {
        // An address that cannot be parsed still names the remote source,
        // which says what is wrong with it, rather than a folder of the disk.
        const std::optional<SftpUrl> url = SftpUrl::Parse(path);
        return {url ? url->Text() : path, 0, {}, kSftpSourceName};
    }
    for (size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
        const std::string head = path.substr(0, end);
        const ArchiveContent kind = kindOf(head);
        if (kind != ArchiveContent::None) {
            // "a.zip//docs//" is a.zip's folder docs, as "a.zip/docs/" is:
            // stored names never hold an empty folder.
            std::string inside;
            for (const char c : end == std::string::npos ? std::string() : path.substr(end + 1))
                if (c != '/' || (!inside.empty() && inside.back() != '/'))
                    inside += c;
            if (!inside.empty() && inside.back() != '/')
                inside += '/';
            PanePlace place = PanePlace::Archive(head, inside);
            if (kind == ArchiveContent::Archive)
                place.SourceName = kArchiveSourceName;
            return place;
        }
        if (end == std::string::npos)
            return PanePlace::Directory(path);
    }
}

bool IsZipName(const std::string& name)
{
    return name.size() >= 4 && EqualsIgnoreCase(name.substr(name.size() - 4), ".zip");
}

} // namespace

PanePlace PanePlace::FromPath(const std::string& path)
{
    return PlaceOfPath(path, [](const std::string& head) {
        struct stat st;
        if (::stat(head.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            return ArchiveContent::None;
        // Any other file is an archive by its content or, failing that (a
        // damaged one, whose reader says what is wrong), by its name.
        ArchiveContent kind = IsZipName(head) ? ArchiveContent::Zip : DetectArchiveContent(head);
        if (kind == ArchiveContent::None && HasArchiveSuffix(head))
            kind = ArchiveContent::Archive;
        return kind;
    });
}

PanePlace PanePlace::FromPathByName(const std::string& path)
{
    return PlaceOfPath(path, [](const std::string& head) {
        if (IsZipName(head))
            return ArchiveContent::Zip;
        return HasArchiveSuffix(head) ? ArchiveContent::Archive : ArchiveContent::None;
    });
}

std::string PanePlace::ArchiveFile() const
{
    return Path.size() > 1 && Path.back() == '/' ? Path.substr(0, Path.size() - 1) : Path;
}

PanePlace PanePlace::Child(const std::string& name) const
{
    PanePlace child = *this;
    if (InArchive())
        child.ZipPath += name + "/";
    else
        child.Path = AddPathDelimiter(Path) + name;
    return child;
}

PanePlace PanePlace::Parent() const
{
    PanePlace up = *this;
    if (up.ZipMode > 0) {
        if (!up.ZipPath.empty()) {
            up.ZipPath.pop_back();
            const size_t slash = up.ZipPath.rfind('/');
            up.ZipPath.erase(slash == std::string::npos ? 0 : slash + 1);
        } else if (--up.ZipMode == 0) {
            up.SourceName.clear(); // out of the archive, onto the disk
        }
    }
    if (const size_t root = RemoteRootLength(up.Path); root > 0 && up.ZipMode == 0) {
        // Never above the remote machine's "/": the host is not a folder.
        std::string path = up.Path;
        while (path.size() > root + 1 && path.back() == '/')
            path.pop_back();
        const size_t slash = path.rfind('/');
        path.erase(slash == std::string::npos || slash < root ? root : slash);
        up.Path = path.size() <= root ? path.substr(0, root) + "/" : path;
        return up;
    }
    if (up.ZipMode == 0) {
        // A find's results lie below their first start folder: up is that folder of the disk.
        if (up.SourceName == kSearchSourceName)
            up.SourceName.clear();
        std::string path = up.Path;
        if (path.size() > 1 && path.back() == '/')
            path.pop_back();
        const size_t slash = path.rfind('/');
        path.erase(slash == std::string::npos ? 0 : slash + 1);
        up.Path = path.empty() ? "/" : path;
    }
    if (up.Path.size() > 1 && up.Path.back() == '/')
        up.Path.pop_back();
    return up;
}

std::string PanePlace::NameInParent() const
{
    std::string path = InArchive() && !ZipPath.empty() ? ZipPath : Path;
    if (const size_t root = RemoteRootLength(path); root > 0)
        path.erase(0, root); // the host is no row of any listing
    while (!path.empty() && path.back() == '/')
        path.pop_back();
    return path.substr(path.rfind('/') + 1); // npos + 1 is 0
}

PanePlace PanePlace::WithDelimiter() const
{
    PanePlace place = *this;
    place.Path = AddPathDelimiter(Path);
    return place;
}

std::string PanePlace::Text() const { return InArchive() ? AddPathDelimiter(Path) + ZipPath : AddPathDelimiter(Path); }

} // namespace tarnel
