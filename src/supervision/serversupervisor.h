#pragma once

#include "setting/serverparam.h"
#include "supervision/consolefeed.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QObject>
#include <QProcess>
#include <QVector>

#include <memory>

class ServerProcess;
class ServerStack;

// One server program under supervision: its process, what it writes (into
// its stack's console feed and log), its banners, its status and figures,
// the refusals of a second start, save-then-start, the polite stop and the
// automatic restart. It reports what happened as signals and never needs a
// window: a panel shows it, a service runs it headless.
class ServerSupervisor : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(ServerSupervisor)

public:
    using Decoding = ConsoleFeed::Decoding;

    // alarmOnEnd: an end the operator did not ask for is an alarm (not for a
    // service start command, which ends by design).
    ServerSupervisor(ServerStack *stack, const QString &name, Decoding output, bool alarmOnEnd);
    // A program still running is killed at once, or, after stop(), at the
    // end of its grace period; its end is no longer reported.
    ~ServerSupervisor() override;

    ServerProcess *process() const { return proc.get(); }
    QString name() const { return serverName; }
    // The program runs, or the group it left behind does.
    bool isActive() const;

    // Why a start must not go on now ("服务器已经启动，请勿重复启动!" and the
    // like); empty when it may.
    QString busyText() const;
    // Refuses (see ServerStack::refuse) when busy; true when refused.
    bool refuseWhileBusy();
    // The operator's start, after the refusal checks: saves the typed fields,
    // writes the start banner, resolves program, arguments and working
    // directory against the installation and launches.
    void start(const ServerParam &typed);
    // A helper's start (no fields to save, no banner).
    void launch(const QString &program, const QString &workDir, const QStringList &arguments);
    // "关闭": asks the program to end within the configured grace period.
    void stop();

    // The main server of a stack: its group is followed past a start script,
    // it restarts itself when asked to, and it keeps figures.
    void setMain();
    bool autoRestart() const { return restartOn; }
    // Also remembered in the settings file.
    void setAutoRestart(bool on);
    // Uptime, CPU and memory of the tree, restarts, the last end: sampled
    // now, one text per figure.
    QStringList figures();

    // The console operations: records, banners, failures.
    void appendOutputRecord(const QByteArray &bytes, Decoding decoding);
    void appendErrorOutput(const QByteArray &bytes);
    // Shows what the streams hold now: before an end banner.
    void flushOutput();
    void appendStartBanner();
    // A failed start also names the program and the reason the system gave.
    void appendStartFailure(QProcess::ProcessError error);
    // The exit code shows when it is not 0, unless the program was asked to stop.
    void appendEndBanner(int exitCode, QProcess::ExitStatus status);
    // The text in the stack's decoding of this program's standard output.
    QString decodeOutput(const QByteArray &bytes) const;

public slots:
    void readStandardOutput();
    void readStandardError();

signals:
    // The program started (true) or ended, or did not start (false).
    void statusChanged(bool started);
    void figuresChanged();
    // What the program wrote to standard output, as read.
    void outputRead(const QByteArray &bytes);
    // The working directory the start used instead of the field's text.
    void workDirCorrected(const QString &field);
    void failedToStart();
    // The whole program ended; asked: by stop().
    void ended(bool asked);

private:
    // "[Redis]" in a console shared by several programs; else empty.
    QString tag() const;
    // "  [Redis] 程序启动-----…": the banner's title with its hyphens.
    QString bannerTitle(const QString &title) const;
    quintptr sourceId() const { return reinterpret_cast<quintptr>(this); }
    void onStarted();
    void onError(QProcess::ProcessError error);
    void onEnded(int code, QProcess::ExitStatus status);

    ServerStack *stack;
    QString serverName;
    Decoding outputDecoding;
    bool alarm;
    std::unique_ptr<ServerProcess> proc;
    bool main = false;
    bool restartOn = false;
    QElapsedTimer upSince;
    int restarts = 0;
    QString lastEnd;
    QDateTime restartAt;
    QElapsedTimer cpuClock;
    QVector<QPair<qint64, qint64>> cpuSamples;  // (ms on cpuClock, CPU ms of the tree)
};
