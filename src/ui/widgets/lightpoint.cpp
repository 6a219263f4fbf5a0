#include "ui/widgets/lightpoint.h"

#include <QPaintEvent>
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

// Events of the lamp or of a widget behind it after which what lies behind
// the lamp may look different.
bool changesBackdrop(QEvent::Type type)
{
    switch (type) {
    case QEvent::Show:
    case QEvent::Move:
    case QEvent::Resize:
    case QEvent::ParentChange:
    case QEvent::StyleChange:
    case QEvent::PaletteChange:
        return true;
    default:
        return false;
    }
}
} // namespace

LightPoint::LightPoint(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent, !isWindow());
    timer = new QTimer(this);
    timer->setInterval(100);
    connect(timer, &QTimer::timeout, this, &LightPoint::tick);
    // The timer runs while the lamp is shown (see event()): a lamp in a
    // hidden or minimised window costs no wake-ups and keeps its pulse.
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
    askPaint();
}

void LightPoint::setInterval(int interval)
{
    if (this->interval == interval)
        return;
    this->interval = interval;
    timer->setInterval(interval);
    askPaint();
}

void LightPoint::setBgColor(const QColor &bgColor)
{
    if (this->bgColor == bgColor)
        return;
    this->bgColor = bgColor;
    askPaint();
}

bool LightPoint::event(QEvent *event)
{
    // Show and Hide come also, spontaneously, when the window is minimised
    // or restored.
    if (event->type() == QEvent::Show)
        timer->start();
    else if (event->type() == QEvent::Hide)
        timer->stop();
    else if (event->type() == QEvent::ParentChange)
        setAttribute(Qt::WA_OpaquePaintEvent, !isWindow());
    if (changesBackdrop(event->type())) {
        forgetBackdrop();
        paintAsked = true;
    }
    return QWidget::event(event);
}

bool LightPoint::eventFilter(QObject *object, QEvent *event)
{
    if (rendering || behind.isNull())
        return false;
    auto *widget = static_cast<QWidget *>(object);
    if (changesBackdrop(event->type()) || !widget->isAncestorOf(this)) {
        forgetBackdrop();
    } else if (event->type() == QEvent::Paint) {
        // Whatever changes the look behind the lamp repaints it there first.
        if (static_cast<QPaintEvent *>(event)->region().intersects(QRect(mapTo(widget, QPoint()), size())))
            forgetBackdrop();
    }
    return false;
}

void LightPoint::forgetBackdrop()
{
    behind = QImage();
    frames.clear();
}

// What the widgets behind the lamp paint where it stands: the nearest
// ancestor that paints all of its pixels, then each one between it and the
// lamp, without their children. With that under every frame, the lamp paints
// all of its pixels (WA_OpaquePaintEvent) and nothing behind it takes part in
// its repaints. A lamp that is a window gets its background from the toolkit
// as usual and keeps a transparent backdrop.
QImage LightPoint::backdrop()
{
    const qreal ratio = devicePixelRatioF();
    if (!behind.isNull() && behind.size() == size() * ratio)
        return behind;
    for (const QPointer<QWidget> &widget : qAsConst(watched)) {
        if (widget)
            widget->removeEventFilter(this);
    }
    watched.clear();

    // Opaque in the format of a window's backing store, so the disc blends
    // over it exactly as it would over the parent on screen.
    QImage image(size() * ratio, isWindow() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    if (!isWindow()) {
        QVector<QWidget *> chain;
        for (QWidget *widget = parentWidget(); widget; widget = widget->parentWidget()) {
            chain.prepend(widget);
            if (widget->isWindow() || widget->testAttribute(Qt::WA_OpaquePaintEvent) || widget->autoFillBackground())
                break;
        }
        rendering = true;
        for (QWidget *widget : qAsConst(chain)) {
            const QRect place(mapTo(widget, QPoint()), size());
            widget->render(&image, QPoint(), QRegion(place),
                           widget == chain.first() ? QWidget::DrawWindowBackground : QWidget::RenderFlags());
            widget->installEventFilter(this);
            watched.append(widget);
        }
        rendering = false;
    }
    behind = image;
    return behind;
}

void LightPoint::askPaint()
{
    paintAsked = true;
    update();
}

// At the bottom of a breath the pulse rests for one paint, which would put
// the very frame that is on the screen there once more: the tick takes that
// step without a paint, unless something else has asked for one meanwhile
// (it would have merged with the tick's).
void LightPoint::tick()
{
    if (!rising && offset <= 0 && !paintAsked) {
        advancePulse();
        return;
    }
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

// The disc alone, on a transparent ground.
QPixmap LightPoint::disc() const
{
    const int w = width();
    const int h = height();
    const int side = qMin(w, h);
    const qreal ratio = devicePixelRatioF();
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
    return pixmap;
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

    QImage composed = backdrop();
    QPainter painter(&composed);
    painter.drawPixmap(0, 0, disc());
    painter.end();
    const QPixmap pixmap = QPixmap::fromImage(composed);
    frames.insert(offset, pixmap);
    return pixmap;
}

void LightPoint::paintEvent(QPaintEvent *)
{
    paintAsked = false;
    advancePulse();
    const QPixmap current = frame();
    QPainter(this).drawPixmap(0, 0, current);
}
