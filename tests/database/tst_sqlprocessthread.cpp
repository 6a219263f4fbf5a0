#include "database/sqlprocessthread.h"
#include "dbfixture.h"
#include "coresupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTcpServer>
#include <QtTest>

#include <atomic>
#include <climits>
#include <memory>
#include <thread>

using TestSupport::DbFixture;
using TestSupport::TempAppDir;

namespace {

const int kWaitMs = 60000;

#define REQUIRE_DB(fixture)                                 \
    do {                                                    \
        if (!(fixture).isReady())                           \
            QFAIL(qPrintable((fixture).failure()));         \
    } while (0)

// Script bytes exactly as written, zero bytes included.
template <int N>
QByteArray bytes(const char (&text)[N])
{
    return QByteArray(text, N - 1);
}

QString scriptPath(const TempAppDir &app, const QString &name)
{
    return app.path() + QStringLiteral("/config/mysql/") + name;
}

void writeScript(const TempAppDir &app, const QString &name, const QByteArray &content)
{
    QVERIFY(app.writeScript(name, content));
}

void writeScripts(const TempAppDir &app, const QByteArray &clean, const QByteArray &init,
                  const QByteArray &update)
{
    writeScript(app, QStringLiteral("clean.sql"), clean);
    writeScript(app, QStringLiteral("init.sql"), init);
    writeScript(app, QStringLiteral("update.sql"), update);
}

bool createTable(DbFixture &fx)
{
    return fx.exec(QStringLiteral(
        "CREATE TABLE t (id INT AUTO_INCREMENT PRIMARY KEY, n BIGINT NOT NULL, label VARCHAR(32) NULL)"));
}

// Settings pointing at fx, and a clean script that records the id of the
// connection it runs on.
bool recordConnectionIds(DbFixture &fx, TempAppDir &app)
{
    if (!createTable(fx))
        return false;
    writeScripts(app, "INSERT INTO t (n) VALUES (CONNECTION_ID());", "DO 0;", "DO 0;");
    app.writeIni(fx.mysqlIni());
    app.initialize();
    return true;
}

// Settings pointing at fx, the table t, and a clean script in which "%1"
// names a lock of this database's own.
bool prepareLockingScripts(DbFixture &fx, TempAppDir &app, const QString &clean, const QByteArray &init)
{
    if (!createTable(fx))
        return false;
    writeScripts(app, clean.arg(fx.database()).toUtf8(), init, "DO 0;");
    app.writeIni(fx.mysqlIni());
    app.initialize();
    return true;
}

QStringList rows(DbFixture &fx)
{
    return fx.column(QStringLiteral("SELECT CONCAT(n, IFNULL(CONCAT(':', label), '')) FROM t ORDER BY id"));
}

// What the worker reported, in the order the GUI thread received it.
class Recorder : public QObject
{
public:
    explicit Recorder(SqlProcessThread *worker)
    {
        connect(worker, &SqlProcessThread::execTip, this, &Recorder::onTip);
        connect(worker, &SqlProcessThread::signalError, this, &Recorder::onError);
        connect(worker, &SqlProcessThread::taskDone, this, [this](SqlProcessThread::Task task) { typed.append(task); });
    }

    QStringList reports;        // "tip 1/4" or "error: <text>"
    QList<SqlProcessThread::Task> typed;   // what taskDone() said
    bool allOnGuiThread = true;

    bool waitFor(int count)
    {
        return QTest::qWaitFor([&] { return reports.size() >= count; }, kWaitMs);
    }

    bool run(SqlProcessThread &worker, int task)
    {
        const int expected = reports.size() + 1;
        worker.setTask(task);
        worker.start(QThread::InheritPriority);
        return waitFor(expected);
    }

    QString last() const { return reports.isEmpty() ? QString() : reports.last(); }

private:
    void note(const QString &report)
    {
        allOnGuiThread = allOnGuiThread && QThread::currentThread() == QCoreApplication::instance()->thread();
        reports.append(report);
    }
    void onTip(int index, int total) { note(QStringLiteral("tip %1/%2").arg(index).arg(total)); }
    void onError(QString txt) { note(QStringLiteral("error: ") + txt); }
};

QString tip(int index) { return QStringLiteral("tip %1/4").arg(index); }

// Holds a server-side named lock on its own thread and connection, so that a
// script waiting for it can be caught in the middle. The lock is released a
// moment after release() is called, letting the caller reach what it wants
// to test (a destructor) while the script is still blocked.
class LockHolder
{
public:
    explicit LockHolder(const QString &lockName)
        : thread([this, lockName] { hold(lockName); })
    {
    }
    ~LockHolder()
    {
        releaseNow = true;
        finish = true;
        thread.join();
    }
    bool waitHeld()
    {
        return QTest::qWaitFor([&] { return state != 0; }, kWaitMs) && state == 1;
    }
    void release() { releaseNow = true; }
    void finishUp() { finish = true; }

private:
    void hold(const QString &lockName)
    {
        const QString name = QStringLiteral("tessarin_lockholder");
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QMYSQL"), name);
            db.setHostName(DbFixture::host());
            db.setUserName(DbFixture::adminUser());
            db.setPassword(DbFixture::adminPassword());
            QSqlQuery query(db);
            const bool held = db.open()
                && query.exec(QStringLiteral("SELECT GET_LOCK('%1', 0)").arg(lockName))
                && query.next() && query.value(0).toInt() == 1;
            state = held ? 1 : -1;
            while (!releaseNow)
                QThread::msleep(5);
            QThread::msleep(300);
            query.exec(QStringLiteral("DO RELEASE_LOCK('%1')").arg(lockName));
            // The driver goes away only after the worker's, never beside it.
            while (!finish)
                QThread::msleep(5);
        }
        QSqlDatabase::removeDatabase(name);
    }

    std::atomic<int> state{0};
    std::atomic<bool> releaseNow{false};
    std::atomic<bool> finish{false};
    std::thread thread;
};

enum Account { Valid, NoPassword, WrongPassword, MissingDatabase, ClosedPort, SilentServer };
enum Before { NewWorker, FailedOpen, PreviousWorkerDestroyed };

} // namespace

class TestSqlProcessThread : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        DbFixture probe;
        REQUIRE_DB(probe);
    }

    void openConnection_data()
    {
        QTest::addColumn<int>("account");
        QTest::addColumn<QString>("driverText");   // empty: the connection opens
        QTest::newRow("valid account") << int(Valid) << QString();
        QTest::newRow("user without password") << int(NoPassword) << QString();
        QTest::newRow("wrong password") << int(WrongPassword) << QStringLiteral("Access denied");
        QTest::newRow("missing database") << int(MissingDatabase) << QStringLiteral("Unknown database");
        QTest::newRow("closed port") << int(ClosedPort) << QStringLiteral("Can't connect");
        // Accepts the connection and never answers (a hung server): the
        // 10 s connect time-out fails it.
        QTest::newRow("silent server") << int(SilentServer) << QString::fromLatin1("server");
    }

    void openConnection()
    {
        QFETCH(int, account);
        QFETCH(QString, driverText);
        DbFixture fx;
        REQUIRE_DB(fx);
        const QString host = DbFixture::host();
        QByteArray ini = fx.mysqlIni();
        QTcpServer silent;
        if (account == NoPassword) {
            const QString user = fx.user() + QStringLiteral("_np");
            QVERIFY2(fx.createUser(user, QString()), qPrintable(fx.lastError()));
            ini = DbFixture::mysqlIni(host, fx.database(), user, QString());
        } else if (account == WrongPassword) {
            ini = DbFixture::mysqlIni(host, fx.database(), fx.user(), fx.password() + QStringLiteral("x"));
        } else if (account == MissingDatabase) {
            // The admin account, which may see every database, gets "unknown"
            // rather than "denied".
            ini = DbFixture::mysqlIni(host, fx.database() + QStringLiteral("_missing"),
                                      DbFixture::adminUser(), DbFixture::adminPassword());
        } else if (account == SilentServer) {
            // The kernel completes the connection; nobody ever reads it.
            if (!silent.listen(QHostAddress(QStringLiteral("127.0.0.2")), 3306))
                QSKIP(qPrintable(QStringLiteral("cannot listen on 127.0.0.2:3306: ") + silent.errorString()));
            silent.pauseAccepting();
            ini = DbFixture::mysqlIni(QStringLiteral("127.0.0.2"), fx.database(), fx.user(), fx.password());
        } else if (account == ClosedPort) {
            // Loopback, but not the address the server listens on.
            ini = DbFixture::mysqlIni(QStringLiteral("127.0.0.2"), fx.database(), fx.user(), fx.password());
        }
        TempAppDir app;
        app.writeIni(ini);
        app.initialize();

        SqlProcessThread worker;
        Recorder rec(&worker);
        // Twice: a notice sent after the first outcome would arrive between the two.
        QVERIFY(rec.run(worker, 0));
        QVERIFY(rec.run(worker, 0));
        if (driverText.isEmpty()) {
            QCOMPARE(rec.reports, QStringList({tip(1), tip(1)}));
            QCOMPARE(worker.lastError(), QString());
            return;
        }
        QCOMPARE(rec.reports.size(), 2);
        for (const QString &report : qAsConst(rec.reports)) {
            QVERIFY2(report.startsWith(QStringLiteral("error: 数据库打开失败： ")), qPrintable(report));
            QVERIFY2(report.contains(driverText), qPrintable(report));
            QVERIFY2(report.endsWith(QStringLiteral("QMYSQL: Unable to connect")), qPrintable(report));
        }
        QCOMPARE(QStringLiteral("error: ") + worker.lastError(), rec.reports.last());
    }

    void missingScript_data()
    {
        QTest::addColumn<int>("task");
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<int>("nextTask");   // an existing script, run afterwards
        QTest::newRow("clean") << 1 << QStringLiteral("clean.sql") << 2;
        QTest::newRow("init") << 2 << QStringLiteral("init.sql") << 3;
        QTest::newRow("update") << 3 << QStringLiteral("update.sql") << 1;
    }

    void missingScript()
    {
        QFETCH(int, task);
        QFETCH(QString, fileName);
        QFETCH(int, nextTask);
        DbFixture fx;
        REQUIRE_DB(fx);
        TempAppDir app;
        writeScripts(app, "DO 0;", "DO 0;", "DO 0;");
        QVERIFY(QFile::remove(scriptPath(app, fileName)));
        app.writeIni(fx.mysqlIni());
        app.initialize();

        SqlProcessThread worker;
        Recorder rec(&worker);
        QVERIFY(rec.run(worker, 0));
        QVERIFY(rec.run(worker, task));
        QVERIFY(rec.run(worker, nextTask));
        // No notice for the missing file, and the connection is still usable.
        QCOMPARE(rec.reports, QStringList({tip(1),
                                           QStringLiteral("error: 打不开") + app.path() + QStringLiteral("/config/mysql/") + fileName,
                                           tip(nextTask + 1)}));
    }

    void scriptOutcome_data()
    {
        QTest::addColumn<QByteArray>("script");
        QTest::addColumn<QString>("failure");     // part of the driver's text; empty: success
        QTest::addColumn<QStringList>("rows");    // what the script left in t
        const QStringList none;
        QTest::newRow("several statements")
            << bytes("INSERT INTO t (n) VALUES (1);\nINSERT INTO t (n) VALUES (2);\nINSERT INTO t (n) VALUES (3);\n")
            << QString() << QStringList({"1", "2", "3"});
        QTest::newRow("result sets between statements")
            << bytes("INSERT INTO t (n) VALUES (1); SELECT n FROM t; SELECT 'x', 'y'; INSERT INTO t (n) VALUES (2);")
            << QString() << QStringList({"1", "2"});
        QTest::newRow("third of four fails")
            << bytes("INSERT INTO t (n) VALUES (1); INSERT INTO t (n) VALUES (2);"
                     " INSERT INTO missing_table (n) VALUES (3); INSERT INTO t (n) VALUES (4);")
            << QStringLiteral("第 3 条语句失败（此前 2 条已执行）： INSERT INTO missing_table (n) VALUES (3);")
            << QStringList({"1", "2"});
        // Semicolons in texts and comments do not end a statement.
        QTest::newRow("failing statement named past quotes and comments")
            << bytes("INSERT INTO t (n) VALUES (1); # one; really\n"
                     "INSERT INTO t (n) VALUES (length('a;b')); /* ; */\n-- c;\nINSERT INTO nope (n) VALUES (3);")
            << QStringLiteral("第 3 条语句失败（此前 2 条已执行）： INSERT INTO nope (n) VALUES (3);")
            << QStringList({"1", "3"});
        QTest::newRow("failure after a result set")
            << bytes("SELECT 1; INSERT INTO t (n) VALUES (1); INSERT INTO t (no_such_column) VALUES (5);"
                     " INSERT INTO t (n) VALUES (2);")
            << QStringLiteral("no_such_column") << QStringList({"1"});
        QTest::newRow("syntax error")
            << bytes("INSERT INTO t (n) VALUES (1); INSERT INTO t VALUES ((; INSERT INTO t (n) VALUES (2);")
            << QStringLiteral("SQL syntax") << QStringList({"1"});
        QTest::newRow("first statement fails")
            << bytes("INSERT INTO missing_table (n) VALUES (1); INSERT INTO t (n) VALUES (2);")
            << QStringLiteral("第 1 条语句失败（此前 0 条已执行）： INSERT INTO missing_table") << none;
        QTest::newRow("text after a zero byte is not run")
            << bytes("INSERT INTO t (n) VALUES (1);\0INSERT INTO t (n) VALUES (2);") << QString() << QStringList({"1"});
        QTest::newRow("zero byte first") << bytes("\0INSERT INTO t (n) VALUES (1);") << QString() << none;
        QTest::newRow("empty file") << QByteArray() << QString() << none;
        QTest::newRow("only blanks and line ends") << bytes(" \r\n\t\n") << QString() << none;
        QTest::newRow("comments and CRLF")
            << bytes("-- header\r\nINSERT INTO t (n) VALUES (1);\r\n/* end */\r\n") << QString() << QStringList({"1"});
        QTest::newRow("UTF-8 text")
            << bytes("INSERT INTO t (n, label) VALUES (7, '前门摄像机');") << QString() << QStringList({"7:前门摄像机"});
        // Not UTF-8: refused whole, nothing of it run.
        const QByteArray gbk = "INSERT INTO t (n) VALUES (1); INSERT INTO t (n, label) VALUES (7, '"
            + QByteArray("\xC7\xB0\xC3\xC5") + "');";   // "前门" in GBK
        QTest::newRow("GBK text") << gbk << QStringLiteral("不是 UTF-8 文本：偏移 69 处的字节 0xc3 无效") << none;
        QTest::newRow("overlong form")
            << bytes("INSERT INTO t (n) VALUES (1); -- \xC0\xAF") << QStringLiteral("偏移 33 处的字节 0xc0") << none;
        QTest::newRow("sequence cut at the end")
            << bytes("INSERT INTO t (n) VALUES (1); -- \xE5\x89") << QStringLiteral("偏移 33 处的字节 0xe5") << none;
    }

    void scriptOutcome()
    {
        QFETCH(QByteArray, script);
        QFETCH(QString, failure);
        QFETCH(QStringList, rows);
        DbFixture fx;
        REQUIRE_DB(fx);
        QVERIFY2(createTable(fx), qPrintable(fx.lastError()));
        TempAppDir app;
        writeScripts(app, script, "INSERT INTO t (n) VALUES (99);", "DO 0;");
        app.writeIni(fx.mysqlIni());
        app.initialize();

        SqlProcessThread worker;
        Recorder rec(&worker);
        QVERIFY(rec.run(worker, 0));
        QVERIFY(rec.run(worker, 1));
        // The next script on the same connection runs whatever happened before.
        QVERIFY(rec.run(worker, 2));
        QCOMPARE(rec.reports.size(), 3);
        QCOMPARE(rec.reports.at(0), tip(1));
        if (failure.isEmpty()) {
            QCOMPARE(rec.reports.at(1), tip(2));
        } else {
            const QString expected = QStringLiteral("error: 执行脚本失败： ") + scriptPath(app, QStringLiteral("clean.sql"))
                + QLatin1Char('\n');
            QVERIFY2(rec.reports.at(1).startsWith(expected), qPrintable(rec.reports.at(1)));
            QVERIFY2(rec.reports.at(1).contains(failure), qPrintable(rec.reports.at(1)));
        }
        QCOMPARE(rec.reports.at(2), tip(3));
        QCOMPARE(::rows(fx), rows + QStringList({"99"}));
    }

    void scriptWithoutConnection_data()
    {
        QTest::addColumn<int>("before");
        QTest::newRow("first task of a new worker") << int(NewWorker);
        QTest::newRow("after a failed connection") << int(FailedOpen);
        QTest::newRow("after the worker that connected was destroyed") << int(PreviousWorkerDestroyed);
    }

    void scriptWithoutConnection()
    {
        QFETCH(int, before);
        DbFixture fx;
        REQUIRE_DB(fx);
        QVERIFY2(createTable(fx), qPrintable(fx.lastError()));
        TempAppDir app;
        writeScripts(app, "INSERT INTO t (n) VALUES (1);", "DO 0;", "DO 0;");
        app.writeIni(before == FailedOpen
                         ? DbFixture::mysqlIni(DbFixture::host(), fx.database(), fx.user(), QStringLiteral("wrong"))
                         : fx.mysqlIni());
        app.initialize();

        if (before == PreviousWorkerDestroyed) {
            SqlProcessThread first;
            Recorder rec(&first);
            QVERIFY(rec.run(first, 0));
            QCOMPARE(rec.last(), tip(1));
        }
        SqlProcessThread worker;
        Recorder rec(&worker);
        if (before == FailedOpen) {
            QVERIFY(rec.run(worker, 0));
            QVERIFY(rec.last().startsWith(QStringLiteral("error: 数据库打开失败： ")));
        }
        QVERIFY(rec.run(worker, 1));
        QCOMPARE(rec.last(), QStringLiteral("error: 执行脚本失败： ") + scriptPath(app, QStringLiteral("clean.sql"))
                                 + QStringLiteral("\n数据库未连接"));
        QCOMPARE(rows(fx), QStringList());
    }

    void oversizedScriptIsRefused()
    {
        DbFixture fx;
        REQUIRE_DB(fx);
        QVERIFY2(createTable(fx), qPrintable(fx.lastError()));
        const qint64 limit = fx.column(QStringLiteral("SELECT @@max_allowed_packet")).value(0).toLongLong();
        QVERIFY2(limit > 0 && limit <= 64 * 1024 * 1024, qPrintable(QString::number(limit)));
        TempAppDir app;
        QByteArray script = "INSERT INTO t (n) VALUES (1); -- ";
        script += QByteArray(int(limit) - script.size(), 'x');
        writeScripts(app, script, "INSERT INTO t (n) VALUES (99);", "DO 0;");
        app.writeIni(fx.mysqlIni());
        app.initialize();

        SqlProcessThread worker;
        Recorder rec(&worker);
        for (int task : {0, 1, 2})
            QVERIFY(rec.run(worker, task));
        QCOMPARE(rec.reports.size(), 3);
        QCOMPARE(rec.reports.at(1), QStringLiteral("error: 执行脚本失败： %1\n脚本有 %2 字节，超过服务器一次可接收的"
                                                   " max_allowed_packet（%3 字节）")
                                        .arg(scriptPath(app, QStringLiteral("clean.sql")))
                                        .arg(limit)
                                        .arg(limit));
        // Nothing of it ran, and the connection it would have broken still serves.
        QCOMPARE(rec.reports.at(2), tip(3));
        QCOMPARE(rows(fx), QStringList({"99"}));
        QCOMPARE(fx.connectionIds(fx.user()).size(), 1);
    }

    void killedConnectionIsOpenedAgain_data()
    {
        QTest::addColumn<bool>("duringScript");
        QTest::newRow("killed between two steps") << false;
        QTest::newRow("killed while a script runs") << true;
    }

    void killedConnectionIsOpenedAgain()
    {
        QFETCH(bool, duringScript);
        DbFixture fx;
        REQUIRE_DB(fx);
        TempAppDir app;
        QVERIFY2(prepareLockingScripts(fx, app,
                                       QStringLiteral("INSERT INTO t (n) VALUES (CONNECTION_ID());"
                                                      " DO GET_LOCK('%1', 120); DO RELEASE_LOCK('%1');"),
                                       "DO 0;"),
                 qPrintable(fx.lastError()));

        LockHolder holder(fx.database());
        if (duringScript)
            QVERIFY(holder.waitHeld());
        else
            holder.release();
        SqlProcessThread worker;
        Recorder rec(&worker);
        QVERIFY(rec.run(worker, 0));
        worker.setTask(1);
        worker.start(QThread::InheritPriority);
        QTRY_COMPARE_WITH_TIMEOUT(rows(fx).size(), 1, kWaitMs);
        if (!duringScript)
            QVERIFY(rec.waitFor(2));
        const QString first = rows(fx).first();
        QVERIFY2(fx.exec(QStringLiteral("KILL %1").arg(first)), qPrintable(fx.lastError()));
        QVERIFY(rec.waitFor(2));
        holder.release();

        // The next run of the step finds the connection dead and opens it again.
        QVERIFY(rec.run(worker, 1));
        QCOMPARE(rec.reports.size(), 3);
        QCOMPARE(rec.reports.at(0), tip(1));
        if (duringScript) {
            QVERIFY2(rec.reports.at(1).startsWith(QStringLiteral("error: 执行脚本失败： ")), qPrintable(rec.reports.at(1)));
        } else {
            QCOMPARE(rec.reports.at(1), tip(2));
        }
        QCOMPARE(rec.reports.at(2), tip(2));
        const QStringList ids = rows(fx);
        QCOMPARE(ids.size(), 2);
        QVERIFY(ids.at(1) != first);
        QTRY_COMPARE_WITH_TIMEOUT(fx.connectionIds(fx.user()), QStringList({ids.at(1)}), kWaitMs);
        holder.finishUp();
    }

    void reopenReplacesConnection()
    {
        DbFixture fx;
        REQUIRE_DB(fx);
        TempAppDir app;
        QVERIFY2(recordConnectionIds(fx, app), qPrintable(fx.lastError()));

        SqlProcessThread worker;
        Recorder rec(&worker);
        for (int task : {0, 1, 0, 1})
            QVERIFY(rec.run(worker, task));
        QCOMPARE(rec.reports, QStringList({tip(1), tip(2), tip(1), tip(2)}));
        const QStringList ids = rows(fx);
        QCOMPARE(ids.size(), 2);
        QVERIFY(ids.at(0) != ids.at(1));
        // The first connection was closed, not left behind.
        QTRY_COMPARE_WITH_TIMEOUT(fx.connectionIds(fx.user()), QStringList({ids.at(1)}), kWaitMs);
    }

    void shippedScripts()
    {
        DbFixture fx;
        REQUIRE_DB(fx);
        TempAppDir app(true);
        app.writeIni(fx.mysqlIni());
        app.initialize();

        SqlProcessThread worker;
        Recorder rec(&worker);
        for (int task : {0, 1, 2, 3, 1, 2, 3})
            QVERIFY(rec.run(worker, task));
        QCOMPARE(rec.reports, QStringList({tip(1), tip(2), tip(3), tip(4), tip(2), tip(3), tip(4)}));

        const QString tables = QStringLiteral(
            "SELECT %1 FROM information_schema.TABLES WHERE TABLE_SCHEMA = DATABASE() ORDER BY 1");
        QCOMPARE(fx.column(tables.arg(QStringLiteral("TABLE_NAME"))),
                 QStringList({"app_user", "device", "device_channel", "media_server", "schema_version", "sip_platform"}));
        QCOMPARE(fx.column(tables.arg(QStringLiteral("DISTINCT TABLE_COLLATION"))), QStringList({"utf8mb4_unicode_ci"}));
        QCOMPARE(fx.column(QStringLiteral("SELECT CONCAT(server_id, '@', domain) FROM sip_platform")),
                 QStringList({"34020000002000000001@3402000000"}));
        QCOMPARE(fx.column(QStringLiteral("SELECT CONCAT(username, ':', password_hash = SHA2(CONCAT(password_salt, 'admin'), 256))"
                                          " FROM app_user")),
                 QStringList({"admin:1"}));
        QCOMPARE(fx.column(QStringLiteral("SELECT version FROM schema_version ORDER BY version")), QStringList({"1.0", "1.1"}));
        QCOMPARE(fx.column(QStringLiteral("SELECT id FROM media_server")), QStringList({"local"}));

        // GB ids are 20 digits, channels belong to a known device, and a
        // device may name its media server (the column update.sql adds).
        QVERIFY(!fx.exec(QStringLiteral("INSERT INTO device (device_id) VALUES ('3402000000132000001')")));
        QVERIFY2(fx.exec(QStringLiteral("INSERT INTO device (device_id, media_server_id) VALUES ('34020000001320000001', 'local')")),
                 qPrintable(fx.lastError()));
        QVERIFY(!fx.exec(QStringLiteral("INSERT INTO device_channel (device_id, channel_id) VALUES ('34020000001320000009', '34020000001310000001')")));
        QVERIFY2(fx.exec(QStringLiteral("INSERT INTO device_channel (device_id, channel_id) VALUES ('34020000001320000001', '34020000001310000001')")),
                 qPrintable(fx.lastError()));

        // The migration alone again, then clean removes everything, data and all.
        QVERIFY(rec.run(worker, 3));
        QVERIFY(rec.run(worker, 1));
        QCOMPARE(rec.reports.mid(7), QStringList({tip(4), tip(2)}));
        QCOMPARE(fx.column(tables.arg(QStringLiteral("TABLE_NAME"))), QStringList());
    }

    void taskSelection_data()
    {
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("notice");
        QTest::newRow("-1 opens") << -1 << 1;
        QTest::newRow("4 opens") << 4 << 1;
        QTest::newRow("100 opens") << 100 << 1;
        QTest::newRow("INT_MIN opens") << INT_MIN << 1;
        QTest::newRow("INT_MAX opens") << INT_MAX << 1;
        QTest::newRow("0 opens") << 0 << 1;
        QTest::newRow("1 cleans") << 1 << 2;
        QTest::newRow("2 initialises") << 2 << 3;
        QTest::newRow("3 updates") << 3 << 4;
    }

    void taskSelection()
    {
        QFETCH(int, value);
        QFETCH(int, notice);
        DbFixture fx;
        REQUIRE_DB(fx);
        TempAppDir app;
        writeScripts(app, "DO 0;", "DO 0;", "DO 0;");
        app.writeIni(fx.mysqlIni());
        app.initialize();

        SqlProcessThread worker;
        Recorder rec(&worker);
        QVERIFY(rec.run(worker, 0));
        QVERIFY(rec.run(worker, value));
        QCOMPARE(rec.reports, QStringList({tip(1), tip(notice)}));
    }

    void queuedTasksRunInOrderOnOneConnection()
    {
        DbFixture fx;
        REQUIRE_DB(fx);
        QVERIFY2(createTable(fx), qPrintable(fx.lastError()));
        TempAppDir app;
        writeScripts(app, "INSERT INTO t (n, label) VALUES (1, CONNECTION_ID());",
                     "INSERT INTO t (n, label) VALUES (2, CONNECTION_ID());",
                     "INSERT INTO t (n, label) VALUES (3, CONNECTION_ID());");
        app.writeIni(fx.mysqlIni());
        app.initialize();

        SqlProcessThread worker;
        Recorder rec(&worker);
        // All four requested at once: each start() takes the task set at that
        // moment, and the settings as they are then. Settings changed while
        // the tasks wait (the operator edits, the GUI thread re-reads) are not
        // read by the worker under way.
        for (int task = 0; task < 4; ++task) {
            worker.setTask(task);
            worker.start(QThread::InheritPriority);
        }
        app.writeIni(fx.mysqlIni() + "Clean=gone.sql\nInit=gone.sql\nUpdate=gone.sql\n");
        app.initialize();
        QVERIFY(rec.waitFor(4));
        QCOMPARE(rec.reports, QStringList({tip(1), tip(2), tip(3), tip(4)}));
        QCOMPARE(rec.typed, QList<SqlProcessThread::Task>({SqlProcessThread::Task::Connect, SqlProcessThread::Task::Clean,
                                                           SqlProcessThread::Task::Init, SqlProcessThread::Task::Update}));
        QVERIFY(rec.allOnGuiThread);
        QCOMPARE(fx.column(QStringLiteral("SELECT n FROM t ORDER BY id")), QStringList({"1", "2", "3"}));
        QCOMPARE(fx.column(QStringLiteral("SELECT COUNT(DISTINCT label) FROM t")), QStringList({"1"}));
    }

    void requestWhileBusyIsKept()
    {
        DbFixture fx;
        REQUIRE_DB(fx);
        const QString lock = fx.database();
        TempAppDir app;
        writeScripts(app, QStringLiteral("DO GET_LOCK('%1', 120); DO RELEASE_LOCK('%1');").arg(lock).toUtf8(),
                     "DO 0;", "DO 0;");
        app.writeIni(fx.mysqlIni());
        app.initialize();

        LockHolder holder(lock);
        QVERIFY(holder.waitHeld());
        SqlProcessThread worker;
        Recorder rec(&worker);
        // The clean script is queued behind the connection and cannot end
        // before the lock is released, so when the first notice arrives the
        // worker is surely busy, and the init script is requested right then.
        connect(&worker, &SqlProcessThread::execTip, &rec, [&worker](int index, int) {
            if (index == 1) {
                worker.setTask(2);
                worker.start(QThread::InheritPriority);
            }
        });
        for (int task : {0, 1}) {
            worker.setTask(task);
            worker.start(QThread::InheritPriority);
        }
        QVERIFY(rec.waitFor(1));
        holder.release();
        QVERIFY(rec.waitFor(3));
        QCOMPARE(rec.reports, QStringList({tip(1), tip(2), tip(3)}));
    }

    void destroyWhileScriptRuns()
    {
        DbFixture fx;
        REQUIRE_DB(fx);
        TempAppDir app;
        QVERIFY2(prepareLockingScripts(fx, app,
                                       QStringLiteral("INSERT INTO t (n) VALUES (1); DO GET_LOCK('%1', 120);"
                                                      " INSERT INTO t (n) VALUES (2); DO RELEASE_LOCK('%1');"),
                                       "INSERT INTO t (n) VALUES (3);"),
                 qPrintable(fx.lastError()));

        auto worker = std::make_unique<SqlProcessThread>();
        Recorder rec(worker.get());
        LockHolder holder(fx.database());
        QVERIFY(holder.waitHeld());
        QVERIFY(rec.run(*worker, 0));
        for (int task : {1, 2}) {
            worker->setTask(task);
            worker->start(QThread::InheritPriority);
        }
        // The clean script has begun and now waits for the lock.
        QTRY_COMPARE_WITH_TIMEOUT(rows(fx), QStringList({"1"}), kWaitMs);

        holder.release();
        worker.reset();
        // The running script was finished before the worker ended; the init
        // script, still queued, was dropped, and nothing more was reported.
        QCOMPARE(rows(fx), QStringList({"1", "2"}));
        QCoreApplication::processEvents();
        QCOMPARE(rec.reports, QStringList({tip(1)}));
        QTRY_COMPARE_WITH_TIMEOUT(fx.connectionIds(fx.user()), QStringList(), kWaitMs);
        holder.finishUp();
    }

    void workersOneAfterAnother()
    {
        DbFixture fx;
        REQUIRE_DB(fx);
        TempAppDir app;
        QVERIFY2(recordConnectionIds(fx, app), qPrintable(fx.lastError()));

        for (int i = 0; i < 3; ++i) {
            {
                SqlProcessThread worker;
                Recorder rec(&worker);
                QVERIFY(rec.run(worker, 0));
                QVERIFY(rec.run(worker, 1));
                QCOMPARE(rec.reports, QStringList({tip(1), tip(2)}));
            }
            // Each worker closes its connection as it ends.
            QTRY_COMPARE_WITH_TIMEOUT(fx.connectionIds(fx.user()), QStringList(), kWaitMs);
        }
        QCOMPARE(fx.column(QStringLiteral("SELECT COUNT(DISTINCT n) FROM t")), QStringList({"3"}));
    }
};

QTEST_GUILESS_MAIN(TestSqlProcessThread)
#include "tst_sqlprocessthread.moc"
