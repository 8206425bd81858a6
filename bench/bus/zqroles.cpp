// The benchmark's client roles on the bus facade, as an application uses it.

#include "benchcommon.h"
#include "zqipc.h"

#include <QCoreApplication>
#include <QLoggingCategory>
#include <QTimer>

#include <algorithm>

namespace bench {

namespace {
const char kLocal[] = "127.0.0.1";

// Quiet library, and a client connected as `id`; false when the hub is away.
bool join(ZQIPC &bus, const QString &id, int port)
{
    QLoggingCategory::setFilterRules("vela.ipc.debug=false");
    return bus.createTcpClient(id, kLocal, port);
}

// Runs `ready` once every frame sent so far has been routed: a text to
// ourselves comes back behind them.
void whenRouted(ZQIPC &bus, const QString &self, const QString &token)
{
    bus.sentInfo(self, token);
}
} // namespace

int zqSubscribe(int port, int expected, int index, int idleMs)
{
    ZQIPC bus;
    const QString self = zqSubscriber(index);
    if (!join(bus, self, port))
        return 3;
    Tally tally(expected);
    const QString token = QStringLiteral("bench-ready");
    QObject::connect(&bus, &ZQIPC::sigRecvInfo, [&](const QString &text) {
        if (text == token) {
            printLine("ready", nowNs());
            return;
        }
        if (text == QLatin1String("succeful"))
            return;
        const QByteArray bytes = text.toUtf8();
        tally.add(seqOf(bytes.constData(), bytes.size()));
        if (tally.complete())
            QCoreApplication::quit();
    });
    bus.registerMsgAccept(zqPublisher());
    whenRouted(bus, self, token);
    // Ends when the run has started and nothing came for idleMs.
    QTimer idle;
    int seenAtLastTick = 0;
    QObject::connect(&idle, &QTimer::timeout, [&] {
        if (tally.received > 0 && tally.received == seenAtLastTick)
            QCoreApplication::quit();
        seenAtLastTick = tally.received;
    });
    idle.start(idleMs);
    QCoreApplication::exec();
    tally.print();
    bus.closeClient();
    return 0;
}

int zqPublish(int port, int count)
{
    ZQIPC bus;
    if (!join(bus, zqPublisher(), port))
        return 3;
    std::vector<QString> texts;
    texts.reserve(size_t(count));
    for (int i = 0; i < count; ++i)
        texts.push_back(QString::fromLatin1(message(i)));
    printLine("start", nowNs());
    int failed = 0;
    for (const QString &t : texts)
        failed += bus.sentInfo(t) != 0;
    printLine("done", nowNs());
    printLine("failed", failed);
    bus.closeClient();
    return 0;
}

int zqPong(int port)
{
    ZQIPC bus;
    if (!join(bus, zqPonger(), port))
        return 3;
    QObject::connect(&bus, &ZQIPC::sigRecvInfo, [&](const QString &text) {
        if (text == QLatin1String("quit"))
            QCoreApplication::quit();
        else if (text == QLatin1String("bench-ready"))
            printLine("ready", nowNs());
        else if (text != QLatin1String("succeful"))
            bus.sentInfo(zqPinger(), text);
    });
    whenRouted(bus, zqPonger(), QStringLiteral("bench-ready"));
    QCoreApplication::exec();
    bus.closeClient();
    return 0;
}

int zqPing(int port, int rounds)
{
    ZQIPC bus;
    if (!join(bus, zqPinger(), port))
        return 3;
    std::vector<int64_t> rtt;
    rtt.reserve(size_t(rounds));
    int lost = 0, wrong = 0, next = 0;
    int64_t sentAt = 0;
    auto sendNext = [&] {
        sentAt = nowNs();
        bus.sentInfo(zqPonger(), QString::fromLatin1(message(next)));
    };
    QTimer watchdog;   // a reply that never comes counts as lost
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        ++lost;
        if (++next >= rounds)
            QCoreApplication::quit();
        else {
            sendNext();
            watchdog.start(1000);
        }
    });
    QObject::connect(&bus, &ZQIPC::sigRecvInfo, [&](const QString &text) {
        if (text == QLatin1String("succeful"))
            return;
        const QByteArray bytes = text.toUtf8();
        if (seqOf(bytes.constData(), bytes.size()) != next) {
            ++wrong;
            return;
        }
        rtt.push_back(nowNs() - sentAt);
        if (++next >= rounds) {
            QCoreApplication::quit();
            return;
        }
        sendNext();
        watchdog.start(1000);
    });
    QTimer::singleShot(0, [&] {
        sendNext();
        watchdog.start(1000);
    });
    QCoreApplication::exec();
    bus.sentInfo(zqPonger(), QStringLiteral("quit"));
    bus.closeClient();
    printLatency(rtt, lost, wrong);
    return 0;
}

} // namespace bench
