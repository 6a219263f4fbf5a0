#include "coresupport.h"
#include "platform/platform.h"
#include "processprobe.h"
#include "remote/remotestack.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using TestSupport::numberAfter;
using TestSupport::processAlive;

// "tessarin --service": the launcher with no window and no display, run from
// an installation folder of its own as a system service would run it.
class tst_Service : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void startsMarkedServersAndStopsThemPolitely();
    void windowAttachesAndDetaches();
    void anotherUserIsRefused_data();
    void anotherUserIsRefused();
    void anotherUsersServiceIsRefused();

private:
    QProcess *startService();
    void configureMediaServer(const QString &param, bool marked);
    // The service's control connection, once it listens.
    std::unique_ptr<ServiceConnection> attach();
    QString readLog(const QString &name) const;

    std::unique_ptr<QTemporaryDir> folder;   // the installation
    std::unique_ptr<QTemporaryDir> tmp;      // TMPDIR: the instance guard's files
    std::vector<std::unique_ptr<QProcess>> services;
};

void tst_Service::init()
{
    folder = std::make_unique<QTemporaryDir>();
    tmp = std::make_unique<QTemporaryDir>();
    // Where this process looks for the service's socket too.
    qputenv("TMPDIR", QFile::encodeName(tmp->path()));
    QVERIFY(QFile::copy(TestSupport::launcherPath(), folder->path() + QStringLiteral("/tessarin")));
    QVERIFY(QDir().mkpath(folder->path() + QStringLiteral("/config")));
}

void tst_Service::cleanup()
{
    for (auto &service : services) {
        if (service->state() != QProcess::NotRunning) {
            service->kill();
            service->waitForFinished();
        }
    }
    services.clear();
    folder.reset();
    tmp.reset();
}

QProcess *tst_Service::startService()
{
    auto service = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // Nobody is logged in: no display of any kind.
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "XDG_SESSION_TYPE"})
        env.remove(QLatin1String(name));
    env.insert(QStringLiteral("TMPDIR"), tmp->path());
    service->setProcessEnvironment(env);
    service->setProgram(folder->path() + QStringLiteral("/tessarin"));
    service->setArguments({QStringLiteral("--service")});
    service->setProcessChannelMode(QProcess::ForwardedOutputChannel);
    service->start();
    services.push_back(std::move(service));
    return services.back().get();
}

QString tst_Service::readLog(const QString &name) const
{
    QFile log(folder->path() + QStringLiteral("/logs/") + name);
    return log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
}

void tst_Service::configureMediaServer(const QString &param, bool marked)
{
    QSettings ini(folder->path() + QStringLiteral("/config/SetupConfig.ini"), QSettings::IniFormat);
    TestSupport::useUtf8(ini);
    ini.setValue(QStringLiteral("/MediaServer/ProgramPath"), TestSupport::testHelperPath());
    ini.setValue(QStringLiteral("/MediaServer/Param"), param);
    ini.setValue(QStringLiteral("/MediaServer/StartWithLauncher"), marked);
    // Not marked: stays down.
    ini.setValue(QStringLiteral("/SipServer/ProgramPath"), TestSupport::testHelperPath());
    ini.setValue(QStringLiteral("/SipServer/Param"), QStringLiteral("label sip- pid forever"));
    ini.setValue(QStringLiteral("/SetupMysql/State"), false);
    ini.setValue(QStringLiteral("/SetupRedisParam/State"), false);
}

std::unique_ptr<ServiceConnection> tst_Service::attach()
{
    std::unique_ptr<ServiceConnection> connection;
    ServiceConnection::Outcome outcome = ServiceConnection::Outcome::Unreachable;
    QString why;
    const bool attached = QTest::qWaitFor([&] {
        connection = ServiceConnection::attach(Platform::controlServerName(), &outcome, &why);
        // Busy: the window before has not been seen to go yet.
        return connection != nullptr;
    }, 10000);
    if (!attached)
        qWarning("not attached: %s", qPrintable(why));
    return connection;
}

void tst_Service::startsMarkedServersAndStopsThemPolitely()
{
    const QString marker = folder->path() + QStringLiteral("/stopped-politely");
    configureMediaServer(QStringLiteral("pid onterm %1 forever").arg(marker), true);
    QProcess *service = startService();
    QVERIFY(service->waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(readLog(QStringLiteral("MediaServer.log")).contains(QStringLiteral("pid=")), 10000);
    const qint64 server = numberAfter(readLog(QStringLiteral("MediaServer.log")), QStringLiteral("pid"));
    QVERIFY(processAlive(server));
    QVERIFY(readLog(QStringLiteral("MediaServer.log")).contains(QStringLiteral("随启动器启动")));
    QVERIFY(!readLog(QStringLiteral("SipServer.log")).contains(QStringLiteral("sip-pid")));

    // One launcher per installation, window or service.
    QProcess *second = startService();
    QVERIFY(second->waitForFinished(10000));
    QCOMPARE(second->exitCode(), 1);
    QVERIFY(processAlive(server));

    service->terminate();   // what systemd sends to stop the unit
    QVERIFY(service->waitForFinished(15000));
    QCOMPARE(service->exitStatus(), QProcess::NormalExit);
    QCOMPARE(service->exitCode(), 0);
    QVERIFY(!processAlive(server));
    QVERIFY(QFile::exists(marker));
    QVERIFY(readLog(QStringLiteral("MediaServer.log")).contains(QStringLiteral("程序结束--")));
    QVERIFY(readLog(QStringLiteral("events.log")).contains(QStringLiteral("服务收到停止请求")));
}

namespace {

QString consoleText(RemoteStack *stack)
{
    QString text;
    qint64 skipped = 0;
    while (stack->queue()->hasPending()) {
        for (const FeedQueue::Item &item : stack->queue()->take(1 << 20, &skipped))
            text += item.text + QLatin1Char('\n');
    }
    return text;
}

} // namespace

// The window's side of the service: presses reach the service's servers,
// what they write comes back, and a window that goes leaves them running.
void tst_Service::windowAttachesAndDetaches()
{
    const QString marker = folder->path() + QStringLiteral("/stopped-politely");
    configureMediaServer(QString(), false);
    QProcess *service = startService();
    QVERIFY(service->waitForStarted());
    auto window = attach();
    QVERIFY(window);
    std::unique_ptr<RemoteStack> media(window->takeStack(0));

    // 启动 with the fields as typed in the window.
    media->setFields([&] {
        return ServerParam{TestSupport::testHelperPath(), QString(), QStringLiteral("pid onterm %1 forever").arg(marker), 1000};
    });
    QString console;
    media->start();
    QTRY_VERIFY_WITH_TIMEOUT((console += consoleText(media.get())).contains(QStringLiteral("pid=")), 10000);
    QTRY_COMPARE(media->runningServers(), QStringList{QStringLiteral("媒体服务器")});
    const qint64 server = numberAfter(console, QStringLiteral("pid"));
    QVERIFY(processAlive(server));
    QVERIFY(console.contains(QStringLiteral("程序启动")));
    // The service saved what the window typed.
    const QSettings saved(folder->path() + QStringLiteral("/config/SetupConfig.ini"), QSettings::IniFormat);
    QVERIFY(saved.value(QStringLiteral("/MediaServer/Param")).toString().contains(marker));
    QTRY_VERIFY(!media->figures().isEmpty());

    // 关闭: the polite stop.
    media->stop();
    QTRY_VERIFY_WITH_TIMEOUT(media->runningServers().isEmpty(), 10000);
    QVERIFY(!processAlive(server));
    QVERIFY(QFile::exists(marker));
    QFile::remove(marker);

    // The window goes: the server it started stays.
    consoleText(media.get());
    console.clear();
    media->start();
    QTRY_VERIFY_WITH_TIMEOUT(!media->runningServers().isEmpty(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT((console += consoleText(media.get())).contains(QStringLiteral("pid=")), 10000);
    const qint64 second = numberAfter(console, QStringLiteral("pid"));
    media.reset();
    window.reset();
    QTRY_VERIFY_WITH_TIMEOUT(readLog(QStringLiteral("events.log")).contains(QStringLiteral("窗口已断开，服务继续运行")), 10000);
    QVERIFY(processAlive(second));

    // A window comes back and finds it running; a second window is refused.
    window = attach();
    QVERIFY(window);
    QTRY_VERIFY(!window->stack(0)->runningServers().isEmpty());
    ServiceConnection::Outcome outcome = ServiceConnection::Outcome::Attached;
    QString why;
    QVERIFY(!ServiceConnection::attach(Platform::controlServerName(), &outcome, &why));
    QCOMPARE(outcome, ServiceConnection::Outcome::Busy);
    QCOMPARE(why, QStringLiteral("程序已经启动, 请勿重复启动!"));

    // The window's confirmed "停止所有服务器".
    window->stopAll();
    QTRY_VERIFY_WITH_TIMEOUT(!processAlive(second), 10000);
    QVERIFY(QFile::exists(marker));
    QCOMPARE(service->state(), QProcess::Running);
    service->terminate();
    QVERIFY(service->waitForFinished(15000));
    QCOMPARE(service->exitCode(), 0);
}

void tst_Service::anotherUserIsRefused_data()
{
    QTest::addColumn<bool>("folderOpened");
    // The private folder keeps the socket out of reach.
    QTest::newRow("private folder") << false;
    // Should it be reachable, the service still closes a stranger's connection.
    QTest::newRow("folder opened") << true;
}

void tst_Service::anotherUserIsRefused()
{
    QFETCH(bool, folderOpened);
    if (::geteuid() != 0)
        QSKIP("becoming another user needs root");
    configureMediaServer(QString(), false);
    QProcess *service = startService();
    QVERIFY(service->waitForStarted());
    QVERIFY(attach());  // listening; that window goes again at once
    const QByteArray path = QFile::encodeName(Platform::controlServerName());
    if (folderOpened) {
        QVERIFY(::chmod(QFile::encodeName(QFileInfo(Platform::controlServerName()).path()).constData(), 0755) == 0);
        QVERIFY(::chmod(path.constData(), 0777) == 0);
        QVERIFY(::chmod(QFile::encodeName(tmp->path()).constData(), 0755) == 0);
    }

    // nobody: connects, and reads what the service says (a welcome frame).
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(3);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.constData(), sizeof address.sun_path - 1);
        if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
            ::_exit(errno == EACCES ? 0 : 4);
        char byte = 0;
        ::_exit(::read(fd, &byte, 1) > 0 ? 1 : 2);
    }
    QVERIFY(child > 0);
    int status = 0;
    QCOMPARE(::waitpid(child, &status, 0), child);
    QVERIFY(WIFEXITED(status));
    // 0: not even a connection; 2: connected, closed unanswered.
    QCOMPARE(WEXITSTATUS(status), folderOpened ? 2 : 0);
    // The service's own user still gets in.
    QVERIFY(attach());
}

// A user who may not write the settings folder (and so cannot share the
// lock file there) still finds the installation's launcher running.
void tst_Service::anotherUsersServiceIsRefused()
{
    if (::geteuid() != 0)
        QSKIP("becoming another user needs root");
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    QVERIFY2(!setpriv.isEmpty(), "setpriv (util-linux) is missing");
    configureMediaServer(QString(), false);
    QProcess *service = startService();
    QVERIFY(service->waitForStarted());
    QVERIFY(attach());  // it runs
    QVERIFY(::chmod(QFile::encodeName(folder->path()).constData(), 0755) == 0);

    QProcess other;
    other.setProcessChannelMode(QProcess::ForwardedOutputChannel);
    other.start(setpriv, {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups"),
                          folder->path() + QStringLiteral("/tessarin"), QStringLiteral("--service")});
    QVERIFY(other.waitForFinished(10000));
    QCOMPARE(other.exitCode(), 1);
}

QTEST_GUILESS_MAIN(tst_Service)
#include "tst_service.moc"
