#pragma once
// The icon thread's view of the MIME database and the icon cache.
#include "panes/PaneWorkers.h"

#include <QMimeDatabase>
#include <QMimeType>

#include <string>

namespace tarnel {

// Drives by their type, directories and ".." a folder; fifos, devices and
// sockets by their type, never opened; regular files by the MIME type of their
// name and, only when the name says nothing, of their first bytes.
// Thread-safe: QMimeDatabase and the icon cache lock for themselves.
class MimeIconResolver : public IconResolver {
public:
    static constexpr int kSniffBytes = 4096;

    int IconKeyFor(FileKind kind, const std::string& fullPath, const Volume* drive) override;

    // A node that is no regular file by its type ("inode/fifo" and the like);
    // otherwise by name, and by at most kSniffBytes of content when the name
    // gives the default type. A link counts as what it points to.
    QMimeType TypeOfFile(const std::string& fullPath) const;

private:
    QMimeDatabase mimeTypes_;
};

} // namespace tarnel
