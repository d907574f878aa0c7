#pragma once
// The file commands on remote places: copies between the disk and a remote
// place, deletes in one. A file appears under its name only whole: it is
// written under a temporary name beside it and renamed.
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
// one of them remote; questions are who a connection asks.
std::unique_ptr<SourceOperation> MakeSftpOperation(int code, const PanePlace& from, const PanePlace& to,
                                                   SourceOperationUi& ui, std::shared_ptr<SshQuestions> questions);

} // namespace tarnel
