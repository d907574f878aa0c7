#include "sources/archive/ArchiveWriteOperations.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnel {

namespace {

std::string WithoutDelimiter(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

ArchiveWriteHooks HooksFor(SourceOperationUi& ui)
{
    ArchiveWriteHooks hooks;
    hooks.progress = [&ui](uint64_t done, uint64_t total, const std::string& name) {
        return ui.Progress(done, total, name);
    };
    hooks.askReplace = [&ui](const std::string& member, const ArchiveFacts& old, const ArchiveFacts& incoming) {
        return ui.AskReplaceMember(member, {old.size, old.time}, {incoming.size, incoming.time});
    };
    return hooks;
}

std::string Lines(const char* head, const std::vector<std::string>& lines)
{
    std::string text = head;
    for (const std::string& line : lines)
        text += "\n" + line;
    return text;
}

// Says how the work ended; true when the new archive is in place.
bool Report(const ArchiveWriteResult& result, SourceOperationUi& ui)
{
    if (!result.skipped.empty())
        ui.Error(Lines(kNotArchivedText, result.skipped));
    switch (result.status) {
    case ArchiveWriteResult::Status::Written: return true;
    case ArchiveWriteResult::Status::NothingDone:
    case ArchiveWriteResult::Status::Cancelled: return false;
    case ArchiveWriteResult::Status::Failed:
    case ArchiveWriteResult::Status::Incomplete: break;
    }
    if (result.error == kArchiveReadOnlyText)
        ui.Inform(result.error);
    else
        ui.Error(result.error);
    return false;
}

// Opens the folder at rel below top one step at a time, never through a link.
int OpenBelow(int top, const std::string& rel)
{
    int fd = ::dup(top);
    size_t at = 0;
    while (fd >= 0 && at < rel.size()) {
        const size_t slash = rel.find('/', at);
        const std::string part = rel.substr(at, slash == std::string::npos ? std::string::npos : slash - at);
        const int next = ::openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        ::close(fd);
        fd = next;
        at = slash == std::string::npos ? rel.size() : slash + 1;
    }
    return fd;
}

// Removes what went into the archive from the disk, deepest first; the
// paths of files that changed since they were read, which stay.
std::vector<std::string> RemoveArchived(const std::string& folder, const std::vector<ArchivedItem>& items)
{
    std::vector<std::string> changed;
    const int top = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (top < 0) {
        for (const ArchivedItem& item : items)
            if (!item.folder)
                changed.push_back(item.path);
        return changed;
    }
    const std::string prefix = folder == "/" ? "/" : folder + "/";
    std::string openDir;
    int dirFd = -1;
    for (auto it = items.rbegin(); it != items.rend(); ++it) {
        const ArchivedItem& item = *it;
        if (item.path.compare(0, prefix.size(), prefix) != 0)
            continue;
        const std::string rel = item.path.substr(prefix.size());
        const size_t slash = rel.rfind('/');
        const std::string dir = slash == std::string::npos ? "" : rel.substr(0, slash);
        const std::string leaf = slash == std::string::npos ? rel : rel.substr(slash + 1);
        if (dirFd < 0 || dir != openDir) {
            if (dirFd >= 0)
                ::close(dirFd);
            dirFd = OpenBelow(top, dir);
            openDir = dir;
        }
        struct stat st;
        const bool there = dirFd >= 0 && ::fstatat(dirFd, leaf.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
        if (item.folder) {
            // A folder goes only when emptied: it may hold what was left out.
            if (there && st.st_dev == item.stamp.dev && st.st_ino == item.stamp.ino)
                (void)::unlinkat(dirFd, leaf.c_str(), AT_REMOVEDIR);
            continue;
        }
        if (!there || StampFrom(st) != item.stamp || ::unlinkat(dirFd, leaf.c_str(), 0) != 0)
            changed.push_back(item.path);
    }
    if (dirFd >= 0)
        ::close(dirFd);
    ::close(top);
    return changed;
}

class ArchiveAdd final : public SourceOperation {
public:
    ArchiveAdd(const PanePlace& place, std::string folder, bool move, SourceOperationUi& ui)
        : archive_(place.ArchiveFile()), inside_(place.ZipPath), folder_(WithoutDelimiter(std::move(folder))),
          move_(move), ui_(ui)
    {
    }
    SourceOperationResult Run(const std::vector<SourceRow>& rows) override
    {
        std::vector<std::string> paths;
        for (const SourceRow& row : rows)
            if (!row.name.empty() && row.name != "." && row.name != ".." && row.name.find('/') == std::string::npos)
                paths.push_back((folder_ == "/" ? "" : folder_) + "/" + row.name);
        if (paths.empty())
            return {};
        const ArchiveWriteResult result = AddToArchive(archive_, inside_, paths, HooksFor(ui_));
        if (!Report(result, ui_))
            return {};
        if (move_) {
            const std::vector<std::string> changed = RemoveArchived(folder_, result.archived);
            if (!changed.empty())
                ui_.Error(Lines(kNotMovedAwayText, changed));
        }
        return {move_, true};
    }

private:
    std::string archive_, inside_, folder_;
    bool move_;
    SourceOperationUi& ui_;
};

class ArchiveDelete final : public SourceOperation {
public:
    ArchiveDelete(const PanePlace& place, SourceOperationUi& ui)
        : archive_(place.ArchiveFile()), inside_(place.ZipPath), ui_(ui)
    {
    }
    SourceOperationResult Run(const std::vector<SourceRow>& rows) override
    {
        std::vector<std::string> members;
        for (const SourceRow& row : rows)
            if (!row.name.empty() && row.name != "..")
                members.push_back(inside_ + row.name);
        if (members.empty())
            return {};
        const ArchiveWriteResult result = DeleteFromArchive(archive_, members, HooksFor(ui_));
        if (result.status == ArchiveWriteResult::Status::NothingDone) {
            ui_.Inform("The archive " + archive_ + " holds none of these members any more.");
            return {true, false};
        }
        return {Report(result, ui_), false};
    }

private:
    std::string archive_, inside_;
    SourceOperationUi& ui_;
};

class ArchiveCreate final : public SourceOperation {
public:
    ArchiveCreate(std::string path, ArchiveKind kind, std::vector<std::string> paths, SourceOperationUi& ui)
        : path_(std::move(path)), kind_(kind), paths_(std::move(paths)), ui_(ui)
    {
    }
    SourceOperationResult Run(const std::vector<SourceRow>&) override
    {
        const ArchiveWriteResult result = CreateArchive(path_, kind_, paths_, HooksFor(ui_));
        return {false, Report(result, ui_)};
    }

private:
    std::string path_;
    ArchiveKind kind_;
    std::vector<std::string> paths_;
    SourceOperationUi& ui_;
};

} // namespace

std::unique_ptr<SourceOperation> MakeArchiveAdd(const PanePlace& archivePlace, std::string diskFolder, bool move,
                                                SourceOperationUi& ui, const SourceOperationOptions&)
{
    return std::make_unique<ArchiveAdd>(archivePlace, std::move(diskFolder), move, ui);
}

std::unique_ptr<SourceOperation> MakeArchiveDelete(const PanePlace& archivePlace, SourceOperationUi& ui)
{
    return std::make_unique<ArchiveDelete>(archivePlace, ui);
}

std::unique_ptr<SourceOperation> MakeArchiveCreate(std::string archivePath, ArchiveKind kind,
                                                   std::vector<std::string> diskPaths, SourceOperationUi& ui)
{
    return std::make_unique<ArchiveCreate>(std::move(archivePath), kind, std::move(diskPaths), ui);
}

} // namespace tarnel
