#pragma once
// The inside of a ZIP archive: its members at a folder, and the folders
// their stored paths imply, with summed sizes.
#include "fileops/model/ZipFileOperation.h"
#include "sources/FileSource.h"

#include <memory>
#include <mutex>

namespace tarnel {

class TZipMaster;

// The archive branch of copy, move and delete, run through the one driver.
class ZipOperation {
public:
    ZipOperation(TZipMaster& zip, ZipOperationUi& ui) : zip_(zip), ui_(ui) {}
    ZipOperationResult Run(int code, const ZipSide& source, const ZipSide& target, const std::vector<ZipRow>& rows,
                           bool fastZipMove)
    {
        return RunZipOperation(code, source, target, rows, fastZipMove, zip_, ui_);
    }

private:
    TZipMaster& zip_;
    ZipOperationUi& ui_;
};

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

    bool HasOperations() const { return operations_ != nullptr; }
    TZipMaster& Operations() const { return *operations_; }
    ZipOperation CreateOperation(ZipOperationUi& ui) const { return ZipOperation(*operations_, ui); }

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

// Lists the members of the archive that lie at folder zipPath ("" or
// "a/b/") through zip; the listing ZipSource::List gives.
void ListArchiveMembers(TZipMaster& zip, const std::string& archive, const std::string& zipPath, ListSink& sink,
                        const CancelToken& cancel);

} // namespace tarnel
