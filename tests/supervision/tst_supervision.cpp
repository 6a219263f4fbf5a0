// The core of supervision without a panel: restart back-off, log rotation,
// and the console feed that makes records off the GUI thread.
#include "coresupport.h"
#include "platform/platform.h"
#include "supervision/consolefeed.h"
#include "supervision/serverlog.h"
#include "supervision/serverprocess.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>

class tst_Supervision : public QObject
{
    Q_OBJECT

private slots:
    void restartBacksOffAndStopCancels();
    void logRotatesAtTheSizeLimit();
    void logRetriesAfterAFailure();
    void feedMakesRecordsAndLogsThem();
    void feedSkipsWhatWaitsTooLongButLogsIt();
};

void tst_Supervision::restartBacksOffAndStopCancels()
{
    ServerProcess process;
    process.setProgram(TestSupport::testHelperPath());
    process.setArguments({QStringLiteral("exit"), QStringLiteral("1")});
    process.setAutoRestart(true);
    process.setRestartBackoff(40, 160, 60000);
    QSignalSpy scheduled(&process, &ServerProcess::restartScheduled);
    QSignalSpy restarting(&process, &ServerProcess::restarting);
    process.launch();
    QTRY_VERIFY(scheduled.count() >= 4);
    QList<int> delays;
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(scheduled.at(i).at(0).toInt(), i + 1);
        delays.append(scheduled.at(i).at(1).toInt());
    }
    QCOMPARE(delays, (QList<int>{40, 80, 160, 160}));
    QCOMPARE(restarting.first().at(0).toInt(), 1);

    // A stop while a restart waits cancels it; so does one while it runs.
    QTRY_VERIFY(process.restartPending());
    process.stop(0);
    QVERIFY(!process.restartPending());
    QVERIFY(!process.isActive());
}

void tst_Supervision::logRotatesAtTheSizeLimit()
{
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/Server.log");
    QStringList lines;
    {
        ServerLog log(path, 100, 3);
        for (int i = 0; i < 12; ++i) {
            lines.append(QStringLiteral("line %1 ").arg(i, 2, 10, QLatin1Char('0')) + QString(20, QLatin1Char('x')));
            log.append(lines.last());
            if (i % 3 == 0)
                log.flush();
        }
    }
    const auto read = [](const QString &name) {
        QFile f(name);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    // Three files in all, none above the limit, whole lines (ended as the
    // system's text files are), oldest last.
    const QString end = QString::fromLatin1(Platform::textLineEnd());
    QVERIFY(!QFile::exists(path + QStringLiteral(".3")));
    QByteArray kept;
    for (const QString &name : {path + QStringLiteral(".2"), path + QStringLiteral(".1"), path}) {
        const QByteArray bytes = read(name);
        QVERIFY2(!bytes.isEmpty() && bytes.size() <= 100 && bytes.endsWith(end.toLatin1()), qPrintable(name));
        kept += bytes;
    }
    const QString all = lines.join(end) + end;
    QVERIFY(all.endsWith(QString::fromUtf8(kept)));
    QVERIFY(kept.size() > 200);
}

// A log that cannot be written (here: a folder stands where the file goes)
// tries again only after its retry interval, then says what it missed.
void tst_Supervision::logRetriesAfterAFailure()
{
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/Server.log");
    QVERIFY(QDir().mkdir(path));
    std::atomic<qint64> now{0};
    ServerLog log(path);
    log.setClock([&now] { return now.load(); });
    QSignalSpy failed(&log, &ServerLog::failed);
    QSignalSpy recovered(&log, &ServerLog::recovered);
    for (const char *line : {"a", "b", "c"}) {
        log.append(QString::fromLatin1(line));
        log.flush();
    }
    QCOMPARE(failed.count(), 1);
    QVERIFY(QDir(path).removeRecursively());
    log.append(QStringLiteral("d"));   // the disk has room again, but the interval has not passed
    log.flush();
    QVERIFY(!QFile::exists(path));
    now = ServerLog::kRetryMs;
    log.append(QStringLiteral("e"));
    log.flush();
    QCOMPARE(recovered.count(), 1);
    QCOMPARE(failed.count(), 1);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(file.readAll()).split(QString::fromLatin1(Platform::textLineEnd()));
    QCOMPARE(lines.size(), 3);
    QVERIFY2(lines.at(0).endsWith(QStringLiteral("有 4 行未能写入本文件")), qPrintable(lines.at(0)));
    QCOMPARE(lines.at(1), QStringLiteral("e"));
}

namespace {

QString joined(const QVector<ConsoleFeed::Item> &items)
{
    QStringList parts;
    for (const ConsoleFeed::Item &item : items)
        parts.append(QStringLiteral("%1%2:%3").arg(item.recordStart ? QStringLiteral("*") : QString()).arg(int(item.kind)).arg(item.text));
    return parts.join(QLatin1Char('|'));
}

QString withoutTimes(QString text)
{
    return text.replace(QRegularExpression(QStringLiteral("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}")), QStringLiteral("T"));
}

} // namespace

// Records of two programs in one console, named, in the order given, with
// the lines between them; the log holds the same lines.
void tst_Supervision::feedMakesRecordsAndLogsThem()
{
    QTemporaryDir dir;
    const QString path = dir.path() + QStringLiteral("/Sip.log");
    {
        ConsoleFeed feed(path, __FILE__);
        // Said on the feed's thread, heard on this one.
        int ready = 0;
        connect(&feed, &ConsoleFeed::ready, this, [&ready] { ++ready; });
        using C = ConsoleFeed::Channel;
        using D = ConsoleFeed::Decoding;
        feed.line(QStringLiteral("  [Redis] 程序启动--"), ConsoleFeed::Kind::Started);
        feed.output(1, QStringLiteral("[Redis]"), C::Output, D::Utf8, "ready \x1b[32mok\x1b[0m\nhalf ");
        feed.output(2, QString(), C::Error, D::Utf8, "oops\n");
        feed.output(1, QStringLiteral("[Redis]"), C::Output, D::Utf8, "a line\n");
        feed.flush(1);
        feed.line(QStringLiteral("\n\n"), ConsoleFeed::Kind::Plain, false);
        feed.sync();
        QTRY_COMPARE(ready, 1);
        qint64 skipped = -1;
        const QVector<ConsoleFeed::Item> items = feed.take(1 << 20, &skipped);
        QCOMPARE(skipped, 0);
        QCOMPARE(withoutTimes(joined(items)),
                 QStringLiteral("3:T  [Redis] 程序启动--|*0:T(信息)[Redis]|1:ready ok\n|*2:oops\n|*0:T(信息)[Redis]|1:half a line\n|6:\n\n"));
        // The colour the server asked for, on the word it coloured.
        QCOMPARE(items.at(2).runs.size(), 3);
        QCOMPARE(items.at(2).runs.at(1).color, (AnsiText::Colour{AnsiText::Colour::Indexed, 2}));
        QVERIFY(!feed.hasPending());
    }
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(withoutTimes(QString::fromUtf8(file.readAll())).remove(QLatin1Char('\r')).split(QLatin1Char('\n')),
             QStringList({"T  [Redis] 程序启动--", "T(信息)[Redis]", "ready ok", "oops", "T(信息)[Redis]", "half a line",
                          "", "", "", ""}));
}

// A console that does not take what waits (busy with a flood) gets the
// newest part and how much was skipped; the log gets every line.
void tst_Supervision::feedSkipsWhatWaitsTooLongButLogsIt()
{
    QTemporaryDir dir;
    ConsoleFeed feed(dir.path() + QStringLiteral("/Media.log"), __FILE__);
    const QByteArray line = QByteArray(99, 'x') + '\n';
    const int lines = int(2 * ConsoleFeed::kMaxPendingChars / line.size());
    for (int i = 0; i < lines; i += 100)
        feed.output(1, QString(), ConsoleFeed::Channel::Output, ConsoleFeed::Decoding::Utf8, line.repeated(100));
    feed.output(1, QString(), ConsoleFeed::Channel::Output, ConsoleFeed::Decoding::Utf8, "LAST\n");
    feed.sync();
    qint64 skipped = 0;
    qint64 shown = 0;
    QVector<ConsoleFeed::Item> items;
    while (feed.hasPending()) {
        qint64 s = 0;
        items += feed.take(256 * 1024, &s);
        skipped += s;
    }
    for (const ConsoleFeed::Item &item : items)
        shown += item.text.size();
    QVERIFY2(skipped > ConsoleFeed::kMaxPendingChars / 2, qPrintable(QString::number(skipped)));
    QVERIFY(shown <= ConsoleFeed::kMaxPendingChars);
    QVERIFY(items.first().recordStart);
    QCOMPARE(items.last().text, QStringLiteral("LAST\n"));
    feed.log()->flush();
    QCOMPARE(feed.log()->linesLost(), 0);
    QVERIFY(feed.log()->bytesWritten() >= qint64(lines) * line.size());
}

QTEST_GUILESS_MAIN(tst_Supervision)
#include "tst_supervision.moc"
