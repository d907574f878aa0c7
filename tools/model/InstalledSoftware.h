#pragma once
// The installed-software inventory the uninstall list shows: Debian packages
// from the dpkg status database, Flatpak applications, and the entries an
// administrator adds under the machine registry's Uninstall key.
#include <string>
#include <string_view>
#include <vector>

namespace tarnel {

class RegistryNode;

inline constexpr const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
inline constexpr const char kDpkgStatusFile[] = "/var/lib/dpkg/status";

struct SoftwareEntry {
    std::string key; // the sub-key name: the list's order
    std::string displayName;
    std::string uninstallString;
};

// The installed packages of a dpkg status file's text, in file order. A
// paragraph without a package name or not installed is left out, so damaged
// text gives fewer entries, never a failure.
std::vector<SoftwareEntry> ParseDpkgStatus(std::string_view text);

// The applications of Flatpak installation folders (each holding "app/<id>").
// user marks a per-user installation, which its uninstall command names.
std::vector<SoftwareEntry> ReadFlatpakApps(const std::string& installation, bool user);

struct UninstallList {
    std::vector<std::string> names;    // shown, and the parallel name list
    std::vector<std::string> commands; // same index
    std::string error;                 // "Invalid data type for '...'" when filling stopped
};

// Orders the inventory and the registry key's sub-keys by name without
// regard to case and keeps those with both a display name and an uninstall
// string. A registry value that is not text stops the filling with the
// registry's message; what was added stays.
UninstallList FillUninstallList(std::vector<SoftwareEntry> inventory, const RegistryNode* uninstallKey);

// Everything on this machine: the dpkg status file, Flatpak when its program
// is found, the machine registry's key (null when it does not exist).
UninstallList ReadInstalledSoftware(const RegistryNode* uninstallKey, const std::string& dpkgStatus = kDpkgStatusFile);

} // namespace tarnel
