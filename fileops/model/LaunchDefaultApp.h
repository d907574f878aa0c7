#pragma once
// The default application of a MIME type, as the XDG MIME Applications
// rules find it: mimeapps.list files, then mimeinfo.cache.
#include "fileops/model/LaunchDesktopEntry.h"

#include <optional>
#include <string>
#include <vector>

namespace tarnel {

struct XdgDirs {
    std::string configHome;               // $XDG_CONFIG_HOME or ~/.config
    std::vector<std::string> configDirs;  // $XDG_CONFIG_DIRS or /etc/xdg
    std::string dataHome;                 // $XDG_DATA_HOME or ~/.local/share
    std::vector<std::string> dataDirs;    // $XDG_DATA_DIRS or /usr/local/share:/usr/share
    std::vector<std::string> desktops;    // $XDG_CURRENT_DESKTOP, lower-cased, in order

    static XdgDirs FromEnvironment();
    // The applications/ directories, most important first.
    std::vector<std::string> ApplicationDirs() const;
};

// Reads the desktop file of id from the applications directories; nothing
// when it is missing, hidden, not an application, or its TryExec program
// is not installed.
std::optional<DesktopEntry> FindDesktopEntry(const std::string& id, const XdgDirs& dirs);

// The default application for the first of mimeTypes (a type, then the
// types it is a kind of) that has one.
std::optional<DesktopEntry> FindDefaultApplication(const std::vector<std::string>& mimeTypes, const XdgDirs& dirs);

// Every installed application that opens one of mimeTypes, as an "Open
// with" menu lists them: for each type in turn its defaults, then the
// associations of the mimeapps.list files and of the applications
// directories (their mimeinfo.cache, else their desktop files' MimeType=),
// the more important directory first. An association a more important
// mimeapps.list removed is left out, as are NoDisplay entries; each
// application once.
std::vector<DesktopEntry> FindApplications(const std::vector<std::string>& mimeTypes, const XdgDirs& dirs);

} // namespace tarnel
