#pragma once

#include "coresupport.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

class CTextBrowser;

namespace TestSupport {

// The texts the console shows with a green (search-hit) background, in
// document order: it is shown and painted first, as marks are made for
// the lines on screen.
QStringList greenTexts(CTextBrowser *console);
// Queues lines on the console as a server panel would, and shows them.
void appendLines(CTextBrowser *console, const QStringList &lines);

// Closes parentless modal message boxes as they appear and records what they
// said, so tests can check title and text without any test-only code path.
class ModalBoxCloser : public QObject
{
    Q_OBJECT
public:
    explicit ModalBoxCloser(QObject *parent = nullptr);
    // Leaves boxes with this title to the test (a question it answers itself).
    explicit ModalBoxCloser(const QString &leaveAlone);
    struct Box { QString title; QString text; };
    QList<Box> boxes;
    int count() const { return boxes.size(); }
    QString lastTitle() const { return boxes.isEmpty() ? QString() : boxes.last().title; }
    QString lastText() const { return boxes.isEmpty() ? QString() : boxes.last().text; }

private:
    void poll();
    QTimer timer;
    QString ignoredTitle;
};

} // namespace TestSupport
