#include "ui/setup/mediaserver/mediaserversetup.h"

#include "supervision/serversupervisor.h"
#include "ui/widgets/clineedit.h"
#include "ui/widgets/ctextbrowser.h"

#include <QPushButton>

MediaServerSetup::MediaServerSetup(QWidget *parent)
    : MediaServerSetup(nullptr, parent)
{
}

MediaServerSetup::MediaServerSetup(StackLink *link, QWidget *parent)
    : ServerPanel({QStringLiteral("媒体服务器已启动"), QStringLiteral("媒体服务器未启动")},
                  link ? link : ServerStack::mediaServer(), parent)
    , server(stack() ? stack()->mainServer() : nullptr)
{
    console->setAcceptDrops(true);
    paramField->setAcceptDrops(true);

    connect(startButton, &QPushButton::clicked, this, &MediaServerSetup::slotSetupProgram);
    connect(closeButton, &QPushButton::clicked, this, &MediaServerSetup::slotClostProgram);
}

void MediaServerSetup::slotSetupProgram()
{
    link()->start();
}

void MediaServerSetup::slotClostProgram()
{
    // The status turns to not started when the server has ended.
    link()->stop();
}

void MediaServerSetup::slotReadRecord()
{
    if (server)
        server->readStandardOutput();
}

void MediaServerSetup::slotProcessError(QProcess::ProcessError error)
{
    if (server)
        server->appendStartFailure(error);
}

void MediaServerSetup::slotProcessFinished(int index, QProcess::ExitStatus status)
{
    if (server)
        server->appendEndBanner(index, status);
}
