#include "panes/Place.h"

#include "panes/PathUtil.h"

namespace tarnel {

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
        } else {
            --up.ZipMode;
        }
    }
    if (up.ZipMode == 0) {
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

PanePlace PanePlace::WithDelimiter() const
{
    PanePlace place = *this;
    place.Path = AddPathDelimiter(Path);
    return place;
}

std::string PanePlace::Text() const { return InArchive() ? AddPathDelimiter(Path) + ZipPath : AddPathDelimiter(Path); }

} // namespace tarnel
