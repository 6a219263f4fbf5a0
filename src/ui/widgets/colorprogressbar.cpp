#include "ui/widgets/colorprogressbar.h"

#include <QFontMetricsF>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>

namespace {

// Stores value into member and reports whether anything changed, so that
// the appearance setters repaint only on a real change.
template <typename T>
bool assign(T &member, const T &value)
{
    if (member == value)
        return false;
    member = value;
    return true;
}

} // namespace

ColorProgressBar::ColorProgressBar(int barStyle, QWidget *parent)
    : QWidget(parent)
    , barStyle(barStyle)
{
}

void ColorProgressBar::setBgColor(const QColor &bgColor)
{
    if (assign(this->bgColor, bgColor))
        update();
}

void ColorProgressBar::setBarColor(const QColor &barColor)
{
    if (assign(this->barColor, barColor))
        update();
}

void ColorProgressBar::setLineColor(const QColor &lineColor)
{
    if (assign(this->lineColor, lineColor))
        update();
}

void ColorProgressBar::setTextColor(const QColor &textColor)
{
    if (assign(this->textColor, textColor))
        update();
}

void ColorProgressBar::setTextBgColor(const QColor &textBgColor)
{
    if (assign(this->textBgColor, textBgColor))
        update();
}

void ColorProgressBar::setGradientStops(const QGradientStops &gradientStops)
{
    if (assign(this->gradientStops, gradientStops))
        update();
}

void ColorProgressBar::setPrecision(int precision)
{
    if (assign(this->precision, precision))
        update();
}

void ColorProgressBar::setRadius(int radius)
{
    if (assign(this->radius, radius))
        update();
}

void ColorProgressBar::setTextPosition(int textPosition)
{
    if (assign(this->textPosition, textPosition))
        update();
}

void ColorProgressBar::setBarStyle(int barStyle)
{
    if (assign(this->barStyle, barStyle))
        update();
}

void ColorProgressBar::setLineStyle(int lineSpacing, int lineSlant, int lineWidth)
{
    // Stripes exist on the striped style only; a negative slant leans left.
    if (barStyle != 2 || lineSpacing < 0 || lineWidth < 0)
        return;
    this->lineSpacing = lineSpacing;
    this->lineSlant = lineSlant;
    this->lineWidth = lineWidth;
    // Wide stripes are polygons whose ends would poke out of rounded corners.
    if (lineWidth > 2)
        radius = 0;
    update();
}

void ColorProgressBar::setRange(double min, double max)
{
    if (min > max)
        qSwap(min, max);
    minValue = min;
    maxValue = max;
    value = qBound(minValue, value, maxValue);
    update();
}

void ColorProgressBar::setMinimum(double min)
{
    setRange(min, maxValue);
}

void ColorProgressBar::setMaximum(double max)
{
    setRange(minValue, max);
}

void ColorProgressBar::setValue(double value)
{
    // Compared before clamping: repeating an out-of-range value repaints.
    if (qFuzzyCompare(value, this->value))
        return;
    this->value = qBound(minValue, value, maxValue);
    update();
}

void ColorProgressBar::setValue(int value)
{
    setValue(double(value));
}

void ColorProgressBar::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);

    // A range without width has no meaningful ratio: show it as empty
    // rather than let NaN into the geometry.
    const double span = maxValue - minValue;
    const double ratio = span > 0 ? (value - minValue) / span : 0.0;

    const QString text = QStringLiteral("%1%").arg(QString::number(100 * ratio, 'f', precision));
    const QFontMetricsF metrics(painter.font());
    const double textW = 1.2 * metrics.size(Qt::TextSingleLine, text).width() + 5;

    const int W = width();
    const int H = height();
    const double head = ratio * W;

    QRectF track;
    QRectF textRect;
    bool textBackground = false;
    switch (textPosition) {
    case 0:
        // Inside the bar, right-aligned to the fill's end; clipped when low.
        track = QRectF(0, 0, W, H);
        textRect = QRectF(head - textW, 0, textW, H);
        break;
    case 1:
        track = QRectF(0, 2 * H / 3, W, H / 3);
        if (W - head > textW)
            textRect = QRectF(head - qMin(15.0, head), H / 12, textW, 5 * H / 12);
        else
            textRect = QRectF(W - textW, H / 12, textW, 5 * H / 12);
        textBackground = value > 0;
        break;
    case 2:
        if (0.1 * W > textW) {
            track = QRectF(0, 0, 0.9 * W, H);
            textRect = QRectF(0.9 * W + 5, 0, 0.1 * W - 5, H);
            textBackground = true;
        } else {
            track = QRectF(0, 0, W, H);
            textRect = QRectF(W - textW, 0, textW, H);
        }
        break;
    default:
        break;
    }

    painter.save();
    painter.setPen(Qt::NoPen);
    painter.setBrush(bgColor);
    painter.drawRoundedRect(track, radius, radius);
    painter.restore();

    const QRectF fill(track.x(), track.y(), track.width() - (1 - ratio) * track.width(),
                      track.height());
    painter.save();
    painter.setPen(Qt::NoPen);
    if (barStyle == 1) {
        // Ends at the fill's (width, height), not its corner, so the colours
        // stretch as the fill grows rather than being revealed.
        QLinearGradient gradient(fill.x(), fill.y(), fill.width(), fill.height());
        for (const QGradientStop &stop : gradientStops)
            gradient.setColorAt(stop.first, stop.second);
        painter.setBrush(gradient);
        painter.setPen(Qt::transparent);
    } else {
        painter.setBrush(barColor);
    }
    painter.drawRoundedRect(fill, radius, radius);
    painter.restore();

    if (barStyle == 2) {
        painter.save();
        drawStripes(painter, fill);
        painter.restore();
    }

    if (textBackground) {
        painter.save();
        painter.setPen(Qt::NoPen);
        painter.setBrush(textBgColor);
        if (textPosition == 1) {
            painter.drawRoundedRect(textRect, 3, 3);
            // Marker dot on the bar's middle line, just behind the head.
            const int side = qMin(W, H);
            const int d = side > 9 ? 10 : side;
            const int r = side > 9 ? 5 : side / 2;
            painter.drawEllipse(QRectF(head - d - r, 5 * H / 6 - r, d, d));
        } else {
            painter.drawRoundedRect(textRect, radius, radius);
        }
        painter.restore();
    }

    painter.save();
    painter.setPen(textColor);
    painter.drawText(textRect, Qt::AlignCenter, text);
    painter.restore();
}

void ColorProgressBar::drawStripes(QPainter &painter, const QRectF &fill) const
{
    const double right = fill.x() + fill.width();
    // Zero spacing and zero width would never advance.
    const int advance = qMax(1, lineSpacing + lineWidth);
    // Keep stripes inside the fill: otherwise they cross its rounded ends
    // and a slanted stripe reaches past the bar's head.
    QPainterPath shape;
    shape.addRoundedRect(fill, radius, radius);
    painter.setClipPath(shape);

    if (lineWidth <= 2) {
        painter.setPen(QPen(QBrush(lineColor), lineWidth, Qt::SolidLine, Qt::SquareCap,
                            Qt::BevelJoin));
        for (int x = 0; x < right; x += advance)
            painter.drawLine(QPointF(x, fill.y()), QPointF(x + lineSlant, fill.y() + fill.height()));
        return;
    }

    painter.setPen(Qt::NoPen);
    painter.setBrush(lineColor);
    const int limit = int(right);
    auto clip = [limit](int v) { return qBound(0, v, limit); };
    for (int x = 0; x < right; x += advance) {
        const QPolygonF band({QPointF(x, fill.y()),
                              QPointF(clip(x + lineWidth), fill.y()),
                              QPointF(clip(x + lineWidth + lineSlant), fill.y() + fill.height()),
                              QPointF(clip(x + lineSlant), fill.y() + fill.height())});
        painter.drawPolygon(band, Qt::OddEvenFill);
    }
}

void ColorProgressBar::setLauncherLook()
{
    setPrecision(1);
    setBgColor(QColor(250, 250, 250));
    setTextColor(Qt::white);
    setTextBgColor(QColor(24, 189, 155));
    setGradientStops({{0.0, QColor(QStringLiteral("#ECF1F3"))},
                      {0.5, QColor(QStringLiteral("#868C8E"))},
                      {1.0, QColor(QStringLiteral("#1B9ACD"))}});
}
