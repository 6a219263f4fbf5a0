#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <condition_variable>
#include <mutex>
#include <thread>

// A server panel's console, kept in a file as plain UTF-8 lines, so that what
// the record limit or the console's size bound clears is not lost.
//
// Lines are queued on the GUI thread and written by a thread of the log's
// own: a slow or stalled disk must not hold up the console. The file is
// rotated by size: name.log, name.log.1 (the newest old one) … keeping
// `keep` files in all. A write that fails (a full disk) ends the writing for
// this run, reported once through failed(); the console is not touched.
class ServerLog : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(ServerLog)

public:
    static constexpr qint64 kMaxBytes = 10 * 1024 * 1024;
    static constexpr int kKeep = 5;

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

signals:
    void failed(const QString &message);

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
    bool writing = false;
    bool stopping = false;
    bool broken = false;        // the writer thread only
    std::thread worker;
};
