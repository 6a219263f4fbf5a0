#include "platform/platform.h"

#include <cstdlib>   // before the test below: it defines __GLIBC__
#if defined(__GLIBC__)
#include <malloc.h>
#endif

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

namespace {

void addUsage(pid_t pid, TreeUsage &total, int depth)
{
    const QByteArray dir = "/proc/" + QByteArray::number(pid);
    QFile stat(QString::fromLatin1(dir + "/stat"));
    if (depth > 32 || !stat.open(QIODevice::ReadOnly))
        return;
    const QByteArray line = stat.readAll();
    // After "pid (comm) ": state is field 3; utime and stime are 14 and 15,
    // rss (pages) is 24.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 22 || fields.at(0) == "Z" || fields.at(0) == "X")
        return;
    static const long ticks = ::sysconf(_SC_CLK_TCK);
    static const long pageSize = ::sysconf(_SC_PAGESIZE);
    total.cpuMs = qMax<qint64>(total.cpuMs, 0) + (fields.at(11).toLongLong() + fields.at(12).toLongLong()) * 1000 / ticks;
    total.residentBytes = qMax<qint64>(total.residentBytes, 0) + fields.at(21).toLongLong() * pageSize;
    ++total.processes;
    // Children of the main thread: what a server or a start script forks.
    QFile children(QString::fromLatin1(dir + "/task/" + QByteArray::number(pid) + "/children"));
    if (!children.open(QIODevice::ReadOnly))
        return;
    for (const QByteArray &child : children.readAll().split(' ')) {
        const pid_t childPid = static_cast<pid_t>(child.trimmed().toLong());
        if (childPid > 0)
            addUsage(childPid, total, depth + 1);
    }
}

} // namespace

TreeUsage processUsage(qint64 pid)
{
    TreeUsage total;
    addUsage(static_cast<pid_t>(pid), total, 0);
    return total;
}

void releaseFreedMemory()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

void shareOneHeap()
{
#if defined(__GLIBC__)
    mallopt(M_ARENA_MAX, 1);
#endif
}

} // namespace Platform
