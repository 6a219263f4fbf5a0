#include "app/startup.h"

#include "app/mainwidget.h"
#include "database/sqlprocessthread.h"
#include "platform/platform.h"
#include "remote/remotestack.h"
#include "setting/setupconfig.h"
#include "supervision/eventlog.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QSharedMemory>

#include <chrono>
#include <cstdio>
#include <future>
#include <memory>
#include <thread>

void initLauncherResources()
{
    Q_INIT_RESOURCE(resources);
}

namespace {

const char *const kGuardKey = "Tessarin";

// A System V segment outlives a holder that was killed or crashed; every
// later start would then refuse itself. Attaching and detaching once removes
// a segment nobody else is attached to, while a live copy keeps it.
void dropStaleGuard()
{
    Platform::dropStaleGuard(QString::fromLatin1(kGuardKey));
}

QString readStyleSheet(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QByteArray bytes = file.readAll();
    const int zero = bytes.indexOf('\0');
    if (zero >= 0)
        bytes.truncate(zero);
    return QString::fromUtf8(bytes);
}

} // namespace

InstanceGuard::InstanceGuard()
{
    // On Unix a lock file only our own user can make decides; the shared
    // memory guard is still held for whoever looks for it.
    const Platform::InstanceLock lock =
        Platform::lockSingleInstance(QCoreApplication::applicationDirPath() + QStringLiteral("/config"));
    // Another local user's objects behind the shared memory guard can make
    // it wait for ever: it gets two seconds, off the main thread.
    auto guard = std::make_shared<QSharedMemory>();
    const QString native = Platform::guardNativeKey(QString::fromLatin1(kGuardKey));
    if (native.isEmpty())
        guard->setKey(QString::fromLatin1(kGuardKey));
    else
        guard->setNativeKey(native);
    memory = guard;
    // 0: nobody else, 1: another copy, 2: another copy that is the service.
    std::packaged_task<int()> check([guard] {
        dropStaleGuard();
        if (guard->attach(QSharedMemory::ReadWrite)) {
            guard->lock();
            const bool service = static_cast<const char *>(guard->constData())[0] == 1;
            guard->unlock();
            return service ? 2 : 1;
        }
        // Two copies started together may both find no segment to attach
        // to; the creation decides between them, so one that loses it is a
        // second copy too. Any other failure does not keep us from running.
        return !guard->create(1, QSharedMemory::ReadWrite) && guard->error() == QSharedMemory::AlreadyExists ? 1 : 0;
    });
    std::future<int> guardSays = check.get_future();
    std::thread(std::move(check)).detach();
    const bool guardAnswered = guardSays.wait_for(std::chrono::seconds(2)) == std::future_status::ready;
    const int holder = guardAnswered ? guardSays.get() : 0;
    const bool guardRunning = holder > 0;
    service = holder == 2;
    running = lock == Platform::InstanceLock::HeldElsewhere || (lock == Platform::InstanceLock::NotUsed && guardRunning);
}

void InstanceGuard::markAsService()
{
    // A fresh segment is all zeros; only the copy that made it marks it.
    if (!memory || !memory->isAttached() || running)
        return;
    memory->lock();
    static_cast<char *>(memory->data())[0] = 1;
    memory->unlock();
}

int runLauncher(int &argc, char **argv)
{
    Platform::restrictLibrarySearch();
    initLauncherResources();
    QApplication app(argc, argv);
    // The window only hides on close; a parentless message box closed while
    // it is hidden must not end the program. Only the two quit paths do.
    app.setQuitOnLastWindowClosed(false);

    const InstanceGuard guard;
    // While the service runs, the servers are its own: the window shows
    // them through the service, or not at all.
    std::unique_ptr<ServiceConnection> service;
    if (guard.othersRun()) {
        QString text = QStringLiteral("程序已经启动, 请勿重复启动!");
        // Whoever runs, a service of this user's lets the window attach.
        ServiceConnection::Outcome outcome = ServiceConnection::Outcome::Unreachable;
        QString why;
        service = ServiceConnection::attach(Platform::controlServerName(), &outcome, &why);
        if (outcome == ServiceConnection::Outcome::Busy) {
            text = why;
        } else if (!service && guard.serviceRuns()) {
            text = QStringLiteral("平台正以服务方式运行，服务器由服务监管，不能再打开窗口。\n"
                                  "只有服务的用户（root / Administrators）可以连接到服务：%1")
                       .arg(why);
        }
        if (!service) {
            std::fprintf(stderr, "tessarin: %s\n", text.toLocal8Bit().constData());
            QMessageBox box(QMessageBox::NoIcon, QStringLiteral("提示"), text, QMessageBox::Ok);
            box.exec();
            return 0;
        }
    }

    SetupConfig *config = SetupConfig::instance();
    config->initialize(QCoreApplication::applicationDirPath());
    EventLog::note(QStringLiteral("Launcher"),
                   (service ? QStringLiteral("窗口启动，连接到服务（进程 %1）") : QStringLiteral("启动器启动（进程 %1）"))
                       .arg(QCoreApplication::applicationPid()));

    auto window = std::make_unique<MainWidget>(service.get());
    window->styleSheetTemplate = readStyleSheet(config->configDir() + QStringLiteral("/stylesheet2/stylesheet.css"));
    window->setFontSize(config->fontSize());
    window->showMaximized();
    window->startMarkedServers();

    const int code = app.exec();
    // The servers are stopped and the logs written when the window goes.
    window.reset();
    const bool attached = service != nullptr;
    service.reset();
    return endLauncher(code, attached ? QStringLiteral("窗口已关闭，服务继续运行") : QStringLiteral("启动器已结束"));
}

int endLauncher(int code, const QString &ended)
{
    EventLog::note(QStringLiteral("Launcher"), ended);
    if (SqlProcessThread::anyLeftRunning()) {
        EventLog::flush();
        Platform::endProcessNow(code);
    }
    return code;
}
