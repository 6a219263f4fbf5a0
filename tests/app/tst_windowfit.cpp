// The main window on a private 1280 x 720 X display (Xvfb), with the shipped
// style sheet: it stays on the screen at every font size, every control can
// be reached, and the two panels start equally wide. On Windows it runs on
// the screen it is given, which has to be 1280 x 720 for the first part.

#include "app/mainwidget.h"
#include "setting/setupconfig.h"
#include "testsupport.h"

#include <QApplication>
#include <QGroupBox>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSlider>
#include <QtTest>

#if !defined(Q_OS_WIN)
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/prctl.h>
#include <unistd.h>
#endif

class tst_WindowFit : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void fitsAtEverySize_data();
    void fitsAtEverySize();
    void panelsStartEquallyWide();

private:
    void showWindow(MainWidget &w, int size);
    TestSupport::TempAppDir app;
    QString sheet;
};

void tst_WindowFit::initTestCase()
{
    app.initialize();
    QFile file(TestSupport::sourceDir() + QStringLiteral("/config/stylesheet2/stylesheet.css"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    sheet = QString::fromUtf8(file.readAll());
#if !defined(Q_OS_WIN)
    QCOMPARE(QGuiApplication::primaryScreen()->size(), QSize(1280, 720));
#endif
}

void tst_WindowFit::showWindow(MainWidget &w, int size)
{
    w.styleSheetTemplate = sheet;
    w.setFontSize(size);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
}

void tst_WindowFit::fitsAtEverySize_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("12") << 12;
    QTest::newRow("24") << 24;
    QTest::newRow("60") << 60;
}

// Within the screen; every button lies inside the window, either shown or
// in a band that scrolls to it; back at 12 the window is as small as it was.
void tst_WindowFit::fitsAtEverySize()
{
    QFETCH(int, size);
    const QSize screenSize = QGuiApplication::primaryScreen()->size();
    if (screenSize != QSize(1280, 720))
        QSKIP(qPrintable(QStringLiteral("needs a 1280 x 720 screen, not %1 x %2").arg(screenSize.width()).arg(screenSize.height())));
    MainWidget w;
    showWindow(w, 12);
    const QSize atTwelve = w.size();
    w.findChild<QSlider *>()->setValue(size);
    QApplication::processEvents();
    const QRect screen = w.screen()->availableGeometry();
    QVERIFY2(screen.contains(w.frameGeometry()), qPrintable(QStringLiteral("%1x%2").arg(w.width()).arg(w.height())));
    QVERIFY(w.minimumSizeHint().width() <= screen.width() && w.minimumSizeHint().height() <= screen.height());

    const QRect window = w.rect();
    for (QPushButton *button : w.findChildren<QPushButton *>()) {
        if (!button->isVisibleTo(&w))
            continue;
        QWidget *shownIn = &w;
        for (QWidget *p = button->parentWidget(); p != &w; p = p->parentWidget()) {
            if (auto *area = qobject_cast<QScrollArea *>(p)) {
                shownIn = area->viewport();
                break;
            }
        }
        const QRect inWindow(shownIn->mapTo(&w, QPoint(0, 0)), shownIn->size());
        QVERIFY2(window.contains(inWindow) && !inWindow.isEmpty(), qPrintable(button->text()));
        if (shownIn == &w)
            QVERIFY2(window.contains(QRect(button->mapTo(&w, QPoint(0, 0)), button->size())), qPrintable(button->text()));
        // Its text fits the button.
        QVERIFY2(button->fontMetrics().horizontalAdvance(button->text()) <= button->width(), qPrintable(button->text()));
        // No button needs the band to scroll sideways: at large sizes the
        // buttons go below the lamp and "打开" beside its field instead.
        if (shownIn != &w) {
            const int left = button->mapTo(shownIn, QPoint(0, 0)).x();
            QVERIFY2(left >= 0 && left + button->width() <= shownIn->width(),
                     qPrintable(QStringLiteral("%1 at %2..%3 of %4").arg(button->text()).arg(left).arg(left + button->width()).arg(shownIn->width())));
        }
    }

    w.findChild<QSlider *>()->setValue(12);
    // The X server answers a resize when it gets to it (late on a busy machine).
    QTRY_VERIFY(w.width() <= atTwelve.width() && w.height() <= atTwelve.height());
}

void tst_WindowFit::panelsStartEquallyWide()
{
    MainWidget w;
    showWindow(w, 12);
    const QList<QGroupBox *> boxes = w.findChildren<QGroupBox *>();
    QCOMPARE(boxes.size(), 2);
    QVERIFY2(qAbs(boxes.at(0)->width() - boxes.at(1)->width()) <= 1, qPrintable(QStringLiteral("%1 %2").arg(boxes.at(0)->width()).arg(boxes.at(1)->width())));
}

#if defined(Q_OS_WIN)
QTEST_MAIN(tst_WindowFit)
#else
// A private X display of 1280 x 720 for this process, gone when it ends.
int main(int argc, char **argv)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return 1;
    const pid_t xvfb = ::fork();
    if (xvfb == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        ::close(fds[0]);
        const std::string fd = std::to_string(fds[1]);
        ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1280x720x24", "-nolisten", "tcp",
                 static_cast<char *>(nullptr));
        ::_exit(127);
    }
    ::close(fds[1]);
    char number[16] = {};
    const ssize_t got = ::read(fds[0], number, sizeof number - 1);
    if (got <= 0) {
        std::fprintf(stderr, "Xvfb did not start\n");
        return 1;
    }
    qputenv("DISPLAY", QByteArray(":") + QByteArray(number, int(got)).trimmed());
    qputenv("QT_QPA_PLATFORM", "xcb");
    int status = 0;
    {
        QApplication application(argc, argv);
        tst_WindowFit test;
        status = QTest::qExec(&test, argc, argv);
    }
    ::kill(xvfb, SIGTERM);
    return status;
}
#endif

#include "tst_windowfit.moc"
