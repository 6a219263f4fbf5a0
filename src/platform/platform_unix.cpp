#include "platform/platform.h"

#include <QProcess>
#include <QSharedMemory>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>

namespace Platform {

namespace {

// The watchdog is forked once, before the first start of a server. It only
// reads group ids from a pipe (positive: register, negative: forget) and,
// when the launcher's end of the pipe closes (the launcher ended in any way),
// kills every group still registered. Between fork and _exit it uses nothing
// but async-signal-safe calls, because the launcher is multi-threaded.
int g_watchdogFd = -1;

[[noreturn]] void watchdogMain(int readFd)
{
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE})
        ::signal(sig, SIG_IGN);
    // Out of the launcher's group, so a terminal's Ctrl+C does not take the
    // watchdog down together with the launcher.
    ::setpgid(0, 0);
    const long maxFd = ::sysconf(_SC_OPEN_MAX);
    for (int fd = 3; fd < (maxFd > 0 && maxFd < 65536 ? maxFd : 65536); ++fd) {
        if (fd != readFd)
            ::close(fd);
    }

    constexpr int kMaxGroups = 1024;
    pid_t groups[kMaxGroups];
    int count = 0;
    for (;;) {
        std::int32_t value = 0;
        const ssize_t got = ::read(readFd, &value, sizeof value);
        if (got < 0 && errno == EINTR)
            continue;
        if (got != static_cast<ssize_t>(sizeof value))
            break;
        if (value > 0) {
            if (count < kMaxGroups)
                groups[count++] = value;
        } else if (value < 0) {
            for (int i = 0; i < count; ++i) {
                if (groups[i] == -value) {
                    groups[i] = groups[--count];
                    break;
                }
            }
        }
    }
    for (int i = 0; i < count; ++i)
        ::kill(-groups[i], SIGKILL);
    ::_exit(0);
}

void ensureWatchdog()
{
    if (g_watchdogFd >= 0)
        return;
    int fds[2];
    if (::pipe(fds) != 0)
        return;
    ::fcntl(fds[1], F_SETFD, FD_CLOEXEC);
    ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[1]);
        watchdogMain(fds[0]);
    }
    ::close(fds[0]);
    if (pid < 0) {
        ::close(fds[1]);
        return;
    }
    g_watchdogFd = fds[1];
}

void tellWatchdog(std::int32_t value)
{
    if (g_watchdogFd < 0)
        return;
    // Four bytes to a pipe are written atomically or not at all.
    while (::write(g_watchdogFd, &value, sizeof value) < 0 && errno == EINTR) {
    }
}

} // namespace

struct ProcessTree::Data
{
    pid_t group = 0;
};

ProcessTree::ProcessTree()
    : d(new Data)
{
    ensureWatchdog();
}

ProcessTree::~ProcessTree() = default;

void ProcessTree::prepare(QProcess *process, qint64 launcherPid)
{
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    process->setChildProcessModifier([launcherPid] { setUpChild(launcherPid); });
#else
    // Qt 5 calls the process's setupChildProcess() instead.
    Q_UNUSED(process)
    Q_UNUSED(launcherPid)
#endif
}

void ProcessTree::adopt(qint64 pid)
{
    if (pid <= 0 || d->group == static_cast<pid_t>(pid))
        return;
    release();
    d->group = static_cast<pid_t>(pid);
    tellWatchdog(static_cast<std::int32_t>(d->group));
}

void ProcessTree::release()
{
    if (d->group > 0)
        tellWatchdog(-static_cast<std::int32_t>(d->group));
    d->group = 0;
}

void ProcessTree::kill(qint64 pid)
{
    if (pid > 0)
        ::kill(-static_cast<pid_t>(pid), SIGKILL);
}

void setUpChild(qint64 launcherPid)
{
    ::setpgid(0, 0);
    bindChildToLauncher(launcherPid);
}

void dropStaleGuard(const QString &key)
{
    QSharedMemory probe(key);
    if (probe.attach(QSharedMemory::ReadWrite))
        probe.detach();
}

QByteArray textLineEnd()
{
    return QByteArrayLiteral("\n");
}

} // namespace Platform
