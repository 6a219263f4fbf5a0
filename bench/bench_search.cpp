// Console search: searchAll (highlight every hit) and one searchNext that
// wraps around, over a console holding 10000 records written through the
// panel's own console operations. Baseline in the same run: a plain
// QString::indexOf scan over the same text, the least any search can cost.
//
//   bench_search [--records N] [--runs N]
#include "benchoptions.h"
#include "setting/setupconfig.h"
#include "supervision/serversupervisor.h"
#include "ui/setup/mediaserver/mediaserversetup.h"
#include "ui/widgets/consolesearch.h"
#include "ui/widgets/ctextbrowser.h"
#include "ui/widgets/searchhighlight.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTextBlock>

#include <algorithm>
#include <cstdio>

namespace {

// A media server panel whose console the bench fills through its supervisor.
class FilledPanel : public MediaServerSetup
{
public:
    void fill(int records)
    {
        setServerParam({QStringLiteral("./MediaServer"), QString(), QString(), records + 1});
        for (int i = 0; i < records; ++i) {
            const QByteArray line = QStringLiteral("[SIP] MESSAGE Keepalive from 3402000000132%1, status OK seq %2\n")
                                        .arg(i % 1000, 7, 10, QLatin1Char('0')).arg(i).toUtf8();
            stack()->mainServer()->appendOutputRecord(line, Decoding::SystemCodec);
        }
        // One rare hit near the start, so searchNext from the end wraps.
        QTextCursor c(console->document());
        c.movePosition(QTextCursor::Start);
        c.insertText(QStringLiteral("ALARM camera offline\n"));
    }
    CTextBrowser *view() const { return console; }
    SearchHighLight *marks() const { return highlighter; }
};

double median(QVector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.isEmpty() ? 0 : v.at(v.size() / 2);
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const BenchOptions options(args);
    auto option = [&options](const QString &name, int fallback) {
        return options.value(name, QString::number(fallback)).toInt();
    };
    const int records = option(QStringLiteral("--records"), 10000);
    const int runs = option(QStringLiteral("--runs"), 7);

    QTemporaryDir appDir;
    SetupConfig::instance()->initialize(appDir.path());
    FilledPanel panel;
    panel.resize(900, 700);
    panel.show();
    panel.fill(records);
    QCoreApplication::processEvents();
    CTextBrowser *console = panel.view();
    console->flush();
    const QString plain = console->toPlainText();

    QVector<double> all, next, scanAll, scanOne;
    for (int r = 0; r < runs; ++r) {
        QElapsedTimer t;
        ConsoleSearch::clearHighLight(panel.marks());
        t.start();
        ConsoleSearch::searchAll(console, panel.marks(), QStringLiteral("Keepalive"), true);
        // Work the search leaves to the event loop counts too.
        QCoreApplication::processEvents();
        all << t.nsecsElapsed() / 1e6;

        // Stand on the only hit: the next press scans to the end, wraps and
        // finds it again at the start.
        console->moveCursor(QTextCursor::Start);
        ConsoleSearch::searchNext(console, QStringLiteral("ALARM"), false);
        t.restart();
        ConsoleSearch::searchNext(console, QStringLiteral("ALARM"), false);
        next << t.nsecsElapsed() / 1e6;
        if (console->textCursor().selectedText() != QLatin1String("ALARM")) {
            std::printf("searchNext did not wrap to the hit\n");
            return 1;
        }

        const QRegularExpression re(QStringLiteral("Keepalive"));
        t.restart();
        int hits = 0;
        for (auto it = re.globalMatch(plain); it.hasNext(); it.next())
            ++hits;
        scanAll << t.nsecsElapsed() / 1e6;
        t.restart();
        volatile int at = plain.indexOf(QStringLiteral("ALARM"), 0, Qt::CaseInsensitive);
        (void)at;
        scanOne << t.nsecsElapsed() / 1e6;
        if (hits != records) {
            std::printf("expected %d hits, got %d\n", records, hits);
            return 1;
        }
    }

    std::printf("Console search over %d records (%d lines of text), median of %d runs\n", records,
                console->document()->blockCount(), runs);
    std::printf("searchAll   %8.2f ms   (goal < 100 ms)   baseline regex scan %7.2f ms   ratio %.1f\n",
                median(all), median(scanAll), median(all) / std::max(median(scanAll), 0.001));
    std::printf("searchNext  %8.2f ms   (goal < 100 ms)   baseline indexOf    %7.2f ms   ratio %.1f\n",
                median(next), median(scanOne), median(next) / std::max(median(scanOne), 0.001));
    std::printf("repeat: %s --records %d --runs %d\n", qPrintable(app.applicationFilePath()), records, runs);
    return 0;
}
