#pragma once
// "Auto load Tarnel at startup": the desktop session's autostart entry,
// $XDG_CONFIG_HOME/autostart/tarnel.desktop (default ~/.config/autostart).
// Its presence is the setting; an entry already there is the user's (or an
// administrator's) and is never rewritten, only deleted when switched off.
#include <string>

namespace tarnel {

// The entry's full path.
std::string AutostartFile();
bool AutostartExists();

// The file's text for programPath: the program started with "-min", quoted
// as desktop entries require.
std::string AutostartEntry(const std::string& programPath);

// on: writes the entry unless one exists (atomically: a temporary file beside
// it, then a rename that never replaces). off: deletes the entry if any.
// False when the file system refused; callers do not report it.
bool SetAutostart(bool on, const std::string& programPath);

} // namespace tarnel
