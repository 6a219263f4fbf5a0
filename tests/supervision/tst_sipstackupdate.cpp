#include "dbfixture.h"
#include "sipsettings.h"
#include "stackprobe.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QSettings>
#include <QTcpServer>
#include <QTest>

#include <memory>

using TestSupport::DbFixture;
using TestSupport::testHelperPath;

namespace {

// One tick of the update start's wait for the SIP server.
constexpr int kTickMs = 250;


// The SIP stack whose update start the test presses (the operator's yes to
// the clean step is the panel's), with what it reports: warnings, progress
// in percent (each value it took since the press), the step's text.
struct UpdateProbe : TestSupport::StackProbe
{
    QStringList warnings;
    QList<int> percents;
    int percent = 0;
    QString step;

    UpdateProbe()
        : StackProbe(testHelperPath(), QStringLiteral("out sip-up\\n forever"), QString(), new SipStack)
    {
        SipStack *sip = sipStack();
        sip->updateStart()->setTickMs(kTickMs);
        QObject::connect(sip, &SipStack::updateFailed, [this](const QString &text) { warnings << text; });
        QObject::connect(sip, &SipStack::updateNotReady,
                         [this] { warnings << QStringLiteral("SIP服务器未在等待时间内就绪"); });
        QObject::connect(sip, &SipStack::updateStep, [this](const QString &text) { step = text; });
        QObject::connect(sip->updateStart(), &UpdateStart::progress, [this](int index, int total) {
            percent = index * 100 / total;
            percents << percent;
        });
    }
    void pressUpdate()
    {
        if (sipStack()->updateStart()->isRunning() || sipStack()->prepareUpdate())
            return;
        percent = 0;
        percents = {0};
        sipStack()->updateStart()->begin();
    }
};

} // namespace

// The SIP stack's update start against a real MariaDB, with no window:
// failures and where the next press resumes, the server gone before the
// update script, refusal, going away mid-script, the readiness port.
class tst_SipStackUpdate : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void connectionFailureThenRetry();
    void missingCleanScriptThenRetryKeepsConnection();
    void killedConnectionThenNextPressRecovers();
    void failingStatementStopsSequence();
    void serverGoneStopsBeforeUpdate_data();
    void serverGoneStopsBeforeUpdate();
    void refusedWhileServerRuns();
    void destroyedDuringRunningTask();
    void readyPort_data();
    void readyPort();

private:
    void configure(int waitTicks, const QString &password = QString(), int readyPort = 0);
    void makeStack() { p.reset(new UpdateProbe); }
    QStringList probeRows() { return db->column(QStringLiteral("SELECT step FROM probe ORDER BY step")); }
    std::unique_ptr<DbFixture> db;
    std::unique_ptr<TestSupport::TempAppDir> appDir;
    std::unique_ptr<UpdateProbe> p;
};

void tst_SipStackUpdate::init()
{
    db.reset(new DbFixture);
    if (!db->isReady())
        QFAIL(qPrintable(db->failure()));
    appDir.reset(new TestSupport::TempAppDir);
    QVERIFY(TestSupport::writeProbeScripts(*appDir));
}

void tst_SipStackUpdate::cleanup()
{
    p.reset();
    appDir.reset();
    db.reset();
}

void tst_SipStackUpdate::configure(int waitTicks, const QString &password, int readyPort)
{
    TestSupport::configureUpdateStart(*appDir, *db, waitTicks, password, readyPort);
    makeStack();
}

void tst_SipStackUpdate::connectionFailureThenRetry()
{
    // The account does not exist yet: the connection fails.
    const QString user = db->database() + QStringLiteral("_late");
    QDir().mkpath(appDir->path() + QStringLiteral("/config"));
    configure(1);
    {
        QSettings ini(appDir->iniPath(), QSettings::IniFormat);
        ini.setValue(QStringLiteral("/Mysql/UserName"), user);
        ini.setValue(QStringLiteral("/Mysql/Password"), QStringLiteral("late-pw"));
    }
    appDir->initialize();
    makeStack();

    p->pressUpdate();
    QTRY_COMPARE_WITH_TIMEOUT(p->warnings.size(), 1, 10000);
    QVERIFY2(p->warnings.last().startsWith(QStringLiteral("数据库打开失败： ")), qPrintable(p->warnings.last()));
    QVERIFY(p->warnings.last().size() > QStringLiteral("数据库打开失败： ").size());
    QCOMPARE(p->percent, 0);
    QCOMPARE(p->step, QStringLiteral("未完成：连接数据库"));
    QVERIFY(!p->text().contains(QStringLiteral("sip-up")));

    QVERIFY2(db->createUser(user, QStringLiteral("late-pw")), qPrintable(db->lastError()));
    p->pressUpdate();
    QTRY_COMPARE_WITH_TIMEOUT(p->percent, 100, 8000);
    QCOMPARE(p->warnings.size(), 1);
    QCOMPARE(probeRows(), (QStringList{QStringLiteral("init"), QStringLiteral("update")}));
}

void tst_SipStackUpdate::missingCleanScriptThenRetryKeepsConnection()
{
    QFile::remove(appDir->path() + QStringLiteral("/config/mysql/clean.sql"));
    configure(1);
    p->pressUpdate();
    QTRY_COMPARE_WITH_TIMEOUT(p->warnings.size(), 1, 10000);
    QCOMPARE(p->warnings.last(), QStringLiteral("打不开") + appDir->path() + QStringLiteral("/config/mysql/clean.sql"));
    QCOMPARE(p->percent, 25);
    const QStringList connections = db->connectionIds(db->user());
    QCOMPARE(connections.size(), 1);

    QVERIFY(appDir->writeScript(QStringLiteral("clean.sql"), TestSupport::kProbeClean));
    p->pressUpdate();
    QTRY_COMPARE_WITH_TIMEOUT(p->percent, 100, 8000);
    // The retry resumes at the clean step on the connection opened before.
    QCOMPARE(p->percents, (QList<int>{0, 50, 75, 100}));
    QCOMPARE(db->connectionIds(db->user()), connections);
}

void tst_SipStackUpdate::killedConnectionThenNextPressRecovers()
{
    // The clean script sleeps on the server until its connection is killed.
    QVERIFY(appDir->writeScript(QStringLiteral("clean.sql"), "SELECT SLEEP(120);"));
    configure(1);
    p->pressUpdate();
    QStringList sleeping;
    QTRY_VERIFY_WITH_TIMEOUT(!(sleeping = db->column(QStringLiteral(
                                   "SELECT ID FROM information_schema.PROCESSLIST WHERE USER = '%1'"
                                   " AND INFO LIKE 'SELECT SLEEP%'").arg(db->user())))
                                  .isEmpty(),
                             10000);
    QVERIFY2(db->exec(QStringLiteral("KILL %1").arg(sleeping.first())), qPrintable(db->lastError()));
    QTRY_COMPARE_WITH_TIMEOUT(p->warnings.size(), 1, 10000);
    QVERIFY2(p->warnings.last().startsWith(QStringLiteral("执行脚本失败： ")), qPrintable(p->warnings.last()));
    QCOMPARE(p->percent, 25);

    // The next press resumes at the clean step, on a connection opened anew.
    QVERIFY(appDir->writeScript(QStringLiteral("clean.sql"), TestSupport::kProbeClean));
    p->pressUpdate();
    QTRY_COMPARE_WITH_TIMEOUT(p->percent, 100, 8000);
    QCOMPARE(p->warnings.size(), 1);
    QCOMPARE(probeRows(), (QStringList{QStringLiteral("init"), QStringLiteral("update")}));
    QVERIFY(!db->connectionIds(db->user()).contains(sleeping.first()));
}

void tst_SipStackUpdate::failingStatementStopsSequence()
{
    QVERIFY(appDir->writeScript(QStringLiteral("init.sql"),
                "CREATE TABLE probe (step VARCHAR(20) NOT NULL);\nINSERT INTO no_such_table VALUES (1);\n"
                "INSERT INTO probe VALUES ('after');"));
    configure(1);
    p->pressUpdate();
    QTRY_COMPARE_WITH_TIMEOUT(p->warnings.size(), 1, 10000);
    QVERIFY2(p->warnings.last().startsWith(QStringLiteral("执行脚本失败： ") + appDir->path()
                                          + QStringLiteral("/config/mysql/init.sql\n")),
             qPrintable(p->warnings.last()));
    QCOMPARE(p->percent, 50);
    // The sequence stopped at the failure: the server is not started after it.
    QVERIFY(!p->sipStack()->updateStart()->isRunning());
    QVERIFY(!p->stack->runningServers().contains(QStringLiteral("SIP服务器")));
    QVERIFY(!p->text().contains(QStringLiteral("sip-up")));
    QCOMPARE(probeRows(), QStringList());
}

void tst_SipStackUpdate::serverGoneStopsBeforeUpdate_data()
{
    QTest::addColumn<QString>("program");   // empty: the helper, closed during the wait
    QTest::newRow("closed during the wait") << QString();
    QTest::newRow("program missing") << QStringLiteral("/nonexistent/sip-server");
    QTest::newRow("crashes at once") << QStringLiteral("crash");
}

// The update script runs only while the SIP server does: never 100 % beside
// "服务器未启动". The next press starts the server again and goes on.
void tst_SipStackUpdate::serverGoneStopsBeforeUpdate()
{
    QFETCH(QString, program);
    // Two seconds: long enough for a slow system (Wine) to start the server,
    // and to crash it, within the wait.
    configure(8);
    if (program == QLatin1String("crash"))
        p->fields.param = QStringLiteral("crash");
    else if (!program.isEmpty())
        p->fields = {program, QString(), QString(), 10000};
    p->pressUpdate();
    if (program.isEmpty()) {
        QTRY_VERIFY(p->text().contains(QStringLiteral("sip-up")));
        p->close();
    }
    QTRY_COMPARE_WITH_TIMEOUT(p->warnings.size(), 1, 10000);
    QCOMPARE(p->warnings.last(), QStringLiteral("SIP服务器未运行，未执行更新脚本"));
    QCOMPARE(p->step, QStringLiteral("未完成：启动SIP服务器"));
    QCOMPARE(probeRows(), QStringList{QStringLiteral("init")});
    QVERIFY(p->percent < 100);
    if (!program.isEmpty())
        return;
    p->pressUpdate();
    QTRY_COMPARE_WITH_TIMEOUT(p->percent, 100, 10000);
    QCOMPARE(probeRows(), (QStringList{QStringLiteral("init"), QStringLiteral("update")}));
    QCOMPARE(p->warnings.size(), 1);
    p->close();
}

void tst_SipStackUpdate::refusedWhileServerRuns()
{
    configure(1);
    p->start();
    QTRY_VERIFY(p->text().contains(QStringLiteral("sip-up")));
    p->pressUpdate();
    QCOMPARE(p->refusals, QStringList{QStringLiteral("服务器已经启动，请勿重复启动!")});
    QVERIFY(!p->sipStack()->updateStart()->isRunning());
    QVERIFY(db->column(QStringLiteral("SHOW TABLES")).isEmpty());
}

void tst_SipStackUpdate::destroyedDuringRunningTask()
{
    QVERIFY(appDir->writeScript(QStringLiteral("clean.sql"), "SELECT SLEEP(1);"));
    configure(1);
    p->pressUpdate();
    QTRY_COMPARE_WITH_TIMEOUT(p->percent, 25, 10000);
    // The clean script is sleeping on the server now.
    QTRY_VERIFY(!db->column(QStringLiteral("SELECT ID FROM information_schema.PROCESSLIST WHERE USER = '%1'"
                                           " AND INFO LIKE 'SELECT SLEEP%'").arg(db->user())).isEmpty());
    p.reset();   // waits for it, then ends the worker and its connection
    QTRY_VERIFY(db->connectionIds(db->user()).isEmpty());
}

void tst_SipStackUpdate::readyPort_data()
{
    QTest::addColumn<bool>("listening");
    QTest::newRow("port open: update long before the wait ends") << true;
    QTest::newRow("port never opens: warning, nothing updated") << false;
}

void tst_SipStackUpdate::readyPort()
{
    QFETCH(bool, listening);

    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    const int port = server.serverPort();
    if (!listening)
        server.close();
    // Ready: far less than the 600 s wait. Not ready: the wait is the time-out.
    configure(listening ? 600 : 2, QString(), port);
    p->pressUpdate();
    if (listening) {
        QTRY_COMPARE_WITH_TIMEOUT(p->percent, 100, 10000);
        QCOMPARE(probeRows(), (QStringList{"init", "update"}));
        QCOMPARE(p->warnings.size(), 0);
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(p->warnings.size(), 1, 10000);
            QCOMPARE(p->warnings.last(), QStringLiteral("SIP服务器未在等待时间内就绪"));
        QCOMPARE(probeRows(), QStringList{QStringLiteral("init")});
        // The next press resumes the wait; the running server does not refuse it.
        p->pressUpdate();
        QTRY_COMPARE_WITH_TIMEOUT(p->warnings.size(), 2, 10000);
        QCOMPARE(p->warnings.last(), QStringLiteral("SIP服务器未在等待时间内就绪"));
    }
    p->close();
}

QTEST_GUILESS_MAIN(tst_SipStackUpdate)
#include "tst_sipstackupdate.moc"
