#include "ui/widgets/clineedit.h"

#include "ui/widgets/wheelzoom.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QWheelEvent>

#include <limits>

namespace {
// QLineEdit cuts at 32767 characters by default.
constexpr int kNoLimit = std::numeric_limits<int>::max();
}

CLineEdit::CLineEdit(QWidget *parent)
    : QLineEdit(parent)
{
    setMaxLength(kNoLimit);
    setAcceptDrops(true);
}

CLineEdit::CLineEdit(const QString &contents, QWidget *parent)
    : QLineEdit(parent)
{
    setMaxLength(kNoLimit);
    setText(contents);
}

void CLineEdit::setDroppedPathFormat(std::function<QString(const QString &)> format)
{
    droppedPathFormat = std::move(format);
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
    const QString path = urls.first().toLocalFile();
    setText(droppedPathFormat && !path.isEmpty() ? droppedPathFormat(path) : path);
    event->acceptProposedAction();
}

void CLineEdit::wheelEvent(QWheelEvent *event)
{
    if (!WheelZoom::zoomFont(this, event))
        QLineEdit::wheelEvent(event);
}
