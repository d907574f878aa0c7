#include "panes/ReadDirectory.h"

#include "descriptions/Descriptions.h"
#include "panes/DirData.h"
#include "panes/Matcher.h"
#include "panes/PaneControls.h"
#include "panes/PathUtil.h"
#include "panes/Sorting.h"
#include "platform/DirectoryReader.h"

#include <algorithm>
#include <atomic>
#include <set>
#include <utility>

namespace tarnel {

namespace {

void ShowPathLabel(TDirData& pane, PaneControls& controls)
{
    controls.SetPathLabel(pane.Text()); // "/" is this platform's separator inside and outside archives
}

void Describe(TFileData& entry, const DescriptionList& descriptions)
{
    if (descriptions.Empty())
        return;
    if (const std::string* text = descriptions.Find(entry.Name))
        entry.Description = *text;
}

// Reads the disk into the listing. Directories are inserted at the front in
// the order met, so they end up reversed ahead of the files; collecting them
// apart gives that order without shifting the whole array per directory.
void ReadDisk(TDirData& pane, const std::string& filter, ExtensionList& patterns, const DescriptionList& descriptions)
{
    std::vector<TFileData*> dirs, files;
    ReadDirectoryEntries(pane.Path, [&](DirectoryEntry&& found) {
        if (found.name == ".")
            return;
        if (found.attr & faDirectory) {
            TFileData& e = pane.NewEntry();
            e.Kind = fkDirectory;
            e.Time = int32_t(found.dosTime);
            e.Attr = found.attr;
            e.Size = DirSizes().SizeOf(pane.Path + found.name);
            e.Name = std::move(found.name);
            Describe(e, descriptions);
            dirs.push_back(&e);
            return;
        }
        if (found.attr & faVolumeID)
            return;
        patterns.AddPattern(ExtensionPatternOf(found.name));
        if (!Match(filter, found.name))
            return;
        TFileData& e = pane.NewEntry();
        e.Kind = fkFile;
        e.Time = int32_t(found.dosTime);
        e.Attr = found.attr;
        e.Size = found.size;
        e.Name = std::move(found.name);
        Describe(e, descriptions);
        files.push_back(&e);
    });
    pane.Items.insert(pane.Items.end(), dirs.rbegin(), dirs.rend());
    pane.Items.insert(pane.Items.end(), files.begin(), files.end());
    pane.DirCount = int(dirs.size());
    pane.FileCount = int(files.size());
}

TFileData& NewDriveEntry(TDirData& pane, const Volume& volume)
{
    TFileData& e = pane.NewEntry();
    e.Kind = fkDrive;
    e.Name = volume.displayText;
    e.Size = 0;
    e.SizeDone = 1;
    return e;
}

void AppendDrives(TDirData& pane)
{
    for (const Volume& volume : pane.DriveSource()) {
        pane.Items.push_back(&NewDriveEntry(pane, volume));
        ++pane.DriveCount;
    }
}

using RowNames = std::vector<std::pair<uint8_t, std::string>>; // kind and name of each row

RowNames NamesOf(const TDirData& pane, const std::vector<int>& rows)
{
    RowNames names;
    for (const int row : rows)
        if (row >= 0 && row < pane.Count)
            names.emplace_back(pane.Item(row).Kind, pane.Item(row).Name);
    return names;
}

void SelectNamed(const TDirData& pane, PaneControls& controls, const RowNames& names)
{
    if (names.empty())
        return;
    std::set<std::pair<uint8_t, std::string>> wanted(names.begin(), names.end());
    for (int i = 0; i < pane.Count; ++i)
        if (wanted.count({pane.Item(i).Kind, pane.Item(i).Name}))
            controls.SetSelected(i, true);
}

int RowNamed(const TDirData& pane, const std::string& name)
{
    for (int i = 0; !name.empty() && i < pane.DirCount + pane.FileCount; ++i)
        if (pane.Item(i).Name == name)
            return i;
    return -1;
}

// Out-of-range remembered rows are ignored: the list keeps the sort's position.
void RestorePosition(TDirData& pane, PaneControls& controls, const std::string& cursorName)
{
    const std::string key = pane.Key();
    const int top = pane.Positions.TopIndexOf(key);
    if (top >= 0 && top < pane.Count)
        controls.SetTopRow(top);
    const int named = RowNamed(pane, cursorName);
    const int current = named >= 0 ? named : pane.Positions.ItemIndexOf(key);
    if (current >= 0 && current < pane.Count) {
        controls.SetSelected(current, true);
        controls.SetCurrentRow(current);
        controls.FocusList();
        controls.SetSelected(current, false);
    }
}

void SelectFilterItem(PaneControls& controls, const std::vector<std::string>& items, const std::string& filter)
{
    for (size_t i = 0; i < items.size(); ++i) {
        if (EqualsIgnoreCase(items[i], filter)) {
            controls.SelectFilterItem(int(i));
            return;
        }
    }
    // No item equals a filter text longer than an item can be: the box keeps
    // the typed text rather than going blank.
}

} // namespace

void ReadDirectory(TDirData& pane, const DisplayLocale& locale)
{
    PaneControls& controls = *pane.Controls;
    BusyScope busy(controls);
    const std::string filter = controls.FilterText();
    const std::string cursorName = std::exchange(pane.CursorName, std::string());
    pane.StopWorkers();

    DescriptionList descriptions;
    if (!pane.InArchive())
        LoadDescriptions(AddPathDelimiter(pane.Path), descriptions);

    pane.Path = AddPathDelimiter(pane.Path);
    ShowPathLabel(pane, controls);

    pane.ClearEntries();
    pane.BestWidths = {10, 10, 10};
    controls.SetRowCount(0);

    controls.SetFilterItems({});
    ExtensionList patterns;
    patterns.AddPattern("*");
    patterns.AddPattern(filter);

    controls.BeginUpdate();
    if (!pane.InArchive())
        ReadDisk(pane, filter, patterns, descriptions);
    else if (pane.ListArchive)
        pane.ListArchive(pane, filter, patterns);
    pane.Count = int(pane.Items.size());
    AppendDrives(pane);
    pane.Count = int(pane.Items.size());
    controls.SetRowCount(pane.Count);

    SortPane(pane, true, true);
    RestorePosition(pane, controls, cursorName);
    controls.EndUpdate();

    controls.SetFilterItems(patterns.Items());
    StartPaneWorkers(pane);
    SelectFilterItem(controls, patterns.Items(), filter);
    ComputeBestWidths(pane, locale);
    controls.ListingRead();
}

void StartPaneWorkers(TDirData& pane)
{
    if (pane.InArchive() || !pane.Workers)
        return;
    if (!pane.IconThread)
        pane.IconThread = pane.Workers->StartIconThread(pane, pane.IconMutex, pane.Path);
    if (!pane.SizeThread)
        pane.SizeThread = pane.Workers->StartSizeThread(pane, pane.IconMutex, pane.Path);
    if ((!pane.IconThread || !pane.SizeThread) && pane.Workers->MayStartLater(pane) && pane.Controls)
        pane.Controls->RetryWorkersLater();
}

void RereadPane(TDirData& pane, const DisplayLocale& locale)
{
    RecordHistory(pane);
    RememberPlace(pane);
    ReadDirectory(pane, locale);
}

void RereadKeepingSelection(TDirData& pane, const DisplayLocale& locale)
{
    PaneControls& controls = *pane.Controls;
    const RowNames selected = NamesOf(pane, controls.SelectedRows());
    const RowNames current = NamesOf(pane, {controls.CurrentRow()});
    if (!current.empty())
        pane.CursorName = current[0].second;
    RememberPlace(pane);
    RecordHistory(pane);
    ReadDirectory(pane, locale);
    SelectNamed(pane, controls, selected);
}

// The folder's rows keep their numbers; only those after them change. The
// pointers a let-go worker may still read are replaced one by one, as a
// sort swaps them, and the array is never moved while it might.
void ReplaceDriveRows(TDirData& pane, const DisplayLocale& locale)
{
    const DriveList& drives = pane.DriveSource();
    const size_t keep = size_t(pane.Count - pane.DriveCount);
    if (keep + drives.size() > pane.Items.capacity()) {
        RereadKeepingSelection(pane, locale);
        return;
    }
    PaneControls& controls = *pane.Controls;
    const RowNames selected = NamesOf(pane, controls.SelectedRows());
    const int top = controls.TopRow();
    const int current = controls.CurrentRow();
    const RowNames currentName = NamesOf(pane, {current});
    pane.StopWorkers();
    const size_t before = pane.Items.size();
    for (size_t k = 0; k < drives.size(); ++k) {
        TFileData* e = &NewDriveEntry(pane, drives[k]);
        if (keep + k < before)
            std::atomic_ref<TFileData*>(pane.Items[keep + k]).store(e, std::memory_order_relaxed);
        else
            pane.Items.push_back(e);
    }
    pane.Items.resize(keep + drives.size());
    pane.DriveCount = int(drives.size());
    pane.Count = int(pane.Items.size());

    controls.BeginUpdate();
    controls.SetRowCount(pane.Count);
    controls.SetTopRow(std::min(top, std::max(pane.Count - 1, 0)));
    int cursor = current >= 0 && size_t(current) < keep ? current : -1;
    for (int i = int(keep); cursor < 0 && !currentName.empty() && i < pane.Count; ++i)
        if (pane.Item(i).Name == currentName[0].second)
            cursor = i;
    if (cursor >= 0)
        controls.SetCurrentRow(cursor);
    SelectNamed(pane, controls, selected);
    controls.EndUpdate();
    StartPaneWorkers(pane);
    controls.ListingRead();
}

void ComputeBestWidths(TDirData& pane, const DisplayLocale& locale)
{
    PaneControls& controls = *pane.Controls;
    auto offer = [&](int slot, int width) { pane.BestWidths[size_t(slot)] = std::max(pane.BestWidths[size_t(slot)], width); };
    offer(1, controls.TextWidth(kWidestSizeText) + 3);
    std::vector<const std::string*> names;
    std::vector<int32_t> times;
    names.reserve(size_t(pane.Count));
    times.reserve(size_t(pane.Count));
    for (int i = 0; i < pane.Count; ++i) {
        const TFileData& e = pane.Item(i);
        names.push_back(&e.Name);
        if (e.Kind != fkDrive)
            times.push_back(e.Time);
    }
    if (!names.empty())
        offer(0, controls.WidestText(names) + controls.SmallIconWidth() + 2);
    // Many entries share a time: format and measure each one once.
    std::sort(times.begin(), times.end());
    times.erase(std::unique(times.begin(), times.end()), times.end());
    std::vector<std::string> timeTexts;
    timeTexts.reserve(times.size());
    for (const int32_t time : times)
        timeTexts.push_back(TimeText(time, locale));
    std::vector<const std::string*> timePointers;
    for (const std::string& text : timeTexts)
        timePointers.push_back(&text);
    if (!timePointers.empty())
        offer(2, controls.WidestText(timePointers) + 3);
}

} // namespace tarnel
