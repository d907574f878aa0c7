#pragma once
// The sources a pane's places lie in, by name.
#include "sources/FileSource.h"

#include <memory>

namespace tarnel {

class LocalSource;
class ZipSource;

struct SourceTable {
    std::shared_ptr<FileSource> local;
    std::shared_ptr<FileSource> zip;

    // The source the place names; never null.
    const std::shared_ptr<FileSource>& For(const PanePlace& place) const;
    Capabilities Can(const PanePlace& place) const { return For(place)->Can(place); }
};

// A disk source and an archive source with no file operations: what a
// pane without a window (the command-line listing, tests) reads through.
std::shared_ptr<const SourceTable> DefaultSources();

} // namespace tarnel
