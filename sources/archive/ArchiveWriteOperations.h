#pragma once
// The file commands that change a tar or 7z archive, as operations a
// source hands to the window's runner: files of the disk copied or moved
// into a folder of the archive, members deleted, and a new archive made.
// Made on the window's thread; they hold copies of what they need and do
// all their work in Run, on a worker.
#include "sources/FileSource.h"
#include "sources/archive/ArchiveRewrite.h"

#include <memory>
#include <string>
#include <vector>

namespace tarnel {

inline constexpr const char* kNotArchivedText = "Some files were not added:";
inline constexpr const char* kNotMovedAwayText = "These files went into the archive but were changed meanwhile, so "
                                                 "they stay on the disk:";

// Run(rows) copies the rows of the disk folder diskFolder into the folder
// archivePlace shows (its ZipPath) of the archive archivePlace.Path. With
// move, each file that went in is then removed from the disk, but only once
// the new archive is in place and only while it is still the very file
// that was read; folders go when they are left empty.
std::unique_ptr<SourceOperation> MakeArchiveAdd(const PanePlace& archivePlace, std::string diskFolder, bool move,
                                                SourceOperationUi& ui, const SourceOperationOptions& options);

// Run(rows) deletes the rows of the folder archivePlace shows from its
// archive; a folder row takes everything below it.
std::unique_ptr<SourceOperation> MakeArchiveDelete(const PanePlace& archivePlace, SourceOperationUi& ui);

// Run makes a new archive of kind at archivePath holding diskPaths (the
// rows it is given are not used). archivePath must not exist.
std::unique_ptr<SourceOperation> MakeArchiveCreate(std::string archivePath, ArchiveKind kind,
                                                   std::vector<std::string> diskPaths, SourceOperationUi& ui);

} // namespace tarnel
