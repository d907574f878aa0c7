#pragma once
// Remote places in the window: the questions a connection asks (an unknown
// host key, a password, a key's passphrase) come from a worker and are put
// to the user in dialogs on the window's thread; the worker waits for the
// answer, the window never waits for the worker.
#include "platform/ssh/SshQuestions.h"

#include <memory>

class QWidget;

namespace tarnel {

// Asks in dialogs over window; once window is gone every question is
// declined.
std::shared_ptr<SshQuestions> WindowSshQuestions(QWidget* window);

} // namespace tarnel
