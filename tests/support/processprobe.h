#pragma once

#include <QString>
#include <QtGlobal>

namespace TestSupport {

// True while a process with this pid exists and is not a zombie (a killed
// orphan may wait for a reaper that a container's init never runs).
bool processAlive(qint64 pid);

// How a process is ended from outside, not at the launcher's request.
enum class Ending {
    Request,   // SIGTERM, which the test helper answers with exit code 0; Windows
               // cannot ask one process alone, so it ends with that code at once
    Crash,     // SIGSEGV; on Windows an access violation's exit code
    Kill,      // SIGKILL; TerminateProcess
};
// False when there was no such process to end.
bool endProcess(qint64 pid, Ending how);

// Reads "key=<number>" from a text (the test helper prints its pids so).
qint64 numberAfter(const QString &text, const QString &key);

} // namespace TestSupport
