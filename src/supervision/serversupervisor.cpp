#include "supervision/serversupervisor.h"

#include "setting/setupconfig.h"
#include "supervision/eventlog.h"
#include "supervision/launchrules.h"
#include "supervision/outputdecoding.h"
#include "supervision/serverprocess.h"
#include "supervision/serverstack.h"

#include <QTime>

namespace {

QString clockNow()
{
    return QTime::currentTime().toString(QStringLiteral("hh:mm:ss"));
}

// Seconds only in the first minute: after that the text, and so the screen,
// changes once a minute for a server that runs quietly.
QString duration(qint64 ms)
{
    const qint64 minutes = ms / 60000;
    if (minutes == 0)
        return QStringLiteral("%1 秒").arg(ms / 1000);
    if (minutes < 60)
        return QStringLiteral("%1 分").arg(minutes);
    if (minutes < 24 * 60)
        return QStringLiteral("%1 小时 %2 分").arg(minutes / 60).arg(minutes % 60);
    return QStringLiteral("%1 天 %2 小时").arg(minutes / (24 * 60)).arg(minutes / 60 % 24);
}

} // namespace

ServerSupervisor::ServerSupervisor(ServerStack *owner, const QString &name, Decoding output, bool alarmOnEnd)
    : QObject(owner)
    , stack(owner)
    , serverName(name)
    , outputDecoding(output)
    , alarm(alarmOnEnd)
    , proc(new ServerProcess)
{
    ServerProcess *p = proc.get();
    connect(p, &QProcess::readyReadStandardOutput, this, &ServerSupervisor::readStandardOutput);
    connect(p, &QProcess::readyReadStandardError, this, &ServerSupervisor::readStandardError);
    connect(p, &QProcess::started, this, &ServerSupervisor::onStarted);
    connect(p, &QProcess::errorOccurred, this, &ServerSupervisor::onError);
    connect(p, &ServerProcess::ended, this, &ServerSupervisor::onEnded);
}

ServerSupervisor::~ServerSupervisor()
{
    disconnect(proc.get(), nullptr, this, nullptr);
    proc.reset();
}

bool ServerSupervisor::isActive() const
{
    return proc->isActive();
}

void ServerSupervisor::setMain()
{
    main = true;
    proc->setFollowGroup(true);
    connect(proc.get(), &ServerProcess::detached, this, [this] {
        stack->banner(QStringLiteral("  程序已转入后台运行，继续监视其进程组"), ConsoleFeed::Kind::Note);
    });
    restartOn = SetupConfig::instance()->autoRestart(stack->group());
    proc->setAutoRestart(restartOn);
    connect(proc.get(), &ServerProcess::restartScheduled, this, [this](int, int delayMs) {
        restartAt = QDateTime::currentDateTime().addMSecs(delayMs);
        emit figuresChanged();
    });
    connect(proc.get(), &ServerProcess::restarting, this, [this](int attempt) {
        ++restarts;
        stack->banner(bannerTitle(QStringLiteral("自动重启(第%1次)").arg(attempt)), ConsoleFeed::Kind::Failed);
    });
}

void ServerSupervisor::setAutoRestart(bool on)
{
    restartOn = on;
    proc->setAutoRestart(on);
    SetupConfig::instance()->saveAutoRestart(stack->group(), on);
}

QString ServerSupervisor::busyText() const
{
    // A followed group runs on after its start script: that is a running server.
    if (proc->isActive() && proc->stopRequested())
        return QStringLiteral("服务器正在停止，请稍后再启动!");
    if (proc->state() == QProcess::Running || (proc->state() == QProcess::NotRunning && proc->isActive()))
        return QStringLiteral("服务器已经启动，请勿重复启动!");
    if (proc->state() == QProcess::Starting)
        return QStringLiteral("服务器正在启动中，请耐心等待!");
    return QString();
}

bool ServerSupervisor::refuseWhileBusy()
{
    const QString refusal = busyText();
    if (!refusal.isEmpty())
        stack->refuse(refusal);
    return !refusal.isEmpty();
}

void ServerSupervisor::start(const ServerParam &typed)
{
    // The typed texts are saved before the working directory is corrected.
    stack->saveBeforeStart(typed);
    // The status turns to started when the process has started.
    appendStartBanner();

    const QString base = SetupConfig::instance()->appDirPath();
    const QString program = LaunchRules::resolveProgram(typed.programPath, base);
    // The field keeps the operator's relative text unless it is corrected.
    const QString workField = LaunchRules::resolveDir(typed.workPath, base);
    QString correctedField;
    const QString dir = LaunchRules::workingDirectory(program, workField, &correctedField);
    if (correctedField != workField)
        emit workDirCorrected(correctedField);
    proc->cancelRestart();
    // The operator's start: the count of automatic restarts starts anew.
    restarts = 0;
    // An empty field means no arguments, also after a start that had some.
    launch(program, dir, LaunchRules::splitArguments(typed.param));
}

void ServerSupervisor::launch(const QString &program, const QString &workDir, const QStringList &arguments)
{
    proc->setProgram(program);
    proc->setWorkingDirectory(workDir);
    proc->setArguments(arguments);
    proc->launch(QIODevice::ReadWrite);
}

void ServerSupervisor::stop()
{
    const int graceMs = stack->stopGraceMs(proc->isActive());
    if (proc->isActive())
        EventLog::note(stack->group(), QStringLiteral("关闭 ") + serverName);
    proc->stop(graceMs);
}

void ServerSupervisor::onStarted()
{
    upSince.start();
    cpuSamples.clear();
    restartAt = QDateTime();
    emit statusChanged(true);
    emit figuresChanged();
    emit stack->serverRunning(serverName);
    emit stack->statesChanged();
}

void ServerSupervisor::onError(QProcess::ProcessError error)
{
    appendStartFailure(error);
    if (error != QProcess::FailedToStart)
        return;
    lastEnd = clockNow() + QStringLiteral(" 未能启动");
    emit statusChanged(false);
    emit figuresChanged();
    emit failedToStart();
    if (alarm)
        emit stack->serverEnded(serverName, QStringLiteral("未能启动"));
    emit stack->statesChanged();
}

void ServerSupervisor::onEnded(int code, QProcess::ExitStatus status)
{
    appendEndBanner(code, status);
    const bool asked = proc->stopRequested();
    upSince.invalidate();
    lastEnd = clockNow()
        + (status == QProcess::CrashExit ? QStringLiteral(" 异常终止")
           : asked                       ? QStringLiteral(" 已关闭")
                                         : QStringLiteral(" 退出码 %1").arg(code));
    emit statusChanged(false);
    emit figuresChanged();
    emit ended(asked);
    if (alarm && !asked) {
        emit stack->serverEnded(serverName, status == QProcess::CrashExit ? QStringLiteral("异常终止")
                                            : code != 0                   ? QStringLiteral("结束，退出码 %1").arg(code)
                                                                          : QStringLiteral("结束"));
    }
    emit stack->statesChanged();
}

QStringList ServerSupervisor::figures()
{
    QStringList parts;
    if (proc->isActive() && upSince.isValid()) {
        parts << QStringLiteral("运行 ") + duration(upSince.elapsed());
        const Platform::TreeUsage usage = proc->usage();
        if (usage.cpuMs >= 0) {
            // Over the last ten seconds: the system counts CPU time in 10 ms
            // ticks, so a one-second figure of a quiet server jumps between
            // 0 % and 1 %.
            if (!cpuClock.isValid())
                cpuClock.start();
            cpuSamples.append({cpuClock.elapsed(), usage.cpuMs});
            while (cpuSamples.size() > 2 && cpuSamples.last().first - cpuSamples.at(1).first >= 10000)
                cpuSamples.removeFirst();
            const qint64 span = cpuSamples.last().first - cpuSamples.first().first;
            if (span > 0)
                parts << QStringLiteral("CPU %1%").arg(qMax<qint64>(0, cpuSamples.last().second - cpuSamples.first().second)
                                                           * 100.0 / span, 0, 'f', 1);
        }
        if (usage.residentBytes >= 0)
            parts << QStringLiteral("内存 %1 MB").arg(usage.residentBytes / 1048576.0, 0, 'f', 1);
    } else if (proc->restartPending() && restartAt.isValid()) {
        parts << QStringLiteral("将于 %1 自动重启").arg(restartAt.toString(QStringLiteral("hh:mm:ss")));
    }
    if (restarts > 0)
        parts << QStringLiteral("已自动重启 %1 次").arg(restarts);
    if (!lastEnd.isEmpty() && !(proc->isActive() && restarts == 0))
        parts << QStringLiteral("上次结束 ") + lastEnd;
    return parts;
}

void ServerSupervisor::readStandardOutput()
{
    const QByteArray bytes = proc->readAllStandardOutput();
    emit outputRead(bytes);
    appendOutputRecord(bytes, outputDecoding);
}

void ServerSupervisor::readStandardError()
{
    appendErrorOutput(proc->readAllStandardError());
}

QString ServerSupervisor::decodeOutput(const QByteArray &bytes) const
{
    return OutputDecoding::decode(bytes, outputDecoding == Decoding::Utf8, stack->sourcePath());
}

QString ServerSupervisor::tag() const
{
    return stack->allServers().size() < 2 ? QString() : QLatin1Char('[') + serverName + QLatin1Char(']');
}

QString ServerSupervisor::bannerTitle(const QString &title) const
{
    const QString name = tag();
    return ConsoleFeed::dashed(QStringLiteral("  ") + (name.isEmpty() ? QString() : name + QLatin1Char(' ')) + title);
}

void ServerSupervisor::appendOutputRecord(const QByteArray &bytes, Decoding decoding)
{
    stack->feed()->output(sourceId(), tag(), ConsoleFeed::Channel::Output, decoding, bytes);
}

void ServerSupervisor::appendErrorOutput(const QByteArray &bytes)
{
    stack->feed()->output(sourceId(), tag(), ConsoleFeed::Channel::Error, Decoding::SystemCodec, bytes);
}

void ServerSupervisor::flushOutput()
{
    stack->feed()->flush(sourceId());
}

void ServerSupervisor::appendStartBanner()
{
    stack->banner(bannerTitle(QStringLiteral("程序启动")), ConsoleFeed::Kind::Started);
}

void ServerSupervisor::appendStartFailure(QProcess::ProcessError error)
{
    flushOutput();
    if (error == QProcess::FailedToStart) {
        stack->banner(bannerTitle(QStringLiteral("程序启动失败")), ConsoleFeed::Kind::Failed);
        // The console shows text literally, so neither part can turn into markup.
        if (proc->error() == QProcess::FailedToStart)
            stack->feed()->line(QStringLiteral("  %1：%2").arg(proc->program(), proc->errorString()),
                                ConsoleFeed::Kind::Failed, false);
    }
    stack->feed()->line(QStringLiteral("\n\n"), ConsoleFeed::Kind::Plain, false);
}

void ServerSupervisor::appendEndBanner(int exitCode, QProcess::ExitStatus status)
{
    flushOutput();
    if (status == QProcess::CrashExit)
        stack->banner(bannerTitle(QStringLiteral("程序异常终止")), ConsoleFeed::Kind::Failed);
    else if (exitCode == 0 || proc->stopRequested())
        // A program asked to stop may answer with any code (Java: 143, or
        // 130 after Ctrl+C): it did what it was asked.
        stack->banner(bannerTitle(QStringLiteral("程序结束")), ConsoleFeed::Kind::Started);
    else
        // A crash loop must not look like clean exits.
        stack->banner(bannerTitle(QStringLiteral("程序结束(退出码 %1)").arg(exitCode)), ConsoleFeed::Kind::Failed);
    stack->feed()->line(QStringLiteral("\n\n"), ConsoleFeed::Kind::Plain, false);
}
