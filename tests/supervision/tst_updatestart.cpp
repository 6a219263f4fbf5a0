#include "coresupport.h"
#include "supervision/updatestart.h"
#include "database/sqlprocessthread.h"
#include "dbfixture.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <memory>

using TestSupport::DbFixture;

// The update start driven step by step, without any window, against a real
// MariaDB: the steps in order, the wait and its readiness checks, and where
// the next begin() resumes after a failure.
class tst_UpdateStart : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void stepsInOrder();
    void readiness_data();
    void readiness();
    void failedStepIsRunAgain();
    // Last: it leaves a worker behind.
    void goingAwayDoesNotWaitForAHungDatabase();

private:
    QStringList rows() { return db->column(QStringLiteral("SELECT step FROM probe ORDER BY step")); }

    std::unique_ptr<DbFixture> db;
    std::unique_ptr<TestSupport::TempAppDir> app;
};

void tst_UpdateStart::init()
{
    db.reset(new DbFixture);
    if (!db->isReady())
        QFAIL(qPrintable(db->failure()));
    app.reset(new TestSupport::TempAppDir);
    app->writeIni(db->mysqlIni());
    QVERIFY(app->writeScript(QStringLiteral("clean.sql"), "DROP TABLE IF EXISTS probe;"));
    QVERIFY(app->writeScript(QStringLiteral("init.sql"), "CREATE TABLE probe (step VARCHAR(20));\nINSERT INTO probe VALUES ('init');"));
    QVERIFY(app->writeScript(QStringLiteral("update.sql"), "INSERT INTO probe VALUES ('update');"));
    app->initialize();
}

void tst_UpdateStart::cleanup()
{
    app.reset();
    db.reset();
}

void tst_UpdateStart::stepsInOrder()
{
    UpdateStart sequence;
    sequence.setWaitSeconds(1);
    QList<QString> seen;
    connect(&sequence, &UpdateStart::progress, this, [&](int index, int total) {
        seen << QStringLiteral("%1/%2").arg(index).arg(total);
    });
    connect(&sequence, &UpdateStart::startServerRequested, this, [&] {
        seen << QStringLiteral("start");
        QCOMPARE(sequence.step(), UpdateStart::Step::StartServer);
        QCOMPARE(rows(), QStringList{QStringLiteral("init")});   // cleaned, initialised, not updated
    });
    QVERIFY(sequence.begin());
    QVERIFY(!sequence.begin());                                   // running: a second press does nothing
    QTRY_VERIFY(!sequence.isRunning());
    QCOMPARE(seen, (QList<QString>{"1/4", "2/4", "3/4", "start", "4/4"}));
    QCOMPARE(rows(), (QStringList{"init", "update"}));
    QCOMPARE(sequence.step(), UpdateStart::Step::Connect);
}

void tst_UpdateStart::readiness_data()
{
    QTest::addColumn<bool>("portUp");     // what the port probe says
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("output");  // what the server writes while waited for
    QTest::addColumn<bool>("ready");

    QTest::newRow("port opens") << true << QString() << QString() << true;
    QTest::newRow("line matches") << false << "Started .* in [0-9.]+ seconds" << "Started VManageBootstrap in 9.1 seconds" << true;
    QTest::newRow("neither") << false << "Started" << "still booting" << false;
}

void tst_UpdateStart::readiness()
{
    QFETCH(bool, portUp);
    QFETCH(QString, pattern);
    QFETCH(QString, output);
    QFETCH(bool, ready);

    UpdateStart sequence;
    // Ready, the update follows at once; not ready, the wait runs out.
    sequence.setWaitSeconds(ready ? 600 : 2);
    sequence.setReadiness([portUp] { return portUp; }, QRegularExpression(pattern));
    QSignalSpy notReady(&sequence, &UpdateStart::notReady);
    connect(&sequence, &UpdateStart::startServerRequested, this, [&] { sequence.serverOutput(output); }, Qt::QueuedConnection);
    QVERIFY(sequence.begin());
    QTRY_VERIFY_WITH_TIMEOUT(!sequence.isRunning(), 10000);
    QCOMPARE(notReady.count(), ready ? 0 : 1);
    QCOMPARE(rows().contains(QStringLiteral("update")), ready);
    // Not ready: the next press waits for the server again, it does not
    // clean the database a second time.
    QCOMPARE(sequence.step(), ready ? UpdateStart::Step::Connect : UpdateStart::Step::Wait);
}

void tst_UpdateStart::failedStepIsRunAgain()
{
    QFile::remove(app->path() + QStringLiteral("/config/mysql/init.sql"));
    UpdateStart sequence;
    sequence.setWaitSeconds(1);
    QSignalSpy failed(&sequence, &UpdateStart::failed);
    QSignalSpy progress(&sequence, &UpdateStart::progress);
    QVERIFY(sequence.begin());
    QTRY_COMPARE(failed.count(), 1);
    QVERIFY(!sequence.isRunning());
    QCOMPARE(sequence.step(), UpdateStart::Step::Init);
    QCOMPARE(progress.count(), 2);

    QVERIFY(app->writeScript(QStringLiteral("init.sql"), "CREATE TABLE probe (step VARCHAR(20));"));
    QVERIFY(sequence.begin());
    QTRY_VERIFY(!sequence.isRunning());
    QCOMPARE(failed.count(), 1);
    QCOMPARE(progress.count(), 4);                               // init and update, no reconnect or clean
    QCOMPARE(rows(), QStringList{QStringLiteral("update")});
}

// Quitting while the database does not answer: the sequence goes at once
// and its worker is left to end with the process.
void tst_UpdateStart::goingAwayDoesNotWaitForAHungDatabase()
{
    QTcpServer silent;
    if (!silent.listen(QHostAddress(QStringLiteral("127.0.0.3")), 3306))
        QSKIP(qPrintable(QStringLiteral("cannot listen on 127.0.0.3:3306: ") + silent.errorString()));
    app->writeIni(DbFixture::mysqlIni(QStringLiteral("127.0.0.3"), db->database(), db->user(), db->password()));
    app->initialize();
    auto sequence = std::make_unique<UpdateStart>();
    QVERIFY(sequence->begin());
    QVERIFY(silent.waitForNewConnection(5000));
    std::unique_ptr<QTcpSocket> held(silent.nextPendingConnection());   // accepted, never answered
    QVERIFY(!SqlProcessThread::anyLeftRunning());
    sequence.reset();
    QVERIFY(SqlProcessThread::anyLeftRunning());
}

QTEST_GUILESS_MAIN(tst_UpdateStart)
#include "tst_updatestart.moc"
