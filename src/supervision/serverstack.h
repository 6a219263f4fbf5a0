#pragma once

#include "setting/serverparam.h"
#include "supervision/consolefeed.h"
#include "supervision/stacklink.h"

#include <QList>
#include <QObject>
#include <QStringList>


class ServerSupervisor;

// The programs that write into one console and one log: the media server
// alone, or the SIP server with its MySQL start command and Redis. The first
// server added is the stack's main server (its status is the stack's). What
// concerns them together lives here: the console feed, refusals, notes, the
// settings saved before a start, and stopping them all at once.
class ServerStack : public StackLink
{
    Q_OBJECT
    Q_DISABLE_COPY(ServerStack)

public:
    // How to store the main server's fields (false when the file could not
    // be written); the loader gives them as stored.
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
    FeedQueue *queue() const override { return consoleFeed; }
    void syncQueue() override { consoleFeed->sync(); }
    QString group() const { return groupName; }
    const char *sourcePath() const { return source; }

    // "启动": the main server (a stack with services starts those first),
    // unless a start must be refused.
    void start() override;
    // "关闭": the main server.
    void stop() override;
    // Starts the stack when its settings say so ("随启动器启动").
    void startWithLauncher();
    bool startsWithLauncher() const override;
    // Also remembered in the settings file.
    void setStartWithLauncher(bool on) override;
    bool mainRunning() const override;
    bool autoRestart() const override;
    void setAutoRestart(bool on) override;
    QStringList figures() override;

    QStringList runningServers() const override;
    QStringList serverStates() const override;
    // Quitting: asks every server to stop at once, so that all share one
    // grace period; the destructor waits out the rest.
    void stopAll() override;

    void note(const QString &text, bool failure = false) override;
    // A refused start: noted in the event log and reported (refused).
    void refuse(const QString &text);
    // Saves the fields before a start; a failure is said once a run.
    void saveBeforeStart(const ServerParam &typed);
    // The grace period of a stop in ms; an ignored setting is said once,
    // at the first stop of a program that runs.
    int stopGraceMs(bool running);
    // Into the console and the log, and noted in the event log.
    void banner(const QString &text, ConsoleFeed::Kind kind);

protected:
    // For a stack whose own parts must outlive the servers.
    void deleteServers();

private:
    QString groupName;
    const char *source;
    Saver save;
    QList<ServerSupervisor *> servers;
    ConsoleFeed *consoleFeed = nullptr;
    bool saveFailureShown = false;
    bool graceNoteShown = false;
};
