#include "sources/SftpSource.h"

#include "fileops/model/Operation.h"
#include "panes/FileData.h"
#include "platform/DirectoryReader.h"
#include "platform/RegularFile.h"
#include "platform/ShellFileOperation.h"
#include "platform/ssh/SshConnection.h"
#include "sources/sftp/SftpOperations.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnel {

namespace {

SourceEntry ToSourceEntry(RemoteEntry&& remote)
{
    SourceEntry e;
    e.kind = remote.directory ? fkDirectory : fkFile;
    e.attr = remote.directory ? uint32_t(faDirectory) : 0u;
    if (!(remote.permissions & 0200))
        e.attr |= faReadOnly;
    if (remote.name.size() > 1 && remote.name[0] == '.' && remote.name != "..")
        e.attr |= faHidden;
    e.time = int32_t(DosTimeFromUnix(remote.mtime));
    e.size = remote.directory ? 0 : int64_t(remote.size);
    e.name = std::move(remote.name);
    return e;
}

} // namespace

SftpSource::SftpSource(std::shared_ptr<SshQuestions> questions)
    : questions_(questions ? std::move(questions) : std::make_shared<NoSshQuestions>())
{
}

void SftpSource::List(const PanePlace& place, ListSink& sink, const CancelToken& cancel) const
{
    const std::optional<SftpUrl> url = SftpUrl::Parse(place.Path);
    if (!url) {
        sink.Problem(place.Path + " is not a remote folder's address: sftp://[user@]host[:port]/folder");
        return;
    }
    const RemoteError error = SshConnection::For(*url)->Use(*questions_, [&](RemoteFiles& files) {
        return files.List(url->path, kChunkSize, [&](std::vector<RemoteEntry>&& remote) {
            if (cancel.Cancelled())
                return false;
            std::vector<SourceEntry> chunk;
            chunk.reserve(remote.size());
            for (RemoteEntry& entry : remote)
                if (entry.name != ".." || url->path != "/") // the disk's root has none either
                    chunk.push_back(ToSourceEntry(std::move(entry)));
            sink.Chunk(std::move(chunk));
            return true;
        });
    });
    if (error && !cancel.Cancelled())
        sink.Problem(error.text);
}

Capabilities SftpSource::Can(const PanePlace&) const
{
    return {Capability::CopyIn, Capability::CopyOut, Capability::Delete, Capability::OpenMember};
}

std::shared_ptr<Operation> SftpSource::MakeFolderOperation(const PanePlace& place, const std::string& name) const
{
    const std::string path = RemoteJoined(place.Path, name);
    return std::make_shared<Operation>(
        OperationKind::MakeFolder, "New folder " + path, [path, questions = questions_](Operation& op) {
            op.Report(0, 1, 0, 0, path);
            const std::optional<SftpUrl> url = SftpUrl::Parse(path);
            if (!url)
                return OperationState::Failed;
            const RemoteError error = SshConnection::For(*url)->Use(
                *questions, [&](RemoteFiles& files) { return files.MakeFolder(url->path, 0777); });
            if (error)
                return OperationState::Failed; // whoever started it says so, with the name it was given
            op.Report(1, 1, 0, 0, path);
            return OperationState::Done;
        });
}

bool SftpSource::RunsOperation(int code, const PanePlace& from, const PanePlace& to) const
{
    // A rename here must never reach the disk engine, which would take the
    // address for a path of this machine.
    if (code == FO_DELETE || code == FO_RENAME)
        return IsRemotePlace(from);
    if (code != FO_COPY && code != FO_MOVE)
        return false;
    return (IsRemotePlace(from) && (IsLocalPlace(to) || IsRemotePlace(to))) || (IsLocalPlace(from) && IsRemotePlace(to));
}

std::unique_ptr<SourceOperation> SftpSource::OperationFor(int code, const PanePlace& from, const PanePlace& to,
                                                          SourceOperationUi& ui, const SourceOperationOptions&) const
{
    if (!RunsOperation(code, from, to))
        return nullptr;
    return MakeSftpOperation(code, from, to, ui, questions_);
}

} // namespace tarnel
