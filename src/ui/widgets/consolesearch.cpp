#include "ui/widgets/consolesearch.h"

#include "ui/widgets/ctextbrowser.h"
#include "ui/widgets/searchhighlight.h"

#include <QScrollBar>
#include <QString>
#include <QTextDocument>

namespace ConsoleSearch {

void searchNext(CTextBrowser *console, const QString &txt, bool caseSensitively)
{
    const QTextDocument::FindFlags flags = caseSensitively ? QTextDocument::FindCaseSensitively
                                                           : QTextDocument::FindFlags();
    console->flush();
    if (console->find(txt, flags))
        return;
    // Wrap around within the same press; a second miss leaves the cursor at
    // the start, which is as good a place as any.
    console->moveCursor(QTextCursor::Start, QTextCursor::MoveAnchor);
    console->find(txt, flags);
}

void searchPrevious(CTextBrowser *console, const QString &txt, bool caseSensitively)
{
    QTextDocument::FindFlags flags = QTextDocument::FindBackward;
    if (caseSensitively)
        flags |= QTextDocument::FindCaseSensitively;
    console->flush();
    if (console->find(txt, flags))
        return;
    // No second search here: the user's next press searches back from the
    // end and so finds the last hit.
    console->moveCursor(QTextCursor::End, QTextCursor::MoveAnchor);
    console->horizontalScrollBar()->setValue(0);
}

void searchAll(CTextBrowser *console, SearchHighLight *highlighter, const QString &txt)
{
    // Marking is always case-sensitive and txt is a regular expression.
    highlighter->setDocument(console->document());
    highlighter->setSearchText(txt);
}

void clearHighLight(SearchHighLight *highlighter)
{
    // Detaching removes the marks; the pattern stays for the next attach.
    highlighter->setDocument(nullptr);
}

} // namespace ConsoleSearch
