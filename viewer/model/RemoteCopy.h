#pragma once
// Local copies of remote files: the viewer's, for pages that need a whole
// file, and a program's, opened from a remote place and written back only
// when the user says so. Every call here talks to the server: workers only.
#include "platform/FileRewrite.h"
#include "platform/ssh/SshConnection.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tarnel {

class SshQuestions;

// Size and modification time of a remote file (the server gives whole
// seconds): what tells whether it changed since a copy was made from it.
struct RemoteStamp {
    int64_t size = -1;
    int64_t mtime = 0;
    bool operator==(const RemoteStamp&) const = default;
};
inline RemoteStamp StampOfRemote(const RemoteEntry& entry) { return {int64_t(entry.size), entry.mtime}; }

// Told bytes done of total; returns false to stop.
using CopyProgress = std::function<bool(uint64_t done, uint64_t total)>;

// Downloads the remote file at address (sftp://...) into target, a new file
// of this machine: written under a hidden name beside it and renamed when
// whole, so nobody ever reads half a copy. A file larger than maxBytes is
// refused before anything is read. remote gets its facts as they were
// before the copy. Returns "" or what went wrong ("" also never leaves a
// part behind).
std::string DownloadRemoteFile(const std::string& address, const std::string& target, uint64_t maxBytes,
                               const CopyProgress& progress, RemoteEntry& remote,
                               const std::shared_ptr<SshQuestions>& questions = nullptr);

// The viewer's copy of a remote file: orvtmp/vw/<name>, made unless stop is
// set meanwhile. "" with error set when none was made.
std::string CopyRemoteForViewing(const std::string& address, const std::string& name, uint64_t maxBytes,
                                 const std::atomic<bool>& stop, std::string& error);

// A copy opened with a program: where it lies, and what both sides were
// when they last agreed (the download, or the last write-back).
struct RemoteCopy {
    std::string address; // sftp://...
    std::string local;
    RemoteStamp remote; // the remote file then
    FileStamp copy;     // the local copy then
    uint64_t content = 0; // and its bytes' checksum: a copy saved unchanged is not sent
};

// Makes the copy at copy.local the agreed one: its stamp and checksum now.
bool TakeCopyStamp(RemoteCopy& copy);
// Whether the local copy's stamp differs from the agreed one (a cheap look:
// no bytes read). False when it cannot be looked at.
bool CopyStampChanged(const RemoteCopy& copy);

// A fresh private folder for one opened copy (orvtmp/rm/XXXXXX/), so that
// files of one name from two places never meet. "" with error.
std::string MakeOpenedCopyFolder(std::string& error);

enum class WriteBackOutcome { Written, Unchanged, RemoteChanged, Failed };
struct WriteBackResult {
    WriteBackOutcome outcome = WriteBackOutcome::Failed;
    std::string error;
};

// Writes the copy back over its remote file, under a hidden name beside it
// that is then renamed over it, keeping the remote permissions. Nothing is
// sent when the copy is as it was at copy.copy (Unchanged); a remote file
// no longer at copy.remote is left alone (RemoteChanged) unless overwrite.
// On Written, copy's stamps become the new agreement.
WriteBackResult WriteRemoteCopyBack(RemoteCopy& copy, bool overwrite, const CopyProgress& progress,
                                    const std::shared_ptr<SshQuestions>& questions = nullptr);

} // namespace tarnel
