#pragma once
// The icon thread's view of the MIME database and the icon cache.
#include "panes/PaneWorkers.h"

#include <QMimeDatabase>
#include <QMimeType>
#include <QObject>

#include <memory>
#include <string>

namespace tarnel {

// The icon thread's answers: drives by their type, directories and ".." a
// folder, files by their name alone, as a provisional key (negative: the
// file is looked at once its row shows, see ContentLooks). Nothing is asked
// of the file system, so a listing of 100,000 files costs no file access.
// Thread-safe: QMimeDatabase and the icon cache lock for themselves.
class MimeIconResolver : public IconResolver {
public:
    static constexpr int kSniffBytes = 4096;

    int IconKeyFor(FileKind kind, const std::string& fullPath, const Volume* drive) override;
    // Names looked up in the MIME database so far, by every resolver: a name
    // answered once (for one pane) is not looked up again (for the other).
    static int NameLookups();

    // A node that is no regular file by its type ("inode/fifo" and the like);
    // otherwise by name, and by at most kSniffBytes of content when the name
    // gives the default type. A link counts as what it points to.
    QMimeType TypeOfFile(const std::string& fullPath) const;

private:
    QMimeDatabase mimeTypes_;
};

// Looks at the files whose rows show, on workers: what they are (a fifo
// named "x.txt" is a fifo) and, when the name says nothing, their first bytes.
// The answers are shared by every pane, so two panes on one folder look once.
class ContentLooks : public QObject {
    Q_OBJECT
public:
    static constexpr size_t kMaxQueued = 256; // rows scrolled past long ago are dropped
    static constexpr int kMaxWorkers = 3;

    static ContentLooks& Instance(); // made on the main thread

    // Never waits. The icon key found for the file as it was listed (size and
    // time), or 0 while there is none: then a look is queued, newest first,
    // and answered() follows once it is done.
    int KeyFor(const std::string& fullPath, int64_t size, int32_t time);
    int LooksDone() const; // for tests

signals:
    void answered();

private:
    ContentLooks();
    struct State;
    std::shared_ptr<State> state_; // shared with workers that may outlive a look's asker
};

} // namespace tarnel
