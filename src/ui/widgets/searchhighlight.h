#pragma once

#include <QObject>
#include <QPointer>
#include <QRegularExpression>
#include <QTextCharFormat>
#include <QTextDocument>
#include <QTextLayout>
#include <QVector>

// Marks every occurrence of a text with a green background. While
// attached to a document it says where the marks of any of its lines are;
// the console asks only for the lines it shows, so marking costs the same on
// a full console as on an empty one, and lines that arrive later are marked
// as they appear. Detaching (setDocument(nullptr)) removes every mark and
// keeps the pattern.
class SearchHighLight : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY(SearchHighLight)

public:
    explicit SearchHighLight(QTextDocument *parent);

    // Taken literally, as the other search operations take it.
    void setSearchText(const QString &txt, bool caseSensitively);
    void setDocument(QTextDocument *doc);
    QTextDocument *document() const { return doc; }

    // The marks of one line (block) of the attached document's text.
    QVector<QTextLayout::FormatRange> highlightBlock(const QString &text) const;
    bool canMatch() const;

signals:
    // The marks may have changed everywhere: new pattern, attached, detached.
    void marksChanged();

private:
    QPointer<QTextDocument> doc;
    QRegularExpression pattern;
    QTextCharFormat format;
};
