#pragma once
// Pane controls without a window: plain state that the command-line listing,
// the benchmarks and the tests read back.
#include "panes/PaneControls.h"

#include <vector>

namespace tarnel {

class HeadlessPane : public PaneControls {
public:
    // Every character counts this many pixels (UTF-8 continuation bytes count nothing).
    int charWidth = 7;

    std::string filterText = "*";
    std::vector<std::string> filterItems;
    int filterIndex = -1;
    int sortKey = 0;
    std::string pathLabel;
    int topRow = 0;
    int currentRow = -1;
    std::vector<bool> selected;
    int headerRepaints = 0;
    int historyChanges = 0;
    int workerRetries = 0; // asked for; a test runs StartPaneWorkers itself
    int busyDepth = 0;
    int updateDepth = 0;

    void BeginUpdate() override { ++updateDepth; }
    void EndUpdate() override { --updateDepth; }
    void SetRowCount(int rows) override;
    int RowCount() const override { return int(selected.size()); }
    int TopRow() const override { return topRow; }
    void SetTopRow(int row) override { topRow = row; }
    int CurrentRow() const override { return currentRow; }
    void SetCurrentRow(int row) override { currentRow = row; }
    bool IsSelected(int row) const override { return row >= 0 && row < RowCount() && selected[size_t(row)]; }
    void SetSelected(int row, bool on) override;
    void SetRangeSelected(int first, int last, bool on) override;
    void FocusList() override {}
    std::string FilterText() const override { return filterText; }
    void SetFilterItems(const std::vector<std::string>& items) override;
    void SelectFilterItem(int index) override;
    int SortKey() const override { return sortKey; }
    void SetSortKey(int key) override { sortKey = key; }
    void RepaintHeader() override { ++headerRepaints; }
    void SetPathLabel(const std::string& caption) override { pathLabel = caption; }
    int TextWidth(const std::string& text) const override;
    void BeginBusy() override { ++busyDepth; }
    void EndBusy() override { --busyDepth; }
    void HistoryChanged() override { ++historyChanges; }
    void RetryWorkersLater() override { ++workerRetries; }

    int SelectedCount() const;
};

} // namespace tarnel
