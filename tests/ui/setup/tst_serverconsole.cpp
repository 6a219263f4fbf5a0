#include "setting/setupconfig.h"
#include "supervision/serversupervisor.h"
#include "testsupport.h"
#include "ui/setup/mediaserver/mediaserversetup.h"
#include "ui/widgets/clineedit.h"
#include "ui/widgets/consolepalette.h"
#include "ui/widgets/ctextbrowser.h"
#include "ui/widgets/lightpoint.h"
#include "ui/widgets/searchpanel.h"

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTextBlock>
#include <QTextLayout>

// A media server panel whose supervisor's console operations the test calls.
class ConsoleProbe : public MediaServerSetup
{
public:
    using ServerPanel::setServerStatus;
    using ServerPanel::Decoding;

    void appendOutputRecord(const QByteArray &bytes, Decoding decoding) { server()->appendOutputRecord(bytes, decoding); }
    void appendErrorOutput(const QByteArray &bytes) { server()->appendErrorOutput(bytes); }
    void appendStartBanner() { server()->appendStartBanner(); }
    void appendStartFailure(QProcess::ProcessError error) { server()->appendStartFailure(error); }
    void appendEndBanner(int code, QProcess::ExitStatus status) { server()->appendEndBanner(code, status); }
    ServerSupervisor *server() const { return stack()->mainServer(); }

    explicit ConsoleProbe(int limit)
    {
        setServerParam({QStringLiteral("./x"), QString(), QString(), limit});
    }
    CTextBrowser *view() const { return findChild<CTextBrowser *>(QStringLiteral("ServerConsole")); }
    // What the console shows once output paused and the queued records had
    // their frame.
    QString text()
    {
        server()->flushOutput();
        showPendingOutput();
        return view()->toPlainText();
    }
    int headers() { return text().count(QStringLiteral("(信息)")); }
};

// Texts with the search highlighter's green background, in document order.

class tst_ServerConsole : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void recordFormat();
    void recordLimit_data();
    void recordLimit();
    void bannersNeverClear();
    void errorOutputIsLiteralWithItsLines();
    void errorOutputCountsAsRecord();
    void decoding_data();
    void decoding();
    void outputIsShownLiterally_data();
    void outputIsShownLiterally();
    void ansiColours();
    void banners_data();
    void banners();
    void status_data();
    void status();
    void searchMarksRecordsBeforeAndAfter();
    void everyLineIsLegible();
    void searchBar_data();
    void searchBar();

private:
    TestSupport::TempAppDir appDir;
};

void tst_ServerConsole::initTestCase()
{
    appDir.initialize();
}

void tst_ServerConsole::recordFormat()
{
    ConsoleProbe panel(100);
    panel.appendOutputRecord("first line\nsecond line\n", ConsoleProbe::Decoding::SystemCodec);
    const QStringList lines = panel.text().split(QLatin1Char('\n'));
    QVERIFY(lines.size() >= 3);
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\(信息\\)$"))
                 .match(lines.at(0)).hasMatch(), qPrintable(lines.at(0)));
    QCOMPARE(lines.at(1), QStringLiteral("first line"));
    QCOMPARE(lines.at(2), QStringLiteral("second line"));
    QCOMPARE(panel.headers(), 1);

    // Header in orange, the record itself in the console's light grey.
    const QTextBlock header = panel.view()->document()->firstBlock();
    QCOMPARE(header.begin().fragment().charFormat().foreground().color(), QColor(QStringLiteral("#ff7038")));
    const QTextBlock body = header.next();
    QCOMPARE(body.begin().fragment().charFormat().foreground().color(), QColor(QStringLiteral("#F0F0F0")));

    // A line that reaches the console in two reads is one record, and one
    // that ends without a line end shows once output pauses.
    panel.appendOutputRecord("half a ", ConsoleProbe::Decoding::SystemCodec);
    panel.appendOutputRecord("line\nand a part", ConsoleProbe::Decoding::SystemCodec);
    panel.showPendingOutput();
    QVERIFY(panel.view()->toPlainText().endsWith(QStringLiteral("half a line")));
    QTRY_VERIFY((panel.showPendingOutput(), panel.view()->toPlainText().endsWith(QStringLiteral("(信息)\nand a part"))));
    QCOMPARE(panel.headers(), 3);
}

void tst_ServerConsole::recordLimit_data()
{
    QTest::addColumn<int>("limit");
    QTest::addColumn<int>("records");
    QTest::addColumn<QStringList>("expected");

    // Past the limit the oldest records go; the newest stay.
    QTest::newRow("limit 10, 10 records") << 10 << 10
        << QStringList{"r1", "r2", "r3", "r4", "r5", "r6", "r7", "r8", "r9", "r10"};
    QTest::newRow("limit 10, 11 records") << 10 << 11
        << QStringList{"r2", "r3", "r4", "r5", "r6", "r7", "r8", "r9", "r10", "r11"};
    QTest::newRow("limit 10, 22 records") << 10 << 22
        << QStringList{"r13", "r14", "r15", "r16", "r17", "r18", "r19", "r20", "r21", "r22"};
    QTest::newRow("limit 0 keeps the newest") << 0 << 5 << QStringList{"r5"};
    QTest::newRow("limit -3") << -3 << 4 << QStringList{"r4"};
}

void tst_ServerConsole::recordLimit()
{
    QFETCH(int, limit);
    QFETCH(int, records);
    QFETCH(QStringList, expected);

    ConsoleProbe panel(limit);
    for (int i = 1; i <= records; ++i) {
        // Records of two lines, some frames apart: a record's own lines are
        // not records.
        panel.appendOutputRecord(QStringLiteral("r%1\nand more\n").arg(i).toUtf8(), ConsoleProbe::Decoding::SystemCodec);
        if (i % 3 == 0)
            panel.text();
    }

    QStringList seen;
    for (const QString &line : panel.text().split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1Char('r')))
            seen << line;
    }
    QCOMPARE(seen, expected);
    QCOMPARE(panel.headers(), expected.size());
}

void tst_ServerConsole::bannersNeverClear()
{
    ConsoleProbe panel(2);
    panel.appendOutputRecord("kept", ConsoleProbe::Decoding::SystemCodec);
    for (int i = 0; i < 30; ++i) {
        panel.appendStartBanner();
        panel.appendEndBanner(0, QProcess::NormalExit);
        panel.appendStartFailure(QProcess::FailedToStart);
    }
    QVERIFY(panel.text().contains(QStringLiteral("kept")));
    QCOMPARE(panel.text().count(QStringLiteral("程序启动--")), 30);
    // The next record is the second: all kept; the third passes the limit,
    // and the oldest record goes with the banners after it.
    panel.appendOutputRecord("second\n", ConsoleProbe::Decoding::SystemCodec);
    QVERIFY(panel.text().contains(QStringLiteral("kept")));
    panel.appendOutputRecord("third\n", ConsoleProbe::Decoding::SystemCodec);
    QVERIFY(!panel.text().contains(QStringLiteral("kept")));
}

void tst_ServerConsole::errorOutputIsLiteralWithItsLines()
{
    ConsoleProbe panel(100);
    panel.appendErrorOutput("Exception in thread \"main\"\n\tat java.lang.Thread.<init>(Thread.java:750)\n<b>x</b> & y\n");
    QCOMPARE(panel.text(), QStringLiteral("Exception in thread \"main\"\n\tat java.lang.Thread.<init>(Thread.java:750)\n<b>x</b> & y"));
    for (QTextBlock block = panel.view()->document()->firstBlock(); block.isValid(); block = block.next())
        QCOMPARE(block.begin().fragment().charFormat().foreground().color(), ConsolePalette::errorText());
    QCOMPARE(panel.headers(), 0);
}

void tst_ServerConsole::errorOutputCountsAsRecord()
{
    ConsoleProbe panel(2);
    panel.appendOutputRecord("out1\n", ConsoleProbe::Decoding::SystemCodec);
    panel.appendErrorOutput("err1\n");
    QVERIFY(panel.text().contains(QStringLiteral("out1")));
    panel.appendErrorOutput("err2");   // third record: the first goes
    QCOMPARE(panel.text(), QStringLiteral("err1\nerr2"));
}

void tst_ServerConsole::decoding_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("utf8");
    QTest::addColumn<QString>("expected");

    // A zero byte is dropped, never what follows it (MySQL command, Redis).
    QTest::newRow("utf8 zero inside") << QByteArray("服务已启动\0after", 21) << true << QStringLiteral("服务已启动after");
    QTest::newRow("utf8 without zero") << QByteArray("Redis 就绪") << true << QStringLiteral("Redis 就绪");
    QTest::newRow("utf8 zero first") << QByteArray("\0rest", 5) << true << QStringLiteral("rest");
    QTest::newRow("system codec keeps all") << QByteArray("plain text") << false << QStringLiteral("plain text");
    QTest::newRow("system codec zero") << QByteArray("plain\0text", 10) << false << QStringLiteral("plaintext");
    // Nothing may make a line look like another: shown, not obeyed.
    QTest::newRow("bare CR") << QByteArray("password=secret\rpassword=******") << true
                             << QStringLiteral("password=secret\u240Dpassword=******");
    QTest::newRow("backspaces") << QByteArray("rm -rf /\b\b\bdir") << false << QStringLiteral("rm -rf /\u2408\u2408\u2408dir");
    QTest::newRow("bidi override") << QByteArray("user \u202Egnp.exe") << true << QStringLiteral("user \uFFFDgnp.exe");
    QTest::newRow("bidi isolate") << QByteArray("a\u2066b\u2069c") << true << QStringLiteral("a\uFFFDb\uFFFDc");
    QTest::newRow("C1 CSI") << QByteArray("\xC2\x9B" "31mred") << true << QStringLiteral("\uFFFD31mred");
    QTest::newRow("tab stays") << QByteArray("a\tb") << true << QStringLiteral("a\tb");
}

void tst_ServerConsole::decoding()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, utf8);
    QFETCH(QString, expected);

    ConsoleProbe panel(100);
    panel.appendOutputRecord(bytes, utf8 ? ConsoleProbe::Decoding::Utf8 : ConsoleProbe::Decoding::SystemCodec);
    const QStringList lines = panel.text().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines.at(1), expected);
}

void tst_ServerConsole::outputIsShownLiterally_data()
{
    QTest::addColumn<QByteArray>("chunk");

    const QByteArray image = (TestSupport::sourceDir() + QStringLiteral("/resources/image/1.png")).toUtf8();
    QVERIFY(QFile::exists(QString::fromUtf8(image)));
    QTest::newRow("tags") << QByteArray("<b>bold</b> <h1>big</h1> <a href=\"file:///etc\">link</a>");
    QTest::newRow("image of a real file") << QByteArray("<img src=\"" + image + "\">");
    QTest::newRow("comment hides nothing") << QByteArray("<!-- start\nline after the comment");
    QTest::newRow("entities stay") << QByteArray("&lt;init&gt; &amp; &#65;");
}

void tst_ServerConsole::outputIsShownLiterally()
{
    QFETCH(QByteArray, chunk);

    ConsoleProbe panel(100);
    panel.appendOutputRecord(chunk + '\n', ConsoleProbe::Decoding::SystemCodec);
    const QString text = panel.text();
    QCOMPARE(text.mid(text.indexOf(QLatin1Char('\n')) + 1), QString::fromUtf8(chunk));
    for (QTextBlock block = panel.view()->document()->firstBlock(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            QVERIFY(!it.fragment().charFormat().isImageFormat());
            QVERIFY(!it.fragment().charFormat().isAnchor());
        }
    }
}

// SGR colours reach the console's formats; what is not SGR is removed.
void tst_ServerConsole::ansiColours()
{
    ConsoleProbe panel(100);
    panel.appendOutputRecord("\x1b]0;title\x07plain \x1b[1;31mred\x1b[0m \x1b[2Kdone\x1b[", ConsoleProbe::Decoding::SystemCodec);
    panel.text();
    const QTextBlock body = panel.view()->document()->firstBlock().next();
    QCOMPARE(body.text(), QStringLiteral("plain red done"));
    QList<QPair<QString, QColor>> fragments;
    for (auto it = body.begin(); !it.atEnd(); ++it)
        fragments.append({it.fragment().text(), it.fragment().charFormat().foreground().color()});
    QCOMPARE(fragments.size(), 3);
    QCOMPARE(fragments.at(0), qMakePair(QStringLiteral("plain "), QColor(QStringLiteral("#F0F0F0"))));
    QCOMPARE(fragments.at(1).first, QStringLiteral("red"));
    QCOMPARE(fragments.at(1).second, ConsolePalette::ansi(1));
    QCOMPARE(fragments.at(2).second, QColor(QStringLiteral("#F0F0F0")));
    QCOMPARE(body.begin().fragment().charFormat().fontWeight(), int(QFont::Normal));
}

void tst_ServerConsole::banners_data()
{
    QTest::addColumn<int>("kind");   // 0 start, 1 failed start, 2 other error, 3 crash, 4 end, 5 end with code 3
    QTest::addColumn<QString>("banner");
    QTest::addColumn<QColor>("color");
    QTest::addColumn<bool>("separator");

    const QString dashes(50, QLatin1Char('-'));
    const QColor green = ConsolePalette::started();
    const QColor red = ConsolePalette::failed();
    QTest::newRow("start") << 0 << QStringLiteral("  程序启动") + dashes << green << false;
    QTest::newRow("failed start") << 1 << QStringLiteral("  程序启动失败") + dashes << red << true;
    QTest::newRow("crashed error") << 2 << QString() << QColor() << true;
    QTest::newRow("crash exit") << 3 << QStringLiteral("  程序异常终止") + dashes << red << true;
    QTest::newRow("normal exit") << 4 << QStringLiteral("  程序结束") + dashes << green << true;
    QTest::newRow("exit code 3") << 5 << QStringLiteral("  程序结束(退出码 3)") + dashes << red << true;
}

void tst_ServerConsole::banners()
{
    QFETCH(int, kind);
    QFETCH(QString, banner);
    QFETCH(QColor, color);
    QFETCH(bool, separator);

    ConsoleProbe panel(100);
    switch (kind) {
    case 0: panel.appendStartBanner(); break;
    case 1: panel.appendStartFailure(QProcess::FailedToStart); break;
    case 2: panel.appendStartFailure(QProcess::Crashed); break;
    case 3: panel.appendEndBanner(0, QProcess::CrashExit); break;
    case 4: panel.appendEndBanner(0, QProcess::NormalExit); break;
    default: panel.appendEndBanner(3, QProcess::NormalExit); break;
    }
    const QString all = panel.text();
    const QTextBlock first = panel.view()->document()->firstBlock();
    if (banner.isEmpty()) {
        QVERIFY(first.text().isEmpty());
    } else {
        QVERIFY2(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}")
                                    + QRegularExpression::escape(banner) + QLatin1Char('$'))
                     .match(first.text()).hasMatch(), qPrintable(first.text()));
        QCOMPARE(first.begin().fragment().charFormat().foreground().color(), color);
    }
    // The separator shows as empty lines after the banner.
    const QString rest = all.mid(first.text().size());
    QCOMPARE(!rest.isEmpty() && rest.trimmed().isEmpty(), separator);
}

void tst_ServerConsole::status_data()
{
    QTest::addColumn<int>("flag");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("sheet");

    QTest::newRow("started") << 1 << QStringLiteral("媒体服务器已启动") << QStringLiteral("color:#00b17d;");
    QTest::newRow("big flag") << 5 << QStringLiteral("媒体服务器已启动") << QStringLiteral("color:#00b17d;");
    QTest::newRow("stopped") << 0 << QStringLiteral("媒体服务器未启动") << QStringLiteral("color:#d64d54;");
    QTest::newRow("negative") << -1 << QStringLiteral("媒体服务器未启动") << QStringLiteral("color:#d64d54;");
}

void tst_ServerConsole::status()
{
    QFETCH(int, flag);
    QFETCH(QString, text);
    QFETCH(QString, sheet);

    ConsoleProbe panel(100);
    auto *label = panel.findChild<QLabel *>(QStringLiteral("ServerStatusLabel"));
    auto *lamp = panel.findChild<LightPoint *>();
    QVERIFY(label && lamp);
    QCOMPARE(label->text(), QStringLiteral("媒体服务器未启动"));
    QCOMPARE(lamp->getBgColor(), QColor(QStringLiteral("#D64D54")));

    panel.setServerStatus(flag);
    QCOMPARE(label->text(), text);
    QCOMPARE(label->styleSheet(), sheet);
    QCOMPARE(lamp->getBgColor().name(), sheet.mid(6, 7));
}

// The highlighter ignores console edits while it has no pattern; records
// written before the first search and after it must both be marked, and
// none after the marks are cleared.
void tst_ServerConsole::searchMarksRecordsBeforeAndAfter()
{
    ConsoleProbe panel(100);
    panel.resize(900, 1000);
    auto *search = panel.findChild<SearchPanel *>();
    QVERIFY(search);
    CTextBrowser *doc = panel.view();
    const auto green = [&] {
        panel.showPendingOutput();
        return TestSupport::greenTexts(doc);
    };
    panel.appendOutputRecord("an error before searching\n", ConsoleProbe::Decoding::SystemCodec);
    QCOMPARE(green(), QStringList());

    emit search->all(QStringLiteral("error"), false);
    QCOMPARE(green(), QStringList{QStringLiteral("error")});

    panel.appendOutputRecord("another error\nand one more error\n", ConsoleProbe::Decoding::SystemCodec);
    panel.appendErrorOutput("error on stderr\n");
    QCOMPARE(green().size(), 4);

    emit search->clear();
    QCOMPARE(green(), QStringList());
    panel.appendOutputRecord("error after clearing\n", ConsoleProbe::Decoding::SystemCodec);
    QCOMPARE(green(), QStringList());

    emit search->all(QStringLiteral("error"), false);
    QCOMPARE(green().size(), 5);
    panel.appendOutputRecord("last error\n", ConsoleProbe::Decoding::SystemCodec);
    QCOMPARE(green().size(), 6);
}

// Every colour the console gives a line, and the text on a search mark,
// against the ground the console really paints under the shipped style sheet:
// at least 4.5:1.
void tst_ServerConsole::everyLineIsLegible()
{
    QFile sheet(TestSupport::sourceDir() + QStringLiteral("/config/stylesheet2/stylesheet.css"));
    QVERIFY(sheet.open(QIODevice::ReadOnly));
    qApp->setStyleSheet(QString::fromUtf8(sheet.readAll()).arg(16));
    ConsoleProbe panel(100);
    panel.resize(900, 700);
    panel.appendStartBanner();
    panel.appendOutputRecord("output\n", ConsoleProbe::Decoding::SystemCodec);
    panel.appendErrorOutput("stderr");
    panel.appendStartFailure(QProcess::FailedToStart);
    panel.appendEndBanner(0, QProcess::CrashExit);
    panel.appendEndBanner(0, QProcess::NormalExit);
    panel.showPendingOutput();
    emit panel.findChild<SearchPanel *>()->all(QStringLiteral("out"), false);
    QCOMPARE(TestSupport::greenTexts(panel.view()).size(), 1);

    const QImage shot = panel.view()->viewport()->grab().toImage();
    const QColor ground = shot.pixelColor(shot.width() - 3, shot.height() - 3);
    QCOMPARE(ground, ConsolePalette::background());
    int fragments = 0;
    for (QTextBlock block = panel.view()->document()->firstBlock(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            const QColor ink = format.hasProperty(QTextFormat::ForegroundBrush) ? format.foreground().color()
                                                                                : panel.view()->palette().text().color();
            QVERIFY2(ConsolePalette::contrast(ink, ground) >= 4.5, qPrintable(ink.name() + it.fragment().text()));
            ++fragments;
        }
    }
    QCOMPARE(fragments, 7);   // the separators are empty
    const QTextEdit::ExtraSelection mark = panel.view()->extraSelections().first();
    QVERIFY(ConsolePalette::contrast(mark.format.foreground().color(), mark.format.background().color()) >= 4.5);
    qApp->setStyleSheet(QString());
}

void tst_ServerConsole::searchBar_data()
{
    QTest::addColumn<bool>("byShortcut");
    QTest::newRow("button") << false;
    QTest::newRow("Ctrl+F") << true;
}

// Opening puts the keyboard in the field; Return, Shift+Return and Escape
// act there; the count says what "搜索所有" found; a hit comes with context.
void tst_ServerConsole::searchBar()
{
    QFETCH(bool, byShortcut);
    ConsoleProbe panel(100000);
    panel.resize(900, 600);
    panel.show();
    QVERIFY(QTest::qWaitForWindowActive(&panel));
    for (int i = 0; i < 300; ++i)
        panel.appendOutputRecord("line " + QByteArray::number(i) + (i % 50 == 0 ? " hit\n" : "\n"), ConsoleProbe::Decoding::SystemCodec);
    panel.showPendingOutput();
    auto *search = panel.findChild<SearchPanel *>();
    auto *field = search->findChild<CLineEdit *>();
    QLabel *count = nullptr;
    for (QLabel *label : search->findChildren<QLabel *>()) {
        if (label->text().startsWith(QStringLiteral("共")))
            count = label;
    }
    QVERIFY(count);
    auto button = [&](const QString &text) {
        for (QPushButton *b : panel.findChildren<QPushButton *>()) {
            if (b->text() == text)
                return b;
        }
        return static_cast<QPushButton *>(nullptr);
    };
    field->setText(QStringLiteral("hit"));
    if (byShortcut) {
        panel.view()->setFocus();
        QTest::keyClick(panel.view(), Qt::Key_F, Qt::ControlModifier);
    } else {
        button(QStringLiteral("搜索"))->click();
    }
    QTRY_COMPARE(QApplication::focusWidget(), field);
    QCOMPARE(field->selectedText(), QStringLiteral("hit"));

    button(QStringLiteral("搜索所有"))->click();
    QCOMPARE(count->text(), QStringLiteral("共6个"));

    auto hitLine = [&] { return panel.view()->textCursor().block().text(); };
    QTest::keyClick(field, Qt::Key_Return);
    QCOMPARE(hitLine(), QStringLiteral("line 0 hit"));
    QTest::keyClick(field, Qt::Key_Return);
    QCOMPARE(hitLine(), QStringLiteral("line 50 hit"));
    const int context = 2 * panel.view()->fontMetrics().lineSpacing();
    const QRect hit = panel.view()->cursorRect();
    QVERIFY2(hit.top() >= context && hit.bottom() <= panel.view()->viewport()->height() - context,
             qPrintable(QStringLiteral("%1..%2 of %3").arg(hit.top()).arg(hit.bottom()).arg(panel.view()->viewport()->height())));
    QTest::keyClick(field, Qt::Key_Return, Qt::ShiftModifier);
    QCOMPARE(hitLine(), QStringLiteral("line 0 hit"));

    button(QStringLiteral("清除高亮"))->click();
    QCOMPARE(count->text(), QStringLiteral("共0个"));
    QTest::keyClick(field, Qt::Key_Escape);
    QVERIFY(search->isHidden());
}

QTEST_MAIN(tst_ServerConsole)
#include "tst_serverconsole.moc"
