#pragma once

#include <QProcess>

// The one place where the launcher starts and kills server programs.
//
// A server must never outlive its supervisor: operators lose ports and data
// when one keeps running after the launcher is gone, or when only a wrapper
// script dies. So:
//  - on Unix every child leads its own process group, and killTree() kills
//    the whole group, grandchildren included;
//  - on Linux the child also gets a parent-death signal, and a small watchdog
//    process kills the groups of children still running when the launcher
//    itself dies (SIGKILL, crash), since the parent-death signal reaches only
//    the direct child;
//  - on Windows every child is placed in a job object that kills it when the
//    launcher's last handle to the job closes.
class ServerProcess : public QProcess
{
    Q_OBJECT
    Q_DISABLE_COPY(ServerProcess)

public:
    explicit ServerProcess(QObject *parent = nullptr);
    ~ServerProcess() override;

    // QProcess::start, and the program is put under the watchdog (or into the
    // job) right away: waiting for the started signal would leave a moment in
    // which a killed launcher leaves the program's children behind.
    void launch(QIODevice::OpenMode mode = QIODevice::ReadWrite);

    // Kills the program and everything it started in its process group.
    // Like QProcess::kill(), the process then reports a crash exit.
    void killTree();

protected:
#if defined(Q_OS_UNIX)
    void setupChildProcess() override;
#endif

private:
    void guard();
    void onFinished();

    qint64 launcherPid = 0;
    qint64 groupId = 0;
};
