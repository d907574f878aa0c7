#pragma once
// The pane popup repeats the last pane command as its second item.
class QAction;
class QMenu;

namespace tarnel {

// command: the popup's own item of the command just run (null: none there).
void RememberLastCommand(QMenu& popup, QAction* command);

} // namespace tarnel
