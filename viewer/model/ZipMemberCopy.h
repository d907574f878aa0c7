#pragma once
// Copies of ZIP members made so that the viewer or a started program can
// read them as plain files, below the private temporary directory.
#include "sources/FileSource.h"

#include <functional>
#include <string>

namespace tarnel {

struct PanePlace;

// The ZIP driver's single-member extraction: member (its path inside the
// archive, "/" separated) of the archive file into targetDir, stored folder
// names off, overwriting. True when the copy was made.
using ZipMemberExtractor =
    std::function<bool(const std::string& archive, const std::string& member, const std::string& targetDir)>;

// The private temporary directory's orvtmp/<subfolder>/, created with its
// missing parents (each one private to the user); "" with error set when it
// cannot be made.
std::string MemberCopyDirectory(const std::string& subfolder, std::string& error);

// Copies the member named name in the folder of an archive that place shows
// into orvtmp/<subfolder>/ and returns the copy's full path; "" when no copy
// was made (no extractor yet, the driver failed, the directory is unusable)
// or none is wanted: can, what the place's source can do, says whether its
// entries are opened through a copy (they open, but are no files of the disk).
std::string CopyZipMemberToTemp(const PanePlace& place, Capabilities can, const std::string& name,
                                const std::string& subfolder, const ZipMemberExtractor& extract);

// The viewer's copy: orvtmp/vw/<name>. It stays until the viewer is cleared.
inline std::string ExtractZipMemberForViewing(const PanePlace& place, Capabilities can, const std::string& name,
                                              const ZipMemberExtractor& extract)
{
    return CopyZipMemberToTemp(place, can, name, "vw", extract);
}

} // namespace tarnel
