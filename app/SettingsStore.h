#pragma once
// Settings in the registry file: loaded once at start-up, saved once at the
// end of a normal run. A key holding a value of the wrong type is reported,
// keeps its defaults and is not written back, so nothing stored is lost.
#include "app/Settings.h"

#include <set>
#include <string>
#include <vector>

namespace tarnel {

class Registry;
class RegistryKey;
class ViewerExtensionTable;

inline constexpr const char kSettingsRoot[] = "Software\\Vormane\\orv";

class SettingsStore {
public:
    explicit SettingsStore(Registry& registry) : registry_(registry) {}

    // Each step loads one key; messages collects "Invalid data type for ..." texts.
    void LoadViewerTypes(ViewerExtensionTable& table);
    void LoadColumnWidths(AppSettings& settings);
    void LoadBookmarks(AppSettings& settings);
    void LoadGeneral(AppSettings& settings);
    void LoadToolBar(AppSettings& settings);
    void LoadTextView(AppSettings& settings);
    void LoadHotKeys(AppSettings& settings);
    void LoadPlacement(AppSettings& settings);
    void LoadPanes(AppSettings& settings);
    void LoadAll(AppSettings& settings, ViewerExtensionTable& table);

    // Writes every key that was not refused while loading, then saves the file.
    bool SaveAll(const AppSettings& settings, const ViewerExtensionTable& table);

    const std::vector<std::string>& Messages() const { return messages_; }
    bool Refused(const std::string& key) const { return refused_.count(key) != 0; }

private:
    template <typename Load>
    void LoadKey(const std::string& key, Load&& load);

    Registry& registry_;
    std::vector<std::string> messages_;
    std::set<std::string> refused_;
};

// A window placement as text values in the open key (MainForm, RenamerForm,
// ...). Reading throws RegistryError for a value of the wrong type.
WindowPlacement ReadWindowPlacement(const RegistryKey& key);
void WriteWindowPlacement(RegistryKey& key, const WindowPlacement& placement);

// "Name" = width N of the column; false for names that are not width0..width3.
bool ColumnOfWidthValue(const std::string& valueName, int& column);

} // namespace tarnel
