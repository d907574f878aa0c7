#pragma once
// Moving a pane from one place to another. Each step that changes the place
// remembers the old one, records the new one in the history and reads it.
#include <string>

namespace tarnel {

struct TDirData;
struct DisplayLocale;

enum class OpenResult { Moved, NoEntry, OpenFile };

// Enters the current entry: a directory (".." goes up), a drive, or an
// archive its name tells. Any other file is left to the caller (OpenFile),
// which may find it an archive by its content.
OpenResult OpenEntry(TDirData& pane, int currentRow, const DisplayLocale& locale);
// Enters the archive file (a ZIP, or another kind the archive source reads);
// nested: it is the copy of a member of the archive the pane shows.
void EnterArchiveFile(TDirData& pane, const std::string& file, bool zip, bool nested, const DisplayLocale& locale);
void GoToParent(TDirData& pane, const DisplayLocale& locale);
void GoToRoot(TDirData& pane, const DisplayLocale& locale);
void GoToDrive(TDirData& pane, const std::string& volumeRoot, const DisplayLocale& locale);
bool GoBack(TDirData& pane, const DisplayLocale& locale);
bool GoForward(TDirData& pane, const DisplayLocale& locale);
// The target takes the source's place, the inside of an archive included.
void GoToOther(TDirData& target, TDirData& source, const DisplayLocale& locale);
// A directory handed over from outside the program.
void GoToDirectory(TDirData& pane, const std::string& directory, const DisplayLocale& locale);
// Re-reads both panes' places remembered, the given one read again.
void Refresh(TDirData& active, TDirData& left, TDirData& right, const DisplayLocale& locale);

// The parent place by the path rules (disk, or inside an archive).
void StepToParent(TDirData& pane);
// The text "Copy path to clipboard" puts on the clipboard.
std::string CopyPathText(const TDirData& pane, int currentRow, bool currentSelected);

bool CanGoBack(const TDirData& pane);
bool CanGoForward(const TDirData& pane);

} // namespace tarnel
