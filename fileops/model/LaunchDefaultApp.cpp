#include "fileops/model/LaunchDefaultApp.h"

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

namespace tarnel {

namespace {

std::string Env(const char* name)
{
    const char* value = std::getenv(name);
    return value && value[0] == '/' ? std::string(value) : std::string();
}

std::vector<std::string> Split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::istringstream in(text);
    std::string part;
    while (std::getline(in, part, separator))
        if (!part.empty())
            parts.push_back(part);
    return parts;
}

std::vector<std::string> AbsoluteDirs(const char* name, const std::string& fallback)
{
    const char* value = std::getenv(name);
    std::vector<std::string> dirs;
    for (const std::string& dir : Split(value && *value ? value : fallback, ':'))
        if (dir[0] == '/') // XDG base directories must be absolute; skip the rest
            dirs.push_back(dir);
    return dirs;
}

bool ReadFile(const std::string& path, std::string& text)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream out;
    out << in.rdbuf();
    text = out.str();
    return true;
}

// The desktop file ids a group of a mimeapps.list or mimeinfo.cache gives
// for mimeType, in order.
std::vector<std::string> IdsInGroup(const std::string& text, const std::string& group, const std::string& mimeType)
{
    std::istringstream in(text);
    std::string line;
    bool inGroup = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        if (line[0] == '[') {
            inGroup = line == "[" + group + "]";
            continue;
        }
        const size_t equals = line.find('=');
        if (!inGroup || equals == std::string::npos)
            continue;
        std::string key = line.substr(0, equals);
        while (!key.empty() && key.back() == ' ')
            key.pop_back();
        if (key == mimeType) {
            std::string value = line.substr(equals + 1);
            while (!value.empty() && value.front() == ' ')
                value.erase(value.begin());
            return Split(value, ';');
        }
    }
    return {};
}

} // namespace

XdgDirs XdgDirs::FromEnvironment()
{
    XdgDirs dirs;
    const std::string home = Env("HOME");
    dirs.configHome = Env("XDG_CONFIG_HOME");
    if (dirs.configHome.empty() && !home.empty())
        dirs.configHome = home + "/.config";
    dirs.dataHome = Env("XDG_DATA_HOME");
    if (dirs.dataHome.empty() && !home.empty())
        dirs.dataHome = home + "/.local/share";
    dirs.configDirs = AbsoluteDirs("XDG_CONFIG_DIRS", "/etc/xdg");
    dirs.dataDirs = AbsoluteDirs("XDG_DATA_DIRS", "/usr/local/share:/usr/share");
    const char* current = std::getenv("XDG_CURRENT_DESKTOP");
    for (std::string desktop : Split(current ? current : "", ':')) {
        for (char& c : desktop)
            c = (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
        dirs.desktops.push_back(desktop);
    }
    return dirs;
}

std::vector<std::string> XdgDirs::MimeAppsLists() const
{
    std::vector<std::string> lists;
    auto addDir = [&](const std::string& dir) {
        if (dir.empty())
            return;
        for (const std::string& desktop : desktops)
            lists.push_back(dir + "/" + desktop + "-mimeapps.list");
        lists.push_back(dir + "/mimeapps.list");
    };
    addDir(configHome);
    for (const std::string& dir : configDirs)
        addDir(dir);
    if (!dataHome.empty())
        addDir(dataHome + "/applications");
    for (const std::string& dir : dataDirs)
        addDir(dir + "/applications");
    return lists;
}

std::vector<std::string> XdgDirs::ApplicationDirs() const
{
    std::vector<std::string> result;
    if (!dataHome.empty())
        result.push_back(dataHome + "/applications");
    for (const std::string& dir : dataDirs)
        result.push_back(dir + "/applications");
    return result;
}

std::optional<DesktopEntry> FindDesktopEntry(const std::string& id, const XdgDirs& dirs)
{
    if (id.empty() || id.find('/') != std::string::npos || id.find("..") != std::string::npos)
        return std::nullopt;
    // "vendor-app.desktop" may also live as vendor/app.desktop.
    std::vector<std::string> relatives{id};
    for (size_t dash = id.find('-'); dash != std::string::npos; dash = id.find('-', dash + 1))
        relatives.push_back(id.substr(0, dash) + "/" + id.substr(dash + 1));
    for (const std::string& dir : dirs.ApplicationDirs()) {
        for (const std::string& relative : relatives) {
            std::string text;
            if (!ReadFile(dir + "/" + relative, text))
                continue;
            DesktopEntry entry;
            // The first file found for an id hides every later one.
            if (!ParseDesktopEntry(text, entry) || entry.hidden || entry.type != "Application" ||
                entry.exec.empty() || (!entry.tryExec.empty() && !ProgramExists(entry.tryExec)))
                return std::nullopt;
            entry.id = id;
            entry.location = dir + "/" + relative;
            return entry;
        }
    }
    return std::nullopt;
}

std::optional<DesktopEntry> FindDefaultApplication(const std::vector<std::string>& mimeTypes, const XdgDirs& dirs)
{
    std::vector<std::string> lists;
    for (const std::string& path : dirs.MimeAppsLists()) {
        std::string text;
        if (ReadFile(path, text))
            lists.push_back(std::move(text));
    }
    std::vector<std::string> caches;
    for (const std::string& dir : dirs.ApplicationDirs()) {
        std::string text;
        if (ReadFile(dir + "/mimeinfo.cache", text))
            caches.push_back(std::move(text));
    }
    for (const std::string& type : mimeTypes) {
        for (const std::string& list : lists)
            for (const std::string& id : IdsInGroup(list, "Default Applications", type))
                if (auto entry = FindDesktopEntry(id, dirs))
                    return entry;
        std::set<std::string> removed;
        for (const std::string& list : lists)
            for (const std::string& id : IdsInGroup(list, "Removed Associations", type))
                removed.insert(id);
        std::vector<std::string> candidates;
        for (const std::string& list : lists)
            for (const std::string& id : IdsInGroup(list, "Added Associations", type))
                candidates.push_back(id);
        for (const std::string& cache : caches)
            for (const std::string& id : IdsInGroup(cache, "MIME Cache", type))
                candidates.push_back(id);
        for (const std::string& id : candidates)
            if (!removed.count(id))
                if (auto entry = FindDesktopEntry(id, dirs))
                    return entry;
    }
    return std::nullopt;
}

} // namespace tarnel
