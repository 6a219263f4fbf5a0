#include "ui/widgets/lightpoint.h"

#include <QPainter>
#include <QRadialGradient>
#include <QTest>
#include <QTimer>

// The status lamp: its pixels, pulse, repaint on change and timer.
class TestLightPoint : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void discCentredOnShorterSide();
    void pulse_data();
    void pulse();
    void repaintOnlyOnChange_data();
    void repaintOnlyOnChange();
    void setIntervalRetimes();
    void restingTickPaintsNothing();
    void embeddedLooksAsLaidOver();
    void timerOnlyWhileShown_data();
    void timerOnlyWhileShown();

private:
    int restAlpha = 0;
};

namespace {
// What paintEvent draws, on a transparent window background.
QImage paint(LightPoint &lamp)
{
    QPalette palette = lamp.palette();
    palette.setColor(QPalette::Window, Qt::transparent);
    lamp.setPalette(palette);
    return lamp.grab().toImage().convertToFormat(QImage::Format_ARGB32);
}

// On a 200 x 200 lamp this pixel lies between the stops 0.3 and 0.6, where
// the alpha is a fixed ramp plus the pulse offset.
const QPoint kRing(140, 100);

// The disc as the lamp's pulse describes it, drawn on its own.
QImage referenceDisc(QSize size, const QColor &colour, int offset)
{
    QImage img(size, QImage::Format_ARGB32_Premultiplied);
    img.fill(Qt::transparent);
    QPainter p(&img);
    p.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    p.translate(size.width() / 2, size.height() / 2);
    const int side = qMin(size.width(), size.height());
    p.scale(side / 200.0, side / 200.0);
    QRadialGradient g(0, 0, 99);
    const int alphas[] = {255, 100 + offset, 50 + offset, 0};
    const qreal stops[] = {0.1, 0.3, 0.6, 1.0};
    for (int i = 0; i < 4; ++i) {
        QColor c = colour;
        c.setAlpha(qBound(0, alphas[i], 255));
        g.setColorAt(stops[i], c);
    }
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawEllipse(QRect(-99, -99, 198, 198));
    return img;
}

class PaintCounter : public QObject
{
public:
    int paints = 0;
    bool eventFilter(QObject *, QEvent *e) override
    {
        paints += e->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
};
} // namespace

void TestLightPoint::initTestCase()
{
    LightPoint lamp;
    lamp.resize(200, 200);
    lamp.setStep(0);                         // offset stays 0
    restAlpha = qAlpha(paint(lamp).pixel(kRing));
}

void TestLightPoint::discCentredOnShorterSide()
{
    LightPoint lamp;
    lamp.resize(300, 100);
    const QImage img = paint(lamp);
    QCOMPARE(img.pixelColor(150, 50), QColor(255, 0, 0));   // opaque centre
    // About 99 pixels across: colour 45 pixels out, none 52 out or beside.
    for (int dx : {-45, 45}) {
        QVERIFY(qAlpha(img.pixel(150 + dx, 50)) > 0);
        QCOMPARE(qAlpha(img.pixel(150 + 52 * dx / 45, 50)), 0);
    }
    QVERIFY(qAlpha(img.pixel(150, 1)) < 10);                 // transparent rim
    QCOMPARE(qAlpha(img.pixel(0, 0)), 0);
}

void TestLightPoint::pulse_data()
{
    QTest::addColumn<int>("step");
    QTest::addColumn<QColor>("colour");      // set after the second paint
    QTest::addColumn<QList<int>>("offsets");

    QTest::newRow("step 10: a 15-paint breath")
        << 10 << QColor("#00B17D") << QList<int>{10, 20, 30, 40, 50, 60, 70, 60, 50, 40, 30, 20, 10, 0, 0, 10};
    QTest::newRow("step 30 overshoots once")
        << 30 << QColor("#D64D54") << QList<int>{30, 60, 90, 60, 30, 0, 0, 30};
    QTest::newRow("step 0 rests") << 0 << QColor("#D64D54") << QList<int>{0, 0, 0};
}

void TestLightPoint::pulse()
{
    QFETCH(int, step);
    QFETCH(QColor, colour);
    QFETCH(QList<int>, offsets);

    LightPoint lamp;
    lamp.resize(200, 200);
    lamp.setStep(step);
    for (int i = 0; i < offsets.size(); ++i) {
        if (i == 2)
            lamp.setBgColor(colour);         // the pulse carries on
        const QImage img = paint(lamp);
        const QColor ring = img.pixelColor(kRing);
        QVERIFY2(qAbs(ring.alpha() - restAlpha - offsets.at(i)) <= 2,
                 qPrintable(QStringLiteral("paint %1: offset %2").arg(i + 1).arg(ring.alpha() - restAlpha)));
        if (i >= 2) {
            QCOMPARE(img.pixelColor(100, 100), colour);
            QVERIFY(qAbs(ring.red() - colour.red()) + qAbs(ring.green() - colour.green())
                        + qAbs(ring.blue() - colour.blue()) <= 6);
        }
    }
}

void TestLightPoint::repaintOnlyOnChange_data()
{
    QTest::addColumn<QString>("property");
    QTest::addColumn<QVariant>("same");
    QTest::addColumn<QVariant>("other");
    QTest::newRow("step") << QString("step") << QVariant(10) << QVariant(20);
    QTest::newRow("interval") << QString("interval") << QVariant(60000) << QVariant(50000);
    QTest::newRow("bgColor") << QString("bgColor") << QVariant(QColor(Qt::red)) << QVariant(QColor("#00B17D"));
}

void TestLightPoint::repaintOnlyOnChange()
{
    QFETCH(QString, property);
    const QByteArray name = property.toLatin1();
    QFETCH(QVariant, same);
    QFETCH(QVariant, other);

    LightPoint lamp;
    lamp.setInterval(60000);                 // keeps the timer out of the count
    lamp.show();
    QVERIFY(QTest::qWaitForWindowExposed(&lamp));
    PaintCounter counter;
    lamp.installEventFilter(&counter);
    QTest::qWait(50);
    counter.paints = 0;

    QVERIFY(lamp.setProperty(name.constData(), same));
    QTest::qWait(50);
    QCOMPARE(counter.paints, 0);
    QVERIFY(lamp.setProperty(name.constData(), other));
    QCOMPARE(lamp.property(name.constData()), other);
    QTRY_COMPARE(counter.paints, 1);
}

void TestLightPoint::setIntervalRetimes()
{
    LightPoint lamp;
    lamp.show();
    QVERIFY(QTest::qWaitForWindowExposed(&lamp));
    PaintCounter counter;
    lamp.installEventFilter(&counter);
    QTRY_VERIFY(counter.paints >= 3);        // the 100 ms timer paints on its own

    lamp.setInterval(60000);
    QTest::qWait(50);
    counter.paints = 0;
    QTest::qWait(400);
    QCOMPARE(counter.paints, 0);
    lamp.setInterval(10);
    QTRY_VERIFY(counter.paints >= 10);
}

// The timer ticks at the same rate, but the resting step of each breath
// (offset 0 twice) does not put the same frame on the screen again.
void TestLightPoint::restingTickPaintsNothing()
{
    LightPoint lamp;
    lamp.setInterval(10);
    lamp.show();
    QVERIFY(QTest::qWaitForWindowExposed(&lamp));
    auto *timer = lamp.findChild<QTimer *>();
    QVERIFY(timer);
    PaintCounter counter;
    lamp.installEventFilter(&counter);
    int ticks = 0;
    connect(timer, &QTimer::timeout, &lamp, [&ticks] { ++ticks; });
    QTRY_VERIFY_WITH_TIMEOUT(ticks >= 45, 10000);        // three breaths
    QVERIFY2(counter.paints <= ticks - 2, qPrintable(QStringLiteral("%1 paints in %2 ticks").arg(counter.paints).arg(ticks)));
    QVERIFY(counter.paints >= 30);
}

// Inside a styled parent the lamp paints all of its pixels itself; they
// must be what the parent's own painting with the disc laid over it gives,
// at every step of the pulse, and again after the parent's look changes.
void TestLightPoint::embeddedLooksAsLaidOver()
{
    QWidget parent;
    parent.setObjectName(QStringLiteral("area"));
    parent.resize(220, 140);
    auto *lamp = new LightPoint(&parent);
    lamp->setGeometry(30, 20, 100, 100);
    lamp->setBgColor(QColor(QStringLiteral("#00B17D")));
    QVERIFY(lamp->testAttribute(Qt::WA_OpaquePaintEvent));
    const QRect place = lamp->geometry();
    // Rendered as into a window's backing store.
    auto render = [&parent] {
        QImage img(parent.size(), QImage::Format_RGB32);
        parent.render(&img);
        return img;
    };
    const QList<int> offsets{10, 20, 30, 40, 50, 60};
    int paints = 0;
    // Flat grounds, as in the panels: a clipped render of a border or a
    // gradient may differ from a whole one by a unit here and there.
    for (const char *sheet : {"QWidget#area { background: #FFFFFF; border-bottom: 9px solid #C03030; }",
                              "QWidget#area { background: #1F262D; }"}) {
        parent.setStyleSheet(QString::fromLatin1(sheet));
        parent.setAttribute(Qt::WA_StyledBackground);
        lamp->hide();
        const QImage behind = render();
        lamp->show();
        for (int i = 0; i < 3; ++i, ++paints) {
            QImage expected = behind;
            QPainter(&expected).drawImage(place.topLeft(),
                                          referenceDisc(place.size(), lamp->getBgColor(), offsets.at(paints)));
            QVERIFY2(render() == expected, qPrintable(QStringLiteral("sheet %1, paint %2").arg(sheet).arg(paints)));
        }
    }
}

void TestLightPoint::timerOnlyWhileShown_data()
{
    QTest::addColumn<bool>("minimise");
    QTest::newRow("hidden") << false;
    QTest::newRow("minimised") << true;
}

// A lamp nobody can see has no timer running; it runs again once shown.
void TestLightPoint::timerOnlyWhileShown()
{
    QFETCH(bool, minimise);
    QWidget window;
    auto *lamp = new LightPoint(&window);
    auto *timer = lamp->findChild<QTimer *>();
    QVERIFY(timer);
    QVERIFY(!timer->isActive());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(timer->isActive());
    PaintCounter counter;
    lamp->installEventFilter(&counter);
    QTRY_VERIFY(counter.paints >= 2);

    if (minimise)
        window.showMinimized();
    else
        window.hide();
    QTRY_VERIFY(!timer->isActive());
    window.showNormal();
    QTRY_VERIFY(timer->isActive());
    counter.paints = 0;
    QTRY_VERIFY(counter.paints >= 2);
}

QTEST_MAIN(TestLightPoint)
#include "tst_lightpoint.moc"
