// Start-up time: from process start to the main window shown, for the real
// launcher executable (a copy with its config/ folder and settings of its
// own) on a private Xvfb display. Baseline in the same run: a minimal Qt
// Widgets program (this executable with --baseline-window) that shows an
// empty maximised window, measured the same way. Runs alternate between the
// two; the first start of the copy, which writes its settings file, is
// reported apart and not counted.
//
//   bench_startup [--runs N] [--launcher PATH] [--screen WxHxD] [--shots DIR]
//
// --shots saves what the screen showed at the moment each run counted as
// shown, and prints every run.
//
// How "shown" is seen from outside the program: see privatedisplay.h.
#include "benchoptions.h"
#include "privatedisplay.h"

#include <QApplication>
#include <QCoreApplication>
#include <QWidget>

#include <cstdio>

namespace {

constexpr double kGoalMs = 300;

struct Run
{
    double mappedMs = -1;
    double shownMs = -1;
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
    const int runs = std::max(1, option(QStringLiteral("--runs"), QStringLiteral("9")).toInt());
    const QString launcher = option(QStringLiteral("--launcher"), QStringLiteral(TESSARIN_LAUNCHER));
    const QString screen = option(QStringLiteral("--screen"), QStringLiteral("1920x1080x24"));
    const QString shots = option(QStringLiteral("--shots"), QString());
    if (!shots.isEmpty())
        QDir().mkpath(shots);
    int shotNumber = 0;

    bench::Stage stage;
    QString error;
    if (!stage.prepare(launcher, screen, &error)) {
        std::fprintf(stderr, "bench_startup: %s\n", qPrintable(error));
        return 1;
    }
    bench::PrivateDisplay &display = stage.display;

    auto measure = [&](bool isLauncher, Run *run) {
        bench::Child child;
        const double start = bench::nowMs();
        if (!stage.launch(child, isLauncher, app.applicationFilePath(), {QStringLiteral("--baseline-window")})) {
            error = QStringLiteral("cannot start the program");
            return false;
        }
        bench::PrivateDisplay::Shown shown;
        const bool ok = display.waitShown(child, 20000, &shown, &error);
        if (ok && isLauncher && !shown.title.contains(QLatin1String("Orvane"))) {
            error = QStringLiteral("the window shown is \"%1\", not the launcher's").arg(shown.title);
            stage.finish(child, isLauncher);
            return false;
        }
        run->mappedMs = shown.mappedAt - start;
        run->shownMs = shown.frameAt - start;
        if (ok && !shots.isEmpty()) {
            const QString file = QStringLiteral("%1/%2-%3.png")
                                     .arg(shots, isLauncher ? QStringLiteral("launcher") : QStringLiteral("baseline"))
                                     .arg(shotNumber++, 2, 10, QLatin1Char('0'));
            display.grab(shown.geometry).save(file);
            std::printf("%-9s mapped %7.1f ms  shown %7.1f ms  window %dx%d+%d+%d \"%s\"  %s\n",
                        isLauncher ? "launcher" : "baseline", run->mappedMs, run->shownMs, shown.geometry.width(),
                        shown.geometry.height(), shown.geometry.x(), shown.geometry.y(), qPrintable(shown.title),
                        qPrintable(file));
        }
        stage.finish(child, isLauncher);
        return ok;
    };

    auto fail = [&](const char *what) {
        std::fprintf(stderr, "bench_startup: %s: %s (logs in %s)\n", what, qPrintable(error), qPrintable(stage.keep()));
        return 1;
    };

    Run first, warm;
    if (!measure(true, &first))
        return fail("launcher");
    if (!measure(false, &warm))
        return fail("baseline");

    QVector<double> lMapped, lShown, bMapped, bShown;
    for (int i = 0; i < runs; ++i) {
        Run l, b;
        if (!measure(true, &l))
            return fail("launcher");
        if (!measure(false, &b))
            return fail("baseline");
        lMapped.append(l.mappedMs);
        lShown.append(l.shownMs);
        bMapped.append(b.mappedMs);
        bShown.append(b.shownMs);
    }

    const double lMed = bench::median(lShown);
    const double bMed = bench::median(bShown);
    std::printf("Start-up: process start to main window shown (first full frame on screen), %d runs each,\n"
                "private Xvfb %s, window maximised\n",
                runs, qPrintable(display.name + QLatin1Char(' ') + screen));
    std::printf("%-9s %14s %14s %10s %10s\n", "program", "mapped (med)", "shown (med)", "min", "max");
    std::printf("%-9s %11.1f ms %11.1f ms %7.1f ms %7.1f ms\n", "launcher", bench::median(lMapped), lMed,
                bench::minOf(lShown), bench::maxOf(lShown));
    std::printf("%-9s %11.1f ms %11.1f ms %7.1f ms %7.1f ms\n", "baseline", bench::median(bMapped), bMed,
                bench::minOf(bShown), bench::maxOf(bShown));
    std::printf("launcher first start (writes its settings file, not counted): shown after %.1f ms\n", first.shownMs);
    std::printf("ratio launcher/baseline: %.2f\n", bMed > 0 ? lMed / bMed : 0.0);
    std::printf("goal: shown in under %.0f ms: %s (median %.1f ms)\n", kGoalMs, lMed < kGoalMs ? "met" : "MISSED", lMed);
    std::printf("repeat: %s --runs %d --launcher %s --screen %s\n", qPrintable(app.applicationFilePath()), runs,
                qPrintable(QFileInfo(launcher).absoluteFilePath()), qPrintable(screen));
    return 0;
}
