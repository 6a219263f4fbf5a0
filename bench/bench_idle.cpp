// Idle cost: CPU used by the real launcher (a copy with its config/ folder
// and settings of its own) over a window of N seconds with its main window
// shown, maximised, on a private Xvfb display and both status lamps pulsing,
// as a percentage of one core. The launcher's children (its watchdog, once a
// server has run) are counted with it. Baseline in the same run: a minimal
// Qt Widgets program (this executable with --baseline-window) showing an
// empty maximised window, measured the same way.
//
//   bench_idle [--seconds N] [--settle N] [--runs N] [--launcher PATH] [--screen WxHxD]
//
// The measuring window starts --settle seconds after the window is shown.
// CPU time is the sum of the threads' run time from /proc/<pid>/task/*/
// schedstat (nanoseconds); utime+stime from /proc/<pid>/stat (clock ticks)
// is printed beside it as a cross-check. The X server's own CPU time over the
// same window is shown too: it is the cost of putting the program's repaints
// on the screen, paid by another process.
#include "benchoptions.h"
#include "privatedisplay.h"

#include <QApplication>
#include <QCoreApplication>
#include <QWidget>

#include <cstdio>

namespace {

constexpr double kGoalPercent = 0.5;

struct Figures
{
    double wallMs = 0;
    double cpuMs = 0;      // schedstat
    double tickCpuMs = 0;  // utime + stime
    double serverMs = 0;   // the X server, schedstat
    double updatesPerSecond = 0;
    double megapixelsPerSecond = 0;
    double percent() const { return wallMs > 0 ? 100.0 * cpuMs / wallMs : 0; }
    double serverPercent() const { return wallMs > 0 ? 100.0 * serverMs / wallMs : 0; }
};

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--baseline-window") == 0)
        return baselineWindow(argc, argv);

    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const BenchOptions options(args);
    auto option = [&options](const QString &name, const QString &fallback) { return options.value(name, fallback); };
    const double seconds = std::max(1.0, option(QStringLiteral("--seconds"), QStringLiteral("20")).toDouble());
    const double settle = std::max(0.0, option(QStringLiteral("--settle"), QStringLiteral("2")).toDouble());
    const int runs = std::max(1, option(QStringLiteral("--runs"), QStringLiteral("1")).toInt());
    const QString launcher = option(QStringLiteral("--launcher"), QStringLiteral(TESSARIN_LAUNCHER));
    const QString screen = option(QStringLiteral("--screen"), QStringLiteral("1920x1080x24"));
    const double msPerTick = 1000.0 / double(::sysconf(_SC_CLK_TCK));

    bench::Stage stage;
    QString error;
    if (!stage.prepare(launcher, screen, &error)) {
        std::fprintf(stderr, "bench_idle: %s\n", qPrintable(error));
        return 1;
    }
    bench::PrivateDisplay &display = stage.display;
    const pid_t server = display.server.pid;

    auto measure = [&](bool isLauncher, Figures *f) {
        bench::Child child;
        if (!stage.launch(child, isLauncher, app.applicationFilePath(), {QStringLiteral("--baseline-window")})) {
            error = QStringLiteral("cannot start the program");
            return false;
        }
        bench::PrivateDisplay::Shown shown;
        bool ok = display.waitShown(child, 20000, &shown, &error);
        if (ok && isLauncher && !shown.title.contains(QLatin1String("Orvane"))) {
            error = QStringLiteral("the window shown is \"%1\", not the launcher's").arg(shown.title);
            ok = false;
        }
        if (ok) {
            display.serve(settle * 1000);
            const bench::CpuSample before = bench::cpuOf(child.pid, true);
            const bench::CpuSample serverBefore = bench::cpuOf(server, false);
            display.resetDamageCount();
            const double t0 = bench::nowMs();
            display.serve(seconds * 1000);
            const double t1 = bench::nowMs();
            const bench::CpuSample after = bench::cpuOf(child.pid, true);
            const bench::CpuSample serverAfter = bench::cpuOf(server, false);
            ok = child.running();
            if (!ok)
                error = QStringLiteral("the program ended during the measurement");
            f->wallMs = t1 - t0;
            f->cpuMs = (after.ns - before.ns) / 1e6;
            f->tickCpuMs = (after.ticks - before.ticks) * msPerTick;
            f->serverMs = (serverAfter.ns - serverBefore.ns) / 1e6;
            f->updatesPerSecond = display.damageReports / (f->wallMs / 1000);
            f->megapixelsPerSecond = display.damagePixels / 1e6 / (f->wallMs / 1000);
        }
        stage.finish(child, isLauncher);
        return ok;
    };

    auto fail = [&](const char *what) {
        std::fprintf(stderr, "bench_idle: %s: %s (logs in %s)\n", what, qPrintable(error), qPrintable(stage.keep()));
        return 1;
    };

    QVector<Figures> launcherRuns, baselineRuns;
    for (int i = 0; i < runs; ++i) {
        Figures l, b;
        if (!measure(true, &l))
            return fail("launcher");
        if (!measure(false, &b))
            return fail("baseline");
        launcherRuns.append(l);
        baselineRuns.append(b);
    }

    // With several runs, each column is the median over the runs.
    auto column = [](const QVector<Figures> &v, double (*get)(const Figures &)) {
        QVector<double> values;
        for (const Figures &f : v)
            values.append(get(f));
        return bench::median(values);
    };
    auto summary = [&](const QVector<Figures> &v) {
        Figures s;
        s.wallMs = column(v, [](const Figures &f) { return f.wallMs; });
        s.cpuMs = column(v, [](const Figures &f) { return f.cpuMs; });
        s.tickCpuMs = column(v, [](const Figures &f) { return f.tickCpuMs; });
        s.serverMs = column(v, [](const Figures &f) { return f.serverMs; });
        s.updatesPerSecond = column(v, [](const Figures &f) { return f.updatesPerSecond; });
        s.megapixelsPerSecond = column(v, [](const Figures &f) { return f.megapixelsPerSecond; });
        return s;
    };
    const Figures l = summary(launcherRuns);
    const Figures b = summary(baselineRuns);

    std::printf("Idle cost: CPU over %.0f s with the main window shown (maximised, private Xvfb %s %s),\n"
                "starting %.0f s after it was shown; %d run%s each%s\n",
                seconds, qPrintable(display.name), qPrintable(screen), settle, runs, runs > 1 ? "s" : "",
                runs > 1 ? " (medians)" : "");
    std::printf("%-9s %10s %10s %16s %14s %16s\n", "program", "CPU", "% of core", "utime+stime", "X server", "screen updates");
    auto row = [&](const char *name, const Figures &f) {
        std::printf("%-9s %7.2f ms %8.3f %% %13.0f ms %10.3f %% %8.1f/s %4.2f Mpx/s\n", name, f.cpuMs, f.percent(),
                    f.tickCpuMs, f.serverPercent(), f.updatesPerSecond, f.megapixelsPerSecond);
    };
    row("launcher", l);
    row("baseline", b);
    if (l.updatesPerSecond > 0)
        std::printf("launcher: %.0f us of CPU per rectangle updated on screen\n",
                    1000.0 * l.cpuMs / (l.updatesPerSecond * l.wallMs / 1000));
    if (b.cpuMs > 0)
        std::printf("ratio launcher/baseline: %.1f\n", l.cpuMs / b.cpuMs);
    else
        std::printf("ratio launcher/baseline: none (the baseline used no CPU at all in the window)\n");
    std::printf("goal: under %.1f %% of one core: %s (%.3f %%)\n", kGoalPercent,
                l.percent() < kGoalPercent ? "met" : "MISSED", l.percent());
    std::printf("repeat: %s --seconds %g --settle %g --runs %d --launcher %s --screen %s\n",
                qPrintable(app.applicationFilePath()), seconds, settle, runs,
                qPrintable(QFileInfo(launcher).absoluteFilePath()), qPrintable(screen));
    return 0;
}
