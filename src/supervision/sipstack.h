#pragma once

#include "supervision/serverstack.h"
#include "supervision/updatestart.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QVector>

class QTcpSocket;

// The SIP signalling server with the two services it needs (the MySQL start
// command and Redis), all writing into one console, and the update start
// that prepares the database before the server starts.
class SipStack : public ServerStack
{
    Q_OBJECT
    Q_DISABLE_COPY(SipStack)

public:
    static constexpr int kServiceWaitSeconds = 60;

    explicit SipStack(QObject *parent = nullptr);
    // The servers go first: a script still running on the worker (it may run
    // for seconds) must not keep them alive. Then the update start.
    ~SipStack() override;

    ServerSupervisor *sipServer() const { return allServers().at(0); }
    ServerSupervisor *mysqlCommand() const { return allServers().at(1); }
    ServerSupervisor *redis() const { return allServers().at(2); }
    UpdateStart *updateStart() const { return sequence; }

    // "启动": MySQL command and Redis (when enabled), then the SIP server
    // once both accept connections (at most kServiceWaitSeconds).
    void start() override;
    // "关闭": a wait is cancelled, all three are stopped.
    void stop() override;
    // Start the MySQL command / Redis when enabled and not running.
    void setupMysql();
    void setupRedis();

    bool updateRunning() const override;
    QString updateRefusal() const override;
    bool updateCleans() const override;
    void runUpdate() override;
    // The services start, then the refusal (true: refused). Afterwards the
    // caller begins the sequence.
    bool prepareUpdate();

    static QString stepName(UpdateStart::Step step);
    // "正在…" while the step runs, "未完成：…" after it failed.
    static QString stepText(UpdateStart::Step step, bool running);

private:
    void startSipServer(bool waitForServices);
    void probeServices();
    void endServiceWait();
    void cancelServiceWait();
    QString awaitedNames() const;
    void stopAwaiting(const QString &what);

    UpdateStart *sequence = nullptr;
    // What "启动" waits for before the SIP server starts.
    struct Awaited
    {
        QString what;
        QString host;
        quint16 port;
        QTcpSocket *probe;  // a connection attempt under way
    };
    QVector<Awaited> awaited;
    void dropProbe(const Awaited &a);
    QTimer serviceTimer;
    QElapsedTimer serviceClock;
};
