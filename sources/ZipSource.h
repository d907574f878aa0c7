#pragma once
// The inside of a ZIP archive: its members at a folder, and the folders
// their stored paths imply, with summed sizes.
#include "fileops/model/ZipFileOperation.h"
#include "sources/FileSource.h"

#include <memory>
#include <mutex>

namespace tarnel {

class TZipMaster;

class ZipSource : public FileSource {
public:
    // operations: the driver the file commands and the viewer's copies use
    // (window's thread); listing reads the tables through drivers of its own.
    explicit ZipSource(TZipMaster* operations = nullptr);
    ~ZipSource() override;

    const char* Name() const override { return kZipSourceName; }
    // "..", then the folders below the place's ZipPath in the order first
    // met, then its members. A damaged archive lists the members read before
    // the damage and says so through the sink's Problem, as it does for
    // members no row can show.
    void List(const PanePlace& place, ListSink& sink, const CancelToken& cancel) const override;
    Capabilities Can(const PanePlace& place) const override;

    // Copy, move, delete, rename and properties of members; copy and move
    // of disk files into an archive.
    bool RunsOperation(int code, const PanePlace& from, const PanePlace& to) const override;
    // Through the operations driver; none without one.
    std::unique_ptr<SourceOperation> OperationFor(int code, const PanePlace& from, const PanePlace& to,
                                                  SourceOperationUi& ui,
                                                  const SourceOperationOptions& options) const override;

    bool HasOperations() const { return operations_ != nullptr; }

    // Copies one member into targetDir through a driver of the pool; safe
    // on any thread (the viewer's and Open's copies are made on workers).
    bool ExtractMember(const std::string& archive, const std::string& member, const std::string& targetDir) const;

private:
    // Drivers that keep the last tables they read: entering a folder of the
    // same unchanged archive does not read its table again.
    struct DriverPool {
        std::mutex mutex;
        std::vector<std::unique_ptr<TZipMaster>> idle;
    };
    std::unique_ptr<TZipMaster> TakeDriver(const std::string& archive) const;
    void GiveBack(std::unique_ptr<TZipMaster> driver) const;

    TZipMaster* operations_;
    std::shared_ptr<DriverPool> pool_;
};

// Runs a file command with an archive on one side or both, through zip:
// members of from are extracted into the disk folder to, deleted, or refused
// (rename, and copy or move between two archives); files of the disk folder
// from are added to the archive at to. Places end in "/" (SideOf).
// fastZipMove: a move deletes the extracted members without asking.
SourceOperationResult RunZipOperation(int code, const PanePlace& from, const PanePlace& to,
                                      const std::vector<SourceRow>& rows, bool fastZipMove, TZipMaster& zip,
                                      SourceOperationUi& ui);

// Copies member (its stored path, "/" separated; a folder that differs in
// case alone still finds it) of archive into targetDir through zip, stored
// folder names off, overwriting. True when the copy was made.
bool ExtractArchiveMember(TZipMaster& zip, const std::string& archive, const std::string& member,
                          const std::string& targetDir);

// Lists the members of the archive that lie at folder zipPath ("" or
// "a/b/") through zip; the listing ZipSource::List gives.
void ListArchiveMembers(TZipMaster& zip, const std::string& archive, const std::string& zipPath, ListSink& sink,
                        const CancelToken& cancel);

} // namespace tarnel
