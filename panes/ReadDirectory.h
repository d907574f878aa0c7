#pragma once
// Rebuilding a pane's listing.
#include "panes/RowText.h"

#include <functional>

namespace tarnel {

struct TDirData;

// Stops the pane's workers, reads its place (disk or archive), appends the
// drive rows, sorts, restores the remembered position, refills the filter
// drop-down, starts the workers and measures the columns.
void ReadDirectory(TDirData& pane, const DisplayLocale& locale = {});

// Records the place in the history, remembers the list position and the
// computed totals, then reads the pane again.
void RereadPane(TDirData& pane, const DisplayLocale& locale = {});

// Reads the pane again at its place (recorded and remembered as a refresh);
// the rows selected before, and the cursor, stay on the entries of the same
// names.
void RereadKeepingSelection(TDirData& pane, const DisplayLocale& locale = {});

// The drive list changed: the pane's drive rows follow it, the folder is not
// read again, selection and cursor stay.
void ReplaceDriveRows(TDirData& pane, const DisplayLocale& locale = {});

// Runs then once the pane's listing is whole: at once when no read is under
// way, after the read's last step otherwise. A new read started before drops it.
void WhenRead(TDirData& pane, std::function<void()> then);

// Starts the icon and size workers the listing of a disk folder lacks. One
// refused because the last of its kind still winds down (a loaded machine
// keeping an idle thread waiting, a file system that hangs) is asked for
// again through the pane's controls, so the totals still fill in.
void StartPaneWorkers(TDirData& pane);

// Widths that fit the longest name, size and time texts of the listing.
void ComputeBestWidths(TDirData& pane, const DisplayLocale& locale);

inline constexpr const char* kWidestSizeText = "9.999/9.999";

} // namespace tarnel
