#include "supervision/sipstack.h"

#include "setting/setupconfig.h"
#include "supervision/launchrules.h"
#include "supervision/serverprocess.h"
#include "supervision/serversupervisor.h"

#include <QHostAddress>
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

SipStack::SipStack(QObject *parent)
    : ServerStack(QStringLiteral("SipServer"), "..\\tessarin\\ui\\setup\\sipserver\\sipserversetup",
                  [] { return SetupConfig::instance()->sipServerParam(); },
                  [](const ServerParam &p) { return SetupConfig::instance()->saveSipServerParam(p); }, parent)
{
    // The status, following the group and the automatic restart are the SIP
    // server's (the first); MySQL's start command ends by design.
    ServerSupervisor *server = addServer(QStringLiteral("SIP服务器"), ConsoleFeed::Decoding::SystemCodec);
    addServer(QStringLiteral("MySQL启动命令"), ConsoleFeed::Decoding::Utf8, false);
    ServerSupervisor *redisServer = addServer(QStringLiteral("Redis"), ConsoleFeed::Decoding::Utf8);

    // The lamp is the SIP server's alone: a Redis that died is said by name.
    connect(redisServer, &ServerSupervisor::statusChanged, this, [this](bool started) {
        if (started)
            emit statusNote(QStringLiteral("redis"), QString(), QString());
    });
    connect(redisServer, &ServerSupervisor::failedToStart, this, [this] {
        emit statusNote(QStringLiteral("redis"), QStringLiteral("Redis 未能启动"), QString());
        stopAwaiting(QStringLiteral("Redis"));
    });
    connect(redisServer, &ServerSupervisor::ended, this, [this](bool asked) {
        if (!asked)
            emit statusNote(QStringLiteral("redis"), QStringLiteral("Redis 已停止运行"), QString());
        stopAwaiting(QStringLiteral("Redis"));
    });

    sequence = new UpdateStart(this);
    sequence->setWaitSeconds(SetupConfig::instance()->waitProcess());
    if (const int port = SetupConfig::instance()->sipReadyPort()) {
        sequence->setReadiness([port] { return acceptsConnections(static_cast<quint16>(port)); },
                               QRegularExpression(SetupConfig::instance()->sipReadyPattern()));
    } else if (!SetupConfig::instance()->sipReadyPattern().isEmpty()) {
        sequence->setReadiness(nullptr, QRegularExpression(SetupConfig::instance()->sipReadyPattern()));
    }
    sequence->setServerCheck([server] { return server->isActive(); });
    connect(server, &ServerSupervisor::outputRead, this, [this, server](const QByteArray &bytes) {
        if (sequence->step() == UpdateStart::Step::Wait)
            sequence->serverOutput(server->decodeOutput(bytes));
    });
    // The sequence has connected to the database already: no wait there.
    connect(sequence, &UpdateStart::startServerRequested, this, [this] { startSipServer(false); });
    // Each step and its outcome also go into the console and the log: the
    // clean step drops the platform's tables, which must leave a trace.
    connect(sequence, &UpdateStart::stepStarted, this, [this](UpdateStart::Step step) {
        emit updateStep(stepText(step, true));
        note(QStringLiteral("更新启动：") + stepText(step, true));
    });
    connect(sequence, &UpdateStart::progress, this, [this](int index, int total) {
        static const char *const done[] = {"数据库已连接", "清理脚本已执行", "初始化脚本已执行", "更新脚本已执行，更新启动完成"};
        if (index >= 1 && index <= 4)
            note(QStringLiteral("更新启动：") + QString::fromUtf8(done[index - 1]));
        if (index == total)
            emit updateStep(QStringLiteral("更新启动完成"));
        emit updateProgress(index, total);
    });
    connect(sequence, &UpdateStart::failed, this, [this](const QString &message) {
        emit updateStep(stepText(sequence->step(), false));
        note(QStringLiteral("更新启动：%1失败：%2").arg(stepName(sequence->step()), message), true);
        emit updateFailed(message);
    });
    connect(sequence, &UpdateStart::notReady, this, [this] {
        emit updateStep(stepText(UpdateStart::Step::Wait, false));
        note(QStringLiteral("更新启动：%1超时").arg(stepName(UpdateStart::Step::Wait)), true);
        emit updateNotReady();
    });

    serviceTimer.setInterval(250);
    connect(&serviceTimer, &QTimer::timeout, this, &SipStack::probeServices);
}

SipStack::~SipStack()
{
    // Later notices have nobody to go to.
    disconnect(sequence, nullptr, this, nullptr);
    cancelServiceWait();
    deleteServers();
    // Then the sequence and its worker: it drops what was not begun and
    // waits a little for a running script (see UpdateStart).
    delete sequence;
}

void SipStack::setupMysql()
{
    const SetupMysqlParam p = SetupConfig::instance()->setupMysqlParam();
    // A command that still runs is left alone, as a second start would be
    // refused anyway.
    if (!p.state || mysqlCommand()->process()->state() != QProcess::NotRunning)
        return;
    const QString base = SetupConfig::instance()->appDirPath();
    mysqlCommand()->launch(LaunchRules::resolveProgram(p.cmdPath, base), LaunchRules::resolveDir(p.mysqlPath, base),
                           LaunchRules::splitArguments(p.cmdStr));
}

void SipStack::setupRedis()
{
    const SetupRedisParam p = SetupConfig::instance()->setupRedisParam();
    if (!p.state || redis()->process()->state() != QProcess::NotRunning)
        return;
    const QString base = SetupConfig::instance()->appDirPath();
    redis()->launch(LaunchRules::resolveProgram(p.path, base), LaunchRules::resolveDir(p.workDir, base), {p.parameter});
}

void SipStack::start()
{
    startSipServer(true);
}

void SipStack::startSipServer(bool waitForServices)
{
    if (!awaited.isEmpty()) {
        refuse(QStringLiteral("服务器正在启动中，请耐心等待!"));
        return;
    }
    setupMysql();
    setupRedis();
    if (sipServer()->refuseWhileBusy())
        return;
    if (waitForServices) {
        // The SIP server gives up when its database or Redis is not there
        // yet: it starts once both accept connections.
        if (SetupConfig::instance()->setupMysqlParam().state)
            awaited.append({QStringLiteral("数据库"), SetupConfig::instance()->mysqlParam().hostName, 3306, nullptr});
        const SetupRedisParam redisParam = SetupConfig::instance()->setupRedisParam();
        if (redisParam.state) {
            const QString workDir = LaunchRules::resolveDir(redisParam.workDir, SetupConfig::instance()->appDirPath());
            awaited.append({QStringLiteral("Redis"), QStringLiteral("127.0.0.1"),
                            LaunchRules::redisPort(redisParam.parameter, workDir), nullptr});
        }
    }
    if (awaited.isEmpty()) {
        sipServer()->start(fields());
        return;
    }
    note(QStringLiteral("等待 %1 就绪（最多 %2 秒），然后启动SIP服务器").arg(awaitedNames()).arg(kServiceWaitSeconds));
    serviceClock.start();
    serviceTimer.start();
    probeServices();
}

void SipStack::probeServices()
{
    for (Awaited &a : awaited) {
        if (a.probe)
            continue;
        a.probe = new QTcpSocket(this);
        QTcpSocket *probe = a.probe;
        const QString what = a.what;
        connect(probe, &QTcpSocket::connected, this, [this, probe, what] {
            probe->deleteLater();
            for (int j = 0; j < awaited.size(); ++j) {
                if (awaited.at(j).probe == probe) {
                    note(QStringLiteral("%1 已就绪").arg(what));
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
            for (Awaited &other : awaited) {
                if (other.probe == probe)
                    other.probe = nullptr;
            }
        });
        probe->connectToHost(a.host, a.port);
    }
    if (!awaited.isEmpty() && serviceClock.elapsed() >= kServiceWaitSeconds * 1000) {
        note(QStringLiteral("%1 未在 %2 秒内就绪，仍启动SIP服务器").arg(awaitedNames()).arg(kServiceWaitSeconds), true);
        endServiceWait();
    }
}

QString SipStack::awaitedNames() const
{
    QStringList names;
    for (const Awaited &a : qAsConst(awaited))
        names.append(QStringLiteral("%1 %2:%3").arg(a.what, a.host).arg(a.port));
    return names.join(QStringLiteral("、"));
}

void SipStack::dropProbe(const Awaited &a)
{
    if (a.probe) {
        a.probe->disconnect(this);
        a.probe->deleteLater();
    }
}

void SipStack::cancelServiceWait()
{
    serviceTimer.stop();
    for (const Awaited &a : qAsConst(awaited))
        dropProbe(a);
    awaited.clear();
}

void SipStack::endServiceWait()
{
    cancelServiceWait();
    sipServer()->start(fields());
}

void SipStack::stopAwaiting(const QString &what)
{
    // A Redis that ended will not open its port: the SIP server need not
    // wait the full time for it.
    for (int i = 0; i < awaited.size(); ++i) {
        if (awaited.at(i).what != what)
            continue;
        dropProbe(awaited.at(i));
        awaited.removeAt(i);
        note(QStringLiteral("%1 未在运行，不再等待").arg(what), true);
        if (awaited.isEmpty())
            endServiceWait();
        return;
    }
}

void SipStack::stop()
{
    if (!awaited.isEmpty()) {
        cancelServiceWait();
        note(QStringLiteral("已取消等待，SIP服务器未启动"));
    }
    // The status turns to not started when the server has ended.
    stopAll();
}

QString SipStack::updateRefusal() const
{
    // A press after a failure resumes at the failed step: the server it
    // started is no reason to refuse it.
    return sequence->step() == UpdateStart::Step::Connect ? sipServer()->busyText() : QString();
}

bool SipStack::updateCleans() const
{
    const UpdateStart::Step step = sequence->step();
    return step == UpdateStart::Step::Connect || step == UpdateStart::Step::Clean;
}

bool SipStack::updateRunning() const
{
    return sequence->isRunning();
}

void SipStack::runUpdate()
{
    // A second press while it runs would queue the whole chain again.
    if (sequence->isRunning() || prepareUpdate())
        return;
    emit updateBegun();
    // Runs the step the sequence stands at: the connection when idle, the
    // step that failed after an error.
    sequence->begin();
}

bool SipStack::prepareUpdate()
{
    const QString refusal = updateRefusal();
    setupMysql();
    setupRedis();
    if (!refusal.isEmpty())
        refuse(refusal);
    return !refusal.isEmpty();
}

QString SipStack::stepName(UpdateStart::Step step)
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

QString SipStack::stepText(UpdateStart::Step step, bool running)
{
    return (running ? QStringLiteral("正在") : QStringLiteral("未完成：")) + stepName(step);
}
