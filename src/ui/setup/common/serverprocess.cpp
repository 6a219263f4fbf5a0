#include "ui/setup/common/serverprocess.h"

#include <QCoreApplication>

#if defined(Q_OS_UNIX)
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <fcntl.h>
#include <sys/types.h>
#include <unistd.h>
#endif
#if defined(Q_OS_LINUX)
#include <sys/prctl.h>
#endif
#if defined(Q_OS_WIN)
#include <windows.h>
#endif

namespace {

#if defined(Q_OS_UNIX)

// The watchdog is forked once, on the first start of a server. It only reads
// group ids from a pipe (positive: register, negative: forget) and, when the
// launcher's end of the pipe closes (the launcher ended in any way), kills
// every group still registered. Between fork and _exit it uses nothing but
// async-signal-safe calls, because the launcher is multi-threaded.
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

#endif // Q_OS_UNIX

#if defined(Q_OS_WIN)
HANDLE killOnCloseJob()
{
    static HANDLE job = [] {
        HANDLE h = ::CreateJobObjectW(nullptr, nullptr);
        if (h) {
            JOBOBJECT_EXTENDED_LIMIT_INFORMATION info = {};
            info.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
            ::SetInformationJobObject(h, JobObjectExtendedLimitInformation, &info, sizeof info);
        }
        return h;
    }();
    return job;
}
#endif

} // namespace

ServerProcess::ServerProcess(QObject *parent)
    : QProcess(parent)
    , launcherPid(QCoreApplication::applicationPid())
{
#if defined(Q_OS_UNIX)
    ensureWatchdog();
#endif
    // Also for a plain start(): the program is guarded once it has started.
    connect(this, &QProcess::started, this, &ServerProcess::guard);
    connect(this, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished),
            this, &ServerProcess::onFinished);
}

ServerProcess::~ServerProcess()
{
    if (state() != QProcess::NotRunning) {
        killTree();
        waitForFinished(3000);
    }
    onFinished();
}

void ServerProcess::launch(QIODevice::OpenMode mode)
{
    start(mode);
    // The child exists once start() returns (it is still exec'ing, the state
    // is Starting); a start that failed outright has no process id.
    if (state() != QProcess::NotRunning)
        guard();
}

void ServerProcess::guard()
{
    const qint64 pid = processId();
    if (pid <= 0 || groupId == pid)
        return;
    // The child leads its own group (setupChildProcess), so its id is the group's.
    groupId = pid;
#if defined(Q_OS_UNIX)
    tellWatchdog(static_cast<std::int32_t>(groupId));
#elif defined(Q_OS_WIN)
    // Children the program starts before this point escape the job; servers
    // start their helpers later than the launcher gets here.
    if (HANDLE job = killOnCloseJob()) {
        const DWORD id = static_cast<DWORD>(pid);
        if (HANDLE h = ::OpenProcess(PROCESS_SET_QUOTA | PROCESS_TERMINATE, FALSE, id)) {
            ::AssignProcessToJobObject(job, h);
            ::CloseHandle(h);
        }
    }
#endif
}

void ServerProcess::onFinished()
{
#if defined(Q_OS_UNIX)
    // What the program left behind in its group when it ended by itself (a
    // service start command's daemon, say) is not ours to kill any more.
    if (groupId > 0)
        tellWatchdog(-static_cast<std::int32_t>(groupId));
#endif
    groupId = 0;
}

void ServerProcess::killTree()
{
#if defined(Q_OS_UNIX)
    if (state() != QProcess::NotRunning) {
        const qint64 pid = processId();
        if (pid > 0)
            ::kill(-static_cast<pid_t>(pid), SIGKILL);
    }
#endif
    kill();
}

#if defined(Q_OS_UNIX)
void ServerProcess::setupChildProcess()
{
    // Runs in the child between fork and exec.
    ::setpgid(0, 0);
#if defined(Q_OS_LINUX)
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    // The launcher may have died before the line above took effect.
    if (::getppid() != static_cast<pid_t>(launcherPid))
        ::raise(SIGKILL);
#endif
}
#endif
