#include "fileops/model/LaunchDefaultApp.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>

#include <dirent.h>
#include <sys/stat.h>

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

namespace {

// One directory the associations come from, in order of importance.
struct AssociationSource {
    std::vector<std::string> lists; // mimeapps.list texts, desktop-specific first
    std::string cache;              // mimeinfo.cache text; for an applications directory without one,
    std::vector<DesktopEntry> scanned; // its desktop files that name their types
};

// Reads the desktop files of an applications directory (and of its vendor
// sub-directories, whose ids are "vendor-name.desktop") that give MimeType=.
void ScanApplications(const std::string& dir, const std::string& prefix, int depth, std::vector<DesktopEntry>& out)
{
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return;
    std::vector<std::string> names;
    while (const dirent* e = ::readdir(d))
        if (e->d_name[0] != '.')
            names.push_back(e->d_name);
    ::closedir(d);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        const std::string path = dir + "/" + name;
        struct stat st;
        if (::stat(path.c_str(), &st) != 0)
            continue;
        if (S_ISDIR(st.st_mode)) {
            if (depth < 2)
                ScanApplications(path, prefix + name + "-", depth + 1, out);
            continue;
        }
        if (!S_ISREG(st.st_mode) || name.size() <= 8 || name.compare(name.size() - 8, 8, ".desktop") != 0)
            continue;
        std::string text;
        DesktopEntry entry;
        if (ReadFile(path, text) && ParseDesktopEntry(text, entry) && !entry.mimeTypes.empty()) {
            entry.id = prefix + name;
            out.push_back(std::move(entry));
        }
    }
}

std::vector<AssociationSource> AssociationSources(const XdgDirs& dirs)
{
    std::vector<AssociationSource> sources;
    auto readLists = [&](const std::string& dir, AssociationSource& source) {
        std::string text;
        for (const std::string& desktop : dirs.desktops)
            if (ReadFile(dir + "/" + desktop + "-mimeapps.list", text))
                source.lists.push_back(text);
        if (ReadFile(dir + "/mimeapps.list", text))
            source.lists.push_back(text);
    };
    std::vector<std::string> configDirs;
    if (!dirs.configHome.empty())
        configDirs.push_back(dirs.configHome);
    configDirs.insert(configDirs.end(), dirs.configDirs.begin(), dirs.configDirs.end());
    for (const std::string& dir : configDirs)
        readLists(dir, sources.emplace_back());
    for (const std::string& dir : dirs.ApplicationDirs()) {
        AssociationSource& source = sources.emplace_back();
        readLists(dir, source);
        if (!ReadFile(dir + "/mimeinfo.cache", source.cache))
            ScanApplications(dir, "", 0, source.scanned);
    }
    return sources;
}

// The ids associated with type, defaults first, then the others with what a
// more important list removed left out.
void AssociatedIds(const std::vector<AssociationSource>& sources, const std::string& type,
                   std::vector<std::string>& defaults, std::vector<std::string>& others)
{
    for (const AssociationSource& source : sources)
        for (const std::string& list : source.lists)
            for (const std::string& id : IdsInGroup(list, "Default Applications", type))
                defaults.push_back(id);
    std::set<std::string> removed;
    auto add = [&](const std::string& id) {
        if (!removed.count(id))
            others.push_back(id);
    };
    for (const AssociationSource& source : sources) {
        for (const std::string& list : source.lists)
            for (const std::string& id : IdsInGroup(list, "Added Associations", type))
                add(id);
        // A removal holds for its own directory's cache and every less important one.
        for (const std::string& list : source.lists)
            for (const std::string& id : IdsInGroup(list, "Removed Associations", type))
                removed.insert(id);
        for (const std::string& id : IdsInGroup(source.cache, "MIME Cache", type))
            add(id);
        for (const DesktopEntry& entry : source.scanned)
            if (std::find(entry.mimeTypes.begin(), entry.mimeTypes.end(), type) != entry.mimeTypes.end())
                add(entry.id);
    }
}

} // namespace

std::optional<DesktopEntry> FindDefaultApplication(const std::vector<std::string>& mimeTypes, const XdgDirs& dirs)
{
    const std::vector<AssociationSource> sources = AssociationSources(dirs);
    for (const std::string& type : mimeTypes) {
        std::vector<std::string> defaults, others;
        AssociatedIds(sources, type, defaults, others);
        for (const auto* ids : {&defaults, &others})
            for (const std::string& id : *ids)
                if (auto entry = FindDesktopEntry(id, dirs))
                    return entry;
    }
    return std::nullopt;
}

std::vector<DesktopEntry> FindApplications(const std::vector<std::string>& mimeTypes, const XdgDirs& dirs)
{
    const std::vector<AssociationSource> sources = AssociationSources(dirs);
    std::vector<DesktopEntry> found;
    std::set<std::string> seen;
    for (const std::string& type : mimeTypes) {
        std::vector<std::string> defaults, others;
        AssociatedIds(sources, type, defaults, others);
        for (const auto* ids : {&defaults, &others})
            for (const std::string& id : *ids) {
                if (!seen.insert(id).second)
                    continue;
                std::optional<DesktopEntry> entry = FindDesktopEntry(id, dirs);
                if (entry && !entry->noDisplay)
                    found.push_back(std::move(*entry));
            }
    }
    return found;
}

} // namespace tarnel
