#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// A server panel's console, kept in a file as plain UTF-8 lines, so that what
// the record limit or the console's size bound clears is not lost.
//
// Lines are queued on the GUI thread and written by a thread of the log's
// own: a slow or stalled disk must not hold up the console. The file is
// rotated by size: name.log, name.log.1 (the newest old one) … keeping
// `keep` files in all. A write that fails (a full disk) is reported once
// through failed(); what comes next is dropped and counted, and writing is
// tried again at most every kRetryMs. The first write that works notes in
// the file how many lines were missed, and recovered() follows.
class ServerLog : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(ServerLog)

public:
    static constexpr qint64 kMaxBytes = 10 * 1024 * 1024;
    static constexpr int kKeep = 5;
    static constexpr qint64 kRetryMs = 10000;
    // Milliseconds from any fixed point; tests bring their own.
    using Clock = std::function<qint64()>;

    explicit ServerLog(const QString &path, qint64 maxBytes = kMaxBytes, int keep = kKeep, QObject *parent = nullptr);
    // Writes what is queued, then ends the writer thread.
    ~ServerLog() override;

    // The folder for the log files: "logs" beside the settings file's folder
    // when it can be written, else the platform's per-user data folder.
    static QString folder(const QString &configDir);

    QString path() const { return filePath; }
    // One line; the line end is added.
    void append(const QString &line);
    // Waits until everything queued so far is written (or dropped).
    void flush();
    void setClock(Clock clock);
    // Since the log was made: bytes of lines written to its files, and
    // lines that never got there (dropped or missed while it failed).
    qint64 bytesWritten() const { return written; }
    qint64 linesLost() const { return lost; }

signals:
    void failed(const QString &message);
    void recovered(const QString &message);

private:
    void run();
    bool write(const QByteArray &data);
    bool rotate();

    const QString filePath;
    const qint64 maxBytes;
    const int keep;
    const QByteArray lineEnd;

    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable idle;
    QByteArray pending;
    qint64 droppedLines = 0;    // past the pending bound
    bool writing = false;
    bool stopping = false;
    Clock clock;
    // The writer thread only:
    bool broken = false;
    qint64 retryAt = 0;
    qint64 missedLines = 0;
    QString brokenSince;
    std::atomic<qint64> written{0};
    std::atomic<qint64> lost{0};
    std::thread worker;
};
