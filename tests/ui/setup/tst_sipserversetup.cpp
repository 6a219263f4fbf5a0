#include "panelprobe.h"
#include "processprobe.h"
#include "redisserver.h"
#include "setting/setupconfig.h"
#include "testsupport.h"
#include "ui/setup/sipserver/sipserversetup.h"
#include "ui/widgets/clineedit.h"
#include "ui/widgets/colorprogressbar.h"
#include "ui/widgets/ctextbrowser.h"

#include <QDir>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QHostAddress>
#include <QTcpServer>
#include <QTest>
#include <QUrl>

#include <memory>

using TestSupport::Ending;
using TestSupport::ModalBoxCloser;
using TestSupport::numberAfter;
using TestSupport::processAlive;
using TestSupport::testHelperPath;

namespace {

const QString kStart = QStringLiteral("程序启动--");
const QString kCrash = QStringLiteral("程序异常终止--");
const QString kEnd = QStringLiteral("程序结束--");

// Whether Redis can be run: there is no Windows build of redis-server here,
// so on Windows the tests leave it out and check the rest.
#if defined(Q_OS_WIN)
constexpr bool kRedis = false;
#else
constexpr bool kRedis = true;
#endif

struct Services
{
    bool mysql = true;
    QString mysqlArgs = QStringLiteral("out mysql-ok\\0tail\\n");
    bool redis = kRedis;
    QString redisPath = QStringLiteral("/usr/bin/redis-server");
    QString redisParam;     // empty: the test Redis's configuration
    QString dbHost;         // empty: the test database's
};

// SIP panels in these tests start the test helper with the given parameter.
struct Panel : TestSupport::PanelProbe<SipServerSetup>
{
    explicit Panel(const QString &params, int limit = 10000)
        : PanelProbe(testHelperPath(), params, QString(), limit)
    {
    }
};

} // namespace

Q_DECLARE_METATYPE(TestSupport::Ending)

class tst_SipServerSetup : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void widgets();
    void startRunsServicesThenServer();
    void disabledServicesAreNotStarted();
    void refusalStillStartsServices();
    void statusFollowsSipServerOnly_data();
    void statusFollowsSipServerOnly();
    void oneConsoleOneCounter();
    void everyProcessIsNamed();
    void serverWaitsForItsDatabase();
    void emptyParamStartsWithoutArguments();
    void dropOnConsoleReachesPanel();
    void destructionLeavesNoProcess();
    void whatTheMysqlCommandLeftIsNotKilled();

private:
    void configure(const Services &services);
    std::unique_ptr<TestSupport::TempAppDir> appDir;
    std::unique_ptr<TestSupport::RedisConfig> redis;
};

void tst_SipServerSetup::configure(const Services &services)
{
    appDir.reset(new TestSupport::TempAppDir);
    redis.reset(new TestSupport::RedisConfig);
    QDir().mkpath(appDir->path() + QStringLiteral("/config"));
    {
        QSettings ini(appDir->iniPath(), QSettings::IniFormat);
        TestSupport::useUtf8(ini);
        ini.setValue(QStringLiteral("/SetupMysql/State"), services.mysql);
        if (!services.dbHost.isEmpty())
            ini.setValue(QStringLiteral("/Mysql/HostName"), services.dbHost);
        ini.setValue(QStringLiteral("/SetupMysql/CmdPath"), testHelperPath());
        ini.setValue(QStringLiteral("/SetupMysql/MysqlPath"), appDir->path());
        ini.setValue(QStringLiteral("/SetupMysql/CmdStr"), services.mysqlArgs);
        ini.setValue(QStringLiteral("/SetupRedisParam/State"), services.redis);
        ini.setValue(QStringLiteral("/SetupRedisParam/Path"), services.redisPath);
        ini.setValue(QStringLiteral("/SetupRedisParam/WorkDir"), redis->workDir());
        ini.setValue(QStringLiteral("/SetupRedisParam/Parameter"),
                     services.redisParam.isEmpty() ? redis->configName() : services.redisParam);
    }
    appDir->initialize();
}

void tst_SipServerSetup::cleanup()
{
    redis.reset();
    appDir.reset();
}

void tst_SipServerSetup::widgets()
{
    configure({});
    Panel p{QString()};
    auto *update = p.widget->findChild<QPushButton *>(QStringLiteral("UpdateButton"));
    QVERIFY(update);
    QCOMPARE(update->text(), QStringLiteral("更新启动"));
    auto *bar = p.widget->findChild<ColorProgressBar *>();
    QVERIFY(bar);
    QVERIFY(bar->isHidden());
    QCOMPARE(bar->size(), QSize(300, 30));
    QCOMPARE(p.widget->findChild<QLabel *>(QStringLiteral("ServerStatusLabel"))->text(), QStringLiteral("服务器未启动"));
    QVERIFY(!p.console->acceptDrops());
}

void tst_SipServerSetup::startRunsServicesThenServer()
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
    QCOMPARE(p.widget->findChild<QLabel *>(QStringLiteral("ServerStatusLabel"))->text(), QStringLiteral("服务器已启动"));

    p.close();
    QTRY_COMPARE(p.widget->findChild<QLabel *>(QStringLiteral("ServerStatusLabel"))->text(), QStringLiteral("服务器未启动"));
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
void tst_SipServerSetup::everyProcessIsNamed()
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
    auto *note = p.widget->findChild<QLabel *>(QStringLiteral("StatusNoteLabel"));
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
    QVERIFY(note->isVisibleTo(p.widget.get()));
    QCOMPARE(note->text(), QStringLiteral("Redis 已停止运行"));
    QCOMPARE(p.status(), QStringLiteral("服务器已启动"));
    QVERIFY(p.text().contains(QStringLiteral("Redis 未在运行，不再等待")));
    p.close();
}

// 启动 starts the MySQL command, then the SIP server only once the database
// port accepts connections, saying what it waits for.
void tst_SipServerSetup::serverWaitsForItsDatabase()
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
    QCOMPARE(p.status(), QStringLiteral("服务器未启动"));

    QTcpServer database;
    if (!database.listen(QHostAddress(QStringLiteral("127.0.0.4")), 3306))
        QSKIP(qPrintable(QStringLiteral("cannot listen on 127.0.0.4:3306: ") + database.errorString()));
    QTRY_VERIFY(p.text().contains(QStringLiteral("sip-up")));
    const QString text = p.text();
    QVERIFY(text.indexOf(QStringLiteral("数据库 已就绪")) < text.indexOf(QStringLiteral("[SIP服务器] 程序启动")));
    QCOMPARE(p.status(), QStringLiteral("服务器已启动"));
    p.close();
}

void tst_SipServerSetup::disabledServicesAreNotStarted()
{
    Services s;
    s.mysql = false;
    s.redis = false;
    configure(s);
    Panel p(QStringLiteral("out sip-up\\n"));
    p.start();
    QTRY_VERIFY(p.text().contains(kEnd));
    // The services would have been started before the server.
    QVERIFY(p.widget->runningServers().isEmpty());
    QCOMPARE(p.text().count(kStart), 1);
    QVERIFY(!p.text().contains(QStringLiteral("mysql-ok")));
    QVERIFY(!redis->ping());
}

void tst_SipServerSetup::refusalStillStartsServices()
{
    Services s;
    s.redis = false;
    s.mysqlArgs = QStringLiteral("out mysql-ok\\n");
    configure(s);
    Panel p(QStringLiteral("out sip-up\\n forever"));
    p.start();
    QTRY_VERIFY(p.text().contains(QStringLiteral("sip-up")));
    QTRY_COMPARE(p.text().count(kEnd), 1);   // the MySQL command ended by itself

    ModalBoxCloser closer;
    p.start();
    QTRY_COMPARE(closer.count(), 1);
    QCOMPARE(closer.lastTitle(), QStringLiteral("提示"));
    QCOMPARE(closer.lastText(), QStringLiteral("服务器已经启动，请勿重复启动!"));
    QTRY_COMPARE(p.text().count(QStringLiteral("mysql-ok")), 2);
    QCOMPARE(p.text().count(kStart), 1);
    p.close();
}

void tst_SipServerSetup::statusFollowsSipServerOnly_data()
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

void tst_SipServerSetup::statusFollowsSipServerOnly()
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
    p.path->setText(program);
    p.start();
    // The MySQL command ends normally; the status is the SIP server's alone.
    QTRY_COMPARE(p.text().count(kEnd), 1);
    if (starts) {
        QTRY_VERIFY(p.text().contains(QStringLiteral("sip-pid=")));
        QCOMPARE(p.status(), QStringLiteral("服务器已启动"));
        QVERIFY(TestSupport::endProcess(numberAfter(p.text(), QStringLiteral("sip-pid")), end));
    }
    QTRY_VERIFY(p.text().contains(ending) && (ending != kEnd || p.text().count(kEnd) == 2));
    QCOMPARE(p.status(), QStringLiteral("服务器未启动"));
}

void tst_SipServerSetup::oneConsoleOneCounter()
{
    Services s;
    s.redis = false;
    s.mysqlArgs = QStringLiteral("out m1\\n sleep 300 out m2\\n");
    configure(s);
    // Records: m1 and s1 (in either order), s2, m2, s3: at s3 the limit of 4
    // drops the oldest.
    Panel p(QStringLiteral("out s1\\n sleep 150 sleep 0 out s2\\n sleep 300 out s3\\n"), 4);
    p.start();
    QTRY_VERIFY_WITH_TIMEOUT(p.text().contains(QStringLiteral("s3")), 5000);
    QTRY_VERIFY(p.text().lastIndexOf(kEnd) > p.text().indexOf(QStringLiteral("s3")));
    const QString text = p.text();
    QCOMPARE(text.count(QStringLiteral("(信息)")), 4);
    QVERIFY2(!text.contains(QLatin1String("s1")) || !text.contains(QLatin1String("m1")), qPrintable(text));
    for (const char *kept : {"s2", "m2", "s3"})
        QVERIFY2(text.contains(QLatin1String(kept)), qPrintable(text));
}

void tst_SipServerSetup::emptyParamStartsWithoutArguments()
{
    Services s;
    s.mysql = false;
    s.redis = false;
    configure(s);
    Panel p{QString()};
    p.start();
    QTRY_VERIFY(p.text().contains(QStringLiteral("noargs")));
}

void tst_SipServerSetup::dropOnConsoleReachesPanel()
{
    configure({});
    QTemporaryDir scratch;
    Panel p(QStringLiteral("x"));
    p.widget->show();
    QVERIFY(QTest::qWaitForWindowExposed(p.widget.get()));
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(scratch.path())});
    QWidget *target = p.console->viewport();
    const QPoint pos = target->rect().center();
    QDragEnterEvent enter(pos, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDropEvent drop(pos, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    QCOMPARE(p.workDir->text(), scratch.path());
    QCOMPARE(p.param->text(), QStringLiteral("x"));
}

void tst_SipServerSetup::destructionLeavesNoProcess()
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

void tst_SipServerSetup::whatTheMysqlCommandLeftIsNotKilled()
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

QTEST_MAIN(tst_SipServerSetup)
#include "tst_sipserversetup.moc"
