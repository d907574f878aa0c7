#pragma once
// The inside of an archive other than ZIP, read through libarchive: tar and
// its compressed kinds, 7z, RAR, ISO images, cpio, ar and .deb, .rpm, xar,
// cab, lha, and a lone compressed file as its one member. Folders the
// members' paths imply are listed with their sizes summed; the table is read
// once per unchanged archive.
#include "sources/FileSource.h"

#include <memory>

namespace tarnel {

class ArchiveTableCache;
struct ArchiveTable;

inline constexpr const char* kNotCopiedFromArchiveText = "Some members were not copied:";

// Whether members can be taken out of (or put into) an archive of this kind
// by writing it anew. Moving out of one that cannot is refused before
// anything is copied.
bool ArchiveFormatWritable(const ArchiveTable& table);

class ArchiveSource : public FileSource {
public:
    ArchiveSource();
    ~ArchiveSource() override;

    const char* Name() const override { return kArchiveSourceName; }
    // "..", the folders right below the place's ZipPath in the order first
    // met, then its files. What could not be read, encrypted members and
    // members whose names no row may show are told through Problem.
    void List(const PanePlace& place, ListSink& sink, const CancelToken& cancel) const override;
    Capabilities Can(const PanePlace& place) const override;

    // Copy and move of members out to a folder of the disk; delete, rename
    // and copies into the archive are refused with the reason.
    bool RunsOperation(int code, const PanePlace& from, const PanePlace& to) const override;
    std::unique_ptr<SourceOperation> OperationFor(int code, const PanePlace& from, const PanePlace& to,
                                                  SourceOperationUi& ui,
                                                  const SourceOperationOptions& options) const override;

    // Copies one member (its plain path inside the archive) into targetDir
    // under its own name, replacing what is there. Safe on any thread.
    bool ExtractMember(const std::string& archive, const std::string& member, const std::string& targetDir) const;

    const ArchiveTableCache& Tables() const { return *tables_; }

private:
    std::shared_ptr<ArchiveTableCache> tables_;
};

} // namespace tarnel
