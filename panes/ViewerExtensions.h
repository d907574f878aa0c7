#pragma once
// The extensions the quick viewer takes over from the desktop's applications.
#include <string>
#include <string_view>
#include <vector>

namespace tarnel {

struct ViewerExtension {
    std::string Ext; // upper case, with its leading dot, at most 9 characters
    bool Enabled = true;
    bool BuiltIn = false;
};

class ViewerExtensionTable {
public:
    // 50 entries when there were 13 built-ins; the 14 added since must not
    // crowd out the custom ones a stored table holds.
    static constexpr size_t kMaxEntries = 64;
    ViewerExtensionTable() { ResetToDefaults(); }
    void ResetToDefaults();
    const std::vector<ViewerExtension>& Entries() const { return entries_; }
    std::vector<ViewerExtension>& Entries() { return entries_; }
    // Appends a custom (shown as text) extension; false when the table is full.
    bool Add(std::string_view ext);
    // True when the name's upper-cased extension is an enabled entry.
    bool Accepts(std::string_view name) const;

private:
    std::vector<ViewerExtension> entries_;
};

ViewerExtensionTable& ViewerExtensions();
inline bool IsViewerExtension(std::string_view name) { return ViewerExtensions().Accepts(name); }

} // namespace tarnel
