#pragma once
// The folders of the disk.
#include "sources/FileSource.h"

#include <memory>

namespace tarnel {

class OperationUi;
class ShellFileOperation;

class LocalSource : public FileSource {
public:
    const char* Name() const override { return kLocalSourceName; }
    // The folder's entries as the directory reader gives them, "." and
    // volume labels left out, ".." kept, each with its description from the
    // folder's DESCRIPT.ION. A folder that cannot be opened lists nothing.
    void List(const PanePlace& place, ListSink& sink, const CancelToken& cancel) const override;
    Capabilities Can(const PanePlace& place) const override;

    // The engine that copies, moves, deletes and renames on the disk.
    static std::unique_ptr<ShellFileOperation> CreateOperation(OperationUi& ui);
};

} // namespace tarnel
