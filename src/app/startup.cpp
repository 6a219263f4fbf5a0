#include "app/startup.h"

#include "app/mainwidget.h"
#include "platform/platform.h"
#include "setting/setupconfig.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QSharedMemory>

#include <memory>

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

int runLauncher(int &argc, char **argv)
{
    Platform::restrictLibrarySearch();
    initLauncherResources();
    QApplication app(argc, argv);
    // The window only hides on close; a parentless message box closed while
    // it is hidden must not end the program. Only the two quit paths do.
    app.setQuitOnLastWindowClosed(false);

    dropStaleGuard();
    QSharedMemory guard(QString::fromLatin1(kGuardKey));
    // Two copies started together may both find no segment to attach to; the
    // creation decides between them, so one that loses it is a second copy
    // too. Any other failure to create the guard does not keep us from running.
    const bool running = guard.attach(QSharedMemory::ReadWrite)
        || (!guard.create(1, QSharedMemory::ReadWrite) && guard.error() == QSharedMemory::AlreadyExists);
    if (running) {
        QMessageBox box(QMessageBox::NoIcon, QStringLiteral("提示"),
                        QStringLiteral("程序已经启动, 请勿重复启动!"), QMessageBox::Ok);
        box.exec();
        return 0;
    }

    SetupConfig *config = SetupConfig::instance();
    config->initialize(QCoreApplication::applicationDirPath());

    auto window = std::make_unique<MainWidget>();
    window->styleSheetTemplate = readStyleSheet(config->configDir() + QStringLiteral("/stylesheet2/stylesheet.css"));
    window->setFontSize(config->fontSize());
    window->showMaximized();

    return app.exec();
}
