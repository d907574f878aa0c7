#include "fileops/model/ZipFileOperation.h"

#include "fileops/model/ZipMaster.h"
#include "panes/DirData.h"
#include "panes/PathUtil.h"
#include "platform/zipdll/ZipCentral.h"
#include "platform/zipdll/ZipDllApi.h"

#include <algorithm>
#include <functional>
#include <map>
#include <set>
#include <unordered_map>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnel {

namespace {

// Adding names files relative to the current directory; the caller's own
// current directory comes back afterwards.
class WorkingDirectory {
public:
    explicit WorkingDirectory(const std::string& dir) : saved_(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
        entered_ = ::chdir(dir.c_str()) == 0;
    }
    ~WorkingDirectory()
    {
        if (saved_ >= 0) {
            [[maybe_unused]] const int ignored = ::fchdir(saved_);
            ::close(saved_);
        }
    }
    WorkingDirectory(const WorkingDirectory&) = delete;
    WorkingDirectory& operator=(const WorkingDirectory&) = delete;
    bool Entered() const { return entered_; }

private:
    int saved_;
    bool entered_ = false;
};

// The archive's table is read before each use: the driver is shared.
// Damage is told at the first reading of an operation only.
void OpenArchive(TZipMaster& zip, const std::string& archive, SourceOperationUi& ui, bool report = true)
{
    try {
        zip.SetZipFilename(archive);
    } catch (const ZipReadError& e) {
        if (report)
            ui.Error(e.what());
    }
}

// A stored path that is absolute or climbs out: the library refuses it, so
// no file outside the target is asked about.
bool LeavesTheTarget(const std::string& name)
{
    if (name.empty() || name[0] == '/')
        return true;
    for (size_t start = 0; start <= name.size();) {
        const size_t slash = std::min(name.find('/', start), name.size());
        if (name.compare(start, slash - start, "..") == 0)
            return true;
        start = slash + 1;
    }
    return false;
}

// The library's error lines go to the status bar as they come; they are
// also shown together at the end, so that no member is missed silently.
class ErrorLines {
public:
    explicit ErrorLines(TZipMaster& zip) : zip_(zip), statusBar_(zip.OnMessage)
    {
        zip.OnMessage = [this](int errorCode, const std::string& text) {
            if (errorCode != 0)
                lines_.push_back(text);
            if (statusBar_)
                statusBar_(errorCode, text);
        };
    }
    ~ErrorLines() { zip_.OnMessage = statusBar_; }
    ErrorLines(const ErrorLines&) = delete;
    ErrorLines& operator=(const ErrorLines&) = delete;

    void Show(SourceOperationUi& ui, const char* headline) const
    {
        if (lines_.empty())
            return;
        std::string text = headline;
        for (size_t i = 0; i < lines_.size() && i < 10; ++i)
            text += "\n" + lines_[i];
        if (lines_.size() > 10)
            text += "\n...";
        ui.Error(text);
    }

private:
    TZipMaster& zip_;
    std::function<void(int, const std::string&)> statusBar_;
    std::vector<std::string> lines_;
};

using Indexes = std::vector<int64_t>;
using EntryMap = std::unordered_map<int64_t, const ZipDirEntry*>;

EntryMap EntriesByIndex(const TZipMaster& zip)
{
    EntryMap map;
    for (const ZipDirEntry& e : zip.ZipContents())
        if (e.CentralIndex >= 0)
            map.emplace(e.CentralIndex, &e);
    return map;
}

// Members leave by their indexes, never by a name that could act as a
// pattern. Highest first, as many calls as the library's limit asks for:
// deleting shifts only the indexes after the deleted ones.
void DeleteByIndex(TZipMaster& zip, Indexes indexes)
{
    std::sort(indexes.begin(), indexes.end(), std::greater<>());
    for (size_t at = 0; at < indexes.size(); at += ZIPDLL_MAX_SELECTORS) {
        const size_t end = std::min(indexes.size(), at + size_t(ZIPDLL_MAX_SELECTORS));
        zip.ExtrBaseDir.clear();
        zip.ExtrOptions = {};
        zip.AddOptions = {};
        zip.FSpecArgs.clear();
        for (size_t i = at; i < end; ++i)
            zip.FSpecArgs.push_back(std::to_string(indexes[i]));
        zip.SelectByIndex = true;
        zip.DeleteFiles();
    }
}

bool StartsWithIgnoreCase(const std::string& text, const std::string& prefix)
{
    return text.size() >= prefix.size() && EqualsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

// The members the rows stand for, in table order: a file row is the one
// member its index names, and that member must still bear the row's name;
// a folder row is every member below it. False (with the error shown) when
// a row names no member as it was listed.
bool MembersOfRows(const TZipMaster& zip, const ZipSide& source, const std::vector<SourceRow>& rows, Indexes& out,
                   SourceOperationUi& ui)
{
    const EntryMap byIndex = EntriesByIndex(zip);
    std::set<int64_t> chosen;
    std::vector<std::string> folders;
    for (const SourceRow& row : rows) {
        if (row.folder) {
            folders.push_back(source.ZipPath + row.name + "/");
            continue;
        }
        const auto it = byIndex.find(row.index);
        const std::string& name = it == byIndex.end() ? std::string() : it->second->FileName;
        if (it == byIndex.end() || name.size() != source.ZipPath.size() + row.name.size() ||
            !StartsWithIgnoreCase(name, source.ZipPath) || name.compare(source.ZipPath.size(), std::string::npos, row.name) != 0) {
            ui.Error("The archive no longer holds " + row.name +
                     " as it was listed (it changed, or its entry is damaged); nothing was done.");
            return false;
        }
        chosen.insert(row.index);
    }
    for (const ZipDirEntry& e : zip.ZipContents())
        if (e.CentralIndex >= 0 && std::any_of(folders.begin(), folders.end(), [&](const std::string& folder) {
                return StartsWithIgnoreCase(e.FileName, folder);
            }))
            chosen.insert(e.CentralIndex);
    out.clear();
    for (const ZipDirEntry& e : zip.ZipContents())
        if (chosen.count(e.CentralIndex))
            out.push_back(e.CentralIndex);
    return true;
}

// Members that met in one file on disk, the last written over the others,
// are taken out of moved: deleting them all would lose every copy but one.
// They meet under one name twice, under names that differ only in empty or
// "." parts, or in case on a folder that ignores it; the file tells, not the
// names. False when some member was taken out.
bool OnlyMembersWhoseFileIsTheirOwn(const TZipMaster& zip, const std::string& base, Indexes& moved)
{
    const EntryMap byIndex = EntriesByIndex(zip);
    std::map<std::string, int> uses;
    for (const ZipDirEntry& entry : zip.ZipContents())
        ++uses[entry.FileName];
    std::map<std::pair<dev_t, ino_t>, int> files;
    std::vector<std::pair<dev_t, ino_t>> fileOf(moved.size());
    std::vector<bool> keep(moved.size(), true);
    for (size_t i = 0; i < moved.size(); ++i) {
        const auto it = byIndex.find(moved[i]);
        if (it == byIndex.end() || uses[it->second->FileName] > 1) {
            keep[i] = false;
            continue;
        }
        const std::string& name = it->second->FileName;
        if (!name.empty() && name.back() == '/')
            continue; // a folder holds its members; deleting its entry loses nothing
        struct stat st;
        if (::lstat((AddPathDelimiter(base) + name).c_str(), &st) != 0) {
            keep[i] = false;
            continue;
        }
        fileOf[i] = {st.st_dev, st.st_ino};
        ++files[fileOf[i]];
    }
    Indexes kept;
    for (size_t i = 0; i < moved.size(); ++i)
        if (keep[i] && (fileOf[i] == std::pair<dev_t, ino_t>{} || files[fileOf[i]] == 1))
            kept.push_back(moved[i]);
    const bool all = kept.size() == moved.size();
    moved = std::move(kept);
    return all;
}

// A folder's entry leaves the archive only with every member below it (in
// any case, as the listing merges folders), never taking a member that stayed.
void KeepFoldersThatStillHoldMembers(const TZipMaster& zip, Indexes& moved)
{
    const std::set<int64_t> leaving(moved.begin(), moved.end());
    std::set<std::string> holding; // upper-cased folders above a member that stays
    for (const ZipDirEntry& entry : zip.ZipContents()) {
        if (leaving.count(entry.CentralIndex))
            continue;
        for (size_t slash = entry.FileName.find('/'); slash != std::string::npos;
             slash = entry.FileName.find('/', slash + 1))
            holding.insert(UpperAscii(entry.FileName.substr(0, slash + 1)));
    }
    const EntryMap byIndex = EntriesByIndex(zip);
    std::erase_if(moved, [&](int64_t index) {
        const std::string& name = byIndex.at(index)->FileName;
        return !name.empty() && name.back() == '/' && holding.count(UpperAscii(name));
    });
}

// Asks before a member replaces a file at the target, as a disk copy does.
// Splits the members into those whose file may be replaced and those that
// must find none; false when the user cancelled.
bool AskBeforeReplacing(const TZipMaster& zip, const ZipSide& source, const ZipSide& target, const Indexes& members,
                        Indexes& replace, Indexes& fresh, SourceOperationUi& ui)
{
    struct stat archive {};
    const bool archiveKnown = ::stat(source.ArchiveFile().c_str(), &archive) == 0;
    const EntryMap byIndex = EntriesByIndex(zip);
    ReplaceQuestions questions;
    for (const int64_t index : members) {
        const ZipDirEntry& e = *byIndex.at(index);
        struct stat st;
        const std::string path = AddPathDelimiter(target.Path) + e.FileName;
        if (e.IsDirectory() || e.FileName.find('\0') != std::string::npos || LeavesTheTarget(e.FileName) ||
            ::lstat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) {
            fresh.push_back(index); // the library refuses what cannot be written
            continue;
        }
        // The archive itself is never replaced: the library refuses it and says so.
        if (archiveKnown && st.st_dev == archive.st_dev && st.st_ino == archive.st_ino) {
            replace.push_back(index);
            continue;
        }
        const SourceOperationUi::FileFacts existing{int64_t(st.st_size), int64_t(st.st_mtime)};
        const SourceOperationUi::FileFacts incoming{int64_t(e.UncompressedSize), zipcentral::UnixTimeFromDos(e.DateTime)};
        const ReplaceQuestions::Choice choice = questions.Next([&] { return ui.AskReplace(path, existing, incoming); });
        if (choice == ReplaceQuestions::Choice::Stop)
            return false;
        if (choice == ReplaceQuestions::Choice::Replace)
            replace.push_back(index);
    }
    return true;
}

// Extracts with the stored folders; overwrite only where the user allowed
// it. Returns the members written whole; failures counts those reported.
Indexes Extract(TZipMaster& zip, const std::string& targetDir, const Indexes& members, bool overwrite, int& failures)
{
    Indexes done;
    for (size_t at = 0; at < members.size(); at += ZIPDLL_MAX_SELECTORS) {
        const size_t end = std::min(members.size(), at + size_t(ZIPDLL_MAX_SELECTORS));
        zip.ExtrBaseDir = targetDir;
        zip.ExtrOptions = {ExtrOpt::ExtrDirNames};
        if (overwrite)
            zip.ExtrOptions.Include(ExtrOpt::ExtrOverWrite);
        zip.FSpecArgs.clear();
        for (size_t i = at; i < end; ++i)
            zip.FSpecArgs.push_back(std::to_string(members[i]));
        zip.SelectByIndex = true;
        zip.ExtractFiles();
        done.insert(done.end(), zip.DoneIndexes().begin(), zip.DoneIndexes().end());
        failures += zip.ErrorCount();
    }
    return done;
}

// The names of indexes, to tell whether the archive still holds them as
// they were when read.
std::map<int64_t, std::string> NamesOf(const TZipMaster& zip, const Indexes& indexes)
{
    const EntryMap byIndex = EntriesByIndex(zip);
    std::map<int64_t, std::string> names;
    for (const int64_t index : indexes) {
        const auto it = byIndex.find(index);
        names[index] = it == byIndex.end() ? std::string() : it->second->FileName;
    }
    return names;
}

} // namespace

SourceOperationResult ExtractFromArchive(int code, const ZipSide& source, const ZipSide& target,
                                         const std::vector<SourceRow>& rows, bool fastZipMove, TZipMaster& zip,
                                         SourceOperationUi& ui)
{
    if (code == FO_RENAME) {
        ui.Inform(kRenameInZipText);
        return {};
    }
    if (code != FO_COPY && code != FO_MOVE && code != FO_DELETE)
        return {}; // properties: nothing inside an archive
    OpenArchive(zip, source.ArchiveFile(), ui);
    Indexes members;
    if (!MembersOfRows(zip, source, rows, members, ui) || members.empty())
        return {};
    if (code == FO_DELETE) {
        ErrorLines errors(zip);
        DeleteByIndex(zip, members);
        errors.Show(ui, kNotDeletedText);
        return {true, false};
    }
    Indexes replace, fresh;
    if (!AskBeforeReplacing(zip, source, target, members, replace, fresh, ui))
        return {};
    // Read again: the questions' event loop may have let the shared driver
    // read another archive.
    const std::map<int64_t, std::string> asAsked = NamesOf(zip, members);
    OpenArchive(zip, source.ArchiveFile(), ui, false);
    if (NamesOf(zip, members) != asAsked) {
        ui.Error("The archive " + source.ArchiveFile() + " changed meanwhile; nothing was extracted.");
        return {};
    }
    int failures = 0;
    // The library's error lines go to the status bar as they come; a copy
    // also shows them together at its end, so no member is missed silently.
    ErrorLines errors(zip);
    Indexes moved = Extract(zip, target.Path, replace, true, failures);
    const Indexes freshDone = Extract(zip, target.Path, fresh, false, failures);
    moved.insert(moved.end(), freshDone.begin(), freshDone.end());
    if (code != FO_MOVE) {
        errors.Show(ui, kNotCopiedText);
        return {false, true};
    }
    // Only the members now on disk leave the archive, by their indexes: the
    // selection would also take what failed.
    const bool allTheirOwn = OnlyMembersWhoseFileIsTheirOwn(zip, target.Path, moved);
    const bool someFailed = failures > 0 || !allTheirOwn;
    if (moved.empty()) {
        if (someFailed)
            ui.Inform(kNotMovedText);
        return {false, true};
    }
    const std::map<int64_t, std::string> extracted = NamesOf(zip, moved);
    if (!fastZipMove && !ui.Confirm(kDeleteFromZipText))
        return {false, true};
    OpenArchive(zip, source.ArchiveFile(), ui, false);
    // Indexes hold only for the archive as it was: one changed meanwhile
    // keeps all its members.
    if (NamesOf(zip, moved) != extracted) {
        ui.Error("The archive " + source.ArchiveFile() + " changed meanwhile; nothing was deleted from it.");
        return {false, true};
    }
    KeepFoldersThatStillHoldMembers(zip, moved);
    DeleteByIndex(zip, moved);
    if (someFailed)
        ui.Inform(kNotMovedText);
    return {true, true};
}

SourceOperationResult AddToArchive(int code, const ZipSide& source, const ZipSide& target,
                                   const std::vector<SourceRow>& rows, TZipMaster& zip, SourceOperationUi& ui)
{
    std::vector<std::string> files;
    for (const SourceRow& row : rows)
        files.push_back(row.name + (row.folder ? "/*.*" : ""));
    OpenArchive(zip, target.ArchiveFile(), ui);
    zip.AddOptions = {AddOpt::AddDirNames, AddOpt::AddRecurseDirs, AddOpt::AddHiddenFiles};
    if (code == FO_MOVE)
        zip.AddOptions.Include(AddOpt::AddMove);
    zip.FSpecArgs = files;
    ErrorLines errors(zip);
    {
        // No other call changes the directory under this one; released
        // before anything is asked, or listings of archives would wait on the user.
        const std::lock_guard lock(ArchiveCallLock());
        WorkingDirectory here(source.Path);
        if (!here.Entered()) {
            ui.Error("Cannot enter the folder " + source.Path);
            return {};
        }
        zip.AddFiles();
    }
    errors.Show(ui, kNotAddedText);
    return {code == FO_MOVE, true};
}

ZipSide SideOf(const TDirData& pane) { return pane.Place().WithDelimiter(); }

std::vector<SourceRow> SourceRowsOf(const TDirData& pane, const std::vector<int>& rows)
{
    std::vector<SourceRow> out;
    for (const int row : rows) {
        if (row < 0 || row >= pane.Count)
            continue;
        const TFileData& e = pane.Item(row);
        if (e.Kind == fkDrive || e.IsParentEntry())
            continue;
        out.push_back({e.Name, e.Kind == fkDirectory, e.ZipIndex});
    }
    return out;
}

} // namespace tarnel
