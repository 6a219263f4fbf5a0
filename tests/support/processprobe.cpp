#include "processprobe.h"

#include <QFile>
#include <QRegularExpression>

#if defined(Q_OS_WIN)
#include <windows.h>
#else
#include <csignal>
#include <sys/types.h>
#endif

namespace TestSupport {

bool processAlive(qint64 pid)
{
    if (pid <= 0)
        return false;
#if defined(Q_OS_WIN)
    // A process that ended stays signalled for as long as a handle is open
    // on it, and its id is not reused meanwhile.
    HANDLE h = ::OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
    if (!h)
        return false;
    const bool running = ::WaitForSingleObject(h, 0) == WAIT_TIMEOUT;
    ::CloseHandle(h);
    return running;
#else
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = stat.readAll();
    // Format: pid (comm) state ...; comm may contain blanks and parentheses.
    const int close = line.lastIndexOf(')');
    if (close < 0 || close + 2 >= line.size())
        return false;
    return line.at(close + 2) != 'Z' && line.at(close + 2) != 'X';
#endif
}

bool endProcess(qint64 pid, Ending how)
{
    if (pid <= 0)
        return false;
#if defined(Q_OS_WIN)
    HANDLE h = ::OpenProcess(PROCESS_TERMINATE, FALSE, static_cast<DWORD>(pid));
    if (!h)
        return false;
    const UINT code = how == Ending::Request ? 0 : how == Ending::Crash ? EXCEPTION_ACCESS_VIOLATION : 1;
    const bool ended = ::TerminateProcess(h, code);
    ::CloseHandle(h);
    return ended;
#else
    const int signal = how == Ending::Request ? SIGTERM : how == Ending::Crash ? SIGSEGV : SIGKILL;
    return ::kill(static_cast<pid_t>(pid), signal) == 0;
#endif
}

qint64 numberAfter(const QString &text, const QString &key)
{
    const QRegularExpression re(QRegularExpression::escape(key) + QStringLiteral("=(\\d+)"));
    const QRegularExpressionMatch m = re.match(text);
    return m.hasMatch() ? m.captured(1).toLongLong() : -1;
}

} // namespace TestSupport
