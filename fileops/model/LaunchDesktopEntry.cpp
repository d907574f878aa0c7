#include "fileops/model/LaunchDesktopEntry.h"

#include <cstdlib>
#include <sstream>

#include <sys/stat.h>
#include <unistd.h>

namespace tarnel {

namespace {

std::string Trimmed(const std::string& text)
{
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// The escapes of a desktop file's string values.
std::string UnescapeValue(const std::string& value)
{
    std::string out;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        switch (value[++i]) {
        case 's': out += ' '; break;
        case 'n': out += '\n'; break;
        case 't': out += '\t'; break;
        case 'r': out += '\r'; break;
        case '\\': out += '\\'; break;
        default: out += '\\'; out += value[i]; break; // left for the Exec quoting rules
        }
    }
    return out;
}

// Arguments of an Exec line: blanks separate, double quotes group, and a
// backslash inside quotes takes the next character literally.
bool SplitExecLine(const std::string& line, std::vector<std::string>& words, std::vector<bool>& quoted)
{
    std::string word;
    bool inWord = false, inQuotes = false, wasQuoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (inQuotes) {
            if (c == '\\' && i + 1 < line.size())
                word += line[++i];
            else if (c == '"')
                inQuotes = false;
            else
                word += c;
        } else if (c == '"') {
            inQuotes = inWord = wasQuoted = true;
        } else if (c == ' ' || c == '\t' || c == '\n') {
            if (inWord) {
                words.push_back(word);
                quoted.push_back(wasQuoted);
            }
            word.clear();
            inWord = wasQuoted = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inQuotes)
        return false;
    if (inWord) {
        words.push_back(word);
        quoted.push_back(wasQuoted);
    }
    return true;
}

bool IsFileCode(char c) { return c == 'f' || c == 'F' || c == 'u' || c == 'U'; }
bool IsListCode(char c) { return c == 'F' || c == 'U'; }

// A string list value: ";" separates, "\;" is a ";" inside an item.
std::vector<std::string> SplitList(const std::string& value)
{
    std::vector<std::string> items;
    std::string item;
    for (size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size() && value[i + 1] == ';') {
            item += value[++i];
        } else if (value[i] == ';') {
            if (!item.empty())
                items.push_back(item);
            item.clear();
        } else {
            item += value[i];
        }
    }
    if (!item.empty())
        items.push_back(item);
    return items;
}

// One command from the split line: a standalone list code gives every file
// of listFiles, any other file code the one file (none: it vanishes).
std::vector<std::string> ExpandWords(const DesktopEntry& entry, const std::vector<std::string>& words,
                                     const std::vector<bool>& quoted, const std::vector<std::string>& listFiles,
                                     const std::string* file)
{
    std::vector<std::string> argv;
    for (size_t w = 0; w < words.size(); ++w) {
        const std::string& word = words[w];
        // Field codes inside quotes are literal text.
        if (quoted[w] || word.find('%') == std::string::npos) {
            argv.push_back(word);
            continue;
        }
        if (word == "%i") {
            if (!entry.icon.empty()) {
                argv.push_back("--icon");
                argv.push_back(entry.icon);
            }
            continue;
        }
        if (word.size() == 2 && word[0] == '%' && IsFileCode(word[1])) {
            // Each name, blanks, quotes and all, is one argument.
            if (IsListCode(word[1]))
                argv.insert(argv.end(), listFiles.begin(), listFiles.end());
            else if (file)
                argv.push_back(*file);
            continue;
        }
        std::string out;
        for (size_t i = 0; i < word.size(); ++i) {
            if (word[i] != '%' || i + 1 == word.size()) {
                out += word[i];
                continue;
            }
            const char code = word[++i];
            if (IsFileCode(code)) {
                if (file)
                    out += *file;
                else if (!listFiles.empty())
                    out += listFiles.front();
            } else if (code == 'c') {
                out += entry.name;
            } else if (code == 'k') {
                out += entry.location;
            } else if (code == '%') {
                out += '%';
            } // %d %D %n %N %v %m and unknown codes are dropped
        }
        if (!out.empty())
            argv.push_back(out);
    }
    return argv;
}

} // namespace

bool ParseDesktopEntry(const std::string& text, DesktopEntry& entry)
{
    std::istringstream in(text);
    std::string line;
    bool inGroup = false, found = false;
    while (std::getline(in, line)) {
        line = Trimmed(line);
        if (line.empty() || line[0] == '#')
            continue;
        if (line[0] == '[') {
            inGroup = line == "[Desktop Entry]";
            found = found || inGroup;
            continue;
        }
        const size_t equals = line.find('=');
        if (!inGroup || equals == std::string::npos)
            continue;
        const std::string key = Trimmed(line.substr(0, equals));
        const std::string value = UnescapeValue(Trimmed(line.substr(equals + 1)));
        if (key == "Exec")
            entry.exec = value;
        else if (key == "TryExec")
            entry.tryExec = value;
        else if (key == "Name")
            entry.name = value;
        else if (key == "Icon")
            entry.icon = value;
        else if (key == "Path")
            entry.path = value;
        else if (key == "Type")
            entry.type = value;
        else if (key == "Terminal")
            entry.terminal = value == "true";
        else if (key == "Hidden")
            entry.hidden = value == "true";
        else if (key == "NoDisplay")
            entry.noDisplay = value == "true";
        else if (key == "MimeType")
            entry.mimeTypes = SplitList(value);
    }
    return found;
}

bool ExpandExecLine(const DesktopEntry& entry, const std::string& file, std::vector<std::string>& argv)
{
    std::vector<std::vector<std::string>> commands;
    if (!ExpandExecLine(entry, std::vector<std::string>{file}, commands) || commands.size() != 1)
        return false;
    argv = std::move(commands.front());
    return true;
}

bool ExpandExecLine(const DesktopEntry& entry, const std::vector<std::string>& files,
                    std::vector<std::vector<std::string>>& commands)
{
    std::vector<std::string> words;
    std::vector<bool> quoted;
    commands.clear();
    if (!SplitExecLine(entry.exec, words, quoted) || words.empty())
        return false;
    bool listCode = false, singleCode = false;
    for (size_t w = 0; w < words.size(); ++w) {
        if (quoted[w])
            continue;
        const std::string& word = words[w];
        for (size_t i = 0; i + 1 < word.size(); ++i) {
            if (word[i] != '%')
                continue;
            const char code = word[++i];
            if (IsListCode(code) && word.size() == 2)
                listCode = true;
            else if (IsFileCode(code))
                singleCode = true;
        }
    }
    if (singleCode && !listCode && files.size() > 1) {
        for (const std::string& file : files)
            commands.push_back(ExpandWords(entry, words, quoted, {}, &file));
    } else {
        const std::string* single = files.empty() ? nullptr : &files.front();
        commands.push_back(ExpandWords(entry, words, quoted, files, single));
        if (!listCode && !singleCode) // nowhere to put them: after the rest
            commands.back().insert(commands.back().end(), files.begin(), files.end());
    }
    for (const std::vector<std::string>& argv : commands)
        if (argv.empty() || argv.front().empty())
            return false;
    return true;
}

std::vector<std::string> TerminalCommand(const std::vector<std::string>& argv)
{
    // How each terminal takes a command as separate arguments. Terminals
    // whose option takes one string that they split again themselves are
    // left out: a name with blanks or quotes would not arrive whole.
    struct Terminal {
        std::string program;
        std::vector<std::string> before; // between the program and the command
    };
    std::vector<Terminal> terminals;
    if (const char* own = std::getenv("TERMINAL"); own && *own)
        terminals.push_back({own, {"-e"}});
    for (Terminal t : std::initializer_list<Terminal>{{"x-terminal-emulator", {"-e"}},
                                                      {"gnome-terminal", {"--"}},
                                                      {"konsole", {"-e"}},
                                                      {"xfce4-terminal", {"-x"}},
                                                      {"mate-terminal", {"-x"}},
                                                      {"terminator", {"-x"}},
                                                      {"kitty", {}},
                                                      {"alacritty", {"-e"}},
                                                      {"foot", {}},
                                                      {"urxvt", {"-e"}},
                                                      {"xterm", {"-e"}}})
        terminals.push_back(std::move(t));
    for (const Terminal& t : terminals) {
        const std::string program = FindProgram(t.program);
        if (program.empty())
            continue;
        std::vector<std::string> command{program};
        if (!argv.empty()) {
            command.insert(command.end(), t.before.begin(), t.before.end());
            command.insert(command.end(), argv.begin(), argv.end());
        }
        return command;
    }
    return {};
}

std::string FindProgram(const std::string& program)
{
    auto executable = [](const std::string& path) {
        struct stat st;
        return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
    };
    if (program.empty())
        return {};
    if (program.find('/') != std::string::npos)
        return program[0] == '/' && executable(program) ? program : std::string();
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path ? path : "/usr/local/bin:/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (dir.empty() || dir[0] != '/')
            continue;
        const std::string candidate = dir + (dir.back() == '/' ? "" : "/") + program;
        if (executable(candidate))
            return candidate;
    }
    return {};
}

bool ProgramExists(const std::string& program) { return !FindProgram(program).empty(); }

} // namespace tarnel
