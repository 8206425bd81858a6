// End-to-end latency of velacenter: from a frame written by the mainboard
// simulator to its JSON on the bus, from a JSON message sent on the bus to
// its frame at the simulator, and the round trip of a central-control
// request with an "id" to its correlated reply, the simulator answering as
// soon as the request frame reaches it. Events are sent one at a time, so
// the figures are latencies, not throughput.
//
// Usage: bench_velacenter_e2e [events per direction, default 300]
// Needs the bus port 23334 free; without an X display velacenter runs off screen.

#include "velacenterrig.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QTest>

#include <algorithm>
#include <cstdio>

namespace {

struct Figures
{
    double median = 0, p99 = 0, mean = 0, min = 0, max = 0;
};

Figures figuresOf(QVector<double> ms)
{
    Figures f;
    if (ms.isEmpty())
        return f;
    std::sort(ms.begin(), ms.end());
    const int n = ms.size();
    f.median = n % 2 ? ms[n / 2] : (ms[n / 2 - 1] + ms[n / 2]) / 2;
    f.p99 = ms[std::min(n - 1, int(n * 0.99))];
    double sum = 0;
    for (double v : ms)
        sum += v;
    f.mean = sum / n;
    f.min = ms.first();
    f.max = ms.last();
    return f;
}

// Two bytes per event that are never a start or end byte: a 0xCF inside a
// short frame can be taken for its end by the frame scan.
QByteArray payloadOf(int i)
{
    return QByteArray(1, char(i / 100)) + char(i % 100);
}

void print(const char *what, int n, const Figures &f)
{
    std::printf("%-22s n=%d  median %.1f ms  p99 %.1f ms  mean %.1f ms  min %.1f ms  max %.1f ms\n", what, n,
                f.median, f.p99, f.mean, f.min, f.max);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    const int events = argc > 1 ? std::max(1, atoi(argv[1])) : 300;

    VelaCenterRig rig;
    VelaCenterRig::Options options;
    options.quietCentre = true;
    if (!rig.start(options)) {
        std::fprintf(stderr, "bench: %s\n", qPrintable(rig.error()));
        return 1;
    }

    // Board to bus: a frame that no table knows, passed up as EVENT_ANY.
    QVector<double> up;
    QElapsedTimer clock;
    for (int i = 0; i < events; ++i) {
        const QByteArray bytes = QByteArray::fromHex("E9B0") + payloadOf(i);
        const int from = rig.busMessages().size();
        // The reader's passes run every 100 ms; a random gap samples every
        // phase instead of always writing right after a pass.
        QTest::qWait(int(QRandomGenerator::global()->bounded(100)));
        clock.start();
        rig.boardSend(QStringLiteral("frame ") + QString::fromLatin1(bytes.toHex(' ')));
        const QString param = QString::fromLatin1(bytes.toBase64());
        if (!rig.waitBusMessage([&](const QJsonObject &o) { return o.value("param").toString() == param; },
                                5000, nullptr, from)) {
            std::fprintf(stderr, "bench: frame %d lost on the way up\n", i);
            return 1;
        }
        up << clock.nsecsElapsed() / 1e6;
    }

    // Bus to board: an EVENT_ANY message, fitted back into the same frame.
    QVector<double> down;
    for (int i = 0; i < events; ++i) {
        const QByteArray bytes = QByteArray::fromHex("E9B1") + payloadOf(i);
        const QByteArray frame = VelaCenterRig::frameOf(bytes);
        const int from = rig.boardReceivedCount();
        // Let the writer finish its pause after the previous frame first.
        QTest::qWait(60);
        clock.start();
        rig.sendToCentre(VelaCenterRig::eventAny(bytes, QStringLiteral("ID_APP_VELACENTER")));
        if (!rig.waitBoardReceived(frame, 5000, from)) {
            std::fprintf(stderr, "bench: message %d lost on the way down\n", i);
            return 1;
        }
        down << clock.nsecsElapsed() / 1e6;
    }

    // Central-control request with an id -> request frame at the board ->
    // the board's reply frame -> the reply on the bus carrying that id.
    QVector<double> request, reply, roundTrip;
    for (int i = 0; i < events; ++i) {
        const QString id = QStringLiteral("bench-%1").arg(i);
        const int boardFrom = rig.boardReceivedCount();
        const int busFrom = rig.busMessages().size();
        // The reply meets the reader at a random point of its cycle too.
        QTest::qWait(60 + int(QRandomGenerator::global()->bounded(100)));
        clock.start();
        rig.sendToCentre(QJsonObject{{"eventid", "GET_PRODUCT_INFO"}, {"id", id},
                                     {"from", "ControlCenter"}, {"to", "MessageCenter"}});
        if (!rig.waitBoardReceived(VelaCenterRig::frameOf(QByteArray::fromHex("F101FFFF")), 5000, boardFrom)) {
            std::fprintf(stderr, "bench: control request %d never reached the board\n", i);
            return 1;
        }
        const qint64 atBoard = clock.nsecsElapsed();
        rig.boardSend(QStringLiteral("frame F3 01 00"));
        if (!rig.waitBusMessage([&](const QJsonObject &o) {
                return o.value("to").toString() == QLatin1String("ControlCenter") && o.value("id").toString() == id;
            }, 5000, nullptr, busFrom)) {
            std::fprintf(stderr, "bench: control request %d got no reply with its id\n", i);
            return 1;
        }
        const qint64 done = clock.nsecsElapsed();
        request << atBoard / 1e6;
        reply << (done - atBoard) / 1e6;
        roundTrip << done / 1e6;
    }

    std::printf("velacenter end to end, %d events each way, one at a time (link version 2, pseudo-terminal)\n",
                events);
    std::printf("link pacing: the serial reader takes one frame per 100 ms pass; the writer pauses 50 ms after each frame\n");
    std::printf("(frames are written at a random point of the reader's 100 ms cycle; messages 60 ms after the previous frame)\n");
    print("board frame -> bus JSON", events, figuresOf(up));
    print("bus JSON -> board frame", events, figuresOf(down));
    std::printf("central control, GET_PRODUCT_INFO with an id, the board answering F3 01 at once:\n");
    print("  request -> board", events, figuresOf(request));
    print("  board reply -> bus", events, figuresOf(reply));
    print("  round trip", events, figuresOf(roundTrip));
    return 0;
}
