// Idle cost: CPU used by the real launcher (a copy with its config/ folder
// and settings of its own) over a window of N seconds, as a percentage of
// one core, on a private Xvfb display, in three cases:
//  - shown: the main window shown, maximised, both status lamps pulsing;
//  - hidden: the window closed with its title bar's close button (it hides
//    in the tray, or minimises where the desktop has none, as here);
//  - full console: shown, after the media server panel's server (the test
//    helper, started with the panel's start button) flooded its console
//    with --console-mb MiB and ended, and the launcher went quiet.
// The launcher's children (its watchdog, once a server has run) are counted
// with it. Baseline in the same run, for each case: a minimal Qt Widgets
// program (this executable with --baseline-window) showing an empty
// maximised window, measured the same way (minimised for the hidden case).
// For the shown case a second baseline: the same window with two 100 x 100
// squares repainted every 100 ms from one timer (--baseline-pulse), what any
// Qt program pulsing two lamps at the launcher's rate costs on this display.
//
//   bench_idle [--seconds N] [--settle N] [--runs N] [--launcher PATH] [--screen WxHxD]
//              [--cases shown,hidden,console] [--console-mb N]
//
// The measuring window starts --settle seconds after the case is set up.
// CPU time is the sum of the threads' run time from /proc/<pid>/task/*/
// schedstat (nanoseconds); utime+stime from /proc/<pid>/stat (clock ticks)
// is printed beside it as a cross-check. The X server's own CPU time over the
// same window is shown too: it is the cost of putting the program's repaints
// on the screen, paid by another process.
#include "benchoptions.h"
#include "privatedisplay.h"

#include <QApplication>
#include <QCoreApplication>
#include <QPainter>
#include <QSettings>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace {

constexpr double kShownGoalPercent = 0.3;
// Below this the empty window used no CPU worth dividing by.
constexpr double kRatioFloorPercent = 0.01;

struct Figures
{
    double wallMs = 0;
    double cpuMs = 0;      // schedstat
    double tickCpuMs = 0;  // utime + stime
    double serverMs = 0;   // the X server, schedstat
    double updatesPerSecond = 0;
    double megapixelsPerSecond = 0;
    double fillSeconds = 0; // full console: time to fill it and go quiet
    double percent() const { return wallMs > 0 ? 100.0 * cpuMs / wallMs : 0; }
    double serverPercent() const { return wallMs > 0 ? 100.0 * serverMs / wallMs : 0; }
};

enum class Case { Shown, Hidden, Console };

const char *caseName(Case c)
{
    switch (c) {
    case Case::Shown: return "shown";
    case Case::Hidden: return "hidden";
    case Case::Console: return "full console";
    }
    return "";
}

// Two opaque 100 x 100 squares that change on every tick of one 100 ms timer.
class PulseSquare : public QWidget
{
public:
    explicit PulseSquare(QWidget *parent)
        : QWidget(parent)
    {
        setAttribute(Qt::WA_OpaquePaintEvent);
    }
    void tick()
    {
        dark = !dark;
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override { QPainter(this).fillRect(rect(), dark ? QColor(0, 120, 80) : QColor(0, 180, 125)); }

private:
    bool dark = false;
};

int baselinePulse(int argc, char **argv)
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("baseline"));
    auto *first = new PulseSquare(&window);
    first->setGeometry(40, 40, 100, 100);
    auto *second = new PulseSquare(&window);
    second->setGeometry(1000, 40, 100, 100);
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [first, second] {
        first->tick();
        second->tick();
    });
    timer.start(100);
    window.showMaximized();
    return app.exec();
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && std::strcmp(argv[1], "--baseline-window") == 0)
        return baselineWindow(argc, argv);
    if (argc > 1 && std::strcmp(argv[1], "--baseline-pulse") == 0)
        return baselinePulse(argc, argv);

    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const BenchOptions options(args);
    auto option = [&options](const QString &name, const QString &fallback) { return options.value(name, fallback); };
    const double seconds = std::max(1.0, option(QStringLiteral("--seconds"), QStringLiteral("20")).toDouble());
    const double settle = std::max(0.0, option(QStringLiteral("--settle"), QStringLiteral("2")).toDouble());
    const int runs = std::max(1, option(QStringLiteral("--runs"), QStringLiteral("1")).toInt());
    const QString launcher = option(QStringLiteral("--launcher"), QStringLiteral(TESSARIN_LAUNCHER));
    const QString screen = option(QStringLiteral("--screen"), QStringLiteral("1920x1080x24"));
    const QString caseList = option(QStringLiteral("--cases"), QStringLiteral("shown,hidden,console"));
    const double consoleMb = std::max(0.1, option(QStringLiteral("--console-mb"), QStringLiteral("16")).toDouble());
    const double msPerTick = 1000.0 / double(::sysconf(_SC_CLK_TCK));

    QVector<Case> cases;
    for (const QString &name : caseList.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        if (name == QLatin1String("shown"))
            cases.append(Case::Shown);
        else if (name == QLatin1String("hidden"))
            cases.append(Case::Hidden);
        else if (name == QLatin1String("console"))
            cases.append(Case::Console);
        else {
            std::fprintf(stderr, "bench_idle: unknown case \"%s\" (shown, hidden, console)\n", qPrintable(name));
            return 1;
        }
    }

    bench::Stage stage;
    QString error;
    if (!stage.prepare(launcher, screen, &error)) {
        std::fprintf(stderr, "bench_idle: %s\n", qPrintable(error));
        return 1;
    }
    bench::PrivateDisplay &display = stage.display;
    const pid_t server = display.server.pid;
    const QString settingsFile = stage.appDir + QStringLiteral("/config/SetupConfig.ini");
    const QString helper = QFileInfo(QStringLiteral(TESSARIN_TESTHELPER)).canonicalFilePath();

    // The media server panel starts the helper, which floods and ends; the
    // record limit is set out of reach so that only the console's own bound
    // (if it has one) limits what it keeps.
    auto writeConsoleSettings = [&] {
        QSettings ini(settingsFile, QSettings::IniFormat);
        ini.setValue(QStringLiteral("MediaServer/ProgramPath"), helper);
        ini.setValue(QStringLiteral("MediaServer/WorkPath"), QString());
        ini.setValue(QStringLiteral("MediaServer/Param"),
                     QStringLiteral("flood %1").arg(qint64(consoleMb * 1024 * 1024)));
        ini.setValue(QStringLiteral("MediaServer/RecordCount"), 2000000000);
    };
    auto helperRunning = [&helper](pid_t launcherPid) {
        for (pid_t c : bench::childrenOf(launcherPid)) {
            if (QFileInfo(QStringLiteral("/proc/%1/exe").arg(c)).canonicalFilePath() == helper)
                return true;
        }
        return false;
    };
    // Presses the focused start button ("启动", first in the window's tab
    // order) and serves the display until the helper has come and gone and
    // the launcher has drawn what it read.
    auto fillConsole = [&](bench::Child &child, xcb_window_t window) {
        if (!display.typeKey(window, 0x20 /* space */)) {
            error = QStringLiteral("no space key on the display");
            return false;
        }
        double deadline = bench::nowMs() + 20000;
        while (!helperRunning(child.pid)) {
            if (bench::nowMs() > deadline || !child.running()) {
                error = QStringLiteral("the start button did not start the media server");
                return false;
            }
            display.serve(20);
        }
        deadline = bench::nowMs() + 900000;
        while (helperRunning(child.pid)) {
            if (bench::nowMs() > deadline || !child.running()) {
                error = QStringLiteral("the flood did not end within 15 minutes");
                return false;
            }
            display.serve(50);
        }
        // Quiet: under 2 ms of CPU in half a second, twice in a row.
        for (int quiet = 0; quiet < 2;) {
            const bench::CpuSample before = bench::cpuOf(child.pid, true);
            display.serve(500);
            quiet = (bench::cpuOf(child.pid, true).ns - before.ns) < 2000000 ? quiet + 1 : 0;
            if (bench::nowMs() > deadline) {
                error = QStringLiteral("the launcher did not go quiet after the flood");
                return false;
            }
        }
        return true;
    };

    auto measure = [&](bool isLauncher, Case c, Figures *f, const char *baseline = "--baseline-window") {
        if (isLauncher) {
            QFile::remove(settingsFile);
            if (c == Case::Console)
                writeConsoleSettings();
        }
        bench::Child child;
        if (!stage.launch(child, isLauncher, app.applicationFilePath(), {QString::fromLatin1(baseline)})) {
            error = QStringLiteral("cannot start the program");
            return false;
        }
        bench::PrivateDisplay::Shown shown;
        bool ok = display.waitShown(child, 20000, &shown, &error);
        if (ok && isLauncher && !shown.title.contains(QLatin1String("Orvane"))) {
            error = QStringLiteral("the window shown is \"%1\", not the launcher's").arg(shown.title);
            ok = false;
        }
        if (ok && c == Case::Hidden) {
            if (isLauncher)
                display.requestClose(shown.window);
            else
                display.iconify(shown.window);
            ok = display.waitUnmapped(shown.window, 10000);
            if (!ok)
                error = QStringLiteral("the window did not go away");
        }
        if (ok && c == Case::Console && isLauncher) {
            const double t0 = bench::nowMs();
            ok = fillConsole(child, shown.window);
            f->fillSeconds = (bench::nowMs() - t0) / 1000;
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

    auto fail = [&](Case c, const char *what) {
        std::fprintf(stderr, "bench_idle: %s, %s: %s (logs in %s)\n", caseName(c), what, qPrintable(error),
                     qPrintable(stage.keep()));
        return 1;
    };

    // Runs interleave the cases, so that a disturbance on the machine spreads
    // over all of them rather than spoiling one.
    QHash<int, QVector<Figures>> launcherRuns, baselineRuns;
    QVector<Figures> pulseRuns;
    for (int i = 0; i < runs; ++i) {
        for (Case c : cases) {
            Figures l, b;
            if (!measure(true, c, &l))
                return fail(c, "launcher");
            if (!measure(false, c, &b))
                return fail(c, "baseline");
            launcherRuns[int(c)].append(l);
            baselineRuns[int(c)].append(b);
            if (c == Case::Shown) {
                Figures p;
                if (!measure(false, c, &p, "--baseline-pulse"))
                    return fail(c, "pulse baseline");
                pulseRuns.append(p);
            }
        }
    }

    auto values = [](const QVector<Figures> &v, double (*get)(const Figures &)) {
        QVector<double> out;
        for (const Figures &f : v)
            out.append(get(f));
        return out;
    };
    auto percent = [](const Figures &f) { return f.percent(); };
    auto median = [&](const QVector<Figures> &v, double (*get)(const Figures &)) {
        return bench::median(values(v, get));
    };

    std::printf("Idle cost: CPU over %.0f s, starting %.0f s after each case was set up (private Xvfb %s %s);\n"
                "%d run%s of each case, each beside an empty Qt window of the same size (baseline).\n"
                "Figures are %% of one core, min / median / max over the runs; other columns are medians.\n\n",
                seconds, settle, qPrintable(display.name), qPrintable(screen), runs, runs > 1 ? "s" : "");
    std::printf("%-13s %-26s %-26s %10s %8s %10s %16s %10s\n", "case", "launcher %", "baseline %", "difference",
                "ratio", "X server", "screen updates", "utime+stime");
    QHash<int, double> medians;
    for (Case c : cases) {
        const QVector<Figures> &l = launcherRuns[int(c)];
        const QVector<Figures> &b = baselineRuns[int(c)];
        const QVector<double> lp = values(l, percent), bp = values(b, percent);
        const double lm = bench::median(lp), bm = bench::median(bp);
        medians[int(c)] = lm;
        const QString ratio = bm >= kRatioFloorPercent ? QString::number(lm / bm, 'f', 1) : QStringLiteral("n/a");
        std::printf("%-13s %6.3f / %6.3f / %6.3f    %6.3f / %6.3f / %6.3f    %8.3f %8s %8.3f %% %7.1f/s %5.2f Mpx/s %6.0f ms\n",
                    caseName(c), bench::minOf(lp), lm, bench::maxOf(lp), bench::minOf(bp), bm, bench::maxOf(bp),
                    lm - bm, qPrintable(ratio), median(l, [](const Figures &f) { return f.serverPercent(); }),
                    median(l, [](const Figures &f) { return f.updatesPerSecond; }),
                    median(l, [](const Figures &f) { return f.megapixelsPerSecond; }),
                    median(l, [](const Figures &f) { return f.tickCpuMs; }));
    }
    std::printf("(ratio n/a: the empty window used under %.2f %% of a core, too little to divide by; "
                "the difference is the figure then)\n\n",
                kRatioFloorPercent);

    if (launcherRuns.contains(int(Case::Shown))) {
        const QVector<Figures> &l = launcherRuns[int(Case::Shown)];
        const double updates = median(l, [](const Figures &f) { return f.updatesPerSecond; });
        if (updates > 0)
            std::printf("shown: %.0f us of launcher CPU per rectangle updated on screen\n",
                        1000.0 * median(l, [](const Figures &f) { return f.cpuMs; }) /
                            (updates * median(l, [](const Figures &f) { return f.wallMs; }) / 1000));
        const QVector<double> pp = values(pulseRuns, percent);
        std::printf("shown: two 100x100 squares repainted every 100 ms in an empty window: %.3f / %.3f / %.3f %%, "
                    "%.1f screen updates/s; launcher / that %.2f\n",
                    bench::minOf(pp), bench::median(pp), bench::maxOf(pp),
                    median(pulseRuns, [](const Figures &f) { return f.updatesPerSecond; }),
                    medians[int(Case::Shown)] / std::max(bench::median(pp), kRatioFloorPercent));
        std::printf("goal shown: under %.1f %% of one core: %s (median %.3f %%)\n", kShownGoalPercent,
                    medians[int(Case::Shown)] < kShownGoalPercent ? "met" : "MISSED", medians[int(Case::Shown)]);
    }
    if (launcherRuns.contains(int(Case::Hidden))) {
        const double updates = median(launcherRuns[int(Case::Hidden)], [](const Figures &f) { return f.updatesPerSecond; });
        const double hidden = medians[int(Case::Hidden)];
        std::printf("goal hidden: no screen updates and under %.2f %% of one core: %s (%.1f updates/s, %.3f %%)\n",
                    kRatioFloorPercent, updates == 0 && hidden < kRatioFloorPercent ? "met" : "MISSED", updates, hidden);
    }
    if (launcherRuns.contains(int(Case::Console))) {
        std::printf("full console: %.0f MiB flooded; filling it and going quiet took %.1f s (median)\n", consoleMb,
                    median(launcherRuns[int(Case::Console)], [](const Figures &f) { return f.fillSeconds; }));
        if (medians.contains(int(Case::Shown)))
            std::printf("full console minus shown: %+.3f %% of a core (medians; the shown runs spread over %.3f %%)\n",
                        medians[int(Case::Console)] - medians[int(Case::Shown)],
                        bench::maxOf(values(launcherRuns[int(Case::Shown)], percent)) -
                            bench::minOf(values(launcherRuns[int(Case::Shown)], percent)));
    }
    std::printf("repeat: %s --seconds %g --settle %g --runs %d --launcher %s --screen %s --cases %s --console-mb %g\n",
                qPrintable(app.applicationFilePath()), seconds, settle, runs,
                qPrintable(QFileInfo(launcher).absoluteFilePath()), qPrintable(screen), qPrintable(caseList), consoleMb);
    return 0;
}
