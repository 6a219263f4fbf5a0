#include "processprobe.h"
#include "redisserver.h"
#include "sipsettings.h"
#include "setting/setupconfig.h"
#include "stackprobe.h"

#include <QDir>
#include <QHostAddress>
#include <QSettings>
#include <QTcpServer>
#include <QTest>

#include <memory>

using TestSupport::Ending;
using TestSupport::numberAfter;
using TestSupport::processAlive;
using TestSupport::testHelperPath;

using TestSupport::kRedis;
using Services = TestSupport::SipServices;

namespace {

const QString kStart = QStringLiteral("程序启动--");
const QString kCrash = QStringLiteral("程序异常终止--");
const QString kEnd = QStringLiteral("程序结束--");

// SIP stacks in these tests start the test helper with the given parameter.
struct Panel : TestSupport::StackProbe
{
    explicit Panel(const QString &params)
        : StackProbe(testHelperPath(), params, QString(), new SipStack)
    {
    }
};

} // namespace

Q_DECLARE_METATYPE(TestSupport::Ending)

// The SIP server with its MySQL start command and Redis, with no window:
// order, waits, names in one console, refusals, status, process trees.
class tst_SipStack : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void startWithLauncherKeepsTheOrder();
    void startRunsServicesThenServer();
    void everyProcessIsNamed();
    void serverWaitsForItsDatabase();
    void disabledServicesAreNotStarted();
    void refusalStillStartsServices();
    void statusFollowsSipServerOnly_data();
    void statusFollowsSipServerOnly();
    void emptyParamStartsWithoutArguments();
    void destructionLeavesNoProcess();
    void whatTheMysqlCommandLeftIsNotKilled();

private:
    void configure(const Services &services);
    std::unique_ptr<TestSupport::TempAppDir> appDir;
    std::unique_ptr<TestSupport::RedisConfig> redis;
};

void tst_SipStack::configure(const Services &services)
{
    appDir.reset(new TestSupport::TempAppDir);
    redis.reset(new TestSupport::RedisConfig);
    TestSupport::configureServices(*appDir, *redis, services);
}

void tst_SipStack::cleanup()
{
    redis.reset();
    appDir.reset();
}

void tst_SipStack::startRunsServicesThenServer()
{
    configure({});
    Panel p(QStringLiteral("out sip-up\\n forever"));
    p.start();
    QTRY_VERIFY(p.text().contains(QStringLiteral("sip-up")));
    // MySQL's output is UTF-8; a zero byte in it is dropped, not what follows.
    QTRY_VERIFY(p.text().contains(QStringLiteral("mysql-oktail")));
    qint64 redisPid = -1;
    if (kRedis) {
        QTRY_VERIFY_WITH_TIMEOUT(redis->ping(), 10000);
        redisPid = redis->serverPid();
        QVERIFY(processAlive(redisPid));
    }
    QVERIFY(p.started);

    p.close();
    QTRY_VERIFY(!p.started);
    if (kRedis) {
        QTRY_VERIFY(!processAlive(redisPid));
        QVERIFY(!redis->ping());
    }
    // The MySQL command ended by itself; the SIP server and Redis ended when
    // asked to: three normal ends (two without Redis).
    QTRY_COMPARE(p.text().count(kEnd), kRedis ? 3 : 2);
    QVERIFY(!p.text().contains(kCrash));
}

// One console, three processes: each record and banner names its process,
// and a Redis that died is said under the status, the lamp being the SIP
// server's.
void tst_SipStack::everyProcessIsNamed()
{
    Services s;
    s.mysqlArgs = QStringLiteral("out mysql-ok\\n");
    s.redis = true;
    s.redisPath = testHelperPath();
    s.redisParam = QStringLiteral("crash");
    configure(s);
    // The SIP server waits for Redis's port only while Redis runs: it
    // starts once this one has crashed.
    Panel p(QStringLiteral("out sip-up\\n err sip-warn\\n forever"));
    p.start();
    QTRY_VERIFY(p.text().contains(QStringLiteral("[Redis] 程序异常终止--")));
    QTRY_VERIFY(p.text().contains(QStringLiteral("[MySQL启动命令] 程序结束--")));
    QTRY_VERIFY(p.text().contains(QStringLiteral("sip-warn")));
    const QStringList lines = p.text().split(QLatin1Char('\n'));
    const auto headerOf = [&lines](const QString &line) { return lines.value(lines.indexOf(line) - 1); };
    QVERIFY2(headerOf(QStringLiteral("mysql-ok")).endsWith(QStringLiteral("(信息)[MySQL启动命令]")), qPrintable(p.text()));
    QVERIFY2(headerOf(QStringLiteral("sip-up")).endsWith(QStringLiteral("(信息)[SIP服务器]")), qPrintable(p.text()));
    QVERIFY2(headerOf(QStringLiteral("sip-warn")).endsWith(QStringLiteral("(错误)[SIP服务器]")), qPrintable(p.text()));
    QVERIFY(p.text().contains(QStringLiteral("[SIP服务器] 程序启动--")));
    QCOMPARE(p.notes.value(QStringLiteral("redis")), QStringLiteral("Redis 已停止运行"));
    QVERIFY(p.started);
    QVERIFY(p.text().contains(QStringLiteral("Redis 未在运行，不再等待")));
    p.close();
}

// 启动 starts the MySQL command, then the SIP server only once the database
// port accepts connections, saying what it waits for.
void tst_SipStack::serverWaitsForItsDatabase()
{
    Services s;
    s.redis = false;
    s.mysqlArgs = QStringLiteral("out mysql-ok\\n");
    s.dbHost = QStringLiteral("127.0.0.4");
    configure(s);
    Panel p(QStringLiteral("out sip-up\\n forever"));
    p.start();
    QTRY_VERIFY(p.text().contains(QStringLiteral("mysql-ok")));
    QTRY_VERIFY(p.text().contains(QStringLiteral("等待 数据库 127.0.0.4:3306 就绪")));
    QTest::qWait(600);   // several probes find the port closed
    QVERIFY(!p.text().contains(QStringLiteral("sip-up")));
    QVERIFY(!p.started);

    QTcpServer database;
    if (!database.listen(QHostAddress(QStringLiteral("127.0.0.4")), 3306))
        QSKIP(qPrintable(QStringLiteral("cannot listen on 127.0.0.4:3306: ") + database.errorString()));
    QTRY_VERIFY(p.text().contains(QStringLiteral("sip-up")));
    const QString text = p.text();
    QVERIFY(text.indexOf(QStringLiteral("数据库 已就绪")) < text.indexOf(QStringLiteral("[SIP服务器] 程序启动")));
    QVERIFY(p.started);
    p.close();
}

void tst_SipStack::disabledServicesAreNotStarted()
{
    Services s;
    s.mysql = false;
    s.redis = false;
    configure(s);
    Panel p(QStringLiteral("out sip-up\\n"));
    p.start();
    QTRY_VERIFY(p.text().contains(kEnd));
    // The services would have been started before the server.
    QVERIFY(p.stack->runningServers().isEmpty());
    QCOMPARE(p.text().count(kStart), 1);
    QVERIFY(!p.text().contains(QStringLiteral("mysql-ok")));
    QVERIFY(!redis->ping());
}

void tst_SipStack::refusalStillStartsServices()
{
    Services s;
    s.redis = false;
    s.mysqlArgs = QStringLiteral("out mysql-ok\\n");
    configure(s);
    Panel p(QStringLiteral("out sip-up\\n forever"));
    p.start();
    QTRY_VERIFY(p.text().contains(QStringLiteral("sip-up")));
    QTRY_COMPARE(p.text().count(kEnd), 1);   // the MySQL command ended by itself

    p.start();
    QCOMPARE(p.refusals, QStringList{QStringLiteral("服务器已经启动，请勿重复启动!")});
    QTRY_COMPARE(p.text().count(QStringLiteral("mysql-ok")), 2);
    QCOMPARE(p.text().count(kStart), 1);
    p.close();
}

void tst_SipStack::statusFollowsSipServerOnly_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<bool>("starts");
    QTest::addColumn<Ending>("end");   // how the running SIP server is ended from outside
    QTest::addColumn<QString>("ending");

    QTest::newRow("failed start") << QStringLiteral("/nonexistent/java") << false << Ending::Kill
                                  << QStringLiteral("程序启动失败--");
    // It ends with exit code 0 (the helper heeds SIGTERM so; Windows ends it with that code).
    QTest::newRow("exit by itself") << testHelperPath() << true << Ending::Request << kEnd;
    QTest::newRow("crash") << testHelperPath() << true << Ending::Crash << kCrash;
}

void tst_SipStack::statusFollowsSipServerOnly()
{
    QFETCH(QString, program);
    QFETCH(bool, starts);
    QFETCH(Ending, end);
    QFETCH(QString, ending);
    Services s;
    s.redis = false;
    s.mysqlArgs = QStringLiteral("out mysql-ok\\n");
    configure(s);
    Panel p(QStringLiteral("label sip- pid forever"));
    p.fields.programPath = program;
    p.start();
    // The MySQL command ends normally; the status is the SIP server's alone.
    QTRY_COMPARE(p.text().count(kEnd), 1);
    if (starts) {
        QTRY_VERIFY(p.text().contains(QStringLiteral("sip-pid=")));
        QVERIFY(p.started);
        QVERIFY(TestSupport::endProcess(numberAfter(p.text(), QStringLiteral("sip-pid")), end));
    }
    QTRY_VERIFY(p.text().contains(ending) && (ending != kEnd || p.text().count(kEnd) == 2));
    QVERIFY(!p.started);
}

void tst_SipStack::emptyParamStartsWithoutArguments()
{
    Services s;
    s.mysql = false;
    s.redis = false;
    configure(s);
    Panel p{QString()};
    p.start();
    QTRY_VERIFY(p.text().contains(QStringLiteral("noargs")));
}

void tst_SipStack::destructionLeavesNoProcess()
{
    Services s;
    s.mysqlArgs = QStringLiteral("label mysql- pid grandchild forever");
    configure(s);
    auto p = std::make_unique<Panel>(QStringLiteral("label sip- pid forever"));
    p->start();
    QTRY_VERIFY(p->text().contains(QStringLiteral("grandchild=")));
    QTRY_VERIFY(p->text().contains(QStringLiteral("sip-pid=")));
    const QString text = p->text();
    QList<qint64> pids{numberAfter(text, QStringLiteral("sip-pid")), numberAfter(text, QStringLiteral("mysql-pid")),
                       numberAfter(text, QStringLiteral("grandchild"))};
    if (s.redis) {
        QTRY_VERIFY_WITH_TIMEOUT(redis->ping(), 10000);
        pids.append(redis->serverPid());
    }
    for (qint64 pid : pids)
        QVERIFY(processAlive(pid));
    p.reset();
    for (qint64 pid : pids)
        QTRY_VERIFY(!processAlive(pid));
}

void tst_SipStack::whatTheMysqlCommandLeftIsNotKilled()
{
    // The service a start command leaves in its group is meant to outlive
    // it: the command is not followed past its end, unlike the SIP server.
    Services s;
    s.mysqlArgs = QStringLiteral("grandchild exit 0");
    s.redis = false;
    configure(s);
    auto p = std::make_unique<Panel>(QStringLiteral("exit 0"));
    p->start();
    QTRY_VERIFY(p->text().contains(QStringLiteral("grandchild=")));
    QTRY_COMPARE(p->text().count(kEnd), 2);
    const qint64 daemon = numberAfter(p->text(), QStringLiteral("grandchild"));
    QVERIFY(processAlive(daemon));
    p->close();
    p.reset();
    const bool survived = processAlive(daemon);
    TestSupport::endProcess(daemon, Ending::Kill);
    QVERIFY(survived);
}

// "随启动器启动" starts the stack as 启动 does: the MySQL command first, the
// SIP server once the database answers. Unmarked, nothing starts.
void tst_SipStack::startWithLauncherKeepsTheOrder()
{
    Services s;
    s.redis = false;
    s.mysqlArgs = QStringLiteral("out mysql-ok\\n");
    configure(s);
    Panel p(QStringLiteral("out sip-up\\n forever"));
    p.stack->startWithLauncher();
    QVERIFY(p.stack->runningServers().isEmpty());
    p.stack->setStartWithLauncher(true);
    appDir->initialize();   // as the next launcher reads it
    QVERIFY(p.stack->startsWithLauncher());
    p.stack->startWithLauncher();
    QTRY_VERIFY(p.text().contains(QStringLiteral("sip-up")) && p.text().contains(QStringLiteral("mysql-ok")));
    const QString text = p.text();
    // The wait is noted once the MySQL command was launched.
    const int marked = text.indexOf(QStringLiteral("随启动器启动"));
    const int waiting = text.indexOf(QStringLiteral("等待 数据库"));
    QVERIFY2(marked >= 0 && marked < waiting && waiting < text.indexOf(QStringLiteral("[SIP服务器] 程序启动")),
             qPrintable(text));
    p.close();
}

QTEST_GUILESS_MAIN(tst_SipStack)
#include "tst_sipstack.moc"
