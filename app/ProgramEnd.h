#pragma once
// Only the main window's own close handling ends a run. Qt would end it when
// the last visible window closes, which is the editor or a tool window while
// the main window sits hidden in the tray.
class QWidget;

namespace tarnel {

// Turns off quitting on the last closed window and ends the running loop when
// mainWindow's close handling lets it close.
void EndRunOnlyWithMainWindow(QWidget* mainWindow);

} // namespace tarnel
