#pragma once
// Folders of remote machines, over SFTP: places sftp://[user@]host[:port]/path.
#include "sources/FileSource.h"

#include <memory>

namespace tarnel {

class Operation;
class SshQuestions;

class SftpSource : public FileSource {
public:
    // questions: who is asked for passwords, passphrases and unknown host
    // keys while a listing connects; null asks nobody (an unknown host is
    // refused, only the agent and unprotected keys log in).
    explicit SftpSource(std::shared_ptr<SshQuestions> questions = nullptr);
    const char* Name() const override { return kSftpSourceName; }
    // The folder's entries as the server gives them, "." left out; a link
    // to a folder is a folder. A place that cannot be reached lists nothing
    // and says why.
    void List(const PanePlace& place, ListSink& sink, const CancelToken& cancel) const override;
    Capabilities Can(const PanePlace& place) const override;

    // Copies out of a remote place into a folder of the disk and into one
    // from the disk, and deletes in one. A file appears under its name only
    // whole: it is written under a temporary name beside it and renamed.
    bool RunsOperation(int code, const PanePlace& from, const PanePlace& to) const override;
    std::unique_ptr<SourceOperation> OperationFor(int code, const PanePlace& from, const PanePlace& to,
                                                  SourceOperationUi& ui,
                                                  const SourceOperationOptions& options) const override;

    // The operation that makes the folder name in the remote place; it
    // fails when the folder cannot be made (or is there already).
    std::shared_ptr<Operation> MakeFolderOperation(const PanePlace& place, const std::string& name) const;

private:
    std::shared_ptr<SshQuestions> questions_;
};

} // namespace tarnel
