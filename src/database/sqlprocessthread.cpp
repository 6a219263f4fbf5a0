#include "database/sqlprocessthread.h"

#include "database/setupdatabase.h"
#include "setting/setupconfig.h"

#include <QMutexLocker>

#include <atomic>
#include <climits>

namespace {
const int kTotalSteps = 4;
}

SqlProcessThread::SqlProcessThread(QObject *parent)
    : QThread(parent)
{
    // Its signals reach the owner queued.
    qRegisterMetaType<SqlProcessThread::Task>();
}

namespace {
std::atomic<bool> leftRunning{false};
}

SqlProcessThread::~SqlProcessThread()
{
    finish(ULONG_MAX);
}

bool SqlProcessThread::finish(unsigned long msecs)
{
    {
        QMutexLocker locker(&mutex);
        stopping = true;
        pending.clear();
        wake.wakeAll();
    }
    return wait(msecs);
}

void SqlProcessThread::leaveRunning()
{
    leftRunning = true;
    connect(this, &QThread::finished, this, &QObject::deleteLater);
    if (isFinished())
        deleteLater();
}

bool SqlProcessThread::anyLeftRunning()
{
    return leftRunning;
}

void SqlProcessThread::setTask(int value)
{
    m_task = static_cast<unsigned>(value) <= 3u ? static_cast<Task>(value) : Task::Connect;
}

QString SqlProcessThread::lastError() const
{
    QMutexLocker locker(&mutex);
    return m_lastError;
}

void SqlProcessThread::start(QThread::Priority priority)
{
    {
        QMutexLocker locker(&mutex);
        if (stopping)
            return;
        pending.enqueue({m_task, DatabaseSettings::fromConfig()});
        wake.wakeOne();
    }
    // The worker only ends in the destructor, so "not running" means "not
    // launched yet".
    if (!isRunning())
        QThread::start(priority);
    else if (priority != QThread::InheritPriority)
        setPriority(priority);
}

void SqlProcessThread::run()
{
    for (;;) {
        Job next;
        {
            QMutexLocker locker(&mutex);
            while (pending.isEmpty() && !stopping)
                wake.wait(&mutex);
            if (stopping)
                break;
            next = pending.dequeue();
        }
        perform(next);
    }
    SetupDatabase::instance()->closeDatabase();
}

void SqlProcessThread::perform(const Job &job)
{
    SetupDatabase *database = SetupDatabase::instance();
    database->useSettings(job.settings);
    switch (job.task) {
    case Task::Connect: {
        const QString error = database->openDatabase(job.settings.mysql);
        {
            QMutexLocker locker(&mutex);
            m_lastError = error;
        }
        report(job.task, error);
        break;
    }
    case Task::Clean:
        report(job.task, database->execCleanScript());
        break;
    case Task::Init:
        report(job.task, database->execInitScript());
        break;
    case Task::Update:
        report(job.task, database->execUpdateScript());
        break;
    }
}

void SqlProcessThread::report(Task task, const QString &error)
{
    {
        QMutexLocker locker(&mutex);
        if (stopping)
            return;
    }
    if (error.isEmpty()) {
        emit execTip(static_cast<int>(task) + 1, kTotalSteps);
        emit taskDone(task);
    } else {
        emit signalError(error);
        emit taskFailed(task, error);
    }
}
