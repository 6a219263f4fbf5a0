#include "platform/platform.h"
#include "processprobe.h"
#include "setting/inifile.h"
#include "setting/setupconfig.h"
#include "stackprobe.h"
#include "supervision/eventlog.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using TestSupport::numberAfter;
using TestSupport::processAlive;
using TestSupport::StackProbe;
using TestSupport::testHelperPath;

namespace {

const QString kStart = QStringLiteral("程序启动--");
const QString kFailed = QStringLiteral("程序启动失败--");
const QString kCrash = QStringLiteral("程序异常终止--");
const QString kEnd = QStringLiteral("程序结束--");

} // namespace

// A server program under supervision, with no window: starts, records and
// banners, stops, refusals, restarts, process trees and the log.
class tst_ServerSupervisor : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void exitCodeShowsInTheEnd();
    void failedStartShowsNoEndBanner();
    void crashShowsAbnormalEnd();
    void closeStopsPolitelyThenKills_data();
    void closeStopsPolitelyThenKills();
    void closeWithNothingRunning();
    void unwritableSettingsAreReportedOnce();
    void refusalWhileStartingAndRunning();
    void workingDirectoryRule_data();
    void workingDirectoryRule();
    void argumentSplitting_data();
    void argumentSplitting();
    void emptyParamAfterStartWithArguments();
    void destructionKillsRunningChild();
    void closeKillsWholeTree();
    void launcherKilledLeavesNoTree_data();
    void launcherKilledLeavesNoTree();
    void startScriptsServerIsFollowed();
    void autoRestartAfterACrash();
    void logFileHoldsWhatTheConsoleShows_data();
    void logFileHoldsWhatTheConsoleShows();
    void watchdogReplacedLeavesNoTree();

private:
    void setIniValue(const QString &key, const QString &value);
    std::unique_ptr<TestSupport::TempAppDir> appDir;
};

void tst_ServerSupervisor::setIniValue(const QString &key, const QString &value)
{
    IniFile ini(appDir->iniPath());
    ini.setValue(key, value);
    QVERIFY(ini.save());
    appDir->initialize();
}

void tst_ServerSupervisor::init()
{
    appDir.reset(new TestSupport::TempAppDir);
    appDir->initialize();
}

void tst_ServerSupervisor::exitCodeShowsInTheEnd()
{
    // A crash loop of exits with code 3 must not look like clean ends.
    const QString end = QStringLiteral("程序结束(退出码 3)--");
    StackProbe p(testHelperPath(), QStringLiteral("out hello\\n exit 3"));
    p.start();
    QTRY_VERIFY(p.text().contains(end));
    const QString text = p.text();
    QVERIFY(text.indexOf(kStart) < text.indexOf(QStringLiteral("hello")));
    QVERIFY(text.indexOf(QStringLiteral("hello")) < text.indexOf(end));
    QVERIFY(!text.contains(kCrash));
    QVERIFY(!p.started);
}

void tst_ServerSupervisor::failedStartShowsNoEndBanner()
{
    StackProbe p(QStringLiteral("/nonexistent/MediaServer"));
    p.start();
    QTRY_VERIFY(p.text().contains(kFailed));
    // A start that failed is over: nothing of it is still to come.
    QVERIFY(p.stack->runningServers().isEmpty());
    const QString text = p.text();
    QVERIFY(text.indexOf(kStart) < text.indexOf(kFailed));
    QVERIFY(!text.contains(kEnd));
    QVERIFY(!text.contains(kCrash));
    // The line after the banner names the program and the system's reason.
    const QStringList lines = text.split(QLatin1Char('\n'));
    const int banner = lines.indexOf(QRegularExpression(QStringLiteral(".*") + kFailed + QStringLiteral(".*")));
    QVERIFY(banner >= 0 && banner + 1 < lines.size());
    QVERIFY2(lines.at(banner + 1).contains(QStringLiteral("/nonexistent/MediaServer："))
                 && lines.at(banner + 1).size() > QStringLiteral("  /nonexistent/MediaServer：").size(),
             qPrintable(lines.at(banner + 1)));
    QVERIFY(!p.started);
}

void tst_ServerSupervisor::crashShowsAbnormalEnd()
{
    StackProbe p(testHelperPath(), QStringLiteral("out before\\n sleep 100 crash"));
    p.start();
    QTRY_VERIFY(p.text().contains(kCrash));
    QVERIFY(!p.text().contains(kEnd));
    QVERIFY(p.text().contains(QStringLiteral("before")));
    QVERIFY(!p.started);
}

void tst_ServerSupervisor::closeStopsPolitelyThenKills_data()
{
    QTest::addColumn<QString>("grace");
    QTest::addColumn<QString>("params");
    QTest::addColumn<bool>("politeEnd");
    // The server saves its state when asked to stop (SIGTERM; Ctrl+C on
    // Windows) and ends within the grace period.
    QTest::newRow("traps SIGTERM") << QStringLiteral("5") << QStringLiteral("pid onterm %1 forever") << true;
    // It does not listen: killed when the grace period is over.
    QTest::newRow("ignores SIGTERM") << QStringLiteral("1") << QStringLiteral("pid onterm %1 ignoreterm forever") << false;
    // 0: killed at once, as before the grace period existed.
    QTest::newRow("no grace") << QStringLiteral("0") << QStringLiteral("pid onterm %1 forever") << false;
}

void tst_ServerSupervisor::closeStopsPolitelyThenKills()
{
    QFETCH(QString, grace);
    QFETCH(QString, params);
    QFETCH(bool, politeEnd);
    setIniValue(QStringLiteral("/Time/StopGrace"), grace);
    const QString marker = appDir->path() + QStringLiteral("/saved");
    StackProbe p(testHelperPath(), params.arg(marker));
    p.start();
#if !defined(Q_OS_WIN)
    // Started only once the process runs (the fork has not exec'd yet when
    // start() returns; on Windows it has been created by then).
    QVERIFY(!p.started);
#endif
    QTRY_VERIFY(p.text().contains(QStringLiteral("pid=")));
    QVERIFY(p.started);
    const qint64 pid = numberAfter(p.text(), QStringLiteral("pid"));
    QVERIFY(processAlive(pid));
    p.close();
    // Started until it has ended; a start meanwhile is refused as such.
    QVERIFY(p.started);
    p.start();
    QCOMPARE(p.refusals, QStringList{QStringLiteral("服务器正在停止，请稍后再启动!")});
    QTRY_VERIFY(p.text().contains(politeEnd ? kEnd : kCrash));
    QVERIFY(!p.started);
    QVERIFY(!p.text().contains(politeEnd ? kCrash : kEnd));
    QVERIFY(!processAlive(pid));
    QCOMPARE(QFile::exists(marker), politeEnd);
}

void tst_ServerSupervisor::closeWithNothingRunning()
{
    StackProbe p;
    p.close();
    QVERIFY(!p.started);
    QVERIFY(p.text().isEmpty());
}

void tst_ServerSupervisor::unwritableSettingsAreReportedOnce()
{
    // A directory where the settings file should be: no save can replace it.
    QFile::remove(appDir->iniPath());
    QVERIFY(QDir().mkpath(appDir->iniPath()));
    appDir->initialize();   // reading stays silent
    StackProbe p(testHelperPath(), QStringLiteral("exit 0"));
    p.start();
    QTRY_VERIFY(p.text().contains(kEnd));
    p.start();
    QTRY_COMPARE(p.text().count(kEnd), 2);
    QCOMPARE(p.text().count(QStringLiteral("设置未能保存：无法写入 ") + QDir::toNativeSeparators(appDir->iniPath())), 1);
}

void tst_ServerSupervisor::refusalWhileStartingAndRunning()
{
    StackProbe p(testHelperPath(), QStringLiteral("forever"));
    // The second click comes before the event loop has confirmed the start.
    p.start();
    p.start();
    QCOMPARE(p.refusals.size(), 1);
#if defined(Q_OS_WIN)
    // QProcess on Windows reports the start before start() returns: the
    // second click already finds the server running.
    QCOMPARE(p.refusals.last(), QStringLiteral("服务器已经启动，请勿重复启动!"));
#else
    QCOMPARE(p.refusals.last(), QStringLiteral("服务器正在启动中，请耐心等待!"));
#endif
    QCOMPARE(p.text().count(kStart), 1);
    p.close();
}

void tst_ServerSupervisor::workingDirectoryRule_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("empty") << "empty";
    QTest::newRow("missing") << "missing";
    QTest::newRow("file") << "file";
    QTest::newRow("directory") << "directory";
}

void tst_ServerSupervisor::workingDirectoryRule()
{
    QFETCH(QString, kind);
    QTemporaryDir scratch;
    QDir().mkpath(scratch.path() + QStringLiteral("/sub"));
    QFile file(scratch.path() + QStringLiteral("/sub/server.conf"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();

    const QString helperDir = QFileInfo(testHelperPath()).absolutePath();
    QString typed;
    QString expectedCwd;
    QString expectedField;
    if (kind == QLatin1String("empty")) {
        expectedCwd = helperDir;
    } else if (kind == QLatin1String("missing")) {
        typed = scratch.path() + QStringLiteral("/gone");
        expectedCwd = helperDir;
    } else if (kind == QLatin1String("file")) {
        typed = file.fileName();
        expectedCwd = scratch.path() + QStringLiteral("/sub");
        expectedField = expectedCwd;
    } else {
        typed = scratch.path() + QStringLiteral("/sub");
        expectedCwd = typed;
        expectedField = typed;
    }

    StackProbe p(testHelperPath(), QStringLiteral("cwd"), typed);
    p.start();
    QTRY_VERIFY(p.text().contains(kEnd));
    const QString shown = p.text();
    const int at = shown.indexOf(QStringLiteral("cwd="));
    QVERIFY2(at >= 0, qPrintable(shown));
    // Windows names it with backslashes.
    const QString reported = QDir::fromNativeSeparators(shown.mid(at + 4, shown.indexOf(QLatin1Char('\n'), at) - at - 4).trimmed());
    QCOMPARE(QDir(reported).canonicalPath(), QDir(expectedCwd).canonicalPath());
    QCOMPARE(p.fields.workPath, expectedField);

    // The settings keep what was typed, before the correction.
    QSettings ini(appDir->iniPath(), QSettings::IniFormat);
    QCOMPARE(ini.value(QStringLiteral("/MediaServer/WorkPath")).toString(), typed);
    QCOMPARE(ini.value(QStringLiteral("/MediaServer/ProgramPath")).toString(), testHelperPath());
    QCOMPARE(ini.value(QStringLiteral("/MediaServer/Param")).toString(), QStringLiteral("cwd"));
}

void tst_ServerSupervisor::argumentSplitting_data()
{
    // The parameter as typed into the settings file by hand, after "Param=".
    QTest::addColumn<QByteArray>("stored");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("two blanks") << QByteArray("args -c  config.ini") << QStringList{"-c", "", "config.ini"};
    QTest::newRow("trailing blank") << QByteArray("args -c ") << QStringList{"-c", ""};
    QTest::newRow("single") << QByteArray("args") << QStringList{};
    QTest::newRow("quoted blank") << QByteArray("args \"media server.ini\" -x") << QStringList{"media server.ini", "-x"};
    QTest::newRow("quotes inside") << QByteArray("args -D\"a b\"c \"\" \"say \"\"hi\"\"\"")
                                   << QStringList{"-Da bc", "", "say \"hi\""};
    QTest::newRow("commas and =") << QByteArray("args -Dspring.profiles.active=dev,mysql")
                                  << QStringList{"-Dspring.profiles.active=dev,mysql"};
    QTest::newRow("semicolon") << QByteArray("args -cp wvp.jar;old") << QStringList{"-cp", "wvp.jar;old"};
#if !defined(Q_OS_WIN)
    // Windows limits a whole command line to 32767 characters.
    QTest::newRow("longer than a line edit's default")
        << "args " + QByteArray(40000, 'x') + "END" << QStringList{QString(40000, QLatin1Char('x')) + "END"};
#endif
}

void tst_ServerSupervisor::argumentSplitting()
{
    QFETCH(QByteArray, stored);
    QFETCH(QStringList, expected);
    TestSupport::TempAppDir app;
    app.writeIni("[MediaServer]\nProgramPath=" + testHelperPath().toUtf8() + "\nParam=" + stored + "\n");
    app.initialize();
    const ServerParam settings = SetupConfig::instance()->mediaServerParam();
    StackProbe p(settings.programPath, settings.param);
    p.start();
    QTRY_VERIFY(p.text().contains(kEnd));
    if (stored.size() > 1000) {
        // Output that long may come in several records.
        QVERIFY(p.text().contains(QStringLiteral("argc=1\n")));
        QVERIFY(p.text().contains(QStringLiteral("END\n")));
    } else {
        QString block = QStringLiteral("argc=%1\n").arg(expected.size());
        for (int i = 0; i < expected.size(); ++i)
            block += QStringLiteral("arg[%1]=%2\n").arg(i).arg(expected.at(i));
        QVERIFY2(p.text().contains(block), qPrintable(p.text()));
    }
    // The start saved the text unchanged, and it reads back so.
    app.initialize();
    QCOMPARE(SetupConfig::instance()->mediaServerParam().param, QString::fromUtf8(stored));
}

void tst_ServerSupervisor::emptyParamAfterStartWithArguments()
{
    StackProbe p(testHelperPath(), QStringLiteral("args x"));
    p.start();
    QTRY_COMPARE(p.text().count(kEnd), 1);
    QVERIFY(p.text().contains(QStringLiteral("arg[0]=x")));
    p.fields.param.clear();
    p.start();
    QTRY_COMPARE(p.text().count(kEnd), 2);
    QVERIFY2(p.text().contains(QStringLiteral("noargs")), qPrintable(p.text()));
}

void tst_ServerSupervisor::destructionKillsRunningChild()
{
    auto p = std::make_unique<StackProbe>(testHelperPath(), QStringLiteral("pid forever"));
    p->start();
    QTRY_VERIFY(p->text().contains(QStringLiteral("pid=")));
    const qint64 pid = numberAfter(p->text(), QStringLiteral("pid"));
    QVERIFY(processAlive(pid));
    p.reset();
    QTRY_VERIFY(!processAlive(pid));
}

void tst_ServerSupervisor::closeKillsWholeTree()
{
    StackProbe p(testHelperPath(), QStringLiteral("pid grandchild forever"));
    p.start();
    QTRY_VERIFY(p.text().contains(QStringLiteral("grandchild=")));
    const qint64 child = numberAfter(p.text(), QStringLiteral("pid"));
    const qint64 grandchild = numberAfter(p.text(), QStringLiteral("grandchild"));
    QVERIFY(processAlive(child) && processAlive(grandchild));
    p.close();
    QTRY_VERIFY(!processAlive(child));
    QTRY_VERIFY(!processAlive(grandchild));
    QTRY_VERIFY2(p.text().contains(kEnd), qPrintable(p.text()));
}

void tst_ServerSupervisor::launcherKilledLeavesNoTree_data()
{
    QTest::addColumn<QStringList>("hostOptions");
    QTest::newRow("running") << QStringList();
    // Killed before the started signal reached the launcher.
    QTest::newRow("before started") << QStringList{QStringLiteral("--no-events")};
}

void tst_ServerSupervisor::launcherKilledLeavesNoTree()
{
    QFETCH(QStringList, hostOptions);
    QProcess host;
    host.start(QStringLiteral(TESSARIN_host_launcher),
               hostOptions + QStringList{testHelperPath(), QStringLiteral("pid"), QStringLiteral("grandchild"), QStringLiteral("forever")});
    QVERIFY(host.waitForStarted());
    QString out;
    QTRY_VERIFY((out += QString::fromUtf8(host.readAllStandardOutput())).contains(QStringLiteral("grandchild=")));
    const qint64 child = numberAfter(out, QStringLiteral("pid"));
    const qint64 grandchild = numberAfter(out, QStringLiteral("grandchild"));
    QVERIFY2(processAlive(child) && processAlive(grandchild), qPrintable(out));

    host.kill();   // SIGKILL, TerminateProcess: no destructor of the host runs
    QVERIFY(host.waitForFinished());
    QTRY_VERIFY_WITH_TIMEOUT(!processAlive(child), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(!processAlive(grandchild), 5000);
}

void tst_ServerSupervisor::startScriptsServerIsFollowed()
{
    // A start script that runs its server in the background and exits: the
    // server is still supervised.
    StackProbe p(testHelperPath(), QStringLiteral("label script- pid background forever"));
    p.start();
    QTRY_VERIFY(p.text().contains(QStringLiteral("background=")));
    const qint64 server = numberAfter(p.text(), QStringLiteral("background"));
    QVERIFY(processAlive(server));
    QTRY_VERIFY(p.text().contains(QStringLiteral("程序已转入后台运行")));
    QVERIFY(!processAlive(numberAfter(p.text(), QStringLiteral("script-pid"))));
    QVERIFY(!p.text().contains(kEnd));
    QVERIFY(p.started);
    p.start();
    QCOMPARE(p.refusals, QStringList{QStringLiteral("服务器已经启动，请勿重复启动!")});
    p.close();
    QTRY_VERIFY(p.text().contains(kEnd));
    QVERIFY(!processAlive(server));
}

void tst_ServerSupervisor::autoRestartAfterACrash()
{
    StackProbe p(testHelperPath(), QStringLiteral("pid sleep 100 crash"));
    QVERIFY(!p.server()->autoRestart());
    p.server()->setAutoRestart(true);
    QCOMPARE(IniFile(appDir->iniPath()).value(QStringLiteral("/MediaServer/AutoRestart"), QString()), QStringLiteral("true"));
    p.start();
    QTRY_VERIFY(p.text().contains(QStringLiteral("  自动重启(第1次)--------------------------------------------------")));
    QTRY_COMPARE(p.text().count(QStringLiteral("pid=")), 2);
    QTRY_COMPARE(p.text().count(kCrash), 2);
    // "关闭" during the next back-off: nothing more is started.
    p.close();
    QVERIFY(!p.started);
    p.start();
    QTRY_COMPARE(p.text().count(QStringLiteral("pid=")), 3);
    QVERIFY(!p.text().contains(QStringLiteral("第2次")));
    // That run crashes and is restarted (pid 4), which crashes too; "启动"
    // while the second attempt waits drops it, and the count starts anew.
    QTRY_COMPARE(p.text().count(kCrash), 4);
    p.start();
    QTRY_COMPARE(p.text().count(kCrash), 5);
    QTRY_COMPARE(p.text().count(QStringLiteral("自动重启(第1次)")), 3);
    QVERIFY(!p.text().contains(QStringLiteral("第2次")) && !p.text().contains(QStringLiteral("第3次")));
    p.close();

    // The event log has the history, in order, whatever the output logs rotate.
    EventLog::flush();
    QFile events(appDir->path() + QStringLiteral("/logs/events.log"));
    QVERIFY(events.open(QIODevice::ReadOnly));
    const QString history = QString::fromUtf8(events.readAll());
    int at = 0;
    for (const QString &event : {QStringLiteral("[MediaServer] 程序启动"), QStringLiteral("[MediaServer] 程序异常终止"),
                                 QStringLiteral("[MediaServer] 自动重启(第1次)"), QStringLiteral("[MediaServer] 关闭 媒体服务器")}) {
        at = history.indexOf(event, at);
        QVERIFY2(at >= 0, qPrintable(event + QStringLiteral(" after the earlier events in\n") + history));
    }
}

void tst_ServerSupervisor::logFileHoldsWhatTheConsoleShows_data()
{
    QTest::addColumn<QString>("params");
    QTest::addColumn<QStringList>("lines");     // each shown and logged as a line of its own
    QTest::addColumn<QStringList>("absent");    // in neither

    QTest::newRow("colours and stderr") << QStringLiteral("out plain\x1b[31mred\x1b[0m\n err oops\n exit 0")
                                        << QStringList{"plainred", "oops"} << QStringList{"\x1b"};
    // Hostile output: nothing after a sequence is lost, nothing of one shows.
    QTest::newRow("title without end") << QStringLiteral("out \x1b]0;title\nLINE-A\nLINE-B\n exit 0")
                                       << QStringList{"LINE-A", "LINE-B"} << QStringList{"title"};
    QTest::newRow("sequence cut by a pause") << QStringLiteral("out \x1b[3 sleep 400 out 2mgreen\n exit 0")
                                             << QStringList{"green"} << QStringList{"2m", "[3"};
    QTest::newRow("huge SGR") << QStringLiteral("out \x1b[ repeat 200000 1; out 31mafter\n exit 0")
                              << QStringList{"after"} << QStringList{"1;1"};
    // "2;" and the first 4094 characters are the sequence's 4 KiB, dropped.
    QTest::newRow("title past the bound") << QStringLiteral("out \x1b]2; repeat 5000 t out shown\n exit 0")
                                          << QStringList{QString(906, 't') + "shown"} << QStringList{QString(907, 't')};
    // A read that ends mid-line: the header never lands inside the line.
    QTest::newRow("line in two reads") << QStringLiteral("out half- sleep 20 out line\n exit 0")
                                       << QStringList{"half-line"} << QStringList{};
    QTest::newRow("last line without end") << QStringLiteral("out done exit 0") << QStringList{"done"} << QStringList{};
}

void tst_ServerSupervisor::logFileHoldsWhatTheConsoleShows()
{
    QFETCH(QString, params);
    QFETCH(QStringList, lines);
    QFETCH(QStringList, absent);

    QFile::remove(appDir->path() + QStringLiteral("/logs/MediaServer.log"));
    auto p = std::make_unique<StackProbe>(testHelperPath(), params);
    p->start();
    QTRY_VERIFY(p->text().contains(kEnd));
    const QString shown = p->text();
    p.reset();   // the log is written out when its stack goes
    QFile log(appDir->path() + QStringLiteral("/logs/MediaServer.log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
#if !defined(Q_OS_WIN)
    // No other local user reads the servers' output (the "user" bits repeat the owner's).
    QCOMPARE(log.permissions() & 0xF0FF, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QCOMPARE(QFile::permissions(appDir->path() + QStringLiteral("/logs")) & 0xF0FF,
             QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
#endif
    const QByteArray bytes = log.readAll();
    // Lines end as the system's text files do.
    QVERIFY(bytes.endsWith(Platform::textLineEnd()));
    QString logged = QString::fromUtf8(bytes);
    logged.replace(QString::fromLatin1(Platform::textLineEnd()), QStringLiteral("\n"));
    QCOMPARE(logged, shown + QLatin1Char('\n'));
    const QStringList shownLines = shown.split(QLatin1Char('\n'));
    for (const QString &line : lines)
        QVERIFY2(shownLines.contains(line), qPrintable(line + QStringLiteral(" in\n") + shown.left(2000)));
    for (const QString &text : absent)
        QVERIFY2(!shown.contains(text), qPrintable(text + QStringLiteral(" in\n") + shown.left(2000)));
}

void tst_ServerSupervisor::watchdogReplacedLeavesNoTree()
{
    // The watchdog dies; the one that replaces it still ends the servers
    // when the launcher dies.
#if defined(Q_OS_WIN)
    QSKIP("Unix only: on Windows the job object ends the tree with the launcher's last handle, no watchdog");
#endif
    QProcess host;
    host.start(QStringLiteral(TESSARIN_host_launcher),
               {testHelperPath(), QStringLiteral("pid"), QStringLiteral("background"), QStringLiteral("forever")});
    QVERIFY(host.waitForStarted());
    QString out;
    QTRY_VERIFY((out += QString::fromUtf8(host.readAllStandardOutput())).contains(QStringLiteral("background="))
                && out.contains(QStringLiteral("watchdog=")));
    const qint64 watchdog = numberAfter(out, QStringLiteral("watchdog"));
    // Left behind by its start script: only the watchdog can end it.
    const qint64 grandchild = numberAfter(out, QStringLiteral("background"));
    QVERIFY2(watchdog > 0 && processAlive(grandchild), qPrintable(out));
    QVERIFY(TestSupport::endProcess(watchdog, TestSupport::Ending::Kill));
    QTRY_VERIFY((out += QString::fromUtf8(host.readAllStandardOutput())).count(QStringLiteral("watchdog=")) == 2);
    host.kill();
    QVERIFY(host.waitForFinished());
    QTRY_VERIFY_WITH_TIMEOUT(!processAlive(grandchild), 5000);
}

QTEST_GUILESS_MAIN(tst_ServerSupervisor)
#include "tst_serversupervisor.moc"
