// The core of supervision without a panel: restart back-off and log rotation.
#include "coresupport.h"
#include "platform/platform.h"
#include "supervision/serverlog.h"
#include "supervision/serverprocess.h"

#include <QDir>
#include <QFile>
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

QTEST_GUILESS_MAIN(tst_Supervision)
#include "tst_supervision.moc"
