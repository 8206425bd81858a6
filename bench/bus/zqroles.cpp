// The benchmark's bus clients: plain sockets speaking the bus's wire format,
// the same code against the hub and against the raw relay, so that only the
// server differs.

#include "benchcommon.h"
#include "zqwire.h"

#include <QList>

#include <memory>

#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace bench {

namespace {

class Client
{
public:
    ~Client()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    // Connects, says hello and waits for the greeting.
    bool join(int port, const QString &id)
    {
        m_id = id.toUtf8();
        m_fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(quint16(port));
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(m_fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) < 0)
            return false;
        const int one = 1;
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        QByteArray greeting;
        return sendText(m_id) && next(greeting, 5000) && greeting == "succeful";
    }
    static QByteArray frame(const QByteArray &text)
    {
        QByteArray out;
        ZQWire::appendFrame(out, text);
        return out;
    }
    bool sendText(const QByteArray &text) { return sendBytes(frame(text)); }
    bool direct(const QByteArray &to, const QByteArray &text) { return sendText("ZQ&&GIVZ&&Q" + to + "Z&&Q" + text); }
    bool sendBytes(const QByteArray &bytes)
    {
        int done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::send(m_fd, bytes.constData() + done, size_t(bytes.size() - done), MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            done += int(n);
        }
        return true;
    }
    // The next message, waiting at most timeoutMs; false on timeout or end.
    bool next(QByteArray &message, int timeoutMs)
    {
        while (m_ready.isEmpty()) {
            pollfd pfd{m_fd, POLLIN, 0};
            if (::poll(&pfd, 1, timeoutMs) <= 0)
                return false;
            char buf[65536];
            const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
            if (n <= 0)
                return false;
            ZQWire::takeReplies(m_carry, buf, int(n), m_ready);
        }
        message = m_ready.takeFirst();
        return true;
    }
    const QByteArray &id() const { return m_id; }

private:
    int m_fd = -1;
    QByteArray m_id, m_carry;
    QList<QByteArray> m_ready;
};

const QByteArray kReady = "bench-ready";

} // namespace

int zqSubscribe(int port, int expected, int index, int idleMs)
{
    Client c;
    if (!c.join(port, zqSubscriber(index)))
        return 3;
    c.sendText("ZQ&&REGZ&&Q" + zqPublisher().toUtf8() + "Z&&Q" + c.id());
    c.direct(c.id(), kReady);   // routed behind the subscription
    Tally tally(expected);
    QByteArray m;
    while (!tally.complete()) {
        if (!c.next(m, tally.received > 0 ? idleMs : 60000))
            break;
        if (m == kReady)
            printLine("ready", nowNs());
        else
            tally.add(seqOf(m.constData(), m.size()));
    }
    tally.print();
    return 0;
}

int zqPublish(int port, int count)
{
    Client c;
    if (!c.join(port, zqPublisher()))
        return 3;
    // Frames written in large pieces, as a busy program's socket sends them.
    QByteArray all;
    for (int i = 0; i < count; ++i)
        all.append(Client::frame(zqPublisher().toUtf8() + "Z&&Q" + message(i)));
    printLine("start", nowNs());
    int failed = 0;
    constexpr int kPiece = 64 * 1024;
    for (int at = 0; at < all.size(); at += kPiece)
        failed += c.sendBytes(all.mid(at, kPiece)) ? 0 : 1;
    printLine("done", nowNs());
    printLine("failed", failed);
    return 0;
}

int zqPong(int port)
{
    Client c;
    if (!c.join(port, zqPonger()))
        return 3;
    c.direct(c.id(), kReady);
    QByteArray m;
    const QByteArray pinger = zqPinger().toUtf8();
    while (c.next(m, 120000)) {
        if (m == "quit")
            break;
        if (m == kReady)
            printLine("ready", nowNs());
        else
            c.direct(pinger, m);
    }
    return 0;
}

int zqPing(int port, int rounds)
{
    Client c;
    if (!c.join(port, zqPinger()))
        return 3;
    std::vector<int64_t> rtt;
    rtt.reserve(size_t(rounds));
    int lost = 0, wrong = 0;
    const QByteArray ponger = zqPonger().toUtf8();
    QByteArray m;
    for (int i = 0; i < rounds; ++i) {
        const QByteArray text = message(i);
        const int64_t sentAt = nowNs();
        c.direct(ponger, text);
        bool answered = false;
        while (c.next(m, 1000)) {
            if (seqOf(m.constData(), m.size()) == i) {
                answered = true;
                break;
            }
            ++wrong;
        }
        if (answered)
            rtt.push_back(nowNs() - sentAt);
        else
            ++lost;
    }
    c.direct(ponger, "quit");
    printLatency(rtt, lost, wrong);
    return 0;
}

int zqIdle(int port, int count)
{
    // Joined connections that stay until the process is ended.
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < count; ++i) {
        clients.push_back(std::make_unique<Client>());
        if (!clients.back()->join(port, QString("ID_BENCH_IDLE%1").arg(i)))
            clients.pop_back();
    }
    printLine("joined", int64_t(clients.size()));
    ::pause();
    return 0;
}

} // namespace bench
