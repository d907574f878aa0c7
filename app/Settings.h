#pragma once
// Every option that outlives a run, with its default. Read once at start-up,
// written once at the end of a normal run.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tarnel {

enum QuitTypes { qtAsk = 0, qtNever = 1, qtAlways = 2, qtToTray = 3 };

// Modifier bits of a hot key, as the settings store them.
enum HotKeyModifier : uint8_t { hkShift = 1, hkCtrl = 2, hkAlt = 4, hkMeta = 8 };

struct HotKeyDefinition {
    uint8_t modifiers = 0;
    uint32_t keyCode = 0; // a Windows virtual-key code (116 = F5)
    bool registered = false;
    bool enabled = true;
};

// Shift+F5, F6, F7, Esc.
inline std::array<HotKeyDefinition, 4> DefaultHotKeys()
{
    return {{{hkShift, 116}, {0, 117}, {0, 118}, {0, 27}}};
}

// With the commander keys F6 and F7 are the file commands': the full-screen
// viewer moves to F11 and the viewer to Ctrl+Q.
inline std::array<HotKeyDefinition, 4> CommanderHotKeys()
{
    return {{{hkShift, 116}, {0, 122}, {hkCtrl, 81}, {0, 27}}};
}

struct ToolBarBand {
    std::string name; // TBGeneral, TBNavigation, TBDrives
    bool lineBreak = false;
    int width = 0;
};

struct TextViewSettings {
    std::string fontName = "Fixedsys";
    int fontSize = -9;
    uint32_t fontFore = 0x00C0C0C0; // 0x00BBGGRR
    uint32_t fontBack = 0;
    int tabSize = 8;
    bool printPage = false;
};

struct WindowPlacement {
    int left = 0, top = 0, width = 0, height = 0;
    int state = 0; // 1 normal, 2 minimised, 3 maximised
    bool restoreToMax = false;
};

// Where a pane was when the last run ended, and its sort order.
struct PaneState {
    std::string path;    // the directory, or the archive file
    int zipMode = 0;     // inside the archive at path when above 0
    std::string zipPath; // the folder inside the archive
    std::string source;  // PanePlace::SourceName: empty for the disk and ZIP archives
    int sortKey = 0;     // name, size, type, time, description
    bool ascending = true;
};

struct AppSettings {
    int QuitType = 0;
    bool ShowBigSize = false;
    bool ShowAttrs = true;
    bool ShowListHints = true;
    bool ShowSupported = true;
    bool FastZipMove = false;
    bool UseAsyncShell = false;
    // Copies and moves onto one volume run one after the other.
    bool QueuePerVolume = false;
    // Copies, moves, renames and deletes take the entries' descriptions along.
    bool DescriptionsFollow = true;
    bool FunctionKeyBar = true; // the bar of function-key buttons under the panes
    // F6 moves and F7 makes a folder; the viewer's hot keys are elsewhere.
    bool CommanderKeys = false;
    bool ConfirmCopyTarget = true; // copy and move show their target, editable, first
    std::string backType = "Default"; // or "None"
    std::vector<ToolBarBand> bands{{"TBGeneral", false, 101}, {"TBNavigation", false, 280}, {"TBDrives", false, 197}};
    TextViewSettings textView;
    std::array<int, 4> leftWidths{100, 50, 80, 5000};
    std::array<int, 4> rightWidths{100, 50, 80, 5000};
    // Which widths came from the store; the others are fitted to the font.
    std::array<bool, 4> leftWidthStored{}, rightWidthStored{};
    std::vector<std::string> bookmarks; // paths ending with "/"
    std::array<HotKeyDefinition, 4> hotKeys = DefaultHotKeys();
    WindowPlacement mainForm;
    std::array<PaneState, 2> panes; // left, right
    // Off: each run starts both panes at the volume root of the working
    // directory, sorted by name, as the first versions did.
    bool KeepPlaces = true;
};

} // namespace tarnel
