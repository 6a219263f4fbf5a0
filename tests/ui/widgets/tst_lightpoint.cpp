#include "ui/widgets/lightpoint.h"

#include <QTest>

// The status lamp: drawing, pulse, repaint on change, timer.
class TestLightPoint : public QObject
{
    Q_OBJECT

private slots:
    void drawsDiscCentredOnShorterSide();
    void colourAfterSetBgColor_data();
    void colourAfterSetBgColor();
    void pulseSequence_data();
    void pulseSequence();
    void zeroStepFreezesPulse();
    void settersRepaintOnlyOnChange_data();
    void settersRepaintOnlyOnChange();
    void setIntervalRetimesRunningTimer();
    void hiddenLampDoesNotPulse();
};

namespace {

// Only what paintEvent draws: a transparent window background lets the lamp's
// own alpha through to the grabbed image.
QImage paintOnce(LightPoint &lamp)
{
    QPalette palette = lamp.palette();
    palette.setColor(QPalette::Window, Qt::transparent);
    lamp.setPalette(palette);
    return lamp.grab().toImage().convertToFormat(QImage::Format_ARGB32);
}

// On a 200 x 200 lamp (scale 1) this pixel lies between the gradient stops
// 0.3 and 0.6, where the alpha is a fixed ramp plus the pulse offset.
const QPoint kRingPixel(140, 100);

class PaintCounter : public QObject
{
public:
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

int ringAlphaAtRest()
{
    LightPoint lamp;
    lamp.resize(200, 200);
    lamp.setStep(0);
    return qAlpha(paintOnce(lamp).pixel(kRingPixel));
}

} // namespace

void TestLightPoint::drawsDiscCentredOnShorterSide()
{
    LightPoint lamp;
    lamp.resize(300, 100);
    const QImage img = paintOnce(lamp);

    // Opaque lamp-coloured centre at (150, 50).
    QCOMPARE(img.pixelColor(150, 50), QColor(255, 0, 0));
    // Diameter about 99 pixels: still some colour 45 pixels out, none 52
    // pixels out, and nothing in the widget's side areas or corners.
    for (int dx : {-45, 45})
        QVERIFY2(qAlpha(img.pixel(150 + dx, 50)) > 0, qPrintable(QString::number(dx)));
    for (int dx : {-52, 52})
        QCOMPARE(qAlpha(img.pixel(150 + dx, 50)), 0);
    QCOMPARE(qAlpha(img.pixel(150, 2)), qAlpha(img.pixel(150, 97)));
    QVERIFY(qAlpha(img.pixel(150, 2)) < 30);
    QCOMPARE(qAlpha(img.pixel(50, 50)), 0);
    QCOMPARE(qAlpha(img.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(img.pixel(299, 99)), 0);
}

void TestLightPoint::colourAfterSetBgColor_data()
{
    QTest::addColumn<QColor>("colour");
    QTest::newRow("started") << QColor("#00B17D");
    QTest::newRow("not started") << QColor("#D64D54");
}

void TestLightPoint::colourAfterSetBgColor()
{
    QFETCH(QColor, colour);
    const int rest = ringAlphaAtRest();

    LightPoint lamp;
    lamp.resize(200, 200);
    paintOnce(lamp);
    paintOnce(lamp);                         // pulse offset now 20
    lamp.setBgColor(colour);
    QCOMPARE(lamp.getBgColor(), colour);
    const QImage img = paintOnce(lamp);      // 30, in the new colour

    QCOMPARE(img.pixelColor(100, 100), colour);
    QVERIFY(qAlpha(img.pixel(2, 100)) < 8);  // the rim fades out
    QCOMPARE(qAlpha(img.pixel(0, 0)), 0);
    const QColor ring = img.pixelColor(kRingPixel);
    // Semi-transparent pixels lose a little to premultiplied rounding.
    QVERIFY(qAbs(ring.red() - colour.red()) <= 3);
    QVERIFY(qAbs(ring.green() - colour.green()) <= 3);
    QVERIFY(qAbs(ring.blue() - colour.blue()) <= 3);
    QVERIFY2(qAbs(ring.alpha() - rest - 30) <= 2, qPrintable(QString::number(ring.alpha() - rest)));
}

void TestLightPoint::pulseSequence_data()
{
    QTest::addColumn<int>("step");
    QTest::addColumn<QList<int>>("offsets");
    QTest::newRow("step 10, one full breath and the next start")
        << 10 << QList<int>{10, 20, 30, 40, 50, 60, 70, 60, 50, 40, 30, 20, 10, 0, 0, 10, 20};
    QTest::newRow("step 30 overshoots the peak once")
        << 30 << QList<int>{30, 60, 90, 60, 30, 0, 0, 30, 60};
    QTest::newRow("step 70 turns at once")
        << 70 << QList<int>{70, 0, 0, 70, 0};
    QTest::newRow("step 0 rests") << 0 << QList<int>{0, 0, 0};
}

void TestLightPoint::pulseSequence()
{
    QFETCH(int, step);
    QFETCH(QList<int>, offsets);
    const int rest = ringAlphaAtRest();

    LightPoint lamp;
    lamp.resize(200, 200);
    lamp.setStep(step);
    for (int i = 0; i < offsets.size(); ++i) {
        const int alpha = qAlpha(paintOnce(lamp).pixel(kRingPixel));
        QVERIFY2(qAbs(alpha - rest - offsets.at(i)) <= 2,
                 qPrintable(QStringLiteral("paint %1: offset %2, expected %3")
                                .arg(i + 1).arg(alpha - rest).arg(offsets.at(i))));
    }
}

void TestLightPoint::zeroStepFreezesPulse()
{
    const int rest = ringAlphaAtRest();
    LightPoint lamp;
    lamp.resize(200, 200);
    for (int i = 0; i < 4; ++i)
        paintOnce(lamp);                     // offset 40
    lamp.setStep(0);
    for (int i = 0; i < 3; ++i)
        QVERIFY(qAbs(qAlpha(paintOnce(lamp).pixel(kRingPixel)) - rest - 40) <= 2);
}

void TestLightPoint::settersRepaintOnlyOnChange_data()
{
    QTest::addColumn<QByteArray>("property");
    QTest::addColumn<QVariant>("same");
    QTest::addColumn<QVariant>("different");
    QTest::newRow("step") << QByteArray("step") << QVariant(10) << QVariant(20);
    QTest::newRow("interval") << QByteArray("interval") << QVariant(60000) << QVariant(50000);
    QTest::newRow("bgColor") << QByteArray("bgColor") << QVariant(QColor(255, 0, 0))
                             << QVariant(QColor("#00B17D"));
}

void TestLightPoint::settersRepaintOnlyOnChange()
{
    QFETCH(QByteArray, property);
    QFETCH(QVariant, same);
    QFETCH(QVariant, different);

    LightPoint lamp;
    lamp.setInterval(60000);                 // keep the timer out of the count
    lamp.show();
    QVERIFY(QTest::qWaitForWindowExposed(&lamp));
    PaintCounter counter;
    lamp.installEventFilter(&counter);
    QTest::qWait(50);
    counter.paints = 0;

    QVERIFY(lamp.setProperty(property.constData(), same));
    QTest::qWait(50);
    QCOMPARE(counter.paints, 0);

    QVERIFY(lamp.setProperty(property.constData(), different));
    QCOMPARE(lamp.property(property.constData()), different);
    QTRY_COMPARE(counter.paints, 1);
}

void TestLightPoint::setIntervalRetimesRunningTimer()
{
    LightPoint lamp;
    QCOMPARE(lamp.getInterval(), 100);
    lamp.show();
    QVERIFY(QTest::qWaitForWindowExposed(&lamp));
    PaintCounter counter;
    lamp.installEventFilter(&counter);

    // The default 100 ms timer keeps painting on its own.
    QTRY_VERIFY(counter.paints >= 3);

    lamp.setInterval(60000);
    QTest::qWait(50);                        // the setter's own repaint
    counter.paints = 0;
    QTest::qWait(400);
    QCOMPARE(counter.paints, 0);

    lamp.setInterval(10);
    QTRY_VERIFY(counter.paints >= 10);
}

void TestLightPoint::hiddenLampDoesNotPulse()
{
    const int rest = ringAlphaAtRest();
    LightPoint lamp;
    lamp.resize(200, 200);
    lamp.setInterval(5);
    QTest::qWait(100);                       // many ticks, but never shown
    QVERIFY(qAbs(qAlpha(paintOnce(lamp).pixel(kRingPixel)) - rest - 10) <= 2);
}

QTEST_MAIN(TestLightPoint)
#include "tst_lightpoint.moc"
