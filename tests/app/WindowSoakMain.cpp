// The window's soak program: its command line (see WindowSoak.h).
#include <QApplication>
#include <QCommandLineParser>

#include <cstdio>

#include "WindowSoak.h"

using window_soak::Options;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("The window on a faulty simulated motor for a long while."));
    parser.addHelpOption();
    Options o;
    o.defs = QStringLiteral(VINDELOR_SOURCE_DIR "/defs");
    o.sim = QStringLiteral(VINDELOR_SIM);
    const QCommandLineOption sim(QStringLiteral("sim"),
                                 QStringLiteral("The simulator program (the one built with this)."),
                                 QStringLiteral("path"));
    const QCommandLineOption seconds(
        QStringLiteral("seconds"), QStringLiteral("Length of the run (600)."), QStringLiteral("s"));
    const QCommandLineOption warmup(
        QStringLiteral("warmup"),
        QStringLiteral("Seconds before the memory it holds is taken as the base (60)."),
        QStringLiteral("s"));
    const QCommandLineOption pull(
        QStringLiteral("pull-every"),
        QStringLiteral("Seconds between pulls of the port, 0 for none (120)."),
        QStringLiteral("s"));
    const QCommandLineOption scope(
        QStringLiteral("scope-seconds"),
        QStringLiteral("Seconds the scope runs before the hand reads registers (20)."),
        QStringLiteral("s"));
    const QCommandLineOption reads(
        QStringLiteral("read-seconds"),
        QStringLiteral("Seconds of register reads between scope runs (6)."), QStringLiteral("s"));
    const QCommandLineOption faults(
        QStringLiteral("faults"),
        QStringLiteral("The line's faults, as the simulator's --faults takes them."),
        QStringLiteral("text"));
    const QCommandLineOption seed(QStringLiteral("seed"), QStringLiteral("Seed of the faults (1)."),
                                  QStringLiteral("n"));
    const QCommandLineOption baud(QStringLiteral("baud"), QStringLiteral("Line rate (115200)."),
                                  QStringLiteral("rate"));
    const QCommandLineOption growth(
        QStringLiteral("max-growth-mb"),
        QStringLiteral("Growth of the memory after the warm-up that fails the run (5)."),
        QStringLiteral("MB"));
    const QCommandLineOption defs(QStringLiteral("defs"),
                                  QStringLiteral("The register definition folder."),
                                  QStringLiteral("folder"));
    parser.addOptions({sim, seconds, warmup, pull, scope, reads, faults, seed, baud, growth, defs});
    parser.process(app);
    const auto number = [&](const QCommandLineOption& option, int& into) {
        if (!parser.isSet(option)) return true;
        bool ok = false;
        into = parser.value(option).toInt(&ok);
        return ok && into >= 0;
    };
    bool ok = number(seconds, o.seconds) && number(warmup, o.warmupSeconds) &&
              number(pull, o.pullEverySeconds) && number(scope, o.scopeSeconds) &&
              number(reads, o.readSeconds) && number(baud, o.baud);
    if (parser.isSet(growth)) o.maxGrowthMb = parser.value(growth).toDouble(&ok);
    if (parser.isSet(faults)) o.faults = parser.value(faults);
    if (parser.isSet(seed)) o.seed = parser.value(seed);
    if (parser.isSet(defs)) o.defs = parser.value(defs);
    if (parser.isSet(sim)) o.sim = parser.value(sim);
    if (!ok || o.sim.isEmpty() || o.scopeSeconds == 0 || o.readSeconds == 0) {
        std::fprintf(stderr, "window-soak: the numbers must be whole and not negative\n");
        return 2;
    }
    window_soak::Soak soak(o);
    return soak.run();
}
