#pragma once

#include "platform/platform.h"

#include <QProcess>

// The one place where the launcher starts and kills server programs.
//
// A server must never outlive its supervisor: operators lose ports and data
// when one keeps running after the launcher is gone, or when only a wrapper
// script dies. So each program is started as the head of a process tree the
// platform holds together (Platform::ProcessTree): killTree() ends the whole
// tree, grandchildren included, and so does the launcher's own death.
class ServerProcess : public QProcess
{
    Q_OBJECT
    Q_DISABLE_COPY(ServerProcess)

public:
    explicit ServerProcess(QObject *parent = nullptr);
    ~ServerProcess() override;

    // QProcess::start, and the program's tree is held right away: waiting
    // for the started signal would leave a moment in which a killed launcher
    // leaves the program's children behind.
    void launch(QIODevice::OpenMode mode = QIODevice::ReadWrite);

    // Kills the program and everything it started in its tree.
    // Like QProcess::kill(), the process then reports a crash exit.
    void killTree();

protected:
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    void setupChildProcess() override;
#endif

private:
    void guard();
    void onFinished();

    qint64 launcherPid = 0;
    Platform::ProcessTree tree;
};
