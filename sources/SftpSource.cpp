#include "sources/SftpSource.h"

#include "panes/FileData.h"
#include "platform/DirectoryReader.h"
#include "platform/ssh/SshConnection.h"

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

Capabilities SftpSource::Can(const PanePlace&) const { return {}; }

} // namespace tarnel
