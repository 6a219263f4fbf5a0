#include "ui/widgets/ctextbrowser.h"

#include "ui/widgets/wheelzoom.h"

#include <QWheelEvent>

CTextBrowser::CTextBrowser(QWidget *parent)
    : QTextBrowser(parent)
{
}

void CTextBrowser::wheelEvent(QWheelEvent *event)
{
    if (!WheelZoom::zoomFont(this, event))
        QTextBrowser::wheelEvent(event);
}
