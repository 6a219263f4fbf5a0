#include "supervision/ansitext.h"
#include "ui/widgets/consolepalette.h"

#include <QTest>

// Escape sequences as servers' loggers write them.
class tst_AnsiText : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
    void coloursAreLegible();
};

namespace {
// "text|colour|bold" per run; colour -1 is the default, else the 256-colour
// index, or "legible" for the true colour 1;2;3 lightened for the console.
using Runs = QStringList;
}

void tst_AnsiText::parse_data()
{
    QTest::addColumn<QString>("in");
    QTest::addColumn<QString>("text");
    QTest::addColumn<Runs>("runs");

    QTest::newRow("plain") << "INFO started\n" << "INFO started\n" << Runs{"INFO started\n|-1|0"};
    QTest::newRow("logback level") << "\x1b[34mINFO\x1b[0;39m ok" << "INFO ok" << Runs{"INFO|4|0", " ok|-1|0"};
    QTest::newRow("bold bright") << "\x1b[1;91mERR\x1b[22m x\x1b[39m" << "ERR x" << Runs{"ERR|9|1", " x|9|0"};
    QTest::newRow("256 colours") << "\x1b[38;5;208mwarm\x1b[m" << "warm" << Runs{"warm|208|0"};
    QTest::newRow("background skipped") << "\x1b[48;5;1;32mg\x1b[0m" << "g" << Runs{"g|2|0"};
    QTest::newRow("true colour, made legible") << "\x1b[38;2;1;2;3mdark" << "dark" << Runs{"dark|legible|0"};
    QTest::newRow("cursor and erase") << "\x1b[2K\x1b[1Gline\x1b[?25l" << "line" << Runs{"line|-1|0"};
    QTest::newRow("window title") << "\x1b]0;wvp\aa\x1b]2;t\x1b\\b" << "ab" << Runs{"ab|-1|0"};
    QTest::newRow("charset, bell, backspace") << "\x1b(Bx\a\by\tz\r\n" << "xy\tz\r\n" << Runs{"xy\tz\r\n|-1|0"};
    QTest::newRow("cut off at the end") << "done\x1b[3" << "done" << Runs{"done|-1|0"};
    QTest::newRow("lone escape") << "done\x1b" << "done" << Runs{"done|-1|0"};
}

void tst_AnsiText::parse()
{
    QFETCH(QString, in);
    QFETCH(QString, text);
    QFETCH(Runs, runs);

    QVector<AnsiText::Run> found;
    QCOMPARE(AnsiText::Parser().feed(in, &found), text);
    Runs seen;
    for (const AnsiText::Run &r : found) {
        const QColor shown = ConsolePalette::of(r.color);
        QString colour = QStringLiteral("-1");
        for (int i = 0; i < 256 && shown.isValid(); ++i) {
            if (ConsolePalette::ansi(i) == shown) {
                colour = QString::number(i);
                break;
            }
        }
        if (shown.isValid() && colour == QLatin1String("-1"))
            colour = shown == ConsolePalette::legible(QColor(1, 2, 3)) ? QStringLiteral("legible") : shown.name();
        seen << QStringLiteral("%1|%2|%3").arg(text.mid(r.start, r.length), colour).arg(r.bold ? 1 : 0);
    }
    QCOMPARE(seen, runs);
}

// Whatever colour a server picks, the console shows it at 4.5:1 or better.
void tst_AnsiText::coloursAreLegible()
{
    const QColor ground = ConsolePalette::background();
    for (int i = 0; i < 256; ++i)
        QVERIFY2(ConsolePalette::contrast(ConsolePalette::ansi(i), ground) >= 4.5, qPrintable(QString::number(i)));
    for (const QColor &c : {QColor(0, 0, 0), QColor(0, 0, 255), QColor(0x1F, 0x26, 0x2D), QColor(128, 0, 0)})
        QVERIFY2(ConsolePalette::contrast(ConsolePalette::legible(c), ground) >= 4.5, qPrintable(c.name()));
    QCOMPARE(ConsolePalette::legible(QColor(255, 255, 0)), QColor(255, 255, 0));   // already legible: unchanged
}

QTEST_MAIN(tst_AnsiText)
#include "tst_ansitext.moc"
