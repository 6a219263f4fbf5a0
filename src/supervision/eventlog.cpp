#include "supervision/eventlog.h"

#include "setting/setupconfig.h"
#include "supervision/serverlog.h"

#include <QDateTime>
#include <QMutex>
#include <QMutexLocker>

#include <memory>

namespace EventLog {

namespace {

QMutex mutex;
std::unique_ptr<ServerLog> &current()
{
    static std::unique_ptr<ServerLog> log;
    return log;
}

} // namespace

QString folder()
{
    return ServerLog::folder(SetupConfig::instance()->configDir());
}

void note(const QString &source, const QString &text)
{
    const QString path = folder() + QStringLiteral("/events.log");
    QMutexLocker locker(&mutex);
    std::unique_ptr<ServerLog> &log = current();
    // The settings folder is fixed in a run of the launcher; tests change it.
    if (!log || log->path() != path)
        log = std::make_unique<ServerLog>(path, kMaxBytes, kKeep);
    log->append(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"))
                + QStringLiteral(" [") + source + QStringLiteral("] ") + text);
}

void flush()
{
    QMutexLocker locker(&mutex);
    if (current())
        current()->flush();
}

} // namespace EventLog
