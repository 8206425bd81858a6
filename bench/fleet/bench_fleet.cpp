// Fleet bridge benchmark: N panels, each a bus hub of its own (zqbus hub) with a
// publisher standing in for velacenter and a velabridge process with its own
// identity, against one local mosquitto (TLS and password file unless
// --plain). Prints the event rate the fleet subscriber sees at the broker,
// the latency from a bus publish on a panel to the fleet subscriber (one
// event at a time, and under the full load), and the memory per bridge.
//
//   bench_fleet [N] [--events K] [--rounds R] [--plain]

#include "brokerrig.h"
#include "mqttprobe.h"
#include "zqipc.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <unistd.h>
#include <memory>
#include <numeric>
#include <vector>

namespace {

struct Panel
{
    // One bus hub per process: each panel's is a `zqbus hub` of its own.
    std::unique_ptr<QProcess> hub;
    std::unique_ptr<ZQIPC> centre; // publishes as ID_APP_VELACENTER
    std::unique_ptr<QProcess> bridge;
};

struct Received
{
    QMutex mutex;
    QSet<QString> online;
    QSet<QString> busUp;
    std::vector<qint64> latencyNs; // per event, in arrival order
    std::atomic<int> events{0};
    qint64 firstNs = 0, lastNs = 0;
};

bool waitUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

// Kilobytes of a process: resident, and resident private (its own cost
// beside the shared libraries other panels' processes would not share anyway).
QPair<qint64, qint64> memoryKb(qint64 pid)
{
    qint64 rss = 0, priv = 0;
    QFile f(QStringLiteral("/proc/%1/smaps_rollup").arg(pid));
    if (f.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : f.readAll().split('\n')) {
            const QList<QByteArray> w = line.simplified().split(' ');
            if (w.size() < 2)
                continue;
            if (w[0] == "Rss:")
                rss = w[1].toLongLong();
            else if (w[0] == "Private_Clean:" || w[0] == "Private_Dirty:")
                priv += w[1].toLongLong();
        }
    }
    return {rss, priv};
}

// CPU time (user + system) a process has used, in milliseconds.
qint64 cpuMs(qint64 pid)
{
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray stat = f.readAll();
    // Fields after the command name in parentheses; utime and stime are 14 and 15.
    const QList<QByteArray> w = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    return w.size() > 12 ? (w[11].toLongLong() + w[12].toLongLong()) * 1000 / sysconf(_SC_CLK_TCK) : 0;
}

void printPercentiles(const char *what, std::vector<qint64> v)
{
    if (v.empty()) {
        std::printf("%-34s no samples\n", what);
        return;
    }
    std::sort(v.begin(), v.end());
    auto at = [&](double q) { return v[std::min(v.size() - 1, size_t(q * (v.size() - 1) + 0.5))] / 1e6; };
    std::printf("%-34s median %7.2f ms  p90 %7.2f ms  p99 %7.2f ms  max %7.2f ms  (%zu)\n", what, at(0.5), at(0.9),
                at(0.99), v.back() / 1e6, v.size());
}

QByteArray eventText(int value, qint64 t0)
{
    return QStringLiteral(R"({"eventid":"SMSC_BRIGHTNESS","from":"ID_APP_VELACENTER","to":"ID_PC_VELASMARTSCREEN",)"
                          R"("param":[{"type":"Brightness","value":%1}],"t0":%2})")
        .arg(value).arg(t0).toUtf8();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    int n = 50, events = 20, rounds = 200;
    bool plain = false;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--events") && i + 1 < args.size())
            events = args[++i].toInt();
        else if (args[i] == QLatin1String("--rounds") && i + 1 < args.size())
            rounds = args[++i].toInt();
        else if (args[i] == QLatin1String("--plain"))
            plain = true;
        else if (args[i].toInt() > 0)
            n = args[i].toInt();
        else {
            std::fprintf(stderr, "Usage: bench_fleet [N] [--events K] [--rounds R] [--plain]\n");
            return 2;
        }
    }

    BrokerRig broker;
    if (!broker.prepare({QStringLiteral("panel:panel-secret"), QStringLiteral("fleet:fleet-secret")}, !plain)
        || !broker.start()) {
        std::fprintf(stderr, "broker: %s\n", qPrintable(broker.error()));
        return 1;
    }
    QTemporaryDir dir;
    QFile pw(dir.filePath(QStringLiteral("password")));
    pw.open(QIODevice::WriteOnly);
    pw.write("panel\npanel-secret\n");
    pw.close();
    pw.setPermissions(QFile::ReadOwner | QFile::WriteOwner);

    Received rx;
    MqttProbe fleet(QStringLiteral("fleet-dashboard"), false);
    fleet.onMessage = [&rx](const MqttProbe::Message &m) {
        const QString panel = m.topic.section(QLatin1Char('/'), 1, 1);
        QMutexLocker lock(&rx.mutex);
        if (m.topic.endsWith(QLatin1String("/status"))) {
            if (m.payload == "online")
                rx.online.insert(panel);
        } else if (m.topic.endsWith(QLatin1String("/info"))) {
            if (QJsonDocument::fromJson(m.payload).object().value(QStringLiteral("bus")) == QLatin1String("up"))
                rx.busUp.insert(panel);
        } else {
            const qint64 t0 = qint64(QJsonDocument::fromJson(m.payload).object().value(QStringLiteral("t0")).toDouble());
            rx.latencyNs.push_back(m.arrivedNs - t0);
            if (rx.events++ == 0)
                rx.firstNs = m.arrivedNs;
            rx.lastNs = m.arrivedNs;
        }
    };
    if (!fleet.connectTo(broker.port(), plain ? QString() : broker.caFile(), QStringLiteral("fleet"),
                         QStringLiteral("fleet-secret"))
        || !fleet.subscribe(QStringLiteral("vela/+/status")) || !fleet.subscribe(QStringLiteral("vela/+/info"))
        || !fleet.subscribe(QStringLiteral("vela/+/event/#"))) {
        std::fprintf(stderr, "fleet subscriber did not connect\n");
        return 1;
    }

    std::printf("bench_fleet: %d panels, %s broker on port %d\n", n, plain ? "plain" : "TLS", broker.port());
    std::vector<Panel> panels;
    panels.resize(size_t(n));
    QElapsedTimer startTimer;
    startTimer.start();
    for (int i = 0; i < n; ++i) {
        Panel &p = panels[size_t(i)];
        const int port = BrokerRig::freePort();
        p.hub.reset(new QProcess);
        p.hub->setStandardOutputFile(QProcess::nullDevice());
        p.hub->start(QStringLiteral(VELA_BIN_DIR "/zqbus"), {QStringLiteral("hub"), QStringLiteral("--port"),
                                                             QString::number(port)});
        // Connecting before the hub listens could meet the connecting socket
        // itself (a port of the ephemeral range): wait for its word.
        QByteArray said;
        const bool listening = waitUntil([&]() {
            said += p.hub->readAllStandardError();
            return said.contains("hub listening on") || p.hub->state() == QProcess::NotRunning;
        }, 10000) && said.contains("hub listening on");
        p.hub->setStandardErrorFile(QProcess::nullDevice());
        p.centre.reset(new ZQIPC);
        if (!listening || !p.centre->createTcpClient(QStringLiteral("ID_APP_VELACENTER"), "127.0.0.1", port)) {
            std::fprintf(stderr, "hub %d did not start\n", i);
            return 1;
        }
        const QString ini = dir.filePath(QStringLiteral("panel-%1.ini").arg(i));
        QFile f(ini);
        f.open(QIODevice::WriteOnly);
        f.write(QStringLiteral("[Fleet]\nBroker=%1://localhost:%2\n%3PasswordFile=%4\nPanel=bench-%5\n"
                               "Events=SMSC_BRIGHTNESS\nQueueLimit=100000\n")
                    .arg(plain ? "mqtt" : "mqtts").arg(broker.port())
                    .arg(plain ? QString() : QStringLiteral("CaFile=") + broker.caFile() + QLatin1Char('\n'))
                    .arg(pw.fileName()).arg(i)
                    .toUtf8());
        f.close();
        p.bridge.reset(new QProcess);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VELA_BUS_PORT"), QString::number(port));
        p.bridge->setProcessEnvironment(env);
        p.bridge->setStandardOutputFile(QProcess::nullDevice());
        p.bridge->setStandardErrorFile(dir.filePath(QStringLiteral("panel-%1.log").arg(i)));
        p.bridge->start(QStringLiteral(VELA_BIN_DIR "/velabridge"), {QStringLiteral("--config"), ini});
    }
    const bool allIn = waitUntil([&]() {
        QMutexLocker lock(&rx.mutex);
        return rx.online.size() == n && rx.busUp.size() == n;
    }, 60000 + 500 * n);
    {
        QMutexLocker lock(&rx.mutex);
        std::printf("%-34s %d of %d online in %.1f s\n", "bridges connected", int(rx.online.size()), n,
                    startTimer.elapsed() / 1000.0);
    }
    if (!allIn) {
        std::fprintf(stderr, "not every bridge came up; see the panel logs\n");
        return 1;
    }
    QThread::msleep(500);

    // Memory, once everything is connected and idle.
    std::vector<qint64> rss, priv;
    for (const Panel &p : panels) {
        const auto kb = memoryKb(p.bridge->processId());
        rss.push_back(kb.first);
        priv.push_back(kb.second);
    }
    auto mean = [](const std::vector<qint64> &v) { return double(std::accumulate(v.begin(), v.end(), 0LL)) / v.size(); };
    std::printf("%-34s RSS mean %.0f KiB (max %lld), private mean %.0f KiB\n", "memory per bridge", mean(rss),
                *std::max_element(rss.begin(), rss.end()), mean(priv));

    // Latency, one event at a time, panel after panel.
    std::vector<qint64> single;
    for (int r = 0; r < rounds; ++r) {
        const int before = rx.events.load();
        Panel &p = panels[size_t(r % n)];
        p.centre->sentInfo(QString::fromUtf8(eventText(r, MqttProbe::steadyNs())));
        if (!waitUntil([&]() { return rx.events.load() > before; }, 10000)) {
            QFile log(dir.filePath(QStringLiteral("panel-%1.log").arg(r % n)));
            log.open(QIODevice::ReadOnly);
            std::fprintf(stderr, "event %d (panel %d) did not arrive; its bridge said:\n%s\n", r, r % n,
                         log.readAll().constData());
            return 1;
        }
        QMutexLocker lock(&rx.mutex);
        single.push_back(rx.latencyNs.back());
    }
    printPercentiles("bus publish -> fleet, one at a time", single);

    // Rate: every panel publishes its events at once.
    {
        QMutexLocker lock(&rx.mutex);
        rx.latencyNs.clear();
        rx.events = 0;
    }
    const qint64 brokerCpu0 = cpuMs(broker.pid());
    const qint64 t0 = MqttProbe::steadyNs();
    for (int k = 0; k < events; ++k)
        for (Panel &p : panels)
            p.centre->sentInfo(QString::fromUtf8(eventText(k, MqttProbe::steadyNs())));
    const int total = n * events;
    const bool all = waitUntil([&]() { return rx.events.load() >= total; }, 120000);
    QMutexLocker lock(&rx.mutex);
    const double seconds = (rx.lastNs - t0) / 1e9;
    std::printf("%-34s %d of %d events in %.2f s: %.0f events/s\n", "broker-side event rate", rx.events.load(), total,
                seconds, rx.events.load() / seconds);
    const qint64 brokerCpu = cpuMs(broker.pid()) - brokerCpu0;
    std::printf("%-34s %lld ms CPU for %d events: %.1f us per event in and out\n", "broker CPU", brokerCpu,
                rx.events.load(), brokerCpu * 1000.0 / qMax(1, rx.events.load()));
    printPercentiles("bus publish -> fleet, under load", rx.latencyNs);
    lock.unlock();
    std::printf("%-34s RSS %lld KiB with %d bridges connected\n", "broker", memoryKb(broker.pid()).first, n);

    for (Panel &p : panels)
        p.bridge->terminate();
    for (Panel &p : panels)
        if (!p.bridge->waitForFinished(10000))
            p.bridge->kill();
    for (Panel &p : panels) {
        p.centre.reset();
        p.hub->terminate();
        if (!p.hub->waitForFinished(15000))
            p.hub->kill();
    }
    broker.stop();
    return all ? 0 : 1;
}
