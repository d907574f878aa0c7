#pragma once
// Folders of remote machines, over SFTP: places sftp://[user@]host[:port]/path.
#include "descriptions/Descriptions.h"
#include "platform/ssh/SshConnection.h"
#include "sources/FileSource.h"

#include <cstdint>
#include <memory>
#include <string>

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

    // Copies and moves between a remote place and a folder of the disk or
    // another remote place, and renames and deletes in one. A file appears
    // under its name only whole: it is written under a temporary name beside
    // it and renamed.
    bool RunsOperation(int code, const PanePlace& from, const PanePlace& to) const override;
    std::unique_ptr<SourceOperation> OperationFor(int code, const PanePlace& from, const PanePlace& to,
                                                  SourceOperationUi& ui,
                                                  const SourceOperationOptions& options) const override;

    // The operation that makes the folder name in the remote place; it
    // fails when the folder cannot be made (or is there already).
    std::shared_ptr<Operation> MakeFolderOperation(const PanePlace& place, const std::string& name) const;

    // The commands on one entry of a remote place, named by its address
    // (sftp://host/folder/name). Each waits on the server: they run on
    // workers, never on the window's thread.

    // The entry's description in its folder's DESCRIPT.ION; exists is false
    // when the entry has gone.
    RemoteError ReadDescription(const std::string& path, bool& exists, std::string& description) const;
    // Sets the entry's description: the folder's DESCRIPT.ION is written
    // whole under a hidden name beside it and renamed over the old one, with
    // the old one's permissions. On failure the old file stays as it was.
    // result says what the descriptions' own rules made of it (a name no
    // line can carry, a file too large to rewrite).
    RemoteError WriteDescription(const std::string& path, const std::string& description,
                                 WriteDescriptionResult& result) const;

    struct FolderTotal {
        uint64_t bytes = 0;
        uint64_t files = 0;
        uint64_t folders = 0;
    };
    // Every file below the folder at path, summed over the connection. A
    // link is counted as itself, never followed into a folder.
    RemoteError TotalOf(const std::string& path, FolderTotal& total, const CancelToken& cancel) const;

    // What the server says of the entry itself (a link not followed), and
    // what a link holds.
    RemoteError FactsOf(const std::string& path, RemoteEntry& entry, std::string& linkTarget) const;
    // The permission bits of the entry become (current & keep) | set, taken
    // against what it has now; now holds the bits it has afterwards.
    RemoteError ChangePermissions(const std::string& path, uint32_t keep, uint32_t set, uint32_t& now) const;

private:
    std::shared_ptr<SshQuestions> questions_;
};

} // namespace tarnel
