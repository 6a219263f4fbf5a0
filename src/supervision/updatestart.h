#pragma once

#include "database/sqlprocessthread.h"

#include <QObject>
#include <QRegularExpression>
#include <QTimer>

#include <functional>
#include <memory>


// The update start of the SIP server, as one object with named steps:
//   Connect -> Clean -> Init -> StartServer -> Wait -> Update -> (Connect)
// Each database step runs on the worker thread; the object moves on when the
// worker reports, so steps never overlap. StartServer asks the owner to start
// the SIP server (startServerRequested), Wait lasts the configured seconds,
// or less when a readiness check says the server is up. A failing step
// stops the sequence there: the next begin() runs that step again.
//
// The owner shows what the object reports: progress(index, 4) after each of
// the steps 1 to 4 (connected, cleaned, initialised, updated), failed(text)
// when a database step fails, notReady() when the server did not get ready
// in time.
class UpdateStart : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(UpdateStart)

public:
    enum class Step { Connect, Clean, Init, StartServer, Wait, Update };
    Q_ENUM(Step)

    // How long going away waits for a running database step.
    static constexpr int kQuitWaitMs = 500;

    explicit UpdateStart(QObject *parent = nullptr);
    // Drops the steps not begun; a step still running gets kQuitWaitMs to
    // end, after which its worker is left to end by itself.
    ~UpdateStart() override;

    void setWaitSeconds(int seconds);
    // The length of one of those seconds: a test's wait need not take real
    // seconds.
    void setTickMs(int ms);
    // Readiness: the Update step follows as soon as the probe says yes (it
    // is asked every tick) or a line given to serverOutput() matches the
    // pattern; the wait seconds become the time-out. Neither set: the wait
    // lasts its seconds, ready or not.
    void setReadiness(std::function<bool()> probe, const QRegularExpression &pattern);
    // Whether the SIP server runs: the update script runs only while it
    // does, so 100 % never stands beside a server that did not start.
    void setServerCheck(std::function<bool()> running);

    Step step() const { return current; }
    bool isRunning() const { return running; }

    // Runs the sequence from the step it stands at; false (and nothing done)
    // while it runs.
    bool begin();
    // Output of the SIP server, line by line or in chunks, for the readiness
    // pattern.
    void serverOutput(const QString &text);

signals:
    // A step begins: the database steps, and the wait for the server.
    void stepStarted(UpdateStart::Step step);
    void progress(int index, int total);
    void startServerRequested();
    void failed(const QString &message);
    void notReady();

private:
    void runDatabaseStep();
    void startWait();
    void onDone(SqlProcessThread::Task task);
    void onError(SqlProcessThread::Task task, const QString &message);
    void onTick();
    void endWait(bool ready);
    // The server is not running: the sequence stops before the update.
    bool serverStopped();

    std::unique_ptr<SqlProcessThread> worker;
    QTimer waitTimer;
    Step current = Step::Connect;
    bool running = false;
    int waitSeconds = 4;
    int waited = 0;
    std::function<bool()> serverRunning;
    std::function<bool()> readyProbe;
    QRegularExpression readyPattern;
};
