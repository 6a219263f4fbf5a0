#include "coresupport.h"
#include "processprobe.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

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

private:
    QProcess *startService();
    QString readLog(const QString &name) const;

    std::unique_ptr<QTemporaryDir> folder;   // the installation
    std::unique_ptr<QTemporaryDir> tmp;      // TMPDIR: the instance guard's files
    std::vector<std::unique_ptr<QProcess>> services;
};

void tst_Service::init()
{
    folder = std::make_unique<QTemporaryDir>();
    tmp = std::make_unique<QTemporaryDir>();
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

void tst_Service::startsMarkedServersAndStopsThemPolitely()
{
    const QString marker = folder->path() + QStringLiteral("/stopped-politely");
    {
        QSettings ini(folder->path() + QStringLiteral("/config/SetupConfig.ini"), QSettings::IniFormat);
        TestSupport::useUtf8(ini);
        ini.setValue(QStringLiteral("/MediaServer/ProgramPath"), TestSupport::testHelperPath());
        ini.setValue(QStringLiteral("/MediaServer/Param"), QStringLiteral("pid onterm %1 forever").arg(marker));
        ini.setValue(QStringLiteral("/MediaServer/StartWithLauncher"), true);
        // Not marked: stays down.
        ini.setValue(QStringLiteral("/SipServer/ProgramPath"), TestSupport::testHelperPath());
        ini.setValue(QStringLiteral("/SipServer/Param"), QStringLiteral("label sip- pid forever"));
        ini.setValue(QStringLiteral("/SetupMysql/State"), false);
        ini.setValue(QStringLiteral("/SetupRedisParam/State"), false);
    }
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

QTEST_GUILESS_MAIN(tst_Service)
#include "tst_service.moc"
