#include "sources/LocalSource.h"

#include "descriptions/Descriptions.h"
#include "panes/FileData.h"
#include "panes/PathUtil.h"
#include "platform/DirectoryReader.h"
#include "platform/ShellFileOperation.h"

namespace tarnel {

void LocalSource::List(const PanePlace& place, ListSink& sink, const CancelToken& cancel) const
{
    std::vector<SourceEntry> chunk;
    chunk.reserve(kChunkSize);
    const std::string dir = AddPathDelimiter(place.Path);
    // The folder's descriptions come from the names the reader has already
    // read, before any entry is passed on.
    DescriptionList descriptions;
    const auto describe = [&](const DirectoryNames& names) {
        if (!cancel.Cancelled())
            LoadDescriptionsAmong(dir, names, descriptions);
    };
    // The reader has no way to stop early: once cancelled, entries are
    // passed over rather than kept.
    ReadDirectoryEntries(dir, describe, [&](DirectoryEntry&& found) {
        if (cancel.Cancelled() || found.name == ".")
            return;
        if (!(found.attr & faDirectory) && (found.attr & faVolumeID))
            return;
        SourceEntry& e = chunk.emplace_back();
        e.kind = (found.attr & faDirectory) ? fkDirectory : fkFile;
        e.name = std::move(found.name);
        e.attr = found.attr;
        e.time = int32_t(found.dosTime);
        e.size = found.size;
        if (!descriptions.Empty())
            if (const std::string* text = descriptions.Find(e.name))
                e.description = *text;
        if (chunk.size() == kChunkSize) {
            sink.Chunk(std::move(chunk));
            chunk.clear();
            chunk.reserve(kChunkSize);
        }
    });
    if (!chunk.empty() && !cancel.Cancelled())
        sink.Chunk(std::move(chunk));
}

Capabilities LocalSource::Can(const PanePlace&) const
{
    return {Capability::CopyIn,     Capability::CopyOut,    Capability::Delete,   Capability::Rename,
            Capability::MakeFolder, Capability::OpenMember, Capability::DiskPaths};
}

std::unique_ptr<ShellFileOperation> LocalSource::CreateOperation(OperationUi& ui)
{
    return std::make_unique<ShellFileOperation>(ui);
}

} // namespace tarnel
