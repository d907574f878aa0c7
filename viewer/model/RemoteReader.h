#pragma once
// Remote files for the viewer: read a range at a time over the host's shared
// connection, so that a huge file shows its first screen at once and only
// the parts looked at ever cross the network. Every call here may wait for
// the server (cut after the connection's answer timeout): workers only.
#include "platform/ssh/SftpUrl.h"
#include "platform/ssh/SshConnection.h"
#include "viewer/model/RangeReader.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

namespace tarnel {

class SshQuestions;
class TextFile;

class RemoteReader final : public RangeReader {
public:
    // questions: who a connection made again asks (null: nobody).
    explicit RemoteReader(SftpUrl url, std::shared_ptr<SshQuestions> questions = nullptr);
    size_t ReadAt(int64_t offset, void* buffer, size_t size) const override;
    std::string Failure() const override;
    bool Remote() const override { return true; }
    // Bytes that came from the server so far.
    uint64_t BytesFetched() const { return fetched_.load(); }
    const SftpUrl& Url() const { return url_; }

private:
    SftpUrl url_;
    std::shared_ptr<SshConnection> connection_;
    std::shared_ptr<SshQuestions> questions_;
    mutable std::mutex mutex_;
    mutable std::string failure_;
    mutable std::atomic<uint64_t> fetched_{0};
};

// The facts of the remote file at address (sftp://...), following a link;
// a failure's text, or "" when entry was filled.
std::string StatRemote(const std::string& address, RemoteEntry& entry,
                       std::shared_ptr<SshQuestions> questions = nullptr);

// What the text view reads with a remote file when it opens it: one round of
// a few requests, not the local file's several screens.
constexpr int64_t kRemoteHeadBytes = int64_t(256) << 10;

// Opens path for the viewer: a remote address through a RemoteReader (its
// size asked of the server, at most kRemoteHeadBytes read ahead), any other
// path as a regular file of this machine. error says why a remote one failed.
bool OpenForViewing(TextFile& file, const std::string& path, int64_t headBytes, std::string& error);

} // namespace tarnel
