#pragma once
// Finding out before the window is made whether a display can be reached, so
// that a start without one ends with a useful message instead of Qt's abort.
#include <string>

namespace tarnel {

// True when Qt will have somewhere to draw: a headless platform plugin chosen
// by QT_QPA_PLATFORM, a Wayland compositor answering on its socket, or an X
// server accepting a connection. Otherwise false, with the reason in why.
bool DisplayReachable(std::string* why);

// "tarnel: no display can be reached (<why>); use tarnel --list DIR or
// tarnel --screenshot FILE.png"
std::string NoDisplayMessage(const std::string& why);

} // namespace tarnel
