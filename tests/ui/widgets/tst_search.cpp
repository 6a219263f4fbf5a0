#include "ui/widgets/clineedit.h"
#include "ui/widgets/consolesearch.h"
#include "ui/widgets/ctextbrowser.h"
#include "ui/widgets/searchhighlight.h"
#include "ui/widgets/searchpanel.h"

#include <QCheckBox>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>

// The search bar, the highlighter and the search operations on a console.
class TestSearch : public QObject
{
    Q_OBJECT

private slots:
    void panelSignals_data();
    void panelSignals();
    void panelButtonOrder();
    void searchNext_data();
    void searchNext();
    void searchPrevious_data();
    void searchPrevious();
    void searchPreviousResetsHorizontalScroll();
    void searchAll_data();
    void searchAll();
    void marksKeepForeground();
    void clearAndSearchAgain();
    void panelDrivesConsole();
};

namespace {

const QStringList kLines = {
    QStringLiteral("[10:00:01] ERROR: disk full"),
    QStringLiteral("[10:00:02] an error occurred in a.c"),
    QStringLiteral("[10:00:03] abc started"),
    QStringLiteral("[10:00:04] last error, retrying"),
};

void fill(CTextBrowser &console)
{
    for (const QString &line : kLines)
        console.append(line);
    console.moveCursor(QTextCursor::Start);
}

// Start positions of txt in the console's plain text, literally.
QList<int> literalHits(const CTextBrowser &console, const QString &txt, bool caseSensitive)
{
    const QString text = console.document()->toPlainText();
    const Qt::CaseSensitivity cs = caseSensitive ? Qt::CaseSensitive : Qt::CaseInsensitive;
    QList<int> hits;
    for (int at = text.indexOf(txt, 0, cs); at >= 0; at = text.indexOf(txt, at + 1, cs))
        hits.append(at);
    return hits;
}

// The texts that carry a green background, in document order.
QStringList greenTexts(const QTextDocument *document)
{
    QStringList found;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        for (const QTextLayout::FormatRange &range : block.layout()->formats()) {
            if (range.format.background().style() == Qt::SolidPattern
                && range.format.background().color() == QColor(0, 255, 0))
                found.append(block.text().mid(range.start, range.length));
        }
    }
    return found;
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
    QTest::addColumn<QString>("buttonText");
    QTest::addColumn<QString>("fieldText");
    QTest::addColumn<bool>("caseChecked");
    QTest::addColumn<QString>("expectedSignal"); // empty: none

    QTest::newRow("next") << "下一个" << "error" << false << "next";
    QTest::newRow("next, case") << "下一个" << "Error" << true << "next";
    QTest::newRow("previous") << "上一个" << "error" << false << "previous";
    QTest::newRow("all, case") << "搜索所有" << "a.c" << true << "all";
    QTest::newRow("untrimmed text") << "搜索所有" << " err " << false << "all";
    QTest::newRow("next, empty") << "下一个" << "" << false << "";
    QTest::newRow("previous, empty") << "上一个" << "" << true << "";
    QTest::newRow("all, empty") << "搜索所有" << "" << false << "";
    QTest::newRow("clear") << "清除高亮" << "error" << false << "clear";
    QTest::newRow("clear, empty field") << "清除高亮" << "" << false << "clear";
}

void TestSearch::panelSignals()
{
    QFETCH(QString, buttonText);
    QFETCH(QString, fieldText);
    QFETCH(bool, caseChecked);
    QFETCH(QString, expectedSignal);

    SearchPanel panel;
    auto *field = panel.findChild<CLineEdit *>();
    auto *caseBox = panel.findChild<QCheckBox *>();
    QVERIFY(field && caseBox);
    QCOMPARE(field->placeholderText(), QStringLiteral("请输入搜索的内容"));
    QCOMPARE(caseBox->text(), QStringLiteral("大小写"));
    QVERIFY(!caseBox->isChecked());
    field->setText(fieldText);
    caseBox->setChecked(caseChecked);

    QSignalSpy next(&panel, &SearchPanel::next);
    QSignalSpy previous(&panel, &SearchPanel::previous);
    QSignalSpy all(&panel, &SearchPanel::all);
    QSignalSpy clear(&panel, &SearchPanel::clear);
    QPushButton *b = button(panel, buttonText);
    QVERIFY(b);
    QTest::mouseClick(b, Qt::LeftButton);

    const QHash<QString, QSignalSpy *> spies = {
        {"next", &next}, {"previous", &previous}, {"all", &all}, {"clear", &clear}};
    for (auto it = spies.cbegin(); it != spies.cend(); ++it)
        QCOMPARE(it.value()->count(), it.key() == expectedSignal ? 1 : 0);
    if (!expectedSignal.isEmpty() && expectedSignal != "clear") {
        const QList<QVariant> args = spies.value(expectedSignal)->first();
        QCOMPARE(args.at(0).toString(), fieldText);
        QCOMPARE(args.at(1).toBool(), caseChecked);
    }
    QCOMPARE(field->text(), fieldText);     // clearing marks keeps the text
}

void TestSearch::panelButtonOrder()
{
    SearchPanel panel;
    panel.resize(900, 40);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    const QStringList order = {"上一个", "下一个", "搜索所有", "清除高亮"};
    for (int i = 1; i < order.size(); ++i)
        QVERIFY(button(panel, order.at(i - 1))->x() < button(panel, order.at(i))->x());
    QVERIFY(panel.findChild<CLineEdit *>()->x() < button(panel, order.first())->x());
}

void TestSearch::searchNext_data()
{
    QTest::addColumn<QString>("txt");
    QTest::addColumn<bool>("caseSensitive");
    QTest::addColumn<int>("expectedHits");

    QTest::newRow("error, any case finds ERROR too") << "error" << false << 3;
    QTest::newRow("error, case-sensitive") << "error" << true << 2;
    QTest::newRow("ERROR, case-sensitive") << "ERROR" << true << 1;
    QTest::newRow("a.c is literal") << "a.c" << false << 1;
    QTest::newRow("not present") << "warning" << false << 0;
}

void TestSearch::searchNext()
{
    QFETCH(QString, txt);
    QFETCH(bool, caseSensitive);
    QFETCH(int, expectedHits);

    CTextBrowser console;
    fill(console);
    const QList<int> hits = literalHits(console, txt, caseSensitive);
    QCOMPARE(hits.size(), expectedHits);

    // Two rounds: after the last hit one press lands on the first again.
    const int presses = hits.isEmpty() ? 0 : 2 * hits.size() + 1;
    for (int press = 0; press < presses; ++press) {
        ConsoleSearch::searchNext(&console, txt, caseSensitive);
        const QTextCursor cursor = console.textCursor();
        QCOMPARE(cursor.selectionStart(), hits.at(press % hits.size()));
        QCOMPARE(cursor.selectedText().compare(txt, caseSensitive ? Qt::CaseSensitive
                                                                  : Qt::CaseInsensitive), 0);
    }
    if (hits.isEmpty()) {
        ConsoleSearch::searchNext(&console, txt, caseSensitive);
        QVERIFY(!console.textCursor().hasSelection());
        QCOMPARE(console.textCursor().position(), 0);
    }
}

void TestSearch::searchPrevious_data()
{
    searchNext_data();
}

void TestSearch::searchPrevious()
{
    QFETCH(QString, txt);
    QFETCH(bool, caseSensitive);

    CTextBrowser console;
    fill(console);
    const int end = console.document()->characterCount() - 1;
    const QList<int> hits = literalHits(console, txt, caseSensitive);

    // From the start: nothing before, so the first press only goes to the
    // end; then the hits backwards; then the end again; then the last hit.
    QList<int> expected{-1};
    for (int i = hits.size() - 1; i >= 0; --i)
        expected.append(hits.at(i));
    expected.append(-1);
    if (!hits.isEmpty())
        expected.append(hits.last());

    for (int press = 0; press < expected.size(); ++press) {
        ConsoleSearch::searchPrevious(&console, txt, caseSensitive);
        const QTextCursor cursor = console.textCursor();
        if (expected.at(press) < 0) {
            QVERIFY2(!cursor.hasSelection(), qPrintable(QString::number(press)));
            QCOMPARE(cursor.position(), end);
        } else {
            QCOMPARE(cursor.selectionStart(), expected.at(press));
            QCOMPARE(cursor.selectedText().size(), txt.size());
        }
    }
}

void TestSearch::searchPreviousResetsHorizontalScroll()
{
    CTextBrowser console;
    console.setLineWrapMode(QTextEdit::NoWrap);
    fill(console);
    console.append(QString(400, QLatin1Char('x')));   // ends far to the right
    console.resize(200, 120);
    console.show();
    QVERIFY(QTest::qWaitForWindowExposed(&console));
    QScrollBar *bar = console.horizontalScrollBar();
    QVERIFY(bar->maximum() > 0);

    ConsoleSearch::searchPrevious(&console, QStringLiteral("ERROR"), true);
    QVERIFY(!console.textCursor().hasSelection());
    QCOMPARE(console.textCursor().position(), console.document()->characterCount() - 1);
    QCOMPARE(bar->value(), 0);

    ConsoleSearch::searchPrevious(&console, QStringLiteral("ERROR"), true);
    QCOMPARE(console.textCursor().selectedText(), QStringLiteral("ERROR"));
}

void TestSearch::searchAll_data()
{
    QTest::addColumn<QString>("earlier");   // pattern marked before, if any
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QStringList>("marked");

    QTest::newRow("case-sensitive only") << "" << "error" << QStringList{"error", "error"};
    QTest::newRow("upper case") << "" << "ERROR" << QStringList{"ERROR"};
    QTest::newRow("a.c is a pattern") << "" << "a.c" << QStringList{"a.c", "abc"};
    QTest::newRow("alternation") << "" << "ERROR|abc" << QStringList{"ERROR", "abc"};
    QTest::newRow("several per line") << "" << "\\d\\d:00" << QStringList{"10:00", "10:00", "10:00", "10:00"};
    QTest::newRow("invalid pattern") << "" << "(" << QStringList();
    QTest::newRow("invalid pattern drops earlier marks") << "error" << "(" << QStringList();
    QTest::newRow("new pattern replaces earlier marks") << "error" << "abc" << QStringList{"abc"};
    QTest::newRow("no match drops earlier marks") << "abc" << "warning" << QStringList();
}

void TestSearch::searchAll()
{
    QFETCH(QString, earlier);
    QFETCH(QString, pattern);
    QFETCH(QStringList, marked);

    CTextBrowser console;
    fill(console);
    auto *highlighter = new SearchHighLight(console.document());
    QCOMPARE(greenTexts(console.document()), QStringList());   // attached, empty pattern
    if (!earlier.isEmpty()) {
        ConsoleSearch::searchAll(&console, highlighter, earlier);
        QVERIFY(!greenTexts(console.document()).isEmpty());
    }
    ConsoleSearch::searchAll(&console, highlighter, pattern);
    QCOMPARE(greenTexts(console.document()), marked);
}

void TestSearch::marksKeepForeground()
{
    CTextBrowser console;
    console.append(QStringLiteral("<font color=\"#0000FF\">blue error line</font>"));
    auto *highlighter = new SearchHighLight(console.document());
    ConsoleSearch::searchAll(&console, highlighter, QStringLiteral("error"));

    const QTextBlock block = console.document()->firstBlock();
    const QVector<QTextLayout::FormatRange> ranges = block.layout()->formats();
    QCOMPARE(ranges.size(), 1);
    QVERIFY(!ranges.first().format.hasProperty(QTextFormat::ForegroundBrush));
    QCOMPARE(ranges.first().format.properties().size(), 1);     // the background only
    // The document's own colour is untouched.
    QTextCursor cursor(block);
    cursor.setPosition(block.position() + 6);
    QCOMPARE(cursor.charFormat().foreground().color(), QColor("#0000FF"));
}

void TestSearch::clearAndSearchAgain()
{
    CTextBrowser console;
    fill(console);
    auto *highlighter = new SearchHighLight(console.document());
    QTextDocument *doc = console.document();

    ConsoleSearch::searchAll(&console, highlighter, QStringLiteral("error"));
    QCOMPARE(greenTexts(doc).size(), 2);
    console.append(QStringLiteral("[10:00:05] one more error"));   // arrives while attached
    QCOMPARE(greenTexts(doc).size(), 3);

    ConsoleSearch::clearHighLight(highlighter);
    QCOMPARE(greenTexts(doc), QStringList());
    console.append(QStringLiteral("[10:00:06] error after clearing"));
    QCOMPARE(greenTexts(doc), QStringList());

    // Clearing twice is harmless, and searching again marks old and new lines.
    ConsoleSearch::clearHighLight(highlighter);
    ConsoleSearch::searchAll(&console, highlighter, QStringLiteral("error"));
    QCOMPARE(greenTexts(doc).size(), 4);
    ConsoleSearch::searchAll(&console, highlighter, QStringLiteral("error"));
    QCOMPARE(greenTexts(doc).size(), 4);
}

void TestSearch::panelDrivesConsole()
{
    // Wired as the server panels wire it.
    CTextBrowser console;
    fill(console);
    auto *highlighter = new SearchHighLight(console.document());
    SearchPanel panel;
    connect(&panel, &SearchPanel::next, &console, [&](const QString &txt, bool cs) {
        ConsoleSearch::searchNext(&console, txt, cs);
    });
    connect(&panel, &SearchPanel::all, &console, [&](const QString &txt, bool) {
        ConsoleSearch::searchAll(&console, highlighter, txt);
    });
    connect(&panel, &SearchPanel::clear, &console, [&] { ConsoleSearch::clearHighLight(highlighter); });

    panel.findChild<CLineEdit *>()->setText(QStringLiteral("a.c"));
    QTest::mouseClick(button(panel, "下一个"), Qt::LeftButton);
    QCOMPARE(console.textCursor().selectedText(), QStringLiteral("a.c"));
    QTest::mouseClick(button(panel, "搜索所有"), Qt::LeftButton);
    QCOMPARE(greenTexts(console.document()), (QStringList{"a.c", "abc"}));
    panel.findChild<CLineEdit *>()->clear();
    QTest::mouseClick(button(panel, "清除高亮"), Qt::LeftButton);
    QCOMPARE(greenTexts(console.document()), QStringList());
}

QTEST_MAIN(TestSearch)
#include "tst_search.moc"
