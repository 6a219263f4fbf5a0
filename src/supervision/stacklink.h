#pragma once

#include "setting/serverparam.h"
#include "supervision/consolefeed.h"

#include <QObject>
#include <QStringList>

#include <functional>

// What a panel shows of a stack of servers and where its presses go: a
// stack supervised in this process (ServerStack), or one the service
// supervises, reached over its local socket (RemoteStack). The panel cannot
// tell the two apart.
class StackLink : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(StackLink)

public:
    // The main server's fields as typed or stored.
    using Loader = std::function<ServerParam()>;

    using QObject::QObject;

    // The console's text, ready to show (see FeedQueue).
    virtual FeedQueue *queue() const = 0;
    // What the servers wrote so far is in the queue (where that can be known).
    virtual void syncQueue() {}

    // Where the main server's path, working directory and parameters come
    // from when it starts: a panel's fields, else the settings file.
    void setFields(Loader provider) { fields = std::move(provider); }
    // "启动" / "关闭" (a stack with services stops those too).
    virtual void start() = 0;
    virtual void stop() = 0;
    // Quitting: every server is asked to stop at once.
    virtual void stopAll() = 0;
    // A line of the launcher's own in the console and the log, and in the event log.
    virtual void note(const QString &text, bool failure = false) = 0;

    // The main server runs (what the status shows when a panel opens).
    virtual bool mainRunning() const = 0;
    virtual bool autoRestart() const = 0;
    virtual void setAutoRestart(bool on) = 0;
    virtual bool startsWithLauncher() const = 0;
    virtual void setStartWithLauncher(bool on) = 0;
    // Uptime, CPU, memory, restarts and the last end of the main server.
    virtual QStringList figures() = 0;
    // The names of the servers that run (or are stopping).
    virtual QStringList runningServers() const = 0;
    // "媒体服务器：运行中" and the like, one per server.
    virtual QStringList serverStates() const = 0;

    // "更新启动", for a stack that has one: the sequence runs now; the
    // refusal a press gets now (empty: it may go on); whether it begins
    // with (or resumes at) the clean script, which needs the operator's yes.
    virtual bool updateRunning() const { return false; }
    virtual QString updateRefusal() const { return QString(); }
    virtual bool updateCleans() const { return false; }
    // The services start, then the sequence unless refused (updateBegun).
    virtual void runUpdate() {}

signals:
    // The main server started (true) or ended, or did not start (false).
    void mainStatusChanged(bool started);
    void figuresChanged();
    // The working directory the start used instead of the field's text.
    void workDirCorrected(const QString &field);
    // A server the operator did not stop ended, or did not start: how says
    // how ("异常终止", "结束，退出码 3", "未能启动").
    void serverEnded(const QString &name, const QString &how);
    void serverRunning(const QString &name);
    // Any server started or ended.
    void statesChanged();
    void refused(const QString &text);
    // A short text that stays while something is wrong (empty text: it is
    // over), with detail for a tool tip.
    void statusNote(const QString &key, const QString &text, const QString &detail);
    // The log file could not be written, or can be again.
    void logFailed(const QString &message);
    void logRecovered(const QString &message);
    // The update start: it began, how far it got, the step it stands at, how it failed.
    void updateBegun();
    void updateProgress(int index, int total);
    void updateStep(const QString &text);
    void updateFailed(const QString &message);
    void updateNotReady();

protected:
    Loader fields;
};
