// Bus benchmark: the zq bus (hub = `zqbus hub`) and mosquitto side by side,
// every client a process of its own, all on free ports of 127.0.0.1.
//
//   busbench [--count N] [--fanout-count N] [--rounds N] [--repeat R]
//
// Prints, for 200-byte JSON texts: publish 1 -> 1 (messages/s), fan-out 1 -> 8
// (deliveries/s) and directed round trip (p50/p99 in microseconds), with the
// lost, duplicated and reordered messages of every run.

#include "benchcommon.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <arpa/inet.h>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace bench;

namespace {

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
        m_p.start(QCoreApplication::applicationFilePath(), QStringList{"--role", system} + roleArgs);
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

// The broker of one system, on a free port, for the duration of a run.
class Broker
{
public:
    Broker(const QString &system, QTemporaryDir &tmp)
    {
        m_port = freePort();
        if (system == "zq") {
            m_p.start(QCoreApplication::applicationDirPath() + "/zqbus",
                      {"hub", "--port", QString::number(m_port)});
        } else {
            const QString conf = tmp.filePath(QString("mosquitto-%1.conf").arg(m_port));
            QFile f(conf);
            f.open(QIODevice::WriteOnly);
            f.write(QString("listener %1 127.0.0.1\nallow_anonymous true\npersistence false\n"
                            "log_dest none\nmax_queued_messages 0\n").arg(m_port).toUtf8());
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

private:
    QProcess m_p;
    int m_port = 0;
    bool m_ok = false;
};

struct Throughput {
    double rate = 0;   // deliveries per second
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
    for (int i = 0; i < subscribers; ++i) {
        subs.push_back(std::make_unique<Child>(system, QStringList{"sub", port, QString::number(count),
                                                                   QString::number(i), QString::number(idleMs)}));
    }
    for (auto &s : subs)
        if (!s->waitFor("ready", rest, 10000))
            return r;
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
    return 2;
}

QString median3(std::vector<double> v, int decimals)
{
    std::sort(v.begin(), v.end());
    return QString::number(v[v.size() / 2], 'f', decimals);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.value(0) == "--role")
        return runRole(args.mid(1));

    int count = 200000, fanoutCount = 60000, rounds = 20000, repeat = 3;
    for (int i = 0; i + 1 < args.size(); i += 2) {
        const int v = args[i + 1].toInt();
        if (args[i] == "--count") count = v;
        else if (args[i] == "--fanout-count") fanoutCount = v;
        else if (args[i] == "--rounds") rounds = v;
        else if (args[i] == "--repeat") repeat = std::max(1, v);
    }
    QTemporaryDir tmp;
    QTextStream out(stdout);
    out << "bus benchmark: 200-byte JSON texts, 127.0.0.1, clients in separate processes, "
        << repeat << " run(s) each, median shown\n";
    out << "  1->1: " << count << " messages; 1->8: " << fanoutCount << " messages x 8; round trip: "
        << rounds << " rounds\n\n";
    out.flush();

    for (const QString &system : QStringList{"zq", "mosquitto"}) {
        std::vector<double> one, eight, p50, p99;
        long long lost = 0, dup = 0, reord = 0, failed = 0, runs = 0;
        bool ok = true;
        for (int r = 0; r < repeat && ok; ++r) {
            const Throughput a = runPublish(system, 1, count, tmp);
            const Throughput b = runPublish(system, 8, fanoutCount, tmp);
            const Latency l = runLatency(system, rounds, tmp);
            ok = a.ok && b.ok && l.ok;
            if (!ok)
                break;
            one.push_back(a.rate);
            eight.push_back(b.rate);
            p50.push_back(l.p50);
            p99.push_back(l.p99);
            lost += a.lost + b.lost + l.lost;
            dup += a.duplicated + b.duplicated;
            reord += a.reordered + b.reordered + l.wrong;
            failed += a.failed + b.failed;
            ++runs;
        }
        const QString name = system == "zq" ? "zq bus   " : "mosquitto";
        if (!ok) {
            out << name << "  run failed (broker or client did not start or finish)\n";
            out.flush();
            continue;
        }
        out << name << "  1->1 " << median3(one, 0) << " msg/s   1->8 " << median3(eight, 0)
            << " deliveries/s   round trip p50 " << median3(p50, 1) << " us  p99 " << median3(p99, 1)
            << " us   lost " << lost << "  duplicated " << dup << "  reordered " << reord
            << "  send failures " << failed << "\n";
        out.flush();
    }
    return 0;
}
