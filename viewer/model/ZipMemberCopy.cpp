#include "viewer/model/ZipMemberCopy.h"

#include "panes/DirData.h"
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

std::string CopyZipMemberToTemp(const TDirData& pane, const TFileData& entry, const std::string& subfolder,
                                const ZipMemberExtractor& extract)
{
    // A member name that climbs out of the folder must never name the copy.
    if (!extract || pane.ZipMode <= 0 || entry.Name.empty() || entry.Name.find('/') != std::string::npos ||
        entry.Name == "." || entry.Name == ".." || pane.Path.size() < 2)
        return {};
    std::string error;
    const std::string dir = MemberCopyDirectory(subfolder, error);
    if (dir.empty())
        return {};
    const std::string archive = pane.Path.substr(0, pane.Path.size() - 1);
    if (!extract(archive, pane.ZipPath + entry.Name, dir))
        return {};
    return dir + entry.Name;
}

} // namespace tarnel
