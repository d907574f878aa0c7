#pragma once
// The sources a pane's places lie in, by name.
#include "sources/FileSource.h"

#include <map>
#include <memory>
#include <string>

namespace tarnel {

class LocalSource;
class ZipSource;

struct SourceTable {
    std::shared_ptr<FileSource> local;
    std::shared_ptr<FileSource> zip;
    // The sources places name by PanePlace::SourceName ("archive", "search",
    // "sftp"), by that name.
    std::map<std::string, std::shared_ptr<FileSource>, std::less<>> named;

    // The source the place names; never null: a place whose source is not
    // in the table lists nothing and says so.
    const std::shared_ptr<FileSource>& For(const PanePlace& place) const;
    Capabilities Can(const PanePlace& place) const { return For(place)->Can(place); }
    // The source that runs the file command code on the entries of from,
    // with to as the other side: from's own source when it runs it, else
    // to's (files copied into it); null when the disk engine does.
    const FileSource* OperationRunner(int code, const PanePlace& from, const PanePlace& to) const;
};

// A disk source, an archive source and a remote one with no file
// operations, asking nobody anything: what a
// pane without a window (the command-line listing, tests) reads through.
std::shared_ptr<const SourceTable> DefaultSources();

} // namespace tarnel
