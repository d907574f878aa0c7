#include "panes/Navigation.h"

#include "panes/DirData.h"
#include "panes/PaneControls.h"
#include "panes/PathUtil.h"
#include "panes/ReadDirectory.h"
#include "platform/Volumes.h"

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

void MoveToHistoryEntry(TDirData& pane, const DisplayLocale& locale)
{
    const HistoryEntry& entry = pane.History[size_t(pane.HistoryIndex)];
    pane.Path = entry.path;
    pane.ZipPath = entry.zipPath;
    pane.ZipMode = entry.zipMode;
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
    if (entry.Kind == fkFile && !EndsWithZip(entry.Name))
        return OpenResult::OpenFile;
    const std::string name = entry.Name;
    const uint8_t kind = entry.Kind;
    RememberPlace(pane);
    if (kind == fkDirectory && name == "..") {
        GoToParent(pane, locale);
        return OpenResult::Moved;
    }
    if (kind == fkDirectory) {
        if (pane.ZipMode <= 0)
            pane.Path = AddPathDelimiter(pane.Path) + name;
        else
            pane.ZipPath += name + "/";
    } else if (kind == fkDrive) {
        const size_t k = size_t(currentRow - pane.DirCount - pane.FileCount);
        const DriveList& drives = pane.DriveSource();
        pane.Path = k < drives.size() ? drives[k].root : "/";
        pane.ZipPath.clear();
        pane.ZipMode = 0;
    } else { // an archive
        pane.Path = AddPathDelimiter(pane.Path) + name;
        ++pane.ZipMode;
        pane.ZipPath.clear();
    }
    RecordAndRead(pane, locale);
    return OpenResult::Moved;
}

void StepToParent(TDirData& pane)
{
    if (pane.ZipMode > 0) {
        if (!pane.ZipPath.empty()) {
            pane.ZipPath.pop_back();
            const size_t slash = pane.ZipPath.rfind('/');
            pane.ZipPath.erase(slash == std::string::npos ? 0 : slash + 1);
        } else {
            --pane.ZipMode;
        }
    }
    if (pane.ZipMode == 0) {
        std::string path = pane.Path;
        if (path.size() > 1 && path.back() == '/')
            path.pop_back();
        const size_t slash = path.rfind('/');
        path.erase(slash == std::string::npos ? 0 : slash + 1);
        pane.Path = path.empty() ? "/" : path;
    }
    if (pane.Path.size() > 1 && pane.Path.back() == '/')
        pane.Path.pop_back();
}

void GoToParent(TDirData& pane, const DisplayLocale& locale)
{
    StepToParent(pane);
    RecordAndRead(pane, locale);
}

void GoToRoot(TDirData& pane, const DisplayLocale& locale)
{
    pane.Path = VolumeRootOf(pane.Path);
    pane.ZipMode = 0;
    pane.ZipPath.clear();
    RecordAndRead(pane, locale);
}

void GoToDrive(TDirData& pane, const std::string& volumeRoot, const DisplayLocale& locale)
{
    RememberPlace(pane);
    pane.Path = volumeRoot;
    pane.ZipPath.clear();
    pane.ZipMode = 0;
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
    target.ZipMode = source.ZipMode;
    target.Path = source.Path;
    target.ZipPath = source.ZipPath;
    RecordAndRead(target, locale);
}

void GoToDirectory(TDirData& pane, const std::string& directory, const DisplayLocale& locale)
{
    RememberPlace(pane);
    pane.ZipMode = 0;
    pane.ZipPath.clear();
    pane.Path = AddPathDelimiter(directory);
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
    std::string text = AddPathDelimiter(pane.Path);
    if (pane.ZipMode > 0)
        text += pane.ZipPath;
    if (currentSelected && currentRow >= 0 && currentRow < pane.Count) {
        const TFileData& e = pane.Item(currentRow);
        if (e.Kind == fkDirectory || e.Kind == fkFile)
            text += e.Name;
    }
    return text;
}

} // namespace tarnel
