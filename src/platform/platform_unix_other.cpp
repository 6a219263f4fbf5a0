#include "platform/platform.h"

namespace Platform {

// No parent-death signal here: the watchdog alone ends the children of a
// launcher that died.
void bindChildToLauncher(qint64 launcherPid)
{
    Q_UNUSED(launcherPid)
}

} // namespace Platform
