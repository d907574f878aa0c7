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

// The application that opens file: the default application of its MIME
// type; nothing when none is installed.
std::optional<DesktopEntry> GetOpenVerb(const std::string& file, const XdgDirs& dirs);

// Starts the default application on file in directory. The child's pid, or
// -1 when no application is found or it cannot be started.
pid_t OpenWithDefaultApplication(const std::string& file, const std::string& directory, const XdgDirs& dirs);

// The command that starts entry on file, terminal entries inside a terminal.
std::vector<std::string> LaunchCommand(const DesktopEntry& entry, const std::string& file);

// Opens directory in the desktop's file manager (xdg-open); the result is not examined.
void OpenInFileManager(const std::string& directory);

} // namespace tarnel
