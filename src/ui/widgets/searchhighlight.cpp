#include "ui/widgets/searchhighlight.h"

#include "ui/widgets/consolepalette.h"

SearchHighLight::SearchHighLight(QTextDocument *parent)
    : QObject(parent)
    , doc(parent)
{
    format.setBackground(QBrush(ConsolePalette::markBackground(), Qt::SolidPattern));
    format.setForeground(ConsolePalette::markText());
}

void SearchHighLight::setSearchText(const QString &txt, bool caseSensitively)
{
    pattern = QRegularExpression(QRegularExpression::escape(txt), caseSensitively
                                     ? QRegularExpression::NoPatternOption
                                     : QRegularExpression::CaseInsensitiveOption);
    emit marksChanged();
}

void SearchHighLight::setDocument(QTextDocument *document)
{
    if (doc == document)
        return;
    doc = document;
    emit marksChanged();
}

bool SearchHighLight::canMatch() const
{
    return doc && !pattern.pattern().isEmpty() && pattern.isValid();
}

QVector<QTextLayout::FormatRange> SearchHighLight::highlightBlock(const QString &text) const
{
    QVector<QTextLayout::FormatRange> ranges;
    // An empty pattern would only yield empty matches, and an invalid one
    // none at all (with a warning per line): skip both early.
    if (!canMatch())
        return ranges;
    QRegularExpressionMatchIterator it = pattern.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        if (match.capturedLength() > 0)
            ranges.append({int(match.capturedStart()), int(match.capturedLength()), format});
    }
    return ranges;
}
