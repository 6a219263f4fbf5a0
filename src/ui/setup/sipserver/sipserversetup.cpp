#include "ui/setup/sipserver/sipserversetup.h"

#include "database/sqlprocessthread.h"
#include "setting/setupconfig.h"
#include "ui/setup/common/launchrules.h"
#include "ui/setup/common/serverprocess.h"
#include "ui/widgets/colorprogressbar.h"
#include "ui/widgets/ctextbrowser.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPushButton>

SipServerSetup::SipServerSetup(QWidget *parent)
    : ServerPanel({QStringLiteral("服务器已启动"), QStringLiteral("服务器未启动"),
                   "..\\tessarin\\ui\\setup\\sipserver\\sipserversetup", "SipServer"},
                  parent)
{
    // One line: one character per line reads badly, and a tall narrow
    // button clipped its last characters at larger font sizes.
    updateButton = new QPushButton(QStringLiteral("更新启动"));
    updateButton->setObjectName(QStringLiteral("UpdateButton"));
    buttonLayout->addWidget(updateButton, 0, 2, 2, 1);

    progressBar = new ColorProgressBar(1);
    progressBar->setTextPosition(0);
    progressBar->setPrecision(1);
    progressBar->setBgColor(QColor(250, 250, 250));
    progressBar->setTextColor(Qt::white);
    progressBar->setTextBgColor(QColor(24, 189, 155));
    progressBar->setGradientStops({{0.0, QColor(QStringLiteral("#ECF1F3"))},
                                   {0.5, QColor(QStringLiteral("#868C8E"))},
                                   {1.0, QColor(QStringLiteral("#1B9ACD"))}});
    progressBar->setValue(0);
    progressBar->setFixedSize(300, 30);
    progressBar->setRange(0, 100);
    progressBar->hide();
    // Status row: lamp, text, progress bar, stretch, buttons.
    statusLayout->insertWidget(2, progressBar);
    statusLayout->insertStretch(3);

    // A drop on the console goes to the panel's own drop handling.
    console->setAcceptDrops(false);

    process = new ServerProcess;
    sqlThread = new SqlProcessThread;
    waitCount = 0;
    waitLimit = SetupConfig::instance()->waitProcess();
    mysqlProcess = new ServerProcess;
    redisProcess = new ServerProcess;

    connect(startButton, &QPushButton::clicked, this, &SipServerSetup::slotSetupProgram);
    connect(updateButton, &QPushButton::clicked, this, &SipServerSetup::loadDataSetupProgram);
    connect(closeButton, &QPushButton::clicked, this, &SipServerSetup::slotClostProgram);

    connect(process, &QProcess::errorOccurred, this, &SipServerSetup::processError1);
    connect(process, &ServerProcess::ended, this, &SipServerSetup::processFinished1);
    connect(process, &QProcess::readyReadStandardOutput, this, &SipServerSetup::readStandardOutput1);
    connect(process, &QProcess::readyReadStandardError, this, &SipServerSetup::readStandardError1);
    // MySQL's start command ends by design and Redis is a helper: the status
    // is the SIP server's alone, and so are following its group and the
    // automatic restart.
    followServerStatus(process);
    connect(mysqlProcess, &QProcess::errorOccurred, this, &SipServerSetup::processError2);
    connect(mysqlProcess, &ServerProcess::ended, this, &SipServerSetup::processFinished2);
    connect(mysqlProcess, &QProcess::readyReadStandardOutput, this, &SipServerSetup::readStandardOutput2);
    connect(mysqlProcess, &QProcess::readyReadStandardError, this, &SipServerSetup::readStandardError2);
    connect(redisProcess, &QProcess::errorOccurred, this, &SipServerSetup::processError3);
    connect(redisProcess, &ServerProcess::ended, this, &SipServerSetup::processFinished3);
    for (ServerProcess *p : {process, mysqlProcess, redisProcess})
        addProcess(p);
    connect(redisProcess, &QProcess::readyReadStandardOutput, this, &SipServerSetup::readStandardOutput3);
    connect(redisProcess, &QProcess::readyReadStandardError, this, &SipServerSetup::readStandardError3);

    connect(sqlThread, &SqlProcessThread::signalError, this, &SipServerSetup::sqlError);
    connect(sqlThread, &SqlProcessThread::execTip, this, &SipServerSetup::execSqlTip);
    connect(&waitTimer, &QTimer::timeout, this, &SipServerSetup::waitProcess);
}

SipServerSetup::~SipServerSetup()
{
    waitTimer.stop();
    // The servers go first: a script still running on the worker (it may run
    // for seconds) must not keep them alive. Later notices have nobody to go to.
    disconnect(sqlThread, nullptr, this, nullptr);
    for (ServerProcess *p : {process, mysqlProcess, redisProcess}) {
        disconnect(p, nullptr, this, nullptr);
        // Killed at once, or after quitting at the end of the grace period.
        delete p;
    }
    // Then the worker: it drops what was not begun and is joined once the
    // running script ends.
    delete sqlThread;
}

bool SipServerSetup::saveServerParam(const ServerParam &p)
{
    return SetupConfig::instance()->saveSipServerParam(p);
}

void SipServerSetup::setupMysql()
{
    const SetupMysqlParam p = SetupConfig::instance()->setupMysqlParam();
    // A command that still runs is left alone, as a second start would be
    // refused anyway.
    if (!p.state || mysqlProcess->state() != QProcess::NotRunning)
        return;
    mysqlProcess->setProgram(p.cmdPath);
    mysqlProcess->setWorkingDirectory(p.mysqlPath);
    mysqlProcess->setArguments(LaunchRules::splitArguments(p.cmdStr));
    mysqlProcess->launch(QIODevice::ReadWrite);
}

void SipServerSetup::setupRedis()
{
    const SetupRedisParam p = SetupConfig::instance()->setupRedisParam();
    if (!p.state || redisProcess->state() != QProcess::NotRunning)
        return;
    redisProcess->setProgram(p.path);
    redisProcess->setWorkingDirectory(p.workDir);
    redisProcess->setArguments({p.parameter});
    redisProcess->launch(QIODevice::ReadWrite);
}

void SipServerSetup::slotSetupProgram()
{
    setupMysql();
    setupRedis();
    if (refuseWhileBusy(process))
        return;
    startServer(process);
}

void SipServerSetup::slotClostProgram()
{
    setServerStatus(0);
    stopServer(process);
    progressBar->hide();
    stopServer(mysqlProcess);
    stopServer(redisProcess);
}

void SipServerSetup::readStandardOutput1()
{
    appendOutputRecord(process->readAllStandardOutput(), Decoding::SystemCodec);
}

void SipServerSetup::processError1(QProcess::ProcessError error)
{
    appendStartFailure(error, process);
}

void SipServerSetup::processFinished1(int index, QProcess::ExitStatus status)
{
    appendEndBanner(index, status);
}

void SipServerSetup::readStandardError1()
{
    appendErrorOutput(process->readAllStandardError());
}

void SipServerSetup::readStandardOutput2()
{
    appendOutputRecord(mysqlProcess->readAllStandardOutput(), Decoding::Utf8UntilZero);
}

void SipServerSetup::processError2(QProcess::ProcessError error)
{
    appendStartFailure(error, mysqlProcess);
}

void SipServerSetup::processFinished2(int index, QProcess::ExitStatus status)
{
    processFinished1(index, status);
}

void SipServerSetup::readStandardError2()
{
    appendErrorOutput(mysqlProcess->readAllStandardError());
}

void SipServerSetup::readStandardOutput3()
{
    appendOutputRecord(redisProcess->readAllStandardOutput(), Decoding::Utf8UntilZero);
}

void SipServerSetup::processError3(QProcess::ProcessError error)
{
    appendStartFailure(error, redisProcess);
}

void SipServerSetup::processFinished3(int index, QProcess::ExitStatus status)
{
    processFinished1(index, status);
}

void SipServerSetup::readStandardError3()
{
    appendErrorOutput(redisProcess->readAllStandardError());
}

void SipServerSetup::startSqlTask(int task)
{
    sqlThread->setTask(task);
    sqlThread->start(QThread::InheritPriority);
}

void SipServerSetup::loadDataSetupProgram()
{
    // The sequence runs (a task queued or running, or the wait before the
    // update script): a second press would queue the whole chain again.
    if (sequenceRunning)
        return;
    setupMysql();
    setupRedis();
    if (refuseWhileBusy(process))
        return;
    progressBar->setValue(0);
    progressBar->show();
    sequenceRunning = true;
    // Runs the step the sequence stands at: the connection when idle, the
    // step that failed after an error.
    sqlThread->start(QThread::InheritPriority);
}

void SipServerSetup::sqlError(QString txt)
{
    sequenceRunning = false;
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("警告"), txt, QMessageBox::Ok);
    box.exec();
}

void SipServerSetup::execSqlTip(int index, int total)
{
    if (total > 0)
        progressBar->setValue(index * 100 / total);
    switch (index) {
    case 1:
        startSqlTask(1);
        break;
    case 2:
        startSqlTask(2);
        break;
    case 3:
        slotSetupProgram();
        waitTimer.setInterval(1000);
        waitTimer.start();
        break;
    case 4:
        sqlThread->setTask(0);
        sequenceRunning = false;
        break;
    default:
        break;
    }
}

void SipServerSetup::waitProcess()
{
    ++waitCount;
    if (waitCount >= waitLimit) {
        waitCount = 0;
        waitTimer.stop();
        startSqlTask(3);
    }
}
