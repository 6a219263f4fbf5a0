// Console throughput: a real child floods the media server panel's console
// (the panel's own code path: one record per chunk, same rendering, same
// clears at the record limit). Two baselines run on the same input in the
// same invocation: a plain-text log pane (QPlainTextEdit, undo off,
// appendPlainText per chunk) and the raw pipe (read and discard).
//
//   bench_console [--mb N] [--limit N]
//
// Each mode runs in its own child process so that peak RSS is its own.
#include "benchoptions.h"
#include "setting/setupconfig.h"
#include "ui/setup/mediaserver/mediaserversetup.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>

#include <cstdio>
#include <sys/resource.h>

namespace {

struct Figures
{
    double seconds = 0;
    qint64 bytes = 0;
    qint64 chunks = 0;
    double worstStallMs = 0;
    long peakRssKb = 0;
};

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

long peakRssKb()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

Figures runMode(const QString &mode, qint64 bytes, int limit)
{
    Figures f;
    const QStringList floodArgs{QStringLiteral("flood"), QString::number(bytes)};
    QTemporaryDir appDir;
    SetupConfig::instance()->initialize(appDir.path());

    StallMeter meter;
    QElapsedTimer clock;
    QEventLoop loop;

    if (mode == QLatin1String("console")) {
        MediaServerSetup panel;
        panel.setServerParam({QStringLiteral(TESSARIN_TESTHELPER), QString(), floodArgs.join(QLatin1Char(' ')), limit});
        panel.resize(900, 700);
        panel.show();
        // The panel's process has no parent to find it by; its end shows as
        // the end banner, which the console then holds near its last block.
        QTextEdit *console = panel.findChild<QTextEdit *>(QStringLiteral("ServerConsole"));
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            QTextBlock block = console->document()->lastBlock();
            for (int i = 0; i < 4 && block.isValid(); ++i, block = block.previous()) {
                if (block.text().contains(QStringLiteral("程序结束--")))
                    loop.quit();
            }
        });
        poll.start(50);
        clock.start();
        for (QPushButton *b : panel.findChildren<QPushButton *>()) {
            if (b->text() == QStringLiteral("启动"))
                b->click();
        }
        loop.exec();
        f.seconds = clock.nsecsElapsed() / 1e9;
        f.bytes = bytes;
    } else {
        QProcess process;
        QPlainTextEdit pane;
        pane.setUndoRedoEnabled(false);
        pane.setReadOnly(true);
        if (mode == QLatin1String("plain")) {
            pane.resize(900, 700);
            pane.show();
        }
        qint64 received = 0;
        QObject::connect(&process, &QProcess::readyReadStandardOutput, &loop, [&] {
            const QByteArray data = process.readAllStandardOutput();
            received += data.size();
            ++f.chunks;
            if (mode == QLatin1String("plain"))
                pane.appendPlainText(QString::fromLocal8Bit(data));
        });
        QObject::connect(&process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), &loop, &QEventLoop::quit);
        clock.start();
        process.start(QStringLiteral(TESSARIN_TESTHELPER), floodArgs);
        loop.exec();
        f.seconds = clock.nsecsElapsed() / 1e9;
        f.bytes = received;
    }
    f.worstStallMs = meter.worst;
    f.peakRssKb = peakRssKb();
    return f;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QStringList args = app.arguments();
    const BenchOptions options(args);
    auto option = [&options](const QString &name, const QString &fallback) { return options.value(name, fallback); };
    const qint64 bytes = option(QStringLiteral("--mb"), QStringLiteral("30")).toDouble() * 1024 * 1024;
    const int limit = option(QStringLiteral("--limit"), QStringLiteral("10000")).toInt();
    const QString mode = option(QStringLiteral("--mode"), QString());

    if (!mode.isEmpty()) {
        const Figures f = runMode(mode, bytes, limit);
        std::printf("%f %lld %lld %f %ld\n", f.seconds, static_cast<long long>(f.bytes),
                    static_cast<long long>(f.chunks), f.worstStallMs, f.peakRssKb);
        return 0;
    }

    std::printf("Console flood: %.1f MB of log lines, record limit %d\n", bytes / 1048576.0, limit);
    std::printf("%-8s %10s %10s %12s %14s %12s\n", "mode", "seconds", "MB/s", "lines/s", "worst stall", "peak RSS");
    double mbps[3] = {};
    const char *modes[] = {"console", "plain", "pipe"};
    for (int i = 0; i < 3; ++i) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(app.applicationFilePath(), {QStringLiteral("--mode"), QLatin1String(modes[i]),
                                                QStringLiteral("--mb"), QString::number(bytes / 1048576.0),
                                                QStringLiteral("--limit"), QString::number(limit)});
        child.waitForFinished(-1);
        const QStringList v = QString::fromLatin1(child.readAllStandardOutput()).split(QLatin1Char(' '));
        if (v.size() < 5) {
            std::printf("%-8s failed\n", modes[i]);
            return 1;
        }
        const double seconds = v[0].toDouble();
        const double mb = v[1].toDouble() / 1048576.0;
        // The flood's lines average about 120 bytes.
        const double lines = v[1].toDouble() / 120.0;
        mbps[i] = mb / seconds;
        std::printf("%-8s %10.2f %10.1f %12.0f %11.1f ms %9.1f MB\n", modes[i], seconds, mbps[i], lines / seconds,
                    v[3].toDouble(), v[4].toDouble() / 1024.0);
    }
    std::printf("ratio console/plain-pane: %.2f   console/pipe: %.2f\n", mbps[0] / mbps[1], mbps[0] / mbps[2]);
    std::printf("repeat: %s --mb %g --limit %d\n", qPrintable(app.applicationFilePath()), bytes / 1048576.0, limit);
    return 0;
}
