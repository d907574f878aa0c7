#pragma once
// Hot keys are kept as Windows virtual-key codes (the settings store them that
// way, `VirtKey`, 116 = F5). These tables turn them into Qt keys for shortcuts,
// into X keysyms for system-wide grabs, and into the names shown to the user.
#include "app/Settings.h"

#include <QKeyCombination>
#include <QString>

#include <cstdint>
#include <string>
#include <vector>

namespace tarnel {

// The Qt key of a virtual-key code, with Qt::KeypadModifier for the number
// pad (96-111); Qt::Key_unknown when the code has no entry.
QKeyCombination QtKeyOfVirtualKey(uint32_t virtualKey);

// The reverse: a Qt key (Qt::KeypadModifier tells the number pad apart, other
// modifiers are ignored) to its virtual-key code; 0 when there is none. The
// shifted symbols of a US layout ("!", ":", "{", ...) give their key's code.
uint32_t VirtualKeyOfQtKey(QKeyCombination key);

// The X keysym of a virtual-key code, 0 when there is none.
uint32_t XKeysymOfVirtualKey(uint32_t virtualKey);

// Every virtual-key code with an entry, ascending.
std::vector<uint32_t> MappedVirtualKeys();

// Key and modifiers together; the Windows key becomes Qt's Meta.
QKeyCombination ToQtKey(const HotKeyDefinition& definition);
// Enabled and not registered; keyCode 0 when the key has no virtual-key code.
HotKeyDefinition FromQtKey(QKeyCombination key);

// "F5", "Shift-F5", "Alt-Ctrl-X": the key's own name (at most 38 characters),
// then "Shift-", "Ctrl-" and "Alt-" put in front in that order, keeping at most
// 29 characters after each. The Windows key is not shown.
std::string HotKeyName(const HotKeyDefinition& definition);
// The same from a key name given (a translated one can be long).
std::string HotKeyName(const QString& keyName, uint8_t modifiers);

// "shift ", "ctrl ", "alt ", "ext " in that order, each present bit only.
std::string ModifierWords(uint8_t modifiers);
// Any text holding the words, in any order or case ("SHIFT" counts).
uint8_t ParseModifierWords(const std::string& text);

} // namespace tarnel
