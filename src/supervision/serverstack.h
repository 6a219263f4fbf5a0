#pragma once

#include "setting/serverparam.h"
#include "supervision/consolefeed.h"

#include <QList>
#include <QObject>
#include <QStringList>

#include <functional>

class ServerSupervisor;

// The programs that write into one console and one log: the media server
// alone, or the SIP server with its MySQL start command and Redis. The first
// server added is the stack's main server (its status is the stack's). What
// concerns them together lives here: the console feed, refusals, notes, the
// settings saved before a start, and stopping them all at once.
class ServerStack : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(ServerStack)

public:
    // The main server's fields as stored, and how to store them (false when
    // the file could not be written).
    using Loader = std::function<ServerParam()>;
    using Saver = std::function<bool(const ServerParam &)>;

    // group: the settings group, also the log file's and the event log's name.
    ServerStack(const QString &group, const char *sourcePath, Loader loader, Saver saver, QObject *parent = nullptr);
    // The servers go first (see ~ServerSupervisor), then the feed.
    ~ServerStack() override;

    // The media server's stack.
    static ServerStack *mediaServer(QObject *parent = nullptr);

    ServerSupervisor *addServer(const QString &name, ConsoleFeed::Decoding output, bool alarmOnEnd = true);
    ServerSupervisor *mainServer() const { return servers.value(0); }
    const QList<ServerSupervisor *> &allServers() const { return servers; }
    ConsoleFeed *feed() const { return consoleFeed; }
    QString group() const { return groupName; }
    const char *sourcePath() const { return source; }

    // Where the main server's path, working directory and parameters come
    // from when it starts: a panel's fields, else the settings file.
    void setFields(Loader provider) { fields = std::move(provider); }
    // "启动": the main server (a stack with services starts those first),
    // unless a start must be refused.
    virtual void start();
    // Starts the stack when its settings say so ("随启动器启动").
    void startWithLauncher();
    bool startsWithLauncher() const;
    // Also remembered in the settings file.
    void setStartWithLauncher(bool on);

    // The names of the servers that run (or are stopping).
    QStringList runningServers() const;
    // "媒体服务器：运行中" and the like, one per server.
    QStringList serverStates() const;
    // Quitting: asks every server to stop at once, so that all share one
    // grace period; the destructor waits out the rest.
    void stopAll();

    // A line of the launcher's own in the console and the log, and in the event log.
    void note(const QString &text, bool failure = false);
    // A refused start: noted in the event log and reported (refused).
    void refuse(const QString &text);
    // Saves the fields before a start; a failure is said once a run.
    void saveBeforeStart(const ServerParam &typed);
    // The grace period of a stop in ms; an ignored setting is said once,
    // at the first stop of a program that runs.
    int stopGraceMs(bool running);
    // Into the console and the log, and noted in the event log.
    void banner(const QString &text, ConsoleFeed::Kind kind);

signals:
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

protected:
    // For a stack whose own parts must outlive the servers.
    void deleteServers();
    Loader fields;

private:
    QString groupName;
    const char *source;
    Saver save;
    QList<ServerSupervisor *> servers;
    ConsoleFeed *consoleFeed = nullptr;
    bool saveFailureShown = false;
    bool graceNoteShown = false;
};
