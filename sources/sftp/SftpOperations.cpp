#include "sources/sftp/SftpOperations.h"

#include "panes/FileData.h"
#include "platform/DirectoryReader.h"
#include "platform/FileRewrite.h"
#include "platform/RegularFile.h"
#include "platform/ShellFileOperation.h"
#include "platform/TempDir.h"
#include "platform/ssh/SshConnection.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnel {

bool IsRemotePlace(const PanePlace& place) { return std::string_view(place.Source()) == kSftpSourceName; }
bool IsLocalPlace(const PanePlace& place) { return std::string_view(place.Source()) == kLocalSourceName; }

std::string RemoteJoined(const std::string& folder, const std::string& name)
{
    return folder.empty() || folder.back() != '/' ? folder + "/" + name : folder + name;
}

namespace {

// The name a file is written under until it is whole: hidden, beside its
// final name, and never one that is there already.
std::string PartName(const std::string& name)
{
    static std::atomic<unsigned> counter{0};
    return "." + name + ".part-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
}

std::string Errno(const std::string& what) { return what + ": " + std::strerror(errno); }

mode_t CurrentUmask()
{
    // Read from /proc: setting it to read it would race other threads.
    std::FILE* status = std::fopen("/proc/self/status", "r");
    unsigned mask = 022;
    if (status) {
        char line[256];
        while (std::fgets(line, sizeof line, status))
            if (std::sscanf(line, "Umask: %o", &mask) == 1)
                break;
        std::fclose(status);
    }
    return mode_t(mask);
}

// What tells that a remote file is still the one that was copied: the
// protocol gives no inode, so size, time and permissions.
bool SameRemoteFile(const RemoteEntry& a, const RemoteEntry& b)
{
    return a.size == b.size && a.mtime == b.mtime && a.permissions == b.permissions && a.directory == b.directory;
}

// An unnamed file in the program's private folder: it vanishes with its
// descriptor, whatever way the copy ends. Under the temporary folder of the
// disk rather than the runtime one, which is often a small part of memory
// and a remote file may be of any size.
int OpenScratchFile(std::string& error)
{
    const std::string dir = SharedTmpPrivateDir(error);
    if (dir.empty())
        return -1;
    int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        const std::string path = MakeTempFileIn(dir, "remote-");
        if (!path.empty()) {
            fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
            ::unlink(path.c_str());
        }
    }
    if (fd < 0)
        error = Errno("Cannot make a temporary file in " + dir);
    return fd;
}

std::string Lines(const std::string& head, const std::vector<std::string>& lines)
{
    std::string text = head;
    for (size_t i = 0; i < lines.size() && i < 20; ++i)
        text += "\n" + lines[i];
    if (lines.size() > 20)
        text += "\n...";
    return text;
}

// One side of a copy: a folder of the disk, or one of a remote place with
// the connection that reaches it.
struct Side {
    bool remote = false;
    std::string folder; // ends in "/"
    std::string host;
    std::shared_ptr<SshConnection> connection;
};

struct Child {
    std::string name;
    bool folder = false;
    bool link = false;
};

class SftpOperation final : public SourceOperation {
public:
    SftpOperation(int code, PanePlace from, PanePlace to, SourceOperationUi& ui, std::shared_ptr<SshQuestions> questions,
                  std::string newName)
        : code_(code), from_(std::move(from)), to_(std::move(to)), ui_(ui), questions_(std::move(questions)),
          newName_(std::move(newName))
    {
    }

    SourceOperationResult Run(const std::vector<SourceRow>& given) override
    {
        // Only names of the place's own entries: ".." or a path would reach
        // beyond it.
        std::vector<SourceRow> rows;
        for (const SourceRow& row : given)
            if (!row.name.empty() && row.name != "." && row.name != ".." && row.name.find('/') == std::string::npos)
                rows.push_back(row);
        if (rows.empty())
            return {};
        if (code_ == FO_RENAME)
            return Rename(rows);
        if (code_ == FO_DELETE)
            return Delete(rows);
        return Transfer(rows);
    }

private:
    static std::string AddSlash(const std::string& path)
    {
        return path.empty() || path.back() != '/' ? path + "/" : path;
    }

    bool MakeSide(const PanePlace& place, Side& side)
    {
        side.remote = IsRemotePlace(place);
        if (!side.remote) {
            side.folder = AddSlash(place.Path);
            return true;
        }
        const std::optional<SftpUrl> url = SftpUrl::Parse(place.Path);
        if (!url) {
            ui_.Error(place.Path + " is not a remote folder's address.");
            return false;
        }
        side.folder = AddSlash(url->path);
        side.host = url->host;
        side.connection = SshConnection::ForTransfers(*url);
        return true;
    }

    // Runs one step on side's connection. Steps are small and never nest:
    // a connection serves one step at a time, and a copy between two
    // places of one host takes turns on it.
    RemoteError On(const Side& side, const std::function<RemoteError(RemoteFiles&)>& step)
    {
        return side.connection->Use(*questions_, step);
    }

    // The transfer's progress callback: counts the bytes into the
    // operation's progress; false once the user stopped it.
    RemoteFiles::Moved Counter(RemoteFiles& files, const std::string& name)
    {
        const uint64_t base = done_;
        return [this, &files, base, name](uint64_t moved) {
            // A file that grows while it is read brings more than was counted.
            total_ = std::max(total_, base + moved);
            files.Asking(true); // a paused operation waits in here
            const bool go = ui_.Progress(base + moved, total_, name);
            files.Asking(false);
            stopped_ = stopped_ || !go;
            return go;
        };
    }

    bool GoOn(const std::string& name)
    {
        if (!stopped_ && !ui_.Progress(done_, total_, name))
            stopped_ = true;
        return !stopped_;
    }

    // ---- Rename ----

    SourceOperationResult Rename(const std::vector<SourceRow>& rows)
    {
        if (rows.size() != 1) {
            ui_.Inform("In a remote place one item is renamed at a time.");
            return {};
        }
        const std::string& old = rows.front().name;
        if (newName_.empty() || newName_ == old)
            return {};
        if (newName_.find('/') != std::string::npos || newName_ == "." || newName_ == "..") {
            ui_.Error("\"" + newName_ + "\" is not a name for a file or folder: a name cannot contain \"/\".");
            return {};
        }
        const std::optional<SftpUrl> url = SftpUrl::Parse(from_.Path);
        if (!url) {
            ui_.Error(from_.Path + " is not a remote folder's address.");
            return {};
        }
        const std::string source = RemoteJoined(url->path, old), target = RemoteJoined(url->path, newName_);
        // The listing's connection: a rename is one short call, and a long
        // copy on the transfers' connection would keep it waiting.
        const RemoteError error = SshConnection::For(*url)->Use(*questions_, [&](RemoteFiles& files) {
            bool exists = false;
            RemoteEntry there;
            if (RemoteError e = files.Exists(target, exists, there))
                return e;
            // Never replaced: a rename that silently drops another file
            // loses data the user did not point at.
            if (exists)
                return RemoteError{"Cannot rename " + old + ": " + newName_ + " already exists."};
            return files.Rename(source, target);
        });
        if (error)
            ui_.Error(error.text);
        return {!error, false};
    }

    // ---- Delete ----

    SourceOperationResult Delete(const std::vector<SourceRow>& rows)
    {
        Side side;
        if (!MakeSide(from_, side))
            return {};
        if (!ui_.Confirm("Delete " + (rows.size() == 1 ? rows.front().name : std::to_string(rows.size()) + " items") +
                         " from " + side.host + "? This cannot be undone."))
            return {};
        const RemoteError error = On(side, [&](RemoteFiles& files) {
            for (const SourceRow& row : rows) {
                if (stopped_)
                    break;
                if (RemoteError e = DeleteTree(files, side.folder + row.name, row.folder))
                    return e;
            }
            return RemoteError{};
        });
        if (error && !error.stopped)
            ui_.Error(error.text);
        return {true, false};
    }

    RemoteError DeleteTree(RemoteFiles& files, const std::string& remote, bool folder)
    {
        if (folder) {
            std::vector<RemoteEntry> entries;
            if (RemoteError error = files.List(remote, FileSource::kChunkSize, [&](std::vector<RemoteEntry>&& chunk) {
                    for (RemoteEntry& e : chunk)
                        if (e.name != "..")
                            entries.push_back(std::move(e));
                    return true;
                }))
                return error;
            for (const RemoteEntry& e : entries) {
                if (stopped_)
                    return {};
                // A link is removed, never what it leads to.
                if (RemoteError error = DeleteTree(files, RemoteJoined(remote, e.name), e.directory && !e.link))
                    return error;
            }
        }
        files.Asking(true);
        GoOn(remote);
        files.Asking(false);
        if (stopped_)
            return {};
        return files.Remove(remote, folder);
    }

    // ---- Copy and move ----

    SourceOperationResult Transfer(const std::vector<SourceRow>& rows)
    {
        if (!MakeSide(from_, src_) || !MakeSide(to_, dst_))
            return {};
        const bool move = code_ == FO_MOVE;
        // One server behind one connection: the server's own renames move,
        // and its real paths tell a folder going into itself.
        const bool oneServer = src_.remote && dst_.remote && src_.connection == dst_.connection;
        std::string fromFolder = src_.folder, toFolder = dst_.folder;
        RemoteError error;
        if (oneServer) {
            error = On(src_, [&](RemoteFiles& files) {
                if (RemoteError e = files.RealPath(src_.folder, fromFolder))
                    return e;
                return files.RealPath(dst_.folder, toFolder);
            });
            fromFolder = AddSlash(fromFolder);
            toFolder = AddSlash(toFolder);
            if (!error && fromFolder == toFolder) {
                ui_.Inform("The source and the target are the same folder: nothing is " +
                           std::string(move ? "moved." : "copied."));
                return {};
            }
        }
        for (size_t i = 0; i < rows.size() && !error && !stopped_; ++i) {
            const SourceRow& row = rows[i];
            const std::string source = fromFolder + row.name;
            // A copy follows a link it was given; a move renames the link.
            std::string reached = source;
            if (oneServer && row.folder && !move)
                error = On(src_, [&](RemoteFiles& files) { return files.RealPath(source, reached); });
            if (error)
                break;
            if (oneServer && row.folder && toFolder.starts_with(AddSlash(reached))) {
                ui_.Error(row.name + " is not " + (move ? "moved" : "copied") + " into itself.");
                continue;
            }
            bool whole = false;
            error = oneServer && move ? RenameOnServer(source, toFolder, row.name, whole)
                                      : Item(source, toFolder, row.name, row.folder, whole);
        }
        if (!kept_.empty())
            ui_.Error(Lines("These changed while they were moved, so they were kept where they were:", kept_));
        if (!links_.empty())
            ui_.Error(Lines("Links to folders are not moved (nor what they lead to):", links_));
        if (error && !error.stopped)
            ui_.Error(error.text);
        return {removed_, arrived_};
    }

    // Copies (or moves) one entry into targetFolder; whole tells whether
    // all of it arrived and, on a move, left its place.
    RemoteError Item(const std::string& source, const std::string& targetFolder, const std::string& name,
                     bool folder, bool& whole)
    {
        whole = false;
        if (!GoOn(name))
            return {};
        if (folder)
            return FolderItem(source, targetFolder, name, whole);
        return FileItem(source, targetFolder, name, whole);
    }

    RemoteError FolderItem(const std::string& source, const std::string& targetFolder, const std::string& name,
                           bool& whole)
    {
        const std::string target = targetFolder + name;
        // A link to a folder moves as nothing: emptying it would take away
        // what it leads to, which the user did not pick.
        if (code_ == FO_MOVE) {
            bool link = false;
            if (src_.remote) {
                bool exists = false;
                RemoteEntry entry;
                if (RemoteError error = On(src_, [&](RemoteFiles& files) { return files.Exists(source, exists, entry); }))
                    return error;
                link = entry.link;
            } else {
                struct stat st;
                link = ::lstat(source.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
            }
            if (link) {
                links_.push_back(source);
                return {};
            }
        }
        if (RemoteError error = MakeTargetFolder(target))
            return error;
        std::vector<Child> children;
        if (RemoteError error = ListSource(source, children))
            return error;
        bool all = true;
        for (const Child& child : children) {
            if (stopped_)
                return {};
            // A link to a folder is not followed: it may lead back up.
            if (child.folder && child.link) {
                if (code_ == FO_MOVE)
                    links_.push_back(source + "/" + child.name);
                all = false;
                continue;
            }
            bool childWhole = false;
            if (RemoteError error = Item(source + "/" + child.name, target + "/", child.name, child.folder, childWhole))
                return error;
            all = all && childWhole;
        }
        // A folder leaves only emptied: what stayed in it stays with it.
        if (code_ == FO_MOVE && all && !stopped_) {
            if (RemoteError error = RemoveSourceFolder(source))
                return error;
        }
        whole = all;
        return {};
    }

    // Removes a moved folder; one that something came into meanwhile is
    // kept and said so.
    RemoteError RemoveSourceFolder(const std::string& source)
    {
        if (src_.remote) {
            bool kept = false;
            RemoteError error = On(src_, [&](RemoteFiles& files) {
                RemoteError e = files.Remove(source, true);
                if (e && !e.lost) {
                    std::vector<Child> left;
                    kept = !files.List(source, 1, [&](std::vector<RemoteEntry>&& chunk) {
                        for (const RemoteEntry& entry : chunk)
                            if (entry.name != "..")
                                left.push_back({entry.name});
                        return true;
                    }) && !left.empty();
                }
                return kept ? RemoteError{} : e;
            });
            if (kept)
                kept_.push_back(src_.host + ":" + source);
            removed_ = removed_ || (!error && !kept);
            return error;
        }
        if (::rmdir(source.c_str()) == 0) {
            removed_ = true;
            return {};
        }
        if (errno != ENOTEMPTY && errno != EEXIST)
            return {Errno("Cannot remove the folder " + source)};
        kept_.push_back(source);
        return {};
    }

    RemoteError MakeTargetFolder(const std::string& target)
    {
        if (!dst_.remote) {
            if (::mkdir(target.c_str(), 0777) != 0 && errno != EEXIST)
                return {Errno("Cannot make the folder " + target)};
            struct stat st;
            if (::lstat(target.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
                return {target + " is there and is no folder."};
            arrived_ = true;
            return {};
        }
        return On(dst_, [&](RemoteFiles& files) {
            bool exists = false;
            RemoteEntry existing;
            if (RemoteError error = files.Exists(target, exists, existing))
                return error;
            if (exists && !existing.directory)
                return RemoteError{target + " is there and is no folder."};
            arrived_ = true;
            return exists ? RemoteError{} : files.MakeFolder(target, 0755);
        });
    }

    RemoteError ListSource(const std::string& source, std::vector<Child>& children)
    {
        children.clear();
        if (src_.remote)
            return On(src_, [&](RemoteFiles& files) {
                children.clear(); // a second try starts over
                return files.List(source, FileSource::kChunkSize, [&](std::vector<RemoteEntry>&& chunk) {
                    for (RemoteEntry& e : chunk)
                        if (e.name != "..")
                            children.push_back({std::move(e.name), e.directory, e.link});
                    return true;
                });
            });
        if (!ReadDirectoryEntries(source, [&](DirectoryEntry&& e) {
                if (e.name != "." && e.name != "..")
                    children.push_back({std::move(e.name), (e.attr & faDirectory) != 0, false});
            }))
            return {Errno("Cannot read the folder " + source)};
        for (Child& child : children) {
            struct stat st;
            if (child.folder)
                child.link = ::lstat((source + "/" + child.name).c_str(), &st) != 0 || !S_ISDIR(st.st_mode);
        }
        return {};
    }

    // What is at the target: nothing, or a file the user lets go.
    enum class Target { Free, Replace, Keep, Refused };

    Target AskAboutTarget(const std::string& target, int64_t size, int64_t mtime, RemoteError& error)
    {
        bool exists = false, directory = false;
        SourceOperationUi::FileFacts facts;
        if (dst_.remote) {
            RemoteEntry existing;
            error = On(dst_, [&](RemoteFiles& files) { return files.Exists(target, exists, existing); });
            directory = existing.directory;
            facts = {int64_t(existing.size), existing.mtime};
        } else {
            struct stat st;
            exists = ::lstat(target.c_str(), &st) == 0;
            directory = exists && S_ISDIR(st.st_mode);
            facts = {int64_t(st.st_size), st.st_mtime};
        }
        if (error)
            return Target::Refused;
        if (!exists)
            return Target::Free;
        if (directory) {
            error.text = target + " is a folder: no file is copied over it.";
            return Target::Refused;
        }
        // The question names where the incoming file comes from.
        switch (replace_.Next([&] {
            return src_.remote ? ui_.AskReplaceFromServer(target, facts, {size, mtime})
                               : ui_.AskReplaceMember(target, facts, {size, mtime});
        })) {
        case ReplaceQuestions::Choice::Replace: return Target::Replace;
        case ReplaceQuestions::Choice::Keep: return Target::Keep;
        case ReplaceQuestions::Choice::Stop: break;
        }
        stopped_ = true;
        return Target::Keep;
    }

    RemoteError CheckCopySize(const std::string& target, int64_t size)
    {
        int64_t copied = -1;
        if (dst_.remote) {
            if (RemoteError e = On(dst_, [&](RemoteFiles& files) {
                    RemoteEntry entry;
                    RemoteError error = files.Stat(target, entry);
                    if (!error)
                        copied = int64_t(entry.size);
                    return error;
                }))
                return e;
        } else {
            struct stat st;
            if (::lstat(target.c_str(), &st) == 0)
                copied = int64_t(st.st_size);
        }
        // More than that means the source grew meanwhile: the check of the
        // source that follows keeps it.
        if (copied >= size)
            return {};
        return {"The copy " + target + " is not whole: the source is kept."};
    }

    RemoteError FileItem(const std::string& source, const std::string& targetFolder, const std::string& name,
                         bool& whole)
    {
        const std::string target = targetFolder + name;
        // The source as it is before the copy: a move removes it only when
        // it still is so afterwards.
        RemoteEntry remoteBefore;
        FileStamp localBefore;
        int localFd = -1;
        int64_t size = 0, mtime = 0;
        uint32_t mode = 0644;
        if (src_.remote) {
            if (RemoteError error = On(src_, [&](RemoteFiles& files) { return files.Stat(source, remoteBefore); }))
                return error;
            size = int64_t(remoteBefore.size);
            mtime = remoteBefore.mtime;
            mode = remoteBefore.permissions & 0777;
        } else {
            struct stat st;
            if (::lstat(source.c_str(), &st) != 0)
                return {Errno("Cannot read " + source)};
            localBefore = StampFrom(st);
            localFd = OpenRegularFileForReading(source);
            if (localFd < 0 || ::fstat(localFd, &st) != 0) {
                if (localFd >= 0)
                    ::close(localFd);
                return {"Cannot read " + source + ": it is no file that can be read."};
            }
            size = st.st_size;
            mtime = st.st_mtime;
            mode = st.st_mode & 0777;
        }
        RemoteError error;
        const Target verdict = AskAboutTarget(target, size, mtime, error);
        if (verdict == Target::Refused || verdict == Target::Keep) {
            if (localFd >= 0)
                ::close(localFd);
            return error;
        }
        const bool replace = verdict == Target::Replace;
        total_ += uint64_t(size) * (src_.remote && dst_.remote ? 2 : 1);
        if (src_.remote && dst_.remote) {
            std::string problem;
            localFd = OpenScratchFile(problem);
            if (localFd < 0)
                return {problem};
            error = Download(source, localFd, name);
        }
        if (!error && !stopped_) {
            if (dst_.remote)
                error = Upload(localFd, source, targetFolder, name, mode, mtime, replace);
            else
                error = WriteLocal(source, targetFolder, name, mode & ~CurrentUmask(), mtime, replace);
        }
        if (localFd >= 0)
            ::close(localFd);
        if (error || stopped_)
            return error;
        arrived_ = true;
        if (code_ != FO_MOVE) {
            whole = true;
            return {};
        }
        // The copy must hold as many bytes as the source had: a read that
        // ended early is no reason to remove the only whole file.
        if (RemoteError e = CheckCopySize(target, size))
            return e;
        bool same = false;
        if (src_.remote) {
            error = On(src_, [&](RemoteFiles& files) {
                RemoteEntry after;
                if (RemoteError e = files.Stat(source, after))
                    return e;
                same = SameRemoteFile(remoteBefore, after);
                return same ? files.Remove(source, false) : RemoteError{};
            });
        } else {
            struct stat st;
            same = ::lstat(source.c_str(), &st) == 0 && StampFrom(st) == localBefore;
            if (same && ::unlink(source.c_str()) != 0)
                error.text = Errno("Cannot remove " + source);
        }
        if (error)
            return error;
        if (!same)
            kept_.push_back(src_.remote ? src_.host + ":" + source : source);
        removed_ = removed_ || same;
        whole = same;
        return {};
    }

    // Copies the remote file into fd (from its start).
    RemoteError Download(const std::string& remote, int fd, const std::string& name)
    {
        const uint64_t base = done_;
        RemoteError error = On(src_, [&](RemoteFiles& files) {
            // A second try on a new connection starts over.
            done_ = base;
            if (::ftruncate(fd, 0) != 0 || ::lseek(fd, 0, SEEK_SET) != 0)
                return RemoteError{Errno("Cannot write the copy of " + remote)};
            return files.Download(remote, fd, Counter(files, name));
        });
        if (!error)
            done_ = base + uint64_t(::lseek(fd, 0, SEEK_CUR));
        return error;
    }

    // fd's contents as the remote file targetFolder + name, written under a
    // part name and renamed once whole.
    RemoteError Upload(int fd, const std::string& source, const std::string& targetFolder, const std::string& name,
                       uint32_t mode, int64_t mtime, bool replace)
    {
        const uint64_t base = done_;
        const std::string target = targetFolder + name;
        const bool guarded = replace && code_ == FO_MOVE;
        std::string part, aside;
        RemoteError error = On(dst_, [&](RemoteFiles& files) {
            done_ = base;
            if (::lseek(fd, 0, SEEK_SET) != 0)
                return RemoteError{Errno("Cannot read the file for " + target)};
            part = targetFolder + PartName(name);
            RemoteError e = files.Upload(fd, part, mode, mtime, Counter(files, name));
            if (!e && !replace) {
                e = files.Rename(part, target);
            } else if (!e && !guarded) {
                e = ReplaceRemote(files, part, target, targetFolder, name);
            } else if (!e) {
                aside = targetFolder + PartName(name) + ".old";
                e = files.Rename(target, aside);
            }
            if (e && !e.lost)
                files.Remove(part, false); // nothing half-made stays where it can be reached
            return e;
        });
        if (error)
            return error;
        done_ = base + uint64_t(::lseek(fd, 0, SEEK_CUR));
        if (!guarded)
            return {};
        RemoteError problem;
        const bool itself = SourceGone(source, problem);
        const bool back = itself || problem;
        error = On(dst_, [&](RemoteFiles& files) {
            if (back) {
                files.Remove(part, false);
                return files.Rename(aside, target);
            }
            if (RemoteError e = files.Rename(part, target)) {
                if (!e.lost) {
                    files.Rename(aside, target);
                    files.Remove(part, false);
                }
                return e;
            }
            files.Remove(aside, false);
            return RemoteError{};
        });
        if (problem)
            return problem;
        if (itself)
            return {OntoItself(source, target)};
        return error;
    }

    static std::string OntoItself(const std::string& source, const std::string& target)
    {
        return target + " is " + source + " itself, reached another way: it is not moved onto itself.";
    }

    // Whether the source of a move has left its place once the file at the
    // target stepped aside: then that file was the source itself, reached
    // another way (a second connection to the server, or this machine
    // served to itself), and replacing it would lose the only copy.
    bool SourceGone(const std::string& source, RemoteError& error)
    {
        if (!src_.remote) {
            struct stat st;
            return ::lstat(source.c_str(), &st) != 0 && errno == ENOENT;
        }
        bool exists = true;
        RemoteEntry entry;
        error = On(src_, [&](RemoteFiles& files) { return files.Exists(source, exists, entry); });
        return !error && !exists;
    }

    // The server's rename keeps what is at the target (the SFTP protocol's
    // own; libssh offers no other): the old file steps aside under a hidden
    // name, the new one takes its place, and the old one goes. Between the
    // two renames the name is empty for a moment, never half-written.
    static RemoteError ReplaceRemote(RemoteFiles& files, const std::string& part, const std::string& target,
                                     const std::string& folder, const std::string& name)
    {
        return files.Replace(part, target, RemoteJoined(folder, PartName(name) + ".old"));
    }

    // The remote file source as the disk's targetFolder + name.
    RemoteError WriteLocal(const std::string& source, const std::string& targetFolder, const std::string& name,
                           mode_t mode, int64_t mtime, bool replace)
    {
        const std::string target = targetFolder + name;
        const std::string part = targetFolder + PartName(name);
        const int fd = ::open(part.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0)
            return {Errno("Cannot write in " + targetFolder)};
        RemoteError error = Download(source, fd, name);
        if (!error && !stopped_) {
            ::fchmod(fd, mode);
            const timespec times[2] = {{mtime, 0}, {mtime, 0}};
            ::futimens(fd, times);
            if (::fsync(fd) != 0)
                error.text = Errno("Cannot write " + target);
        }
        ::close(fd);
        if (!error && !stopped_ && replace && code_ == FO_MOVE) {
            const std::string aside = targetFolder + PartName(name) + ".old";
            if (::rename(target.c_str(), aside.c_str()) != 0) {
                error.text = Errno("Cannot write " + target);
            } else {
                RemoteError problem;
                const bool itself = SourceGone(source, problem);
                if (itself || problem) {
                    ::rename(aside.c_str(), target.c_str());
                    error = problem ? problem : RemoteError{OntoItself(source, target)};
                } else if (::rename(part.c_str(), target.c_str()) != 0) {
                    error.text = Errno("Cannot write " + target);
                    ::rename(aside.c_str(), target.c_str());
                } else {
                    ::unlink(aside.c_str());
                }
            }
        } else if (!error && !stopped_) {
            // A file that came meanwhile under a name that was free is not
            // replaced unasked.
            const int rc = replace ? ::rename(part.c_str(), target.c_str())
                                   : ::renameat2(AT_FDCWD, part.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE);
            if (rc != 0 && !replace && errno == EINVAL && ::link(part.c_str(), target.c_str()) == 0)
                ::unlink(part.c_str());
            else if (rc != 0)
                error.text = Errno("Cannot write " + target);
        }
        if (error || stopped_)
            ::unlink(part.c_str()); // nothing half-made stays
        return error;
    }

    // ---- A move within one connection: the server renames ----

    RemoteError RenameOnServer(const std::string& source, const std::string& toFolder, const std::string& name,
                               bool& whole)
    {
        whole = false;
        if (!GoOn(name))
            return {};
        const std::string target = toFolder + name;
        bool exists = false;
        RemoteEntry existing, incoming;
        if (RemoteError error = On(src_, [&](RemoteFiles& files) {
                if (RemoteError e = files.Exists(source, exists, incoming))
                    return e;
                if (!exists)
                    return RemoteError{"Cannot move " + source + ": it is no longer there."};
                return files.Exists(target, exists, existing);
            }))
            return error;
        const bool sourceFolder = incoming.directory && !incoming.link;
        if (!exists) {
            if (RemoteError error = On(src_, [&](RemoteFiles& files) { return files.Rename(source, target); }))
                return error;
            removed_ = arrived_ = whole = true;
            return {};
        }
        if (sourceFolder && existing.directory)
            return MergeOnServer(source, target, whole);
        if (sourceFolder || existing.directory)
            return {target + " is there already, and one of the two is a folder: " + name + " is not moved."};
        switch (replace_.Next([&] {
            return ui_.AskReplaceFromServer(target, {int64_t(existing.size), existing.mtime},
                                            {int64_t(incoming.size), incoming.mtime});
        })) {
        case ReplaceQuestions::Choice::Replace: break;
        case ReplaceQuestions::Choice::Keep: return {};
        case ReplaceQuestions::Choice::Stop: stopped_ = true; return {};
        }
        if (RemoteError error = On(src_, [&](RemoteFiles& files) {
                return ReplaceRemote(files, source, target, toFolder, name);
            }))
            return error;
        removed_ = arrived_ = whole = true;
        return {};
    }

    // A folder moved onto one of its name: what it holds goes in, and it
    // goes once emptied.
    RemoteError MergeOnServer(const std::string& source, const std::string& target, bool& whole)
    {
        std::vector<Child> children;
        if (RemoteError error = ListSource(source, children))
            return error;
        bool all = true;
        for (const Child& child : children) {
            if (stopped_)
                return {};
            bool childWhole = false;
            if (RemoteError error = RenameOnServer(source + "/" + child.name, target + "/", child.name, childWhole))
                return error;
            all = all && childWhole;
        }
        if (all && !stopped_)
            if (RemoteError error = RemoveSourceFolder(source))
                return error;
        whole = all;
        return {};
    }

    int code_;
    PanePlace from_, to_;
    SourceOperationUi& ui_;
    std::shared_ptr<SshQuestions> questions_;
    std::string newName_;
    Side src_, dst_; // where the files come from and go to
    ReplaceQuestions replace_;
    bool stopped_ = false;
    bool arrived_ = false, removed_ = false;
    uint64_t done_ = 0, total_ = 0;
    std::vector<std::string> kept_;  // sources of a move that changed while copied
    std::vector<std::string> links_; // links to folders a move left alone
};

} // namespace

std::unique_ptr<SourceOperation> MakeSftpOperation(int code, const PanePlace& from, const PanePlace& to,
                                                   SourceOperationUi& ui, std::shared_ptr<SshQuestions> questions,
                                                   std::string newName)
{
    return std::make_unique<SftpOperation>(code, from, to, ui, std::move(questions), std::move(newName));
}

} // namespace tarnel
