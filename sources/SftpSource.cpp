#include "sources/SftpSource.h"

#include "descriptions/DescLineReader.h"
#include "fileops/model/Operation.h"
#include "panes/FileData.h"
#include "platform/DirectoryReader.h"
#include "platform/RegularFile.h"
#include "platform/ShellFileOperation.h"
#include "platform/ssh/SshConnection.h"
#include "sources/sftp/SftpOperations.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string_view>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnel {

namespace {

SourceEntry ToSourceEntry(RemoteEntry&& remote)
{
    SourceEntry e;
    e.kind = remote.directory ? fkDirectory : fkFile;
    e.attr = remote.directory ? uint32_t(faDirectory) : 0u;
    if (!(remote.permissions & 0200))
        e.attr |= faReadOnly;
    if (remote.name.size() > 1 && remote.name[0] == '.' && remote.name != "..")
        e.attr |= faHidden;
    e.time = int32_t(DosTimeFromUnix(remote.mtime));
    e.size = remote.directory ? -1 : int64_t(remote.size); // a folder has no size until it is summed
    e.name = std::move(remote.name);
    return e;
}

void Describe(std::vector<SourceEntry>& chunk, const DescriptionList& descriptions)
{
    for (SourceEntry& e : chunk)
        if (const std::string* text = descriptions.Find(e.name))
            e.description = *text;
}

// A folder's description file: where it is, or where a first write puts it.
struct RemoteDescriptionFile {
    std::string path;
    bool exists = false;
    RemoteEntry entry;
    bool Regular() const { return exists && !entry.directory && !entry.link; }
};

// DESCRIPT.ION, else the lower-case spelling other programs write; the name
// itself, never what a link there leads to.
RemoteError FindDescriptionFile(RemoteFiles& files, const std::string& folder, RemoteDescriptionFile& found)
{
    found = {};
    for (const char* name : {kDescriptionFileName, "descript.ion"}) {
        const std::string path = RemoteJoined(folder, name);
        if (RemoteError error = files.Exists(path, found.exists, found.entry))
            return error;
        if (found.exists) {
            found.path = path;
            return {};
        }
    }
    found.path = RemoteJoined(folder, kDescriptionFileName);
    return {};
}

// The file's contents up to the reader's cap and one byte beyond, which
// tells that there is more; nothing of a link or a folder.
RemoteError ReadDescriptionBytes(RemoteFiles& files, const RemoteDescriptionFile& found, std::string& bytes)
{
    bytes.clear();
    if (!found.Regular())
        return {};
    // The size the server gave is a first guess only: some give none, and
    // the file may have grown since. Reading goes on until a short read.
    const uint64_t limit = DescLineReader::kMaxFileBytes + 1;
    uint64_t want = std::min<uint64_t>(found.entry.size, DescLineReader::kMaxFileBytes) + 1;
    for (;;) {
        std::string more;
        if (RemoteError error = files.ReadAt(found.path, bytes.size(), size_t(want - bytes.size()), more))
            return error;
        const bool shortRead = more.size() < want - bytes.size();
        bytes += more;
        if (shortRead || bytes.size() >= limit)
            return {};
        want = std::min<uint64_t>(want * 2, limit);
    }
}

// Only a server that is gone or silent stops the work: a description file
// that cannot be read describes nothing.
bool Fatal(const RemoteError& error) { return error.notAnswering || error.lost; }

// The folder a remote path lies in and its name.
void SplitRemote(std::string path, std::string& folder, std::string& name)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    const size_t slash = path.rfind('/');
    folder = slash == std::string::npos || slash == 0 ? std::string("/") : path.substr(0, slash);
    name = slash == std::string::npos ? path : path.substr(slash + 1);
}

RemoteError NotAnAddress(const std::string& path)
{
    return {path + " is not a remote address: sftp://[user@]host[:port]/path"};
}

// New contents for a remote file, readable from the start, in memory only.
int MemoryFileWith(const std::string& contents)
{
    const int fd = ::memfd_create("tarnel-remote", MFD_CLOEXEC);
    if (fd < 0)
        return -1;
    size_t done = 0;
    while (done < contents.size()) {
        const ssize_t n = ::write(fd, contents.data() + done, contents.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ::close(fd);
            return -1;
        }
        done += size_t(n);
    }
    ::lseek(fd, 0, SEEK_SET);
    return fd;
}

// Writes contents over the remote file found: under a hidden name beside
// it first, then renamed into place. The server's rename keeps what is at
// the target, so the old file steps aside for the moment between the two
// renames, and is put back when the second fails.
RemoteError ReplaceRemoteFile(RemoteFiles& files, const std::string& folder, const RemoteDescriptionFile& found,
                              const std::string& contents)
{
    static std::atomic<unsigned> counter{0};
    const std::string base = found.path.substr(found.path.rfind('/') + 1);
    const std::string part = RemoteJoined(folder, "." + base + ".part-" + std::to_string(::getpid()) + "-" +
                                                      std::to_string(++counter));
    const int fd = MemoryFileWith(contents);
    if (fd < 0)
        return {std::string("Cannot hold the new descriptions: ") + std::strerror(errno)};
    const uint32_t mode = found.exists ? found.entry.permissions & 07777 : 0666;
    RemoteError error = files.Upload(fd, part, mode, 0, nullptr);
    ::close(fd);
    // The server's umask may have taken bits the old file had.
    if (!error && found.exists)
        error = files.SetPermissions(part, mode);
    if (!error && found.exists) {
        error = files.Replace(part, found.path, part + ".old");
    } else if (!error) {
        error = files.Rename(part, found.path);
    }
    if (error && !error.lost)
        files.Remove(part, false); // nothing half-made is left behind
    return error;
}

// Sums the tree below folder; links are counted, never entered.
RemoteError SumFolder(RemoteFiles& files, const std::string& folder, SftpSource::FolderTotal& total,
                      const CancelToken& cancel, int depth)
{
    // Deeper than any real tree: a server that makes up folders without end.
    constexpr int kMaxDepth = 512;
    if (depth > kMaxDepth)
        return {folder + " lies too deep to be summed."};
    std::vector<std::string> below;
    if (RemoteError error = files.List(folder, FileSource::kChunkSize, [&](std::vector<RemoteEntry>&& chunk) {
            for (const RemoteEntry& e : chunk) {
                if (e.name == "..")
                    continue;
                if (e.directory && !e.link) {
                    ++total.folders;
                    below.push_back(RemoteJoined(folder, e.name));
                } else {
                    ++total.files;
                    if (!e.link)
                        total.bytes += e.size;
                }
            }
            return !cancel.Cancelled();
        }))
        return error;
    for (const std::string& sub : below) {
        if (cancel.Cancelled()) {
            RemoteError stopped{"The sum was stopped."};
            stopped.stopped = true;
            return stopped;
        }
        if (RemoteError error = SumFolder(files, sub, total, cancel, depth + 1))
            return error;
    }
    return {};
}

} // namespace

SftpSource::SftpSource(std::shared_ptr<SshQuestions> questions)
    : questions_(questions ? std::move(questions) : std::make_shared<NoSshQuestions>())
{
}

void SftpSource::List(const PanePlace& place, ListSink& sink, const CancelToken& cancel) const
{
    const std::optional<SftpUrl> url = SftpUrl::Parse(place.Path);
    if (!url) {
        sink.Problem(place.Path + " is not a remote folder's address: sftp://[user@]host[:port]/folder");
        return;
    }
    const RemoteError error = SshConnection::For(*url)->Use(*questions_, [&](RemoteFiles& files) {
        // The descriptions come first, so that each chunk goes out described.
        std::string bytes;
        RemoteDescriptionFile found;
        RemoteError error = FindDescriptionFile(files, url->path, found);
        if (!error)
            error = ReadDescriptionBytes(files, found, bytes);
        if (Fatal(error))
            return error;
        if (error)
            bytes.clear();
        // Of a large file only the lines of names that are there are kept:
        // its chunks wait for the whole listing.
        const bool whole = bytes.size() < kDescriptionsKeptWhole;
        DescriptionList descriptions;
        if (whole)
            ParseDescriptions(bytes, descriptions);
        std::vector<SourceEntry> held;
        error = files.List(url->path, kChunkSize, [&](std::vector<RemoteEntry>&& remote) {
            if (cancel.Cancelled())
                return false;
            std::vector<SourceEntry> chunk;
            chunk.reserve(remote.size());
            for (RemoteEntry& entry : remote)
                if (entry.name != ".." || url->path != "/") // the disk's root has none either
                    chunk.push_back(ToSourceEntry(std::move(entry)));
            if (!whole) {
                std::move(chunk.begin(), chunk.end(), std::back_inserter(held));
                return true;
            }
            Describe(chunk, descriptions);
            sink.Chunk(std::move(chunk));
            return true;
        });
        if (whole || error || cancel.Cancelled())
            return error;
        std::vector<std::string> names;
        names.reserve(held.size());
        for (const SourceEntry& e : held)
            names.push_back(e.name);
        ParseDescriptions(bytes, descriptions, &names);
        Describe(held, descriptions);
        for (size_t at = 0; at < held.size(); at += kChunkSize) {
            const auto end = held.begin() + ptrdiff_t(std::min(held.size(), at + kChunkSize));
            sink.Chunk(std::vector<SourceEntry>(std::make_move_iterator(held.begin() + ptrdiff_t(at)),
                                                std::make_move_iterator(end)));
        }
        return error;
    });
    if (error && !cancel.Cancelled())
        sink.Problem(error.text);
}

Capabilities SftpSource::Can(const PanePlace&) const
{
    return {Capability::CopyIn,   Capability::CopyOut,  Capability::Delete,     Capability::Rename,
            Capability::Describe, Capability::Permissions, Capability::OpenMember};
}

std::shared_ptr<Operation> SftpSource::MakeFolderOperation(const PanePlace& place, const std::string& name) const
{
    const std::string path = RemoteJoined(place.Path, name);
    return std::make_shared<Operation>(
        OperationKind::MakeFolder, "New folder " + path, [path, questions = questions_](Operation& op) {
            op.Report(0, 1, 0, 0, path);
            const std::optional<SftpUrl> url = SftpUrl::Parse(path);
            if (!url)
                return OperationState::Failed;
            const RemoteError error = SshConnection::For(*url)->Use(
                *questions, [&](RemoteFiles& files) { return files.MakeFolder(url->path, 0777); });
            if (error)
                return OperationState::Failed; // whoever started it says so, with the name it was given
            op.Report(1, 1, 0, 0, path);
            return OperationState::Done;
        });
}

bool SftpSource::RunsOperation(int code, const PanePlace& from, const PanePlace& to) const
{
    // A rename here must never reach the disk engine, which would take the
    // address for a path of this machine.
    if (code == FO_DELETE || code == FO_RENAME)
        return IsRemotePlace(from);
    if (code != FO_COPY && code != FO_MOVE)
        return false;
    return (IsRemotePlace(from) && (IsLocalPlace(to) || IsRemotePlace(to))) || (IsLocalPlace(from) && IsRemotePlace(to));
}

std::unique_ptr<SourceOperation> SftpSource::OperationFor(int code, const PanePlace& from, const PanePlace& to,
                                                          SourceOperationUi& ui,
                                                          const SourceOperationOptions& options) const
{
    if (!RunsOperation(code, from, to))
        return nullptr;
    return MakeSftpOperation(code, from, to, ui, questions_, options.newName);
}

RemoteError SftpSource::ReadDescription(const std::string& path, bool& exists, std::string& description) const
{
    exists = false;
    description.clear();
    const std::optional<SftpUrl> url = SftpUrl::Parse(path);
    if (!url)
        return NotAnAddress(path);
    std::string folder, name;
    SplitRemote(url->path, folder, name);
    return SshConnection::For(*url)->Use(*questions_, [&](RemoteFiles& files) {
        RemoteEntry entry;
        if (RemoteError error = files.Exists(url->path, exists, entry); error || !exists)
            return error;
        std::string bytes;
        RemoteDescriptionFile found;
        RemoteError error = FindDescriptionFile(files, folder, found);
        if (!error)
            error = ReadDescriptionBytes(files, found, bytes);
        if (error)
            return Fatal(error) ? error : RemoteError{}; // unreadable: no description, as on the disk
        DescriptionList descriptions;
        const std::vector<std::string> names{name};
        ParseDescriptions(bytes, descriptions, &names);
        if (const std::string* text = descriptions.Find(name))
            description = *text;
        return RemoteError{};
    });
}

RemoteError SftpSource::WriteDescription(const std::string& path, const std::string& description,
                                         WriteDescriptionResult& result) const
{
    result = WriteDescriptionResult::NotStored;
    const std::optional<SftpUrl> url = SftpUrl::Parse(path);
    if (!url)
        return NotAnAddress(path);
    std::string folder, name;
    SplitRemote(url->path, folder, name);
    if (!DescriptionNameStorable(name)) {
        result = WriteDescriptionResult::NameNotStorable;
        return {};
    }
    return SshConnection::For(*url)->Use(*questions_, [&](RemoteFiles& files) {
        RemoteDescriptionFile found;
        if (RemoteError error = FindDescriptionFile(files, folder, found))
            return error;
        if (found.exists && !found.Regular())
            return RemoteError{found.path + " is not a regular file: no description is written to it."};
        const RemoteError tooLarge{found.path + " is larger than " +
                                   std::to_string(DescLineReader::kMaxFileBytes / (1024 * 1024)) +
                                   " MiB: no description is written to it."};
        if (found.exists && found.entry.size > DescLineReader::kMaxFileBytes)
            return tooLarge; // known without reading it
        std::string old;
        if (RemoteError error = ReadDescriptionBytes(files, found, old))
            return error; // a file that cannot be read must not lose its lines
        std::optional<std::string> contents;
        if (RewriteDescriptionBytes(old, {{name, description, false}}, contents) != WriteDescriptionResult::Written)
            return tooLarge;
        if (contents)
            if (RemoteError error = ReplaceRemoteFile(files, folder, found, *contents))
                return error;
        result = WriteDescriptionResult::Written;
        return RemoteError{};
    });
}

RemoteError SftpSource::TotalOf(const std::string& path, FolderTotal& total, const CancelToken& cancel) const
{
    total = {};
    const std::optional<SftpUrl> url = SftpUrl::Parse(path);
    if (!url)
        return NotAnAddress(path);
    return SshConnection::For(*url)->Use(*questions_, [&](RemoteFiles& files) {
        total = {};
        return SumFolder(files, url->path, total, cancel, 0);
    });
}

RemoteError SftpSource::FactsOf(const std::string& path, RemoteEntry& entry, std::string& linkTarget) const
{
    linkTarget.clear();
    const std::optional<SftpUrl> url = SftpUrl::Parse(path);
    if (!url)
        return NotAnAddress(path);
    return SshConnection::For(*url)->Use(*questions_, [&](RemoteFiles& files) {
        bool exists = false;
        if (RemoteError error = files.Exists(url->path, exists, entry))
            return error;
        if (!exists)
            return RemoteError{path + " is no longer there."};
        entry.name = url->path.substr(url->path.rfind('/') + 1);
        return entry.link ? files.ReadLink(url->path, linkTarget) : RemoteError{};
    });
}

RemoteError SftpSource::ChangePermissions(const std::string& path, uint32_t keep, uint32_t set, uint32_t& now) const
{
    const std::optional<SftpUrl> url = SftpUrl::Parse(path);
    if (!url)
        return NotAnAddress(path);
    return SshConnection::For(*url)->Use(*questions_, [&](RemoteFiles& files) {
        // What a link leads to, as a change of mode on the disk does.
        RemoteEntry entry;
        if (RemoteError error = files.Stat(url->path, entry))
            return error;
        now = entry.permissions & 07777;
        const uint32_t wanted = ((now & keep) | set) & 07777;
        if (wanted == now)
            return RemoteError{};
        if (RemoteError error = files.SetPermissions(url->path, wanted))
            return error;
        now = wanted;
        return RemoteError{};
    });
}

} // namespace tarnel
