#include "viewer/model/ZipMemberCopy.h"

#include "panes/Place.h"
#include "platform/TempDir.h"

namespace tarnel {

std::string MemberCopyDirectory(const std::string& subfolder, std::string& error)
{
    std::string dir = PrivateTempDir(error);
    for (const std::string& level : {std::string("orvtmp"), subfolder}) {
        if (dir.empty())
            return {};
        dir = EnsurePrivateDir(dir + "/" + level, error);
    }
    return dir.empty() ? std::string() : dir + "/";
}

std::string CopyZipMemberToTemp(const PanePlace& place, Capabilities can, const std::string& name,
                                const std::string& subfolder, const ZipMemberExtractor& extract)
{
    const bool throughCopy = can.Has(Capability::OpenMember) && !can.Has(Capability::DiskPaths);
    // A member name that climbs out of the folder must never name the copy.
    if (!extract || !throughCopy || name.empty() || name.find('/') != std::string::npos || name == "." ||
        name == ".." || place.Path.size() < 2)
        return {};
    std::string error;
    const std::string dir = MemberCopyDirectory(subfolder, error);
    if (dir.empty())
        return {};
    if (!extract(place.ArchiveFile(), place.ZipPath + name, dir))
        return {};
    return dir + name;
}

} // namespace tarnel
