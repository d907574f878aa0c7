#pragma once
// The file commands on remote places: copies and moves between the disk and
// a remote place or between two remote places, deletes and renames in one.
// A file appears under its name only whole: it is written under a temporary
// name beside it and renamed. A move removes a source only once its copy is
// whole and the source is still as it was when the copy began.
#include "sources/FileSource.h"

#include <memory>
#include <string>

namespace tarnel {

class SshQuestions;

bool IsRemotePlace(const PanePlace& place);
bool IsLocalPlace(const PanePlace& place);
// folder + "/" + name, with one slash between them.
std::string RemoteJoined(const std::string& folder, const std::string& name);

// The operation for code (a FileOperationCode) from one place to another,
// one of them remote; questions are who a connection asks. newName is what
// a rename gives the one selected entry.
std::unique_ptr<SourceOperation> MakeSftpOperation(int code, const PanePlace& from, const PanePlace& to,
                                                   SourceOperationUi& ui, std::shared_ptr<SshQuestions> questions,
                                                   std::string newName = {});

} // namespace tarnel
