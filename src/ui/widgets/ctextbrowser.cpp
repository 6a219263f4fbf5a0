#include "ui/widgets/ctextbrowser.h"

#include "platform/platform.h"
#include "supervision/ansitext.h"
#include "ui/widgets/consolepalette.h"
#include "ui/widgets/searchhighlight.h"
#include "ui/widgets/wheelzoom.h"

#include <QElapsedTimer>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QWheelEvent>

namespace {

// One frame: output that arrives within it is shown together.
constexpr int FrameMs = 16;
// Longest stretch of one frame spent inserting; the rest of the frame is
// the event loop's (reading pipes, painting, the operator's clicks).
constexpr qint64 InsertBudgetMs = 10;
constexpr int InsertPiece = 8192;
// Most inserted in one frame: a document compacts its text buffer only after
// an edit, so one edit must not be able to outgrow the room the buffer has
// left (see DefaultMaximumCharacters).
constexpr int FrameCharacters = 128 * 1024;
// The oldest text goes a 32nd of the bound at a time: trims stay rare and
// short, and the document's tables, sized by the fullest moment, stay close
// to what it holds.
constexpr int TrimParts = 32;
// A burst queued this much; once shown, its freed memory is handed back.
constexpr qint64 ReleaseAfterCharacters = 256 * 1024;
// Handing memory back walks the whole heap, and what it hands back faults
// in again page by page when used (the document's next copy of its text
// would, every time): only once output has paused this long.
constexpr int ReleaseAfterPauseMs = 1000;
// A line is broken after this many characters: laying out one endless line
// (a binary flood, a server that never writes a line break) costs time in
// proportion to its length on every repaint.
constexpr int MaxLineLength = 10000;
// The user state of a block that begins a record.
constexpr int RecordStart = 1;

// Breaks text into lines of at most MaxLineLength, given that column
// characters of the current line came before it; returns the new column.
int breakLongLines(QString &text, int column)
{
    const int lastBreak = text.lastIndexOf(QLatin1Char('\n'));
    if (column + text.size() <= MaxLineLength)
        return lastBreak < 0 ? column + text.size() : text.size() - lastBreak - 1;
    QString out;
    out.reserve(text.size() + text.size() / MaxLineLength + 1);
    for (const QChar c : qAsConst(text)) {
        if (c == QLatin1Char('\n')) {
            column = 0;
        } else if (column == MaxLineLength) {
            out.append(QLatin1Char('\n'));
            column = 0;
        }
        if (c != QLatin1Char('\n'))
            ++column;
        out.append(c);
    }
    text = out;
    return column;
}

} // namespace

CTextBrowser::CTextBrowser(QWidget *parent)
    : QPlainTextEdit(parent)
{
    setReadOnly(true);
    // Text selection and link-free: nothing in server output is ever
    // opened, followed or loaded.
    setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    // Nothing to undo in a console; the undo stack would keep a copy of all
    // text ever shown, and it stops the document from reclaiming the space
    // of trimmed lines.
    setUndoRedoEnabled(false);
    frameTimer.setSingleShot(true);
    releaseTimer.setSingleShot(true);
    QObject::connect(&releaseTimer, &QTimer::timeout, this, &CTextBrowser::releaseWhenIdle);
    sinceOutput.start();
    frameTimer.setInterval(FrameMs);
    // Live tail through every change of the view's height or of the text's
    // layout (a new font, the search bar shown, a resize), not only inserts:
    // whoever looks at the newest line keeps seeing it; one who scrolled up
    // stays put.
    QScrollBar *bar = verticalScrollBar();
    QObject::connect(bar, &QScrollBar::valueChanged, this, [this, bar](int value) { followTail = value >= bar->maximum(); });
    QObject::connect(bar, &QScrollBar::rangeChanged, this, [this, bar] {
        if (followTail)
            bar->setValue(bar->maximum());
    });
    QObject::connect(&frameTimer, &QTimer::timeout, this, [this] {
        insertQueued(InsertBudgetMs);
        // Behind a flood, or a trim still to do: go on at the next turn of
        // the event loop.
        if (!queue.empty() || overBound())
            frameTimer.start(0);
        else
            releaseWhenIdle();
    });
}

CTextBrowser::~CTextBrowser() = default;

void CTextBrowser::enqueue(QString text, const QTextCharFormat &format, bool newParagraph)
{
    if (newParagraph)
        lineColumn = 0;
    lineColumn = breakLongLines(text, lineColumn);
    queuedChars += text.size() + (newParagraph ? 1 : 0);
    queue.push_back(Span{std::move(text), format, newParagraph, newParagraph && recordPending});
    if (newParagraph)
        recordPending = false;
    sinceOutput.restart();
    if (queuedChars > ReleaseAfterCharacters)
        owesRelease = true;

    // More queued than the console keeps after a trim: the oldest queued
    // text would be trimmed as soon as it was shown. Skip it now and say so
    // there; what is left, and the note, fit below the bound.
    bool skipped = false;
    const qint64 queueCap = qint64(maxChars) / TrimParts * (TrimParts - 1) - 64;
    while (queuedChars > queueCap) {
        Span &front = queue.front();
        const qint64 excess = queuedChars - queueCap;
        const qint64 size = front.text.size() + (front.newParagraph ? 1 : 0);
        if (size <= excess) {
            skippedChars += front.text.size();
            queuedChars -= size;
            queue.pop_front();
        } else {
            front.text.remove(0, int(excess));
            skippedChars += excess;
            queuedChars -= excess;
        }
        skipped = true;
    }
    if (skipped)
        queue.front().newParagraph = true;
    if (!frameTimer.isActive())
        frameTimer.start(FrameMs);
}

void CTextBrowser::appendParagraph(const QString &text, const QTextCharFormat &format)
{
    enqueue(text, format, true);
}

void CTextBrowser::appendRunsParagraph(const QString &shown, const QVector<AnsiText::Run> &runs,
                                       const QTextCharFormat &base)
{
    // The paragraph ends there anyway; an empty line after every record
    // would only halve what fits on screen.
    int end = shown.size();
    if (end > 0 && shown.at(end - 1) == QLatin1Char('\n')) {
        --end;
        if (end > 0 && shown.at(end - 1) == QLatin1Char('\r'))
            --end;
    }
    bool first = true;
    for (const AnsiText::Run &run : qAsConst(runs)) {
        const int length = qMin(run.start + run.length, end) - run.start;
        if (length <= 0 && !first)
            continue;
        QTextCharFormat format = base;
        const QColor colour = ConsolePalette::of(run.color);
        if (colour.isValid())
            format.setForeground(colour);
        if (run.bold)
            format.setFontWeight(QFont::Bold);
        enqueue(shown.mid(run.start, qMax(0, length)), format, first);
        first = false;
    }
}

void CTextBrowser::beginRecord()
{
    recordPending = true;
}

void CTextBrowser::addSkipped(qint64 chars)
{
    skippedChars += chars;
    if (!frameTimer.isActive())
        frameTimer.start(FrameMs);
}

void CTextBrowser::setRecordLimit(int records)
{
    maxRecords = qMax(1, records);
}

void CTextBrowser::clear()
{
    recordsHeld = 0;
    recordPending = false;
    queue.clear();
    queuedChars = 0;
    skippedChars = 0;
    lineColumn = 0;
    frameTimer.stop();
    QPlainTextEdit::clear();
    owesRelease = true;
    releaseWhenIdle();
}

void CTextBrowser::flush()
{
    frameTimer.stop();
    insertQueued(-1);
}

void CTextBrowser::setMaximumCharacters(int chars)
{
    maxChars = qMax(1024, chars);
    trim(verticalScrollBar()->value() >= verticalScrollBar()->maximum());
    releaseWhenIdle();
}

void CTextBrowser::insertQueued(qint64 budgetMs)
{
    if (queue.empty() && skippedChars == 0 && !overBound())
        return;
    QScrollBar *bar = verticalScrollBar();
    // Live tail: a console that shows its newest line keeps doing so; one
    // the operator scrolled up stays where it is.
    const bool tail = bar->value() >= bar->maximum();
    QElapsedTimer clock;
    clock.start();
    qint64 inserted = 0;
    // The trim a frame owes comes first and counts against its budget: now
    // and then dropping old text has the document copy all it keeps into a
    // new buffer, and that must not come on top of a full frame of inserts.
    trim(tail);

    QTextDocument *doc = document();
    QTextCursor cursor(doc);
    cursor.movePosition(QTextCursor::End);
    cursor.beginEditBlock();
    bool empty = doc->isEmpty();
    if (skippedChars > 0) {
        if (!empty)
            cursor.insertBlock();
        QTextCharFormat noteFormat;
        noteFormat.setForeground(ConsolePalette::note());
        cursor.insertText(QStringLiteral("…… 输出过快，略过了 %1 个字符 ……").arg(skippedChars), noteFormat);
        skippedChars = 0;
        empty = false;
    }
    while (!queue.empty()) {
        Span &span = queue.front();
        if (span.newParagraph && !empty)
            cursor.insertBlock();
        empty = false;
        if (span.newParagraph) {
            // Lines a paragraph brings with it must not pass for record starts.
            cursor.block().setUserState(span.recordStart ? RecordStart : 0);
            recordsHeld += span.recordStart ? 1 : 0;
        }
        queuedChars -= span.newParagraph ? 1 : 0;
        span.newParagraph = false;
        // A big chunk goes in pieces, so that the budget is kept to within
        // a piece's time.
        if (budgetMs >= 0 && span.text.size() > InsertPiece) {
            cursor.insertText(span.text.left(InsertPiece), span.format);
            span.text.remove(0, InsertPiece);
            queuedChars -= InsertPiece;
            inserted += InsertPiece;
        } else {
            cursor.insertText(span.text, span.format);
            queuedChars -= span.text.size();
            inserted += span.text.size();
            queue.pop_front();
        }
        if (budgetMs >= 0 && (clock.elapsed() >= budgetMs || inserted >= FrameCharacters))
            break;
    }
    cursor.endEditBlock();
    dropOldRecords(tail);
    if (budgetMs < 0)
        trim(tail);
    if (tail)
        bar->setValue(bar->maximum());
}

void CTextBrowser::trim(bool tail)
{
    if (!overBound())
        return;
    QTextDocument *doc = document();
    const int chars = doc->characterCount();
    const int cutAt = chars - maxChars / TrimParts * (TrimParts - 1);
    QTextBlock keep = doc->findBlock(cutAt);
    int cutPos = keep.position();
    if (cutPos < cutAt) {
        keep = keep.next();
        cutPos = keep.isValid() ? keep.position() : cutAt;
    }
    for (QTextBlock b = doc->firstBlock(); b.isValid() && b != keep; b = b.next())
        recordsHeld -= b.userState() == RecordStart ? 1 : 0;
    recordsHeld = qMax(0, recordsHeld);
    removeBefore(keep, cutPos, tail);
}

void CTextBrowser::dropOldRecords(bool tail)
{
    if (recordsHeld <= maxRecords)
        return;
    // The first block of the oldest record that stays.
    int toDrop = recordsHeld - maxRecords;
    QTextBlock keep = document()->firstBlock();
    for (; keep.isValid(); keep = keep.next()) {
        if (keep.userState() == RecordStart && toDrop-- == 0)
            break;
    }
    if (!keep.isValid())
        return;
    recordsHeld = maxRecords;
    removeBefore(keep, keep.position(), tail);
}

void CTextBrowser::removeBefore(const QTextBlock &keep, int cutPos, bool tail)
{
    // Keep the lines under the operator's eyes where they are.
    QScrollBar *bar = verticalScrollBar();
    const int top = bar->value();
    const int removedLines = keep.isValid() ? keep.firstLineNumber() : 0;
    QTextCursor cursor(document());
    cursor.setPosition(cutPos, QTextCursor::KeepAnchor);
    cursor.removeSelectedText();
    owesRelease = true;
    if (!tail)
        bar->setValue(qMax(0, top - removedLines));
}

void CTextBrowser::releaseWhenIdle()
{
    if (!owesRelease || !queue.empty())
        return;
    const qint64 wait = ReleaseAfterPauseMs - sinceOutput.elapsed();
    if (wait > 0) {
        if (!releaseTimer.isActive())
            releaseTimer.start(int(wait));
        return;
    }
    owesRelease = false;
    Platform::releaseFreedMemory();
}

void CTextBrowser::setHighlighter(SearchHighLight *highlighter)
{
    if (marker)
        QObject::disconnect(marker, nullptr, this, nullptr);
    marker = highlighter;
    if (marker)
        QObject::connect(marker, &SearchHighLight::marksChanged, viewport(), [this] { viewport()->update(); });
    viewport()->update();
}

// Marks are worked out while painting, for the lines being painted: the
// cost does not grow with the console, and scrolling, resizing, a new font
// or new lines need no bookkeeping. Setting the same marks again would
// schedule another paint, so only a change is applied.
void CTextBrowser::updateMarks()
{
    QList<QTextEdit::ExtraSelection> marks;
    if (marker && marker->document() == document() && marker->canMatch()) {
        const QPointF offset = contentOffset();
        const int bottom = viewport()->height();
        for (QTextBlock block = firstVisibleBlock(); block.isValid(); block = block.next()) {
            if (blockBoundingGeometry(block).translated(offset).top() > bottom)
                break;
            for (const QTextLayout::FormatRange &range : marker->highlightBlock(block.text())) {
                QTextCursor cursor(block);
                cursor.setPosition(block.position() + range.start);
                cursor.setPosition(block.position() + range.start + range.length, QTextCursor::KeepAnchor);
                marks.append({cursor, range.format});
            }
        }
    }
    const QList<QTextEdit::ExtraSelection> shown = extraSelections();
    bool same = shown.size() == marks.size();
    for (int i = 0; same && i < marks.size(); ++i) {
        same = shown.at(i).cursor.selectionStart() == marks.at(i).cursor.selectionStart()
               && shown.at(i).cursor.selectionEnd() == marks.at(i).cursor.selectionEnd();
    }
    if (!same)
        setExtraSelections(marks);
}

void CTextBrowser::paintEvent(QPaintEvent *event)
{
    updateMarks();
    QPlainTextEdit::paintEvent(event);
}

void CTextBrowser::wheelEvent(QWheelEvent *event)
{
    if (!WheelZoom::zoomFont(this, event))
        QPlainTextEdit::wheelEvent(event);
}

void CTextBrowser::changeEvent(QEvent *event)
{
    QPlainTextEdit::changeEvent(event);
    // Two lines at least, whatever the font: the console shrinks before the
    // controls above it are cut (they scroll), but never away.
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        setMinimumHeight(2 * fontMetrics().lineSpacing() + 2 * frameWidth());
}

void CTextBrowser::resizeEvent(QResizeEvent *event)
{
    QScrollBar *bar = verticalScrollBar();
    const bool tail = bar->value() >= bar->maximum();
    QPlainTextEdit::resizeEvent(event);
    if (tail)
        bar->setValue(bar->maximum());
}
