#pragma once

#include "supervision/ansitext.h"

#include <QPlainTextEdit>
#include <QElapsedTimer>
#include <QPointer>
#include <QTextCharFormat>
#include <QTextBlock>
#include <QTimer>

#include <deque>

class SearchHighLight;

// The server console: a read-only plain-text view that shows server output
// literally (never as markup), lays out only what is on screen, and stays
// responsive and bounded under any flood:
//  - paragraphs are queued and inserted once a frame, in one edit, within a
//    time budget, so a busy server cannot hold the event loop;
//  - it holds at most maximumCharacters() of text; past that the oldest
//    lines go;
//  - when the queue itself grows past that size (output arriving faster
//    than it can be shown), its oldest part is skipped, with a note where
//    it was, since it would have been trimmed right after showing anyway;
//  - it holds at most recordLimit() records (see beginRecord()); past
//    that the oldest records go, not the whole console;
//  - search marks are computed for the lines on screen only.
// Ctrl + wheel steps the font's pixel size instead of the base class's zoom.
class CTextBrowser : public QPlainTextEdit
{
    Q_DISABLE_COPY(CTextBrowser)

public:
    // A document keeps its text in one buffer that grows by doubling, and
    // reclaims the space of dropped lines only after an edit that finds the
    // buffer 90 % full. The bound plus one frame of new output plus what may
    // still wait to be reclaimed stays within the 4 Mi characters of an
    // 8 MiB buffer; at a bound of 4 Mi the buffer doubles, and the console
    // costs a third more per character held.
    static constexpr int DefaultMaximumCharacters = 3840 * 1024;

    explicit CTextBrowser(QWidget *parent = nullptr);
    ~CTextBrowser() override;

    // Queues a new paragraph shown literally in one format.
    void appendParagraph(const QString &text, const QTextCharFormat &format);
    // The same for text a stream's parser has already taken apart.
    void appendRunsParagraph(const QString &shown, const QVector<AnsiText::Run> &runs, const QTextCharFormat &base);

    // Empties the console, queued paragraphs included. Hides the base
    // class's clear(), which would leave the queue.
    void clear();
    // Inserts everything queued now (searching must see all of it).
    void flush();
    qint64 queuedCharacters() const { return queuedChars; }

    // The next paragraph begins a record: one read of a server's output.
    // Paragraphs between records (banners) belong to the record before them.
    void beginRecord();
    // Output skipped before it reached the console (too much at once): the
    // console says so where it would have been.
    void addSkipped(qint64 chars);
    // At least 1; 0 or less keeps the newest record only.
    void setRecordLimit(int records);
    int recordLimit() const { return maxRecords; }

    int maximumCharacters() const { return maxChars; }
    void setMaximumCharacters(int chars);

    // The highlighter whose marks this console shows while it is attached
    // to this console's document.
    void setHighlighter(SearchHighLight *highlighter);

protected:
    void wheelEvent(QWheelEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    struct Span
    {
        QString text;
        QTextCharFormat format;
        bool newParagraph;
        bool recordStart = false;
    };

    void enqueue(QString text, const QTextCharFormat &format, bool newParagraph);
    void insertQueued(qint64 budgetMs);
    void trim(bool tail);
    void dropOldRecords(bool tail);
    // Removes everything before keep, keeping the operator's view in place.
    void removeBefore(const QTextBlock &keep, int cutPos, bool tail);
    void updateMarks();
    void releaseWhenIdle();
    bool overBound() const { return document()->characterCount() > maxChars; }

    std::deque<Span> queue;
    qint64 queuedChars = 0;
    qint64 skippedChars = 0;
    bool owesRelease = false;   // memory freed since it was last handed back
    int lineColumn = 0;   // characters since the last line break, queued text included
    int maxChars = DefaultMaximumCharacters;
    int maxRecords = 10000;
    int recordsHeld = 0;        // record starts in the document
    bool recordPending = false;
    QTimer frameTimer;
    QTimer releaseTimer;
    QElapsedTimer sinceOutput;
    QPointer<SearchHighLight> marker;
    bool followTail = true;   // the view shows the newest line
};
