#pragma once

#include "ui/setup/common/serverpanel.h"

#include <QProcess>

class ServerSupervisor;

// Shows the media server's supervision and forwards the operator's presses.
class MediaServerSetup : public ServerPanel
{
    Q_OBJECT
    Q_DISABLE_COPY(MediaServerSetup)

public:
    explicit MediaServerSetup(QWidget *parent = nullptr);
    // Shows the media server behind link (the service's); null: one of its own.
    explicit MediaServerSetup(StackLink *link, QWidget *parent = nullptr);

private slots:
    void slotSetupProgram();
    void slotClostProgram();
    // The console operations of the media server; its supervisor watches
    // the process itself and calls them as it reads and sees it end.
    void slotReadRecord();
    void slotProcessError(QProcess::ProcessError error);
    void slotProcessFinished(int index, QProcess::ExitStatus status);

private:
    ServerSupervisor *server = nullptr;     // null when the stack is the service's
};
