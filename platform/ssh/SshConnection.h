#pragma once
// Connections to remote machines over SSH, with an SFTP session on each.
// One connection per [user@]host[:port] as the user wrote it, made on first
// use with the user's ~/.ssh/config, agent, key files and known_hosts, kept
// and reused, and made again when it has broken. A libssh session serves
// one thread at a time: callers of one connection take turns.
//
// No call waits forever: a connection that gets no answer for
// AnswerTimeout() is cut (its socket shut down under the waiting call) and
// the call fails with "... is not answering".
#include "platform/ssh/SftpUrl.h"
#include "platform/ssh/SshQuestions.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tarnel {

// One entry of a remote folder.
struct RemoteEntry {
    std::string name;         // raw bytes
    uint64_t size = 0;
    int64_t mtime = 0;        // seconds since the epoch
    uint32_t permissions = 0; // the mode's permission bits
    bool directory = false;   // a folder, or a link to one
    bool link = false;
    uint32_t uid = 0, gid = 0; // as the server numbers them
    int64_t atime = 0;
};

// What a remote call went wrong with; empty when it went well.
struct RemoteError {
    std::string text;
    bool notAnswering = false; // the server stopped answering (the call was cut)
    bool lost = false;         // the connection is gone (made again on next use)
    bool stopped = false;      // the caller's progress callback asked to stop
    std::string keptAs = {};   // a replaced file could not be put back: where it is now
    explicit operator bool() const { return !text.empty(); }
};

class SshConnection;

// The file calls of a connection, valid only inside SshConnection::Use.
class RemoteFiles {
public:
    // Lists the folder at path in chunks of at most chunkSize; "." is left
    // out. onChunk returns false to stop early (the listing was abandoned).
    RemoteError List(const std::string& path, size_t chunkSize,
                     const std::function<bool(std::vector<RemoteEntry>&&)>& onChunk);
    RemoteError Stat(const std::string& path, RemoteEntry& entry);
    // The server's absolute form of path ("." is the login folder).
    RemoteError RealPath(const std::string& path, std::string& real);
    // Does path exist? (nothing there is no error; entry is filled when it does).
    RemoteError Exists(const std::string& path, bool& exists, RemoteEntry& entry);

    // Told the bytes moved so far; returns false to stop the transfer, which
    // then fails with stopped set.
    using Moved = std::function<bool(uint64_t)>;
    // Copies the remote file at path into fd.
    RemoteError Download(const std::string& path, int fd, const Moved& moved);
    // Writes fd into a new remote file at path (refused when one is there),
    // with mode and the modification time mtime (when not 0).
    RemoteError Upload(int fd, const std::string& path, uint32_t mode, int64_t mtime, const Moved& moved);
    // Up to length bytes of the remote file at path from offset; fewer at
    // its end. Nothing else of the file is read.
    RemoteError ReadAt(const std::string& path, uint64_t offset, size_t length, std::string& out);
    // Sets the permission bits (07777) of path.
    RemoteError SetPermissions(const std::string& path, uint32_t permissions);
    // What the link at path holds.
    RemoteError ReadLink(const std::string& path, std::string& target);
    // Renames, replacing what is at to where the server can do that in one
    // step (posix-rename); elsewhere a file at to makes it fail.
    RemoteError Rename(const std::string& from, const std::string& to);
    RemoteError Remove(const std::string& path, bool folder);
    // Puts the file at part in the place of the one at target. The server's
    // rename keeps what is at its target (libssh offers no posix-rename), so
    // the old file steps aside to aside first and goes once the new one is
    // in: for a moment the name is empty, never half-written. When the old
    // file cannot be put back after a failure, the error says where it is.
    RemoteError Replace(const std::string& part, const std::string& target, const std::string& aside);
    RemoteError MakeFolder(const std::string& path, uint32_t mode);

    // Stops the clock while the user is asked something between calls.
    void Asking(bool asking);

private:
    friend class SshConnection;
    explicit RemoteFiles(SshConnection& connection) : connection_(connection) {}
    SshConnection& connection_;
};

class SshConnection {
public:
    ~SshConnection();
    SshConnection(const SshConnection&) = delete;
    SshConnection& operator=(const SshConnection&) = delete;

    // The shared connection to url's [user@]host[:port].
    static std::shared_ptr<SshConnection> For(const SftpUrl& url);
    // A second shared connection to the same place for file operations: a
    // long copy holds it for minutes, and the panes' listings of that host
    // must not wait behind it.
    static std::shared_ptr<SshConnection> ForTransfers(const SftpUrl& url);

    // Runs work with the connection's file session, connecting first (and
    // asking questions) when there is none. A connection that has broken
    // since its last use is made again once and work run on the new one, so
    // work must be fit to run twice. Not re-entrant: work must not Use the
    // same connection again (it would wait for itself).
    RemoteError Use(SshQuestions& questions, const std::function<RemoteError(RemoteFiles&)>& work);
    // Drops the session (the next Use connects again).
    void Disconnect();
    bool Connected() const;
    // Drops every connection's session (waiting for calls in progress).
    static void DisconnectAll();

    // How long a call may go without an answer: short enough that a pane
    // says "not answering" well within ten seconds.
    static constexpr std::chrono::milliseconds kDefaultAnswerTimeout{6000};
    // For tests.
    static std::chrono::milliseconds AnswerTimeout();
    static void SetAnswerTimeout(std::chrono::milliseconds timeout);

    struct Impl;

private:
    explicit SshConnection(std::string key, SftpUrl endpoint);
    static std::shared_ptr<SshConnection> Pooled(const SftpUrl& url, const char* purpose);
    friend class RemoteFiles;
    friend struct ConnectionPool;
    std::unique_ptr<Impl> impl_;
};

// The folder that holds the user's OpenSSH files: $HOME/.ssh.
std::string UserSshDir();

} // namespace tarnel
