#include "sources/sftp/SftpOperations.h"

#include "fileops/model/Operation.h"
#include "panes/FileData.h"
#include "platform/DirectoryReader.h"
#include "platform/RegularFile.h"
#include "platform/ShellFileOperation.h"
#include "platform/ssh/SshConnection.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
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

class SftpOperation final : public SourceOperation {
public:
    SftpOperation(int code, PanePlace from, PanePlace to, SourceOperationUi& ui, std::shared_ptr<SshQuestions> questions)
        : code_(code), from_(std::move(from)), to_(std::move(to)), ui_(ui), questions_(std::move(questions))
    {
    }

    SourceOperationResult Run(const std::vector<SourceRow>& rows) override
    {
        SourceOperationResult result;
        if (code_ == FO_RENAME) {
            ui_.Inform("Renaming in a remote place is not possible yet.");
            return result;
        }
        if (code_ == FO_MOVE || (IsRemotePlace(from_) && IsRemotePlace(to_) && code_ != FO_DELETE)) {
            ui_.Inform(code_ == FO_MOVE ? "Moving to or from a remote place is not possible yet: copy, then delete."
                                        : "Copying between two remote places is not possible yet.");
            return result;
        }
        const PanePlace& remotePlace = IsRemotePlace(from_) ? from_ : to_;
        const std::optional<SftpUrl> url = SftpUrl::Parse(remotePlace.Path);
        if (!url) {
            ui_.Error(remotePlace.Path + " is not a remote folder's address.");
            return result;
        }
        if (code_ == FO_DELETE &&
            !ui_.Confirm("Delete " + (rows.size() == 1 ? rows.front().name : std::to_string(rows.size()) + " items") +
                         " from " + url->host + "? This cannot be undone."))
            return result;
        const RemoteError error = SshConnection::For(*url)->Use(*questions_, [&](RemoteFiles& files) {
            files_ = &files;
            RemoteError failed;
            for (const SourceRow& row : rows) {
                if (stopped_)
                    break;
                if (code_ == FO_DELETE) {
                    failed = Delete(RemoteJoined(url->path, row.name), row.folder);
                    result.sourceChanged = true;
                } else if (IsRemotePlace(from_)) {
                    failed = CopyOut(RemoteJoined(url->path, row.name), AddSlash(to_.Path), row.name, row.folder);
                    result.targetChanged = true;
                } else {
                    failed = CopyIn(RemoteJoined(AddSlash(from_.Path), row.name), url->path, row.name, row.folder);
                    result.targetChanged = true;
                }
                if (failed)
                    break;
            }
            files_ = nullptr;
            return failed;
        });
        if (error)
            ui_.Error(error.text);
        return result;
    }

private:
    static std::string AddSlash(const std::string& path) { return path.empty() || path.back() != '/' ? path + "/" : path; }

    // Whether an existing file at the target may go; stops the operation on Cancel.
    bool MayReplace(const std::string& shown, SourceOperationUi::FileFacts existing, SourceOperationUi::FileFacts incoming)
    {
        if (replaceAll_)
            return true;
        if (skipAll_)
            return false;
        files_->Asking(true);
        const ReplaceAnswer answer = ui_.AskReplace(shown, existing, incoming);
        files_->Asking(false);
        switch (answer) {
        case ReplaceAnswer::Yes: return true;
        case ReplaceAnswer::YesToAll: replaceAll_ = true; return true;
        case ReplaceAnswer::No: return false;
        case ReplaceAnswer::SkipAll: skipAll_ = true; return false;
        case ReplaceAnswer::Cancel: stopped_ = true; return false;
        }
        return false;
    }

    RemoteError CopyOut(const std::string& remote, const std::string& localFolder, const std::string& name, bool folder)
    {
        const std::string target = localFolder + name;
        if (folder) {
            if (::mkdir(target.c_str(), 0777) != 0 && errno != EEXIST)
                return {"Cannot make the folder " + target + ": " + std::strerror(errno)};
            struct stat st;
            if (::lstat(target.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
                return {target + " is there and is no folder."};
            std::vector<RemoteEntry> entries;
            if (RemoteError error = files_->List(remote, FileSource::kChunkSize, [&](std::vector<RemoteEntry>&& chunk) {
                    for (RemoteEntry& e : chunk)
                        if (e.name != "..")
                            entries.push_back(std::move(e));
                    return true;
                }))
                return error;
            for (const RemoteEntry& e : entries) {
                if (stopped_)
                    break;
                // A link to a folder is not followed: it may lead back up.
                if (e.link && e.directory)
                    continue;
                if (RemoteError error = CopyOut(RemoteJoined(remote, e.name), target + "/", e.name, e.directory))
                    return error;
            }
            return {};
        }
        RemoteEntry incoming;
        if (RemoteError error = files_->Stat(remote, incoming))
            return error;
        struct stat existing;
        if (::lstat(target.c_str(), &existing) == 0) {
            if (S_ISDIR(existing.st_mode))
                return {target + " is a folder: the file " + name + " is not copied over it."};
            if (!MayReplace(target, {int64_t(existing.st_size), existing.st_mtime},
                            {int64_t(incoming.size), incoming.mtime}))
                return {};
        }
        files_->Asking(true);
        ui_.Status(name);
        files_->Asking(false);
        const std::string part = localFolder + PartName(name);
        const int fd = ::open(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0)
            return {"Cannot write in " + localFolder + ": " + std::strerror(errno)};
        RemoteError error = files_->Download(remote, fd, nullptr);
        if (!error) {
            ::fchmod(fd, mode_t(incoming.permissions & 0777 & ~CurrentUmask()));
            const timespec times[2] = {{incoming.mtime, 0}, {incoming.mtime, 0}};
            ::futimens(fd, times);
            if (::fsync(fd) != 0)
                error.text = "Cannot write " + target + ": " + std::strerror(errno);
        }
        ::close(fd);
        if (!error && ::rename(part.c_str(), target.c_str()) != 0)
            error.text = "Cannot write " + target + ": " + std::strerror(errno);
        if (error)
            ::unlink(part.c_str()); // nothing half-made stays
        return error;
    }

    RemoteError CopyIn(const std::string& local, const std::string& remoteFolder, const std::string& name, bool folder)
    {
        const std::string target = RemoteJoined(remoteFolder, name);
        bool exists = false;
        RemoteEntry existing;
        if (RemoteError error = files_->Exists(target, exists, existing))
            return error;
        if (folder) {
            if (!exists) {
                if (RemoteError error = files_->MakeFolder(target, 0755))
                    return error;
            } else if (!existing.directory) {
                return {target + " is there and is no folder."};
            }
            std::vector<std::pair<std::string, bool>> entries;
            if (!ReadDirectoryEntries(local, [&](DirectoryEntry&& e) {
                    if (e.name != "." && e.name != "..")
                        entries.emplace_back(std::move(e.name), (e.attr & faDirectory) != 0);
                }))
                return {"Cannot read the folder " + local + ": " + std::strerror(errno)};
            for (const auto& [child, isFolder] : entries) {
                if (stopped_)
                    break;
                struct stat st;
                const std::string path = local + "/" + child;
                // A link to a folder is not followed: it may lead back up.
                if (isFolder && (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)))
                    continue;
                if (RemoteError error = CopyIn(path, target, child, isFolder))
                    return error;
            }
            return {};
        }
        const int fd = OpenRegularFileForReading(local);
        if (fd < 0)
            return {"Cannot read " + local + ": it is no file that can be read."};
        struct stat st;
        ::fstat(fd, &st);
        if (exists) {
            if (existing.directory || !MayReplace(target, {int64_t(existing.size), existing.mtime},
                                                  {int64_t(st.st_size), st.st_mtime})) {
                ::close(fd);
                return existing.directory ? RemoteError{target + " is a folder: the file " + name + " is not copied over it."}
                                          : RemoteError{};
            }
        }
        ui_.Status(name);
        const std::string part = RemoteJoined(remoteFolder, PartName(name));
        RemoteError error = files_->Upload(fd, part, st.st_mode & 0777, st.st_mtime, nullptr);
        ::close(fd);
        if (!error)
            error = exists ? ReplaceRemote(part, target, remoteFolder, name) : files_->Rename(part, target);
        if (error && !error.lost)
            files_->Remove(part, false); // nothing half-made stays where it can be reached
        return error;
    }

    // The server's rename keeps what is at the target (the SFTP protocol's
    // own; libssh offers no other): the old file steps aside under a hidden
    // name, the new one takes its place, and the old one goes. Between the
    // two renames the name is empty for a moment, never half-written.
    RemoteError ReplaceRemote(const std::string& part, const std::string& target, const std::string& remoteFolder,
                              const std::string& name)
    {
        const std::string aside = RemoteJoined(remoteFolder, PartName(name) + ".old");
        if (RemoteError error = files_->Rename(target, aside))
            return error;
        if (RemoteError error = files_->Rename(part, target)) {
            if (!error.lost)
                files_->Rename(aside, target);
            return error;
        }
        files_->Remove(aside, false);
        return {};
    }

    RemoteError Delete(const std::string& remote, bool folder)
    {
        if (folder) {
            std::vector<RemoteEntry> entries;
            if (RemoteError error = files_->List(remote, FileSource::kChunkSize, [&](std::vector<RemoteEntry>&& chunk) {
                    for (RemoteEntry& e : chunk)
                        if (e.name != "..")
                            entries.push_back(std::move(e));
                    return true;
                }))
                return error;
            for (const RemoteEntry& e : entries)
                // A link is removed, never what it leads to.
                if (RemoteError error = Delete(RemoteJoined(remote, e.name), e.directory && !e.link))
                    return error;
        }
        ui_.Status(remote);
        return files_->Remove(remote, folder);
    }

    static mode_t CurrentUmask()
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

    int code_;
    PanePlace from_, to_;
    SourceOperationUi& ui_;
    std::shared_ptr<SshQuestions> questions_;
    RemoteFiles* files_ = nullptr;
    bool replaceAll_ = false, skipAll_ = false, stopped_ = false;
};

} // namespace

std::unique_ptr<SourceOperation> MakeSftpOperation(int code, const PanePlace& from, const PanePlace& to,
                                                   SourceOperationUi& ui, std::shared_ptr<SshQuestions> questions)
{
    return std::make_unique<SftpOperation>(code, from, to, ui, std::move(questions));
}

} // namespace tarnel
