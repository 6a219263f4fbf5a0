#include "supervision/consolefeed.h"

#include "platform/platform.h"
#include "supervision/outputdecoding.h"
#include "supervision/outputstream.h"
#include "supervision/serverlog.h"

#include <QDateTime>
#include <QMutexLocker>

#include <algorithm>
#include <iterator>

#include <map>
#include <utility>

// Lives on the feed's thread: the streams (and their hold timers) are made
// and used there only.
class ConsoleFeed::Worker : public QObject
{
public:
    Worker(ConsoleFeed *feed, const char *sourcePath)
        : feed(feed)
        , sourcePath(sourcePath)
    {
    }

    void output(quintptr source, const QString &name, Channel channel, Decoding decoding, const QByteArray &bytes)
    {
        names[source] = name;
        stream(source, channel, decoding)->append(bytes);
        deliver();
    }

    void flush(quintptr source)
    {
        for (const Channel channel : {Channel::Output, Channel::Error}) {
            const auto it = streams.find({source, channel});
            if (it != streams.end())
                it->second->flush();
        }
        deliver();
    }

    void line(const QString &text, Kind kind)
    {
        append(text, kind, false);
        deliver();
    }

    // Before the thread ends: what the streams hold goes out, and the
    // streams' timers go with the thread they belong to.
    void shutDown()
    {
        for (auto &entry : streams)
            entry.second->flush();
        deliver();
        streams.clear();
    }

private:
    OutputStream *stream(quintptr source, Channel channel, Decoding decoding)
    {
        std::unique_ptr<OutputStream> &s = streams[{source, channel}];
        if (!s) {
            const bool utf8 = decoding == Decoding::Utf8;
            const char *path = sourcePath;
            s = std::make_unique<OutputStream>([utf8, path](const QByteArray &bytes) {
                return OutputDecoding::decode(bytes, utf8, path);
            });
            // A held line that output's pause lets go comes by the timer,
            // outside any call: it is delivered at once.
            connect(s.get(), &OutputStream::record, this,
                    [this, source, channel](const QString &text, const QVector<AnsiText::Run> &runs) {
                        record(source, channel, text, runs);
                        deliver();
                    });
        }
        return s.get();
    }

    void record(quintptr source, Channel channel, const QString &text, const QVector<AnsiText::Run> &runs)
    {
        // In a console shared by several programs every record says whose it is.
        const QString &name = names[source];
        bool start = true;
        if (channel == Channel::Output) {
            append(clock.now() + QStringLiteral("(信息)") + name, Kind::Header, start);
            start = false;
        } else if (!name.isEmpty()) {
            append(clock.now() + QStringLiteral("(错误)") + name, Kind::Error, start);
            start = false;
        }
        batch.append(Item{text, runs, channel == Channel::Output ? Kind::Output : Kind::Error, start});
        // Without the line end that closes the record, as the console shows it.
        int end = text.size();
        if (text.endsWith(QLatin1Char('\n')))
            end -= text.endsWith(QLatin1String("\r\n")) ? 2 : 1;
        feed->logFile->append(text.left(end));
    }

    void append(const QString &text, Kind kind, bool start)
    {
        batch.append(Item{text, {}, kind, start});
        feed->logFile->append(text);
    }

    void deliver()
    {
        if (!batch.isEmpty())
            feed->deliver(batch);
    }

    ConsoleFeed *const feed;
    const char *const sourcePath;
    std::map<std::pair<quintptr, Channel>, std::unique_ptr<OutputStream>> streams;
    std::map<quintptr, QString> names;
    QVector<Item> batch;
    Clock clock;
};

ConsoleFeed::ConsoleFeed(const QString &logPath, const char *sourcePath, QObject *parent)
    : FeedQueue(parent)
    // Before the log's and the feed's threads allocate anything.
    , logFile((Platform::shareOneHeap(), new ServerLog(logPath)))
    , worker(new Worker(this, sourcePath))
{
    worker->moveToThread(&thread);
    thread.setObjectName(QStringLiteral("ConsoleFeed"));
    thread.start();
}

ConsoleFeed::~ConsoleFeed()
{
    // Queued calls are carried out in order: when this one has run, every
    // earlier one has too.
    QMetaObject::invokeMethod(worker, [this] { worker->shutDown(); }, Qt::BlockingQueuedConnection);
    thread.quit();
    thread.wait();
    delete worker;
}

void ConsoleFeed::output(quintptr source, const QString &name, Channel channel, Decoding decoding, const QByteArray &bytes)
{
    QMetaObject::invokeMethod(worker, [this, source, name, channel, decoding, bytes] {
        worker->output(source, name, channel, decoding, bytes);
    }, Qt::QueuedConnection);
}

void ConsoleFeed::flush(quintptr source)
{
    QMetaObject::invokeMethod(worker, [this, source] { worker->flush(source); }, Qt::QueuedConnection);
}

void ConsoleFeed::line(const QString &text, Kind kind, bool stamped)
{
    // Stamped now, when it happened, not when the thread gets to it.
    const QString shown = stamped ? clock.now() + text : text;
    QMetaObject::invokeMethod(worker, [this, shown, kind] { worker->line(shown, kind); }, Qt::QueuedConnection);
}

void ConsoleFeed::sync()
{
    QMetaObject::invokeMethod(worker, [] {}, Qt::BlockingQueuedConnection);
}

FeedQueue::FeedQueue(QObject *parent)
    : QObject(parent)
{
}

void FeedQueue::deliver(QVector<Item> &items, qint64 skipped)
{
    QMutexLocker locker(&mutex);
    skippedChars += skipped;
    for (Item &item : items) {
        pendingChars += item.text.size() + 1;
        pending.append(std::move(item));
    }
    items.clear();
    // The console would drop the oldest of this anyway before it got to show
    // it: skip it here, where it costs nothing, and say how much.
    int drop = 0;
    while (pendingChars > kMaxPendingChars && drop < pending.size() - 1) {
        pendingChars -= pending.at(drop).text.size() + 1;
        skippedChars += pending.at(drop).text.size();
        ++drop;
    }
    if (drop > 0) {
        pending.erase(pending.begin(), pending.begin() + drop);
        // What is left of a record whose start went still starts one.
        Item &first = pending.first();
        if (first.kind == Kind::Output || first.kind == Kind::Error)
            first.recordStart = true;
    }
    if (!signalled && !pending.isEmpty()) {
        signalled = true;
        emit ready();
    }
}

QVector<FeedQueue::Item> FeedQueue::take(qint64 maxChars, qint64 *skipped)
{
    QMutexLocker locker(&mutex);
    QVector<Item> items;
    qint64 chars = 0;
    int count = 0;
    while (count < pending.size() && (count == 0 || chars + pending.at(count).text.size() < maxChars))
        chars += pending.at(count++).text.size() + 1;
    if (count == pending.size()) {
        items.swap(pending);
    } else {
        items.reserve(count);
        std::move(pending.begin(), pending.begin() + count, std::back_inserter(items));
        pending.erase(pending.begin(), pending.begin() + count);
    }
    pendingChars -= chars;
    if (skipped)
        *skipped = skippedChars;
    skippedChars = 0;
    signalled = !pending.isEmpty();
    return items;
}

bool FeedQueue::hasPending() const
{
    QMutexLocker locker(&mutex);
    return !pending.isEmpty();
}

void FeedQueue::discardPending()
{
    QMutexLocker locker(&mutex);
    pending.clear();
    pendingChars = 0;
    skippedChars = 0;
    signalled = false;
}

QString ConsoleFeed::Clock::now()
{
    const qint64 ms = QDateTime::currentMSecsSinceEpoch();
    if (ms / 1000 != second) {
        second = ms / 1000;
        prefix = QDateTime::fromMSecsSinceEpoch(second * 1000).toString(QStringLiteral("yyyy-MM-dd hh:mm:ss."));
    }
    return prefix + QStringLiteral("%1").arg(ms % 1000, 3, 10, QLatin1Char('0'));
}

QString ConsoleFeed::dashed(const QString &title)
{
    return title + QString(50, QLatin1Char('-'));
}
