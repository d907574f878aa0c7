#pragma once
// The icon thread's view of the MIME database and the icon cache.
#include "panes/PaneWorkers.h"

#include <QMimeDatabase>
#include <QMimeType>

#include <string>

namespace tarnel {

// Drives by their type, directories and ".." a folder, files by the MIME type
// of their name and, only when the name says nothing, of their first bytes.
// Thread-safe: QMimeDatabase and the icon cache lock for themselves.
class MimeIconResolver : public IconResolver {
public:
    static constexpr int kSniffBytes = 4096;

    int IconKeyFor(FileKind kind, const std::string& fullPath, const Volume* drive) override;

    // By name; by at most kSniffBytes of content when the name gives the
    // default type. Only regular files are read, and links are not followed.
    QMimeType TypeOfFile(const std::string& fullPath) const;

private:
    QMimeDatabase mimeTypes_;
};

} // namespace tarnel
