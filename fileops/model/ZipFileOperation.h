#pragma once
// Copy, move and delete when one of the panes shows an archive: members are
// extracted into the other pane's folder, files added to the other pane's
// archive, members deleted, all through the one archive driver.
#include "sources/FileSource.h"

#include <cstdint>

#include <string>
#include <vector>

namespace tarnel {

struct TDirData;
class TZipMaster;

inline constexpr const char* kBetweenZipsText = "File operations are not (yet) supported between ZIP files...";
inline constexpr const char* kDeleteFromZipText = "Do you really want to DELETE the files from the source ZIP?";
inline constexpr const char* kRenameInZipText = "Renaming is not (yet) supported for ZIP files...";
inline constexpr const char* kNotCopiedText = "Some members were not extracted:";
inline constexpr const char* kNotDeletedText = "The members were not deleted:";
inline constexpr const char* kNotAddedText = "Some files were not added:";
inline constexpr const char* kNotMovedText = "Some files could not be extracted; they stay in the ZIP file.";

// A side of an operation is the pane's place, copied (the pane may move on
// while the operation runs), with its Path ending in "/".
using ZipSide = PanePlace;
ZipSide SideOf(const TDirData& pane);

// The selected rows of the pane, ".." and drives left out.
std::vector<SourceRow> SourceRowsOf(const TDirData& pane, const std::vector<int>& rows);

// Copy, move and delete of the members of the archive at source; copy and
// move extract them below the disk folder target. Rename is refused with its
// message, properties do nothing. fastZipMove: a move deletes the members
// without asking.
SourceOperationResult ExtractFromArchive(int code, const ZipSide& source, const ZipSide& target,
                                         const std::vector<SourceRow>& rows, bool fastZipMove, TZipMaster& zip,
                                         SourceOperationUi& ui);
// Copy (code 2) and move (code 1) of the files of the disk folder source into
// the archive folder target.
SourceOperationResult AddToArchive(int code, const ZipSide& source, const ZipSide& target,
                                   const std::vector<SourceRow>& rows, TZipMaster& zip, SourceOperationUi& ui);

} // namespace tarnel
