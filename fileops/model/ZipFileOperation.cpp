#include "fileops/model/ZipFileOperation.h"

#include "fileops/model/ZipMaster.h"
#include "panes/DirData.h"
#include "panes/PathUtil.h"
#include "platform/zipdll/ZipDllApi.h"

#include <algorithm>
#include <map>
#include <set>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarnel {

namespace {

constexpr int kMove = 1, kCopy = 2, kDelete = 3, kRename = 4;

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
void OpenArchive(TZipMaster& zip, const std::string& archive, ZipOperationUi& ui)
{
    try {
        zip.SetZipFilename(archive);
    } catch (const ZipReadError& e) {
        ui.Error(e.what());
    }
}

void DeleteMembers(TZipMaster& zip, const std::vector<std::string>& files)
{
    zip.ExtrBaseDir.clear();
    zip.ExtrOptions = {};
    zip.AddOptions = {};
    zip.FSpecArgs = files;
    zip.DeleteFiles();
}

// Exact stored names, as many calls as the library's limit asks for.
void DeleteNamedMembers(TZipMaster& zip, const std::vector<std::string>& names)
{
    for (size_t at = 0; at < names.size(); at += ZIPDLL_MAX_SELECTORS) {
        const size_t end = std::min(names.size(), at + size_t(ZIPDLL_MAX_SELECTORS));
        DeleteMembers(zip, std::vector<std::string>(names.begin() + ptrdiff_t(at), names.begin() + ptrdiff_t(end)));
    }
}

// Members that met in one file on disk, the last written over the others,
// are taken out of names: deleting them all would lose every copy but one.
// They meet under one name twice, under names that differ only in empty or
// "." parts, or in case on a folder that ignores it; the file tells, not the
// names. False when some member was taken out.
bool OnlyMembersWhoseFileIsTheirOwn(const TZipMaster& zip, const std::string& base, std::vector<std::string>& names)
{
    std::map<std::string, int> uses;
    for (const ZipDirEntry& entry : zip.ZipContents())
        ++uses[entry.FileName];
    std::map<std::pair<dev_t, ino_t>, int> files;
    std::vector<std::pair<dev_t, ino_t>> fileOf(names.size());
    std::vector<bool> keep(names.size(), true);
    for (size_t i = 0; i < names.size(); ++i) {
        if (uses[names[i]] > 1) {
            keep[i] = false;
            continue;
        }
        if (!names[i].empty() && names[i].back() == '/')
            continue; // a folder holds its members; deleting its entry loses nothing
        struct stat st;
        if (::lstat((AddPathDelimiter(base) + names[i]).c_str(), &st) != 0) {
            keep[i] = false;
            continue;
        }
        fileOf[i] = {st.st_dev, st.st_ino};
        ++files[fileOf[i]];
    }
    std::vector<std::string> kept;
    for (size_t i = 0; i < names.size(); ++i)
        if (keep[i] && (fileOf[i] == std::pair<dev_t, ino_t>{} || files[fileOf[i]] == 1))
            kept.push_back(names[i]);
    const bool all = kept.size() == names.size();
    names = std::move(kept);
    return all;
}

// A folder's entry goes by "X/", which names the folder with all below it:
// it leaves the archive only with every member below it (in any case, as
// the selector compares), never taking a member that stayed.
void KeepFoldersThatStillHoldMembers(const TZipMaster& zip, std::vector<std::string>& names)
{
    const std::set<std::string> leaving(names.begin(), names.end());
    std::set<std::string> holding; // upper-cased folders above a member that stays
    for (const ZipDirEntry& entry : zip.ZipContents()) {
        if (leaving.count(entry.FileName))
            continue;
        for (size_t slash = entry.FileName.find('/'); slash != std::string::npos;
             slash = entry.FileName.find('/', slash + 1))
            holding.insert(UpperAscii(entry.FileName.substr(0, slash + 1)));
    }
    std::erase_if(names, [&](const std::string& name) {
        return !name.empty() && name.back() == '/' && holding.count(UpperAscii(name));
    });
}

ZipOperationResult FromArchive(int code, const ZipSide& source, const ZipSide& target,
                               const std::vector<std::string>& files, bool fastZipMove, TZipMaster& zip,
                               ZipOperationUi& ui)
{
    if (code == kRename) {
        ui.Inform(kRenameInZipText);
        return {};
    }
    if (code != kCopy && code != kMove && code != kDelete)
        return {}; // properties: nothing inside an archive
    if (code != kDelete && target.InArchive()) {
        ui.Inform(kBetweenZipsText);
        return {};
    }
    OpenArchive(zip, source.ArchiveFile(), ui);
    zip.ExtrBaseDir = target.Path;
    if (code == kDelete) {
        DeleteMembers(zip, files);
        return {true, false};
    }
    zip.ExtrOptions = {ExtrOpt::ExtrDirNames, ExtrOpt::ExtrOverWrite};
    zip.FSpecArgs = files;
    zip.ExtractFiles();
    if (code != kMove)
        return {false, true};
    // Only the members now on disk leave the archive, by their exact names:
    // the selection's patterns would also take what failed, or what another
    // user added while the question was open.
    std::vector<std::string> moved = zip.DoneMembers();
    const bool allTheirOwn = OnlyMembersWhoseFileIsTheirOwn(zip, target.Path, moved);
    const bool someFailed = zip.ErrorCount() > 0 || !allTheirOwn;
    if (moved.empty()) {
        if (someFailed)
            ui.Inform(kNotMovedText);
        return {false, true};
    }
    if (!fastZipMove && !ui.Confirm(kDeleteFromZipText))
        return {false, true};
    OpenArchive(zip, source.ArchiveFile(), ui);
    KeepFoldersThatStillHoldMembers(zip, moved); // as the archive is now, after the question
    DeleteNamedMembers(zip, moved);
    if (someFailed)
        ui.Inform(kNotMovedText);
    return {true, true};
}

ZipOperationResult IntoArchive(int code, const ZipSide& source, const ZipSide& target,
                               const std::vector<std::string>& files, TZipMaster& zip, ZipOperationUi& ui)
{
    OpenArchive(zip, target.ArchiveFile(), ui);
    WorkingDirectory here(source.Path);
    if (!here.Entered()) {
        ui.Error("Cannot enter the folder " + source.Path);
        return {};
    }
    zip.AddOptions = {AddOpt::AddDirNames, AddOpt::AddRecurseDirs, AddOpt::AddHiddenFiles};
    if (code == kMove)
        zip.AddOptions.Include(AddOpt::AddMove);
    zip.FSpecArgs = files;
    zip.AddFiles();
    return {code == kMove, true};
}

} // namespace

ZipSide SideOf(const TDirData& pane) { return pane.Place().WithDelimiter(); }

bool IsZipOperation(int code, const ZipSide& source, const ZipSide& target)
{
    return source.InArchive() || (target.InArchive() && (code == kMove || code == kCopy));
}

std::vector<std::string> ZipFileList(const TDirData& pane, const std::vector<int>& rows)
{
    const std::string prefix = pane.InArchive() ? pane.ZipPath : std::string();
    std::vector<std::string> files;
    for (const int row : rows) {
        if (row < 0 || row >= pane.Count)
            continue;
        const TFileData& e = pane.Item(row);
        if (e.Kind == fkDrive || e.IsParentEntry())
            continue;
        // A folder inside an archive as "X/": "X/*.*" would be one file
        // when a member of that very name exists.
        const char* folder = pane.InArchive() ? "/" : "/*.*";
        std::string selector = prefix + e.Name + (e.Kind == fkDirectory ? folder : "");
        selector.erase(0, selector.find_first_not_of('/'));
        files.push_back(std::move(selector));
    }
    return files;
}

ZipOperationResult RunZipOperation(int code, const ZipSide& source, const ZipSide& target,
                                   const std::vector<std::string>& files, bool fastZipMove, TZipMaster& zip,
                                   ZipOperationUi& ui)
{
    if (source.InArchive())
        return FromArchive(code, source, target, files, fastZipMove, zip, ui);
    if (target.InArchive() && (code == kCopy || code == kMove))
        return IntoArchive(code, source, target, files, zip, ui);
    return {};
}

} // namespace tarnel
