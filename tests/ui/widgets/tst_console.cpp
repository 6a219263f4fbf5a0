#include "supervision/ansitext.h"
#include "testsupport.h"
#include "ui/widgets/consolesearch.h"
#include "ui/widgets/ctextbrowser.h"
#include "platform/platform.h"
#include "ui/widgets/searchhighlight.h"

#include <QFile>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTest>
#include <QTextBlock>

#include <memory>
#include <vector>
#if defined(Q_OS_LINUX)
#include <cstring>
#include <unistd.h>
#endif

// The console's bound, its frames and what it does when it falls behind.
class tst_Console : public QObject
{
    Q_OBJECT

private slots:
    void boundDropsOldestLines_data();
    void boundDropsOldestLines();
    void framesKeepOrder();
    void longLinesAreBroken();
    void liveTail();
    void searchOnTrimmedConsole();
    void freedMemoryGoesBack();
};

namespace {

QString line(int i)
{
    return QStringLiteral("line %1 ").arg(i, 5, 10, QLatin1Char('0')) + QString(40, QLatin1Char('.'));
}

// The numbers of the "line N" lines, in console order.
QList<int> numbers(const CTextBrowser &console)
{
    QList<int> found;
    static const QRegularExpression number(QStringLiteral("^line (\\d+) "));
    for (QTextBlock b = console.document()->firstBlock(); b.isValid(); b = b.next()) {
        const QRegularExpressionMatch m = number.match(b.text());
        if (m.hasMatch())
            found << m.captured(1).toInt();
    }
    return found;
}

bool contiguousUpTo(const QList<int> &n, int last)
{
    for (int i = 1; i < n.size(); ++i) {
        if (n.at(i) != n.at(i - 1) + 1)
            return false;
    }
    return !n.isEmpty() && n.last() == last;
}

} // namespace

void tst_Console::boundDropsOldestLines_data()
{
    QTest::addColumn<int>("perFrame");   // lines queued between two frames
    QTest::addColumn<bool>("skipped");   // more queued at once than the bound

    QTest::newRow("shown as they come") << 20 << false;
    QTest::newRow("flood: queue over the bound") << 2000 << true;
}

void tst_Console::boundDropsOldestLines()
{
    QFETCH(int, perFrame);
    QFETCH(bool, skipped);

    CTextBrowser console;
    console.setMaximumCharacters(8000);
    const int total = 2000;
    for (int i = 0; i < total; ++i) {
        console.appendParagraph(line(i), QTextCharFormat());
        if ((i + 1) % perFrame == 0)
            console.flush();
    }
    console.flush();
    QVERIFY(console.document()->characterCount() <= 8000);
    const QList<int> n = numbers(console);
    QVERIFY2(contiguousUpTo(n, total - 1), qPrintable(QString::number(n.value(0))));
    QVERIFY(n.first() > 0);
    QCOMPARE(console.toPlainText().contains(QStringLiteral("略过了")), skipped);
    if (skipped)
        QVERIFY(console.document()->firstBlock().text().contains(QStringLiteral("输出过快")));
}

// Queued lines reach the console on their own, in the order queued, also
// when a frame cannot take them all.
void tst_Console::framesKeepOrder()
{
    CTextBrowser console;
    for (int i = 0; i < 300; ++i)
        console.appendParagraph(line(i), QTextCharFormat());
    QTRY_COMPARE(console.queuedCharacters(), 0);
    for (int i = 300; i < 400; ++i)
        console.appendParagraph(line(i), QTextCharFormat());
    QTRY_COMPARE(console.queuedCharacters(), 0);
    const QList<int> n = numbers(console);
    QCOMPARE(n.size(), 400);
    QVERIFY(contiguousUpTo(n, 399));
}

void tst_Console::longLinesAreBroken()
{
    CTextBrowser console;
    console.appendParagraph(QString(15000, QLatin1Char('a')), QTextCharFormat());
    // Server output: text in colour runs.
    for (const QString &text : {QString(9000, QLatin1Char('b')), QStringLiteral("x\n") + QString(9000, QLatin1Char('c'))}) {
        QVector<AnsiText::Run> runs;
        const QString shown = AnsiText::Parser().feed(text, &runs);
        console.appendRunsParagraph(shown, runs, QTextCharFormat());
    }
    console.flush();
    QStringList blocks = console.toPlainText().split(QLatin1Char('\n'));
    QCOMPARE(blocks.size(), 5);
    QCOMPARE(blocks.at(0).size(), 10000);
    QCOMPARE(blocks.at(1), QString(5000, QLatin1Char('a')));
    QCOMPARE(blocks.at(2).size(), 9000);   // a new paragraph starts a new line count
    QCOMPARE(blocks.at(4).size(), 9000);
}

void tst_Console::liveTail()
{
    CTextBrowser console;
    console.resize(300, 150);
    console.show();
    QVERIFY(QTest::qWaitForWindowExposed(&console));
    QScrollBar *bar = console.verticalScrollBar();
    QStringList lines;
    for (int i = 0; i < 100; ++i)
        lines << line(i);
    TestSupport::appendLines(&console, lines);
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());        // follows the newest line

    bar->setValue(3);                              // the operator scrolls up
    const QString top = console.cursorForPosition(QPoint(2, 2)).block().text();
    TestSupport::appendLines(&console, lines);
    QCOMPARE(bar->value(), 3);
    QCOMPARE(console.cursorForPosition(QPoint(2, 2)).block().text(), top);
}

// Search sees what is left after a trim and what arrives later.
void tst_Console::searchOnTrimmedConsole()
{
    CTextBrowser console;
    console.resize(600, 400);
    auto *highlighter = new SearchHighLight(console.document());
    console.setHighlighter(highlighter);
    console.setMaximumCharacters(4000);
    QStringList lines;
    for (int i = 0; i < 200; ++i)
        lines << line(i);
    TestSupport::appendLines(&console, lines);
    QVERIFY(!console.toPlainText().contains(line(0)));

    // The count is of the whole console, not of the lines on screen.
    const int kept = console.toPlainText().count(QStringLiteral("line "));
    QCOMPARE(ConsoleSearch::searchAll(&console, highlighter, QStringLiteral("line "), true), kept);
    QVERIFY(TestSupport::greenTexts(&console).size() < kept);

    ConsoleSearch::searchAll(&console, highlighter, QStringLiteral("line 00199"), true);
    QCOMPARE(TestSupport::greenTexts(&console).size(), 1);
    TestSupport::appendLines(&console, {QStringLiteral("line 00199 again")});
    QCOMPARE(TestSupport::greenTexts(&console).last(), QStringLiteral("line 00199"));

    ConsoleSearch::searchNext(&console, line(199), true);
    QCOMPARE(console.textCursor().selectedText(), line(199));
    ConsoleSearch::searchNext(&console, line(1), true);   // trimmed: not found
    QVERIFY(!console.textCursor().hasSelection());
}

// What a trim or a burst frees leaves the process, also from the middle of
// the heap, where the C library would otherwise keep it.
void tst_Console::freedMemoryGoesBack()
{
#if !defined(Q_OS_LINUX)
    QSKIP("reads the resident size from /proc");
#else
    auto resident = [] {
        QFile statm(QStringLiteral("/proc/self/statm"));
        if (!statm.open(QIODevice::ReadOnly))
            return qint64(-1);
        return statm.readAll().split(' ').value(1).toLongLong() * sysconf(_SC_PAGESIZE);
    };
    const int blockSize = 32 * 1024;   // heap blocks, like queued output
    std::vector<std::unique_ptr<char[]>> blocks;
    for (int i = 0; i < 1024; ++i) {
        blocks.emplace_back(new char[blockSize]);
        std::memset(blocks.back().get(), 1, blockSize);
    }
    const qint64 held = resident();
    // The newest block stays, so the heap's end cannot shrink by itself.
    for (size_t i = 0; i + 1 < blocks.size(); ++i)
        blocks[i].reset();
    Platform::releaseFreedMemory();
    QVERIFY2(resident() < held - 16 * 1024 * 1024, qPrintable(QStringLiteral("%1 -> %2").arg(held).arg(resident())));
#endif
}

QTEST_MAIN(tst_Console)
#include "tst_console.moc"
