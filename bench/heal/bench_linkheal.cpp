// How long velacenter takes to use the board again after it came back: the
// simulator is ended and started again on the same path, after a different
// time away each round (so the return falls at every point of the centre's
// 1 s, 2 s, 4 s, 10 s search), and the time from the new simulator's line
// being there to the first frame delivered each way is measured.
//
// Up: the board sends a frame every 100 ms from its return on; the first one
// that reaches the bus counts. Down: one message is sent on the bus at the
// return (the centre keeps it while the link is down) and counts when it
// reaches the board.
//
// Usage: bench_linkheal [rounds, default 6]
// Needs the bus port 23334 free; without an X display velacenter runs off screen.

#include "velacenterrig.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <cstdio>

namespace {

double median(QVector<double> v)
{
    if (v.isEmpty())
        return 0;
    std::sort(v.begin(), v.end());
    const int n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 6;
    const int awayMs[] = {500, 2000, 5000, 8000, 12000, 3500};

    VelaCenterRig rig;
    VelaCenterRig::Options options;
    options.quietCentre = true;
    options.boardLink = rig.folder() + QStringLiteral("/board");
    if (!rig.start(options)) {
        std::fprintf(stderr, "bench: %s\n", qPrintable(rig.error()));
        return 1;
    }

    std::printf("velacenter link healing, board ended and started again on the same path (link version 2)\n");
    std::printf("%-6s %10s %14s %14s %14s\n", "round", "away ms", "up ms", "down ms", "both ms");
    QVector<double> ups, downs, boths;
    for (int r = 0; r < rounds; ++r) {
        rig.stopBoard();
        const int away = awayMs[r % 6];
        QTest::qWait(away);
        if (!rig.startBoardAgain(QStringLiteral("v2"), options.boardLink)) {
            std::fprintf(stderr, "bench: %s\n", qPrintable(rig.error()));
            return 1;
        }
        QElapsedTimer clock;
        clock.start();
        const QByteArray down = QByteArray::fromHex("E9C1") + char(r + 1);
        const QByteArray downFrame = VelaCenterRig::frameOf(down);
        const int busFrom = rig.busMessages().size();
        const int boardFrom = rig.boardReceivedCount();
        rig.sendToCentre(VelaCenterRig::eventAny(down, QStringLiteral("ID_APP_VELACENTER")));
        double upMs = -1, downMs = -1;
        qint64 nextUp = 0;
        int tag = 0;
        while ((upMs < 0 || downMs < 0) && clock.elapsed() < 60000) {
            if (upMs < 0 && clock.elapsed() >= nextUp) {
                rig.boardSend(QStringLiteral("frame E9 C0 %1").arg(++tag % 100, 2, 10, QLatin1Char('0')));
                nextUp += 100;
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            if (upMs < 0 && rig.waitBusMessage([](const QJsonObject &o) {
                    return QByteArray::fromBase64(o.value("param").toString().toLatin1())
                        .startsWith(QByteArray::fromHex("E9C0"));
                }, 0, nullptr, busFrom))
                upMs = clock.nsecsElapsed() / 1e6;
            if (downMs < 0 && rig.boardReceived().indexOf(downFrame, boardFrom) >= 0)
                downMs = clock.nsecsElapsed() / 1e6;
            QThread::msleep(2);
        }
        if (upMs < 0 || downMs < 0) {
            std::fprintf(stderr, "bench: round %d: the link did not come back within 60 s\n", r);
            return 1;
        }
        ups << upMs;
        downs << downMs;
        boths << std::max(upMs, downMs);
        std::printf("%-6d %10d %14.0f %14.0f %14.0f\n", r + 1, away, upMs, downMs, std::max(upMs, downMs));
        std::fflush(stdout);
    }
    std::printf("median over %d returns: up %.0f ms, down %.0f ms, both ways %.0f ms\n", rounds, median(ups),
                median(downs), median(boths));
    std::printf("(includes the wait for the centre's next look at the port and the handshake's 1 s pause)\n");
    return 0;
}
