#include "ui/widgets/colorprogressbar.h"

#include <QFontMetricsF>
#include <QTest>

#include <functional>

// Geometry, styles and the value/appearance setters of the colour bar.
class TestColorProgressBar : public QObject
{
    Q_OBJECT

private slots:
    void fillWidth_data();
    void fillWidth();
    void textPlacement_data();
    void textPlacement();
    void stripes_data();
    void stripes();
    void setLineStyle_data();
    void setLineStyle();
    void rangeAndValue_data();
    void rangeAndValue();
    void valueRepaints_data();
    void valueRepaints();
    void appearanceRepaintsOnlyOnChange_data();
    void appearanceRepaintsOnlyOnChange();
    void zeroWidthRange_data();
    void zeroWidthRange();
};

namespace {

const QColor kTrack(0, 0, 255);
const QColor kBar(255, 0, 0);
const QColor kText(0, 255, 0);
const QColor kTextBg(255, 255, 0);
const QColor kLine(255, 0, 255);

enum Layout { Head, AboveFollow, AboveAtEnd, RightBubble, RightAtEnd };
// Widget widths worked out from the text width when the test runs.
constexpr int kJustWider = -1;
constexpr int kJustNarrower = -2;

bool near(QRgb pixel, const QColor &colour, int tolerance = 60)
{
    return qAlpha(pixel) > 200
        && qAbs(qRed(pixel) - colour.red()) + qAbs(qGreen(pixel) - colour.green())
                   + qAbs(qBlue(pixel) - colour.blue())
               < tolerance;
}

void configure(ColorProgressBar &bar, int width, int height)
{
    QPalette palette = bar.palette();
    palette.setColor(QPalette::Window, Qt::transparent);
    bar.setPalette(palette);
    QFont font = bar.font();
    font.setPixelSize(12);
    bar.setFont(font);
    bar.setFixedSize(width, height);
    bar.setBgColor(kTrack);
    bar.setBarColor(kBar);
    bar.setTextColor(kText);
    bar.setTextBgColor(kTextBg);
    bar.setLineColor(kLine);
    bar.setGradientStops({{0.0, kBar}, {1.0, kBar}});
    bar.setPrecision(1);
}

QImage render(ColorProgressBar &bar)
{
    return bar.grab().toImage().convertToFormat(QImage::Format_ARGB32);
}

int countInRow(const QImage &img, int y, const QColor &colour)
{
    int n = 0;
    for (int x = 0; x < img.width(); ++x)
        n += near(img.pixel(x, y), colour) ? 1 : 0;
    return n;
}

QRect boundingBox(const QImage &img, const QColor &colour)
{
    QRect box;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (near(img.pixel(x, y), colour))
                box |= QRect(x, y, 1, 1);
    return box;
}

// Where the text's pixels are: what changes when the text turns invisible.
QRect inkBox(ColorProgressBar &bar)
{
    const QImage withText = render(bar);
    bar.setTextColor(Qt::transparent);
    const QImage without = render(bar);
    bar.setTextColor(kText);
    QRect box;
    for (int y = 0; y < withText.height(); ++y)
        for (int x = 0; x < withText.width(); ++x)
            if (withText.pixel(x, y) != without.pixel(x, y))
                box |= QRect(x, y, 1, 1);
    return box;
}

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

// A shown bar whose paints are counted from the moment it is settled.
struct ShownBar
{
    explicit ShownBar(int style = 1)
        : bar(style)
    {
        bar.resize(300, 30);
        bar.show();
        exposed = QTest::qWaitForWindowExposed(&bar);
        bar.installEventFilter(&counter);
    }
    // The paints an action caused, after the event loop had its say.
    int paintsAfter(const std::function<void()> &action)
    {
        QTest::qWait(30);                    // let earlier changes paint first
        counter.paints = 0;
        action();
        QTest::qWait(30);
        return counter.paints;
    }
    ColorProgressBar bar;
    PaintCounter counter;
    bool exposed = false;
};

} // namespace

void TestColorProgressBar::fillWidth_data()
{
    QTest::addColumn<int>("style");
    QTest::addColumn<int>("position");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("row");
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("fill");
    QTest::addColumn<int>("track");

    for (int style : {1, 3}) {
        for (double value : {0.0, 25.0, 100.0}) {
            const QByteArray tag = QByteArray::number(value) + "%, style " + QByteArray::number(style);
            QTest::newRow(("head, " + tag).constData())
                << style << 0 << QSize(300, 30) << 1 << value << int(3 * value) << 300;
            QTest::newRow(("above, " + tag).constData())
                << style << 1 << QSize(300, 60) << 41 << value << int(3 * value) << 300;
            QTest::newRow(("right 300, " + tag).constData())
                << style << 2 << QSize(300, 30) << 1 << value << int(3 * value) << 300;
            QTest::newRow(("right 800, " + tag).constData())
                << style << 2 << QSize(800, 30) << 1 << value << int(7.2 * value) << 720;
        }
    }
}

void TestColorProgressBar::fillWidth()
{
    QFETCH(int, style);
    QFETCH(int, position);
    QFETCH(QSize, size);
    QFETCH(int, row);
    QFETCH(double, value);
    QFETCH(int, fill);
    QFETCH(int, track);

    ColorProgressBar bar(style);
    configure(bar, size.width(), size.height());
    bar.setRadius(0);
    bar.setTextPosition(position);
    bar.setValue(value);
    const QImage img = render(bar);

    const int filled = countInRow(img, row, kBar);
    QVERIFY2(qAbs(filled - fill) <= 1, qPrintable(QString::number(filled)));
    // The fill starts at the left edge; the rest of the track shows behind it.
    if (fill > 0)
        QVERIFY(near(img.pixel(0, row), kBar));
    QVERIFY(qAbs(filled + countInRow(img, row, kTrack) - track) <= 1);
    if (track < size.width())
        QCOMPARE(qAlpha(img.pixel(track + 2, row)), 0);   // the gap before the bubble
}

void TestColorProgressBar::textPlacement_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("layout");
    QTest::addColumn<bool>("bubble");

    QTest::newRow("head, 25%") << 0 << QSize(300, 30) << 25.0 << int(Head) << false;
    QTest::newRow("head, 100%") << 0 << QSize(300, 30) << 100.0 << int(Head) << false;
    QTest::newRow("head, 0% lies left of the widget") << 0 << QSize(300, 30) << 0.0 << int(Head) << false;
    QTest::newRow("above, 25%") << 1 << QSize(300, 60) << 25.0 << int(AboveFollow) << true;
    QTest::newRow("above, 2%: head closer than 15") << 1 << QSize(300, 60) << 2.0 << int(AboveFollow) << true;
    QTest::newRow("above, 0%: text without bubble") << 1 << QSize(300, 60) << 0.0 << int(AboveFollow) << false;
    QTest::newRow("above, 95%: kept at the right end") << 1 << QSize(300, 60) << 95.0 << int(AboveAtEnd) << true;
    QTest::newRow("right, 300 wide: end of full-width bar") << 2 << QSize(300, 30) << 25.0 << int(RightAtEnd) << false;
    QTest::newRow("right, 800 wide: bubble from 725") << 2 << QSize(800, 30) << 25.0 << int(RightBubble) << true;
    QTest::newRow("right, 800 wide, 0%") << 2 << QSize(800, 30) << 0.0 << int(RightBubble) << true;
    // Widths just either side of ten text widths (see kJust*).
    QTest::newRow("right, just wide enough") << 2 << QSize(kJustWider, 30) << 25.0 << int(RightBubble) << true;
    QTest::newRow("right, just too narrow") << 2 << QSize(kJustNarrower, 30) << 25.0 << int(RightAtEnd) << false;
}

void TestColorProgressBar::textPlacement()
{
    QFETCH(int, position);
    QFETCH(QSize, size);
    QFETCH(double, value);
    QFETCH(int, layout);
    QFETCH(bool, bubble);

    ColorProgressBar bar(3);
    configure(bar, 100, size.height());
    const QString text = QString::number(value, 'f', 1) + QLatin1Char('%');
    const QFontMetricsF metrics(bar.font());
    const double textW = 1.2 * metrics.size(Qt::TextSingleLine, text).width() + 5;
    // 300 and 800 pixels must straddle the 10 % that decides text position 2.
    QVERIFY(textW > 30 && textW < 80);
    if (size.width() == kJustWider)
        size.setWidth(int(10 * textW) + 3);
    else if (size.width() == kJustNarrower)
        size.setWidth(int(10 * textW) - 2);

    bar.setFixedSize(size);
    bar.setTextPosition(position);
    bar.setValue(value);
    const QImage img = render(bar);

    const int W = size.width();
    const int H = size.height();
    const double head = value / 100 * W;
    QRectF expected;
    switch (layout) {
    case Head: expected = QRectF(head - textW, 0, textW, H); break;
    case AboveFollow: expected = QRectF(head - qMin(15.0, head), H / 12, textW, 5 * H / 12); break;
    case AboveAtEnd: expected = QRectF(W - textW, H / 12, textW, 5 * H / 12); break;
    case RightBubble: expected = QRectF(0.9 * W + 5, 0, 0.1 * W - 5, H); break;
    case RightAtEnd: expected = QRectF(W - textW, 0, textW, H); break;
    }

    const QRect ink = inkBox(bar);
    if (expected.right() <= 0) {
        QVERIFY(ink.isNull());
    } else {
        QVERIFY(!ink.isNull());
        const QRectF inkF(ink);
        QVERIFY2(qAbs(inkF.center().x() - expected.center().x()) <= 2.5
                     && qAbs(inkF.center().y() - expected.center().y()) <= 3,
                 qPrintable(QStringLiteral("ink centre (%1, %2), expected (%3, %4)")
                                .arg(inkF.center().x()).arg(inkF.center().y())
                                .arg(expected.center().x()).arg(expected.center().y())));
        // "25.0%" and not "25%": the ink is as wide as the whole text.
        QVERIFY(qAbs(ink.width() - metrics.boundingRect(text).width()) <= 3);
    }

    const QRect bubbleInk = boundingBox(img, kTextBg);
    if (!bubble) {
        QVERIFY(bubbleInk.isNull());
        return;
    }
    QVERIFY(near(img.pixel(int(expected.left()) + 2, int(expected.center().y())), kTextBg));
    QVERIFY(near(img.pixel(int(expected.right()) - 3, int(expected.center().y())), kTextBg));
    if (position == 1) {
        // The marker dot, 10 pixels across, centred 10 pixels behind the head
        // on the bar's middle line.
        const int dotX = int(head) - 10;
        const int midY = 5 * H / 6;
        if (dotX >= 5) {
            QVERIFY(near(img.pixel(dotX, midY), kTextBg));
            QVERIFY(!near(img.pixel(dotX + 7, midY), kTextBg));
            QVERIFY(!near(img.pixel(dotX - 7, midY), kTextBg));
            QVERIFY(qAbs(bubbleInk.bottom() - (midY + 4)) <= 1);
        }
    } else {
        QVERIFY(qAbs(bubbleInk.left() - (0.9 * W + 5)) <= 1);
        QCOMPARE(bubbleInk.right(), W - 1);
    }
}

void TestColorProgressBar::stripes_data()
{
    QTest::addColumn<int>("style");
    QTest::addColumn<int>("lineWidth");
    QTest::addColumn<int>("slant");
    QTest::addColumn<bool>("striped");

    QTest::newRow("gradient: none") << 1 << 4 << 0 << false;
    QTest::newRow("plain: none") << 3 << 4 << 0 << false;
    QTest::newRow("striped, polygons") << 2 << 4 << 0 << true;
    QTest::newRow("striped, polygons, slanted") << 2 << 4 << 5 << true;
    QTest::newRow("striped, lines") << 2 << 2 << 0 << true;
    QTest::newRow("striped, lines, slanted") << 2 << 2 << 5 << true;
}

void TestColorProgressBar::stripes()
{
    QFETCH(int, style);
    QFETCH(int, lineWidth);
    QFETCH(int, slant);
    QFETCH(bool, striped);

    ColorProgressBar bar(style);
    configure(bar, 300, 30);
    bar.setTextPosition(1);                  // keeps the text off the bar
    bar.setFixedSize(300, 60);
    bar.setValue(50);
    const int spacing = 10 - lineWidth;      // a period of 10 pixels
    bar.setLineStyle(spacing, slant, lineWidth);
    const QImage img = render(bar);

    // The fill covers rows 40 to 59. Stripe k starts at x = 10k on the top
    // edge (a 2-pixel line is centred there) and is shifted by the slant at
    // the bottom edge; rows 41 and 59 see nearly none and all of the shift.
    const int top = 41;
    const int bottom = 59;
    const int inStripe = lineWidth > 2 ? 2 : 0;
    const int between = 6;
    for (int k = 2; k < 14; ++k) {
        const int x = 10 * k;
        QCOMPARE(near(img.pixel(x + inStripe, top), kLine), striped);
        QVERIFY(near(img.pixel(x + between, top), kBar));
        if (striped) {
            QVERIFY(near(img.pixel(x + inStripe + qMax(0, slant - 1), bottom), kLine));
            if (slant != 0)
                QVERIFY(near(img.pixel(x + inStripe, bottom), kBar));
        }
    }
    // Nothing beyond the fill's end at 150.
    for (int x = 152; x < 300; ++x)
        QVERIFY(!near(img.pixel(x, top), kLine) && !near(img.pixel(x, bottom), kLine));
    // Wide stripes square the corners off; the default radius keeps them round.
    const bool squared = striped && lineWidth > 2;
    QCOMPARE(qAlpha(img.pixel(0, 40)) > 200, squared);
}

void TestColorProgressBar::setLineStyle_data()
{
    QTest::addColumn<int>("style");
    QTest::addColumn<int>("spacing");
    QTest::addColumn<int>("width");
    QTest::addColumn<bool>("applied");

    QTest::newRow("striped") << 2 << 6 << 4 << true;
    QTest::newRow("striped, zero spacing") << 2 << 0 << 3 << true;
    QTest::newRow("gradient bar ignores it") << 1 << 6 << 4 << false;
    QTest::newRow("plain bar ignores it") << 0 << 6 << 4 << false;
    QTest::newRow("negative spacing") << 2 << -1 << 4 << false;
    QTest::newRow("negative width") << 2 << 6 << -4 << false;
}

void TestColorProgressBar::setLineStyle()
{
    QFETCH(int, style);
    QFETCH(int, spacing);
    QFETCH(int, width);
    QFETCH(bool, applied);

    ShownBar shown(style);
    QVERIFY(shown.exposed);
    ColorProgressBar &bar = shown.bar;
    configure(bar, 300, 30);
    bar.setTextPosition(1);
    bar.setFixedSize(300, 60);
    bar.setValue(100);
    QCOMPARE(shown.paintsAfter([&] { bar.setLineStyle(spacing, 0, width); }), applied ? 1 : 0);

    bar.setBarStyle(2);
    const QImage img = render(bar);
    // Period and width of the stripes tell which settings are in force: the
    // new ones are bands [pk, pk + width); the defaults are lines of width 2
    // centred every 7 pixels.
    const int period = applied ? spacing + width : 7;
    for (int k = 3; k < 20; ++k) {
        const int x = period * k;
        QVERIFY(near(img.pixel(applied ? x + 1 : x, 41), kLine));
        if (applied && spacing == 0)
            QVERIFY(near(img.pixel(x + width - 1, 41), kLine));
        else
            QVERIFY(near(img.pixel(applied ? x + width + spacing / 2 : x + 3, 41), kBar));
    }
    // Wide stripes squared the corners off.
    QCOMPARE(qAlpha(img.pixel(0, 40)) > 200, applied);
}

void TestColorProgressBar::rangeAndValue_data()
{
    QTest::addColumn<double>("initial");
    QTest::addColumn<double>("min");
    QTest::addColumn<double>("max");
    QTest::addColumn<double>("probe");    // set after the range; NaN: none
    QTest::addColumn<double>("expected");

    const double none = qQNaN();
    QTest::newRow("reversed range is swapped: below") << 0.0 << 100.0 << 0.0 << -5.0 << 0.0;
    QTest::newRow("reversed range is swapped: above") << 0.0 << 100.0 << 0.0 << 150.0 << 100.0;
    QTest::newRow("narrowing clamps the value") << 80.0 << 0.0 << 50.0 << none << 50.0;
    QTest::newRow("raising the minimum clamps") << 10.0 << 20.0 << 100.0 << none << 20.0;
    QTest::newRow("value inside stays") << 30.0 << 0.0 << 50.0 << none << 30.0;
    QTest::newRow("negative range") << 0.0 << -10.0 << -2.0 << none << -2.0;
    QTest::newRow("value set inside a new range") << 0.0 << 0.0 << 10.0 << 7.5 << 7.5;
}

void TestColorProgressBar::rangeAndValue()
{
    QFETCH(double, initial);
    QFETCH(double, min);
    QFETCH(double, max);
    QFETCH(double, probe);
    QFETCH(double, expected);

    ColorProgressBar bar(1);
    bar.setValue(initial);
    bar.setRange(min, max);
    if (!qIsNaN(probe))
        bar.setValue(probe);
    QCOMPARE(bar.getValue(), expected);
}

void TestColorProgressBar::valueRepaints_data()
{
    QTest::addColumn<double>("before");
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("stored");
    QTest::addColumn<bool>("repaint");

    QTest::newRow("same zero") << 0.0 << 0.0 << 0.0 << false;
    QTest::newRow("new value") << 0.0 << 25.0 << 25.0 << true;
    QTest::newRow("above max") << 0.0 << 150.0 << 100.0 << true;
    QTest::newRow("above max again: compared before clamping") << 150.0 << 150.0 << 100.0 << true;
    QTest::newRow("below min") << 0.0 << -20.0 << 0.0 << true;
    QTest::newRow("fuzzy equal") << 50.0 << 50.0 + 1e-12 << 50.0 << false;
    QTest::newRow("tiny but real change") << 50.0 << 50.001 << 50.001 << true;
}

void TestColorProgressBar::valueRepaints()
{
    QFETCH(double, before);
    QFETCH(double, value);
    QFETCH(double, stored);
    QFETCH(bool, repaint);

    ShownBar shown;
    QVERIFY(shown.exposed);
    shown.bar.setValue(before);
    QCOMPARE(shown.paintsAfter([&] { shown.bar.setValue(value); }), repaint ? 1 : 0);
    QCOMPARE(shown.bar.getValue(), stored);

    // The int overload, also through the meta-object, lands on the same value.
    if (stored == int(stored)) {
        ColorProgressBar viaInt(1);
        QVERIFY(QMetaObject::invokeMethod(&viaInt, "setValue", Q_ARG(int, int(value))));
        QCOMPARE(viaInt.getValue(), qBound(0.0, double(int(value)), 100.0));
    }
}

void TestColorProgressBar::appearanceRepaintsOnlyOnChange_data()
{
    QTest::addColumn<int>("setter");
    const char *names[] = {"bgColor", "barColor", "lineColor", "textColor", "textBgColor",
                           "gradientStops", "precision", "radius", "textPosition", "barStyle"};
    for (int i = 0; i < 10; ++i)
        QTest::newRow(names[i]) << i;
}

void TestColorProgressBar::appearanceRepaintsOnlyOnChange()
{
    QFETCH(int, setter);

    // Each setter first with the value the bar already has, then a new one.
    const QGradientStops stops{{0.0, QColor("#ECF1F3")}, {1.0, QColor("#1B9ACD")}};
    const std::function<void(ColorProgressBar &, bool)> setters[] = {
        [](ColorProgressBar &b, bool d) { b.setBgColor(d ? QColor(250, 250, 250) : QColor(Qt::white)); },
        [](ColorProgressBar &b, bool d) { b.setBarColor(d ? QColor(Qt::red) : QColor(255, 107, 107)); },
        [](ColorProgressBar &b, bool d) { b.setLineColor(d ? QColor(Qt::red) : QColor(255, 107, 10)); },
        [](ColorProgressBar &b, bool d) { b.setTextColor(d ? QColor(Qt::white) : QColor(Qt::black)); },
        [](ColorProgressBar &b, bool d) { b.setTextBgColor(d ? QColor(24, 189, 155) : QColor(Qt::white)); },
        [&](ColorProgressBar &b, bool d) { b.setGradientStops(d ? stops : QGradientStops()); },
        [](ColorProgressBar &b, bool d) { b.setPrecision(d ? 1 : 0); },
        [](ColorProgressBar &b, bool d) { b.setRadius(d ? 0 : 10); },
        [](ColorProgressBar &b, bool d) { b.setTextPosition(d ? 1 : 2); },
        [](ColorProgressBar &b, bool d) { b.setBarStyle(d ? 2 : 1); },
    };

    ShownBar shown;
    QVERIFY(shown.exposed);
    QCOMPARE(shown.paintsAfter([&] { setters[setter](shown.bar, false); }), 0);
    QCOMPARE(shown.paintsAfter([&] { setters[setter](shown.bar, true); }), 1);
    QCOMPARE(shown.paintsAfter([&] { setters[setter](shown.bar, true); }), 0);
    // A range is always applied, even the same one.
    QCOMPARE(shown.paintsAfter([&] { shown.bar.setRange(0, 100); }), 1);
}

void TestColorProgressBar::zeroWidthRange_data()
{
    QTest::addColumn<int>("position");
    QTest::addColumn<int>("precision");
    QTest::newRow("head, precision 1") << 0 << 1;
    QTest::newRow("right, precision 1") << 2 << 1;
    QTest::newRow("right, precision 0") << 2 << 0;
}

void TestColorProgressBar::zeroWidthRange()
{
    QFETCH(int, position);
    QFETCH(int, precision);

    // Drawn as an empty bar with "0%" at the bar's precision, exactly like a
    // bar at the bottom of an ordinary range.
    ColorProgressBar empty(3);
    configure(empty, 800, 30);
    empty.setTextPosition(position);
    empty.setPrecision(precision);
    ColorProgressBar degenerate(3);
    configure(degenerate, 800, 30);
    degenerate.setTextPosition(position);
    degenerate.setPrecision(precision);
    degenerate.setRange(5, 5);
    QCOMPARE(degenerate.getValue(), 5.0);
    QCOMPARE(render(degenerate), render(empty));
    QVERIFY(!boundingBox(render(degenerate), kText).isNull() || position == 0);
}

QTEST_MAIN(TestColorProgressBar)
#include "tst_colorprogressbar.moc"
