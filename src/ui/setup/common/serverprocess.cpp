#include "ui/setup/common/serverprocess.h"

#include <QCoreApplication>

ServerProcess::ServerProcess(QObject *parent)
    : QProcess(parent)
    , launcherPid(QCoreApplication::applicationPid())
{
    tree.prepare(this, launcherPid);
    // Also for a plain start(): the program is held once it has started.
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
    // Holding the same program twice is harmless: the tree ignores it.
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
