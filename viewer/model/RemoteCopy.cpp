#include "viewer/model/RemoteCopy.h"

#include "platform/RegularFile.h"
#include "platform/TempDir.h"
#include "platform/ssh/SftpUrl.h"
#include "platform/ssh/SshQuestions.h"
#include "viewer/model/ZipMemberCopy.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnel {

namespace {

// Progress is told with the clock stopped: a paused operation waits in
// there, and the server is not the one that is silent.
template <class Tell>
bool Told(RemoteFiles& files, Tell&& tell)
{
    files.Asking(true);
    const bool goOn = tell();
    files.Asking(false);
    return goOn;
}

std::shared_ptr<SshQuestions> OrNobody(const std::shared_ptr<SshQuestions>& questions)
{
    return questions ? questions : std::make_shared<NoSshQuestions>();
}

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Megabytes(uint64_t bytes) { return std::to_string(bytes >> 20) + " MB"; }

// FNV-1a over the file's bytes; 0 with ok false when it cannot be read.
uint64_t Checksum(const std::string& path, bool& ok)
{
    ok = false;
    const int fd = OpenRegularFileForReading(path);
    if (fd < 0)
        return 0;
    uint64_t hash = 1469598103934665603ull;
    std::vector<unsigned char> buffer(size_t(1) << 16);
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            return 0;
        }
        if (n == 0)
            break;
        for (ssize_t i = 0; i < n; ++i)
            hash = (hash ^ buffer[size_t(i)]) * 1099511628211ull;
    }
    ::close(fd);
    ok = true;
    return hash;
}

// The name a file is sent under until it is whole: hidden, beside its final
// name, never one that is there already.
std::string PartName(const std::string& name)
{
    static std::atomic<unsigned> counter{0};
    return "." + name + ".part-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
}

std::string Joined(const std::string& folder, const std::string& name)
{
    return folder.empty() || folder.back() != '/' ? folder + "/" + name : folder + name;
}

} // namespace

std::string DownloadRemoteFile(const std::string& address, const std::string& target, uint64_t maxBytes,
                               const CopyProgress& progress, RemoteEntry& remote,
                               const std::shared_ptr<SshQuestions>& questions)
{
    const std::optional<SftpUrl> url = SftpUrl::Parse(address);
    if (!url)
        return address + " is not a remote file's address";
    // A short fixed prefix: a target name of any length still leaves room.
    const std::string part = MakeTempFileIn(FolderOf(target), ".tarnel-part-");
    if (part.empty())
        return "No copy can be made in " + FolderOf(target) + ": " + std::strerror(errno);
    const int fd = ::open(part.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        ::unlink(part.c_str());
        return "No copy can be made in " + FolderOf(target) + ": " + std::strerror(errno);
    }
    const RemoteError error = SshConnection::For(*url)->Use(*OrNobody(questions), [&](RemoteFiles& files) -> RemoteError {
        if (RemoteError stat = files.Stat(url->path, remote))
            return stat;
        if (remote.directory)
            return {address + " is a folder."};
        if (remote.size > maxBytes)
            return {NameOf(url->path) + " is larger than " + Megabytes(maxBytes) +
                    ": copy it to this machine to look at it."};
        return files.Download(url->path, fd, [&](uint64_t done) {
            if (done > maxBytes)
                return false;
            return !progress || Told(files, [&] { return progress(done, remote.size); });
        });
    });
    const bool closed = ::close(fd) == 0;
    std::string failure = error ? (error.stopped ? std::string("The copy was stopped.") : error.text) : std::string();
    if (failure.empty() && !closed)
        failure = std::string("The copy could not be written: ") + std::strerror(errno);
    if (failure.empty() && ::rename(part.c_str(), target.c_str()) != 0)
        failure = std::string("The copy could not be named: ") + std::strerror(errno);
    if (!failure.empty())
        ::unlink(part.c_str());
    return failure;
}

std::string CopyRemoteForViewing(const std::string& address, const std::string& name, uint64_t maxBytes,
                                 const std::atomic<bool>& stop, std::string& error)
{
    // A name that climbs out of the folder must never name the copy.
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") {
        error = "No copy is made of " + name;
        return {};
    }
    const std::string dir = MemberCopyDirectory("vw", error);
    if (dir.empty())
        return {};
    RemoteEntry remote;
    error = DownloadRemoteFile(address, dir + name, maxBytes, [&](uint64_t, uint64_t) { return !stop.load(); }, remote);
    return error.empty() ? dir + name : std::string();
}

std::string MakeOpenedCopyFolder(std::string& error)
{
    const std::string dir = MemberCopyDirectory("rm", error);
    if (dir.empty())
        return {};
    std::string pattern = dir + "XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        error = std::strerror(errno);
        return {};
    }
    return pattern + "/";
}

bool TakeCopyStamp(RemoteCopy& copy)
{
    FileStamp stamp;
    bool read = false;
    if (!StampOf(copy.local, stamp))
        return false;
    const uint64_t content = Checksum(copy.local, read);
    if (!read)
        return false;
    copy.copy = stamp;
    copy.content = content;
    return true;
}

bool CopyStampChanged(const RemoteCopy& copy)
{
    FileStamp now;
    return StampOf(copy.local, now) && !(now == copy.copy);
}

WriteBackResult WriteRemoteCopyBack(RemoteCopy& copy, bool overwrite, const CopyProgress& progress,
                                    const std::shared_ptr<SshQuestions>& questions)
{
    WriteBackResult result;
    const std::optional<SftpUrl> url = SftpUrl::Parse(copy.address);
    if (!url) {
        result.error = copy.address + " is not a remote file's address";
        return result;
    }
    FileStamp before;
    bool read = false;
    const uint64_t content = StampOf(copy.local, before) ? Checksum(copy.local, read) : 0;
    if (!read) {
        result.error = "The copy " + copy.local + " cannot be read.";
        return result;
    }
    if (content == copy.content && before.size == copy.copy.size) {
        copy.copy = before; // saved as it was: nothing to send
        result.outcome = WriteBackOutcome::Unchanged;
        return result;
    }
    const int fd = OpenRegularFileForReading(copy.local);
    if (fd < 0) {
        result.error = "The copy " + copy.local + " cannot be read.";
        return result;
    }
    RemoteStamp written;
    bool changed = false;
    const RemoteError error = SshConnection::For(*url)->Use(*OrNobody(questions), [&](RemoteFiles& files) -> RemoteError {
        std::string target = url->path;
        bool exists = false;
        RemoteEntry entry;
        if (RemoteError look = files.Exists(target, exists, entry))
            return look;
        if (exists && entry.link) {
            // A link stays a link: the file it leads to is the one replaced.
            if (RemoteError real = files.RealPath(target, target))
                return real;
            if (RemoteError stat = files.Stat(target, entry))
                return stat;
        }
        if (exists && entry.directory)
            return {copy.address + " is a folder now."};
        if (!overwrite && (!exists || !(StampOfRemote(entry) == copy.remote))) {
            changed = true;
            return {};
        }
        const std::string folder = FolderOf(target);
        const std::string part = Joined(folder, PartName(NameOf(target)));
        const uint32_t mode = exists ? entry.permissions & 07777 : 0644;
        RemoteError sent = files.Upload(fd, part, mode, 0, [&](uint64_t done) {
            return !progress ||
                   Told(files, [&] { return progress(done, uint64_t(std::max<int64_t>(before.size, 0))); });
        });
        // A copy saved again while it was sent went half old, half new.
        FileStamp after;
        if (!sent && (!StampOf(copy.local, after) || !(after == before)))
            sent = {"The copy changed while it was written back; write it back again."};
        if (!sent && exists) {
            // The server's rename keeps what is at the target: the old file
            // steps aside under a hidden name, the new one takes its place.
            sent = files.Replace(part, target, Joined(folder, PartName(NameOf(target)) + ".old"));
        } else if (!sent) {
            sent = files.Rename(part, target);
        }
        if (sent) {
            if (!sent.lost)
                files.Remove(part, false); // nothing half-made stays where it can be reached
            return sent;
        }
        RemoteEntry now;
        if (!files.Stat(target, now))
            written = StampOfRemote(now);
        return {};
    });
    ::close(fd);
    if (error) {
        result.error = error.stopped ? std::string("The write-back was stopped.") : error.text;
        return result;
    }
    if (changed) {
        result.outcome = WriteBackOutcome::RemoteChanged;
        return result;
    }
    copy.remote = written;
    copy.copy = before;
    copy.content = content;
    result.outcome = WriteBackOutcome::Written;
    return result;
}

} // namespace tarnel
