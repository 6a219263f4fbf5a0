#include "ui/widgets/scrollstrip.h"

#include <QEvent>
#include <QScrollBar>

namespace {
// How low a vertically scrolling band may get, in lines of its text.
constexpr int MinimumLines = 2;
} // namespace

ScrollStrip::ScrollStrip(QWidget *content, bool verticalScrolling, QWidget *parent)
    : QScrollArea(parent)
    , vertical(verticalScrolling)
{
    setFrameShape(QFrame::NoFrame);
    // Tab goes straight to the controls inside (the strip scrolls to the one
    // that gets the focus), not to the strip first.
    setFocusPolicy(Qt::NoFocus);
    setWidgetResizable(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(verticalScrolling ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
    setSizePolicy(QSizePolicy::Expanding, verticalScrolling ? QSizePolicy::Preferred : QSizePolicy::Fixed);
    // setWidget() shows the content; it keeps the state it was given (a
    // widget without parent counts as hidden until shown, so only an
    // explicit hide() counts).
    const bool hidden = content->isHidden() && content->testAttribute(Qt::WA_WState_ExplicitShowHide);
    setWidget(content);
    content->setHidden(hidden);
    // Only ever hide here: showing a strip that has no parent yet would put
    // it on the screen as a window of its own for a moment.
    if (hidden)
        hide();
    content->installEventFilter(this);
}

int ScrollStrip::horizontalBarRoom() const
{
    return needsBar ? horizontalScrollBar()->sizeHint().height() : 0;
}

QSize ScrollStrip::sizeHint() const
{
    const QSize content = widget() ? widget()->sizeHint() : QSize();
    return {content.width(), content.height() + horizontalBarRoom()};
}

QSize ScrollStrip::minimumSizeHint() const
{
    const int contentHeight = widget() ? widget()->minimumSizeHint().height() : 0;
    const int height = vertical ? qMin(contentHeight, MinimumLines * fontMetrics().lineSpacing()) : contentHeight;
    return {verticalScrollBar()->sizeHint().width() * 2, height + horizontalBarRoom()};
}

bool ScrollStrip::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == widget()) {
        switch (event->type()) {
        case QEvent::ShowToParent:
            // Not before the strip is in its panel: without a parent it
            // would flash up as a window of its own.
            if (parentWidget())
                show();
            break;
        case QEvent::HideToParent:
            hide();
            break;
        case QEvent::LayoutRequest:
            // The content's needs changed (a new font size): so may ours.
            updateGeometry();
            break;
        default:
            break;
        }
    }
    return QScrollArea::eventFilter(watched, event);
}

void ScrollStrip::resizeEvent(QResizeEvent *event)
{
    QScrollArea::resizeEvent(event);
    const bool needed = widget() && widget()->minimumSizeHint().width() > viewport()->width();
    if (needed != needsBar) {
        needsBar = needed;
        updateGeometry();
    }
}
