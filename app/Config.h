#pragma once
// Process-wide options of the main window, with their defaults.
namespace tarnel {

enum QuitTypes { qtAsk = 0, qtNever = 1, qtAlways = 2, qtToTray = 3 };

struct Config {
    int QuitType = qtAsk;
};

} // namespace tarnel
