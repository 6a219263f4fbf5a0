#pragma once

#include "ui/setup/common/serverpanel.h"

class ServerProcess;

// Starts, watches and stops the media server program.
class MediaServerSetup : public ServerPanel
{
    Q_OBJECT
    Q_DISABLE_COPY(MediaServerSetup)

public:
    explicit MediaServerSetup(QWidget *parent = nullptr);
    ~MediaServerSetup() override;

protected:
    bool saveServerParam(const ServerParam &p) override;

private slots:
    void slotSetupProgram();
    void slotClostProgram();
    void slotReadRecord();
    void slotProcessError(QProcess::ProcessError error);
    void slotProcessFinished(int index, QProcess::ExitStatus status);

private:
    ServerProcess *process = nullptr;
};
