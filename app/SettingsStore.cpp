#include "app/SettingsStore.h"

#include "app/components/SaveForm.h"
#include "app/components/VirtualKeys.h"
#include "panes/Matcher.h"
#include "panes/PathUtil.h"
#include "panes/ViewerExtensions.h"
#include "platform/Registry.h"

#include <algorithm>
#include <cstdlib>

namespace tarnel {

namespace {

// Absolute paths: one access object may open several keys in turn.
std::string KeyPath(const std::string& key) { return "\\" + std::string(kSettingsRoot) + "\\" + key; }

bool ReadBool(const RegistryKey& k, const char* name, bool& out)
{
    if (!k.ValueExists(name))
        return false;
    out = k.ReadInteger(name) != 0;
    return true;
}

void ReadInt(const RegistryKey& k, const char* name, int& out)
{
    if (k.ValueExists(name))
        out = k.ReadInteger(name);
}

// Placements are kept as text numbers.
int ReadPlacementValue(const RegistryKey& k, const char* name)
{
    return k.ValueExists(name) ? TSaveForm::PlacementNumber(k.ReadString(name)) : 0;
}

} // namespace

template <typename Load>
void SettingsStore::LoadKey(const std::string& key, Load&& load)
{
    RegistryKey k(registry_);
    if (!k.OpenKey(KeyPath(key), false))
        return;
    try {
        load(k);
    } catch (const RegistryError& e) {
        messages_.push_back(e.what());
        refused_.insert(key);
    }
}

WindowPlacement ReadWindowPlacement(const RegistryKey& k)
{
    WindowPlacement p;
    p.left = ReadPlacementValue(k, "Left");
    p.top = ReadPlacementValue(k, "Top");
    p.width = ReadPlacementValue(k, "Width");
    p.height = ReadPlacementValue(k, "Height");
    p.state = ReadPlacementValue(k, "State");
    p.restoreToMax = ReadPlacementValue(k, "RestoreToMax") != 0;
    return p;
}

void WriteWindowPlacement(RegistryKey& k, const WindowPlacement& p)
{
    k.WriteString("Top", std::to_string(p.top));
    k.WriteString("Left", std::to_string(p.left));
    k.WriteString("Width", std::to_string(p.width));
    k.WriteString("Height", std::to_string(p.height));
    k.WriteString("State", std::to_string(p.state));
    k.WriteString("RestoreToMax", p.restoreToMax ? "1" : "0");
}

bool ColumnOfWidthValue(const std::string& valueName, int& column)
{
    if (!Match("width*", valueName))
        return false;
    const std::string digits = valueName.substr(5);
    char* end = nullptr;
    const long n = digits.empty() ? -1 : std::strtol(digits.c_str(), &end, 10);
    if (digits.empty() || *end != '\0' || n < 0 || n >= 4)
        return false;
    column = int(n);
    return true;
}

void SettingsStore::LoadViewerTypes(ViewerExtensionTable& table)
{
    ViewerExtensionTable loaded = table;
    LoadKey("supported", [&](RegistryKey& k) {
        for (const std::string& name : k.GetValueNames()) {
            if (!k.ValueExists(name))
                continue;
            const std::string text = k.ReadString(name);
            auto& entries = loaded.Entries();
            auto it = std::find_if(entries.begin(), entries.end(),
                                   [&](const ViewerExtension& e) { return EqualsIgnoreCase(e.Ext, name); });
            if (it == entries.end()) {
                if (entries.size() >= ViewerExtensionTable::kMaxEntries)
                    continue;
                entries.push_back({name.substr(0, 9), false, false});
                it = entries.end() - 1;
            }
            it->Enabled = text != "0";
        }
        table = loaded;
    });
}

void SettingsStore::LoadColumnWidths(AppSettings& settings)
{
    struct Header {
        const char* key;
        std::array<int, 4>* widths;
        std::array<bool, 4>* stored;
    };
    for (const Header& h : {Header{"LeftHeader", &settings.leftWidths, &settings.leftWidthStored},
                            Header{"RightHeader", &settings.rightWidths, &settings.rightWidthStored}}) {
        std::array<int, 4> loaded = *h.widths;
        std::array<bool, 4> stored{};
        LoadKey(h.key, [&](RegistryKey& k) {
            for (const std::string& name : k.GetValueNames()) {
                int column = 0;
                if (ColumnOfWidthValue(name, column)) {
                    loaded[size_t(column)] = k.ReadInteger(name);
                    stored[size_t(column)] = true;
                }
            }
            *h.widths = loaded;
            *h.stored = stored;
        });
    }
}

namespace {
const char kBookmarkPathValue[] = "path";
} // namespace

void SettingsStore::LoadBookmarks(AppSettings& settings)
{
    // The exact bytes are in the sub-key's "path" value; a sub-key without one
    // (written by hand) is named by the path itself.
    LoadKey("bookmarks", [&](RegistryKey& k) {
        std::vector<std::string> paths;
        for (const std::string& name : k.GetKeyNames()) {
            RegistryKey bookmark(registry_);
            const bool hasPath = bookmark.OpenKey(KeyPath("bookmarks\\" + name), false) &&
                                 bookmark.ValueExists(kBookmarkPathValue);
            paths.push_back(hasPath ? bookmark.ReadString(kBookmarkPathValue) : name);
        }
        settings.bookmarks = std::move(paths);
    });
}

void SettingsStore::LoadGeneral(AppSettings& settings)
{
    AppSettings loaded = settings;
    LoadKey("cfg", [&](RegistryKey& k) {
        ReadInt(k, "QuitType", loaded.QuitType);
        ReadBool(k, "ShowBigSize", loaded.ShowBigSize);
        ReadBool(k, "ShowAttrs", loaded.ShowAttrs);
        ReadBool(k, "ShowListHints", loaded.ShowListHints);
        ReadBool(k, "ShowSupported", loaded.ShowSupported);
        ReadBool(k, "FastZipMove", loaded.FastZipMove);
        ReadBool(k, "UseAsyncShell", loaded.UseAsyncShell);
        ReadBool(k, "QueuePerVolume", loaded.QueuePerVolume);
        ReadBool(k, "DescriptionsFollow", loaded.DescriptionsFollow);
        ReadBool(k, "FunctionKeyBar", loaded.FunctionKeyBar);
        ReadBool(k, "KeepPlaces", loaded.KeepPlaces);
        ReadBool(k, "ConfirmCopyTarget", loaded.ConfirmCopyTarget);
        settings = loaded;
    });
}

void SettingsStore::LoadToolBar(AppSettings& settings)
{
    AppSettings loaded = settings;
    LoadKey("CoolBar1", [&](RegistryKey& k) {
        if (k.ValueExists("BackType")) {
            const std::string back = k.ReadString("BackType");
            if (Match("Default", back))
                loaded.backType = "Default";
            else if (Match("None", back))
                loaded.backType = "None";
        }
        for (const std::string& sub : k.GetKeyNames()) {
            auto& bands = loaded.bands;
            auto it = std::find_if(bands.begin(), bands.end(),
                                   [&](const ToolBarBand& b) { return EqualsIgnoreCase(b.name, sub); });
            if (it == bands.end())
                continue;
            RegistryKey band(registry_);
            if (!band.OpenKey(KeyPath("CoolBar1\\" + sub), false))
                continue;
            ReadBool(band, "break", it->lineBreak);
            ReadInt(band, "width", it->width);
            if (band.ValueExists("position")) {
                const int position = std::clamp(band.ReadInteger("position"), 0, int(bands.size()) - 1);
                ToolBarBand moved = *it;
                bands.erase(it);
                bands.insert(bands.begin() + position, moved);
            }
        }
        settings = loaded;
    });
}

void SettingsStore::LoadTextView(AppSettings& settings)
{
    TextViewSettings loaded = settings.textView;
    LoadKey("TextView", [&](RegistryKey& k) {
        if (k.ValueExists("FontName"))
            loaded.fontName = k.ReadString("FontName");
        ReadInt(k, "FontSize", loaded.fontSize);
        if (k.ValueExists("FontFore"))
            loaded.fontFore = uint32_t(k.ReadInteger("FontFore"));
        if (k.ValueExists("FontBack"))
            loaded.fontBack = uint32_t(k.ReadInteger("FontBack"));
        ReadInt(k, "TabSize", loaded.tabSize);
        ReadBool(k, "PrintPage", loaded.printPage);
        settings.textView = loaded;
    });
}

void SettingsStore::LoadHotKeys(AppSettings& settings)
{
    auto loaded = settings.hotKeys;
    bool commander = settings.CommanderKeys;
    LoadKey("HotKeys", [&](RegistryKey& key) {
        // The choice that moved the viewer's keys lives beside them.
        ReadBool(key, "CommanderKeys", commander);
        for (size_t n = 0; n < loaded.size(); ++n) {
            RegistryKey k(registry_);
            if (!k.OpenKey(KeyPath("HotKeys\\key" + std::to_string(n)), false))
                continue;
            if (k.ValueExists("VirtKey"))
                loaded[n].keyCode = uint32_t(k.ReadInteger("VirtKey"));
            if (k.ValueExists("modifiers"))
                loaded[n].modifiers = ParseModifierWords(k.ReadString("modifiers"));
        }
        settings.hotKeys = loaded;
        settings.CommanderKeys = commander;
    });
}

void SettingsStore::LoadPlacement(AppSettings& settings)
{
    LoadKey("MainForm", [&](RegistryKey& k) {
        settings.mainForm = ReadWindowPlacement(k);
    });
}

namespace {
const char* const kPaneKeys[2] = {"LeftPane", "RightPane"};
} // namespace

void SettingsStore::LoadPanes(AppSettings& settings)
{
    for (size_t side = 0; side < 2; ++side) {
        PaneState loaded;
        LoadKey(kPaneKeys[side], [&](RegistryKey& k) {
            if (k.ValueExists("Path"))
                loaded.path = k.ReadString("Path");
            ReadInt(k, "ZipMode", loaded.zipMode);
            if (k.ValueExists("ZipPath"))
                loaded.zipPath = k.ReadString("ZipPath");
            if (k.ValueExists("Source"))
                loaded.source = k.ReadString("Source");
            ReadInt(k, "SortKey", loaded.sortKey);
            ReadBool(k, "Ascending", loaded.ascending);
            loaded.sortKey = std::clamp(loaded.sortKey, 0, 4);
            loaded.zipMode = std::max(loaded.zipMode, 0);
            settings.panes[side] = loaded;
        });
    }
}

void SettingsStore::LoadAll(AppSettings& settings, ViewerExtensionTable& table)
{
    LoadViewerTypes(table);
    LoadColumnWidths(settings);
    LoadBookmarks(settings);
    LoadGeneral(settings);
    LoadToolBar(settings);
    LoadTextView(settings);
    LoadHotKeys(settings);
    LoadPlacement(settings);
    LoadPanes(settings);
}

bool SettingsStore::SaveAll(const AppSettings& s, const ViewerExtensionTable& table)
{
    auto open = [&](RegistryKey& k, const std::string& key) { return !Refused(key) && k.OpenKey(KeyPath(key), true); };
    RegistryKey k(registry_);
    if (open(k, "supported")) {
        for (const std::string& name : k.GetValueNames())
            k.DeleteValue(name);
        for (const ViewerExtension& e : table.Entries())
            k.WriteString(e.Ext, e.Enabled ? "1" : "0");
    }
    if (open(k, "cfg")) {
        k.WriteInteger("QuitType", s.QuitType);
        k.WriteInteger("ShowBigSize", s.ShowBigSize);
        k.WriteInteger("ShowAttrs", s.ShowAttrs);
        k.WriteInteger("ShowListHints", s.ShowListHints);
        k.WriteInteger("ShowSupported", s.ShowSupported);
        k.WriteInteger("FastZipMove", s.FastZipMove);
        k.WriteInteger("UseAsyncShell", s.UseAsyncShell);
        k.WriteInteger("QueuePerVolume", s.QueuePerVolume);
        k.WriteInteger("DescriptionsFollow", s.DescriptionsFollow);
        k.WriteInteger("FunctionKeyBar", s.FunctionKeyBar);
        k.WriteInteger("KeepPlaces", s.KeepPlaces);
        k.WriteInteger("ConfirmCopyTarget", s.ConfirmCopyTarget);
    }
    if (open(k, "bookmarks")) {
        for (const std::string& name : k.GetKeyNames())
            k.DeleteKey(name);
        // Key names ignore case and cannot hold every byte of a path: the
        // path itself goes in a value, and a name that is taken or invalid
        // gives way to a numbered one, so duplicates and "/A" beside "/a" stay.
        for (size_t i = 0; i < s.bookmarks.size(); ++i) {
            const std::string& path = s.bookmarks[i];
            const std::string name =
                IsValidKeyName(path) && !k.KeyExists(path) ? path : "bookmark" + std::to_string(i + 1);
            RegistryKey bookmark(registry_);
            if (bookmark.OpenKey(KeyPath("bookmarks\\" + name), true))
                bookmark.WriteString(kBookmarkPathValue, path);
        }
    }
    if (open(k, "HotKeys")) {
        k.WriteInteger("CommanderKeys", s.CommanderKeys);
        for (size_t n = 0; n < s.hotKeys.size(); ++n) {
            RegistryKey hk(registry_);
            if (!hk.OpenKey(KeyPath("HotKeys\\key" + std::to_string(n)), true))
                continue;
            hk.WriteInteger("VirtKey", int32_t(s.hotKeys[n].keyCode));
            hk.WriteString("modifiers", ModifierWords(s.hotKeys[n].modifiers));
        }
    }
    if (open(k, "CoolBar1")) {
        k.WriteString("BackType", s.backType);
        for (size_t i = 0; i < s.bands.size(); ++i) {
            RegistryKey band(registry_);
            if (!band.OpenKey(KeyPath("CoolBar1\\" + s.bands[i].name), true))
                continue;
            band.WriteInteger("position", int32_t(i));
            band.WriteInteger("break", s.bands[i].lineBreak);
            band.WriteInteger("width", s.bands[i].width);
        }
    }
    if (open(k, "TextView")) {
        k.WriteString("FontName", s.textView.fontName);
        k.WriteInteger("FontSize", s.textView.fontSize);
        k.WriteInteger("FontFore", int32_t(s.textView.fontFore));
        k.WriteInteger("FontBack", int32_t(s.textView.fontBack));
        k.WriteInteger("TabSize", s.textView.tabSize);
        k.WriteInteger("PrintPage", s.textView.printPage);
    }
    for (auto [key, widths] : {std::pair{"LeftHeader", &s.leftWidths}, std::pair{"RightHeader", &s.rightWidths}}) {
        if (!open(k, key))
            continue;
        for (size_t n = 0; n < widths->size(); ++n)
            k.WriteInteger("width" + std::to_string(n), (*widths)[n]);
    }
    if (open(k, "MainForm")) {
        WriteWindowPlacement(k, s.mainForm);
    }
    for (size_t side = 0; side < 2; ++side) {
        // Not kept: the next run starts where a first run does.
        const PaneState pane = s.KeepPlaces ? s.panes[side] : PaneState{};
        if (!open(k, kPaneKeys[side]))
            continue;
        k.WriteString("Path", pane.path);
        k.WriteInteger("ZipMode", pane.zipMode);
        k.WriteString("ZipPath", pane.zipPath);
        k.WriteString("Source", pane.source);
        k.WriteInteger("SortKey", pane.sortKey);
        k.WriteInteger("Ascending", pane.ascending);
    }
    return registry_.Save();
}

} // namespace tarnel
