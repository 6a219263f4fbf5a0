// A stand-in supervisor: starts the test helper through the launcher's own
// ServerProcess with the given arguments, relays the child's output to its
// own stdout, and runs until it is killed. Tests kill it (SIGKILL,
// TerminateProcess) and check that nothing of the child's tree survives.
// With --no-events first it never runs its event loop, so it dies before the
// started signal could ever be delivered. It prints "watchdog=<pid>" for
// each watchdog it comes to have (Unix; Windows has none).
// With --hold-guard KEY it only holds the lock of the shared memory guard
// KEY, prints "held", and waits: another user's copy in the shared temp folder.
#include "supervision/serverprocess.h"

#include <QCoreApplication>
#include <QSharedMemory>
#include <QStringList>
#include <QTimer>

#include <cstdio>
#if defined(Q_OS_WIN)
#include <windows.h>
#else
#include <unistd.h>
#endif

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty())
        return 2;
    if (args.size() == 2 && args.first() == QLatin1String("--hold-guard")) {
        QSharedMemory guard(args.at(1));
        if (!guard.create(1) && !guard.attach())
            return 3;
        if (!guard.lock())
            return 4;
        std::printf("held\n");
        std::fflush(stdout);
        return app.exec();
    }
    const bool noEvents = args.first() == QLatin1String("--no-events");
    if (noEvents)
        args.removeFirst();
    if (args.isEmpty())
        return 2;
    const QString program = args.takeFirst();
    ServerProcess process;
    // As the panels do for their server: a start script's background server
    // is still ours.
    process.setFollowGroup(true);
    process.setProcessChannelMode(QProcess::ForwardedChannels);
    // Tells each watchdog, the first and any that replaces a dead one.
    QTimer watchdogReport;
    qint64 reported = 0;
    QObject::connect(&watchdogReport, &QTimer::timeout, [&reported] {
        if (Platform::watchdogPid() != reported) {
            reported = Platform::watchdogPid();
            std::printf("watchdog=%lld\n", static_cast<long long>(reported));
            std::fflush(stdout);
        }
    });
    watchdogReport.start(50);
    QObject::connect(&process, &QProcess::started, [&process] {
        std::printf("host=%lld child=%lld\n", static_cast<long long>(QCoreApplication::applicationPid()),
                    static_cast<long long>(process.processId()));
        std::fflush(stdout);
    });
    process.setProgram(program);
    process.setArguments(args);
    process.launch();
    if (noEvents) {
        for (;;) {
#if defined(Q_OS_WIN)
            ::Sleep(INFINITE);
#else
            ::pause();
#endif
        }
    }
    return app.exec();
}
