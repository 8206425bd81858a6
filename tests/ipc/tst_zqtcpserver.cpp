// The hub, driven by clients on plain sockets (127.0.0.1, free ports): routing,
// the hello, frame handling across reads, and the connections that misbehave.

#include "busharness.h"
#include "zqipc.h"
#include "zqsendmsgqueue.h"
#include "zqserverdispatch.h"

#include <QProcess>
#include <QtTest>

#include <cstring>
#include <memory>
#include <sys/resource.h>
#include <thread>

using bustest::RawPeer;

class TstZQTcpServer : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void routing_data();
    void routing();
    void succefulComesFirstUnderTraffic();
    void helloReadHoldsMoreFrames();
    void frameCutAcrossReads_data();
    void frameCutAcrossReads();
    void badLengthClosesOnlyThatConnection_data();
    void badLengthClosesOnlyThatConnection();
    void helloIsRequired_data();
    void helloIsRequired();
    void silentConnectionHoldsUpNobody();
    void endedConnectionsAreFreed();
    void stalledReaderDoesNotFreezeBus();
    void slowReaderDelaysNobody();
    void connectionBurstIsAnswered();
    void listenAddress_data();
    void listenAddress();
    void reconnectWhileOldConnectionIsOpen();
    void hubSurvivesWritesToResetPeer();
    void secondHubOnTakenPortExits();
    void closeServerEndsBlockedConnections();
    void restartOnTheSamePort();
    void monitorSeesEveryRoutedText();
    void slowMonitorLosesTextsAndIsTold();
    void monitorCannotSend();

private:
    std::unique_ptr<ZQIPC> m_hub;
    int m_port = 0;
};

void TstZQTcpServer::initTestCase()
{
    // One trace line per frame would drown the test log.
    QLoggingCategory::setFilterRules("vela.ipc.debug=false");
}

void TstZQTcpServer::init()
{
    m_hub.reset(new ZQIPC);
    QVERIFY(m_hub->createTcpServer(0));
    m_port = m_hub->serverPort();
    QVERIFY(m_port > 0);
}

void TstZQTcpServer::cleanup()
{
    ZQServerDispatch::setWriteTimeoutMs(2000);
    m_hub.reset();
}

void TstZQTcpServer::routing_data()
{
    // Steps, acted by peers A, B, C (each syncs after its step):
    //   "A+B" A subscribes to B      "A-B" A withdraws one subscription to B
    //   "B:t" B publishes t          "B*t" B broadcasts t
    //   "B>A:t" B sends t to A       "A~"  A reconnects under its identifier
    //   "A!"  A disconnects
    // Expected: what A, B and C received, in order.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("toA");
    QTest::addColumn<QStringList>("toB");
    QTest::addColumn<QStringList>("toC");

    QTest::newRow("subscribed twice: two copies")
        << QStringList{"A+B", "A+B", "B:m"} << QStringList{"m", "m"} << QStringList{} << QStringList{};
    QTest::newRow("unsubscribed once: one copy")
        << QStringList{"A+B", "A+B", "A-B", "B:m"} << QStringList{"m"} << QStringList{} << QStringList{};
    QTest::newRow("unsubscribed twice: none")
        << QStringList{"A+B", "A+B", "A-B", "A-B", "B:m"} << QStringList{} << QStringList{} << QStringList{};
    QTest::newRow("publish reaches only subscribers, in order")
        << QStringList{"C+B", "B:1", "B:2", "B:3"} << QStringList{} << QStringList{} << QStringList{"1", "2", "3"};
    QTest::newRow("publish with no subscribers")
        << QStringList{"B:lost", "A>C:after"} << QStringList{} << QStringList{} << QStringList{"after"};
    QTest::newRow("own publish only when self-subscribed")
        << QStringList{"B:x", "B+B", "B:y"} << QStringList{} << QStringList{"y"} << QStringList{};
    QTest::newRow("broadcast reaches all but the sender")
        << QStringList{"B*hello"} << QStringList{"hello"} << QStringList{} << QStringList{"hello"};
    QTest::newRow("directed")
        << QStringList{"B>A:for a"} << QStringList{"for a"} << QStringList{} << QStringList{};
    QTest::newRow("directed to a missing identifier is dropped, next goes on")
        << QStringList{"B>NOBODY:x", "B>C:y"} << QStringList{} << QStringList{} << QStringList{"y"};
    QTest::newRow("reconnect keeps subscriptions")
        << QStringList{"A+B", "A~", "B:again"} << QStringList{"again"} << QStringList{} << QStringList{};
    // A program that subscribes again after each start takes its earlier
    // connection's record over instead of adding a copy.
    QTest::newRow("subscribed again after a reconnect: one copy")
        << QStringList{"A+B", "A~", "A+B", "A~", "A+B", "B:m"} << QStringList{"m"} << QStringList{} << QStringList{};
    QTest::newRow("twice before a reconnect, once after: both kept")
        << QStringList{"A+B", "A+B", "A~", "A+B", "B:m"} << QStringList{"m", "m"} << QStringList{} << QStringList{};
    QTest::newRow("twice after a reconnect: the second one adds")
        << QStringList{"A+B", "A~", "A+B", "A+B", "B:m"} << QStringList{"m", "m"} << QStringList{} << QStringList{};
    QTest::newRow("withdrawn after a reconnect: none")
        << QStringList{"A+B", "A~", "A+B", "A-B", "B:m"} << QStringList{} << QStringList{} << QStringList{};
    QTest::newRow("another subscriber's record is not taken over")
        << QStringList{"C+B", "A+B", "A~", "A+B", "B:m"} << QStringList{"m"} << QStringList{} << QStringList{"m"};
    QTest::newRow("disconnected subscriber is skipped")
        << QStringList{"A+B", "C+B", "A!", "B:m"} << QStringList{} << QStringList{} << QStringList{"m"};
    QTest::newRow("marker inside a message travels whole")
        << QStringList{"A+B", "B:{\"k\":\"aZ&&Qb\"}Z&&Q", "B>C:xZ&&Qy", "B*pZ&&Q"}
        << QStringList{"{\"k\":\"aZ&&Qb\"}Z&&Q", "pZ&&Q"} << QStringList{} << QStringList{"xZ&&Qy", "pZ&&Q"};
    QTest::newRow("non-ASCII text")
        << QStringList{"B>A:{\"名\":\"白板 ✓\"}"} << QStringList{"{\"名\":\"白板 ✓\"}"} << QStringList{} << QStringList{};
    QTest::newRow("empty text still travels")
        << QStringList{"A+B", "B:", "B>C:"} << QStringList{""} << QStringList{} << QStringList{""};
}

void TstZQTcpServer::routing()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, toA);
    QFETCH(QStringList, toB);
    QFETCH(QStringList, toC);

    QMap<QChar, QString> ids;
    QMap<QChar, std::shared_ptr<RawPeer>> peers;
    for (QChar c : {QChar('A'), QChar('B'), QChar('C')}) {
        ids[c] = bustest::uniqueId(QString(c).toLatin1().constData());
        peers[c] = std::make_shared<RawPeer>();
        QVERIFY(peers[c]->join(m_port, ids[c]));
    }
    for (const QString &step : steps) {
        const QChar who = step.at(0);
        const QChar op = step.at(1);
        RawPeer &p = *peers[who];
        const QString rest = step.mid(2);
        switch (op.toLatin1()) {
        case '+': QVERIFY(p.subscribe(ids[rest.at(0)])); break;
        case '-': QVERIFY(p.unsubscribe(ids[rest.at(0)])); break;
        case ':': QVERIFY(p.publish(rest)); break;
        case '*': QVERIFY(p.broadcast(rest)); break;
        case '>': {
            const int colon = rest.indexOf(':');
            const QString target = rest.left(colon);
            QVERIFY(p.direct(target.size() == 1 ? ids[target.at(0)] : target, rest.mid(colon + 1)));
            break;
        }
        case '~': {
            const QStringList kept = p.inbox();
            peers[who] = std::make_shared<RawPeer>();
            QVERIFY(peers[who]->join(m_port, ids[who]));
            Q_UNUSED(kept);
            continue;
        }
        case '!': p.close(); continue;
        }
        QVERIFY2(p.sync(), qPrintable(step));
    }
    for (QChar c : {QChar('A'), QChar('B'), QChar('C')}) {
        if (peers[c]->fd() >= 0)
            QVERIFY(peers[c]->sync());   // flush whatever is still on its way
    }
    if (peers['A']->fd() >= 0)
        QCOMPARE(peers['A']->inbox(), toA);
    QCOMPARE(peers['B']->inbox(), toB);
    QCOMPARE(peers['C']->inbox(), toC);
}

void TstZQTcpServer::succefulComesFirstUnderTraffic()
{
    const QString target = bustest::uniqueId("NEW");
    RawPeer source;
    QVERIFY(source.join(m_port, bustest::uniqueId("SRC")));
    QVERIFY(source.direct(source.id(), "warm-up"));   // the hub knows the source
    std::atomic<bool> stop{false};
    std::thread flood([&] {
        // Directed texts for the newcomer, sent while it connects.
        int i = 0;
        while (!stop.load())
            if (!source.direct(target, QString("flood %1").arg(i++)))
                break;
    });
    bustest::ScopeExit joiner([&] {
        stop = true;
        flood.join();
    });
    for (int round = 0; round < 15; ++round) {
        RawPeer newcomer;
        QVERIFY2(newcomer.join(m_port, target), "first message was not \"succeful\"");
        QByteArray m;
        QVERIFY(newcomer.next(m, 3000));   // and the flood does reach it
        QVERIFY(m.startsWith("flood "));
    }
}

void TstZQTcpServer::helloReadHoldsMoreFrames()
{
    const QString id = bustest::uniqueId("EAGER");
    const int fd = bustest::connectTo(m_port);
    QVERIFY(fd >= 0);
    // Hello, a subscription to itself and a publish in one write.
    const QByteArray burst = bustest::frame(id) + bustest::frame("ZQ&&REGZ&&Q" + id + "Z&&Q" + id)
                             + bustest::frame(id + "Z&&Qfirst publish")
                             + bustest::frame("ZQ&&GIVZ&&Q" + id + "Z&&Qdirect");
    QVERIFY(bustest::writeAll(fd, burst));
    QByteArray carry;
    QList<QByteArray> got;
    QElapsedTimer clock;
    clock.start();
    while (got.size() < 3 && clock.elapsed() < 3000) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, 3000) <= 0)
            break;
        char buf[4096];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            break;
        ZQWire::takeReplies(carry, buf, int(n), got);
    }
    ::close(fd);
    QCOMPARE(got, (QList<QByteArray>{"succeful", "first publish", "direct"}));
}

void TstZQTcpServer::frameCutAcrossReads_data()
{
    QTest::addColumn<int>("textSize");
    QTest::addColumn<int>("pieces");
    QTest::newRow("byte by byte") << 40 << 44 + 20;   // more pieces than bytes: single bytes
    QTest::newRow("large frame in three") << 15000 << 3;
    QTest::newRow("largest frame in seven") << ZQWire::kMaxPayload - 80 << 7;
}

void TstZQTcpServer::frameCutAcrossReads()
{
    QFETCH(int, textSize);
    QFETCH(int, pieces);
    RawPeer p;
    QVERIFY(p.join(m_port, bustest::uniqueId("CUT")));
    QString text(textSize, QChar('x'));
    text.replace(0, 6, "begin:");
    text.replace(textSize - 4, 4, ":end");
    const QByteArray bytes = bustest::frame("ZQ&&GIVZ&&Q" + p.id() + "Z&&Q" + text)
                             + bustest::frame("ZQ&&GIVZ&&Q" + p.id() + "Z&&Qsecond");
    const int step = qMax(1, bytes.size() / pieces);
    for (int at = 0; at < bytes.size(); at += step) {
        QVERIFY(p.sendBytes(bytes.mid(at, step)));
        QTest::qWait(step == 1 ? 2 : 30);   // let the hub read each piece on its own
    }
    QByteArray m;
    QVERIFY(p.next(m, 3000));
    QCOMPARE(m.size(), textSize);
    QCOMPARE(QString::fromUtf8(m), text);
    QVERIFY(p.next(m, 3000));
    QCOMPARE(m, QByteArray("second"));
}

void TstZQTcpServer::badLengthClosesOnlyThatConnection_data()
{
    QTest::addColumn<qint32>("length");
    QTest::newRow("negative") << qint32(-1);
    QTest::newRow("one above the limit") << qint32(ZQWire::kMaxPayload + 1);
    QTest::newRow("huge") << qint32(0x7fffffff);
}

void TstZQTcpServer::badLengthClosesOnlyThatConnection()
{
    QFETCH(qint32, length);
    RawPeer bad, good;
    QVERIFY(bad.join(m_port, bustest::uniqueId("BAD")));
    QVERIFY(good.join(m_port, bustest::uniqueId("GOOD")));
    QByteArray bytes(reinterpret_cast<const char *>(&length), 4);
    bytes += QByteArray(64, 'z');
    QVERIFY(bad.sendBytes(bytes));
    QVERIFY(bad.waitClosed(3000));
    QVERIFY(good.sync());
    // The bad connection left the table: a text for it goes nowhere and the
    // router carries on.
    QVERIFY(good.direct(bad.id(), "gone"));
    QVERIFY(good.direct(good.id(), "still here"));
    QByteArray m;
    QVERIFY(good.next(m, 3000));
    QCOMPARE(m, QByteArray("still here"));
}

void TstZQTcpServer::helloIsRequired_data()
{
    QTest::addColumn<QByteArray>("opening");
    QTest::newRow("closes at once") << QByteArray();
    QTest::newRow("bad length") << QByteArray("\xff\xff\xff\xff", 4);
    QTest::newRow("reserved ID_ALL") << bustest::frame("ID_ALL");
    QTest::newRow("empty identifier") << bustest::frame("");
}

void TstZQTcpServer::helloIsRequired()
{
    QFETCH(QByteArray, opening);
    {
        const int fd = bustest::connectTo(m_port);
        QVERIFY(fd >= 0);
        if (!opening.isEmpty())
            QVERIFY(bustest::writeAll(fd, opening));
        else
            ::shutdown(fd, SHUT_WR);
        pollfd pfd{fd, POLLIN, 0};
        QVERIFY(::poll(&pfd, 1, 3000) == 1);
        char c;
        QCOMPARE(::recv(fd, &c, 1, 0), ssize_t(0));   // refused: closed, no "succeful"
        ::close(fd);
    }
    // The hub goes on accepting.
    RawPeer p;
    QVERIFY(p.join(m_port, bustest::uniqueId("AFTER")));
    QVERIFY(p.sync());
}

void TstZQTcpServer::silentConnectionHoldsUpNobody()
{
    // Connections that never say hello while others come and go.
    std::vector<int> silent;
    for (int i = 0; i < 5; ++i)
        silent.push_back(bustest::connectTo(m_port));
    bustest::ScopeExit closer([&] {
        for (int fd : silent)
            ::close(fd);
    });
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 5; ++i) {
        RawPeer p;
        QVERIFY(p.join(m_port, bustest::uniqueId("BUSY")));
        QVERIFY(p.sync());
    }
    // Each silent one would cost seconds if the hello were awaited in turn.
    QVERIFY2(clock.elapsed() < 1500, qPrintable(QString("took %1 ms").arg(clock.elapsed())));
}

namespace {
int threadCount()
{
    return QDir("/proc/self/task").entryList(QDir::Dirs | QDir::NoDotAndDotDot).size();
}
} // namespace

void TstZQTcpServer::endedConnectionsAreFreed()
{
    // The server thread never runs an event loop: ended connections must
    // still be cleaned up and their threads freed.
    const int before = threadCount();
    for (int i = 0; i < 60; ++i) {
        RawPeer p;
        QVERIFY(p.join(m_port, bustest::uniqueId("SHORT")));
    }
    QTRY_VERIFY_WITH_TIMEOUT(threadCount() <= before + 2, 5000);
    RawPeer p;   // and the hub still serves
    QVERIFY(p.join(m_port, bustest::uniqueId("AFTER")));
    QVERIFY(p.sync());
}

void TstZQTcpServer::stalledReaderDoesNotFreezeBus()
{
    ZQServerDispatch::setWriteTimeoutMs(400);
    const QString source = bustest::uniqueId("SRC");
    RawPeer stalled, fast, pub;
    QVERIFY(stalled.join(m_port, bustest::uniqueId("STALL"), 4096));
    QVERIFY(fast.join(m_port, bustest::uniqueId("FAST")));
    QVERIFY(pub.join(m_port, source));
    QVERIFY(stalled.subscribe(source));
    QVERIFY(stalled.sync());
    QVERIFY(fast.subscribe(source));
    QVERIFY(fast.sync());

    // 8 MB through the hub: far more than the stalled reader's socket buffers.
    const int count = 800;
    const QString body(10000, QChar('p'));
    std::thread sender([&] {
        for (int i = 0; i < count; ++i)
            pub.publish(QString("%1:").arg(i, 4, 10, QChar('0')) + body);
        pub.sync(20000);
    });
    bustest::ScopeExit joiner([&] {
        ::shutdown(pub.fd(), SHUT_RDWR);
        sender.join();
    });
    int received = 0;
    QByteArray m;
    while (received < count && fast.next(m, 10000)) {
        QCOMPARE(m.left(5), QString("%1:").arg(received, 4, 10, QChar('0')).toLatin1());
        ++received;
    }
    QCOMPARE(received, count);   // nothing lost for the reader that keeps up
    // The stalled reader is given up on once it has taken nothing for the
    // bound (reading now would make it a live reader again): its connection
    // ends after what it had buffered.
    QTest::qWait(3 * ZQServerDispatch::writeTimeoutMs());
    QVERIFY(stalled.waitClosed(20000));
}

void TstZQTcpServer::slowReaderDelaysNobody()
{
    // The default bound of 2 s: a router that waited on the stalled client
    // would hold every other text that long.
    const QString source = bustest::uniqueId("SRC");
    RawPeer stalled, pinger, pub;
    QVERIFY(stalled.join(m_port, bustest::uniqueId("STALL"), 4096));
    QVERIFY(pinger.join(m_port, bustest::uniqueId("PING")));
    QVERIFY(pub.join(m_port, source));
    QVERIFY(stalled.subscribe(source));
    QVERIFY(stalled.sync());
    std::thread sender([&] {
        // 8 MB: more than the stalled reader's socket buffers hold.
        const QString body(10000, QChar('p'));
        for (int i = 0; i < 800; ++i)
            if (!pub.publish(body))
                break;
    });
    bustest::ScopeExit joiner([&] {
        ::shutdown(pub.fd(), SHUT_RDWR);
        sender.join();
    });
    QElapsedTimer clock;
    clock.start();
    qint64 worstSync = 0;
    qint64 helloMs = -1;
    while (clock.elapsed() < 3000) {
        QElapsedTimer t;
        t.start();
        QVERIFY(pinger.sync(5000));
        worstSync = qMax(worstSync, t.elapsed());
        if (helloMs < 0 && clock.elapsed() > 1000) {   // a newcomer while the stall lasts
            t.restart();
            RawPeer late;
            QVERIFY(late.join(m_port, bustest::uniqueId("LATE")));
            helloMs = t.elapsed();
        }
        QTest::qWait(20);
    }
    QVERIFY2(worstSync < 1000, qPrintable(QString("a text took %1 ms").arg(worstSync)));
    QVERIFY2(helloMs >= 0 && helloMs < 1000, qPrintable(QString("the hello took %1 ms").arg(helloMs)));
    // The stalled reader is still given up on once the bound has passed.
    QVERIFY(stalled.waitClosed(10000));
}

namespace {
// Raises the soft limit of open descriptors to what `need` takes; false when
// the hard limit does not allow it.
bool allowDescriptors(rlim_t need)
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return false;
    if (limit.rlim_cur >= need)
        return true;
    if (limit.rlim_max < need)
        return false;
    limit.rlim_cur = need;
    return ::setrlimit(RLIMIT_NOFILE, &limit) == 0;
}
} // namespace

void TstZQTcpServer::connectionBurstIsAnswered()
{
    // The whole suite starting after a log-in: every client connects at once.
    const int count = 500;
    // Each client here and its connection in the hub take a descriptor.
    if (!allowDescriptors(3 * count + 100))
        QSKIP("not enough file descriptors allowed");
    std::vector<int> fds;
    bustest::ScopeExit closer([&] {
        for (int fd : fds)
            ::close(fd);
    });
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(quint16(m_port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < count; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        QVERIFY(fd >= 0);
        fds.push_back(fd);
        const int r = ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr);
        QVERIFY2(r == 0 || errno == EINPROGRESS, std::strerror(errno));
    }
    // Hello as soon as a connection is up, then wait for every "succeful".
    std::vector<int> state(count, 0);   // 0 connecting, 1 hello sent, 2 answered
    std::vector<QByteArray> got(count);
    int answered = 0;
    while (answered < count && clock.elapsed() < 10000) {
        std::vector<pollfd> pfds;
        std::vector<int> index;
        for (int i = 0; i < count; ++i) {
            if (state[i] < 2) {
                pfds.push_back({fds[i], short(state[i] == 0 ? POLLOUT : POLLIN), 0});
                index.push_back(i);
            }
        }
        if (::poll(pfds.data(), nfds_t(pfds.size()), 100) < 0)
            break;
        for (size_t k = 0; k < pfds.size(); ++k) {
            if (!pfds[k].revents)
                continue;
            const int i = index[k];
            if (state[i] == 0) {
                int err = 0;
                socklen_t len = sizeof err;
                ::getsockopt(fds[i], SOL_SOCKET, SO_ERROR, &err, &len);
                QVERIFY2(err == 0, std::strerror(err));
                QVERIFY(bustest::writeAll(fds[i], bustest::frame(QString("ID_TST_BURST_%1").arg(i))));
                state[i] = 1;
                continue;
            }
            char buf[64];
            const ssize_t n = ::recv(fds[i], buf, sizeof buf, 0);
            QVERIFY2(n > 0, qPrintable(QString("connection %1 closed by the hub").arg(i)));
            got[i].append(buf, int(n));
            if (got[i].size() >= 9) {
                QCOMPARE(got[i], QByteArray("succeful", 9));
                state[i] = 2;
                ++answered;
            }
        }
    }
    QVERIFY2(answered == count && clock.elapsed() < 5000,
             qPrintable(QString("%1 of %2 hellos answered in %3 ms").arg(answered).arg(count).arg(clock.elapsed())));
}

void TstZQTcpServer::listenAddress_data()
{
    QTest::addColumn<bool>("allAddresses");
    QTest::newRow("this machine only by default") << false;
    QTest::newRow("every address when asked") << true;
}

void TstZQTcpServer::listenAddress()
{
    QFETCH(bool, allAddresses);
    // One hub per process at a time: they share the routing queue.
    m_hub.reset();
    m_hub.reset(new ZQIPC);
    QVERIFY(m_hub->createTcpServer(0, allAddresses));
    const int port = m_hub->serverPort();
    // 127.0.0.2 is this machine too, but not the address 127.0.0.1: it stands
    // for any other address the panel has.
    const auto reaches = [&](const char *ip) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(quint16(port));
        ::inet_pton(AF_INET, ip, &addr.sin_addr);
        const bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
        ::close(fd);
        return ok;
    };
    QVERIFY(reaches("127.0.0.1"));
    QCOMPARE(reaches("127.0.0.2"), allAddresses);
}

void TstZQTcpServer::reconnectWhileOldConnectionIsOpen()
{
    const QString id = bustest::uniqueId("TWIN");
    RawPeer older, newer, other;
    QVERIFY(older.join(m_port, id));
    QVERIFY(newer.join(m_port, id));
    QVERIFY(other.join(m_port, bustest::uniqueId("OTHER")));
    // The newer connection takes the identifier over; the older one, which
    // would hear nothing any more, is closed so its owner notices.
    QVERIFY(older.waitClosed(3000));
    QCOMPARE(older.inbox(), QStringList{});
    // Its end must not take the newer one out of the table.
    QTest::qWait(200);
    QVERIFY(other.direct(id, "one"));
    QVERIFY(other.direct(id, "two"));
    QVERIFY(other.sync());
    // The router may write other connections' shares of a batch a moment
    // after the sync token: wait for the texts rather than assume they are there.
    QTRY_COMPARE(newer.inbox(), (QStringList{"one", "two"}));
}

void TstZQTcpServer::hubSurvivesWritesToResetPeer()
{
    const QString source = bustest::uniqueId("SRC");
    RawPeer pub, witness;
    QVERIFY(pub.join(m_port, source));
    QVERIFY(witness.join(m_port, bustest::uniqueId("WIT")));
    for (int round = 0; round < 5; ++round) {
        RawPeer gone;
        QVERIFY(gone.join(m_port, bustest::uniqueId("GONE")));
        QVERIFY(gone.subscribe(source));
        QVERIFY(gone.sync());
        // Reset the connection so the hub's next writes hit a dead socket.
        linger lg{1, 0};
        ::setsockopt(gone.fd(), SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
        gone.close();
        for (int i = 0; i < 50; ++i)
            QVERIFY(pub.publish(QString(3000, QChar('d'))));
        QVERIFY(pub.sync());
    }
    QVERIFY(pub.direct(witness.id(), "alive"));
    QTRY_COMPARE(witness.inbox(), QStringList{"alive"});
}

void TstZQTcpServer::secondHubOnTakenPortExits()
{
    QProcess second;
    second.start(QString(VELA_BIN_DIR) + "/zqbus", {"hub", "--port", QString::number(m_port)});
    QVERIFY2(second.waitForFinished(10000), "the second hub did not end");
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 1);
    QVERIFY2(second.readAllStandardError().contains("call to bind"), "no \"call to bind\" message");
    // The first hub is untouched.
    RawPeer p;
    QVERIFY(p.join(m_port, bustest::uniqueId("STILL")));
}

void TstZQTcpServer::closeServerEndsBlockedConnections()
{
    ZQServerDispatch::setWriteTimeoutMs(60000);   // only closeServer can end this
    const QString source = bustest::uniqueId("SRC");
    RawPeer stalled, quiet;
    QVERIFY(stalled.join(m_port, bustest::uniqueId("STALL"), 4096));
    QVERIFY(quiet.join(m_port, bustest::uniqueId("QUIET")));
    QVERIFY(stalled.subscribe(source));
    QVERIFY(stalled.sync());
    // A publisher whose texts the stalled reader never takes: that
    // connection's writer waits on it, with the rest piling up in its outbox
    // (10 MB, below the outbox bound).
    const int fd = bustest::connectTo(m_port);
    QVERIFY(bustest::writeAll(fd, bustest::frame(source)));
    std::thread flood([&] {
        const QByteArray f = bustest::frame(source + "Z&&Q" + QString(10000, QChar('f')));
        for (int i = 0; i < 1000; ++i)
            if (!bustest::writeAll(fd, f))
                break;
    });
    bustest::ScopeExit joiner([&] {
        ::shutdown(fd, SHUT_RDWR);
        flood.join();
        ::close(fd);
    });
    QTest::qWait(500);
    QVERIFY(quiet.sync());   // the router itself is not held up
    QElapsedTimer clock;
    clock.start();
    m_hub->closeServer();
    QVERIFY2(clock.elapsed() < 5000, "closeServer hung on blocked connections");
    QVERIFY(quiet.waitClosed(3000));
}

void TstZQTcpServer::restartOnTheSamePort()
{
    // Connections closed by the hub linger in TIME_WAIT on its port; a
    // restarted hub must still bind it (a failed bind would end this process).
    {
        RawPeer a, b;
        QVERIFY(a.join(m_port, bustest::uniqueId("OLD_A")));
        QVERIFY(b.join(m_port, bustest::uniqueId("OLD_B")));
        QVERIFY(a.direct(b.id(), "before"));
        QVERIFY(a.sync());
        m_hub->closeServer();
        QVERIFY(a.waitClosed(3000));
        QVERIFY(b.waitClosed(3000));
    }
    QCOMPARE(m_hub->serverPort(), -1);
    QVERIFY(!m_hub->createTcpServer(70000));   // refused, not wrapped to another port
    QVERIFY(m_hub->createTcpServer(m_port));
    QVERIFY(!m_hub->createTcpServer(0));       // one hub per facade
    QCOMPARE(m_hub->serverPort(), m_port);
    RawPeer c;
    QVERIFY(c.join(m_port, bustest::uniqueId("NEW")));
    QVERIFY(c.sync());
}

namespace {
// A monitor on a plain socket: its hello, then records.
bool joinAsMonitor(RawPeer &monitor, int port, int rcvbuf = 0)
{
    return monitor.join(port, "ZQ&&MONZ&&Qtest", rcvbuf);
}

QString describe(const QByteArray &bytes)
{
    ZQWire::MonitorRecord r;
    if (!ZQWire::parseMonitorRecord(bytes, r))
        return "not a record: " + QString::fromUtf8(bytes);
    return QString("%1 %2>%3 %4 %5").arg(r.kind, r.from, r.to.join(','), QString::number(r.delivered),
                                         QString::fromUtf8(r.text));
}
} // namespace

void TstZQTcpServer::monitorSeesEveryRoutedText()
{
    RawPeer monitor, a, b, c;
    QVERIFY(joinAsMonitor(monitor, m_port));
    QVERIFY(a.join(m_port, "ID_MON_A"));
    QVERIFY(b.join(m_port, "ID_MON_B"));
    QVERIFY(c.join(m_port, "ID_MON_C"));
    const qint64 before = QDateTime::currentMSecsSinceEpoch() * 1000;
    QVERIFY(c.subscribe("ID_MON_B"));
    QVERIFY(c.sync());
    QVERIFY(a.direct("ID_MON_B", "{\"eventid\":\"PEN\"}"));
    QVERIFY(a.sync());
    QVERIFY(b.publish("published"));
    QVERIFY(b.sync());
    QVERIFY(b.broadcast("to all"));
    QVERIFY(b.sync());
    QVERIFY(a.direct("ID_MON_NOBODY", "lost"));
    QVERIFY(a.sync());
    QVERIFY(c.unsubscribe("ID_MON_B"));
    QVERIFY(c.sync());
    // Every routed text in routing order (the sync texts are directed ones too).
    const QStringList want{"subscribe ID_MON_C>ID_MON_B 0 ",
                           "directed ID_MON_C>ID_MON_C 1 sync",
                           "directed ID_MON_A>ID_MON_B 1 {\"eventid\":\"PEN\"}",
                           "directed ID_MON_A>ID_MON_A 1 sync",
                           "publish ID_MON_B>ID_MON_C 1 published",
                           "directed ID_MON_B>ID_MON_B 1 sync",
                           "broadcast ID_MON_B>ID_MON_A,ID_MON_C 2 to all",
                           "directed ID_MON_B>ID_MON_B 1 sync",
                           "directed ID_MON_A>ID_MON_NOBODY 0 lost",
                           "directed ID_MON_A>ID_MON_A 1 sync",
                           "unsubscribe ID_MON_C>ID_MON_B 0 ",
                           "directed ID_MON_C>ID_MON_C 1 sync"};
    QStringList got;
    QByteArray m;
    qint64 lastTime = before;
    while (got.size() < want.size() && monitor.next(m, 3000)) {
        QString line = describe(m);
        line.replace(QRegularExpression(" sync-\\S+$"), " sync");
        got << line;
        ZQWire::MonitorRecord r;
        QVERIFY(ZQWire::parseMonitorRecord(m, r));
        QVERIFY(r.timeUs >= lastTime - 1000);   // wall-clock microseconds, in order
        lastTime = r.timeUs;
    }
    QCOMPARE(got, want);
    // Nothing of it reached the clients as anything but their own texts.
    QCOMPARE(b.inbox(), QStringList{"{\"eventid\":\"PEN\"}"});
    QCOMPARE(c.inbox(), (QStringList{"published", "to all"}));
    QCOMPARE(a.inbox(), QStringList{"to all"});
}

void TstZQTcpServer::slowMonitorLosesTextsAndIsTold()
{
    ZQServerDispatch::setMonitorBufferBytes(64 * 1024);
    bustest::ScopeExit reset([] { ZQServerDispatch::setMonitorBufferBytes(0); });
    RawPeer monitor, fast, pub;
    QVERIFY(joinAsMonitor(monitor, m_port, 4096));   // and it reads nothing for now
    QVERIFY(fast.join(m_port, bustest::uniqueId("FAST")));
    QVERIFY(pub.join(m_port, bustest::uniqueId("PUB")));
    QVERIFY(fast.subscribe(pub.id()));
    QVERIFY(fast.sync());
    QByteArray m;
    const int count = 3000;
    const QString body(1000, QChar('m'));
    std::thread sender([&] {
        for (int i = 0; i < count; ++i)
            pub.publish(QString("%1:").arg(i, 4, 10, QChar('0')) + body);
    });
    bustest::ScopeExit joiner([&] { sender.join(); });
    // The fast subscriber gets everything, in order, while the monitor sleeps.
    for (int i = 0; i < count; ++i) {
        QVERIFY2(fast.next(m, 10000), qPrintable(QString("only %1 arrived").arg(i)));
        QCOMPARE(m.left(5), QString("%1:").arg(i, 4, 10, QChar('0')).toLatin1());
    }
    // The monitor then gets what fitted and is told how many it lost.
    int publishes = 0, lost = 0, notices = 0;
    while (monitor.next(m, 1000)) {
        ZQWire::MonitorRecord r;
        QVERIFY(ZQWire::parseMonitorRecord(m, r));
        if (r.kind == "lost") {
            lost += r.text.toInt();
            ++notices;
        } else if (r.kind == "publish" && r.from == pub.id()) {
            ++publishes;
        }
    }
    QVERIFY(notices > 0);
    QVERIFY(publishes > 0);
    QCOMPARE(publishes + lost, count);
}

void TstZQTcpServer::monitorCannotSend()
{
    RawPeer monitor, target;
    QVERIFY(joinAsMonitor(monitor, m_port));
    QVERIFY(target.join(m_port, bustest::uniqueId("TARGET")));
    QVERIFY(monitor.direct(target.id(), "from a monitor"));
    QVERIFY(monitor.waitClosed(3000));
    QVERIFY(target.sync());
    QCOMPARE(target.inbox(), QStringList{});
}

QTEST_GUILESS_MAIN(TstZQTcpServer)
#include "tst_zqtcpserver.moc"
