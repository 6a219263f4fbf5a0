#include "ui/widgets/searchhighlight.h"

#include <QTextBlock>
#include <QTextCursor>
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

// Does what rehighlight() does, at the cost of one re-layout of the console
// instead of one per marked block. rehighlight() tells the document about
// every changed block on its own, and each of those re-lays out the rest of
// the console: marking a full console took minutes. Changes to a block's
// formats made inside an edit block are only collected, and when the edit
// block closes the document reports them as one change, to the layout and to
// this highlighter, which then marks the blocks itself while the document
// holds back the layout until it is done.
void SearchHighLight::remarkDocument()
{
    QTextDocument *doc = document();
    if (!doc)
        return;
    const QRegularExpression wanted = pattern;
    QTextCursor editBlock(doc);
    editBlock.beginEditBlock();
    // Unmarked, a full pass with no pattern changes nothing and so is cheap;
    // it also settles the re-highlight that attaching schedules, which would
    // otherwise run later and hold back the marking of new lines until then.
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        if (!block.layout()->formats().isEmpty())
            block.layout()->clearFormats();
    }
    pattern = QRegularExpression();
    rehighlight();
    pattern = wanted;
    for (QTextBlock block = doc->begin(); block.isValid(); block = block.next()) {
        const QVector<QTextLayout::FormatRange> ranges = marks(block.text());
        if (!ranges.isEmpty())
            block.layout()->setFormats(ranges);
    }
    editBlock.endEditBlock();
}
