#include "ui/setup/sipserver/sipserversetup.h"

#include "supervision/updatestart.h"
#include "setting/setupconfig.h"
#include "supervision/eventlog.h"
#include "supervision/launchrules.h"
#include "supervision/serverprocess.h"
#include "ui/widgets/colorprogressbar.h"
#include "ui/widgets/confirmbox.h"
#include "ui/widgets/ctextbrowser.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHostAddress>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTcpSocket>

namespace {

bool acceptsConnections(quint16 port)
{
    QTcpSocket probe;
    probe.connectToHost(QHostAddress(QHostAddress::LocalHost), port);
    // On the loopback address the answer comes at once.
    return probe.waitForConnected(200);
}

} // namespace

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

    process = new ServerProcess;
    sequence = new UpdateStart(this);
    sequence->setWaitSeconds(SetupConfig::instance()->waitProcess());
    if (const int port = SetupConfig::instance()->sipReadyPort()) {
        sequence->setReadiness([port] { return acceptsConnections(static_cast<quint16>(port)); },
                               QRegularExpression(SetupConfig::instance()->sipReadyPattern()));
    } else if (!SetupConfig::instance()->sipReadyPattern().isEmpty()) {
        sequence->setReadiness(nullptr, QRegularExpression(SetupConfig::instance()->sipReadyPattern()));
    }
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
    connect(redisProcess, &QProcess::started, this, [this] { setStatusNote(QStringLiteral("redis"), QString()); });
    addProcess(process, QStringLiteral("SIP服务器"));
    addProcess(mysqlProcess, QStringLiteral("MySQL启动命令"), false);
    addProcess(redisProcess, QStringLiteral("Redis"));
    connect(redisProcess, &QProcess::readyReadStandardOutput, this, &SipServerSetup::readStandardOutput3);
    connect(redisProcess, &QProcess::readyReadStandardError, this, &SipServerSetup::readStandardError3);

    sequence->setServerCheck([this] { return process->isActive(); });
    connect(sequence, &UpdateStart::failed, this, &SipServerSetup::sqlError);
    connect(sequence, &UpdateStart::progress, this, &SipServerSetup::execSqlTip);
    // The sequence has connected to the database already: no wait there.
    connect(sequence, &UpdateStart::startServerRequested, this, [this] { startSipServer(false); });
    serviceTimer.setInterval(250);
    connect(&serviceTimer, &QTimer::timeout, this, &SipServerSetup::probeServices);
    // Each step and its outcome also go into the console and the log: the
    // clean step drops the platform's tables, which must leave a trace.
    connect(sequence, &UpdateStart::stepStarted, this, [this](UpdateStart::Step step) {
        stepLabel->setText(stepText(step, true));
        appendNote(QStringLiteral("更新启动：") + stepText(step, true));
    });
    connect(sequence, &UpdateStart::progress, this, [this](int index) {
        static const char *const done[] = {"数据库已连接", "清理脚本已执行", "初始化脚本已执行", "更新脚本已执行，更新启动完成"};
        if (index >= 1 && index <= 4)
            appendNote(QStringLiteral("更新启动：") + QString::fromUtf8(done[index - 1]));
    });
    connect(sequence, &UpdateStart::notReady, this, [this] {
        stepLabel->setText(stepText(UpdateStart::Step::Wait, false));
        appendNote(QStringLiteral("更新启动：%1超时").arg(stepName(UpdateStart::Step::Wait)), true);
        QMessageBox box(QMessageBox::NoIcon, QStringLiteral("警告"), QStringLiteral("SIP服务器未在等待时间内就绪"),
                        QMessageBox::Ok);
        box.exec();
    });
}

SipServerSetup::~SipServerSetup()
{
    // The servers go first: a script still running on the worker (it may run
    // for seconds) must not keep them alive. Later notices have nobody to go to.
    disconnect(sequence, nullptr, this, nullptr);
    for (ServerProcess *p : {process, mysqlProcess, redisProcess}) {
        disconnect(p, nullptr, this, nullptr);
        // Killed at once, or after quitting at the end of the grace period.
        delete p;
    }
    // Then the sequence and its worker: it drops what was not begun and
    // waits a little for a running script (see UpdateStart).
    delete sequence;
}

void SipServerSetup::arrangeButtons(bool narrow)
{
    buttonLayout->removeWidget(updateButton);
    if (narrow)
        buttonLayout->addWidget(updateButton, 3, 0, 1, 2);
    else
        buttonLayout->addWidget(updateButton, 0, 2, 2, 1);
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
    const QString base = SetupConfig::instance()->appDirPath();
    mysqlProcess->setProgram(LaunchRules::resolveProgram(p.cmdPath, base));
    mysqlProcess->setWorkingDirectory(LaunchRules::resolveDir(p.mysqlPath, base));
    mysqlProcess->setArguments(LaunchRules::splitArguments(p.cmdStr));
    mysqlProcess->launch(QIODevice::ReadWrite);
}

void SipServerSetup::setupRedis()
{
    const SetupRedisParam p = SetupConfig::instance()->setupRedisParam();
    if (!p.state || redisProcess->state() != QProcess::NotRunning)
        return;
    const QString base = SetupConfig::instance()->appDirPath();
    redisProcess->setProgram(LaunchRules::resolveProgram(p.path, base));
    redisProcess->setWorkingDirectory(LaunchRules::resolveDir(p.workDir, base));
    redisProcess->setArguments({p.parameter});
    redisProcess->launch(QIODevice::ReadWrite);
}

void SipServerSetup::slotSetupProgram()
{
    startSipServer(true);
}

void SipServerSetup::startSipServer(bool waitForServices)
{
    if (!awaited.isEmpty()) {
        refuse(QStringLiteral("服务器正在启动中，请耐心等待!"));
        return;
    }
    setupMysql();
    setupRedis();
    if (refuseWhileBusy(process))
        return;
    if (waitForServices) {
        // The SIP server gives up when its database or Redis is not there
        // yet: it starts once both accept connections.
        const SetupMysqlParam mysql = SetupConfig::instance()->setupMysqlParam();
        if (mysql.state)
            awaited.append({QStringLiteral("数据库"), SetupConfig::instance()->mysqlParam().hostName, 3306, nullptr});
        const SetupRedisParam redis = SetupConfig::instance()->setupRedisParam();
        if (redis.state) {
            const QString workDir = LaunchRules::resolveDir(redis.workDir, SetupConfig::instance()->appDirPath());
            awaited.append({QStringLiteral("Redis"), QStringLiteral("127.0.0.1"), LaunchRules::redisPort(redis.parameter, workDir),
                            nullptr});
        }
    }
    if (awaited.isEmpty()) {
        startServer(process);
        return;
    }
    appendNote(QStringLiteral("等待 %1 就绪（最多 %2 秒），然后启动SIP服务器").arg(awaitedNames()).arg(kServiceWaitSeconds));
    serviceClock.start();
    serviceTimer.start();
    probeServices();
}

void SipServerSetup::probeServices()
{
    for (int i = 0; i < awaited.size(); ++i) {
        Awaited &a = awaited[i];
        if (a.probe)
            continue;
        a.probe = new QTcpSocket(this);
        QTcpSocket *probe = a.probe;
        const QString what = a.what;
        connect(probe, &QTcpSocket::connected, this, [this, probe, what] {
            probe->deleteLater();
            for (int j = 0; j < awaited.size(); ++j) {
                if (awaited.at(j).probe == probe) {
                    appendNote(QStringLiteral("%1 已就绪").arg(what));
                    awaited.removeAt(j);
                    break;
                }
            }
            if (awaited.isEmpty())
                endServiceWait();
        });
        connect(probe, &QTcpSocket::errorOccurred, this, [this, probe] {
            // Not yet: the next tick tries again.
            probe->deleteLater();
            for (Awaited &a : awaited) {
                if (a.probe == probe)
                    a.probe = nullptr;
            }
        });
        probe->connectToHost(a.host, a.port);
    }
    if (!awaited.isEmpty() && serviceClock.elapsed() >= kServiceWaitSeconds * 1000) {
        appendNote(QStringLiteral("%1 未在 %2 秒内就绪，仍启动SIP服务器").arg(awaitedNames()).arg(kServiceWaitSeconds), true);
        endServiceWait();
    }
}

QString SipServerSetup::awaitedNames() const
{
    QStringList names;
    for (const Awaited &a : qAsConst(awaited))
        names.append(QStringLiteral("%1 %2:%3").arg(a.what, a.host).arg(a.port));
    return names.join(QStringLiteral("、"));
}

void SipServerSetup::dropProbe(const Awaited &a)
{
    if (a.probe) {
        a.probe->disconnect(this);
        a.probe->deleteLater();
    }
}

void SipServerSetup::cancelServiceWait()
{
    serviceTimer.stop();
    for (const Awaited &a : qAsConst(awaited))
        dropProbe(a);
    awaited.clear();
}

void SipServerSetup::endServiceWait()
{
    cancelServiceWait();
    startServer(process);
}

void SipServerSetup::slotClostProgram()
{
    if (!awaited.isEmpty()) {
        cancelServiceWait();
        appendNote(QStringLiteral("已取消等待，SIP服务器未启动"));
    }
    // The status turns to not started when the server has ended.
    stopServer(process);
    progressBar->hide();
    stepLabel->hide();
    stopServer(mysqlProcess);
    stopServer(redisProcess);
}

void SipServerSetup::readStandardOutput1()
{
    const QByteArray bytes = process->readAllStandardOutput();
    if (sequence->step() == UpdateStart::Step::Wait)
        sequence->serverOutput(decode(bytes, Decoding::SystemCodec));
    appendOutputRecord(bytes, Decoding::SystemCodec, process);
}

void SipServerSetup::processError1(QProcess::ProcessError error)
{
    appendStartFailure(error, process);
}

void SipServerSetup::processFinished1(int index, QProcess::ExitStatus status)
{
    appendEndBanner(index, status, process);
}

void SipServerSetup::readStandardError1()
{
    appendErrorOutput(process->readAllStandardError(), process);
}

void SipServerSetup::readStandardOutput2()
{
    appendOutputRecord(mysqlProcess->readAllStandardOutput(), Decoding::Utf8, mysqlProcess);
}

void SipServerSetup::processError2(QProcess::ProcessError error)
{
    appendStartFailure(error, mysqlProcess);
}

void SipServerSetup::processFinished2(int index, QProcess::ExitStatus status)
{
    appendEndBanner(index, status, mysqlProcess);
}

void SipServerSetup::readStandardError2()
{
    appendErrorOutput(mysqlProcess->readAllStandardError(), mysqlProcess);
}

void SipServerSetup::readStandardOutput3()
{
    appendOutputRecord(redisProcess->readAllStandardOutput(), Decoding::Utf8, redisProcess);
}

void SipServerSetup::processError3(QProcess::ProcessError error)
{
    appendStartFailure(error, redisProcess);
    if (error == QProcess::FailedToStart) {
        setStatusNote(QStringLiteral("redis"), QStringLiteral("Redis 未能启动"));
        stopAwaiting(QStringLiteral("Redis"));
    }
}

void SipServerSetup::processFinished3(int index, QProcess::ExitStatus status)
{
    appendEndBanner(index, status, redisProcess);
    // The lamp is the SIP server's alone: a Redis that died is said by name.
    if (!redisProcess->stopRequested())
        setStatusNote(QStringLiteral("redis"), QStringLiteral("Redis 已停止运行"));
    stopAwaiting(QStringLiteral("Redis"));
}

void SipServerSetup::stopAwaiting(const QString &what)
{
    // A Redis that ended will not open its port: the SIP server need not
    // wait the full time for it.
    for (int i = 0; i < awaited.size(); ++i) {
        if (awaited.at(i).what != what)
            continue;
        dropProbe(awaited.at(i));
        awaited.removeAt(i);
        appendNote(QStringLiteral("%1 未在运行，不再等待").arg(what), true);
        if (awaited.isEmpty())
            endServiceWait();
        return;
    }
}

void SipServerSetup::readStandardError3()
{
    appendErrorOutput(redisProcess->readAllStandardError(), redisProcess);
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
    // The sequence runs (a task queued or running, or the wait before the
    // update script): a second press would queue the whole chain again.
    if (sequence->isRunning())
        return;
    // A press after a failure resumes at the failed step: the server it
    // started is no reason to refuse it.
    const UpdateStart::Step step = sequence->step();
    const bool refused = step == UpdateStart::Step::Connect && !busyText(process).isEmpty();
    // One click must not drop the platform's tables unasked; a resumed
    // sequence past the clean step does not ask again.
    if (!refused && (step == UpdateStart::Step::Connect || step == UpdateStart::Step::Clean) && !confirmClean()) {
        appendNote(QStringLiteral("更新启动已取消，数据库未改动"));
        return;
    }
    setupMysql();
    setupRedis();
    if (refused) {
        refuseWhileBusy(process);
        return;
    }
    progressBar->setValue(0);
    progressBar->show();
    stepLabel->show();
    // Runs the step the sequence stands at: the connection when idle, the
    // step that failed after an error.
    sequence->begin();
}

QString SipServerSetup::stepName(UpdateStart::Step step)
{
    switch (step) {
    case UpdateStart::Step::Connect: return QStringLiteral("连接数据库");
    case UpdateStart::Step::Clean: return QStringLiteral("执行清理脚本");
    case UpdateStart::Step::Init: return QStringLiteral("执行初始化脚本");
    case UpdateStart::Step::StartServer: return QStringLiteral("启动SIP服务器");
    case UpdateStart::Step::Wait:
        return QStringLiteral("等待SIP服务器就绪（最多 %1 秒）").arg(SetupConfig::instance()->waitProcess());
    case UpdateStart::Step::Update: return QStringLiteral("执行更新脚本");
    }
    return QString();
}

QString SipServerSetup::stepText(UpdateStart::Step step, bool running)
{
    return (running ? QStringLiteral("正在") : QStringLiteral("未完成：")) + stepName(step);
}

void SipServerSetup::sqlError(QString txt)
{
    stepLabel->setText(stepText(sequence->step(), false));
    appendNote(QStringLiteral("更新启动：%1失败：%2").arg(stepName(sequence->step()), txt), true);
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("警告"), txt, QMessageBox::Ok);
    box.exec();
}

void SipServerSetup::execSqlTip(int index, int total)
{
    if (total > 0)
        progressBar->setValue(index * 100 / total);
    if (index == total)
        stepLabel->setText(QStringLiteral("更新启动完成"));
}
