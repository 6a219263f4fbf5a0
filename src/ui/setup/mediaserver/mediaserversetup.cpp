#include "ui/setup/mediaserver/mediaserversetup.h"

#include "supervision/serversupervisor.h"
#include "ui/widgets/clineedit.h"
#include "ui/widgets/ctextbrowser.h"

#include <QPushButton>

MediaServerSetup::MediaServerSetup(QWidget *parent)
    : ServerPanel({QStringLiteral("媒体服务器已启动"), QStringLiteral("媒体服务器未启动")}, ServerStack::mediaServer(),
                  parent)
    , server(stack()->mainServer())
{
    console->setAcceptDrops(true);
    paramField->setAcceptDrops(true);

    connect(startButton, &QPushButton::clicked, this, &MediaServerSetup::slotSetupProgram);
    connect(closeButton, &QPushButton::clicked, this, &MediaServerSetup::slotClostProgram);
}

void MediaServerSetup::slotSetupProgram()
{
    stack()->start();
}

void MediaServerSetup::slotClostProgram()
{
    // The status turns to not started when the server has ended.
    server->stop();
}

void MediaServerSetup::slotReadRecord()
{
    server->readStandardOutput();
}

void MediaServerSetup::slotProcessError(QProcess::ProcessError error)
{
    server->appendStartFailure(error);
}

void MediaServerSetup::slotProcessFinished(int index, QProcess::ExitStatus status)
{
    server->appendEndBanner(index, status);
}
