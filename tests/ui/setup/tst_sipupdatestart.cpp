#include "dbfixture.h"
#include "testsupport.h"
#include "supervision/updatestart.h"
#include "ui/setup/sipserver/sipserversetup.h"
#include "ui/widgets/colorprogressbar.h"
#include "ui/widgets/ctextbrowser.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QLabel>
#include <QMessageBox>
#include <QSettings>
#include <QTcpServer>
#include <QTest>
#include <QTimer>

#include <memory>

namespace {
// One tick of the update start's wait for the SIP server.
constexpr int kTickMs = 250;
} // namespace

using TestSupport::DbFixture;
using TestSupport::ModalBoxCloser;
using TestSupport::testHelperPath;

namespace {

// Scripts of the test's own, so that every step has an effect to look at.
const QString kConfirm = QStringLiteral("确认更新启动");
const QByteArray kClean = "DROP TABLE IF EXISTS probe;";
const QByteArray kInit = "CREATE TABLE probe (step VARCHAR(20) NOT NULL);\nINSERT INTO probe VALUES ('init');";
const QByteArray kUpdate = "INSERT INTO probe VALUES ('update');";

// Records every value the progress bar takes: the worker's notices reach
// the panel's update-start sequence as queued calls, so the bar is read as
// each one arrives (showing what the previous notice set) and once more at
// the end.
class BarWatcher : public QObject
{
public:
    BarWatcher(ServerPanel *panel, ColorProgressBar *bar)
        : bar(bar)
    {
        panel->stack()->findChild<UpdateStart *>()->installEventFilter(this);
    }
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::MetaCall)
            sample();
        return false;
    }
    void sample()
    {
        const int v = qRound(bar->getValue());
        if (values.isEmpty() || values.last() != v)
            values << v;
    }
    QList<int> values;

private:
    ColorProgressBar *bar;
};

} // namespace

class tst_SipUpdateStart : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void fullSequence();
    void connectionFailureThenRetry();
    void missingCleanScriptThenRetryKeepsConnection();
    void killedConnectionThenNextPressRecovers();
    void failingStatementStopsSequence();
    void serverGoneStopsBeforeUpdate_data();
    void serverGoneStopsBeforeUpdate();
    void refusedWhileServerRuns();
    void destroyedDuringRunningTask();
    void secondPressWhileRunningDoesNothing();
    void readyPort_data();
    void readyPort();
    void cleanIsConfirmedFirst();

private:
    void configure(int waitTicks, const QString &password = QString(), int readyPort = 0);
    QStringList probeRows() { return db->column(QStringLiteral("SELECT step FROM probe ORDER BY step")); }
    QPushButton *updateButton() const { return panel->findChild<QPushButton *>(QStringLiteral("UpdateButton")); }
    // Presses "更新启动" and gives the answer when it asks before the clean
    // step; returns whether it asked.
    bool pressUpdate(QMessageBox::StandardButton answer = QMessageBox::Ok)
    {
        bool asked = false;
        QTimer poll;
        connect(&poll, &QTimer::timeout, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (box && box->isVisible() && box->windowTitle() == kConfirm) {
                asked = true;
                confirmText = box->text();
                box->done(answer);
            }
        });
        poll.start(1);
        updateButton()->click();
        return asked;
    }
    QString confirmText;
    ColorProgressBar *bar() const { return panel->findChild<ColorProgressBar *>(); }
    QString stepText() const { return panel->findChild<QLabel *>(QStringLiteral("UpdateStepLabel"))->text(); }
    QString consoleText() const
    {
        panel->showPendingOutput();
        return panel->findChild<CTextBrowser *>(QStringLiteral("ServerConsole"))->toPlainText();
    }
    void closeServer()
    {
        for (QPushButton *b : panel->findChildren<QPushButton *>()) {
            if (b->text() == QStringLiteral("关闭"))
                b->click();
        }
    }

    std::unique_ptr<DbFixture> db;
    std::unique_ptr<TestSupport::TempAppDir> appDir;
    std::unique_ptr<SipServerSetup> panel;
};

void tst_SipUpdateStart::init()
{
    db.reset(new DbFixture);
    if (!db->isReady())
        QFAIL(qPrintable(db->failure()));
    appDir.reset(new TestSupport::TempAppDir);
    QVERIFY(appDir->writeScript(QStringLiteral("clean.sql"), kClean));
    QVERIFY(appDir->writeScript(QStringLiteral("init.sql"), kInit));
    QVERIFY(appDir->writeScript(QStringLiteral("update.sql"), kUpdate));
}

void tst_SipUpdateStart::cleanup()
{
    panel.reset();
    appDir.reset();
    db.reset();
}

void tst_SipUpdateStart::configure(int waitTicks, const QString &password, int readyPort)
{
    QDir().mkpath(appDir->path() + QStringLiteral("/config"));
    {
        QSettings ini(appDir->iniPath(), QSettings::IniFormat);
        TestSupport::useUtf8(ini);
        ini.setValue(QStringLiteral("/Mysql/HostName"), DbFixture::host());
        ini.setValue(QStringLiteral("/Mysql/DatabaseName"), db->database());
        ini.setValue(QStringLiteral("/Mysql/UserName"), db->user());
        ini.setValue(QStringLiteral("/Mysql/Password"), password.isNull() ? db->password() : password);
        ini.setValue(QStringLiteral("/Time/WaitProcess"), waitTicks);
        ini.setValue(QStringLiteral("/SetupMysql/State"), true);
        ini.setValue(QStringLiteral("/SetupMysql/CmdPath"), testHelperPath());
        ini.setValue(QStringLiteral("/SetupMysql/MysqlPath"), appDir->path());
        ini.setValue(QStringLiteral("/SetupMysql/CmdStr"), QStringLiteral("out mysql-started\\n"));
        ini.setValue(QStringLiteral("/SetupRedisParam/State"), false);
        if (readyPort > 0)
            ini.setValue(QStringLiteral("/SipServer/ReadyPort"), readyPort);
    }
    appDir->initialize();
    panel.reset(new SipServerSetup);
    panel->setServerParam({testHelperPath(), QString(), QStringLiteral("out sip-up\\n forever"), 10000});
    // The waits count ticks; a tick need not be a second here.
    panel->stack()->findChild<UpdateStart *>()->setTickMs(kTickMs);
}

void tst_SipUpdateStart::fullSequence()
{
    configure(2);
    BarWatcher watcher(panel.get(), bar());
    pressUpdate();
    QVERIFY(!bar()->isHidden());

    QTRY_VERIFY(consoleText().contains(QStringLiteral("sip-up")));
    // The SIP server runs, but the update script waits for its ticks.
    QCOMPARE(probeRows(), QStringList{QStringLiteral("init")});
    QCOMPARE(stepText(), QStringLiteral("正在等待SIP服务器就绪（最多 2 秒）"));
    QTRY_COMPARE_WITH_TIMEOUT(qRound(bar()->getValue()), 100, 6000);
    QCOMPARE(stepText(), QStringLiteral("更新启动完成"));
    watcher.sample();
    QCOMPARE(watcher.values, (QList<int>{0, 25, 50, 75, 100}));
    QCOMPARE(probeRows(), (QStringList{QStringLiteral("init"), QStringLiteral("update")}));
    QVERIFY(!bar()->isHidden());
    // MySQL was asked to start at the beginning and again with the server,
    // unless the first command still ran by then (process start-up is slow
    // under Wine): a second start would be refused anyway.
    QTRY_VERIFY(consoleText().contains(QStringLiteral("程序结束--")));
    const QString text = consoleText();
    const int mysqlRuns = text.indexOf(QStringLiteral("程序结束--")) < text.indexOf(QStringLiteral("程序启动--")) ? 2 : 1;
    QTRY_COMPARE(consoleText().count(QStringLiteral("mysql-started")), mysqlRuns);

    // After a completed sequence the next press starts from the connection.
    closeServer();
    QVERIFY(bar()->isHidden());
    // The ends of the MySQL command, then the server's, stopped politely.
    QTRY_COMPARE(consoleText().count(QStringLiteral("程序结束--")), mysqlRuns + 1);
    QTRY_VERIFY(panel->runningServers().isEmpty());
    BarWatcher again(panel.get(), bar());
    pressUpdate();
    QTRY_COMPARE_WITH_TIMEOUT(qRound(bar()->getValue()), 100, 6000);
    again.sample();
    QCOMPARE(again.values, (QList<int>{0, 25, 50, 75, 100}));
    QCOMPARE(probeRows(), (QStringList{QStringLiteral("init"), QStringLiteral("update")}));
}

void tst_SipUpdateStart::connectionFailureThenRetry()
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
    panel.reset(new SipServerSetup);
    panel->setServerParam({testHelperPath(), QString(), QStringLiteral("out sip-up\\n forever"), 10000});
    panel->stack()->findChild<UpdateStart *>()->setTickMs(kTickMs);

    ModalBoxCloser closer(kConfirm);
    pressUpdate();
    QTRY_COMPARE_WITH_TIMEOUT(closer.count(), 1, 10000);
    QCOMPARE(closer.lastTitle(), QStringLiteral("警告"));
    QVERIFY2(closer.lastText().startsWith(QStringLiteral("数据库打开失败： ")), qPrintable(closer.lastText()));
    QVERIFY(closer.lastText().size() > QStringLiteral("数据库打开失败： ").size());
    QCOMPARE(qRound(bar()->getValue()), 0);
    QVERIFY(!bar()->isHidden());
    QCOMPARE(stepText(), QStringLiteral("未完成：连接数据库"));
    QVERIFY(!consoleText().contains(QStringLiteral("sip-up")));

    QVERIFY2(db->createUser(user, QStringLiteral("late-pw")), qPrintable(db->lastError()));
    pressUpdate();
    QTRY_COMPARE_WITH_TIMEOUT(qRound(bar()->getValue()), 100, 8000);
    QCOMPARE(closer.count(), 1);
    QCOMPARE(probeRows(), (QStringList{QStringLiteral("init"), QStringLiteral("update")}));
}

void tst_SipUpdateStart::missingCleanScriptThenRetryKeepsConnection()
{
    QFile::remove(appDir->path() + QStringLiteral("/config/mysql/clean.sql"));
    configure(1);
    ModalBoxCloser closer(kConfirm);
    pressUpdate();
    QTRY_COMPARE_WITH_TIMEOUT(closer.count(), 1, 10000);
    QCOMPARE(closer.lastTitle(), QStringLiteral("警告"));
    QCOMPARE(closer.lastText(), QStringLiteral("打不开") + appDir->path() + QStringLiteral("/config/mysql/clean.sql"));
    QCOMPARE(qRound(bar()->getValue()), 25);
    const QStringList connections = db->connectionIds(db->user());
    QCOMPARE(connections.size(), 1);

    QVERIFY(appDir->writeScript(QStringLiteral("clean.sql"), kClean));
    BarWatcher watcher(panel.get(), bar());
    pressUpdate();
    QTRY_COMPARE_WITH_TIMEOUT(qRound(bar()->getValue()), 100, 8000);
    watcher.sample();
    // The retry resumes at the clean step on the connection opened before.
    QCOMPARE(watcher.values, (QList<int>{0, 50, 75, 100}));
    QCOMPARE(db->connectionIds(db->user()), connections);
}

void tst_SipUpdateStart::killedConnectionThenNextPressRecovers()
{
    // The clean script sleeps on the server until its connection is killed.
    QVERIFY(appDir->writeScript(QStringLiteral("clean.sql"), "SELECT SLEEP(120);"));
    configure(1);
    ModalBoxCloser closer(kConfirm);
    pressUpdate();
    QStringList sleeping;
    QTRY_VERIFY_WITH_TIMEOUT(!(sleeping = db->column(QStringLiteral(
                                   "SELECT ID FROM information_schema.PROCESSLIST WHERE USER = '%1'"
                                   " AND INFO LIKE 'SELECT SLEEP%'").arg(db->user())))
                                  .isEmpty(),
                             10000);
    QVERIFY2(db->exec(QStringLiteral("KILL %1").arg(sleeping.first())), qPrintable(db->lastError()));
    QTRY_COMPARE_WITH_TIMEOUT(closer.count(), 1, 10000);
    QCOMPARE(closer.lastTitle(), QStringLiteral("警告"));
    QVERIFY2(closer.lastText().startsWith(QStringLiteral("执行脚本失败： ")), qPrintable(closer.lastText()));
    QCOMPARE(qRound(bar()->getValue()), 25);

    // The next press resumes at the clean step, on a connection opened anew.
    QVERIFY(appDir->writeScript(QStringLiteral("clean.sql"), kClean));
    pressUpdate();
    QTRY_COMPARE_WITH_TIMEOUT(qRound(bar()->getValue()), 100, 8000);
    QCOMPARE(closer.count(), 1);
    QCOMPARE(probeRows(), (QStringList{QStringLiteral("init"), QStringLiteral("update")}));
    QVERIFY(!db->connectionIds(db->user()).contains(sleeping.first()));
}

void tst_SipUpdateStart::failingStatementStopsSequence()
{
    QVERIFY(appDir->writeScript(QStringLiteral("init.sql"),
                "CREATE TABLE probe (step VARCHAR(20) NOT NULL);\nINSERT INTO no_such_table VALUES (1);\n"
                "INSERT INTO probe VALUES ('after');"));
    configure(1);
    ModalBoxCloser closer(kConfirm);
    pressUpdate();
    QTRY_COMPARE_WITH_TIMEOUT(closer.count(), 1, 10000);
    QCOMPARE(closer.lastTitle(), QStringLiteral("警告"));
    QVERIFY2(closer.lastText().startsWith(QStringLiteral("执行脚本失败： ") + appDir->path()
                                          + QStringLiteral("/config/mysql/init.sql\n")),
             qPrintable(closer.lastText()));
    QCOMPARE(qRound(bar()->getValue()), 50);
    // The sequence stopped at the failure: the server is not started after it.
    QVERIFY(!panel->stack()->findChild<UpdateStart *>()->isRunning());
    QVERIFY(!panel->runningServers().contains(QStringLiteral("SIP服务器")));
    QVERIFY(!consoleText().contains(QStringLiteral("sip-up")));
    QCOMPARE(probeRows(), QStringList());
}

void tst_SipUpdateStart::serverGoneStopsBeforeUpdate_data()
{
    QTest::addColumn<QString>("program");   // empty: the helper, closed during the wait
    QTest::newRow("closed during the wait") << QString();
    QTest::newRow("program missing") << QStringLiteral("/nonexistent/sip-server");
    QTest::newRow("crashes at once") << QStringLiteral("crash");
}

// The update script runs only while the SIP server does: never 100 % beside
// "服务器未启动". The next press starts the server again and goes on.
void tst_SipUpdateStart::serverGoneStopsBeforeUpdate()
{
    QFETCH(QString, program);
    // Two seconds: long enough for a slow system (Wine) to start the server,
    // and to crash it, within the wait.
    configure(8);
    if (program == QLatin1String("crash"))
        panel->setServerParam({testHelperPath(), QString(), QStringLiteral("crash"), 10000});
    else if (!program.isEmpty())
        panel->setServerParam({program, QString(), QString(), 10000});
    ModalBoxCloser closer(kConfirm);
    pressUpdate();
    if (program.isEmpty()) {
        QTRY_VERIFY(consoleText().contains(QStringLiteral("sip-up")));
        closeServer();
    }
    QTRY_COMPARE_WITH_TIMEOUT(closer.count(), 1, 10000);
    QCOMPARE(closer.lastTitle(), QStringLiteral("警告"));
    QCOMPARE(closer.lastText(), QStringLiteral("SIP服务器未运行，未执行更新脚本"));
    QCOMPARE(stepText(), QStringLiteral("未完成：启动SIP服务器"));
    QCOMPARE(probeRows(), QStringList{QStringLiteral("init")});
    QVERIFY(qRound(bar()->getValue()) < 100);
    if (!program.isEmpty())
        return;
    pressUpdate();
    QTRY_COMPARE_WITH_TIMEOUT(qRound(bar()->getValue()), 100, 10000);
    QCOMPARE(probeRows(), (QStringList{QStringLiteral("init"), QStringLiteral("update")}));
    QCOMPARE(closer.count(), 1);
    closeServer();
}

void tst_SipUpdateStart::refusedWhileServerRuns()
{
    configure(1);
    for (QPushButton *b : panel->findChildren<QPushButton *>()) {
        if (b->text() == QStringLiteral("启动"))
            b->click();
    }
    QTRY_VERIFY(consoleText().contains(QStringLiteral("sip-up")));
    ModalBoxCloser closer(kConfirm);
    pressUpdate();
    QTRY_COMPARE(closer.count(), 1);
    QCOMPARE(closer.lastTitle(), QStringLiteral("提示"));
    QCOMPARE(closer.lastText(), QStringLiteral("服务器已经启动，请勿重复启动!"));
    QVERIFY(bar()->isHidden());
    QVERIFY(!panel->stack()->findChild<UpdateStart *>()->isRunning());
    QVERIFY(db->column(QStringLiteral("SHOW TABLES")).isEmpty());
}

void tst_SipUpdateStart::destroyedDuringRunningTask()
{
    QVERIFY(appDir->writeScript(QStringLiteral("clean.sql"), "SELECT SLEEP(1);"));
    configure(1);
    pressUpdate();
    QTRY_COMPARE_WITH_TIMEOUT(qRound(bar()->getValue()), 25, 10000);
    QTest::qWait(200);   // the clean script is sleeping on the server now
    panel.reset();       // waits for it, then ends the worker and its connection
    QTRY_VERIFY(db->connectionIds(db->user()).isEmpty());
}

void tst_SipUpdateStart::secondPressWhileRunningDoesNothing()
{
    QVERIFY(appDir->writeScript(QStringLiteral("clean.sql"), "CREATE TABLE IF NOT EXISTS runs (step VARCHAR(20) NOT NULL);\n"
                                             "INSERT INTO runs VALUES ('clean');"));
    QVERIFY(appDir->writeScript(QStringLiteral("init.sql"), "INSERT INTO runs VALUES ('init');"));
    QVERIFY(appDir->writeScript(QStringLiteral("update.sql"), "INSERT INTO runs VALUES ('update');"));
    configure(1);
    ModalBoxCloser closer(kConfirm);
    pressUpdate();
    pressUpdate();   // the connection task is queued or running
    QTRY_COMPARE_WITH_TIMEOUT(qRound(bar()->getValue()), 100, 10000);
    QCOMPARE(db->column(QStringLiteral("SELECT step FROM runs ORDER BY step")),
             (QStringList{QStringLiteral("clean"), QStringLiteral("init"), QStringLiteral("update")}));
    QCOMPARE(closer.count(), 0);
}

void tst_SipUpdateStart::readyPort_data()
{
    QTest::addColumn<bool>("listening");
    QTest::newRow("port open: update long before the wait ends") << true;
    QTest::newRow("port never opens: warning, nothing updated") << false;
}

void tst_SipUpdateStart::readyPort()
{
    QFETCH(bool, listening);

    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost));
    const int port = server.serverPort();
    if (!listening)
        server.close();
    // Ready: far less than the 600 s wait. Not ready: the wait is the time-out.
    configure(listening ? 600 : 2, QString(), port);
    ModalBoxCloser closer(kConfirm);
    pressUpdate();
    if (listening) {
        QTRY_COMPARE_WITH_TIMEOUT(qRound(bar()->getValue()), 100, 10000);
        QCOMPARE(probeRows(), (QStringList{"init", "update"}));
        QCOMPARE(closer.count(), 0);
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(closer.count(), 1, 10000);
        QCOMPARE(closer.lastTitle(), QStringLiteral("警告"));
        QCOMPARE(closer.lastText(), QStringLiteral("SIP服务器未在等待时间内就绪"));
        QCOMPARE(probeRows(), QStringList{QStringLiteral("init")});
        // The next press resumes the wait; the running server does not refuse it.
        pressUpdate();
        QTRY_COMPARE_WITH_TIMEOUT(closer.count(), 2, 10000);
        QCOMPARE(closer.lastText(), QStringLiteral("SIP服务器未在等待时间内就绪"));
    }
    closeServer();
}

// "更新启动" drops every table first: it asks, naming the database and host;
// cancelled, nothing runs and the database keeps its rows. Each step shows
// in the console.
void tst_SipUpdateStart::cleanIsConfirmedFirst()
{
    configure(1);
    QVERIFY(db->exec(QStringLiteral("CREATE TABLE probe (step VARCHAR(20) NOT NULL)")));
    QVERIFY(db->exec(QStringLiteral("INSERT INTO probe VALUES ('device')")));
    QVERIFY(pressUpdate(QMessageBox::Cancel));
    QVERIFY(confirmText.contains(db->database()) && confirmText.contains(DbFixture::host()));
    QCOMPARE(probeRows(), QStringList{QStringLiteral("device")});
    QVERIFY(bar()->isHidden());
    QTRY_VERIFY(consoleText().contains(QStringLiteral("更新启动已取消，数据库未改动")));
    QVERIFY(!consoleText().contains(QStringLiteral("程序启动")));

    QVERIFY(pressUpdate(QMessageBox::Ok));
    QTRY_COMPARE_WITH_TIMEOUT(qRound(bar()->getValue()), 100, 10000);
    QCOMPARE(probeRows(), (QStringList{QStringLiteral("init"), QStringLiteral("update")}));
    const QString text = consoleText();
    QVERIFY(text.indexOf(QStringLiteral("更新启动：正在执行清理脚本")) < text.indexOf(QStringLiteral("更新启动：清理脚本已执行")));
    QVERIFY(text.contains(QStringLiteral("更新启动：更新脚本已执行，更新启动完成")));
}

QTEST_MAIN(tst_SipUpdateStart)
#include "tst_sipupdatestart.moc"
