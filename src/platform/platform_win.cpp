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
    Q_UNUSED(process)
    Q_UNUSED(launcherPid)
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
