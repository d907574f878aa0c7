#include "platform/ThreadPriority.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

namespace tarnel {

void RunAtIdlePriority()
{
#ifdef SCHED_IDLE
    sched_param param{};
    param.sched_priority = 0;
    if (::pthread_setschedparam(::pthread_self(), SCHED_IDLE, &param) == 0)
        return;
#endif
    // On Linux a thread id names just this thread.
    ::setpriority(PRIO_PROCESS, id_t(::gettid()), 19);
}

} // namespace tarnel
