#include "app/startup.h"

#include "platform/platform.h"
#include "remote/servicehost.h"
#include "setting/setupconfig.h"
#include "supervision/eventlog.h"
#include "supervision/serverstack.h"
#include "supervision/sipstack.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace {

const QString kSource = QStringLiteral("Launcher");
const QString kServiceName = QStringLiteral("Tessarin");

int serve(int &argc, char **argv)
{
    // No display, no window system: the platform runs with nobody logged in.
    QCoreApplication app(argc, argv);

    InstanceGuard guard;
    if (guard.othersRun()) {
        std::fprintf(stderr, "tessarin: %s\n", QStringLiteral("程序已经启动, 请勿重复启动!").toLocal8Bit().constData());
        return 1;
    }
    guard.markAsService();
    SetupConfig::instance()->initialize(QCoreApplication::applicationDirPath());
    EventLog::note(kSource, QStringLiteral("服务启动（进程 %1）").arg(QCoreApplication::applicationPid()));

    std::unique_ptr<ServerStack> media(ServerStack::mediaServer());
    std::unique_ptr<SipStack> sip(new SipStack);
    const std::initializer_list<ServerStack *> stacks{media.get(), sip.get()};
    // A window of the service's own user attaches here and shows the
    // consoles; with none, the logs alone get the servers' output.
    auto host = std::make_unique<ServiceHost>(stacks);
    QString error;
    if (!host->listen(&error))
        EventLog::note(kSource, QStringLiteral("窗口无法连接到服务：") + error);

    bool stopping = false;
    const auto allEnded = [&stacks] {
        for (const ServerStack *stack : stacks) {
            if (!stack->runningServers().isEmpty())
                return false;
        }
        return true;
    };
    // SipStack::stop also ends a wait for its services.
    const auto stopServers = [&] {
        media->stopAll();
        sip->stop();
    };
    QObject::connect(host.get(), &ServiceHost::stopAllRequested, &app, stopServers);
    Platform::onStopRequest([&] {
        stopping = true;
        EventLog::note(kSource, QStringLiteral("服务收到停止请求，关闭所有服务器"));
        stopServers();
        if (allEnded())
            app.quit();
        // What is still running then is killed as the stacks go.
        QTimer::singleShot(SetupConfig::instance()->stopGrace() * 1000 + 2000, &app, &QCoreApplication::quit);
    });
    for (ServerStack *stack : stacks) {
        QObject::connect(stack, &ServerStack::statesChanged, &app, [&] {
            if (stopping && allEnded())
                app.quit();
        });
    }
    for (ServerStack *stack : stacks)
        stack->startWithLauncher();

    const int code = app.exec();
    host.reset();
    sip.reset();
    media.reset();
    return endLauncher(code, QStringLiteral("服务已结束"));
}

} // namespace

int runService(int &argc, char **argv)
{
    Platform::restrictLibrarySearch();
    const int code = Platform::runAsSystemService(kServiceName, [&] { return serve(argc, argv); });
    return code == -1 ? serve(argc, argv) : code;
}

int manageService(int &argc, char **argv, bool install)
{
    Platform::restrictLibrarySearch();
    QCoreApplication app(argc, argv);
    QString error;
    const bool done = install ? Platform::installSystemService(kServiceName, QStringLiteral("Orvane国标28181服务器"),
                                                              QCoreApplication::applicationFilePath(), &error)
                              : Platform::removeSystemService(kServiceName, &error);
    const QString said = done ? (install ? QStringLiteral("服务已安装：%1").arg(kServiceName)
                                         : QStringLiteral("服务已删除：%1").arg(kServiceName))
                              : (install ? QStringLiteral("服务未能安装：") : QStringLiteral("服务未能删除：")) + error;
    std::fprintf(done ? stdout : stderr, "tessarin: %s\n", said.toLocal8Bit().constData());
    return done ? 0 : 1;
}
