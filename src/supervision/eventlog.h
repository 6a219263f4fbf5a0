#pragma once

#include <QString>

// What happened, one line each, in "logs/events.log" beside the output logs:
// the launcher's start and quit, every server start, stop, end and restart,
// refusals, the update start's steps, settings that could not be saved. A
// burst of output rotates the output logs in minutes; this file is rotated
// on its own and keeps far longer, so an earlier crash stays on record.
namespace EventLog {

constexpr qint64 kMaxBytes = 1024 * 1024;
constexpr int kKeep = 20;

// source: "MediaServer", "SipServer", "Launcher".
void note(const QString &source, const QString &text);
// Waits until what was noted is written (before an abrupt end).
void flush();
// The folder of the logs, for the operator to open.
QString folder();

} // namespace EventLog
