#include "supervision/serverlog.h"

#include "platform/platform.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

// A disk so slow that this much waits to be written: stop rather than let
// the launcher's memory grow without end.
constexpr int kMaxPending = 32 * 1024 * 1024;

} // namespace

ServerLog::ServerLog(const QString &path, qint64 max, int keepFiles, QObject *parent)
    : QObject(parent)
    , filePath(path)
    , maxBytes(max)
    , keep(qMax(1, keepFiles))
    , lineEnd(Platform::textLineEnd())
    , clock([] {
        static const QElapsedTimer started = [] { QElapsedTimer t; t.start(); return t; }();
        return started.elapsed();
    })
{
    worker = std::thread([this] { run(); });
}

ServerLog::~ServerLog()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    wake.notify_one();
    worker.join();
}

namespace {

// Server output may hold what no other local user should read (addresses,
// accounts): a folder or log the launcher makes is its owner's alone.
bool makePrivateFolder(const QString &path)
{
    if (QFileInfo(path).isDir())
        return true;
    return QDir().mkpath(path)
        && QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

bool openPrivateForAppend(QFile &file)
{
    const bool fresh = !file.exists();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    if (fresh)
        file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    return true;
}

} // namespace

QString ServerLog::folder(const QString &configDir)
{
    const QString beside = QFileInfo(configDir).absolutePath() + QStringLiteral("/logs");
    if (makePrivateFolder(beside) && QFileInfo(beside).isWritable())
        return beside;
    return QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) + QStringLiteral("/logs");
}

void ServerLog::append(const QString &line)
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (pending.size() > kMaxPending) {
            ++droppedLines;
            return;
        }
        pending += line.toUtf8();
        pending += lineEnd;
    }
    wake.notify_one();
}

void ServerLog::flush()
{
    std::unique_lock<std::mutex> lock(mutex);
    idle.wait(lock, [this] { return pending.isEmpty() && !writing; });
}

void ServerLog::setClock(Clock c)
{
    std::lock_guard<std::mutex> lock(mutex);
    clock = std::move(c);
}

void ServerLog::run()
{
    makePrivateFolder(QFileInfo(filePath).absolutePath());
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
        wake.wait(lock, [this] { return stopping || !pending.isEmpty(); });
        if (pending.isEmpty() && stopping)
            return;
        QByteArray data;
        data.swap(pending);
        const qint64 dropped = droppedLines;
        droppedLines = 0;
        const qint64 now = clock();
        writing = true;
        lock.unlock();
        if (broken && now < retryAt) {
            missedLines += data.count('\n') + dropped;
            lost += data.count('\n') + dropped;
        } else {
            const QString nativePath = QDir::toNativeSeparators(filePath);
            // A disk so slow that lines had to be dropped counts as failing.
            const bool tooSlow = dropped > 0;
            QByteArray out;
            if (broken) {
                out = QStringLiteral("(日志) 自 %1 起有 %2 行未能写入本文件").arg(brokenSince).arg(missedLines).toUtf8();
                out += lineEnd;
            }
            out += data;
            if (!tooSlow && write(out)) {
                written += data.size();
                if (broken) {
                    broken = false;
                    missedLines = 0;
                    emit recovered(QStringLiteral("日志已恢复写入 %1").arg(nativePath));
                }
            } else {
                missedLines += data.count('\n') + dropped;
                lost += data.count('\n') + dropped;
                retryAt = now + kRetryMs;
                if (!broken) {
                    broken = true;
                    brokenSince = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss"));
                    emit failed(tooSlow ? QStringLiteral("日志写入过慢，暂停写入 %1，每 10 秒重试").arg(nativePath)
                                        : QStringLiteral("日志无法写入 %1（磁盘已满或无权限），每 10 秒重试；控制台照常显示")
                                              .arg(nativePath));
                }
            }
        }
        lock.lock();
        writing = false;
        if (pending.isEmpty())
            idle.notify_all();
    }
}

bool ServerLog::write(const QByteArray &data)
{
    QFile file(filePath);
    if (!openPrivateForAppend(file))
        return false;
    qint64 size = file.size();
    int from = 0;
    while (from < data.size()) {
        // Whole lines only, and none across the size limit unless a single
        // line is larger than the limit itself.
        const qint64 room = maxBytes - size;
        int to = data.size();
        if (to - from > room) {
            const int cut = data.lastIndexOf('\n', static_cast<int>(from + qMax<qint64>(room, 0) - 1));
            if (cut >= from) {
                to = cut + 1;
            } else if (size > 0) {
                file.close();
                if (!rotate() || !openPrivateForAppend(file))
                    return false;
                size = 0;
                continue;
            } else {
                const int end = data.indexOf('\n', from);
                to = end < 0 ? data.size() : end + 1;
            }
        }
        if (file.write(data.constData() + from, to - from) != to - from || !file.flush())
            return false;
        size += to - from;
        from = to;
    }
    return true;
}

bool ServerLog::rotate()
{
    const auto numbered = [this](int n) { return filePath + QLatin1Char('.') + QString::number(n); };
    QFile::remove(numbered(keep - 1));
    for (int n = keep - 2; n >= 1; --n) {
        if (QFile::exists(numbered(n)))
            QFile::rename(numbered(n), numbered(n + 1));
    }
    if (keep == 1)
        return QFile::remove(filePath);
    return QFile::rename(filePath, numbered(1));
}
