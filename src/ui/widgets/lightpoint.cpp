#include "ui/widgets/lightpoint.h"

#include <QPainter>
#include <QRadialGradient>
#include <QTimer>

namespace {
// The pulse turns back once the inner rings have gained this much alpha.
constexpr int kPulsePeak = 70;

QColor withAlpha(QColor color, int alpha)
{
    color.setAlpha(qBound(0, alpha, 255));
    return color;
}
} // namespace

LightPoint::LightPoint(QWidget *parent)
    : QWidget(parent)
{
    timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, qOverload<>(&LightPoint::update));
    timer->start(100);
}

LightPoint::~LightPoint()
{
    if (timer->isActive())
        timer->stop();
}

QSize LightPoint::sizeHint() const
{
    return QSize(100, 100);
}

QSize LightPoint::minimumSizeHint() const
{
    return QSize(5, 5);
}

void LightPoint::setStep(int step)
{
    if (this->step == step)
        return;
    this->step = step;
    update();
}

void LightPoint::setInterval(int interval)
{
    if (this->interval == interval)
        return;
    this->interval = interval;
    timer->setInterval(interval);
    update();
}

void LightPoint::setBgColor(const QColor &bgColor)
{
    if (this->bgColor == bgColor)
        return;
    this->bgColor = bgColor;
    update();
}

// The pulse moves on every paint, whatever asked for it, so extra repaints
// make the lamp breathe faster; at the bottom it rests for one paint.
void LightPoint::advancePulse()
{
    if (offset >= kPulsePeak) {
        rising = false;
        offset -= step;
    } else if (rising) {
        offset += step;
    } else if (offset <= 0) {
        rising = true;
    } else {
        offset -= step;
    }
}

QPixmap LightPoint::frame()
{
    const qreal ratio = devicePixelRatioF();
    if (framesSize != size() || framesColor != bgColor || !qFuzzyCompare(framesRatio, ratio)
        || frames.size() > 64) {
        frames.clear();
        framesSize = size();
        framesColor = bgColor;
        framesRatio = ratio;
    }
    auto cached = frames.constFind(offset);
    if (cached != frames.constEnd())
        return *cached;

    const int w = width();
    const int h = height();
    const int side = qMin(w, h);
    QPixmap pixmap(size() * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);

    QPainter painter(&pixmap);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::TextAntialiasing);
    painter.translate(w / 2, h / 2);
    painter.scale(side / 200.0, side / 200.0);
    QRadialGradient gradient(0, 0, 99);
    gradient.setColorAt(0.1, withAlpha(bgColor, 255));
    gradient.setColorAt(0.3, withAlpha(bgColor, 100 + offset));
    gradient.setColorAt(0.6, withAlpha(bgColor, 50 + offset));
    gradient.setColorAt(1.0, withAlpha(bgColor, 0));
    painter.setPen(Qt::NoPen);
    painter.setBrush(gradient);
    painter.drawEllipse(QRect(-99, -99, 198, 198));
    painter.end();
    frames.insert(offset, pixmap);
    return pixmap;
}

void LightPoint::paintEvent(QPaintEvent *)
{
    advancePulse();
    QPainter painter(this);
    painter.drawPixmap(0, 0, frame());
}
