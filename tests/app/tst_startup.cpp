// Start-up of the real launcher executable: copies of it in temporary
// folders, run as separate processes on a private Xvfb display so that their
// windows can be seen and their message boxes answered from outside with
// xdotool. Each test gives its copies their own TMPDIR, where QSharedMemory
// keeps the key file of the single-instance guard, so neither a launcher the
// developer is running nor a parallel test can interfere.

#include "testsupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QSystemSemaphore>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <vector>

#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <unistd.h>

namespace {

const QString kTitle = QStringLiteral("Orvane国标28181服务器 V 1.4");
constexpr int kWait = 30000; // upper bound for a window to appear; never a measured time

struct FileState
{
    QByteArray bytes;
    QDateTime modified;
    bool operator==(const FileState &o) const { return bytes == o.bytes && modified == o.modified; }
};

FileState fileState(const QString &path)
{
    QFile f(path);
    FileState s;
    if (f.open(QIODevice::ReadOnly))
        s.bytes = f.readAll();
    s.modified = QFileInfo(path).lastModified();
    return s;
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void firstStartCreatesSettingsAndRuns();
    void secondCopyIsRefused();
    void guardHeldByAnotherUser();
    void twoCopiesStartedTogether();
    void newCopyStartsAfterTheFirstEnds_data();
    void newCopyStartsAfterTheFirstEnds();
    void missingStyleSheetStillOpensWindow();
    void windowWhileTheServiceRuns();

private:
    // A ready-to-run folder: a copy of the launcher, with or without its
    // style sheet.
    QString makeRunFolder(bool withStyleSheet);
    // arguments given, its standard error is kept for the test instead of shown.
    QProcess *startLauncher(const QString &program, const QStringList &arguments = QStringList());
    QString xdotool(const QStringList &args);
    QStringList visibleWindows(QProcess *launcher, const QString &name = QString());
    QString windowName(const QString &id);
    // Answers the message box of a refused copy with Return and returns the
    // copy's exit code (-1 if it did not end).
    int closeRefusalBox(QProcess *launcher, const QString &boxId);
    // Waits for a copy's one window, the "提示" box of a refused start, and
    // closes it: the copy's exit code, -1 when it showed anything else.
    int answerRefusal(QProcess *copy);
    void removeGuardLeftovers();

    QProcess xvfb;
    QString display;
    std::unique_ptr<QTemporaryDir> tmpDir; // TMPDIR of this test's launchers
    std::vector<std::unique_ptr<QTemporaryDir>> runFolders;
    std::vector<std::unique_ptr<QProcess>> launchers;
};

void TestStartup::initTestCase()
{
    const QString xvfbPath = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
    QVERIFY2(!xvfbPath.isEmpty(), "Xvfb is missing: run scripts/deps.sh");
    QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty(),
             "xdotool is missing: run scripts/deps.sh");
    QVERIFY2(QFileInfo(TestSupport::launcherPath()).isExecutable(), qPrintable(TestSupport::launcherPath()));

    // -displayfd lets the server pick a free display number and tell us;
    // -noreset keeps it from resetting whenever its last client (between two
    // tests) disconnects, which would refuse a launcher connecting just then.
    xvfb.setProgram(xvfbPath);
    xvfb.setArguments({QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-noreset"),
                       QStringLiteral("-screen"), QStringLiteral("0"), QStringLiteral("1280x720x24"),
                       QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    xvfb.setProcessChannelMode(QProcess::SeparateChannels);
    xvfb.setStandardErrorFile(QProcess::nullDevice());
    xvfb.start();
    QVERIFY(xvfb.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(xvfb.canReadLine() || xvfb.state() != QProcess::Running, kWait);
    const QByteArray number = xvfb.readLine().trimmed();
    QVERIFY2(!number.isEmpty(), "Xvfb did not report a display");
    display = QLatin1Char(':') + QString::fromLatin1(number);
}

void TestStartup::cleanupTestCase()
{
    if (xvfb.state() != QProcess::NotRunning) {
        xvfb.terminate();
        if (!xvfb.waitForFinished(kWait))
            xvfb.kill();
        xvfb.waitForFinished();
    }
}

void TestStartup::init()
{
    tmpDir = std::make_unique<QTemporaryDir>();
    QVERIFY(tmpDir->isValid());
}

void TestStartup::cleanup()
{
    for (auto &launcher : launchers) {
        if (launcher->state() != QProcess::NotRunning) {
            launcher->kill();
            launcher->waitForFinished();
        }
    }
    launchers.clear();
    removeGuardLeftovers();
    runFolders.clear();
    tmpDir.reset();
}

QString TestStartup::makeRunFolder(bool withStyleSheet)
{
    runFolders.push_back(std::make_unique<QTemporaryDir>());
    const QString dir = runFolders.back()->path();
    const QString program = dir + QStringLiteral("/tessarin");
    if (!QFile::copy(TestSupport::launcherPath(), program))
        return QString();
    if (withStyleSheet) {
        QDir().mkpath(dir + QStringLiteral("/config/stylesheet2"));
        if (!QFile::copy(TestSupport::sourceDir() + QStringLiteral("/config/stylesheet2/stylesheet.css"),
                         dir + QStringLiteral("/config/stylesheet2/stylesheet.css")))
            return QString();
    }
    return program;
}

QProcess *TestStartup::startLauncher(const QString &program, const QStringList &arguments)
{
    auto process = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    env.insert(QStringLiteral("DISPLAY"), display);
    env.insert(QStringLiteral("TMPDIR"), tmpDir->path());
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), tmpDir->path()); // private (0700), like a real one
    process->setProcessEnvironment(env);
    process->setProgram(program);
    process->setArguments(arguments);
    process->setProcessChannelMode(arguments.isEmpty() ? QProcess::ForwardedErrorChannel : QProcess::SeparateChannels);
    process->setStandardOutputFile(QProcess::nullDevice());
    process->start();
    process->waitForStarted();
    launchers.push_back(std::move(process));
    return launchers.back().get();
}

QString TestStartup::xdotool(const QStringList &args)
{
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), display);
    p.setProcessEnvironment(env);
    p.start(QStringLiteral("xdotool"), args);
    if (!p.waitForFinished(kWait)) {
        p.kill();
        p.waitForFinished();
    }
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

QStringList TestStartup::visibleWindows(QProcess *launcher, const QString &name)
{
    QStringList args{QStringLiteral("search"), QStringLiteral("--all"), QStringLiteral("--onlyvisible"),
                     QStringLiteral("--pid"), QString::number(launcher->processId())};
    if (!name.isEmpty())
        args << QStringLiteral("--name") << name;
    return xdotool(args).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QString TestStartup::windowName(const QString &id)
{
    return xdotool({QStringLiteral("getwindowname"), id});
}

int TestStartup::closeRefusalBox(QProcess *launcher, const QString &boxId)
{
    // A key that arrives before the box has its focus is lost, so press
    // Return until the copy ends.
    for (int attempt = 0; attempt < 10 && launcher->state() != QProcess::NotRunning; ++attempt) {
        xdotool({QStringLiteral("windowfocus"), boxId, QStringLiteral("key"), QStringLiteral("Return")});
        launcher->waitForFinished(3000);
    }
    if (launcher->state() != QProcess::NotRunning || launcher->exitStatus() != QProcess::NormalExit)
        return -1;
    return launcher->exitCode();
}

int TestStartup::answerRefusal(QProcess *copy)
{
    QStringList boxes;
    if (!QTest::qWaitFor([&] { return !(boxes = visibleWindows(copy)).isEmpty() || copy->state() == QProcess::NotRunning; },
                         kWait)
        || copy->state() != QProcess::Running || boxes.size() != 1 || windowName(boxes.first()) != QStringLiteral("提示")) {
        qWarning("not one refusal box: %d window(s)", int(boxes.size()));
        return -1;
    }
    return closeRefusalBox(copy, boxes.first());
}

void TestStartup::removeGuardLeftovers()
{
    // A killed launcher leaves its System V segment and semaphore behind (the
    // next start in the same TMPDIR would recover them); remove them here so
    // that test runs do not pile them up in the kernel. Only called once every
    // launcher of the test has ended.
    if (!tmpDir)
        return;
    const QDir dir(tmpDir->path());
    for (const QString &name : dir.entryList({QStringLiteral("qipc_*")}, QDir::Files)) {
        const key_t key = ftok(QFile::encodeName(dir.filePath(name)).constData(), 'Q');
        if (key == -1)
            continue;
        const int shm = shmget(key, 0, 0);
        if (shm != -1)
            shmctl(shm, IPC_RMID, nullptr);
        const int sem = semget(key, 0, 0);
        if (sem != -1)
            semctl(sem, 0, IPC_RMID);
    }
}

void TestStartup::firstStartCreatesSettingsAndRuns()
{
    const QString program = makeRunFolder(true);
    QVERIFY(!program.isEmpty());
    const QString ini = QFileInfo(program).path() + QStringLiteral("/config/SetupConfig.ini");
    QVERIFY(!QFileInfo::exists(ini));

    QProcess *first = startLauncher(program);
    QTRY_VERIFY_WITH_TIMEOUT(!visibleWindows(first, QStringLiteral("Orvane")).isEmpty()
                                 || first->state() == QProcess::NotRunning,
                             kWait);
    QCOMPARE(first->state(), QProcess::Running);
    // The settings are written before the window is built.
    QVERIFY(QFileInfo(ini).isFile());
    QSettings settings(ini, QSettings::IniFormat);
    QCOMPARE(settings.allKeys().size(), 25);

    const QStringList windows = visibleWindows(first);
    QCOMPARE(windows.size(), 1);
    QCOMPARE(windowName(windows.first()), kTitle);
}

void TestStartup::secondCopyIsRefused()
{
    const QString program = makeRunFolder(true);
    QVERIFY(!program.isEmpty());
    const QString ini = QFileInfo(program).path() + QStringLiteral("/config/SetupConfig.ini");

    QProcess *first = startLauncher(program);
    QTRY_VERIFY_WITH_TIMEOUT(!visibleWindows(first, QStringLiteral("Orvane")).isEmpty(), kWait);
    QVERIFY(QFileInfo(ini).isFile());
    {
        // With a key missing, a copy that loaded the settings would add it.
        QSettings settings(ini, QSettings::IniFormat);
        settings.remove(QStringLiteral("/Time/WaitProcess"));
    }
    const FileState before = fileState(ini);
    QVERIFY(!before.bytes.contains("WaitProcess"));
    const QStringList configBefore = QDir(QFileInfo(ini).path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);

    QProcess *second = startLauncher(program);
    QCOMPARE(answerRefusal(second), 0);

    QVERIFY(fileState(ini) == before);
    QCOMPARE(QDir(QFileInfo(ini).path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), configBefore);
    // The first copy is not disturbed.
    QCOMPARE(first->state(), QProcess::Running);
    QCOMPARE(visibleWindows(first, QStringLiteral("Orvane")).size(), 1);
}

// The service holds the installation: a window started beside it is refused,
// and says why; the service runs on.
void TestStartup::windowWhileTheServiceRuns()
{
    const QString program = makeRunFolder(true);
    QVERIFY(!program.isEmpty());
    const QString events = QFileInfo(program).path() + QStringLiteral("/logs/events.log");
    QProcess *service = startLauncher(program, {QStringLiteral("--service")});
    QTRY_VERIFY_WITH_TIMEOUT(fileState(events).bytes.contains("服务启动"), kWait);

    // The window attaches to the service instead of starting servers itself.
    QProcess *window = startLauncher(program, {QStringLiteral("-platform"), QStringLiteral("xcb")});
    QTRY_VERIFY_WITH_TIMEOUT(!visibleWindows(window, QStringLiteral("Orvane")).isEmpty(), kWait);
    QTRY_VERIFY_WITH_TIMEOUT(fileState(events).bytes.contains("窗口已连接到服务"), kWait);

    // One window at a time.
    QProcess *second = startLauncher(program, {QStringLiteral("-platform"), QStringLiteral("xcb")});
    QCOMPARE(answerRefusal(second), 0);
    const QString said = QString::fromLocal8Bit(second->readAllStandardError());
    QVERIFY2(said.contains(QStringLiteral("请勿重复启动")), qPrintable(said));

    // The window goes, however it goes: the service stays.
    window->kill();
    QVERIFY(window->waitForFinished(kWait));
    QTRY_VERIFY_WITH_TIMEOUT(fileState(events).bytes.contains("窗口已断开，服务继续运行"), kWait);
    QCOMPARE(service->state(), QProcess::Running);
    service->terminate();
    QVERIFY(service->waitForFinished(kWait));
    QCOMPARE(service->exitCode(), 0);
}

// Another local user holds the shared memory guard's lock in the shared temp
// folder: the launcher still starts, and the lock file alone still refuses a
// second copy.
void TestStartup::guardHeldByAnotherUser()
{
    if (::geteuid() != 0)
        QSKIP("running a helper as another user needs root");
    QVERIFY(QFile::setPermissions(tmpDir->path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner
                                                      | QFileDevice::ReadOther | QFileDevice::WriteOther
                                                      | QFileDevice::ExeOther));
    launchers.push_back(std::make_unique<QProcess>());
    QProcess *holder = launchers.back().get();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("TMPDIR"), tmpDir->path());
    holder->setProcessEnvironment(env);
    holder->start(QStringLiteral("setpriv"), {QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                                              QStringLiteral("--clear-groups"), QStringLiteral(TESSARIN_host_launcher),
                                              QStringLiteral("--hold-guard"), QStringLiteral("Tessarin")});
    QByteArray said;
    QTRY_VERIFY_WITH_TIMEOUT((said += holder->readAllStandardOutput()).contains("held")
                                 || holder->state() == QProcess::NotRunning, kWait);
    QVERIFY2(said.contains("held"), holder->readAllStandardError().constData());

    const QString program = makeRunFolder(true);
    QVERIFY(!program.isEmpty());
    QProcess *first = startLauncher(program);
    QTRY_VERIFY_WITH_TIMEOUT(!visibleWindows(first, QStringLiteral("Orvane")).isEmpty()
                                 || first->state() == QProcess::NotRunning, kWait);
    QCOMPARE(first->state(), QProcess::Running);

    QProcess *second = startLauncher(program);
    QCOMPARE(answerRefusal(second), 0);
}

void TestStartup::twoCopiesStartedTogether()
{
    const QString program = makeRunFolder(true);
    QVERIFY(!program.isEmpty());

    // QSharedMemory takes a system semaphore of the same key around attach
    // and create, which anybody on the machine may create and hold: held
    // here while both copies start, it must neither hang them nor let both
    // run. The lock file decides between the two.

    for (int round = 0; round < 3; ++round) {
        const QByteArray ownTmp = qgetenv("TMPDIR");
        qputenv("TMPDIR", QFile::encodeName(tmpDir->path()));
        QSystemSemaphore guardLock(QStringLiteral("Tessarin"), 1, QSystemSemaphore::Open);
        qputenv("TMPDIR", ownTmp);
        QVERIFY(guardLock.acquire());
        QProcess *copies[] = {startLauncher(program), startLauncher(program)};

        // Whichever wins, exactly one runs and the other is refused.
        QStringList names;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                names.clear();
                for (QProcess *copy : copies) {
                    const QStringList windows = visibleWindows(copy);
                    if (windows.size() != 1)
                        return false;
                    names << windowName(windows.first());
                }
                return true;
            }(),
            kWait);
        const int refused = names.indexOf(QStringLiteral("提示"));
        QVERIFY2(refused >= 0 && names.at(1 - refused) == kTitle, qPrintable(names.join(QLatin1String(" | "))));
        QCOMPARE(closeRefusalBox(copies[refused], visibleWindows(copies[refused]).first()), 0);
        QCOMPARE(copies[1 - refused]->state(), QProcess::Running);
        QVERIFY(guardLock.release());

        // Killed, the winner leaves its guard behind; removed here, so that
        // each round starts as the first did.
        copies[1 - refused]->kill();
        QVERIFY(copies[1 - refused]->waitForFinished(kWait));
        removeGuardLeftovers();
    }
}

void TestStartup::newCopyStartsAfterTheFirstEnds_data()
{
    QTest::addColumn<QString>("howItEnds");
    QTest::newRow("quit button") << "quit";
    QTest::newRow("SIGTERM") << "term";
    QTest::newRow("SIGKILL") << "kill";
}

void TestStartup::newCopyStartsAfterTheFirstEnds()
{
    QFETCH(QString, howItEnds);

    const QString program = makeRunFolder(true);
    QVERIFY(!program.isEmpty());
    const QString ini = QFileInfo(program).path() + QStringLiteral("/config/SetupConfig.ini");

    QProcess *first = startLauncher(program);
    QStringList windows;
    QTRY_VERIFY_WITH_TIMEOUT(!(windows = visibleWindows(first, QStringLiteral("Orvane"))).isEmpty(), kWait);

    if (howItEnds == QLatin1String("quit")) {
        {
            // A stored size the running copy does not hold: the quit must
            // write its own size (12) over it.
            QSettings settings(ini, QSettings::IniFormat);
            settings.setValue(QStringLiteral("/Font/Size"), 40);
        }
        // The quit button sits in the window's bottom-right corner.
        const QString id = windows.first();
        const QStringList geometry = xdotool({QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), id})
                                         .split(QLatin1Char('\n'));
        int width = 0;
        int height = 0;
        for (const QString &line : geometry) {
            if (line.startsWith(QLatin1String("WIDTH=")))
                width = line.mid(6).toInt();
            if (line.startsWith(QLatin1String("HEIGHT=")))
                height = line.mid(7).toInt();
        }
        QVERIFY(width > 100 && height > 100);
        xdotool({QStringLiteral("mousemove"), QStringLiteral("--window"), id, QString::number(width - 24),
                 QString::number(height - 18), QStringLiteral("click"), QStringLiteral("1")});
        QVERIFY2(first->waitForFinished(kWait), "the quit button did not end the launcher");
        QCOMPARE(first->exitStatus(), QProcess::NormalExit);
        QCOMPARE(first->exitCode(), 0);
        QSettings settings(ini, QSettings::IniFormat);
        QCOMPARE(settings.value(QStringLiteral("/Font/Size")).toString(), QStringLiteral("12"));
    } else {
        if (howItEnds == QLatin1String("term"))
            first->terminate();
        else
            first->kill();
        QVERIFY(first->waitForFinished(kWait));
        // Nothing was released: the guard is left to the next start.
        QVERIFY(!QDir(tmpDir->path()).entryList({QStringLiteral("qipc_sharedmemory_*")}, QDir::Files).isEmpty());
    }

    QProcess *next = startLauncher(program);
    QTRY_VERIFY_WITH_TIMEOUT(!visibleWindows(next, QStringLiteral("Orvane")).isEmpty()
                                 || next->state() == QProcess::NotRunning,
                             kWait);
    QCOMPARE(next->state(), QProcess::Running);
    QCOMPARE(visibleWindows(next).size(), 1); // the main window, no refusal box

    // The recovered guard still keeps out a copy started while this one runs.
    QProcess *another = startLauncher(program);
    QCOMPARE(answerRefusal(another), 0);
    QCOMPARE(next->state(), QProcess::Running);
}

void TestStartup::missingStyleSheetStillOpensWindow()
{
    const QString program = makeRunFolder(false);
    QVERIFY(!program.isEmpty());
    QVERIFY(!QFileInfo::exists(QFileInfo(program).path() + QStringLiteral("/config/stylesheet2/stylesheet.css")));

    QProcess *launcher = startLauncher(program);
    QTRY_VERIFY_WITH_TIMEOUT(!visibleWindows(launcher, QStringLiteral("Orvane")).isEmpty()
                                 || launcher->state() == QProcess::NotRunning,
                             kWait);
    QCOMPARE(launcher->state(), QProcess::Running);
    QCOMPARE(visibleWindows(launcher).size(), 1);
}

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
