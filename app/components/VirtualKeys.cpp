#include "app/components/VirtualKeys.h"

#include "panes/Matcher.h"

#include <QKeySequence>
#include <QString>

#include <algorithm>

namespace tarnel {

namespace {

struct KeyEntry {
    uint32_t virtualKey;
    Qt::Key key;
    bool keypad;
    uint32_t keysym;
};

std::vector<KeyEntry> BuildTable()
{
    std::vector<KeyEntry> table = {
        {8, Qt::Key_Backspace, false, 0xff08},
        {9, Qt::Key_Tab, false, 0xff09},
        {12, Qt::Key_Clear, false, 0xff0b},
        {13, Qt::Key_Return, false, 0xff0d},
        {16, Qt::Key_Shift, false, 0xffe1},
        {17, Qt::Key_Control, false, 0xffe3},
        {18, Qt::Key_Alt, false, 0xffe9},
        {19, Qt::Key_Pause, false, 0xff13},
        {20, Qt::Key_CapsLock, false, 0xffe5},
        {27, Qt::Key_Escape, false, 0xff1b},
        {32, Qt::Key_Space, false, 0x20},
        {33, Qt::Key_PageUp, false, 0xff55},
        {34, Qt::Key_PageDown, false, 0xff56},
        {35, Qt::Key_End, false, 0xff57},
        {36, Qt::Key_Home, false, 0xff50},
        {37, Qt::Key_Left, false, 0xff51},
        {38, Qt::Key_Up, false, 0xff52},
        {39, Qt::Key_Right, false, 0xff53},
        {40, Qt::Key_Down, false, 0xff54},
        {41, Qt::Key_Select, false, 0xff60},
        {43, Qt::Key_Execute, false, 0xff62},
        {44, Qt::Key_Print, false, 0xff61}, // the Print Screen key
        {45, Qt::Key_Insert, false, 0xff63},
        {46, Qt::Key_Delete, false, 0xffff},
        {47, Qt::Key_Help, false, 0xff6a},
        {91, Qt::Key_Super_L, false, 0xffeb},
        {92, Qt::Key_Super_R, false, 0xffec},
        {93, Qt::Key_Menu, false, 0xff67},
        {95, Qt::Key_Sleep, false, 0x1008ff2f},
        {106, Qt::Key_Asterisk, true, 0xffaa},
        {107, Qt::Key_Plus, true, 0xffab},
        {108, Qt::Key_Comma, true, 0xffac},
        {109, Qt::Key_Minus, true, 0xffad},
        {110, Qt::Key_Period, true, 0xffae},
        {111, Qt::Key_Slash, true, 0xffaf},
        {144, Qt::Key_NumLock, false, 0xff7f},
        {145, Qt::Key_ScrollLock, false, 0xff14},
        {166, Qt::Key_Back, false, 0x1008ff26},
        {167, Qt::Key_Forward, false, 0x1008ff27},
        {168, Qt::Key_Refresh, false, 0x1008ff29},
        {169, Qt::Key_Stop, false, 0x1008ff28},
        {170, Qt::Key_Search, false, 0x1008ff1b},
        {171, Qt::Key_Favorites, false, 0x1008ff30},
        {172, Qt::Key_HomePage, false, 0x1008ff18},
        {173, Qt::Key_VolumeMute, false, 0x1008ff12},
        {174, Qt::Key_VolumeDown, false, 0x1008ff11},
        {175, Qt::Key_VolumeUp, false, 0x1008ff13},
        {176, Qt::Key_MediaNext, false, 0x1008ff17},
        {177, Qt::Key_MediaPrevious, false, 0x1008ff16},
        {178, Qt::Key_MediaStop, false, 0x1008ff15},
        {179, Qt::Key_MediaPlay, false, 0x1008ff14},
        {180, Qt::Key_LaunchMail, false, 0x1008ff19},
        {181, Qt::Key_LaunchMedia, false, 0x1008ff32},
        {182, Qt::Key_Launch0, false, 0x1008ff33}, // "My Computer"
        {183, Qt::Key_Launch1, false, 0x1008ff1d}, // calculator
        // Punctuation where a US layout has it.
        {186, Qt::Key_Semicolon, false, 0x3b},
        {187, Qt::Key_Equal, false, 0x3d},
        {188, Qt::Key_Comma, false, 0x2c},
        {189, Qt::Key_Minus, false, 0x2d},
        {190, Qt::Key_Period, false, 0x2e},
        {191, Qt::Key_Slash, false, 0x2f},
        {192, Qt::Key_QuoteLeft, false, 0x60},
        {219, Qt::Key_BracketLeft, false, 0x5b},
        {220, Qt::Key_Backslash, false, 0x5c},
        {221, Qt::Key_BracketRight, false, 0x5d},
        {222, Qt::Key_Apostrophe, false, 0x27},
    };
    for (uint32_t i = 0; i < 10; ++i) {
        table.push_back({48 + i, Qt::Key(Qt::Key_0 + i), false, 0x30 + i});
        table.push_back({96 + i, Qt::Key(Qt::Key_0 + i), true, 0xffb0 + i});
    }
    for (uint32_t i = 0; i < 26; ++i) // X keysyms of letters are the lower case ones
        table.push_back({65 + i, Qt::Key(Qt::Key_A + i), false, 0x61 + i});
    for (uint32_t i = 0; i < 24; ++i)
        table.push_back({112 + i, Qt::Key(Qt::Key_F1 + i), false, 0xffbe + i});
    std::sort(table.begin(), table.end(),
              [](const KeyEntry& a, const KeyEntry& b) { return a.virtualKey < b.virtualKey; });
    return table;
}

const std::vector<KeyEntry>& Table()
{
    static const std::vector<KeyEntry> table = BuildTable();
    return table;
}

const KeyEntry* FindVirtualKey(uint32_t virtualKey)
{
    const auto& table = Table();
    auto it = std::lower_bound(table.begin(), table.end(), virtualKey,
                               [](const KeyEntry& e, uint32_t v) { return e.virtualKey < v; });
    return it != table.end() && it->virtualKey == virtualKey ? &*it : nullptr;
}

// Keys that Qt reports differently from the key that was pressed: shifted
// symbols (Shift itself stays in the modifiers), Shift+Tab, the keypad Enter.
struct Alias {
    Qt::Key key;
    uint32_t virtualKey;
};
constexpr Alias kAliases[] = {
    {Qt::Key_Backtab, 9},       {Qt::Key_Enter, 13},         {Qt::Key_Meta, 91},
    {Qt::Key_ParenRight, 48},   {Qt::Key_Exclam, 49},        {Qt::Key_At, 50},
    {Qt::Key_NumberSign, 51},   {Qt::Key_Dollar, 52},        {Qt::Key_Percent, 53},
    {Qt::Key_AsciiCircum, 54},  {Qt::Key_Ampersand, 55},     {Qt::Key_Asterisk, 56},
    {Qt::Key_ParenLeft, 57},    {Qt::Key_Colon, 186},        {Qt::Key_Plus, 187},
    {Qt::Key_Less, 188},        {Qt::Key_Underscore, 189},   {Qt::Key_Greater, 190},
    {Qt::Key_Question, 191},    {Qt::Key_AsciiTilde, 192},   {Qt::Key_BraceLeft, 219},
    {Qt::Key_Bar, 220},         {Qt::Key_BraceRight, 221},   {Qt::Key_QuoteDbl, 222},
    {Qt::Key_MediaTogglePlayPause, 179},
};

QString Cut(const QString& text, qsizetype length)
{
    return text.size() > length ? text.left(length) : text;
}

} // namespace

QKeyCombination QtKeyOfVirtualKey(uint32_t virtualKey)
{
    const KeyEntry* entry = FindVirtualKey(virtualKey);
    if (!entry)
        return QKeyCombination(Qt::Key_unknown);
    return QKeyCombination(entry->keypad ? Qt::KeypadModifier : Qt::NoModifier, entry->key);
}

uint32_t VirtualKeyOfQtKey(QKeyCombination combination)
{
    const Qt::Key key = combination.key();
    const bool keypad = combination.keyboardModifiers().testFlag(Qt::KeypadModifier);
    for (const KeyEntry& entry : Table()) {
        if (entry.key == key && entry.keypad == keypad)
            return entry.virtualKey;
    }
    if (keypad) { // keypad keys that are the same as the main ones (Enter, arrows)
        for (const KeyEntry& entry : Table()) {
            if (entry.key == key && !entry.keypad)
                return entry.virtualKey;
        }
    }
    for (const Alias& alias : kAliases) {
        if (alias.key == key)
            return alias.virtualKey;
    }
    return 0;
}

uint32_t XKeysymOfVirtualKey(uint32_t virtualKey)
{
    const KeyEntry* entry = FindVirtualKey(virtualKey);
    return entry ? entry->keysym : 0;
}

std::vector<uint32_t> MappedVirtualKeys()
{
    std::vector<uint32_t> codes;
    for (const KeyEntry& entry : Table())
        codes.push_back(entry.virtualKey);
    return codes;
}

QKeyCombination ToQtKey(const HotKeyDefinition& definition)
{
    const QKeyCombination key = QtKeyOfVirtualKey(definition.keyCode);
    Qt::KeyboardModifiers modifiers = key.keyboardModifiers();
    if (definition.modifiers & hkShift)
        modifiers |= Qt::ShiftModifier;
    if (definition.modifiers & hkCtrl)
        modifiers |= Qt::ControlModifier;
    if (definition.modifiers & hkAlt)
        modifiers |= Qt::AltModifier;
    if (definition.modifiers & hkMeta)
        modifiers |= Qt::MetaModifier;
    return QKeyCombination(modifiers, key.key());
}

HotKeyDefinition FromQtKey(QKeyCombination key)
{
    HotKeyDefinition definition;
    definition.keyCode = VirtualKeyOfQtKey(key);
    const Qt::KeyboardModifiers modifiers = key.keyboardModifiers();
    if (modifiers & Qt::ShiftModifier)
        definition.modifiers |= hkShift;
    if (modifiers & Qt::ControlModifier)
        definition.modifiers |= hkCtrl;
    if (modifiers & Qt::AltModifier)
        definition.modifiers |= hkAlt;
    if (modifiers & Qt::MetaModifier)
        definition.modifiers |= hkMeta;
    return definition;
}

std::string HotKeyName(const HotKeyDefinition& definition)
{
    const QKeyCombination key = QtKeyOfVirtualKey(definition.keyCode);
    QString name;
    if (key.key() != Qt::Key_unknown)
        name = QKeySequence(key).toString(QKeySequence::NativeText);
    return HotKeyName(name, definition.modifiers);
}

std::string HotKeyName(const QString& keyName, uint8_t modifiers)
{
    QString name = Cut(keyName, 38);
    constexpr qsizetype kLength = 29;
    if (modifiers & hkShift)
        name = Cut("Shift-" + name, kLength);
    if (modifiers & hkCtrl)
        name = Cut("Ctrl-" + name, kLength);
    if (modifiers & hkAlt)
        name = Cut("Alt-" + name, kLength);
    return name.toStdString();
}

std::string ModifierWords(uint8_t modifiers)
{
    std::string words;
    if (modifiers & hkShift)
        words += "shift ";
    if (modifiers & hkCtrl)
        words += "ctrl ";
    if (modifiers & hkAlt)
        words += "alt ";
    if (modifiers & hkMeta)
        words += "ext ";
    return words;
}

uint8_t ParseModifierWords(const std::string& text)
{
    uint8_t modifiers = 0;
    if (Match("*shift*", text))
        modifiers |= hkShift;
    if (Match("*ctrl*", text))
        modifiers |= hkCtrl;
    if (Match("*alt*", text))
        modifiers |= hkAlt;
    if (Match("*ext*", text))
        modifiers |= hkMeta;
    return modifiers;
}

} // namespace tarnel
