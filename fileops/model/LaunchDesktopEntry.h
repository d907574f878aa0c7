#pragma once
// Desktop entries (.desktop files) and their Exec lines: what a file's
// default application is and how it is started, without any shell.
#include <string>
#include <vector>

namespace tarnel {

struct DesktopEntry {
    std::string id;       // desktop file id, e.g. "org.gnome.gedit.desktop"
    std::string location; // the file it was read from
    std::string name;     // Name (untranslated)
    std::string exec;     // Exec, string escapes already undone
    std::string tryExec;
    std::string icon;
    std::string path;     // working directory asked for; may be empty
    std::string type;     // "Application", ...
    bool terminal = false;
    bool hidden = false;     // Hidden=true: treat as deleted
    bool noDisplay = false;  // NoDisplay=true: it opens files but is not listed
    std::vector<std::string> mimeTypes; // MimeType=, the types it says it opens
};

// Reads the [Desktop Entry] group of a desktop file's text. False when the
// group is missing.
bool ParseDesktopEntry(const std::string& text, DesktopEntry& entry);

// Splits the Exec line into arguments (double quotes, backslash escapes
// inside them) and expands its field codes for one file: %f %F %u %U become
// the file as one argument, %i "--icon" and the icon, %c the name, %k the
// entry's location, %% a "%"; deprecated codes vanish. A line without a
// file code gets the file appended. False for a malformed line (an open
// quote, nothing to run).
bool ExpandExecLine(const DesktopEntry& entry, const std::string& file, std::vector<std::string>& argv);

// The same for several files: %F and %U give every file, each its own
// argument, in one command; %f and %u start one command per file; a line
// without a file code gets all of them appended. No files: the codes vanish.
bool ExpandExecLine(const DesktopEntry& entry, const std::vector<std::string>& files,
                    std::vector<std::vector<std::string>>& commands);

// The command that runs argv in the desktop's terminal ($TERMINAL, then
// x-terminal-emulator, then a few well-known terminals), each argument
// handed on as one; with argv empty, the terminal alone. Empty when no
// terminal is installed.
std::vector<std::string> TerminalCommand(const std::vector<std::string>& argv);

// The full path of program: itself when it is an absolute path, else the
// first executable file of that name in an absolute PATH entry. Empty
// entries, "." and other relative ones are never searched: they would name
// whatever folder the program happens to start in. "" when there is none,
// and for a relative path with a "/".
std::string FindProgram(const std::string& program);

// True when FindProgram finds program.
bool ProgramExists(const std::string& program);

} // namespace tarnel
