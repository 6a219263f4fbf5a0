#include "app/mainwidget.h"

#include "platform/platform.h"
#include "remote/remotestack.h"
#include "setting/setupconfig.h"
#include "supervision/serverstack.h"
#include "supervision/eventlog.h"
#include "ui/setup/mediaserver/mediaserversetup.h"
#include "ui/setup/sipserver/sipserversetup.h"
#include "ui/widgets/confirmbox.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDir>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>
#include <QResizeEvent>
#include <QSignalBlocker>
#include <QScreen>
#include <QSlider>
#include <QSplitter>
#include <QSystemTrayIcon>
#include <QTime>
#include <QUrl>
#include <QVBoxLayout>

namespace {
constexpr int kMinFontSize = 12;
constexpr int kMaxFontSize = 60;
} // namespace

MainWidget::MainWidget(ServiceConnection *attachedTo, QWidget *parent)
    : QWidget(parent)
    , service(attachedTo)
{
    initUi();
    initConnect();
}

MainWidget::~MainWidget()
{
    delete trayMenu;
}

void MainWidget::initUi()
{
    splitter = new QSplitter(Qt::Horizontal);

    // A group box holding one panel edge to edge.
    auto makeBox = [](const QString &title, QWidget *panel) {
        auto *box = new QGroupBox(title);
        box->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        auto *boxLayout = new QHBoxLayout;
        boxLayout->setContentsMargins(0, 0, 0, 0);
        boxLayout->setSpacing(0);
        panel->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        boxLayout->addWidget(panel);
        box->setLayout(boxLayout);
        return box;
    };
    mediaPanel = service ? new MediaServerSetup(service->takeStack(0)) : new MediaServerSetup;
    QGroupBox *mediaBox = makeBox(QStringLiteral("媒体服务器"), mediaPanel);
    sipPanel = service ? new SipServerSetup(service->takeStack(1)) : new SipServerSetup;
    QGroupBox *sipBox = makeBox(QStringLiteral("Sip服务器"), sipPanel);

    splitter->insertWidget(0, mediaBox);
    splitter->insertWidget(1, sipBox);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 1);

    auto *mainLayout = new QVBoxLayout;
    mainLayout->setContentsMargins(0, 0, 0, 0);
    mainLayout->setSpacing(2);
    mainLayout->addWidget(splitter);

    auto *fontLabel = new QLabel(QStringLiteral("字体大小:"));
    fontSlider = new QSlider(Qt::Horizontal);
    fontSlider->setRange(kMinFontSize, kMaxFontSize);
    sizeLabel = new QLabel;
    fontSize = SetupConfig::instance()->fontSize();
    if (fontSize >= kMinFontSize && fontSize <= kMaxFontSize) {
        fontSlider->setValue(fontSize);
        sizeLabel->setText(QString::number(fontSize));
    }

    quitButton = new QPushButton(QStringLiteral("退出"));
    quitButton->setObjectName(QStringLiteral("QuitButton"));
    // The output logs and the event log, for what the consoles no longer hold.
    logsButton = new QPushButton(QStringLiteral("日志"));
    logsButton->setObjectName(QStringLiteral("LogsButton"));
    logsButton->setToolTip(QStringLiteral("打开日志文件夹"));

    auto *fontBarLayout = new QHBoxLayout;
    // The window's own layout has no margins so the panels get every pixel;
    // the bar alone is inset, or the quit button would sit in the very
    // corner of a maximised window.
    fontBarLayout->setContentsMargins(8, 2, 8, 6);
    fontBarLayout->setSpacing(8);
    fontBarLayout->addWidget(fontLabel);
    fontBarLayout->addWidget(fontSlider);
    fontBarLayout->addWidget(sizeLabel);
    settingsNotice = new QLabel;
    settingsNotice->setObjectName(QStringLiteral("SettingsNotice"));
    settingsNotice->setStyleSheet(QStringLiteral("color:#B3261E;"));
    // A long path must not widen the window; the full text is the tool tip.
    settingsNotice->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    settingsNotice->hide();
    fontBarLayout->addWidget(settingsNotice, 1);
    if (service) {
        // What 退出 does differs from the window alone: say so where it is.
        auto *serviceNotice = new QLabel(QStringLiteral("服务模式：退出只关闭窗口；停止服务器见托盘菜单"));
        serviceNotice->setObjectName(QStringLiteral("ServiceNotice"));
        serviceNotice->setToolTip(QStringLiteral("服务器由服务（进程 %1）监管：退出只关闭窗口，服务器继续运行；"
                                                 "托盘菜单的“停止所有服务器”停止它们")
                                      .arg(service->servicePid()));
        serviceNotice->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        fontBarLayout->addWidget(serviceNotice, 2);
    }
    fontBarLayout->addStretch();
    fontBarLayout->addWidget(logsButton);
    fontBarLayout->addWidget(quitButton);
    mainLayout->addLayout(fontBarLayout);
    setLayout(mainLayout);

    resize(1200, 600);
    setWindowTitle(QStringLiteral("Orvane国标28181服务器 V 1.4"));
    setAcceptDrops(true);
    setWindowIcon(QIcon(QStringLiteral(":/resources/image/1.png")));

    trayNormal = QIcon(QStringLiteral(":/resources/image/1.png"));
    {
        // The same icon with a red mark: something ended that nobody stopped.
        QPixmap marked = trayNormal.pixmap(64, 64);
        QPainter painter(&marked);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(Qt::white, 3));
        painter.setBrush(QColor(QStringLiteral("#D64D54")));
        painter.drawEllipse(QRectF(30, 30, 32, 32));
        painter.end();
        trayAlert = QIcon(marked);
    }
    trayIcon = new QSystemTrayIcon(trayNormal, this);
    trayIcon->setToolTip(QStringLiteral("Orvane国标28181服务器"));
    trayMenu = new QMenu;
    showAction = new QAction(QIcon(QStringLiteral(":/resources/image/2.png")), QStringLiteral("显示"), this);
    quitAction = new QAction(QIcon(QStringLiteral(":/resources/image/3.png")), QStringLiteral("退出"), this);
    logsAction = new QAction(QStringLiteral("打开日志文件夹"), this);
    trayMenu->addAction(showAction);
    trayMenu->addAction(logsAction);
    // The window comes up by itself when the operator logs in. In the menu
    // rather than the font bar, which has no room for it at large sizes.
    loginStartAction = new QAction(QStringLiteral("登录时启动"), this);
    loginStartAction->setCheckable(true);
    loginStartAction->setChecked(Platform::startsAtLogin(QCoreApplication::applicationFilePath()));
    trayMenu->addAction(loginStartAction);
    if (service) {
        stopAllAction = new QAction(QStringLiteral("停止所有服务器"), this);
        trayMenu->addAction(stopAllAction);
    }
    trayMenu->addSeparator();
    trayMenu->addAction(quitAction);
    trayIcon->setContextMenu(trayMenu);
    trayIcon->show();

    // The service's servers may run already.
    if (service)
        updateAlertState();
    mediaPanel->setServerParam(SetupConfig::instance()->mediaServerParam());
    sipPanel->setServerParam(SetupConfig::instance()->sipServerParam());
}

void MainWidget::initConnect()
{
    // A click on the tray icon (a double click where the platform reports
    // that) brings the window back as "显示" does.
    connect(trayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
            // The operator looks: the alert has been seen.
            alerts.clear();
            updateAlertState();
            showAction->trigger();
        }
    });
    connect(showAction, &QAction::triggered, this, [this] {
        if (isVisible() && !isMinimized()) {
            activateWindow();
            raise();
            return;
        }
        // showNormal() would drop the maximised state; restore what was there.
        setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
        show();
        activateWindow();
        raise();
    });
    connect(quitAction, &QAction::triggered, this, &MainWidget::quit);
    if (service) {
        connect(stopAllAction, &QAction::triggered, this, &MainWidget::stopServiceServers);
        // Nothing the window shows holds any more.
        connect(service, &ServiceConnection::lost, this, [this] {
            EventLog::note(QStringLiteral("Launcher"), QStringLiteral("与服务的连接已断开，窗口关闭"));
            hide();
            QMessageBox box(QMessageBox::NoIcon, QStringLiteral("提示"), QStringLiteral("与服务的连接已断开（服务已停止或已重启），窗口将关闭。"),
                            QMessageBox::Ok);
            box.exec();
            QCoreApplication::exit(0);
        });
    }
    for (ServerPanel *panel : {static_cast<ServerPanel *>(mediaPanel), static_cast<ServerPanel *>(sipPanel)}) {
        connect(panel, &ServerPanel::serverEnded, this, &MainWidget::raiseAlert);
        connect(panel, &ServerPanel::serverRunning, this, &MainWidget::clearAlert);
        connect(panel, &ServerPanel::statesChanged, this, &MainWidget::updateAlertState);
    }
    connect(trayIcon, &QSystemTrayIcon::messageClicked, this, [this] {
        alerts.clear();
        updateAlertState();
        showAction->trigger();
    });
    const auto openLogs = [] {
        const QString folder = EventLog::folder();
        QDir().mkpath(folder);
        QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
    };
    connect(logsAction, &QAction::triggered, this, openLogs);
    connect(loginStartAction, &QAction::toggled, this, [this](bool on) {
        if (Platform::setStartAtLogin(QCoreApplication::applicationFilePath(), on))
            return;
        // The tick says what holds.
        const QSignalBlocker blocker(loginStartAction);
        loginStartAction->setChecked(!on);
    });
    connect(logsButton, &QPushButton::clicked, this, openLogs);
    connect(quitButton, &QPushButton::clicked, this, &MainWidget::quit);
    connect(fontSlider, &QSlider::valueChanged, this, &MainWidget::setFontSize);
    // The size is saved on quit, when nobody could read a failure any more:
    // the first change tells whether it can be saved at all.
    connect(fontSlider, &QSlider::valueChanged, this, [this] {
        if (settingsChecked)
            return;
        settingsChecked = true;
        if (!SetupConfig::instance()->canSave()) {
            settingsNotice->setText(QStringLiteral("字体大小无法保存：无法写入 %1")
                                        .arg(QDir::toNativeSeparators(SetupConfig::instance()->configFilePath())));
            settingsNotice->setToolTip(settingsNotice->text());
            settingsNotice->show();
        }
    });
}

void MainWidget::raiseAlert(const QString &name, const QString &how)
{
    const QString text = QStringLiteral("%1%2（%3）").arg(name, how, QTime::currentTime().toString(QStringLiteral("hh:mm:ss")));
    alerts.insert(name, text);
    trayIcon->showMessage(QStringLiteral("服务器已停止"), text, QSystemTrayIcon::Warning, 15000);
    updateAlertState();
}

void MainWidget::clearAlert(const QString &name)
{
    if (alerts.remove(name))
        updateAlertState();
}

void MainWidget::updateAlertState()
{
    const QString title = QStringLiteral("Orvane国标28181服务器 V 1.4");
    trayIcon->setIcon(alerts.isEmpty() ? trayNormal : trayAlert);
    QStringList tip{QStringLiteral("Orvane国标28181服务器")};
    tip += mediaPanel->serverStates() + sipPanel->serverStates();
    if (!alerts.isEmpty())
        tip += alerts.values();
    trayIcon->setToolTip(tip.join(QLatin1Char('\n')));
    setWindowTitle(alerts.isEmpty() ? title : title + QStringLiteral("  —  ") + alerts.values().join(QStringLiteral("；")));
}

void MainWidget::quit()
{
    const QString how = sender() == quitAction ? QStringLiteral("托盘菜单") : QStringLiteral("退出按钮");
    if (service) {
        // The service keeps the platform running: the window just goes.
        EventLog::note(QStringLiteral("Launcher"), QStringLiteral("退出窗口（%1），服务器继续由服务运行").arg(how));
        SetupConfig::instance()->saveFontSize(fontSize);
        hide();
        QCoreApplication::exit(0);
        return;
    }
    // Quitting stops the whole platform: not on one click while it runs.
    const QStringList running = mediaPanel->runningServers() + sipPanel->runningServers();
    if (!running.isEmpty()) {
        if (!ConfirmBox::ask(QStringLiteral("确认退出"),
                             QStringLiteral("正在运行：%1\n\n退出将停止这些程序。确定退出吗？").arg(running.join(QStringLiteral("、"))),
                             QStringLiteral("退出")))
            return;
    }
    EventLog::note(QStringLiteral("Launcher"),
                   QStringLiteral("退出（%1）").arg(how)
                       + (running.isEmpty() ? QString() : QStringLiteral("，停止：") + running.join(QStringLiteral("、"))));
    SetupConfig::instance()->saveFontSize(fontSize);
    // Gone from the screen at once. Every server is asked to stop now, so
    // they share one grace period; the panels, destroyed after the event
    // loop, wait out what is left of it and kill the rest.
    hide();
    mediaPanel->stopAll();
    sipPanel->stopAll();
    // Not quit(): on Qt 6 that first asks every window to close, and this
    // one only hides in the tray, which would cancel the quit.
    QCoreApplication::exit(0);
}

void MainWidget::stopServiceServers()
{
    const QStringList running = mediaPanel->runningServers() + sipPanel->runningServers();
    if (running.isEmpty() || !service)
        return;
    if (!ConfirmBox::ask(QStringLiteral("确认停止"),
                         QStringLiteral("正在运行：%1\n\n服务将停止这些程序（服务本身继续运行）。确定停止吗？")
                             .arg(running.join(QStringLiteral("、"))),
                         QStringLiteral("停止")))
        return;
    EventLog::note(QStringLiteral("Launcher"), QStringLiteral("窗口停止所有服务器：") + running.join(QStringLiteral("、")));
    service->stopAll();
}

void MainWidget::startMarkedServers()
{
    // Attached, the service started them already.
    for (ServerPanel *panel : {static_cast<ServerPanel *>(mediaPanel), static_cast<ServerPanel *>(sipPanel)}) {
        if (ServerStack *stack = panel->stack())
            stack->startWithLauncher();
    }
}

void MainWidget::setFontSize(int value)
{
    fontSize = value;
    if (value < kMinFontSize || value > kMaxFontSize) {
        setFontSize(kMinFontSize);
        sizeLabel->setText(QString::number(kMinFontSize));
        return;
    }
    QString sheet = styleSheetTemplate;
    // QString::arg fills the lowest-numbered marker; a sheet without one is
    // applied unchanged (arg would only warn).
    static const QRegularExpression marker(QStringLiteral("%[0-9]"));
    if (sheet.contains(marker))
        sheet = sheet.arg(value);
    applyingFont = true;
    qApp->setStyleSheet(sheet);
    sizeLabel->setText(QString::number(fontSize));
    layout()->activate();
    if (chosenSize.isValid() && !isMaximized() && !isFullScreen()) {
        const QSize back = chosenSize.expandedTo(minimumSizeHint());
        if (back != size())
            resize(back);
    }
    keepOnScreen();
    applyingFont = false;
}

void MainWidget::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (!applyingFont && !isMaximized() && !isFullScreen())
        chosenSize = event->size();
}

void MainWidget::keepOnScreen()
{
    // The panels scroll their controls rather than grow, so the window's
    // minimum stays small; a window that is larger than the screen (from an
    // earlier size, or a small screen) is brought back within it.
    if (isMaximized() || isFullScreen())
        return;
    layout()->activate();
    const QRect available = screen()->availableGeometry();
    const QSize frame = frameGeometry().size() - size();
    const QSize fitting = size().boundedTo(available.size() - frame);
    if (fitting != size())
        resize(fitting);
    QRect placed = frameGeometry();
    placed.moveLeft(qBound(available.left(), placed.left(), qMax(available.left(), available.right() - placed.width() + 1)));
    placed.moveTop(qBound(available.top(), placed.top(), qMax(available.top(), available.bottom() - placed.height() + 1)));
    if (placed.topLeft() != frameGeometry().topLeft())
        move(placed.topLeft());
}

void MainWidget::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // Equal halves at the first show (the panels' size hints differ); later
    // changes of the width are shared equally through the stretch factors.
    if (!splitterPlaced) {
        splitterPlaced = true;
        const int half = splitter->width() / 2;
        splitter->setSizes({half, half});
    }
}

void MainWidget::closeEvent(QCloseEvent *event)
{
    event->ignore();
    // Without a tray there would be no way back to a hidden window (and a
    // second copy is refused), so fall back to minimising.
    if (QSystemTrayIcon::isSystemTrayAvailable())
        hide();
    else
        showMinimized();
}
