#include "ui/setup/common/serverprocess.h"

#include <QCoreApplication>

ServerProcess::ServerProcess(QObject *parent)
    : QProcess(parent)
    , launcherPid(QCoreApplication::applicationPid())
{
    tree.prepare(this, launcherPid);
    connect(this, &QProcess::started, this, &ServerProcess::onStarted);
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

void ServerProcess::onStarted()
{
    tree.adopt(processId());
}

void ServerProcess::onFinished()
{
    // What the program left behind when it ended by itself (a service start
    // command's daemon, say) is not ours to kill any more.
    tree.release();
}

void ServerProcess::killTree()
{
    if (state() != QProcess::NotRunning)
        tree.kill(processId());
    kill();
}

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
// Runs in the child between fork and exec (Unix only).
void ServerProcess::setupChildProcess()
{
    Platform::setUpChild(launcherPid);
}
#endif
