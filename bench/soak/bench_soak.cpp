// Soak of velacenter: a real centre against the simulated board and real bus
// clients for a given time, under a steady mixed load, while the board's port
// vanishes and returns and clients come and go. Prints what was sent and
// what arrived each way (lost, duplicated, reordered), the centre's memory
// with its slope after the warm-up, its descriptors and threads and whether
// they return to the baseline after each churn, its processor time per frame,
// and its processor time when idle.
//
// The load, all at the link's pace (the centre's reader takes one frame per
// 100 ms pass, its writer pauses 50 ms after each frame):
// - the board writes a frame every 125 ms: pass-through frames (EVENT_ANY,
//   also as two part frames), table frames (SMSC_WIFI_NAME, SMSC_BRIGHTNESS,
//   SET_DISC_PEN_COLOR), a tunnel (E1), the shortcut's pen attributes (E3 07),
//   a stroke-marker request (E0 11) every 2 s, the central control's replies;
// - on the bus: pass-through commands (4/s, one long one every 2 s that
//   leaves as part frames), SMSC_BRIGHTNESS and VELABRIDGE_CHANNEL (1/s
//   each), a GET_PRODUCT_INFO with an id every 3 s, the agent's answers;
// - every --churn-every seconds one of, in turn: three visitors join (bus
//   clients that talk to each other and send commands, and a zqbus process
//   that is killed), the agent restarts, the board asks hardware questions,
//   three visitors, the board's port vanishes (0.5, 2.5, 5 s in turn) and
//   returns, three visitors.
// Every item carries a sequence number (table values carry it modulo their
// range). The stroke agent is a bus client answering in its place, or with
// --agent the real VelaStrokeAccelerate (on a private 1920x1080 Xvfb when
// there is no display).
//
// Exit status: 0 all goals met, 2 a goal missed, 1 the run failed.
// Needs the bus port 23334 free; run it in a private network namespace.

#include "soakrun.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QLoggingCategory>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral("Soak of velacenter with the simulated board and bus clients."));
    p.addHelpOption();
    p.addOption({"seconds", "Load for S seconds, warm-up included (default 300).", "S"});
    p.addOption({"minutes", "Load for M minutes.", "M"});
    p.addOption({"warmup", "Warm-up of at least S seconds (default 60, or a fifth of a longer run, "
                           "at most 300); it always covers one round of every churn.", "S"});
    p.addOption({"sample", "Sample the centre every MS milliseconds (default 3000).", "MS"});
    p.addOption({"churn-every", "One churn event every S seconds (default 12).", "S"});
    p.addOption({"idle", "Measure the idle centre for S seconds (default 60).", "S"});
    p.addOption({"agent", "The real VelaStrokeAccelerate answers the stroke requests."});
    p.process(app);

    SoakRun::Options o;
    bool ok = true;
    const auto number = [&](const char *name, int fallback, int least) {
        if (!p.isSet(QLatin1String(name)))
            return fallback;
        bool good = false;
        const int v = p.value(QLatin1String(name)).toInt(&good);
        if (!good || v < least) {
            std::fprintf(stderr, "bench_soak: bad --%s \"%s\"\n", name, qPrintable(p.value(QLatin1String(name))));
            ok = false;
        }
        return v;
    };
    o.seconds = number("seconds", o.seconds, 10);
    if (p.isSet(QStringLiteral("minutes")))
        o.seconds = number("minutes", 5, 1) * 60;
    o.warmupSeconds = number("warmup", std::min(300, std::max(60, o.seconds / 5)), 0);
    o.sampleMs = number("sample", o.sampleMs, 100);
    o.churnEverySeconds = number("churn-every", o.churnEverySeconds, 10);
    o.idleSeconds = number("idle", o.idleSeconds, 5);
    o.realAgent = p.isSet(QStringLiteral("agent"));
    if (!ok)
        return 1;

    SoakRun run(o);
    return run.run();
}
