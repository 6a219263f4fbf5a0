#include "platform/platform.h"
// The main window in this process, on settings in a temporary application
// directory.

#include "app/mainwidget.h"
#include "app/startup.h"
#include "setting/inifile.h"
#include "setting/setupconfig.h"
#include "supervision/eventlog.h"
#include "ui/setup/mediaserver/mediaserversetup.h"
#include "ui/widgets/clineedit.h"
#include "testsupport.h"

#include <QAction>
#include <QApplication>
#include <QBoxLayout>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QSlider>
#include <QSplitter>
#include <QSystemTrayIcon>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

const QString kTemplate = QStringLiteral("QWidget { font-size: %1px; }\nQLabel { margin: %1px; }");

// Read afresh from the file: QSettings would answer from its cache when the
// launcher's rewrite left the file's size and time stamp as they were.
QString fileFontSize(const TestSupport::TempAppDir &app)
{
    return IniFile(app.iniPath()).value(QStringLiteral("/Font/Size"), QStringLiteral("<missing>"));
}

void setFileFontSize(const TestSupport::TempAppDir &app, const QString &value)
{
    QSettings ini(app.iniPath(), QSettings::IniFormat);
    TestSupport::useUtf8(ini);
    ini.setValue(QStringLiteral("/Font/Size"), value);
}

QSlider *slider(MainWidget &w) { return w.findChild<QSlider *>(); }

// The size label is the widget right after the slider in the font bar.
QLabel *sizeLabel(MainWidget &w)
{
    QSlider *s = slider(w);
    if (!s)
        return nullptr;
    const QList<QBoxLayout *> layouts = w.findChildren<QBoxLayout *>();
    for (QBoxLayout *layout : layouts) {
        const int at = layout->indexOf(s);
        if (at >= 0 && at + 1 < layout->count())
            return qobject_cast<QLabel *>(layout->itemAt(at + 1)->widget());
    }
    return nullptr;
}

QAction *trayAction(MainWidget &w, const QString &text)
{
    auto *tray = w.findChild<QSystemTrayIcon *>();
    if (!tray || !tray->contextMenu())
        return nullptr;
    for (QAction *action : tray->contextMenu()->actions()) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

// A shown window whose media server is the test helper with these parameters.
std::unique_ptr<MainWidget> windowWithMediaServer(TestSupport::TempAppDir &app, const QString &param)
{
    app.writeIni(QStringLiteral("[MediaServer]\nProgramPath=%1\nParam=%2\n").arg(TestSupport::testHelperPath(), param).toUtf8());
    app.initialize();
    auto w = std::make_unique<MainWidget>();
    w->show();
    return QTest::qWaitForWindowExposed(w.get()) ? std::move(w) : nullptr;
}

QPushButton *buttonOf(QWidget *panel, const QString &text)
{
    for (QPushButton *b : panel->findChildren<QPushButton *>()) {
        if (b->text() == text)
            return b;
    }
    return nullptr;
}

// Runs the application's event loop with `what` queued as its first event and
// returns the loop's exit code. A quit path ends the loop with 0; if nothing
// ends it, a guard ends it with 99 so the test fails instead of hanging.
int runEventLoopWith(const std::function<void()> &what)
{
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, qApp, [] { QCoreApplication::exit(99); });
    guard.start(30000);
    QTimer::singleShot(0, qApp, what);
    return QApplication::exec();
}

} // namespace

class TestMainWidget : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void windowLayout();
    void trayEntry();

    void closeKeepsProgramRunning();
    void showActionBringsWindowBack_data();
    void showActionBringsWindowBack();

    void quitPathsSaveFontSizeAndQuit_data();
    void quitPathsSaveFontSizeAndQuit();
    void quitAsksWhileServersRun();
    void unexpectedEndIsAlerted();

    void storedFontSize_data();
    void storedFontSize();

    void sliderReappliesStyleSheet();
    void styleSheetTemplate_data();
    void styleSheetTemplate();

    void unwritableSettingsNoticeOnFontChange_data();
    void unwritableSettingsNoticeOnFontChange();
    void messageBoxesShowTheirWholeText_data();
    void messageBoxesShowTheirWholeText();
};

void TestMainWidget::initTestCase()
{
    initLauncherResources();
}

void TestMainWidget::cleanup()
{
    qApp->setStyleSheet(QString());
}

void TestMainWidget::windowLayout()
{
    TestSupport::TempAppDir app;
    app.initialize();
    MainWidget w;

    QCOMPARE(w.windowTitle(), QStringLiteral("Orvane国标28181服务器 V 1.4"));
    QVERIFY(w.parentWidget() == nullptr);
    QVERIFY(w.acceptDrops());
    QCOMPARE(w.size(), QSize(1200, 600));
    QVERIFY(!w.windowIcon().isNull());
    QCOMPARE(QImage(QStringLiteral(":/resources/image/1.png")).size(), QSize(55, 66));

    auto *splitter = w.findChild<QSplitter *>();
    QVERIFY(splitter);
    QCOMPARE(splitter->orientation(), Qt::Horizontal);
    QCOMPARE(splitter->count(), 2);
    auto *media = qobject_cast<QGroupBox *>(splitter->widget(0));
    auto *sip = qobject_cast<QGroupBox *>(splitter->widget(1));
    QVERIFY(media);
    QVERIFY(sip);
    QCOMPARE(media->title(), QStringLiteral("媒体服务器"));
    QCOMPARE(sip->title(), QStringLiteral("Sip服务器"));
    for (QGroupBox *box : {media, sip}) {
        QCOMPARE(box->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
        QCOMPARE(box->sizePolicy().verticalPolicy(), QSizePolicy::Expanding);
    }

    QSlider *s = slider(w);
    QVERIFY(s);
    QCOMPARE(s->orientation(), Qt::Horizontal);
    QCOMPARE(s->minimum(), 12);
    QCOMPARE(s->maximum(), 60);
    QVERIFY(sizeLabel(w));
    QCOMPARE(sizeLabel(w)->text(), QStringLiteral("12"));

    auto *quit = w.findChild<QPushButton *>(QStringLiteral("QuitButton"));
    QVERIFY(quit);
    QCOMPARE(quit->text(), QStringLiteral("退出"));

    // The font bar sits below the splitter in the window's own layout.
    auto *mainLayout = qobject_cast<QVBoxLayout *>(w.layout());
    QVERIFY(mainLayout);
    QCOMPARE(mainLayout->indexOf(splitter), 0);
    QCOMPARE(mainLayout->spacing(), 2);

    // Building the window applies no style sheet; start-up does that.
    QCOMPARE(qApp->styleSheet(), QString());
}

void TestMainWidget::trayEntry()
{
#if !defined(Q_OS_WIN)
    // The user's own autostart folder stays as it is.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    const auto restore = qScopeGuard([] { qunsetenv("XDG_CONFIG_HOME"); });
#endif
    TestSupport::TempAppDir app;
    app.initialize();
    MainWidget w;

    auto *tray = w.findChild<QSystemTrayIcon *>();
    QVERIFY(tray);
    QVERIFY(tray->isVisible());
    QVERIFY(!tray->icon().isNull());
    QCOMPARE(tray->toolTip(), QStringLiteral("Orvane国标28181服务器"));
    QVERIFY(tray->contextMenu());
    const QList<QAction *> actions = tray->contextMenu()->actions();
    QCOMPARE(actions.size(), 5);
    QCOMPARE(actions.at(0)->text(), QStringLiteral("显示"));
    QVERIFY(!actions.at(0)->icon().isNull());
    QCOMPARE(actions.at(1)->text(), QStringLiteral("打开日志文件夹"));
    QVERIFY(actions.at(3)->isSeparator());
    QCOMPARE(actions.at(4)->text(), QStringLiteral("退出"));
    QVERIFY(!actions.at(4)->icon().isNull());

    // 登录时启动 registers this program for the log-in and removes it again.
    QAction *login = actions.at(2);
    QCOMPARE(login->text(), QStringLiteral("登录时启动"));
    QVERIFY(login->isCheckable() && !login->isChecked());
    login->trigger();
    QVERIFY(Platform::startsAtLogin(QCoreApplication::applicationFilePath()));
    login->trigger();
    QVERIFY(!login->isChecked());
    QVERIFY(!Platform::startsAtLogin(QCoreApplication::applicationFilePath()));
}

void TestMainWidget::closeKeepsProgramRunning()
{
    TestSupport::TempAppDir app;
    app.initialize();
    QPointer<MainWidget> w(new MainWidget);
    std::unique_ptr<MainWidget> owner(w.data());
    w->showMaximized();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    QSignalSpy lastClosed(qApp, &QGuiApplication::lastWindowClosed);

    QCloseEvent event;
    QApplication::sendEvent(w, &event);
    QVERIFY(!event.isAccepted());
    QVERIFY(!w->close());
    QCoreApplication::processEvents();

    QVERIFY(w);
    QCOMPARE(lastClosed.count(), 0);
    QVERIFY(w->findChild<QSystemTrayIcon *>()->isVisible());
    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        QVERIFY(w->isHidden());
    } else {
        // No tray to come back from: the window stays reachable, minimised.
        QVERIFY(w->isVisible());
        QVERIFY(w->isMinimized());
        QVERIFY(w->windowState() & Qt::WindowMaximized);
    }
}

void TestMainWidget::showActionBringsWindowBack_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<int>("trayClick");   // -1: the menu's "显示"; else the icon's activation reason
    QTest::newRow("after close") << "close" << -1;
    QTest::newRow("after hide") << "hide" << -1;
    QTest::newRow("after minimise") << "minimise" << -1;
    QTest::newRow("while shown") << "shown" << -1;
    QTest::newRow("icon clicked after close") << "close" << int(QSystemTrayIcon::Trigger);
    QTest::newRow("icon double-clicked after hide") << "hide" << int(QSystemTrayIcon::DoubleClick);
}

void TestMainWidget::showActionBringsWindowBack()
{
    QFETCH(QString, before);
    QFETCH(int, trayClick);

    TestSupport::TempAppDir app;
    app.initialize();
    MainWidget w;
    w.showMaximized();
    QVERIFY(QTest::qWaitForWindowExposed(&w));

    if (before == QLatin1String("close"))
        QVERIFY(!w.close());
    else if (before == QLatin1String("hide"))
        w.hide();
    else if (before == QLatin1String("minimise"))
        w.showMinimized();
    QCoreApplication::processEvents();
    if (before != QLatin1String("shown"))
        QVERIFY(w.isHidden() || w.isMinimized());

    QAction *show = trayAction(w, QStringLiteral("显示"));
    QVERIFY(show);
    if (trayClick < 0)
        show->trigger();
    else
        emit w.findChild<QSystemTrayIcon *>()->activated(QSystemTrayIcon::ActivationReason(trayClick));
    QCoreApplication::processEvents();

    QVERIFY(w.isVisible());
    QVERIFY(!w.isMinimized());
    QVERIFY2(w.windowState() & Qt::WindowMaximized, "comes back in its previous (maximised) state");
}

void TestMainWidget::quitPathsSaveFontSizeAndQuit_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("hidden");
    QTest::newRow("quit button") << "button" << false;
    QTest::newRow("tray quit, window shown") << "tray" << false;
    QTest::newRow("tray quit, window hidden") << "tray" << true;
}

void TestMainWidget::quitPathsSaveFontSizeAndQuit()
{
    QFETCH(QString, path);
    QFETCH(bool, hidden);

    TestSupport::TempAppDir app;
    app.initialize();
    MainWidget w;
    w.styleSheetTemplate = kTemplate;
    w.setFontSize(SetupConfig::instance()->fontSize());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    if (hidden)
        w.hide();

    // Someone changed the file after the start; the size in memory (12, never
    // touched) must still be written.
    setFileFontSize(app, QStringLiteral("40"));
    QCOMPARE(fileFontSize(app), QStringLiteral("40"));

    auto *button = w.findChild<QPushButton *>(QStringLiteral("QuitButton"));
    QAction *quitAction = trayAction(w, QStringLiteral("退出"));
    QVERIFY(button);
    QVERIFY(quitAction);

    QSignalSpy aboutToQuit(qApp, &QCoreApplication::aboutToQuit);
    const int rc = runEventLoopWith([&] {
        if (path == QLatin1String("button"))
            QTest::mouseClick(button, Qt::LeftButton);
        else
            quitAction->trigger();
    });
    QCOMPARE(rc, 0);
    QCOMPARE(aboutToQuit.count(), 1);
    QCOMPARE(fileFontSize(app), QStringLiteral("12"));
    QCOMPARE(SetupConfig::instance()->fontSize(), 12);
}

// With a server running, "退出" asks first and names it; "取消" keeps the
// platform running, "退出" in the box quits.
void TestMainWidget::quitAsksWhileServersRun()
{
    TestSupport::TempAppDir app;
    const std::unique_ptr<MainWidget> window = windowWithMediaServer(app, QStringLiteral("forever"));
    QVERIFY(window);
    MainWidget &w = *window;
    auto *media = w.findChild<MediaServerSetup *>();
    buttonOf(media, QStringLiteral("启动"))->click();
    QTRY_COMPARE(media->runningServers(), QStringList{QStringLiteral("媒体服务器")});
    auto *quit = w.findChild<QPushButton *>(QStringLiteral("QuitButton"));

    QString asked;
    QTimer answer;
    connect(&answer, &QTimer::timeout, [&asked] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (box && box->isVisible()) {
            asked = box->windowTitle() + QLatin1Char('|') + box->text();
            box->done(QMessageBox::Cancel);
        }
    });
    answer.start(5);
    quit->click();
    answer.stop();
    QVERIFY2(asked.startsWith(QStringLiteral("确认退出|")) && asked.contains(QStringLiteral("媒体服务器")), qPrintable(asked));
    QVERIFY(w.isVisible());
    QCOMPARE(media->runningServers(), QStringList{QStringLiteral("媒体服务器")});

    TestSupport::ModalBoxCloser closer;
    QCOMPARE(runEventLoopWith([quit] { quit->click(); }), 0);
    QCOMPARE(closer.lastTitle(), QStringLiteral("确认退出"));
    EventLog::flush();
    QFile events(app.path() + QStringLiteral("/logs/events.log"));
    QVERIFY(events.open(QIODevice::ReadOnly));
    QVERIFY(events.readAll().contains(QStringLiteral("[Launcher] 退出（退出按钮），停止：媒体服务器").toUtf8()));
}

// A server that ends by itself changes the tray icon, its tool tip and the
// title bar until it runs again; the operator's click on the message clears
// it too.
void TestMainWidget::unexpectedEndIsAlerted()
{
    TestSupport::TempAppDir app;
    const std::unique_ptr<MainWidget> window = windowWithMediaServer(app, QStringLiteral("exit 3"));
    QVERIFY(window);
    MainWidget &w = *window;
    const QString title = w.windowTitle();
    auto *tray = w.findChild<QSystemTrayIcon *>();
    const qint64 normalIcon = tray->icon().cacheKey();
    auto *media = w.findChild<MediaServerSetup *>();
    QPushButton *start = buttonOf(media, QStringLiteral("启动"));
    start->click();
    QTRY_VERIFY(w.windowTitle().contains(QStringLiteral("媒体服务器结束，退出码 3")));
    QVERIFY(w.windowTitle().startsWith(title));
    QVERIFY(tray->icon().cacheKey() != normalIcon);
    QVERIFY2(tray->toolTip().contains(QStringLiteral("媒体服务器：未运行")), qPrintable(tray->toolTip()));

    // Running again clears it.
    media->findChild<CLineEdit *>(QStringLiteral("ServerParamField"))->setText(QStringLiteral("forever"));
    start->click();
    QTRY_COMPARE(w.windowTitle(), title);
    QCOMPARE(tray->icon().cacheKey(), normalIcon);
    QVERIFY(tray->toolTip().contains(QStringLiteral("媒体服务器：运行中")));

    // Stopped by the operator: no alert. Ended by itself, then seen: cleared.
    buttonOf(media, QStringLiteral("关闭"))->click();
    QTRY_VERIFY(tray->toolTip().contains(QStringLiteral("媒体服务器：未运行")));
    QCOMPARE(w.windowTitle(), title);
    media->findChild<CLineEdit *>(QStringLiteral("ServerParamField"))->setText(QStringLiteral("crash"));
    start->click();
    QTRY_VERIFY(w.windowTitle().contains(QStringLiteral("媒体服务器异常终止")));
    emit tray->messageClicked();
    QCOMPARE(w.windowTitle(), title);
}

void TestMainWidget::storedFontSize_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<int>("sliderValue");
    QTest::addColumn<QString>("labelAtConstruction");
    QTest::addColumn<int>("applied");

    QTest::newRow("100") << "100" << 12 << "" << 12;
    QTest::newRow("61") << "61" << 12 << "" << 12;
    QTest::newRow("11") << "11" << 12 << "" << 12;
    QTest::newRow("8") << "8" << 12 << "" << 12;
    QTest::newRow("-1") << "-1" << 12 << "" << 12;
    QTest::newRow("abc") << "abc" << 12 << "" << 12;
    QTest::newRow("12") << "12" << 12 << "12" << 12;
    QTest::newRow("30") << "30" << 30 << "30" << 30;
    QTest::newRow("60") << "60" << 60 << "60" << 60;
}

void TestMainWidget::storedFontSize()
{
    QFETCH(QString, stored);
    QFETCH(int, sliderValue);
    QFETCH(QString, labelAtConstruction);
    QFETCH(int, applied);

    TestSupport::TempAppDir app;
    app.writeIni("[Font]\nSize=" + stored.toLatin1() + "\n");
    app.initialize();
    MainWidget w;
    QCOMPARE(slider(w)->value(), sliderValue);
    QCOMPARE(sizeLabel(w)->text(), labelAtConstruction);

    // What start-up does next.
    w.styleSheetTemplate = kTemplate;
    w.setFontSize(SetupConfig::instance()->fontSize());
    QCOMPARE(slider(w)->value(), sliderValue);
    QCOMPARE(sizeLabel(w)->text(), QString::number(applied));
    QCOMPARE(qApp->styleSheet(), kTemplate.arg(applied));
    QCOMPARE(fileFontSize(app), stored);

    const int rc = runEventLoopWith([&] {
        w.findChild<QPushButton *>(QStringLiteral("QuitButton"))->click();
    });
    QCOMPARE(rc, 0);
    QCOMPARE(fileFontSize(app), QString::number(applied));
}

void TestMainWidget::sliderReappliesStyleSheet()
{
    TestSupport::TempAppDir app;
    app.initialize();
    MainWidget w;
    w.styleSheetTemplate = kTemplate;
    w.setFontSize(SetupConfig::instance()->fontSize());
    QSlider *s = slider(w);
    QLabel *label = sizeLabel(w);

    for (int size = 13; size <= 60; ++size) {
        s->setValue(size);
        QCOMPARE(qApp->styleSheet(), kTemplate.arg(size));
        QCOMPARE(label->text(), QString::number(size));
    }
    s->triggerAction(QAbstractSlider::SliderToMinimum);
    QCOMPARE(qApp->styleSheet(), kTemplate.arg(12));
    QCOMPARE(label->text(), QStringLiteral("12"));
    s->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    QCOMPARE(label->text(), QStringLiteral("13"));

    // Moving the slider does not write the file; quitting writes the last size.
    s->setValue(37);
    QCOMPARE(fileFontSize(app), QStringLiteral("12"));
    const int rc = runEventLoopWith([&] {
        w.findChild<QPushButton *>(QStringLiteral("QuitButton"))->click();
    });
    QCOMPARE(rc, 0);
    QCOMPARE(fileFontSize(app), QStringLiteral("37"));
}

void TestMainWidget::styleSheetTemplate_data()
{
    QTest::addColumn<QString>("sheet");
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("label");

    QTest::newRow("no marker") << "QWidget { color: #123456; }" << 30 << "QWidget { color: #123456; }" << "30";
    QTest::newRow("empty") << "" << 30 << "" << "30";
    QTest::newRow("one marker") << "* { font-size: %1px; }" << 30 << "* { font-size: 30px; }" << "30";
    QTest::newRow("every occurrence") << "a { x: %1px; } b { y: %1px; }" << 18 << "a { x: 18px; } b { y: 18px; }"
                                      << "18";
    QTest::newRow("lowest-numbered marker") << "a { x: %2px; } b { y: %3px; }" << 20
                                            << "a { x: 20px; } b { y: %3px; }" << "20";
    QTest::newRow("out of range falls back") << "* { font-size: %1px; }" << 61 << "* { font-size: 12px; }" << "12";
}

void TestMainWidget::styleSheetTemplate()
{
    QFETCH(QString, sheet);
    QFETCH(int, size);
    QFETCH(QString, expected);
    QFETCH(QString, label);

    TestSupport::TempAppDir app;
    app.initialize();
    MainWidget w;
    qApp->setStyleSheet(QStringLiteral("QWidget { color: red; }"));
    w.styleSheetTemplate = sheet;
    w.setFontSize(size);
    QCOMPARE(qApp->styleSheet(), expected);
    QCOMPARE(sizeLabel(w)->text(), label);
}

void TestMainWidget::unwritableSettingsNoticeOnFontChange_data()
{
    QTest::addColumn<bool>("writable");
    QTest::newRow("writable") << true;
    QTest::newRow("a directory in its place") << false;
}

void TestMainWidget::unwritableSettingsNoticeOnFontChange()
{
    QFETCH(bool, writable);
    TestSupport::TempAppDir app;
    if (!writable)
        QVERIFY(QDir().mkpath(app.iniPath()));
    app.initialize();
    MainWidget w;
    auto *notice = w.findChild<QLabel *>(QStringLiteral("SettingsNotice"));
    QVERIFY(notice && notice->isHidden());
    slider(w)->setValue(20);
    QCOMPARE(notice->isHidden(), writable);
    if (!writable)
        QVERIFY(notice->text().contains(QDir::toNativeSeparators(app.iniPath())));
    if (writable) {
        QFile ini(app.iniPath());
        QVERIFY(ini.open(QIODevice::ReadOnly));
        QVERIFY(!ini.readAll().isEmpty());   // the check left the file as it was
    }
}

void TestMainWidget::messageBoxesShowTheirWholeText_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QString>("text");
    const QString denied = QStringLiteral(
        "数据库打开失败： Access denied for user 'root'@'localhost' (using password: YES) QMYSQL: Unable to connect");
    const QString script = QStringLiteral("执行脚本失败： /opt/tessarin/config/mysql/clean.sql\n"
                                          "不是 UTF-8 文本：偏移 69 处的字节 0xc3 无效");
    for (int size : {12, 24, 40, 60}) {
        QTest::addRow("driver text, %d px", size) << size << denied;
        QTest::addRow("script failure, %d px", size) << size << script;
        QTest::addRow("refusal, %d px", size) << size << QStringLiteral("程序已经启动, 请勿重复启动!");
    }
}

void TestMainWidget::messageBoxesShowTheirWholeText()
{
    QFETCH(int, size);
    QFETCH(QString, text);
    TestSupport::TempAppDir app;
    app.initialize();
    MainWidget w;
    QFile sheet(TestSupport::sourceDir() + QStringLiteral("/config/stylesheet2/stylesheet.css"));
    QVERIFY(sheet.open(QIODevice::ReadOnly));
    w.styleSheetTemplate = QString::fromUtf8(sheet.readAll());
    w.setFontSize(size);

    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("警告"), text, QMessageBox::Ok);
    box.show();
    QVERIFY(QTest::qWaitForWindowExposed(&box));
    auto *label = box.findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
    QVERIFY(label);
    // The label lies inside the box and is as large as its text needs, on
    // one line or wrapped.
    QVERIFY(box.rect().contains(QRect(label->mapTo(&box, QPoint(0, 0)), label->size())));
    if (label->wordWrap())
        QVERIFY(label->heightForWidth(label->width()) <= label->height());
    else
        QVERIFY(label->sizeHint().width() <= label->width());
}

QTEST_MAIN(TestMainWidget)
#include "tst_mainwidget.moc"
