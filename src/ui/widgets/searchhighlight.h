#pragma once

#include <QRegularExpression>
#include <QSyntaxHighlighter>
#include <QTextCharFormat>
#include <QTextLayout>
#include <QVector>

// Marks every match of a regular expression with a green background. Stays
// on its document until detached, so text appended later is marked as well.
class SearchHighLight : public QSyntaxHighlighter
{
    Q_OBJECT
    Q_DISABLE_COPY(SearchHighLight)

public:
    explicit SearchHighLight(QTextDocument *parent);

    void setSearchText(const QString &txt);

protected:
    void highlightBlock(const QString &text) override;

private:
    bool canMatch() const;
    void followEdits(bool on);
    QVector<QTextLayout::FormatRange> marks(const QString &text) const;
    void remarkDocument();

    QRegularExpression pattern;
    QTextCharFormat format;
};
