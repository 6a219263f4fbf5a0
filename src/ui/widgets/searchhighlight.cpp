#include "ui/widgets/searchhighlight.h"

#include <QTextBlock>
#include <QTextDocument>

SearchHighLight::SearchHighLight(QTextDocument *parent)
    : QSyntaxHighlighter(parent)
{
    format.setBackground(QBrush(Qt::green, Qt::SolidPattern));
    // Attached, but with no pattern there is nothing to mark: the base class
    // would still fetch and scan every block the console appends (a few per
    // cent of a flood). It listens again as soon as a pattern can match.
    followEdits(false);
}

// The base class re-highlights changed blocks from this connection; setDocument
// makes it afresh on every attach.
void SearchHighLight::followEdits(bool on)
{
    QTextDocument *doc = document();
    if (!doc)
        return;
    if (on)
        connect(doc, SIGNAL(contentsChange(int,int,int)), this, SLOT(_q_reformatBlocks(int,int,int)),
                Qt::UniqueConnection);
    else
        disconnect(doc, SIGNAL(contentsChange(int,int,int)), this, SLOT(_q_reformatBlocks(int,int,int)));
}

void SearchHighLight::setSearchText(const QString &txt)
{
    pattern = QRegularExpression(txt);
    followEdits(canMatch());
    remarkDocument();
    // Finds every block already marked, so it costs no re-layout; it also
    // settles the re-highlight an attach schedules, which would otherwise
    // hold back the marking of lines appended before the event loop runs.
    rehighlight();
}

bool SearchHighLight::canMatch() const
{
    return !pattern.pattern().isEmpty() && pattern.isValid();
}

QVector<QTextLayout::FormatRange> SearchHighLight::marks(const QString &text) const
{
    QVector<QTextLayout::FormatRange> ranges;
    // An empty pattern would only yield empty matches, and an invalid one
    // none at all (with a warning per block): skip both early.
    if (!canMatch())
        return ranges;
    QRegularExpressionMatchIterator it = pattern.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        if (match.capturedLength() > 0)
            ranges.append({match.capturedStart(), match.capturedLength(), format});
    }
    return ranges;
}

void SearchHighLight::highlightBlock(const QString &text)
{
    // Returning without setFormat still drops the marks of an earlier pattern.
    for (const QTextLayout::FormatRange &range : marks(text))
        setFormat(range.start, range.length, range.format);
}

// Does what rehighlight() does, but tells the document about the changed
// span once: rehighlight() marks every changed block dirty on its own, and
// each of those re-lays out the rest of the console, which made marking a
// full console take minutes instead of milliseconds.
void SearchHighLight::remarkDocument()
{
    QTextDocument *doc = document();
    if (!doc)
        return;
    int from = -1;
    int to = -1;
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        QTextLayout *layout = block.layout();
        const QVector<QTextLayout::FormatRange> ranges = marks(block.text());
        if (ranges == layout->formats())
            continue;
        layout->setFormats(ranges);
        if (from < 0)
            from = block.position();
        to = block.position() + block.length();
    }
    if (from >= 0)
        doc->markContentsDirty(from, to - from);
}
