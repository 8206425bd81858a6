// What the bus benchmark's processes share: the message they send, the clock,
// and the line formats they report in.
#ifndef BENCHCOMMON_H
#define BENCHCOMMON_H

#include <QByteArray>
#include <QString>

#include <algorithm>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace bench {

constexpr int kMessageSize = 200;

// CLOCK_MONOTONIC: comparable between the processes of one machine.
inline int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch()).count();
}

// A 200-byte JSON text carrying its sequence number.
inline QByteArray message(int seq)
{
    QByteArray m = "{\"eventid\":\"BENCH_EVENT\",\"seq\":" + QByteArray::number(seq) + ",\"pad\":\"";
    m.append(QByteArray(kMessageSize - m.size() - 2, 'x'));
    m.append("\"}");
    return m;
}

inline int seqOf(const char *data, int size)
{
    const char *key = "\"seq\":";
    const void *at = memmem(data, size_t(size), key, 6);
    if (!at)
        return -1;
    return std::atoi(static_cast<const char *>(at) + 6);
}

// Counts what a subscriber received against 0..expected-1 in order.
struct Tally {
    explicit Tally(int expected) : seen(size_t(expected), 0) {}
    void add(int seq)
    {
        const int64_t t = nowNs();
        if (received == 0)
            first = t;
        last = t;
        ++received;
        if (seq < 0 || seq >= int(seen.size())) {
            ++foreign;
            return;
        }
        if (seen[size_t(seq)]) {
            ++duplicated;
            return;
        }
        seen[size_t(seq)] = 1;
        ++unique;
        if (seq < highest)
            ++reordered;
        highest = seq > highest ? seq : highest;
    }
    bool complete() const { return unique == int(seen.size()); }
    // "result <received> <lost> <duplicated> <reordered> <first_ns> <last_ns>"
    void print() const
    {
        std::printf("result %d %d %d %d %lld %lld\n", received, int(seen.size()) - unique, duplicated,
                    reordered + foreign, static_cast<long long>(first), static_cast<long long>(last));
        std::fflush(stdout);
    }

    std::vector<char> seen;
    int received = 0, unique = 0, duplicated = 0, reordered = 0, foreign = 0, highest = -1;
    int64_t first = 0, last = 0;
};

inline void printLine(const char *word, int64_t value)
{
    std::printf("%s %lld\n", word, static_cast<long long>(value));
    std::fflush(stdout);
}

// "latency <p50_ns> <p99_ns> <rounds> <lost> <wrong>"; sorts `rtt`.
inline void printLatency(std::vector<int64_t> &rtt, int lost, int wrong)
{
    std::sort(rtt.begin(), rtt.end());
    const int64_t p50 = rtt.empty() ? 0 : rtt[rtt.size() / 2];
    const int64_t p99 = rtt.empty() ? 0 : rtt[std::min(rtt.size() - 1, rtt.size() * 99 / 100)];
    std::printf("latency %lld %lld %d %d %d\n", static_cast<long long>(p50), static_cast<long long>(p99),
                int(rtt.size()), lost, wrong);
    std::fflush(stdout);
}

// Identifiers and topics of the roles.
inline QString zqPublisher() { return QStringLiteral("ID_BENCH_PUB"); }
inline QString zqSubscriber(int i) { return QStringLiteral("ID_BENCH_SUB%1").arg(i); }
inline QString zqPinger() { return QStringLiteral("ID_BENCH_PING"); }
inline QString zqPonger() { return QStringLiteral("ID_BENCH_PONG"); }

// Roles, run in child processes; each returns the process exit code. The zq
// roles serve both the hub and the raw relay.
int zqSubscribe(int port, int expected, int index, int idleMs);
int zqPublish(int port, int count);
int zqPong(int port);
int zqPing(int port, int rounds);
int zqIdle(int port, int count);
int mqttSubscribe(int port, int expected, int index, int idleMs);
int mqttPublish(int port, int count);
int mqttPong(int port);
int mqttPing(int port, int rounds);
int mqttIdle(int port, int count);
// The raw epoll relay on 127.0.0.1:port, until killed.
int runRelay(int port);

} // namespace bench

#endif // BENCHCOMMON_H
