#pragma once
// Copy, move, delete and rename over a selection of paths, as the pane commands
// run them. Questions and progress go through OperationUi (the window shows
// dialogs, tests answer), every system call through FileSystem.
//
// What the user had is never lost: every new file is written under a temporary
// name, synced, and only then renamed to its name (over the old one when
// replacing); trees are walked by descriptor, so a folder swapped for a link
// meanwhile never leads outside the selection; a move across volumes deletes
// each source only after its copy is on disk, and only while it is still the
// version that was copied; delete goes to the trash and asks before anything
// is deleted for good; a failed or cancelled copy removes only what it created.
#include "platform/FileSystem.h"

#include <cstdint>
#include <string>
#include <vector>

namespace tarnel {

// The pane commands' operation codes. Properties runs no file operation; it
// shares the dispatcher with the others.
enum FileOperationCode : int { FO_MOVE = 1, FO_COPY = 2, FO_DELETE = 3, FO_RENAME = 4, FO_PROPERTIES = 170 };

// Flags as the pane commands pass them. Without FOF_ALLOWUNDO delete is
// permanent (asked per item); without FOF_NOCONFIRMMKDIR a missing target
// directory is created only after OperationUi::ConfirmCreateFolder says so.
enum FileOperationFlags : unsigned { FOF_ALLOWUNDO = 0x0040, FOF_NOCONFIRMMKDIR = 0x0200 };
constexpr unsigned kDefaultFileOperationFlags = FOF_ALLOWUNDO | FOF_NOCONFIRMMKDIR;

// SkipAll: this one and every later existing target are left alone unasked.
enum class ReplaceAnswer { Yes, YesToAll, No, Cancel, SkipAll };
enum class ErrorAnswer { Retry, Skip, Cancel };
enum class DeleteAnswer { Yes, No, Cancel };

// The two entries a replace question is about.
struct ReplaceFacts {
    uint64_t existingSize = 0, incomingSize = 0;
    int64_t existingTime = 0, incomingTime = 0; // seconds since the epoch
};

// Called on the thread that runs the operation; a window implementation
// forwards to its main thread and waits for the answer. Paths are raw bytes.
class OperationUi {
public:
    virtual ~OperationUi() = default;
    // path exists at the target (a file, or a folder to merge into).
    virtual ReplaceAnswer AskReplace(const std::string& path) = 0;
    // The same question when both entries are known; shows their sizes and times.
    virtual ReplaceAnswer AskReplaceKnown(const std::string& path, const ReplaceFacts&) { return AskReplace(path); }
    // The target folder does not exist (and the flags say to ask): make it?
    virtual bool ConfirmCreateFolder(const std::string&) { return false; }
    // what is the start of the sentence ("Cannot read", "Cannot create", ...),
    // the dialog adds the path and strerror(error).
    virtual ErrorAnswer AskError(const std::string& what, const std::string& path, int error) = 0;
    // "Are you sure you want to move N item(s) to the Trash?"
    virtual bool ConfirmTrash(size_t count) = 0;
    // path cannot go to the trash (or undo is off): delete it for good?
    virtual DeleteAnswer AskDeletePermanently(const std::string& path) = 0;
    // A complete sentence: the item it names is left alone.
    virtual void Refused(const std::string& text) = 0;
    // Called per item and per MiB copied; false cancels. Totals may grow while a
    // move finds that it has to copy. Must be cheap.
    virtual bool Progress(uint64_t itemsDone, uint64_t itemsTotal, uint64_t bytesDone, uint64_t bytesTotal,
                          const std::string& currentName) = 0;
};

// Counts are of the selected entries.
struct OperationResult {
    enum class Status {
        Done,      // every entry handled (some perhaps left alone by the user's "No")
        Cancelled, // the user cancelled; what was finished stays finished
        Failed,    // at least one entry was refused or not handled because of an error
    };
    Status status = Status::Done;
    size_t done = 0;    // fully handled
    size_t skipped = 0; // left alone by the user's answer ("No")
    size_t failed = 0;  // refused, or handled only in part
};

// Told of every selected entry that an operation finished whole, on the
// thread that runs it, and of the operation's end; what a skipped, failed or
// cancelled entry left behind is not reported.
class OperationObserver {
public:
    virtual ~OperationObserver() = default;
    // code: FO_COPY, FO_MOVE, FO_DELETE or FO_RENAME. source and target are
    // full paths without a trailing "/"; target is empty for a delete.
    virtual void EntryFinished(int code, const std::string& source, const std::string& target) = 0;
    virtual void OperationEnded() = 0;
};

class ShellFileOperation {
public:
    explicit ShellFileOperation(OperationUi& ui, FileSystem& fs = RealFileSystem());
    // Not owned; nullptr for none.
    void SetObserver(OperationObserver* observer) { observer_ = observer; }

    // sources: full paths. target: the target directory for move and copy, the
    // new full path for rename, ignored for delete.
    OperationResult Run(int code, const std::vector<std::string>& sources, const std::string& target,
                        unsigned flags = kDefaultFileOperationFlags);

private:
    OperationUi& ui_;
    FileSystem& fs_;
    OperationObserver* observer_ = nullptr;
};

// Percent-encodes a path for a .trashinfo "Path=" line: everything but ASCII
// letters, digits, "-._~" and "/" becomes %XX.
std::string TrashInfoEscape(const std::string& path);

} // namespace tarnel
