#pragma once
// A window's placement as the settings keep it: the normal (not maximised)
// rectangle, the state (1 normal, 2 minimised, 3 maximised) and whether a
// window minimised from maximised goes back to maximised.
#include "app/Settings.h"

#include <string>

class QWidget;

namespace tarnel {

class TSaveForm {
public:
    // The placement to store when the window goes away. applicationMinimized
    // is true while the program is hidden or minimised; a window maximised at
    // that moment gives State 2 with restoreToMax, otherwise State 3.
    static WindowPlacement ReadPlacement(const QWidget& window, bool applicationMinimized);

    // Applies a stored placement before the window is first shown. Nothing
    // happens when any of the four bounds is 0 (the window keeps its designed
    // placement). State 3 maximises; State 2 minimises (or maximises and
    // minimises with restoreToMax) and, when the window is next restored from
    // minimised, maximises it again if restoreToMax. Returns true for State 2:
    // the program is then to start hidden instead of being shown.
    static bool RestorePlacement(QWidget& window, const WindowPlacement& placement);

    // A stored text value: decimal (with an optional sign) or "0x" and
    // hexadecimal digits; anything else reads as 0.
    static int PlacementNumber(const std::string& text);
};

} // namespace tarnel
