#pragma once

#include "database/setupdatabase.h"

#include <QMutex>
#include <QQueue>
#include <QString>
#include <QThread>
#include <QWaitCondition>

// Prepares the SIP server's database off the GUI thread. Tasks:
//   Connect (0) open the connection   -> execTip(1, 4), taskDone(Connect)
//   Clean   (1) run the clean script  -> execTip(2, 4), taskDone(Clean)
//   Init    (2) run the init script   -> execTip(3, 4), taskDone(Init)
//   Update  (3) run the update script -> execTip(4, 4), taskDone(Update)
// A task that fails emits signalError(text) and taskFailed(task, text)
// instead of its notices. The settings a task uses are copied when it is
// queued, on the owner's thread.
//
// One long-lived worker thread runs every task of this object, in the order
// they were started, one at a time. The owner picks a task with setTask() and
// start() queues it; the worker is launched by the first start(). Because the
// same thread opens, uses and closes the connection, and a request is queued
// rather than dropped while the previous task is finishing, the owner may
// start the next task straight from the slot that receives the previous
// notice. Signals are emitted on the worker; receivers living on the GUI
// thread get them queued, in task order.
//
// Destruction drops the tasks not begun yet, lets a running one finish
// (without reporting: its owner is going away), closes the connection on the
// worker and joins it, so objects can be created and destroyed one after
// another in one process. setTask(), start() and the destructor belong to the
// owner's thread.
class SqlProcessThread : public QThread
{
    Q_OBJECT

public:
    enum class Task { Connect, Clean, Init, Update };
    Q_ENUM(Task)

    explicit SqlProcessThread(QObject *parent = nullptr);
    ~SqlProcessThread() override;

    void setTask(Task value) { m_task = value; }
    // 0 to 3; anything else (compared as unsigned, so negatives too) is 0.
    void setTask(int value);
    Task task() const { return m_task; }

    // Result of the last task 0: empty after a successful connection.
    QString lastError() const;

    // Drops the tasks not begun, asks the worker to end after the running
    // one and waits up to msecs for it; false when it still runs.
    bool finish(unsigned long msecs);
    // For an owner that cannot wait (quitting while a database hangs): the
    // worker deletes itself when its task ends. Until then the process must
    // not run its static destructors under it (see anyLeftRunning()).
    void leaveRunning();
    static bool anyLeftRunning();

public slots:
    // Queues the task set now; never lost, whatever the worker is doing.
    // Hides QThread::start on purpose: the thread itself starts only once.
    void start(QThread::Priority priority = QThread::InheritPriority);

signals:
    void signalError(QString txt);
    void execTip(int index, int total);
    void taskDone(SqlProcessThread::Task task);
    void taskFailed(SqlProcessThread::Task task, const QString &error);

protected:
    void run() override;

private:
    Q_DISABLE_COPY(SqlProcessThread)

    struct Job
    {
        Task task = Task::Connect;
        DatabaseSettings settings;
    };
    void perform(const Job &job);
    void report(Task task, const QString &error);

    Task m_task = Task::Connect;   // owner's thread only

    mutable QMutex mutex;       // guards the members below
    QWaitCondition wake;
    QQueue<Job> pending;
    bool stopping = false;
    QString m_lastError;
};
