#include "ui/widgets/wheelzoom.h"

#include <QFont>
#include <QGuiApplication>
#include <QWheelEvent>
#include <QWidget>

namespace WheelZoom {

bool zoomFont(QWidget *widget, QWheelEvent *event)
{
    // The application's state, not the event's: that is what the user holds
    // down right now, whatever the event was built with.
    if (QGuiApplication::keyboardModifiers() != Qt::ControlModifier)
        return false;

    // The one-axis delta of old: the dominant component of the angle delta.
    const QPoint angle = event->angleDelta();
    const int delta = qAbs(angle.x()) > qAbs(angle.y()) ? angle.x() : angle.y();

    QFont font = widget->font();
    const int pixelSize = font.pixelSize();
    // A point-sized font reports -1 and has no pixel size to step from;
    // below 1 pixel QFont would refuse (and complain) anyway.
    const int newSize = delta > 0 ? pixelSize + 1 : pixelSize - 1;
    if (pixelSize > 0 && newSize >= 1) {
        font.setPixelSize(newSize);
        widget->setFont(font);
    }
    event->accept();
    return true;
}

} // namespace WheelZoom
