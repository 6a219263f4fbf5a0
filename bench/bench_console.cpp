// The server console under load, through the media server panel's own code
// path (a real child writes, the panel's record operations show it), against
// a plain-text log pane on the same input in the same run: a QPlainTextEdit,
// undo off, one appendPlainText per chunk read.
//
//   bench_console [--mb 30] [--rate 5000] [--seconds 20] [--endless-mb 1024]
//
//  flood    a child writes --mb of log lines in 64 KiB writes: MB/s, worst
//           event-loop stall. "console" is the console as shipped (it skips
//           what it could not show before it would be trimmed anyway);
//           "unbounded" lifts its size bound so that it shows everything.
//  logger   --rate lines/s of 150-250 bytes, one to four lines a write, for
//           --seconds: CPU time of the whole process, worst stall.
//  full     a console at its size bound: window resize, "搜索所有" and
//           "清除高亮" including the repaint; RSS per character held.
//  endless  --endless-mb through the console: peak RSS against the RSS at
//           the bound, then the time to quit (panel destroyed, child killed).
//
// Each mode runs in its own child process so that its RSS is its own.
#include "benchoptions.h"
#include "setting/setupconfig.h"
#include "supervision/consolefeed.h"
#include "supervision/serverlog.h"
#include "ui/setup/mediaserver/mediaserversetup.h"
#include "ui/widgets/ctextbrowser.h"
#include "ui/widgets/searchpanel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTimer>

#include <cstdio>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using Figures = QMap<QString, double>;

// Worst lateness of a 10 ms timer: how long the event loop was blocked.
class StallMeter : public QObject
{
public:
    StallMeter()
    {
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(10);
        connect(&timer, &QTimer::timeout, this, [this] {
            const double late = clock.nsecsElapsed() / 1e6 - 10.0;
            if (late > worst)
                worst = late;
            clock.restart();
        });
        clock.start();
        timer.start();
    }
    double worst = 0;

private:
    QTimer timer;
    QElapsedTimer clock;
};

double peakRssMb()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

double rssMb()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields.at(1).toDouble() * sysconf(_SC_PAGESIZE) / 1048576.0 : 0;
}

double cpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The media server panel running the test helper with args, shown as an
// operator would see it.
struct ConsoleRun
{
    std::unique_ptr<MediaServerSetup> panel{new MediaServerSetup};
    CTextBrowser *console = nullptr;

    explicit ConsoleRun(const QString &args)
    {
        panel->setServerParam({QStringLiteral(TESSARIN_TESTHELPER), QString(), args, 10000});
        panel->resize(900, 700);
        panel->show();
        console = panel->findChild<CTextBrowser *>(QStringLiteral("ServerConsole"));
    }
    void start()
    {
        for (QPushButton *b : panel->findChildren<QPushButton *>()) {
            if (b->text() == QStringLiteral("启动"))
                b->click();
        }
    }
    // Runs the event loop until one of the console's last lines holds text.
    void waitFor(const QString &text)
    {
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            QTextBlock block = console->document()->lastBlock();
            for (int i = 0; i < 6 && block.isValid(); ++i, block = block.previous()) {
                if (block.text().contains(text))
                    loop.quit();
            }
        });
        poll.start(20);
        loop.exec();
    }
};

const QString endBanner = QStringLiteral("程序结束--");

// The pane reading the helper's output itself.
double runPane(const QStringList &args, QPlainTextEdit &pane)
{
    QProcess process;
    QEventLoop loop;
    qint64 received = 0;
    QObject::connect(&process, &QProcess::readyReadStandardOutput, &loop, [&] {
        const QByteArray data = process.readAllStandardOutput();
        received += data.size();
        pane.appendPlainText(QString::fromLocal8Bit(data));
    });
    QObject::connect(&process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), &loop, &QEventLoop::quit);
    process.start(QStringLiteral(TESSARIN_TESTHELPER), args);
    loop.exec();
    return received;
}

std::unique_ptr<QPlainTextEdit> shownPane()
{
    std::unique_ptr<QPlainTextEdit> pane(new QPlainTextEdit);
    pane->setUndoRedoEnabled(false);
    pane->setReadOnly(true);
    pane->resize(900, 700);
    pane->show();
    return pane;
}

Figures flood(const QString &mode, qint64 bytes)
{
    Figures f;
    const QString args = QStringLiteral("flood %1").arg(bytes);
    StallMeter meter;
    QElapsedTimer clock;
    if (mode == QLatin1String("pane")) {
        auto pane = shownPane();
        clock.start();
        runPane(args.split(QLatin1Char(' ')), *pane);
    } else {
        ConsoleRun run(args);
        if (mode == QLatin1String("unbounded"))
            run.console->setMaximumCharacters(int(qMin<qint64>(bytes * 2, 1 << 30)));
        clock.start();
        run.start();
        run.waitFor(endBanner);
    }
    f[QStringLiteral("seconds")] = clock.nsecsElapsed() / 1e9;
    f[QStringLiteral("mbps")] = bytes / 1048576.0 / f[QStringLiteral("seconds")];
    f[QStringLiteral("stall")] = meter.worst;
    f[QStringLiteral("peak")] = peakRssMb();
    return f;
}

Figures logger(const QString &mode, int rate, int seconds)
{
    Figures f;
    const QString args = QStringLiteral("logger %1 %2").arg(rate).arg(seconds);
    StallMeter meter;
    double cpu = 0;
    if (mode == QLatin1String("pane")) {
        auto pane = shownPane();
        cpu = cpuSeconds();
        runPane(args.split(QLatin1Char(' ')), *pane);
    } else {
        ConsoleRun run(args);
        cpu = cpuSeconds();
        run.start();
        run.waitFor(endBanner);
    }
    f[QStringLiteral("cpu")] = cpuSeconds() - cpu;
    f[QStringLiteral("stall")] = meter.worst;
    return f;
}

// Wall time of one action and the repaint it causes.
template <typename Action>
double timed(QWidget *painted, Action action)
{
    QElapsedTimer clock;
    clock.start();
    action();
    QApplication::processEvents();
    painted->repaint();
    return clock.nsecsElapsed() / 1e6;
}

Figures full(const QString &mode, qint64 chars)
{
    Figures f;
    QWidget *window = nullptr;
    QPlainTextEdit *view = nullptr;
    std::unique_ptr<ConsoleRun> run;
    std::unique_ptr<QPlainTextEdit> pane;
    // The empty window, shown and painted, is the baseline of what the text
    // costs.
    auto settledRss = [] {
        for (int i = 0; i < 5; ++i)
            QApplication::processEvents();
        return rssMb();
    };
    double before = 0;
    if (mode == QLatin1String("pane")) {
        pane = shownPane();
        before = settledRss();
        runPane({QStringLiteral("flood"), QString::number(chars)}, *pane);
        window = view = pane.get();
    } else {
        // Ten times the bound: the console is as full as it gets and has
        // dropped old text many times over, as after a long day of logging.
        run.reset(new ConsoleRun(QStringLiteral("flood %1").arg(10 * CTextBrowser::DefaultMaximumCharacters)));
        before = settledRss();
        run->start();
        run->waitFor(endBanner);
        // Memory freed by the flood is handed back within a second of the
        // console catching up; measure the console as it is then.
        QEventLoop settle;
        QTimer::singleShot(1500, &settle, &QEventLoop::quit);
        settle.exec();
        window = run->panel.get();
        view = run->console;
    }
    QApplication::processEvents();
    f[QStringLiteral("chars")] = view->document()->characterCount();
    f[QStringLiteral("rss_per_char")] = (rssMb() - before) * 1048576.0 / f[QStringLiteral("chars")];
    f[QStringLiteral("rss")] = rssMb();

    double resize = 0;
    for (const QSize &size : {QSize(600, 500), QSize(1200, 900), QSize(900, 700)})
        resize = qMax(resize, timed(window, [&] { window->resize(size); }));
    f[QStringLiteral("resize")] = resize;
    if (run) {
        auto *search = run->panel->findChild<SearchPanel *>();
        f[QStringLiteral("search_all")] = timed(window, [&] { emit search->all(QStringLiteral("REGISTER"), false); });
        f[QStringLiteral("clear_marks")] = timed(window, [&] { emit search->clear(); });
        view->moveCursor(QTextCursor::End);
        f[QStringLiteral("search_next")] = timed(window, [&] { emit search->next(QStringLiteral("REGISTER"), false); });
    }
    return f;
}

Figures endless(qint64 bytes)
{
    Figures f;
    auto run = std::make_unique<ConsoleRun>(QStringLiteral("flood %1 out FLOOD-END\\n forever").arg(bytes));
    QElapsedTimer clock;
    StallMeter meter;
    clock.start();
    run->start();
    run->waitFor(QStringLiteral("FLOOD-END"));
    f[QStringLiteral("seconds")] = clock.nsecsElapsed() / 1e9;
    f[QStringLiteral("stall")] = meter.worst;
    f[QStringLiteral("peak")] = peakRssMb();
    // Every byte of the flood reached the log file (which rotates: its
    // count, not its files).
    ServerLog *log = run->panel->stack()->feed()->log();
    log->flush();
    f[QStringLiteral("log_mb")] = log->bytesWritten() / 1048576.0;
    f[QStringLiteral("log_lost")] = log->linesLost();
    clock.restart();
    run.reset();   // what quitting does: the panel goes, its server is killed
    QApplication::processEvents();
    f[QStringLiteral("quit")] = clock.nsecsElapsed() / 1e6;
    return f;
}

// The baseline of reading: a process whose output is only drained, in a
// bare event loop.
Figures drain(qint64 bytes)
{
    Figures f;
    QProcess process;
    QEventLoop loop;
    qint64 received = 0;
    QObject::connect(&process, &QProcess::readyReadStandardOutput, &loop,
                     [&] { received += process.readAllStandardOutput().size(); });
    QObject::connect(&process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), &loop, &QEventLoop::quit);
    QElapsedTimer clock;
    clock.start();
    process.start(QStringLiteral(TESSARIN_TESTHELPER), {QStringLiteral("flood"), QString::number(bytes)});
    loop.exec();
    f[QStringLiteral("seconds")] = clock.nsecsElapsed() / 1e9;
    f[QStringLiteral("received")] = received;
    return f;
}

Figures runChild(const QString &program, const QStringList &args)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(program, args);
    child.waitForFinished(-1);
    Figures f;
    for (const QByteArray &line : child.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> kv = line.split(' ');
        if (kv.size() == 2)
            f[QString::fromLatin1(kv.at(0))] = kv.at(1).toDouble();
    }
    if (f.isEmpty()) {
        std::printf("mode %s failed\n", qPrintable(args.join(QLatin1Char(' '))));
        std::exit(1);
    }
    return f;
}

const char *verdict(bool met) { return met ? "met" : "MISSED"; }

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const BenchOptions options(app.arguments());
    const double mb = options.value(QStringLiteral("--mb"), QStringLiteral("30")).toDouble();
    const qint64 bytes = qint64(mb * 1048576);
    const int rate = options.value(QStringLiteral("--rate"), QStringLiteral("5000")).toInt();
    const int seconds = options.value(QStringLiteral("--seconds"), QStringLiteral("20")).toInt();
    const double endlessMb = options.value(QStringLiteral("--endless-mb"), QStringLiteral("1024")).toDouble();
    const QString mode = options.value(QStringLiteral("--mode"), QString());
    const QString variant = options.value(QStringLiteral("--variant"), QString());

    if (!mode.isEmpty()) {
        QTemporaryDir appDir;
        SetupConfig::instance()->initialize(appDir.path());
        Figures f;
        if (mode == QLatin1String("flood"))
            f = flood(variant, bytes);
        else if (mode == QLatin1String("logger"))
            f = logger(variant, rate, seconds);
        else if (mode == QLatin1String("full"))
            f = full(variant, options.value(QStringLiteral("--chars"), QStringLiteral("0")).toLongLong());
        else if (mode == QLatin1String("drain"))
            f = drain(qint64(endlessMb * 1048576));
        else
            f = endless(qint64(endlessMb * 1048576));
        for (auto it = f.cbegin(); it != f.cend(); ++it)
            std::printf("%s %f\n", qPrintable(it.key()), it.value());
        return 0;
    }

    const QString self = app.applicationFilePath();
    auto child = [&](const QString &m, const QString &v, const QStringList &extra = {}) {
        return runChild(self, QStringList{QStringLiteral("--mode"), m, QStringLiteral("--variant"), v} + extra);
    };
    const QStringList sizes{QStringLiteral("--mb"), QString::number(mb), QStringLiteral("--rate"),
                            QString::number(rate), QStringLiteral("--seconds"), QString::number(seconds)};

    std::printf("Flood: %.0f MB of log lines in 64 KiB writes\n", mb);
    std::printf("  %-10s %8s %9s %12s %10s\n", "", "seconds", "MB/s", "worst stall", "peak RSS");
    QMap<QString, Figures> flood;
    for (const char *v : {"console", "unbounded", "pane"}) {
        flood[QLatin1String(v)] = child(QStringLiteral("flood"), QLatin1String(v), sizes);
        const Figures &f = flood[QLatin1String(v)];
        std::printf("  %-10s %8.2f %9.1f %9.1f ms %7.0f MB\n", v, f["seconds"], f["mbps"], f["stall"], f["peak"]);
    }
    const double floodRatio = flood["console"]["mbps"] / flood["pane"]["mbps"];
    const double engineRatio = flood["unbounded"]["mbps"] / flood["pane"]["mbps"];
    std::printf("  ratio console/pane %.2f (goal >= 1.2: %s), unbounded/pane %.2f; console stall %s\n", floodRatio,
                verdict(floodRatio >= 1.2), engineRatio, verdict(flood["console"]["stall"] <= 50));

    std::printf("Logger: %d lines/s of 150-250 bytes for %d s\n", rate, seconds);
    const Figures logConsole = child(QStringLiteral("logger"), QStringLiteral("console"), sizes);
    const Figures logPane = child(QStringLiteral("logger"), QStringLiteral("pane"), sizes);
    std::printf("  console CPU %.2f s, worst stall %.1f ms; pane CPU %.2f s, worst stall %.1f ms\n", logConsole["cpu"],
                logConsole["stall"], logPane["cpu"], logPane["stall"]);
    const double cpuRatio = logConsole["cpu"] / logPane["cpu"];
    std::printf("  ratio console/pane CPU %.2f (goal <= 0.5: %s); console stall %s\n", cpuRatio, verdict(cpuRatio <= 0.5),
                verdict(logConsole["stall"] <= 50));

    const Figures fullConsole = child(QStringLiteral("full"), QStringLiteral("console"), sizes);
    const Figures fullPane = child(QStringLiteral("full"), QStringLiteral("pane"),
                                   sizes + QStringList{QStringLiteral("--chars"), QString::number(qint64(fullConsole["chars"]))});
    std::printf("Full console: %.0f characters held (bound %d)\n", fullConsole["chars"], CTextBrowser::DefaultMaximumCharacters);
    std::printf("  resize %.1f ms, 搜索所有 %.1f ms, 清除高亮 %.1f ms, 下一个 from the end %.1f ms (goal < 100: %s)\n",
                fullConsole["resize"], fullConsole["search_all"], fullConsole["clear_marks"], fullConsole["search_next"],
                verdict(qMax(fullConsole["resize"], qMax(fullConsole["search_all"], fullConsole["clear_marks"])) < 100));
    std::printf("  pane holding the same text: resize %.1f ms\n", fullPane["resize"]);
    std::printf("  RSS per character held: console %.1f B, pane %.1f B, ratio %.2f (goal <= 1: %s)\n",
                fullConsole["rss_per_char"], fullPane["rss_per_char"], fullConsole["rss_per_char"] / fullPane["rss_per_char"],
                verdict(fullConsole["rss_per_char"] <= fullPane["rss_per_char"]));

    const Figures end = child(QStringLiteral("endless"), QStringLiteral("console"),
                              sizes + QStringList{QStringLiteral("--endless-mb"), QString::number(endlessMb)});
    std::printf("Endless flood: %.0f MB in %.1f s (%.0f MB/s)\n", endlessMb, end["seconds"], endlessMb / end["seconds"]);
    std::printf("  peak RSS %.0f MB, RSS at the bound %.0f MB, difference %.0f MB (goal < 64: %s)\n", end["peak"],
                fullConsole["rss"], end["peak"] - fullConsole["rss"], verdict(end["peak"] - fullConsole["rss"] < 64));
    std::printf("  quit %.1f ms (goal < 1000: %s)\n", end["quit"], verdict(end["quit"] < 1000));
    const Figures drained = child(QStringLiteral("drain"), QStringLiteral("none"),
                                  sizes + QStringList{QStringLiteral("--endless-mb"), QString::number(endlessMb)});
    const double readRate = endlessMb / end["seconds"];
    const double drainRate = endlessMb / drained["seconds"];
    std::printf("Reading a flood: console %.0f MB/s, a reader that only drains the pipe %.0f MB/s, ratio %.2f "
                "(goal >= 100 MB/s: %s)\n",
                readRate, drainRate, readRate / drainRate, verdict(readRate >= 100));
    std::printf("  log file got %.0f MB of the %.0f MB, %.0f lines lost (goal: all, none: %s); "
                "worst GUI stall %.1f ms (goal <= 16: %s)\n",
                end["log_mb"], endlessMb, end["log_lost"], verdict(end["log_mb"] >= endlessMb && end["log_lost"] == 0),
                end["stall"], verdict(end["stall"] <= 16));
    std::printf("repeat: %s --mb %g --rate %d --seconds %d --endless-mb %g\n", qPrintable(self), mb, rate, seconds, endlessMb);
    return 0;
}
