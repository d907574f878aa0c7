#pragma once
// Writing new contents into a user's existing file the way writing it would:
// the same inode, so owner, group, mode, extended attributes and every hard
// link stay as they are. The new contents go to a synced copy first, so that a
// crash or a full disk in the middle leaves them on disk even when the file
// itself is left half written.
#include <cstdint>
#include <string>

#include <sys/stat.h>
#include <sys/types.h>

namespace tarnel {

// What tells that a file is still the one that was read.
struct FileStamp {
    dev_t dev = 0;
    ino_t ino = 0;
    int64_t size = -1;
    int64_t mtimeSec = 0;
    int64_t mtimeNsec = 0;
    bool operator==(const FileStamp&) const = default;
};

// The stamp of what was looked at.
FileStamp StampFrom(const struct stat& st);

// The stamp of what path names (links followed); false when it cannot be
// looked at.
bool StampOf(const std::string& path, FileStamp& stamp);

enum class RewriteStatus {
    Written,
    ReadOnly,   // the owner has no write permission (the read-only attribute)
    NotAllowed, // the system refuses to open it for writing
    Changed,    // not the file the caller read: another program changed it
    NotRegular, // a directory, fifo or device
    Failed,     // nothing written: error says why
    Incomplete, // the file may be half written; keptCopy holds the new contents
};

struct RewriteResult {
    RewriteStatus status = RewriteStatus::Failed;
    std::string error;    // the system's words for a failure
    std::string keptCopy; // with Incomplete: where the new contents are
};

// Replaces the contents of path (links followed) with data. With expected,
// a file whose stamp differs is left alone (Changed). A name with no file
// behind it gets a new file, which appears whole or not at all.
// The synced copy is made beside the file, or in the user's state directory
// ($XDG_STATE_HOME/tarnel, else ~/.local/state/tarnel) when the folder cannot
// take it; it is removed once the file is written and synced.
RewriteResult RewriteFile(const std::string& path, const std::string& data, const FileStamp* expected = nullptr);

// A new file beside path (links not followed) under the hidden name the
// synced copies take, so that one left by a crash is known for what it is;
// created with O_EXCL and mode. The descriptor, or -1 with errno set.
int CreateBeside(const std::string& path, mode_t mode, std::string& name);

// Makes a new name or a rename in the folder holding path last.
void SyncFolderOf(const std::string& path);

// Where copies go when a file's folder cannot take them.
std::string RewriteSpareDir();

} // namespace tarnel
