// Built by the Windows build only; nothing on Linux compiles this file.
#include "platform/platform.h"

#include <QProcess>

#include <windows.h>

namespace Platform {

// Each server gets a job object of its own. KILL_ON_JOB_CLOSE ends the whole
// tree when the launcher's handle closes, also when the launcher dies;
// TerminateJobObject ends it on "关闭". Children the program starts before
// it is put into the job escape it; servers start their helpers later than
// the launcher gets there.
struct ProcessTree::Data
{
    HANDLE job = nullptr;
    qint64 pid = 0;
};

namespace {

HANDLE newKillOnCloseJob()
{
    HANDLE job = ::CreateJobObjectW(nullptr, nullptr);
    if (job) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION info = {};
        info.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        ::SetInformationJobObject(job, JobObjectExtendedLimitInformation, &info, sizeof info);
    }
    return job;
}

} // namespace

ProcessTree::ProcessTree()
    : d(new Data)
{
}

ProcessTree::~ProcessTree()
{
    if (d->job)
        ::CloseHandle(d->job);   // kills what is still in the job
}

void ProcessTree::prepare(QProcess *process, qint64 launcherPid)
{
    Q_UNUSED(launcherPid)
    // A console process group of its own, so that Ctrl+Break reaches the
    // server and not the launcher.
    process->setCreateProcessArgumentsModifier([](QProcess::CreateProcessArguments *args) {
        args->flags |= CREATE_NEW_PROCESS_GROUP;
    });
}

void ProcessTree::adopt(qint64 pid)
{
    if (d->job && d->pid == pid)
        return;
    release();
    d->pid = pid;
    d->job = newKillOnCloseJob();
    if (!d->job || pid <= 0)
        return;
    if (HANDLE h = ::OpenProcess(PROCESS_SET_QUOTA | PROCESS_TERMINATE, FALSE, static_cast<DWORD>(pid))) {
        ::AssignProcessToJobObject(d->job, h);
        ::CloseHandle(h);
    }
}

void ProcessTree::release()
{
    if (!d->job)
        return;
    // What the program left behind when it ended by itself (a service it
    // started, say) is not ours to kill: let go of the job without ending it.
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION info = {};
    ::SetInformationJobObject(d->job, JobObjectExtendedLimitInformation, &info, sizeof info);
    ::CloseHandle(d->job);
    d->job = nullptr;
    d->pid = 0;
}

void ProcessTree::terminate(qint64 pid)
{
    // The group id of a process started with CREATE_NEW_PROCESS_GROUP is its
    // process id. A program without a console does not hear it and is
    // killed when the grace period ends.
    if (pid > 0)
        ::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, static_cast<DWORD>(pid));
}

bool ProcessTree::alive() const
{
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION info = {};
    return d->job
        && ::QueryInformationJobObject(d->job, JobObjectBasicAccountingInformation, &info, sizeof info, nullptr)
        && info.ActiveProcesses > 0;
}

void ProcessTree::kill(qint64 pid)
{
    Q_UNUSED(pid)
    if (d->job)
        ::TerminateJobObject(d->job, 1);
}

void setUpChild(qint64 launcherPid)
{
    Q_UNUSED(launcherPid)
}

void bindChildToLauncher(qint64 launcherPid)
{
    Q_UNUSED(launcherPid)
}

bool groupAlive(qint64 group)
{
    Q_UNUSED(group)
    return false;
}

qint64 watchdogPid()
{
    return 0;
}

void dropStaleGuard(const QString &key)
{
    // A Windows guard disappears with its last holder.
    Q_UNUSED(key)
}

QByteArray textLineEnd()
{
    return QByteArrayLiteral("\r\n");
}

} // namespace Platform
