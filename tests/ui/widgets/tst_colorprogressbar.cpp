#include "ui/widgets/colorprogressbar.h"

#include <QFontMetricsF>
#include <QTest>

#include <functional>

// Geometry, styles and the setters of the colour bar.
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
    void rangeAndValue_data();
    void rangeAndValue();
    void valueRepaints_data();
    void valueRepaints();
    void appearanceRepaints_data();
    void appearanceRepaints();
    void zeroWidthRange();
};

namespace {
const QColor kTrack(0, 0, 255), kBar(255, 0, 0), kText(0, 255, 0), kTextBg(255, 255, 0), kLine(255, 0, 255);
enum Layout { Head, AboveFollow, AboveAtEnd, RightBubble, RightAtEnd };
constexpr int kJustWider = -1;      // widths worked out from the text width
constexpr int kJustNarrower = -2;

bool near(QRgb p, const QColor &c)
{
    return qAlpha(p) > 200 && qAbs(qRed(p) - c.red()) + qAbs(qGreen(p) - c.green()) + qAbs(qBlue(p) - c.blue()) < 60;
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

QRect box(const QImage &img, const std::function<bool(int, int)> &hit)
{
    QRect r;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            r |= hit(x, y) ? QRect(x, y, 1, 1) : QRect();
    return r;
}

// The text's pixels: whatever changes when the text turns invisible.
QRect inkBox(ColorProgressBar &bar)
{
    const QImage with = render(bar);
    bar.setTextColor(Qt::transparent);
    const QImage without = render(bar);
    bar.setTextColor(kText);
    return box(with, [&](int x, int y) { return with.pixel(x, y) != without.pixel(x, y); });
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

// Paints an action causes on a shown bar, once earlier changes have painted.
int paintsAfter(ColorProgressBar &bar, const std::function<void()> &action)
{
    if (!bar.isVisible()) {
        bar.show();
        if (!QTest::qWaitForWindowExposed(&bar))
            return -1;
    }
    PaintCounter counter;
    bar.installEventFilter(&counter);
    QTest::qWait(30);
    counter.paints = 0;
    action();
    QTest::qWait(30);
    return counter.paints;
}
} // namespace

void TestColorProgressBar::fillWidth_data()
{
    QTest::addColumn<int>("style");
    QTest::addColumn<int>("position");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("row");
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("track");      // track width; the fill is value % of it

    for (int style : {1, 3}) {
        for (double v : {0.0, 25.0, 100.0}) {
            const QByteArray tag = QByteArray::number(v) + "%, style " + QByteArray::number(style);
            QTest::newRow(("head, " + tag).constData()) << style << 0 << QSize(300, 30) << 1 << v << 300;
            QTest::newRow(("above, " + tag).constData()) << style << 1 << QSize(300, 60) << 41 << v << 300;
            QTest::newRow(("right 300, " + tag).constData()) << style << 2 << QSize(300, 30) << 1 << v << 300;
            QTest::newRow(("right 800, " + tag).constData()) << style << 2 << QSize(800, 30) << 1 << v << 720;
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
    QFETCH(int, track);

    ColorProgressBar bar(style);
    configure(bar, size.width(), size.height());
    bar.setRadius(0);
    bar.setTextPosition(position);
    bar.setValue(value);
    const QImage img = render(bar);

    int filled = 0, rest = 0;
    for (int x = 0; x < img.width(); ++x) {
        filled += near(img.pixel(x, row), kBar) ? 1 : 0;
        rest += near(img.pixel(x, row), kTrack) ? 1 : 0;
    }
    QVERIFY2(qAbs(filled - value / 100 * track) <= 1, qPrintable(QString::number(filled)));
    QVERIFY(value == 0 || near(img.pixel(0, row), kBar));
    QVERIFY(qAbs(filled + rest - track) <= 1);
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
    QTest::newRow("head, 0%: left of the widget") << 0 << QSize(300, 30) << 0.0 << int(Head) << false;
    QTest::newRow("above, 25%") << 1 << QSize(300, 60) << 25.0 << int(AboveFollow) << true;
    QTest::newRow("above, 2%") << 1 << QSize(300, 60) << 2.0 << int(AboveFollow) << true;
    QTest::newRow("above, 0%: no bubble") << 1 << QSize(300, 60) << 0.0 << int(AboveFollow) << false;
    QTest::newRow("above, 95%: at the end") << 1 << QSize(300, 60) << 95.0 << int(AboveAtEnd) << true;
    QTest::newRow("right, 300 wide") << 2 << QSize(300, 30) << 25.0 << int(RightAtEnd) << false;
    QTest::newRow("right, 800 wide") << 2 << QSize(800, 30) << 25.0 << int(RightBubble) << true;
    QTest::newRow("right, 800 wide, 0%") << 2 << QSize(800, 30) << 0.0 << int(RightBubble) << true;
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
    QVERIFY(textW > 30 && textW < 80);   // 300 and 800 pixels straddle ten text widths
    if (size.width() < 0)
        size.setWidth(int(10 * textW) + (size.width() == kJustWider ? 3 : -2));
    bar.setFixedSize(size);
    bar.setTextPosition(position);
    bar.setValue(value);

    const int W = size.width(), H = size.height();
    const double head = value / 100 * W;
    const QRectF expected = QList<QRectF>{
        {head - textW, 0, textW, double(H)},
        {head - qMin(15.0, head), double(H / 12), textW, double(5 * H / 12)},
        {W - textW, double(H / 12), textW, double(5 * H / 12)},
        {0.9 * W + 5, 0, 0.1 * W - 5, double(H)},
        {W - textW, 0, textW, double(H)}}.at(layout);

    const QRect ink = inkBox(bar);
    if (expected.right() <= 0) {
        QVERIFY(ink.isNull());
    } else {
        const QPointF c = QRectF(ink).center();
        QVERIFY2(qAbs(c.x() - expected.center().x()) <= 2.5 && qAbs(c.y() - expected.center().y()) <= 3,
                 qPrintable(QStringLiteral("ink at %1, %2").arg(c.x()).arg(c.y())));
        QVERIFY(qAbs(ink.width() - metrics.boundingRect(text).width()) <= 3);   // "25.0%", not "25%"
    }

    const QImage img = render(bar);
    const QRect bubbleInk = box(img, [&](int x, int y) { return near(img.pixel(x, y), kTextBg); });
    QCOMPARE(!bubbleInk.isNull(), bubble);
    if (!bubble)
        return;
    const int midY = int(expected.center().y());
    QVERIFY(near(img.pixel(int(expected.left()) + 2, midY), kTextBg));
    QVERIFY(near(img.pixel(int(expected.right()) - 3, midY), kTextBg));
    if (position == 2) {
        QVERIFY(qAbs(bubbleInk.left() - (0.9 * W + 5)) <= 1);
        QCOMPARE(bubbleInk.right(), W - 1);
    } else if (head >= 15) {
        // The marker dot: 10 across, 10 behind the head, on the bar's middle.
        const int dotX = int(head) - 10, dotY = 5 * H / 6;
        QVERIFY(near(img.pixel(dotX, dotY), kTextBg));
        QVERIFY(!near(img.pixel(dotX + 7, dotY), kTextBg) && !near(img.pixel(dotX - 7, dotY), kTextBg));
        QVERIFY(qAbs(bubbleInk.bottom() - (dotY + 4)) <= 1);
    }
}

void TestColorProgressBar::stripes_data()
{
    QTest::addColumn<int>("style");
    QTest::addColumn<int>("spacing");
    QTest::addColumn<int>("slant");
    QTest::addColumn<int>("width");
    QTest::addColumn<bool>("applied");   // else: the defaults, or no stripes at all

    QTest::newRow("polygons") << 2 << 6 << 0 << 4 << true;
    QTest::newRow("polygons, slanted") << 2 << 6 << 5 << 4 << true;
    QTest::newRow("lines") << 2 << 8 << 0 << 2 << true;
    QTest::newRow("lines, slanted") << 2 << 8 << 5 << 2 << true;
    QTest::newRow("zero spacing") << 2 << 0 << 0 << 3 << true;
    QTest::newRow("negative spacing: ignored") << 2 << -1 << 0 << 4 << false;
    QTest::newRow("negative width: ignored") << 2 << 6 << 0 << -4 << false;
    QTest::newRow("gradient bar: none") << 1 << 6 << 0 << 4 << false;
    QTest::newRow("plain bar: none") << 0 << 6 << 0 << 4 << false;
}

void TestColorProgressBar::stripes()
{
    QFETCH(int, style);
    QFETCH(int, spacing);
    QFETCH(int, slant);
    QFETCH(int, width);
    QFETCH(bool, applied);

    ColorProgressBar bar(style);
    configure(bar, 300, 60);
    bar.setTextPosition(1);                  // text above, fill on rows 40 to 59
    bar.setValue(50);
    QCOMPARE(paintsAfter(bar, [&] { bar.setLineStyle(spacing, slant, width); }), applied ? 1 : 0);
    const QImage img = render(bar);

    if (!applied) {
        // Nothing stored: a striped bar still shows the defaults, others none.
        ColorProgressBar fresh(style);
        configure(fresh, 300, 60);
        fresh.setTextPosition(1);
        fresh.setValue(50);
        QCOMPARE(img, render(fresh));
        QCOMPARE(box(img, [&](int x, int y) { return near(img.pixel(x, y), kLine); }).isNull(), style != 2);
        return;
    }
    // Stripe k starts at 10k on the top edge (a line is centred there) and
    // is shifted by the slant at the bottom edge.
    const int period = spacing + width, in = width > 2 ? 1 : 0;
    for (int k = 2; 10 * k < 140; ++k) {
        const int x = period * k;
        QVERIFY(near(img.pixel(x + in, 41), kLine));
        QVERIFY(near(img.pixel(x + period / 2 + in, 41), spacing ? kBar : kLine));
        QVERIFY(near(img.pixel(x + in + qMax(0, slant - 1), 59), kLine));
        QVERIFY(slant == 0 || near(img.pixel(x + in, 59), kBar));
    }
    for (int x = 152; x < 300; ++x)          // nothing past the head at 150
        QVERIFY(!near(img.pixel(x, 41), kLine) && !near(img.pixel(x, 59), kLine));
    QCOMPARE(qAlpha(img.pixel(0, 40)) > 200, width > 2);   // wide stripes square the corners
}

void TestColorProgressBar::rangeAndValue_data()
{
    QTest::addColumn<double>("initial");
    QTest::addColumn<double>("min");
    QTest::addColumn<double>("max");
    QTest::addColumn<double>("probe");   // set after the range; NaN: none
    QTest::addColumn<double>("expected");

    const double none = qQNaN();
    QTest::newRow("reversed range swapped: below") << 0.0 << 100.0 << 0.0 << -5.0 << 0.0;
    QTest::newRow("reversed range swapped: above") << 0.0 << 100.0 << 0.0 << 150.0 << 100.0;
    QTest::newRow("narrowing clamps") << 80.0 << 0.0 << 50.0 << none << 50.0;
    QTest::newRow("raised minimum clamps") << 10.0 << 20.0 << 100.0 << none << 20.0;
    QTest::newRow("inside stays") << 30.0 << 0.0 << 50.0 << none << 30.0;
    QTest::newRow("negative range") << 0.0 << -10.0 << -2.0 << none << -2.0;
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
    QTest::newRow("above max again: compared unclamped") << 150.0 << 150.0 << 100.0 << true;
    QTest::newRow("below min") << 0.0 << -20.0 << 0.0 << true;
    QTest::newRow("fuzzy equal") << 50.0 << 50.0 + 1e-12 << 50.0 << false;
    QTest::newRow("small real change") << 50.0 << 50.001 << 50.001 << true;
}

void TestColorProgressBar::valueRepaints()
{
    QFETCH(double, before);
    QFETCH(double, value);
    QFETCH(double, stored);
    QFETCH(bool, repaint);

    ColorProgressBar bar(1);
    bar.setValue(before);
    QCOMPARE(paintsAfter(bar, [&] { bar.setValue(value); }), repaint ? 1 : 0);
    QCOMPARE(bar.getValue(), stored);

    ColorProgressBar viaInt(1);              // the int overload, as a slot
    QVERIFY(QMetaObject::invokeMethod(&viaInt, "setValue", Q_ARG(int, int(value))));
    QCOMPARE(viaInt.getValue(), qBound(0.0, double(int(value)), 100.0));
}

void TestColorProgressBar::appearanceRepaints_data()
{
    QTest::addColumn<int>("setter");
    int i = 0;
    for (const char *name : {"bgColor", "barColor", "lineColor", "textColor", "textBgColor",
                             "gradientStops", "precision", "radius", "textPosition", "barStyle"})
        QTest::newRow(name) << i++;
}

void TestColorProgressBar::appearanceRepaints()
{
    QFETCH(int, setter);
    // Each setter with the value the bar already has, then with a new one.
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

    ColorProgressBar bar(1);
    bar.resize(300, 30);
    QCOMPARE(paintsAfter(bar, [&] { setters[setter](bar, false); }), 0);
    QCOMPARE(paintsAfter(bar, [&] { setters[setter](bar, true); }), 1);
    QCOMPARE(paintsAfter(bar, [&] { setters[setter](bar, true); }), 0);
    QCOMPARE(paintsAfter(bar, [&] { bar.setRange(0, 100); }), 1);   // a range always repaints
}

void TestColorProgressBar::zeroWidthRange()
{
    // Drawn exactly like an empty bar: no fill and "0%" at the precision.
    for (int position : {0, 1, 2}) {
        for (int precision : {0, 1}) {
            ColorProgressBar empty(3), degenerate(3);
            for (ColorProgressBar *bar : {&empty, &degenerate}) {
                configure(*bar, 800, 60);
                bar->setTextPosition(position);
                bar->setPrecision(precision);
            }
            degenerate.setRange(0, 0);
            QCOMPARE(render(degenerate), render(empty));
        }
    }
}

QTEST_MAIN(TestColorProgressBar)
#include "tst_colorprogressbar.moc"
