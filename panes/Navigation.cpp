#include "panes/Navigation.h"

#include "panes/DirData.h"
#include "panes/PaneControls.h"
#include "panes/PathUtil.h"
#include "panes/ReadDirectory.h"
#include "platform/Volumes.h"
#include "platform/ssh/SftpUrl.h"
#include "sources/archive/ArchiveNames.h"

#include <algorithm>

namespace tarnel {

namespace {

void RecordAndRead(TDirData& pane, const DisplayLocale& locale)
{
    RecordHistory(pane);
    ReadDirectory(pane, locale);
}

bool EndsWithZip(const std::string& name)
{
    return name.size() >= 4 && EqualsIgnoreCase(std::string_view(name).substr(name.size() - 4), ".zip");
}

// The place an archive opened from inside another was entered from: the
// latest such place in the history before this one. Going up from the
// nested archive's top returns there, not to the folder its copy lies in.
const PanePlace* OuterArchivePlace(const TDirData& pane)
{
    if (pane.ZipMode < 2 || !pane.ZipPath.empty())
        return nullptr;
    for (int i = std::min(pane.HistoryIndex, int(pane.History.size())) - 1; i >= 0; --i)
        if (pane.History[size_t(i)].ZipMode == pane.ZipMode - 1)
            return &pane.History[size_t(i)];
    return nullptr;
}

void MoveToHistoryEntry(TDirData& pane, const DisplayLocale& locale)
{
    pane.MoveTo(pane.History[size_t(pane.HistoryIndex)]);
    ReadDirectory(pane, locale);
    if (pane.Controls)
        pane.Controls->HistoryChanged();
}

} // namespace

OpenResult OpenEntry(TDirData& pane, int currentRow, const DisplayLocale& locale)
{
    if (currentRow < 0 || currentRow >= pane.Count)
        return OpenResult::NoEntry;
    const TFileData& entry = pane.Item(currentRow);
    // An archive inside an archive is no folder of the disk that could be
    // entered: it opens like any other member, through its copy.
    const bool byName = EndsWithZip(entry.Name) || HasArchiveSuffix(entry.Name);
    if (entry.Kind == fkFile && (!byName || !pane.Can(Capability::DiskPaths)))
        return OpenResult::OpenFile;
    const std::string name = entry.Name;
    const uint8_t kind = entry.Kind;
    RememberPlace(pane);
    if (kind == fkDirectory && name == "..") {
        GoToParent(pane, locale);
        return OpenResult::Moved;
    }
    // An entry with a folder of its own (a find's results) leads to the disk there.
    const bool ownFolder = &pane.DirOf(entry) != &pane.Path;
    const std::string folder = pane.DirOf(entry);
    if (kind == fkDirectory && ownFolder) {
        pane.MoveTo(PanePlace::Directory(folder + name));
    } else if (kind == fkDirectory) {
        pane.MoveTo(pane.Child(name));
    } else if (kind == fkDrive) {
        const size_t k = size_t(currentRow - pane.DirCount - pane.FileCount);
        const DriveList& drives = pane.DriveSource();
        pane.MoveTo(PanePlace::Directory(k < drives.size() ? drives[k].root : "/"));
    } else { // an archive on disk
        PanePlace archive = PanePlace::Archive((ownFolder ? folder : AddPathDelimiter(pane.Path)) + name);
        if (!EndsWithZip(name))
            archive.SourceName = kArchiveSourceName;
        archive.ZipMode = ownFolder ? 1 : pane.ZipMode + 1;
        pane.MoveTo(archive);
    }
    RecordAndRead(pane, locale);
    return OpenResult::Moved;
}

void EnterArchiveFile(TDirData& pane, const std::string& file, bool zip, bool nested, const DisplayLocale& locale)
{
    RememberPlace(pane);
    PanePlace archive = PanePlace::Archive(file);
    if (!zip)
        archive.SourceName = kArchiveSourceName;
    archive.ZipMode = nested ? pane.ZipMode + 1 : 1;
    pane.MoveTo(archive);
    RecordAndRead(pane, locale);
}

void StepToParent(TDirData& pane)
{
    pane.CursorName = pane.NameInParent();
    if (const PanePlace* outer = OuterArchivePlace(pane)) {
        const PanePlace place = *outer; // MoveTo may change the history it lies in
        pane.MoveTo(place);
        return;
    }
    pane.MoveTo(pane.Parent());
}

void GoToParent(TDirData& pane, const DisplayLocale& locale)
{
    StepToParent(pane);
    RecordAndRead(pane, locale);
}

void GoToRoot(TDirData& pane, const DisplayLocale& locale)
{
    pane.MoveTo(PanePlace::Directory(VolumeRootOf(pane.Path)));
    RecordAndRead(pane, locale);
}

void GoToDrive(TDirData& pane, const std::string& volumeRoot, const DisplayLocale& locale)
{
    RememberPlace(pane);
    pane.MoveTo(PanePlace::Directory(volumeRoot));
    RecordAndRead(pane, locale);
}

bool CanGoBack(const TDirData& pane) { return pane.HistoryIndex > 0; }

bool CanGoForward(const TDirData& pane) { return pane.HistoryIndex < int(pane.History.size()) - 1; }

bool GoBack(TDirData& pane, const DisplayLocale& locale)
{
    if (!CanGoBack(pane))
        return false;
    --pane.HistoryIndex;
    MoveToHistoryEntry(pane, locale);
    return true;
}

bool GoForward(TDirData& pane, const DisplayLocale& locale)
{
    if (!CanGoForward(pane))
        return false;
    ++pane.HistoryIndex;
    MoveToHistoryEntry(pane, locale);
    return true;
}

void GoToOther(TDirData& target, TDirData& source, const DisplayLocale& locale)
{
    RememberPlace(source);
    RememberPlace(target);
    target.MoveTo(source.Place());
    RecordAndRead(target, locale);
}

void GoToDirectory(TDirData& pane, const std::string& directory, const DisplayLocale& locale)
{
    RememberPlace(pane);
    // A bookmark or a typed place may name a remote folder.
    pane.MoveTo(IsSftpText(directory) ? PanePlace::FromPath(AddPathDelimiter(directory))
                                      : PanePlace::Directory(AddPathDelimiter(directory)));
    RecordAndRead(pane, locale);
}

void Refresh(TDirData& active, TDirData& left, TDirData& right, const DisplayLocale& locale)
{
    RememberPlace(left);
    RememberPlace(right);
    RecordAndRead(active, locale);
}

std::string CopyPathText(const TDirData& pane, int currentRow, bool currentSelected)
{
    std::string text = pane.Text();
    if (currentSelected && currentRow >= 0 && currentRow < pane.Count) {
        const TFileData& e = pane.Item(currentRow);
        if ((e.Kind == fkDirectory || e.Kind == fkFile) && &pane.DirOf(e) != &pane.Path)
            text = pane.DirOf(e) + e.Name; // a found file's own folder
        else if (e.Kind == fkDirectory || e.Kind == fkFile)
            text += e.Name;
    }
    return text;
}

} // namespace tarnel
