#pragma once
// Remote places in the window: the questions a connection asks (an unknown
// host key, a password, a key's passphrase) come from a worker and are put
// to the user in dialogs on the window's thread; the worker waits for the
// answer, the window never waits for the worker.
#include "platform/ssh/SshQuestions.h"

#include <memory>
#include <string>

class QWidget;

namespace tarnel {

class Operation;
struct TDirData;

// Asks in dialogs over window; once window is gone every question is
// declined.
std::shared_ptr<SshQuestions> WindowSshQuestions(QWidget* window);

// The operation that makes the folder name in the remote place pane shows,
// through the pane's own source (and so its questions); null when the pane
// has no remote source.
std::shared_ptr<Operation> RemoteFolderOperation(const TDirData& pane, const std::string& name);

} // namespace tarnel
