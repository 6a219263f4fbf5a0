#include "platform/platform.h"

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace Platform {

// The parent-death signal reaches the direct child only; the watchdog takes
// care of the rest of its group.
void bindChildToLauncher(qint64 launcherPid)
{
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    // The launcher may have died before the line above took effect.
    if (::getppid() != static_cast<pid_t>(launcherPid))
        ::raise(SIGKILL);
}

} // namespace Platform
