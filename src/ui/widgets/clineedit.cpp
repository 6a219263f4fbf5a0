#include "ui/widgets/clineedit.h"

#include "ui/widgets/wheelzoom.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWheelEvent>

CLineEdit::CLineEdit(QWidget *parent)
    : QLineEdit(parent)
{
    setAcceptDrops(true);
}

CLineEdit::CLineEdit(const QString &contents, QWidget *parent)
    : QLineEdit(contents, parent)
{
}

void CLineEdit::dragEnterEvent(QDragEnterEvent *event)
{
    // Accept anything here; what the drop carries is only judged on drop.
    event->acceptProposedAction();
}

void CLineEdit::dropEvent(QDropEvent *event)
{
    const QList<QUrl> urls = event->mimeData()->urls();
    // Dropped plain text must not land in a path field: no URL, no change.
    if (urls.isEmpty())
        return;
    // A web link has no local file and so deliberately empties the field.
    setText(urls.first().toLocalFile());
    event->acceptProposedAction();
}

void CLineEdit::wheelEvent(QWheelEvent *event)
{
    if (!WheelZoom::zoomFont(this, event))
        QLineEdit::wheelEvent(event);
}
