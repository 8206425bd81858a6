// Stroke-acceleration round trip through velacenter: from the board's E0 11
// marker request at the mainboard simulator, through the centre to a bus
// client that stands in for the agent and answers at once, and back to the
// answer frame at the simulator. The figure is the centre's and the link's
// share of the round trip; the real agent adds its painting on top.
//
// Usage: bench_writeacc_e2e [requests, default 40]
// Needs the bus port 23334 free; without an X display velacenter runs off screen.

#include "velacenterrig.h"
#include "zqipc.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QTest>

#include <algorithm>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    const int requests = argc > 1 ? std::max(1, atoi(argv[1])) : 40;

    VelaCenterRig rig;
    VelaCenterRig::Options options;
    options.quietCentre = true;
    if (!rig.start(options)) {
        std::fprintf(stderr, "bench: %s\n", qPrintable(rig.error()));
        return 1;
    }
    // The stand-in agent answers every request with the marker frame.
    ZQIPC agent;
    if (!agent.createTcpClient(QStringLiteral("ID_APP_VELASTROKEACCELERATE"), "127.0.0.1", 23334)) {
        std::fprintf(stderr, "bench: agent stand-in not connected\n");
        return 1;
    }
    agent.registerMsgAccept(QStringLiteral("ID_APP_VELACENTER"));
    const QByteArray answer = QByteArray::fromHex("7F0D99A2B3C402FFE01100FF00000FCF");
    QObject::connect(&agent, &ZQIPC::sigRecvInfo, &agent, [&](const QString &text) {
        const QJsonObject o = QJsonDocument::fromJson(text.toUtf8()).object();
        if (o.value("eventid").toString() != QLatin1String("ID_INKDRAW"))
            return;
        const QJsonObject reply{{"eventid", "ID_INKDRAW"}, {"from", "ID_SDK_STROKEACCELERATE"},
                                {"property", QString::fromLatin1(answer.toHex().toUpper())},
                                {"scenario", "ID_SCENARIO_TEACHING"}, {"to", "ID_APP_VELACENTER"}};
        agent.sentInfo(QStringLiteral("ID_APP_VELACENTER"), QString::fromUtf8(QJsonDocument(reply).toJson()));
    });
    QTest::qWait(1200); // the subscription settles

    QVector<double> ms;
    QElapsedTimer clock;
    for (int i = 0; i < requests; ++i) {
        // Past the agent's 1.5 s de-duplication, at a random point of the
        // reader's 100 ms cycle.
        QTest::qWait(1500 + int(QRandomGenerator::global()->bounded(100)));
        const int from = rig.boardReceivedCount();
        clock.start();
        rig.boardSend(QStringLiteral("frame E0 11 00 FF 00 00 0F"));
        if (!rig.waitBoardReceived(answer, 5000, from)) {
            std::fprintf(stderr, "bench: request %d got no answer\n", i);
            return 1;
        }
        ms << clock.nsecsElapsed() / 1e6;
    }
    std::sort(ms.begin(), ms.end());
    const int n = ms.size();
    std::printf("E0 11 request -> answer frame at the board, %d requests, stand-in agent answering at once\n", n);
    std::printf("link pacing: the serial reader takes one frame per 100 ms pass; the writer pauses 50 ms after each frame\n");
    std::printf("median %.1f ms  p99 %.1f ms  min %.1f ms  max %.1f ms\n", n % 2 ? ms[n / 2] : (ms[n / 2 - 1] + ms[n / 2]) / 2,
                ms[std::min(n - 1, int(n * 0.99))], ms.first(), ms.last());
    return 0;
}
