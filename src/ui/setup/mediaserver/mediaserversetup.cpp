#include "ui/setup/mediaserver/mediaserversetup.h"

#include "setting/setupconfig.h"
#include "supervision/serverprocess.h"
#include "ui/widgets/clineedit.h"
#include "ui/widgets/ctextbrowser.h"

#include <QPushButton>

MediaServerSetup::MediaServerSetup(QWidget *parent)
    : ServerPanel({QStringLiteral("媒体服务器已启动"), QStringLiteral("媒体服务器未启动"),
                   "..\\tessarin\\ui\\setup\\mediaserver\\mediaserversetup", "MediaServer"},
                  parent)
{
    process = new ServerProcess;
    console->setAcceptDrops(true);
    paramField->setAcceptDrops(true);

    connect(startButton, &QPushButton::clicked, this, &MediaServerSetup::slotSetupProgram);
    connect(closeButton, &QPushButton::clicked, this, &MediaServerSetup::slotClostProgram);
    connect(process, &QProcess::readyReadStandardOutput, this, &MediaServerSetup::slotReadRecord);
    connect(process, &QProcess::errorOccurred, this, &MediaServerSetup::slotProcessError);
    connect(process, &ServerProcess::ended, this, &MediaServerSetup::slotProcessFinished);
    followServerStatus(process);
    addProcess(process, QStringLiteral("媒体服务器"));
    connect(process, &QProcess::readyReadStandardError, process,
            [this] { appendErrorOutput(process->readAllStandardError(), process); }, Qt::DirectConnection);
}

MediaServerSetup::~MediaServerSetup()
{
    // The console must not hear from a process that dies with the panel.
    disconnect(process, nullptr, this, nullptr);
    disconnect(process, &QProcess::readyReadStandardError, nullptr, nullptr);
    // Killed at once, or after quitting at the end of the grace period.
    delete process;
}

bool MediaServerSetup::saveServerParam(const ServerParam &p)
{
    return SetupConfig::instance()->saveMediaServerParam(p);
}

void MediaServerSetup::slotSetupProgram()
{
    if (refuseWhileBusy(process))
        return;
    startServer(process);
}

void MediaServerSetup::slotClostProgram()
{
    // The status turns to not started when the server has ended.
    stopServer(process);
}

void MediaServerSetup::slotReadRecord()
{
    appendOutputRecord(process->readAllStandardOutput(), Decoding::SystemCodec, process);
}

void MediaServerSetup::slotProcessError(QProcess::ProcessError error)
{
    appendStartFailure(error, process);
}

void MediaServerSetup::slotProcessFinished(int index, QProcess::ExitStatus status)
{
    appendEndBanner(index, status, process);
}
