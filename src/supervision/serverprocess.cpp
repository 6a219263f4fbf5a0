#include "supervision/serverprocess.h"

#include <QCoreApplication>
#include <QThread>

#include <algorithm>

ServerProcess::ServerProcess(QObject *parent)
    : QProcess(parent)
    , launcherPid(QCoreApplication::applicationPid())
{
    tree.prepare(this, launcherPid);
    graceTimer.setSingleShot(true);
    restartTimer.setSingleShot(true);
    // Members of a group that are not our children give no signal when they
    // end: look twice a second.
    groupPoll.setInterval(500);
    // Also for a plain start(): the program is held once it has started.
    connect(this, &QProcess::started, this, &ServerProcess::guard);
    connect(this, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished),
            this, &ServerProcess::onFinished);
    connect(this, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        // A restart that could not start is tried again, later.
        if (error == QProcess::FailedToStart && autoRestart && attempts > 0 && !stopping)
            scheduleRestart();
    });
    connect(&graceTimer, &QTimer::timeout, this, &ServerProcess::killTree);
    connect(&groupPoll, &QTimer::timeout, this, [this] {
        if (!tree.alive())
            finishEnd();
    });
    connect(&restartTimer, &QTimer::timeout, this, [this] {
        emit restarting(attempts);
        launch(openMode() == QIODevice::NotOpen ? QIODevice::ReadWrite : openMode());
    });
}

ServerProcess::~ServerProcess()
{
    restartTimer.stop();
    if (isActive() && stopping) {
        // Quitting: the tree was asked to end; it has until its deadline.
        while (!stopDeadline.hasExpired() && isActive()) {
            if (state() != QProcess::NotRunning)
                waitForFinished(static_cast<int>(std::max<qint64>(1, stopDeadline.remainingTime())));
            else if (tree.alive())
                QThread::msleep(20);
            else
                break;
        }
    }
    if (state() != QProcess::NotRunning || tree.alive()) {
        killTree();
        waitForFinished(3000);
    }
    tree.release();
}

void ServerProcess::launch(QIODevice::OpenMode mode)
{
    stopping = false;
    killed = false;
    runTime.start();
    start(mode);
    // The child exists once start() returns (it is still exec'ing, the state
    // is Starting); a start that failed outright has no process id.
    if (state() != QProcess::NotRunning)
        guard();
}

void ServerProcess::guard()
{
    // Holding the same program twice is harmless: the tree ignores it.
    tree.adopt(processId());
}

void ServerProcess::onFinished(int exitCode, QProcess::ExitStatus status)
{
    lastExitCode = exitCode;
    lastStatus = status;
    if (followGroup && !killed && tree.alive()) {
        following = true;
        groupPoll.start();
        emit detached();
        return;
    }
    finishEnd();
}

void ServerProcess::finishEnd()
{
    groupPoll.stop();
    graceTimer.stop();
    following = false;
    // What the program left behind when it ended by itself (a service start
    // command's daemon, say) is not ours to kill any more.
    tree.release();
    QProcess::ExitStatus status = lastStatus;
    if (killed)
        status = QProcess::CrashExit;
    else if (stopping)
        status = QProcess::NormalExit;   // it ended when asked to
    emit ended(lastExitCode, status);
    if (autoRestart && !stopping && !killed)
        scheduleRestart();
}

void ServerProcess::scheduleRestart()
{
    if (runTime.isValid() && runTime.elapsed() >= resetAfter)
        attempts = 0;
    const int delay = static_cast<int>(std::min<qint64>(qint64(firstDelay) << std::min(attempts, 20), maxDelay));
    ++attempts;
    restartTimer.start(delay);
    emit restartScheduled(attempts, delay);
}

void ServerProcess::setAutoRestart(bool on)
{
    autoRestart = on;
    if (!on) {
        restartTimer.stop();
        attempts = 0;
    }
}

void ServerProcess::cancelRestart()
{
    restartTimer.stop();
    attempts = 0;
}

void ServerProcess::setRestartBackoff(int firstMs, int maxMs, int resetAfterMs)
{
    firstDelay = std::max(1, firstMs);
    maxDelay = std::max(firstDelay, maxMs);
    resetAfter = resetAfterMs;
}

void ServerProcess::stop(int graceMs)
{
    cancelRestart();
    if (!isActive())
        return;
    stopping = true;
    if (graceMs <= 0) {
        killTree();
        return;
    }
    stopDeadline.setRemainingTime(graceMs);
    if (!graceTimer.isActive()) {
        tree.terminate(processId());
        graceTimer.start(graceMs);
    }
}

void ServerProcess::killTree()
{
    if (!isActive())
        return;
    killed = true;
    stopDeadline.setRemainingTime(0);
    tree.kill(processId());
    if (state() != QProcess::NotRunning)
        kill();
}

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
// Runs in the child between fork and exec (Unix only).
void ServerProcess::setupChildProcess()
{
    Platform::setUpChild(launcherPid);
}
#endif
