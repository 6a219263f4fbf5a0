#pragma once

#include "supervision/ansitext.h"

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QThread>
#include <QVector>

#include <memory>

class ServerLog;

// What waits to be shown in a console: items of text ready to show, from
// the feed made here or from a service's feed, handed over to the console
// as it can take them. Bounded (kMaxPendingChars): past that the oldest
// waiting text is skipped and counted. Items may be delivered from any
// thread.
class FeedQueue : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(FeedQueue)

public:
    // How a piece of text shows; the console picks the colours.
    enum class Kind : quint8 {
        Header,     // "(信息)" before a record of standard output
        Output,     // standard output
        Error,      // standard error, and its "(错误)" header
        Started,    // start and normal-end banners
        Failed,     // failure banners and their details
        Note,       // the launcher's own remarks
        Plain       // the empty lines after a banner
    };

    struct Item
    {
        QString text;
        QVector<AnsiText::Run> runs;    // Output and Error only; empty: one run
        Kind kind = Kind::Plain;
        bool recordStart = false;       // the first item of a record
    };

    // About what a console keeps: older waiting text would only be dropped
    // by the console as soon as it was shown.
    static constexpr qint64 kMaxPendingChars = 3584 * 1024;

    explicit FeedQueue(QObject *parent = nullptr);

    // skipped: characters left out before these items.
    void deliver(QVector<Item> &items, qint64 skipped = 0);
    // The oldest of what waits to be shown, about maxChars of it (at least
    // one item), and how many characters were skipped before it.
    QVector<Item> take(qint64 maxChars, qint64 *skipped);
    bool hasPending() const;
    // "清除": what waits is not shown.
    void discardPending();

signals:
    // Something waits to be shown; not repeated until take().
    void ready();

private:
    mutable QMutex mutex;       // guards the members below
    QVector<Item> pending;
    qint64 pendingChars = 0;
    qint64 skippedChars = 0;
    bool signalled = false;
};

// A panel's console as text: its programs' output cut into records with
// their timestamps and headers, the banners and notes between them, all
// written to the panel's log file and handed to the console ready to show.
//
// A server may write hundreds of MB a second. Everything here but the
// hand-over runs on a thread of the feed's own, so the GUI thread only
// passes on what it read and shows what it is given: it neither slows the
// server down nor stalls on a flood. What waits to be shown is bounded
// (kMaxPendingChars); past that the oldest waiting text is skipped and
// counted, but the log file still gets every line.
//
// Calls come from one thread (the owner's) and are carried out in the
// order they were made.
class ConsoleFeed : public FeedQueue
{
    Q_OBJECT
    Q_DISABLE_COPY(ConsoleFeed)

public:
    enum class Decoding { SystemCodec, Utf8 };
    enum class Channel { Output, Error };

    // sourcePath: named should the system's code page have no codec.
    ConsoleFeed(const QString &logPath, const char *sourcePath, QObject *parent = nullptr);
    // Carries out what was asked, writes the log and ends the thread.
    ~ConsoleFeed() override;

    ServerLog *log() const { return logFile.get(); }

    // A read of a program's output; source tells the programs apart, name
    // ("[Redis]", or empty) goes into the headers of its records.
    void output(quintptr source, const QString &name, Channel channel, Decoding decoding, const QByteArray &bytes);
    // What the source's streams hold shows now: before its end banner.
    void flush(quintptr source);
    // A line of the launcher's own; stamped: with the time in front.
    void line(const QString &text, Kind kind, bool stamped = true);
    // The records and lines given so far are made (not yet shown).
    void sync();

    // "yyyy-MM-dd hh:mm:ss.zzz", local time. A busy server writes thousands
    // of records a second, so the date and time are formatted once a second;
    // one clock per thread.
    class Clock
    {
    public:
        QString now();

    private:
        qint64 second = -1;
        QString prefix;
    };
    // A banner's title and the run of hyphens every banner ends with.
    static QString dashed(const QString &title);

private:
    class Worker;

    std::unique_ptr<ServerLog> logFile;
    QThread thread;
    Worker *worker = nullptr;
    Clock clock;                // the owner's thread
};
