#include "ui/widgets/consolesearch.h"

#include "ui/widgets/ctextbrowser.h"
#include "ui/widgets/searchhighlight.h"

#include <QScrollBar>
#include <QString>
#include <QTextBlock>
#include <QTextDocument>

namespace ConsoleSearch {

namespace {

// A hit on the first or last visible line is read half cut off and without
// what led to it: bring it towards the middle unless it already has a few
// lines around it.
void revealWithContext(CTextBrowser *console)
{
    const int margin = 3 * console->fontMetrics().lineSpacing();
    const QRect hit = console->cursorRect();
    if (hit.top() < margin || hit.bottom() > console->viewport()->height() - margin)
        console->centerCursor();
}

// The operator reads what is on screen: a search goes on from there, not
// from a cursor left somewhere in hours of output.
void startOnScreen(CTextBrowser *console, bool backward)
{
    const QRect view = console->viewport()->rect();
    if (view.intersects(console->cursorRect()))
        return;
    QTextCursor from = console->cursorForPosition(backward ? QPoint(0, view.height() - 1) : QPoint(0, 0));
    from.movePosition(backward ? QTextCursor::EndOfBlock : QTextCursor::StartOfBlock);
    console->setTextCursor(from);
}

} // namespace

void searchNext(CTextBrowser *console, const QString &txt, bool caseSensitively)
{
    const QTextDocument::FindFlags flags = caseSensitively ? QTextDocument::FindCaseSensitively
                                                           : QTextDocument::FindFlags();
    console->flush();
    startOnScreen(console, false);
    if (!console->find(txt, flags)) {
        // Wrap around within the same press; a second miss leaves the cursor
        // at the start, which is as good a place as any.
        console->moveCursor(QTextCursor::Start, QTextCursor::MoveAnchor);
        if (!console->find(txt, flags))
            return;
    }
    revealWithContext(console);
}

void searchPrevious(CTextBrowser *console, const QString &txt, bool caseSensitively)
{
    QTextDocument::FindFlags flags = QTextDocument::FindBackward;
    if (caseSensitively)
        flags |= QTextDocument::FindCaseSensitively;
    console->flush();
    startOnScreen(console, true);
    if (console->find(txt, flags)) {
        revealWithContext(console);
        return;
    }
    // No second search here: the user's next press searches back from the
    // end and so finds the last hit.
    console->moveCursor(QTextCursor::End, QTextCursor::MoveAnchor);
    console->horizontalScrollBar()->setValue(0);
}

int searchAll(CTextBrowser *console, SearchHighLight *highlighter, const QString &txt, bool caseSensitively)
{
    highlighter->setDocument(console->document());
    highlighter->setSearchText(txt, caseSensitively);
    // Marks are painted for the visible lines only, but the count is of the
    // whole console: one pass over its lines, as marked.
    console->flush();
    int count = 0;
    if (highlighter->canMatch()) {
        for (QTextBlock block = console->document()->firstBlock(); block.isValid(); block = block.next())
            count += highlighter->highlightBlock(block.text()).size();
    }
    return count;
}

void clearHighLight(SearchHighLight *highlighter)
{
    // Detaching removes the marks; the pattern stays for the next attach.
    highlighter->setDocument(nullptr);
}

} // namespace ConsoleSearch
