#include "testsupport.h"

#include "setting/setupconfig.h"
#include "ui/widgets/ctextbrowser.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTest>

namespace TestSupport {

QStringList greenTexts(CTextBrowser *console)
{
    console->flush();
    if (!console->isVisible()) {
        console->window()->show();
        if (!QTest::qWaitForWindowExposed(console->window()))
            return {QStringLiteral("console not exposed")};
    }
    console->viewport()->repaint();
    QStringList found;
    for (const QTextEdit::ExtraSelection &mark : console->extraSelections()) {
        if (mark.format.background() == QBrush(QColor(0, 255, 0)))
            found.append(mark.cursor.selectedText());
    }
    return found;
}

void appendLines(CTextBrowser *console, const QStringList &lines)
{
    for (const QString &line : lines)
        console->appendParagraph(line, QTextCharFormat());
    console->flush();
}

ModalBoxCloser::ModalBoxCloser(QObject *parent)
    : QObject(parent)
{
    timer.setInterval(10);
    connect(&timer, &QTimer::timeout, this, &ModalBoxCloser::poll);
    timer.start();
}

ModalBoxCloser::ModalBoxCloser(const QString &leaveAlone)
    : ModalBoxCloser()
{
    ignoredTitle = leaveAlone;
}

void ModalBoxCloser::poll()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || !box->isVisible() || (!ignoredTitle.isEmpty() && box->windowTitle() == ignoredTitle))
        return;
    boxes.append({box->windowTitle(), box->text()});
    box->done(QMessageBox::Ok);
}

} // namespace TestSupport
