#include "panes/Selection.h"

#include "panes/DirData.h"
#include "panes/PaneControls.h"

namespace tarnel {

void SelectAllOfKind(TDirData& pane, int mode)
{
    PaneControls& controls = *pane.Controls;
    if (pane.Count > 0)
        controls.SetRangeSelected(0, pane.Count - 1, false);
    int last = pane.Count - 1;
    while (last >= 0 && pane.Item(last).Kind == fkDrive)
        --last;
    if (mode == selDirectories)
        while (last >= 0 && pane.Item(last).Kind == fkFile)
            --last;
    int first = 0;
    if (mode == selFiles) {
        while (first < last && pane.Item(first).Kind == fkDirectory)
            ++first;
        if (first <= last && pane.Item(first).Kind == fkDirectory)
            ++first;
    }
    if (last >= 0 && first <= last)
        controls.SetRangeSelected(first, last, true);
}

SelectionTotals SumSelection(const TDirData& pane)
{
    SelectionTotals totals;
    const PaneControls& controls = *pane.Controls;
    for (const int i : controls.SelectedRows()) {
        if (i < 0 || i >= pane.Count)
            continue;
        const TFileData& e = pane.Item(i);
        const int64_t size = e.Size.load(std::memory_order_relaxed);
        if (e.Kind == fkFile) {
            ++totals.files;
            totals.bytes += size;
        } else if (e.Kind == fkDirectory && e.Name != "..") {
            ++totals.dirs;
            if (size != -1)
                totals.bytes += size;
        }
    }
    return totals;
}

std::string SelectionSummaryText(const SelectionTotals& totals, const DisplayLocale& locale)
{
    const std::string bytes = totals.bytes == 0 ? std::string() : FormatGrouped(double(totals.bytes), 0, locale);
    return "Selected : " + std::to_string(totals.dirs) + " dirs and " + std::to_string(totals.files) + " files (" +
           bytes + " bytes)";
}

} // namespace tarnel
