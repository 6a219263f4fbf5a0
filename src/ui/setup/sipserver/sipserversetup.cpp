#include "ui/setup/sipserver/sipserversetup.h"

#include "setting/setupconfig.h"
#include "supervision/serversupervisor.h"
#include "supervision/sipstack.h"
#include "ui/widgets/colorprogressbar.h"
#include "ui/widgets/confirmbox.h"
#include "ui/widgets/ctextbrowser.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

namespace {

void warn(const QString &text)
{
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("警告"), text, QMessageBox::Ok);
    box.exec();
}

} // namespace

SipServerSetup::SipServerSetup(QWidget *parent)
    : SipServerSetup(nullptr, parent)
{
}

SipServerSetup::SipServerSetup(StackLink *link, QWidget *parent)
    : ServerPanel({QStringLiteral("服务器已启动"), QStringLiteral("服务器未启动")}, link ? link : new SipStack, parent)
    , sip(qobject_cast<SipStack *>(stack()))
{
    // One line: one character per line reads badly, and a tall narrow
    // button clipped its last characters at larger font sizes.
    updateButton = new QPushButton(QStringLiteral("更新启动"));
    updateButton->setObjectName(QStringLiteral("UpdateButton"));
    buttonLayout->addWidget(updateButton, 0, 2, 2, 1);

    progressBar = new ColorProgressBar(1);
    progressBar->setLauncherLook();
    progressBar->setTextPosition(0);
    progressBar->setValue(0);
    // 300 x 30 where there is room; narrower in a narrow panel, so that the
    // buttons beside it stay in view instead of scrolling off.
    progressBar->setFixedHeight(30);
    progressBar->setMinimumWidth(100);
    progressBar->setMaximumWidth(300);
    progressBar->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    progressBar->setRange(0, 100);
    progressBar->hide();
    // Status row: lamp, text, progress bar, stretch, buttons.
    // Under the bar, the step the sequence stands at: a hung database or a
    // slow server shows as a step that waits, not as a bar that froze.
    stepLabel = new QLabel;
    stepLabel->setObjectName(QStringLiteral("UpdateStepLabel"));
    // As wide as the bar, not wider: at large font sizes it wraps instead of
    // pushing the buttons out of view.
    stepLabel->setWordWrap(true);
    stepLabel->hide();
    auto *progressColumn = new QVBoxLayout;
    progressColumn->addStretch();
    progressColumn->addWidget(progressBar);
    progressColumn->addWidget(stepLabel);
    progressColumn->addStretch();
    infoRow->addLayout(progressColumn);
    infoRow->addStretch();

    // A drop on the console goes to the panel's own drop handling.
    console->setAcceptDrops(false);

    connect(startButton, &QPushButton::clicked, this, &SipServerSetup::slotSetupProgram);
    connect(updateButton, &QPushButton::clicked, this, &SipServerSetup::loadDataSetupProgram);
    connect(closeButton, &QPushButton::clicked, this, &SipServerSetup::slotClostProgram);

    StackLink *servers = this->link();
    connect(servers, &StackLink::updateProgress, this, &SipServerSetup::execSqlTip);
    connect(servers, &StackLink::updateStep, stepLabel, &QLabel::setText);
    connect(servers, &StackLink::updateFailed, this, &SipServerSetup::sqlError);
    connect(servers, &StackLink::updateNotReady, this, [] { warn(QStringLiteral("SIP服务器未在等待时间内就绪")); });
    connect(servers, &StackLink::updateBegun, this, [this] {
        progressBar->setValue(0);
        progressBar->show();
        stepLabel->show();
    });
}

void SipServerSetup::arrangeButtons(bool narrow)
{
    buttonLayout->removeWidget(updateButton);
    if (narrow)
        buttonLayout->addWidget(updateButton, 4, 0, 1, 2);
    else
        buttonLayout->addWidget(updateButton, 0, 2, 2, 1);
}

void SipServerSetup::setupMysql()
{
    if (sip)
        sip->setupMysql();
}

void SipServerSetup::setupRedis()
{
    if (sip)
        sip->setupRedis();
}

void SipServerSetup::slotSetupProgram()
{
    link()->start();
}

void SipServerSetup::slotClostProgram()
{
    link()->stop();
    progressBar->hide();
    stepLabel->hide();
}

void SipServerSetup::readStandardOutput1()
{
    if (sip)
        sip->sipServer()->readStandardOutput();
}

void SipServerSetup::processError1(QProcess::ProcessError error)
{
    if (sip)
        sip->sipServer()->appendStartFailure(error);
}

void SipServerSetup::processFinished1(int index, QProcess::ExitStatus status)
{
    if (sip)
        sip->sipServer()->appendEndBanner(index, status);
}

void SipServerSetup::readStandardError1()
{
    if (sip)
        sip->sipServer()->readStandardError();
}

void SipServerSetup::readStandardOutput2()
{
    if (sip)
        sip->mysqlCommand()->readStandardOutput();
}

void SipServerSetup::processError2(QProcess::ProcessError error)
{
    if (sip)
        sip->mysqlCommand()->appendStartFailure(error);
}

void SipServerSetup::processFinished2(int index, QProcess::ExitStatus status)
{
    if (sip)
        sip->mysqlCommand()->appendEndBanner(index, status);
}

void SipServerSetup::readStandardError2()
{
    if (sip)
        sip->mysqlCommand()->readStandardError();
}

void SipServerSetup::readStandardOutput3()
{
    if (sip)
        sip->redis()->readStandardOutput();
}

void SipServerSetup::processError3(QProcess::ProcessError error)
{
    if (sip)
        sip->redis()->appendStartFailure(error);
}

void SipServerSetup::processFinished3(int index, QProcess::ExitStatus status)
{
    if (sip)
        sip->redis()->appendEndBanner(index, status);
}

void SipServerSetup::readStandardError3()
{
    if (sip)
        sip->redis()->readStandardError();
}

bool SipServerSetup::confirmClean()
{
    const MysqlParam db = SetupConfig::instance()->mysqlParam();
    return ConfirmBox::ask(QStringLiteral("确认更新启动"),
                           QStringLiteral("更新启动会先执行清理脚本：数据库 %1（%2:3306）中的所有表都将被删除并重新建立，"
                                          "其中的设备、通道、用户等数据将全部丢失。\n\n确定继续吗？")
                               .arg(db.databaseName, db.hostName),
                           QStringLiteral("继续"));
}

void SipServerSetup::loadDataSetupProgram()
{
    StackLink *servers = link();
    // The sequence runs (a task queued or running, or the wait before the
    // update script): a second press would queue the whole chain again.
    if (servers->updateRunning())
        return;
    // One click must not drop the platform's tables unasked; a resumed
    // sequence past the clean step does not ask again.
    if (servers->updateRefusal().isEmpty() && servers->updateCleans() && !confirmClean()) {
        servers->note(QStringLiteral("更新启动已取消，数据库未改动"));
        return;
    }
    servers->runUpdate();
}

void SipServerSetup::sqlError(QString txt)
{
    warn(txt);
}

void SipServerSetup::execSqlTip(int index, int total)
{
    if (total > 0)
        progressBar->setValue(index * 100 / total);
}
