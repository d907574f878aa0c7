#include "tools/model/InstalledSoftware.h"

#include "panes/PathUtil.h"
#include "platform/Registry.h"
#include "tools/model/Blanks.h"

#include <algorithm>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_set>

namespace tarnel {

namespace {

// Opens a terminal where the package manager asks before it removes anything.
constexpr const char kTerminal[] = "x-terminal-emulator -e ";

bool ReadWholeFile(const std::string& path, std::string& text)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st;
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (ok) {
        text.clear();
        text.reserve(size_t(st.st_size));
        char buffer[1 << 16];
        for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) != 0;) {
            if (n < 0) {
                ok = false;
                break;
            }
            text.append(buffer, size_t(n));
        }
    }
    ::close(fd);
    return ok;
}

// The value of "Name: value" when line starts with name and a colon.
bool FieldValue(std::string_view line, std::string_view name, std::string_view& value)
{
    if (line.size() <= name.size() || line.substr(0, name.size()) != name || line[name.size()] != ':')
        return false;
    value = TrimBlanks(line.substr(name.size() + 1));
    return true;
}

bool LessIgnoringCase(const std::string& a, const std::string& b)
{
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return static_cast<unsigned char>(UpperAsciiChar(x)) < static_cast<unsigned char>(UpperAsciiChar(y));
    });
}

bool ProgramOnPath(const char* program)
{
    const char* path = std::getenv("PATH");
    std::string_view dirs = path ? path : "/usr/bin:/bin";
    while (!dirs.empty()) {
        const size_t colon = dirs.find(':');
        const std::string dir(dirs.substr(0, colon));
        dirs.remove_prefix(colon == std::string_view::npos ? dirs.size() : colon + 1);
        if (!dir.empty() && ::access((dir + "/" + program).c_str(), X_OK) == 0)
            return true;
    }
    return false;
}

// The Name= line of an application's desktop file; "" when there is none.
std::string DesktopName(const std::string& file)
{
    std::string text;
    if (!ReadWholeFile(file, text))
        return {};
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = std::min(text.find('\n', at), text.size());
        const std::string_view line(text.data() + at, end - at);
        if (line.substr(0, 5) == "Name=")
            return std::string(TrimBlanks(line.substr(5)));
        at = end + 1;
    }
    return {};
}

} // namespace

std::vector<SoftwareEntry> ParseDpkgStatus(std::string_view text)
{
    std::vector<SoftwareEntry> out;
    std::unordered_set<std::string> keys;
    std::string_view package, version, arch, summary;
    bool installed = false;
    auto flush = [&] {
        if (!package.empty() && installed) {
            std::string key(package);
            if (!keys.insert(key).second) // the same package for another architecture
                keys.insert(key = std::string(package) + ":" + std::string(arch));
            std::string display(package);
            if (!version.empty())
                display += " " + std::string(version);
            if (!summary.empty())
                display += " - " + std::string(summary);
            out.push_back({key, std::move(display), kTerminal + std::string("sudo apt-get remove ") + key});
        }
        package = version = arch = summary = {};
        installed = false;
    };
    size_t at = 0;
    while (at <= text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        at = end + 1;
        std::string_view value;
        if (TrimBlanks(line).empty())
            flush();
        else if (line.front() == ' ' || line.front() == '\t')
            continue; // a continuation line
        else if (FieldValue(line, "Package", value))
            package = value;
        else if (FieldValue(line, "Version", value))
            version = value;
        else if (FieldValue(line, "Architecture", value))
            arch = value;
        else if (FieldValue(line, "Description", value))
            summary = value;
        else if (FieldValue(line, "Status", value))
            installed = value.size() >= 10 && value.substr(value.size() - 10) == " installed";
    }
    flush();
    return out;
}

std::vector<SoftwareEntry> ReadFlatpakApps(const std::string& installation, bool user)
{
    std::vector<SoftwareEntry> out;
    const std::string apps = AddPathDelimiter(installation) + "app/";
    DIR* dir = ::opendir(apps.c_str());
    if (!dir)
        return out;
    while (const dirent* e = ::readdir(dir)) {
        const std::string id = e->d_name;
        struct stat st;
        if (id.empty() || id[0] == '.' || ::stat((apps + id + "/current").c_str(), &st) != 0)
            continue;
        std::string name = DesktopName(AddPathDelimiter(installation) + "exports/share/applications/" + id + ".desktop");
        std::string display = (name.empty() ? id : name + " (" + id + ")") + " - Flatpak";
        out.push_back({id, std::move(display),
                       kTerminal + std::string("flatpak uninstall ") + (user ? "--user " : "") + id});
    }
    ::closedir(dir);
    return out;
}

UninstallList FillUninstallList(std::vector<SoftwareEntry> inventory, const RegistryNode* uninstallKey)
{
    struct Source {
        const std::string* name;
        const SoftwareEntry* entry;
        const RegistryNode* node;
    };
    std::vector<Source> sources;
    sources.reserve(inventory.size() + (uninstallKey ? uninstallKey->Keys().size() : 0));
    for (const SoftwareEntry& e : inventory)
        sources.push_back({&e.key, &e, nullptr});
    if (uninstallKey)
        for (const auto& key : uninstallKey->Keys())
            sources.push_back({&key->Name(), nullptr, key.get()});
    std::stable_sort(sources.begin(), sources.end(),
                     [](const Source& a, const Source& b) { return LessIgnoringCase(*a.name, *b.name); });

    UninstallList list;
    list.names.reserve(sources.size());
    list.commands.reserve(sources.size());
    for (const Source& s : sources) {
        if (s.entry) {
            if (s.entry->displayName.empty() || s.entry->uninstallString.empty())
                continue;
            list.names.push_back(s.entry->displayName);
            list.commands.push_back(s.entry->uninstallString);
            continue;
        }
        const RegistryValue* name = s.node->FindValue("DisplayName");
        const RegistryValue* command = s.node->FindValue("UninstallString");
        if (!name || !command)
            continue;
        for (const RegistryValue* v : {name, command})
            if (v->type != RegistryValue::Type::Text) {
                list.error = "Invalid data type for '" + v->name + "'";
                return list;
            }
        list.names.push_back(name->text);
        list.commands.push_back(command->text);
    }
    return list;
}

UninstallList ReadInstalledSoftware(const RegistryNode* uninstallKey, const std::string& dpkgStatus)
{
    std::vector<SoftwareEntry> inventory;
    std::string text;
    if (ReadWholeFile(dpkgStatus, text))
        inventory = ParseDpkgStatus(text);
    if (ProgramOnPath("flatpak")) {
        auto add = [&](std::vector<SoftwareEntry> more) {
            inventory.insert(inventory.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
        };
        add(ReadFlatpakApps("/var/lib/flatpak", false));
        const char* data = std::getenv("XDG_DATA_HOME");
        const char* home = std::getenv("HOME");
        if (data && *data)
            add(ReadFlatpakApps(std::string(data) + "/flatpak", true));
        else if (home && *home)
            add(ReadFlatpakApps(std::string(home) + "/.local/share/flatpak", true));
    }
    return FillUninstallList(std::move(inventory), uninstallKey);
}

} // namespace tarnel
