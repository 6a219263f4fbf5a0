#pragma once

#include <QString>
#include <QtGlobal>

namespace TestSupport {

// True while a process with this pid exists and is not a zombie (a killed
// orphan may wait for a reaper that a container's init never runs).
bool processAlive(qint64 pid);

// Reads "key=<number>" from a text (the test helper prints its pids so).
qint64 numberAfter(const QString &text, const QString &key);

} // namespace TestSupport
