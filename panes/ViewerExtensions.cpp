#include "panes/ViewerExtensions.h"

#include "panes/PathUtil.h"

namespace tarnel {

void ViewerExtensionTable::ResetToDefaults()
{
    entries_.clear();
    for (const char* ext : {".BMP", ".GIF", ".JPG", ".WAV", ".AVI", ".MID", ".TXT", ".VOX", ".RAR"})
        entries_.push_back({ext, true, true});
    for (const char* ext : {".DIZ", ".NFO", ".INF", ".INI"})
        entries_.push_back({ext, true, false});
    // Later additions go last, so a stored table's order and flags still line up.
    for (const char* ext : {".PNG", ".WEBP", ".SVG", ".TIF", ".TIFF", ".ICO", ".XPM", ".MP3", ".OGG", ".FLAC",
                            ".OPUS", ".MP4", ".MKV", ".WEBM"})
        entries_.push_back({ext, true, true});
}

bool ViewerExtensionTable::Add(std::string_view ext)
{
    if (entries_.size() >= kMaxEntries)
        return false;
    std::string stored = UpperAscii(ext);
    if (stored.empty() || stored.front() != '.')
        stored.insert(stored.begin(), '.');
    entries_.push_back({stored.substr(0, 9), true, false});
    return true;
}

bool ViewerExtensionTable::Accepts(std::string_view name) const
{
    const size_t dot = name.rfind('.');
    if (dot == std::string_view::npos)
        return false;
    const std::string_view ext = name.substr(dot);
    for (const ViewerExtension& e : entries_)
        if (e.Enabled && EqualsIgnoreCase(e.Ext, ext))
            return true;
    return false;
}

ViewerExtensionTable& ViewerExtensions()
{
    static ViewerExtensionTable table;
    return table;
}

} // namespace tarnel
