// Bus benchmark: the hub (`zqbus hub`), a raw epoll relay of this program's
// own (the floor of the hub's job) and mosquitto, side by side and
// interleaved, every client a process of its own, all on free ports of
// 127.0.0.1. The hub and the relay serve the same plain-socket clients.
//
//   busbench [--count N] [--fanout-count N] [--rounds N] [--repeat R] [--idle N]
//
// Prints, for 200-byte JSON texts: publish 1 -> 1 (messages/s), fan-out
// 1 -> 8 (deliveries/s), directed round trip (p50/p99 in microseconds), the
// server's CPU time per thousand delivered messages and its memory per
// connected client, with the ratios of the hub to the other two; and the
// lost, duplicated and reordered messages of every run.

#include "benchcommon.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <arpa/inet.h>
#include <map>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace bench;

namespace {

const QStringList kSystems{"hub", "relay", "mosquitto"};

int freePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len);
    ::close(fd);
    return ntohs(addr.sin_port);
}

bool portOpen(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(quint16(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

// A role in a child process, read line by line.
class Child
{
public:
    Child(const QString &system, const QStringList &roleArgs)
    {
        m_p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        // The hub and the relay share the plain-socket clients.
        m_p.start(QCoreApplication::applicationFilePath(),
                  QStringList{"--role", system == "mosquitto" ? "mqtt" : "zq"} + roleArgs);
    }
    ~Child()
    {
        if (m_p.state() != QProcess::NotRunning) {
            m_p.kill();
            m_p.waitForFinished(2000);
        }
    }
    // Waits for a line starting with `word`; returns its rest.
    bool waitFor(const char *word, QByteArray &rest, int timeoutMs = 60000)
    {
        while (true) {
            while (m_p.canReadLine()) {
                const QByteArray line = m_p.readLine().trimmed();
                if (line.startsWith(word)) {
                    rest = line.mid(int(std::strlen(word))).trimmed();
                    return true;
                }
            }
            if (m_p.state() == QProcess::NotRunning || !m_p.waitForReadyRead(timeoutMs))
                return false;
        }
    }
    bool finish(int timeoutMs = 60000) { return m_p.waitForFinished(timeoutMs); }

private:
    QProcess m_p;
};

// The server of one system, on a free port, for the duration of a run.
class Broker
{
public:
    Broker(const QString &system, QTemporaryDir &tmp)
    {
        m_port = freePort();
        const QString port = QString::number(m_port);
        if (system == "hub") {
            m_p.start(QCoreApplication::applicationDirPath() + "/zqbus", {"hub", "--port", port});
        } else if (system == "relay") {
            m_p.start(QCoreApplication::applicationFilePath(), {"--relay", port});
        } else {
            const QString conf = tmp.filePath(QString("mosquitto-%1.conf").arg(m_port));
            QFile f(conf);
            f.open(QIODevice::WriteOnly);
            f.write(QString("listener %1 127.0.0.1\nallow_anonymous true\npersistence false\n"
                            "log_dest none\nmax_queued_messages 0\nmax_connections -1\n").arg(m_port).toUtf8());
            f.close();
            m_p.start("/usr/sbin/mosquitto", {"-c", conf});
        }
        for (int i = 0; i < 100 && !portOpen(m_port); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(30));
        m_ok = portOpen(m_port);
    }
    ~Broker()
    {
        m_p.terminate();
        if (!m_p.waitForFinished(3000))
            m_p.kill();
        m_p.waitForFinished(1000);
    }
    bool ok() const { return m_ok; }
    int port() const { return m_port; }
    // User and system CPU time so far, in seconds.
    double cpuSeconds() const
    {
        QFile f(QString("/proc/%1/stat").arg(m_p.processId()));
        if (!f.open(QIODevice::ReadOnly))
            return 0;
        const QByteArray stat = f.readAll();
        const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
        // Fields 14 and 15 of the line; the list starts at field 3.
        return (fields.value(11).toLongLong() + fields.value(12).toLongLong()) / double(::sysconf(_SC_CLK_TCK));
    }
    // Resident memory in KiB.
    long long rssKiB() const
    {
        QFile f(QString("/proc/%1/status").arg(m_p.processId()));
        if (!f.open(QIODevice::ReadOnly))
            return 0;
        for (const QByteArray &line : f.readAll().split('\n'))
            if (line.startsWith("VmRSS:"))
                return line.mid(6).trimmed().split(' ').value(0).toLongLong();
        return 0;
    }

private:
    QProcess m_p;
    int m_port = 0;
    bool m_ok = false;
};

struct Throughput {
    double rate = 0;        // deliveries per second
    double cpuSeconds = 0;  // the server's CPU time from the publisher's start to the last delivery
    long long received = 0;
    long long lost = 0, duplicated = 0, reordered = 0, failed = 0;
    bool ok = false;
};

Throughput runPublish(const QString &system, int subscribers, int count, QTemporaryDir &tmp)
{
    Throughput r;
    Broker broker(system, tmp);
    if (!broker.ok())
        return r;
    const QString port = QString::number(broker.port());
    const int idleMs = 3000;
    std::vector<std::unique_ptr<Child>> subs;
    QByteArray rest;
    for (int i = 0; i < subscribers; ++i)
        subs.push_back(std::make_unique<Child>(system, QStringList{"sub", port, QString::number(count),
                                                                   QString::number(i), QString::number(idleMs)}));
    for (auto &s : subs)
        if (!s->waitFor("ready", rest, 10000))
            return r;
    const double cpuBefore = broker.cpuSeconds();
    Child pub(system, {"pub", port, QString::number(count)});
    if (!pub.waitFor("start", rest))
        return r;
    const long long start = rest.toLongLong();
    if (!pub.waitFor("failed", rest))
        return r;
    r.failed = rest.toLongLong();
    long long last = start, received = 0;
    for (auto &s : subs) {
        if (!s->waitFor("result", rest, 120000))
            return r;
        const QList<QByteArray> f = rest.split(' ');
        received += f[0].toLongLong();
        r.lost += f[1].toLongLong();
        r.duplicated += f[2].toLongLong();
        r.reordered += f[3].toLongLong();
        last = std::max(last, f[5].toLongLong());
    }
    r.cpuSeconds = broker.cpuSeconds() - cpuBefore;
    r.received = received;
    r.rate = received / ((last - start) / 1e9);
    r.ok = true;
    return r;
}

struct Latency {
    double p50 = 0, p99 = 0;
    long long rounds = 0, lost = 0, wrong = 0;
    bool ok = false;
};

Latency runLatency(const QString &system, int rounds, QTemporaryDir &tmp)
{
    Latency r;
    Broker broker(system, tmp);
    if (!broker.ok())
        return r;
    const QString port = QString::number(broker.port());
    QByteArray rest;
    Child pong(system, {"pong", port});
    if (!pong.waitFor("ready", rest, 10000))
        return r;
    Child ping(system, {"ping", port, QString::number(rounds)});
    if (!ping.waitFor("latency", rest, 120000))
        return r;
    const QList<QByteArray> f = rest.split(' ');
    r.p50 = f[0].toLongLong() / 1000.0;
    r.p99 = f[1].toLongLong() / 1000.0;
    r.rounds = f[2].toLongLong();
    r.lost = f[3].toLongLong();
    r.wrong = f[4].toLongLong();
    r.ok = true;
    pong.finish(5000);
    return r;
}

// Resident memory the server adds per connected (idle) client, in KiB.
double runMemory(const QString &system, int clients, QTemporaryDir &tmp)
{
    Broker broker(system, tmp);
    if (!broker.ok())
        return -1;
    // A first client, so that what any server sets up once is not counted.
    Child first(system, {"idle", QString::number(broker.port()), "1"});
    QByteArray rest;
    if (!first.waitFor("joined", rest, 10000))
        return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const long long before = broker.rssKiB();
    Child many(system, {"idle", QString::number(broker.port()), QString::number(clients)});
    if (!many.waitFor("joined", rest, 60000) || rest.toInt() != clients)
        return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    return double(broker.rssKiB() - before) / clients;
}

int runRole(const QStringList &a)
{
    const QString system = a.value(0), role = a.value(1);
    const int port = a.value(2).toInt();
    const bool zq = system == "zq";
    if (role == "sub")
        return zq ? zqSubscribe(port, a.value(3).toInt(), a.value(4).toInt(), a.value(5).toInt())
                  : mqttSubscribe(port, a.value(3).toInt(), a.value(4).toInt(), a.value(5).toInt());
    if (role == "pub")
        return zq ? zqPublish(port, a.value(3).toInt()) : mqttPublish(port, a.value(3).toInt());
    if (role == "pong")
        return zq ? zqPong(port) : mqttPong(port);
    if (role == "ping")
        return zq ? zqPing(port, a.value(3).toInt()) : mqttPing(port, a.value(3).toInt());
    if (role == "idle")
        return zq ? zqIdle(port, a.value(3).toInt()) : mqttIdle(port, a.value(3).toInt());
    return 2;
}

double median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.value(0) == "--role")
        return runRole(args.mid(1));
    if (args.value(0) == "--relay")
        return runRelay(args.value(1).toInt());

    int count = 200000, fanoutCount = 60000, rounds = 20000, repeat = 3, idle = 200;
    for (int i = 0; i + 1 < args.size(); i += 2) {
        const int v = args[i + 1].toInt();
        if (args[i] == "--count") count = v;
        else if (args[i] == "--fanout-count") fanoutCount = v;
        else if (args[i] == "--rounds") rounds = v;
        else if (args[i] == "--repeat") repeat = std::max(1, v);
        else if (args[i] == "--idle") idle = std::max(1, v);
    }
    QTemporaryDir tmp;
    QTextStream out(stdout);
    out << "bus benchmark: 200-byte JSON texts, 127.0.0.1, clients in separate processes, " << repeat
        << " interleaved run(s) of each server, median shown\n";
    out << "  1->1: " << count << " messages; 1->8: " << fanoutCount << " messages x 8; round trip: " << rounds
        << " rounds; memory: " << idle << " idle clients\n";
    out << "  hub: zqbus hub; relay: this program's raw epoll relay (same clients as the hub); mosquitto: QoS 0\n\n";
    out.flush();

    struct Figures {
        std::vector<double> one, eight, p50, p99, cpu, memory;
        long long lost = 0, dup = 0, reord = 0, failed = 0;
        // CPU ticks are coarse (10 ms): summed over every throughput run.
        double cpuSeconds = 0;
        long long delivered = 0;
        bool ok = true;
    };
    std::map<QString, Figures> fig;
    for (int r = 0; r < repeat; ++r) {
        for (const QString &system : kSystems) {
            Figures &f = fig[system];
            if (!f.ok)
                continue;
            const Throughput a = runPublish(system, 1, count, tmp);
            const Throughput b = runPublish(system, 8, fanoutCount, tmp);
            const Latency l = runLatency(system, rounds, tmp);
            const double m = r == 0 ? runMemory(system, idle, tmp) : 0;
            f.ok = a.ok && b.ok && l.ok && (r > 0 || m >= 0);
            if (!f.ok) {
                out << system << ": run failed (server or client did not start or finish)\n";
                out.flush();
                continue;
            }
            f.one.push_back(a.rate);
            f.eight.push_back(b.rate);
            f.p50.push_back(l.p50);
            f.p99.push_back(l.p99);
            f.cpuSeconds += a.cpuSeconds + b.cpuSeconds;
            f.delivered += a.received + b.received;
            f.cpu = {f.delivered ? f.cpuSeconds * 1000.0 / (f.delivered / 1000.0) : 0};
            if (r == 0)
                f.memory.push_back(m);
            f.lost += a.lost + b.lost + l.lost;
            f.dup += a.duplicated + b.duplicated;
            f.reord += a.reordered + b.reordered + l.wrong;
            f.failed += a.failed + b.failed;
        }
    }

    const auto row = [&](const char *name, std::vector<double> Figures::*what, int decimals) {
        out << QString("%1").arg(name, -30);
        for (const QString &s : kSystems)
            out << QString("%1").arg(fig[s].ok ? QString::number(median(fig[s].*what), 'f', decimals) : "-", 12);
        const double hub = median(fig["hub"].*what);
        for (const QString &s : {QString("relay"), QString("mosquitto")}) {
            const double other = median(fig[s].*what);
            out << QString("%1").arg(fig[s].ok && fig["hub"].ok && other > 0 ? QString::number(hub / other, 'f', 2)
                                                                             : "-", 14);
        }
        out << "\n";
    };
    out << QString("%1").arg("", -30);
    for (const QString &s : kSystems)
        out << QString("%1").arg(s, 12);
    out << QString("%1%2").arg("hub/relay", 14).arg("hub/mosquitto", 14) << "\n";
    row("1->1 messages/s", &Figures::one, 0);
    row("1->8 deliveries/s", &Figures::eight, 0);
    row("round trip p50 us", &Figures::p50, 1);
    row("round trip p99 us", &Figures::p99, 1);
    row("CPU ms per 1000 delivered", &Figures::cpu, 3);   // over all 1->1 and 1->8 runs
    row("memory KiB per client", &Figures::memory, 1);
    out << "\n";
    for (const QString &s : kSystems)
        out << QString("%1: lost %2, duplicated %3, reordered %4, send failures %5\n")
                   .arg(s, -10).arg(fig[s].lost).arg(fig[s].dup).arg(fig[s].reord).arg(fig[s].failed);
    out << "\ngoals: round trip p50 hub/relay <= 1.20 and hub/mosquitto <= 0.80; "
           "1->1 and 1->8 hub/relay >= 0.20\n";
    out.flush();
    return 0;
}
