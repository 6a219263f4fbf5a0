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
    m_task = static_cast<unsigned>(value) <= 3u ? value : 0;
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
        pending.enqueue(m_task);
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
        int next = 0;
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

void SqlProcessThread::perform(int task)
{
    SetupDatabase *database = SetupDatabase::instance();
    switch (task) {
    case 0: {
        const QString error = database->openDatabase(SetupConfig::instance()->mysqlParam());
        {
            QMutexLocker locker(&mutex);
            m_lastError = error;
        }
        report(error, 1);
        break;
    }
    case 1:
        report(database->execCleanScript(), 2);
        break;
    case 2:
        report(database->execInitScript(), 3);
        break;
    case 3:
        report(database->execUpdateScript(), 4);
        break;
    default:
        break;
    }
}

void SqlProcessThread::report(const QString &error, int index)
{
    {
        QMutexLocker locker(&mutex);
        if (stopping)
            return;
    }
    if (error.isEmpty())
        emit execTip(index, kTotalSteps);
    else
        emit signalError(error);
}
