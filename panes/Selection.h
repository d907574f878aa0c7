#pragma once
// Selecting rows by kind and summing up a selection.
#include "panes/RowText.h"

#include <string>

namespace tarnel {

struct TDirData;

enum SelectKind { selDirectories = 0, selFiles = 1, selBoth = 2 };

// Selects every directory (".." included), every file, or both; drives never.
void SelectAllOfKind(TDirData& pane, int mode);

struct SelectionTotals {
    int dirs = 0;  // ".." not counted
    int files = 0;
    int64_t bytes = 0; // files, and directories whose total is known
};
SelectionTotals SumSelection(const TDirData& pane);

// "Selected : %d dirs and %d files (%s bytes)", the total grouped and empty when 0.
std::string SelectionSummaryText(const SelectionTotals& totals, const DisplayLocale& locale);

} // namespace tarnel
