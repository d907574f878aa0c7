#pragma once
// A file command a source runs itself (an archive's extract, add, delete),
// carried by an operation: its messages and questions go through the
// operation's delegate, the library's notes land in the progress snapshot.
#include "fileops/model/Operation.h"
#include "sources/FileSource.h"

#include <functional>
#include <memory>
#include <vector>

namespace tarnel {

// The operation runs what make builds (on the calling thread, from the
// window's sources) over rows; result receives what it changed. Null when
// make gives nothing.
std::shared_ptr<Operation> MakeSourceOperation(
    OperationKind kind, std::string title,
    const std::function<std::unique_ptr<SourceOperation>(SourceOperationUi& ui)>& make, std::vector<SourceRow> rows,
    std::shared_ptr<SourceOperationResult> result);

} // namespace tarnel
