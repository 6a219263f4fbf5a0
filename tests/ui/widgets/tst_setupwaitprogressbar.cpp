#include "ui/widgets/colorprogressbar.h"
#include "ui/widgets/setupwaitprogressbar.h"

#include <QLabel>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextBrowser>

// The start-up wait window: steps, one completed() per wait, restarts and
// the background picture.
class TestSetupWaitProgressBar : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void fullWait();
    void dots_data();
    void dots();
    void setValueAndRestart();
    void endsByItselfOnItsTimer();
    void backgroundPicture_data();
    void backgroundPicture();

private:
    void tick(int times = 1);
    SetupWaitProgressBar *w = nullptr;
    QLabel *title = nullptr;
    QTextBrowser *info = nullptr;
    ColorProgressBar *bar = nullptr;
    QSignalSpy *completed = nullptr;
};

namespace {
const QString kTitle = QStringLiteral("Starting, please wait");
}

void TestSetupWaitProgressBar::init()
{
    w = new SetupWaitProgressBar;
    title = w->findChild<QLabel *>(QStringLiteral("SetupWaitProgressBarTitleLabel"));
    info = w->findChild<QTextBrowser *>(QStringLiteral("SetupWaitProgressBarInfoTextBrowser"));
    bar = w->findChild<ColorProgressBar *>();
    completed = new QSignalSpy(w, &SetupWaitProgressBar::completed);
    QVERIFY(title && info && bar);
}

void TestSetupWaitProgressBar::cleanup()
{
    delete completed;
    delete w;
}

void TestSetupWaitProgressBar::tick(int times)
{
    for (int i = 0; i < times; ++i)
        QMetaObject::invokeMethod(w, "slotUpdateValue");
}

void TestSetupWaitProgressBar::fullWait()
{
    bar->setValue(100);
    tick();                                  // not started: nothing happens
    QCOMPARE(completed->count(), 0);
    QCOMPARE(title->text(), kTitle);

    w->start();
    QVERIFY(w->isVisible());
    for (int step = 1; step <= 100; ++step) {
        tick();
        QCOMPARE(bar->getValue(), double(step));
    }
    QVERIFY(w->isVisible());
    QCOMPARE(completed->count(), 0);
    QCOMPARE(info->document()->blockCount(), 100);

    bool hiddenFirst = false;
    connect(w, &SetupWaitProgressBar::completed, this, [&] { hiddenFirst = !w->isVisible(); });
    tick();
    QCOMPARE(completed->count(), 1);
    QVERIFY(hiddenFirst);
    tick(3);                                 // idle again
    QCOMPARE(completed->count(), 1);
    QVERIFY(!w->isVisible());
    QCOMPARE(info->document()->blockCount(), 100);
}

void TestSetupWaitProgressBar::dots_data()
{
    QTest::addColumn<int>("step");
    QTest::addColumn<int>("dots");
    QTest::newRow("first") << 1 << 0;
    QTest::newRow("second") << 2 << 1;
    QTest::newRow("seventh") << 7 << 6;
    QTest::newRow("eighth starts over") << 8 << 0;
    QTest::newRow("hundredth") << 100 << 99 % 7;
}

void TestSetupWaitProgressBar::dots()
{
    QFETCH(int, step);
    QFETCH(int, dots);
    w->start();
    tick(step);
    const QString expected = kTitle + QString(dots, QLatin1Char('.'));
    QCOMPARE(title->text(), expected);
    QCOMPARE(info->document()->lastBlock().text(), expected);
}

void TestSetupWaitProgressBar::setValueAndRestart()
{
    w->start();
    tick(10);
    w->setValue(50);
    tick();
    QCOMPARE(bar->getValue(), 51.0);

    w->start();                              // restart: from 0, dots carry on
    QCOMPARE(bar->getValue(), 0.0);
    tick();
    QCOMPARE(bar->getValue(), 1.0);
    QCOMPARE(title->text(), kTitle + QString(11 % 7, QLatin1Char('.')));
    tick(100);
    QCOMPARE(completed->count(), 1);

    w->start();                              // a finished wait starts again
    QVERIFY(w->isVisible());
    tick(101);
    QCOMPARE(completed->count(), 2);
}

void TestSetupWaitProgressBar::endsByItselfOnItsTimer()
{
    QCOMPARE(w->size(), QSize(700, 350));
    QCOMPARE(w->windowType(), Qt::Tool);
    QVERIFY(w->windowFlags() & Qt::FramelessWindowHint && w->windowFlags() & Qt::WindowStaysOnTopHint);

    w->start();
    QVERIFY(completed->wait(30000));         // 101 ticks of 100 ms
    QCOMPARE(bar->getValue(), 100.0);
    QCOMPARE(info->document()->blockCount(), 100);
    QTest::qWait(300);
    QCOMPARE(completed->count(), 1);
}

void TestSetupWaitProgressBar::backgroundPicture_data()
{
    QTest::addColumn<bool>("exists");
    QTest::addColumn<double>("opacity");
    QTest::newRow("opaque") << true << 1.0;
    QTest::newRow("half") << true << 0.5;
    QTest::newRow("invisible") << true << 0.0;
    QTest::newRow("no such file") << false << 1.0;
}

void TestSetupWaitProgressBar::backgroundPicture()
{
    QFETCH(bool, exists);
    QFETCH(double, opacity);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("bg.png"));
    QImage picture(20, 10, QImage::Format_RGB32);
    picture.fill(QColor(0, 0, 200));
    QVERIFY(!exists || picture.save(path));
    const QColor window = w->palette().color(QPalette::Window);
    w->setBgImage(path);
    w->setOpacity(float(opacity));
    const QImage img = w->grab().toImage();

    // Corners no child covers: the picture scaled over the whole window,
    // blended with the window colour by the opacity.
    const double a = exists ? opacity : 0.0;
    const QColor expected(int(window.red() * (1 - a)), int(window.green() * (1 - a)),
                          int(window.blue() * (1 - a) + 200 * a));
    for (const QPoint &p : {QPoint(2, 2), QPoint(697, 347)}) {
        const QColor c = img.pixelColor(p);
        QVERIFY2(qAbs(c.red() - expected.red()) + qAbs(c.green() - expected.green())
                         + qAbs(c.blue() - expected.blue()) <= 6,
                 qPrintable(c.name() + " vs " + expected.name()));
    }
}

QTEST_MAIN(TestSetupWaitProgressBar)
#include "tst_setupwaitprogressbar.moc"
