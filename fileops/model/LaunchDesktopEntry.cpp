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
    }
    return found;
}

bool ExpandExecLine(const DesktopEntry& entry, const std::string& file, std::vector<std::string>& argv)
{
    std::vector<std::string> words;
    std::vector<bool> quoted;
    if (!SplitExecLine(entry.exec, words, quoted))
        return false;
    argv.clear();
    bool fileGiven = false;
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
            argv.push_back(file); // the whole file name, blanks and all, as one argument
            fileGiven = true;
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
                out += file;
                fileGiven = true;
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
    if (argv.empty())
        return false;
    if (!fileGiven)
        argv.push_back(file);
    return true;
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
