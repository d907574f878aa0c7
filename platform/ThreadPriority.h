#pragma once
// Background work that must never compete with the user.

namespace tarnel {

// Moves the calling thread to idle scheduling (SCHED_IDLE), or nice 19 where
// that is refused. Only the calling thread is affected.
void RunAtIdlePriority();

} // namespace tarnel
