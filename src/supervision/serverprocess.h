#pragma once

#include "platform/platform.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QProcess>
#include <QTimer>

// The one place where the launcher starts, stops and restarts server programs.
//
// A server must never outlive its supervisor: operators lose ports and data
// when one keeps running after the launcher is gone, or when only a wrapper
// script dies. So each program is started as the head of a process tree the
// platform holds together (Platform::ProcessTree): killTree() ends the whole
// tree, grandchildren included, and so does the launcher's own death.
//
// ended() is the end of the whole supervised program: for a program whose
// group is followed, not before the last member of its group is gone.
class ServerProcess : public QProcess
{
    Q_OBJECT
    Q_DISABLE_COPY(ServerProcess)

public:
    explicit ServerProcess(QObject *parent = nullptr);
    // Still running: killed at once, or, after stop(), at the end of its
    // grace period (waiting for it here).
    ~ServerProcess() override;

    // QProcess::start, and the program's tree is held right away: waiting
    // for the started signal would leave a moment in which a killed launcher
    // leaves the program's children behind.
    void launch(QIODevice::OpenMode mode = QIODevice::ReadWrite);

    // Kills the program and everything it started in its tree.
    // Like QProcess::kill(), the process then reports a crash exit.
    void killTree();

    // The operator's stop: asks the tree to end and kills what is left after
    // graceMs (0: kills at once). Cancels a pending restart. An end within the
    // grace period counts as a normal exit, a kill as a crash.
    void stop(int graceMs);

    // Keeps supervising the program's group after the program itself ended
    // while any member is alive: a start script that runs its server in the
    // background and exits. Not for a service start command, whose service
    // is meant to outlive it.
    void setFollowGroup(bool on) { followGroup = on; }
    // The program runs, or its followed group does.
    bool isActive() const { return state() != QProcess::NotRunning || following; }

    // Starts the program again when it ends by itself (not after stop()),
    // after firstMs, twice that for the next attempt, and so on up to maxMs;
    // a run of resetAfterMs or longer starts the count anew.
    void setAutoRestart(bool on);
    void setRestartBackoff(int firstMs, int maxMs, int resetAfterMs);
    bool restartPending() const { return restartTimer.isActive(); }
    // The operator's own start: a pending restart is dropped and the count
    // of attempts starts anew.
    void cancelRestart();
    // stop() was asked since the last launch: an end is the one asked for.
    bool stopRequested() const { return stopping; }
    // CPU and memory of the program's tree, now.
    Platform::TreeUsage usage() const { return tree.usage(); }

signals:
    void ended(int exitCode, QProcess::ExitStatus status);
    // The program ended but members of its group run on and are followed.
    void detached();
    void restartScheduled(int attempt, int delayMs);
    void restarting(int attempt);

protected:
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    void setupChildProcess() override;
#endif

private:
    void guard();
    void onFinished(int exitCode, QProcess::ExitStatus status);
    void finishEnd();
    void scheduleRestart();

    qint64 launcherPid = 0;
    Platform::ProcessTree tree;
    bool followGroup = false;
    bool following = false;       // the program ended, its group is followed
    bool stopping = false;        // stop() was asked since the last launch
    bool killed = false;          // the tree was killed since the last launch
    int lastExitCode = 0;
    QProcess::ExitStatus lastStatus = QProcess::NormalExit;
    QDeadlineTimer stopDeadline;
    QTimer graceTimer;
    QTimer groupPoll;
    bool autoRestart = false;
    int attempts = 0;
    int firstDelay = 1000;
    int maxDelay = 60000;
    int resetAfter = 60000;
    QElapsedTimer runTime;
    QTimer restartTimer;
};
