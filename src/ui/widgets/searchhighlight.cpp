#include "ui/widgets/searchhighlight.h"

SearchHighLight::SearchHighLight(QTextDocument *parent)
    : QSyntaxHighlighter(parent)
{
    format.setBackground(QBrush(Qt::green, Qt::SolidPattern));
}

void SearchHighLight::setSearchText(const QString &txt)
{
    pattern = QRegularExpression(txt);
    rehighlight();
}

void SearchHighLight::highlightBlock(const QString &text)
{
    // An empty pattern would only yield empty matches, and an invalid one
    // none at all (with a warning per block): skip both early. Returning
    // without setFormat still drops the marks of an earlier pattern.
    if (pattern.pattern().isEmpty() || !pattern.isValid())
        return;
    QRegularExpressionMatchIterator it = pattern.globalMatch(text);
    while (it.hasNext()) {
        const QRegularExpressionMatch match = it.next();
        setFormat(match.capturedStart(), match.capturedLength(), format);
    }
}
