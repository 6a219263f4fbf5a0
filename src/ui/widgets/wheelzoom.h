#pragma once

class QWheelEvent;
class QWidget;

namespace WheelZoom {

// Ctrl (alone) + wheel steps the widget's font pixel size by one per event.
// Returns true when the event was consumed; the caller then must not hand it
// to its base class, so that neither scrolling nor Qt's own zoom runs.
bool zoomFont(QWidget *widget, QWheelEvent *event);

} // namespace WheelZoom
