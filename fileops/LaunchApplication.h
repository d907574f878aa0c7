#pragma once
// Starting the desktop's default application for a file or a directory.
#include "fileops/model/LaunchDesktopEntry.h"

#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace tarnel {

struct XdgDirs;

// The file's MIME type and the types it is a kind of, most special first:
// by name, and by content for a regular file whose name is not telling.
// Only regular files are ever opened, and only their first bytes read.
std::vector<std::string> MimeTypesOf(const std::string& file);

// The same for a name alone, without looking at the disk (the list's
// context menu asks for a row whose file may sit on a dead mount).
std::vector<std::string> MimeTypesOfName(const std::string& name, bool directory);

// The application that opens file: the default application of its MIME
// type; nothing when none is installed.
std::optional<DesktopEntry> GetOpenVerb(const std::string& file, const XdgDirs& dirs);

// Starts the default application on file in directory. The child's pid, or
// -1 when no application is found or it cannot be started.
pid_t OpenWithDefaultApplication(const std::string& file, const std::string& directory, const XdgDirs& dirs);

// The command that starts entry on file, terminal entries inside a terminal.
std::vector<std::string> LaunchCommand(const DesktopEntry& entry, const std::string& file);

// The commands that start entry on files (one, or one per file, as its
// Exec line asks), terminal entries inside the desktop's terminal. Empty,
// with the reason in error, when it cannot be started.
std::vector<std::vector<std::string>> LaunchCommands(const DesktopEntry& entry, const std::vector<std::string>& files,
                                                     std::string& error);

// Starts each command in workingDir (when that is a directory) and leaves it
// running; the first failure's text, "" when all started. Blocks while the
// folder is looked at: call it off the window's thread.
std::string StartCommands(const std::vector<std::vector<std::string>>& commands, const std::string& workingDir);

// Opens directory in the desktop's file manager (xdg-open). The failure's
// text, "" when it started; xdg-open's own "no application" is a failure
// too when it says so within a few seconds. Blocks: call it off the
// window's thread.
std::string OpenInFileManager(const std::string& directory);

} // namespace tarnel
