#include "supervision/updatestart.h"

#include "database/sqlprocessthread.h"

UpdateStart::UpdateStart(QObject *parent)
    : QObject(parent)
    , worker(new SqlProcessThread)
{
    waitTimer.setInterval(1000);
    connect(worker.get(), &SqlProcessThread::taskFailed, this, &UpdateStart::onError);
    connect(worker.get(), &SqlProcessThread::execTip, this, &UpdateStart::progress);
    connect(worker.get(), &SqlProcessThread::taskDone, this, &UpdateStart::onDone);
    connect(&waitTimer, &QTimer::timeout, this, &UpdateStart::onTick);
}

UpdateStart::~UpdateStart()
{
    waitTimer.stop();
    // Whatever the worker still says has nobody to go to.
    disconnect(worker.get(), nullptr, this, nullptr);
    // A script on a database that does not answer must not keep a quitting
    // launcher, and its single-instance guard, alive until the time-out.
    if (!worker->finish(kQuitWaitMs))
        worker.release()->leaveRunning();
}

void UpdateStart::setWaitSeconds(int seconds)
{
    waitSeconds = seconds;
}

void UpdateStart::setTickMs(int ms)
{
    waitTimer.setInterval(ms);
}

void UpdateStart::setReadiness(std::function<bool()> probe, const QRegularExpression &pattern)
{
    readyProbe = std::move(probe);
    readyPattern = pattern;
}

void UpdateStart::setServerCheck(std::function<bool()> running)
{
    serverRunning = std::move(running);
}

bool UpdateStart::begin()
{
    if (running)
        return false;
    running = true;
    switch (current) {
    case Step::StartServer:
        // The server did not start or ended: start it again, then wait.
        emit startServerRequested();
        startWait();
        break;
    case Step::Wait:
        // A wait that timed out: the server was started, wait for it again.
        startWait();
        break;
    default:
        runDatabaseStep();
        break;
    }
    return true;
}

void UpdateStart::runDatabaseStep()
{
    using Task = SqlProcessThread::Task;
    switch (current) {
    case Step::Connect:
        worker->setTask(Task::Connect);
        break;
    case Step::Clean:
        worker->setTask(Task::Clean);
        break;
    case Step::Init:
        worker->setTask(Task::Init);
        break;
    case Step::Update:
        worker->setTask(Task::Update);
        break;
    case Step::StartServer:
    case Step::Wait:
        // Not database steps: begin() never comes here with them.
        Q_ASSERT(false);
        return;
    }
    worker->start(QThread::InheritPriority);
    emit stepStarted(current);
}

void UpdateStart::startWait()
{
    current = Step::Wait;
    waited = 0;
    waitTimer.start();
    emit stepStarted(current);
}

void UpdateStart::onDone(SqlProcessThread::Task task)
{
    using Task = SqlProcessThread::Task;
    switch (task) {
    case Task::Connect:
        current = Step::Clean;
        runDatabaseStep();
        break;
    case Task::Clean:
        current = Step::Init;
        runDatabaseStep();
        break;
    case Task::Init:
        current = Step::StartServer;
        emit startServerRequested();
        startWait();
        break;
    case Task::Update:
        current = Step::Connect;
        running = false;
        break;
    }
}

void UpdateStart::onError(SqlProcessThread::Task task, const QString &message)
{
    Q_UNUSED(task)
    running = false;
    emit failed(message);
}

void UpdateStart::onTick()
{
    if (serverStopped())
        return;
    ++waited;
    const bool ready = readyProbe && readyProbe();
    if (ready || waited >= waitSeconds)
        endWait(ready || (!readyProbe && readyPattern.pattern().isEmpty()));
}

void UpdateStart::serverOutput(const QString &text)
{
    if (current != Step::Wait || !waitTimer.isActive() || readyPattern.pattern().isEmpty())
        return;
    if (readyPattern.match(text).hasMatch())
        endWait(true);
}

bool UpdateStart::serverStopped()
{
    if (!serverRunning || serverRunning())
        return false;
    waitTimer.stop();
    waited = 0;
    running = false;
    current = Step::StartServer;
    emit failed(QStringLiteral("SIP服务器未运行，未执行更新脚本"));
    return true;
}

void UpdateStart::endWait(bool ready)
{
    if (serverStopped())
        return;
    waitTimer.stop();
    waited = 0;
    if (!ready) {
        // Stays at Wait: the next begin() waits for the server again.
        running = false;
        emit notReady();
        return;
    }
    current = Step::Update;
    runDatabaseStep();
}
