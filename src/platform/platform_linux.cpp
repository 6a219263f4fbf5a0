#include "platform/platform.h"

#include <QByteArray>
#include <QDir>
#include <QFile>

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

// kill(-group, 0) also counts zombies, and an orphan in a container whose
// init never reaps stays one: read the members' states instead.
bool groupAlive(qint64 group)
{
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool number = false;
        entry.toLongLong(&number);
        if (!number)
            continue;
        QFile stat(QStringLiteral("/proc/") + entry + QStringLiteral("/stat"));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        // "pid (comm) state ppid pgrp ...": comm may hold blanks and ')'.
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 2 && fields.at(2).toLongLong() == group && fields.at(0) != "Z" && fields.at(0) != "X")
            return true;
    }
    return false;
}

} // namespace Platform
