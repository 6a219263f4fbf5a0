#include "platform/platform.h"

#include <csignal>

namespace Platform {

// No parent-death signal here: the watchdog alone ends the children of a
// launcher that died.
void bindChildToLauncher(qint64 launcherPid)
{
    Q_UNUSED(launcherPid)
}

// Zombies count as members here; they go once their parent reaps them.
bool groupAlive(qint64 group)
{
    return ::kill(-static_cast<pid_t>(group), 0) == 0;
}

TreeUsage processUsage(qint64 pid)
{
    Q_UNUSED(pid)
    return TreeUsage();
}

void releaseFreedMemory()
{
}

void shareOneHeap()
{
}

} // namespace Platform
