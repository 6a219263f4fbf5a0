#include "testsupport.h"
#include "ui/widgets/clineedit.h"
#include "ui/widgets/consolesearch.h"
#include "ui/widgets/ctextbrowser.h"
#include "ui/widgets/searchhighlight.h"
#include "ui/widgets/searchpanel.h"

#include <algorithm>

#include <QCheckBox>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>

// The search bar, the highlighter and the search operations on a console.
class TestSearch : public QObject
{
    Q_OBJECT

private slots:
    void panelSignals_data();
    void panelSignals();
    void searchSteps_data();
    void searchSteps();
    void previousResetsHorizontalScroll();
    void searchAll_data();
    void searchAll();
    void clearAndSearchAgain();
    void nextGoesOnFromTheScreen();
};

namespace {
void fill(CTextBrowser &console)
{
    TestSupport::appendLines(&console, {"[10:00:01] ERROR: disk full", "[10:00:02] an error occurred in a.c",
                                        "[10:00:03] abc started", "[10:00:04] last error, retrying"});
    console.moveCursor(QTextCursor::Start);
}


QPushButton *button(SearchPanel &panel, const QString &text)
{
    for (QPushButton *b : panel.findChildren<QPushButton *>())
        if (b->text() == text)
            return b;
    return nullptr;
}
} // namespace

void TestSearch::panelSignals_data()
{
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("caseChecked");
    QTest::addColumn<int>("signal");     // 0 next, 1 previous, 2 all, 3 clear, -1 none

    QTest::newRow("next") << "下一个" << "error" << false << 0;
    QTest::newRow("previous, case") << "上一个" << "Error" << true << 1;
    QTest::newRow("all, untrimmed") << "搜索所有" << " a.c " << false << 2;
    QTest::newRow("next, empty") << "下一个" << "" << false << -1;
    QTest::newRow("previous, empty") << "上一个" << "" << true << -1;
    QTest::newRow("all, empty") << "搜索所有" << "" << false << -1;
    QTest::newRow("clear") << "清除高亮" << "error" << false << 3;
    QTest::newRow("clear, empty field") << "清除高亮" << "" << false << 3;
}

void TestSearch::panelSignals()
{
    QFETCH(QString, button);
    QFETCH(QString, text);
    QFETCH(bool, caseChecked);
    QFETCH(int, signal);

    SearchPanel panel;
    auto *field = panel.findChild<CLineEdit *>();
    auto *caseBox = panel.findChild<QCheckBox *>();
    QVERIFY(field && caseBox && !caseBox->isChecked());
    field->setText(text);
    caseBox->setChecked(caseChecked);
    QSignalSpy next(&panel, &SearchPanel::next), previous(&panel, &SearchPanel::previous),
        all(&panel, &SearchPanel::all), clear(&panel, &SearchPanel::clear);
    const QList<QSignalSpy *> spies{&next, &previous, &all, &clear};

    QTest::mouseClick(::button(panel, button), Qt::LeftButton);
    for (int i = 0; i < spies.size(); ++i)
        QCOMPARE(spies.at(i)->count(), i == signal ? 1 : 0);
    if (signal >= 0 && signal < 3)
        QCOMPARE(spies.at(signal)->first(), (QList<QVariant>{text, caseChecked}));
    QCOMPARE(field->text(), text);

    // Left to right: field, then previous before next.
    panel.resize(900, 40);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    QVERIFY(field->x() < ::button(panel, "上一个")->x());
    QVERIFY(::button(panel, "上一个")->x() < ::button(panel, "下一个")->x());
}

void TestSearch::searchSteps_data()
{
    QTest::addColumn<bool>("backward");
    QTest::addColumn<QString>("txt");
    QTest::addColumn<bool>("caseSensitive");
    QTest::addColumn<int>("hits");

    for (bool backward : {false, true}) {
        const QByteArray d = backward ? "previous: " : "next: ";
        QTest::newRow((d + "error, any case").constData()) << backward << "error" << false << 3;
        QTest::newRow((d + "error, case-sensitive").constData()) << backward << "error" << true << 2;
        QTest::newRow((d + "a.c is literal").constData()) << backward << "a.c" << false << 1;
        QTest::newRow((d + "absent").constData()) << backward << "warning" << false << 0;
    }
}

void TestSearch::searchSteps()
{
    QFETCH(bool, backward);
    QFETCH(QString, txt);
    QFETCH(bool, caseSensitive);
    QFETCH(int, hits);

    CTextBrowser console;
    fill(console);
    const QString plain = console.toPlainText();
    const Qt::CaseSensitivity cs = caseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive;
    QList<int> at;                           // literal occurrences
    for (int i = plain.indexOf(txt, 0, cs); i >= 0; i = plain.indexOf(txt, i + 1, cs))
        at.append(i);
    QCOMPARE(at.size(), hits);

    // Next wraps to the first hit in the same press. Previous from the start
    // first lands at the end with nothing selected, then walks back.
    QList<int> expected;                     // -1: at the start / end, no selection
    for (int round = 0; round < 2; ++round) {
        if (backward)
            expected.append(-1);
        for (int i = 0; i < hits; ++i)
            expected.append(at.at(backward ? hits - 1 - i : i));
    }
    if (!backward)
        expected.append(hits ? at.first() : -1);

    for (int press = 0; press < expected.size(); ++press) {
        (backward ? ConsoleSearch::searchPrevious : ConsoleSearch::searchNext)(&console, txt, caseSensitive);
        const QTextCursor cursor = console.textCursor();
        if (expected.at(press) < 0) {
            QVERIFY(!cursor.hasSelection());
            QCOMPARE(cursor.position(), backward ? plain.size() : 0);
        } else {
            QCOMPARE(cursor.selectionStart(), expected.at(press));
            QCOMPARE(cursor.selectedText().compare(txt, cs), 0);
        }
    }
}

void TestSearch::previousResetsHorizontalScroll()
{
    CTextBrowser console;
    console.setLineWrapMode(QPlainTextEdit::NoWrap);
    fill(console);
    TestSupport::appendLines(&console, {QString(400, QLatin1Char('x'))});   // the end lies far right
    console.resize(200, 120);
    console.show();
    QVERIFY(QTest::qWaitForWindowExposed(&console));
    QVERIFY(console.horizontalScrollBar()->maximum() > 0);

    ConsoleSearch::searchPrevious(&console, QStringLiteral("ERROR"), true);
    QVERIFY(!console.textCursor().hasSelection() && console.textCursor().atEnd());
    QCOMPARE(console.horizontalScrollBar()->value(), 0);
    ConsoleSearch::searchPrevious(&console, QStringLiteral("ERROR"), true);
    QCOMPARE(console.textCursor().selectedText(), QStringLiteral("ERROR"));
}

void TestSearch::searchAll_data()
{
    QTest::addColumn<QString>("earlier");    // text marked before, if any
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<bool>("caseSensitive");
    QTest::addColumn<QStringList>("marked");

    // As "下一个" finds them: the text literally, the case as the box says.
    QTest::newRow("any case") << "" << "error" << false << QStringList{"ERROR", "error", "error"};
    QTest::newRow("case-sensitive") << "" << "error" << true << QStringList{"error", "error"};
    QTest::newRow("a.c is literal") << "" << "a.c" << false << QStringList{"a.c"};
    QTest::newRow("brackets are literal") << "" << "[10:00:03]" << false << QStringList{"[10:00:03]"};
    QTest::newRow("no alternation") << "" << "ERROR|abc" << false << QStringList();
    QTest::newRow("every match of a line") << "" << "o" << true << QStringList{"o", "o", "o"};
    QTest::newRow("unclosed parenthesis") << "error" << "(" << false << QStringList();
    QTest::newRow("new text replaces") << "error" << "abc" << false << QStringList{"abc"};
}

void TestSearch::searchAll()
{
    QFETCH(QString, earlier);
    QFETCH(QString, pattern);
    QFETCH(bool, caseSensitive);
    QFETCH(QStringList, marked);

    CTextBrowser console;
    QTextCharFormat blueText;
    blueText.setForeground(QColor("#0000FF"));
    console.appendParagraph(QStringLiteral("blue"), blueText);
    fill(console);
    auto *highlighter = new SearchHighLight(console.document());
    console.setHighlighter(highlighter);
    QCOMPARE(TestSupport::greenTexts(&console), QStringList());   // attached, empty pattern
    if (!earlier.isEmpty()) {
        ConsoleSearch::searchAll(&console, highlighter, earlier, false);
        QVERIFY(!TestSupport::greenTexts(&console).isEmpty());
    }
    QCOMPARE(ConsoleSearch::searchAll(&console, highlighter, pattern, caseSensitive), marked.size());
    QCOMPARE(TestSupport::greenTexts(&console), marked);

    // The mark brings its own ink for the lime ground; the document's colours stay.
    ConsoleSearch::searchAll(&console, highlighter, QStringLiteral("blue"), true);
    QCOMPARE(TestSupport::greenTexts(&console), QStringList{"blue"});
    QList<int> markProperties = console.extraSelections().first().format.properties().keys();
    std::sort(markProperties.begin(), markProperties.end());
    QCOMPARE(markProperties, (QList<int>{QTextFormat::BackgroundBrush, QTextFormat::ForegroundBrush}));
    QCOMPARE(console.document()->firstBlock().begin().fragment().charFormat().foreground().color(), QColor("#0000FF"));
}

void TestSearch::clearAndSearchAgain()
{
    CTextBrowser console;
    fill(console);
    auto *highlighter = new SearchHighLight(console.document());
    console.setHighlighter(highlighter);

    ConsoleSearch::searchAll(&console, highlighter, QStringLiteral("error"), true);
    TestSupport::appendLines(&console, {"one more error"});    // marked while attached
    QCOMPARE(TestSupport::greenTexts(&console).size(), 3);

    ConsoleSearch::clearHighLight(highlighter);
    QCOMPARE(TestSupport::greenTexts(&console), QStringList());
    QVERIFY(!highlighter->document());                          // detached
    TestSupport::appendLines(&console, {"error after clearing"});
    QCOMPARE(TestSupport::greenTexts(&console), QStringList());

    ConsoleSearch::clearHighLight(highlighter);                 // twice is harmless
    ConsoleSearch::searchAll(&console, highlighter, QStringLiteral("error"), true);
    QCOMPARE(TestSupport::greenTexts(&console).size(), 4);
}

// Hours of output later, with the cursor left at the top, "下一个" finds the
// hit on screen, not the oldest one; "上一个" the last one above the bottom.
void TestSearch::nextGoesOnFromTheScreen()
{
    CTextBrowser console;
    console.resize(400, 200);
    console.show();
    QVERIFY(QTest::qWaitForWindowExposed(&console));
    QStringList lines;
    for (int i = 0; i < 300; ++i)
        lines << QStringLiteral("line %1%2").arg(i).arg(i == 10 || i == 297 || i == 299 ? " hit" : "");
    TestSupport::appendLines(&console, lines);
    console.moveCursor(QTextCursor::Start);
    console.verticalScrollBar()->setValue(console.verticalScrollBar()->maximum());
    ConsoleSearch::searchNext(&console, QStringLiteral("hit"), false);
    QCOMPARE(console.textCursor().block().text(), QStringLiteral("line 297 hit"));

    console.moveCursor(QTextCursor::Start);
    console.verticalScrollBar()->setValue(console.verticalScrollBar()->maximum());
    ConsoleSearch::searchPrevious(&console, QStringLiteral("hit"), false);
    QCOMPARE(console.textCursor().block().text(), QStringLiteral("line 299 hit"));
}

QTEST_MAIN(TestSearch)
#include "tst_search.moc"
