// The facade and its client: the bytes it writes, its results, how it reads
// the hub's messages, and many clients at once through a real hub.

#include "busharness.h"
#include "zqipc.h"

#include <QMutex>
#include <QSignalSpy>
#include <QtTest>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

using bustest::FakeHub;
using bustest::RawPeer;

namespace {
const char kLocal[] = "127.0.0.1";

QByteArray le32(int n)
{
    const qint32 v = n;
    return QByteArray(reinterpret_cast<const char *>(&v), 4);
}
QByteArray withLength(const QByteArray &payload) { return le32(payload.size()) + payload; }

// A port on which nothing listens any more.
int deadPort()
{
    FakeHub gone;
    return gone.port();
}
} // namespace

class TstZQIPC : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();

    void wireBytes_data();
    void wireBytes();
    void results_data();
    void results();
    void secondCreateTcpClientIsRefused();
    void failedConnectStaysFailed();
    void firstTextIsSucceful();
    void readsSplitAtEveryNul_data();
    void readsSplitAtEveryNul();
    void sendsFromThreadsNeverInterleave();
    void writeToClosedHubFails();
    void closeClientReleasesBlockedRead();
    void textSentJustBeforeCloseArrives();
    void manyClientsLoseNothing();
    void reconnectingRejoinsRestartedHub();
    void reconnectingBacksOffWhenHubKeepsClosing();
    void reconnectingJoinStartedOnAnotherThread();
    void rejoinSendsTheSubscriptionsHeld_data();
    void rejoinSendsTheSubscriptionsHeld();
    void rejoinDeliversEachPublishOnce();
    void subscribingAndSendingWhileRejoining();
};

void TstZQIPC::initTestCase()
{
    QLoggingCategory::setFilterRules("vela.ipc.debug=false");
}

void TstZQIPC::wireBytes_data()
{
    QTest::addColumn<QString>("call");      // "publish", "send", "register", "delete"
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("wire");

    const QByteArray chinese = QString::fromUtf8("{\"param\":\"笔的颜色\"}").toUtf8();
    QTest::newRow("publish: length 24") << "publish" << "" << "abc"
                                        << le32(24) + QByteArray("ID_APP_VELACENTERZ&&Qabc");
    QTest::newRow("broadcast: length 35") << "send" << "ID_ALL" << "abc"
                                          << le32(35) + QByteArray("ZQ&&ALLZ&&QID_APP_VELACENTERZ&&Qabc");
    QTest::newRow("directed") << "send" << "ID_APP_OTHER" << "abc"
                              << withLength("ZQ&&GIVZ&&QID_APP_OTHERZ&&Qabc");
    QTest::newRow("raw frame") << "send" << "ID_NULL" << "anything at all"
                               << le32(15) + QByteArray("anything at all");
    QTest::newRow("non-ASCII counted in bytes") << "publish" << "" << QString::fromUtf8(chinese)
                                                << le32(21 + chinese.size()) + "ID_APP_VELACENTERZ&&Q" + chinese;
    QTest::newRow("empty publish") << "publish" << "" << ""
                                   << le32(21) + QByteArray("ID_APP_VELACENTERZ&&Q");
    QTest::newRow("subscribe") << "register" << "" << "ID_APP_SRC"
                               << withLength("ZQ&&REGZ&&QID_APP_SRCZ&&QID_APP_VELACENTER");
    QTest::newRow("unsubscribe") << "delete" << "" << "ID_APP_SRC"
                                 << withLength("ZQ&&DELZ&&QID_APP_SRCZ&&QID_APP_VELACENTER");
}

void TstZQIPC::wireBytes()
{
    QFETCH(QString, call);
    QFETCH(QString, target);
    QFETCH(QString, text);
    QFETCH(QByteArray, wire);

    FakeHub hub;
    ZQIPC bus;
    QVERIFY(bus.createTcpClient("ID_APP_VELACENTER", kLocal, hub.port()));
    QVERIFY(hub.accept());
    QByteArray raw;
    QCOMPARE(hub.frames(1, 3000, &raw), QList<QByteArray>{"ID_APP_VELACENTER"});
    QCOMPARE(raw, le32(17) + QByteArray("ID_APP_VELACENTER"));   // the hello, alone
    hub.clearRaw();

    if (call == "publish")
        QCOMPARE(bus.sentInfo(text), 0);
    else if (call == "send")
        QCOMPARE(bus.sentInfo(target, text), 0);
    else if (call == "register")
        bus.registerMsgAccept(text);
    else
        bus.deleteMsgAccept(text);
    QCOMPARE(hub.frames(1, 3000, &raw).size(), 1);
    QCOMPARE(raw, wire);   // exactly these bytes, nothing behind them
}

void TstZQIPC::results_data()
{
    QTest::addColumn<QString>("situation");
    QTest::addColumn<int>("publishResult");
    QTest::addColumn<int>("directedResult");
    QTest::newRow("no client") << "none" << -1 << -1;
    QTest::newRow("connected") << "connected" << 0 << 0;
    QTest::newRow("connect failed") << "failed" << 1 << 1;
    QTest::newRow("client closed") << "closed" << 1 << 1;
    QTest::newRow("text too long for a frame") << "too long" << 1 << 1;
    QTest::newRow("largest text that fits") << "largest" << 0 << 0;
}

void TstZQIPC::results()
{
    QFETCH(QString, situation);
    QFETCH(int, publishResult);
    QFETCH(int, directedResult);

    FakeHub hub;
    ZQIPC bus;
    QString text = "{\"eventid\":\"X\"}";
    const QString own = "ID_APP_R";
    if (situation == "failed") {
        QVERIFY(!bus.createTcpClient(own, kLocal, deadPort()));
    } else if (situation != "none") {
        QVERIFY(bus.createTcpClient(own, kLocal, hub.port()));
        QVERIFY(hub.accept());
    }
    if (situation == "closed")
        bus.closeClient();
    // A publish frame carries own + "Z&&Q" + text; a directed one
    // "ZQ&&GIVZ&&Q" + target + "Z&&Q" + text.
    const QString target = "ID_APP_T";
    int publishRoom = ZQWire::kMaxPayload - own.size() - 4;
    int directedRoom = ZQWire::kMaxPayload - 11 - target.size() - 4;
    if (situation == "too long") {
        QCOMPARE(bus.sentInfo(QString(publishRoom + 1, QChar('x'))), publishResult);
        QCOMPARE(bus.sentInfo(target, QString(directedRoom / 3 + 1, QChar(0x767d))), directedResult);   // 3 bytes each
        QCOMPARE(hub.frames(2, 300).size(), 1);   // only the hello: nothing truncated was sent
        return;
    }
    if (situation == "largest") {
        QCOMPARE(bus.sentInfo(QString(publishRoom, QChar('x'))), publishResult);
        QCOMPARE(bus.sentInfo(target, QString(directedRoom, QChar('y'))), directedResult);
        const QList<QByteArray> frames = hub.frames(3);
        QCOMPARE(frames.size(), 3);
        QCOMPARE(frames[1].size(), ZQWire::kMaxPayload);
        QCOMPARE(frames[2].size(), ZQWire::kMaxPayload);
        return;
    }
    QCOMPARE(bus.sentInfo(text), publishResult);
    QCOMPARE(bus.sentInfo(target, text), directedResult);
}

void TstZQIPC::secondCreateTcpClientIsRefused()
{
    FakeHub hub, other;
    ZQIPC bus;
    QVERIFY(bus.createTcpClient("ID_APP_ONE", kLocal, hub.port()));
    QVERIFY(hub.accept());
    QVERIFY(!bus.createTcpClient("ID_APP_TWO", kLocal, other.port()));
    QVERIFY(!other.accept(200));   // no second connection was made
    QCOMPARE(bus.sentInfo("still"), 0);
    QCOMPARE(hub.frames(2), (QList<QByteArray>{"ID_APP_ONE", "ID_APP_ONEZ&&Qstill"}));
}

void TstZQIPC::failedConnectStaysFailed()
{
    ZQIPC bus;
    QVERIFY(!bus.createTcpClient("ID_APP_F", kLocal, deadPort()));
    FakeHub hub;
    QVERIFY(!bus.createTcpClient("ID_APP_F", kLocal, hub.port()));   // once per facade
    QCOMPARE(bus.sentInfo("x"), 1);
    QVERIFY(!bus.isConnected());
    ZQIPC bad;
    QVERIFY(!bad.createTcpClient("ID_APP_F", "not an address", hub.port()));
    QVERIFY(!hub.accept(100));
}

void TstZQIPC::firstTextIsSucceful()
{
    ZQIPC hub;
    QVERIFY(hub.createTcpServer(0));
    ZQIPC bus;
    QSignalSpy spy(&bus, &ZQIPC::sigRecvInfo);
    QVERIFY(bus.createTcpClient(bustest::uniqueId("FIRST"), kLocal, hub.serverPort()));
    QVERIFY(spy.wait(3000));
    QCOMPARE(spy.first().first().toString(), QString("succeful"));
}

void TstZQIPC::readsSplitAtEveryNul_data()
{
    QTest::addColumn<QList<QByteArray>>("writes");
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("several in one read")
        << QList<QByteArray>{QByteArray("succeful\0one\0two\0three\0", 23)}
        << QStringList{"succeful", "one", "two", "three"};
    QTest::newRow("cut across reads")
        << QList<QByteArray>{QByteArray("{\"a\":"), QByteArray("1}\0{\"b\"", 7), QByteArray(":2}\0", 4)}
        << QStringList{"{\"a\":1}", "{\"b\":2}"};
    QTest::newRow("UTF-8 character cut in two")
        << QList<QByteArray>{QByteArray("\xe7\x99"), QByteArray("\xbd\0", 2)}
        << QStringList{QString::fromUtf8("白")};
    QTest::newRow("empty text") << QList<QByteArray>{QByteArray("\0x\0", 3)} << QStringList{"", "x"};
}

void TstZQIPC::readsSplitAtEveryNul()
{
    QFETCH(QList<QByteArray>, writes);
    QFETCH(QStringList, texts);
    FakeHub hub;
    ZQIPC bus;
    QStringList got;
    connect(&bus, &ZQIPC::sigRecvInfo, this, [&](const QString &t) { got << t; });
    QVERIFY(bus.createTcpClient("ID_APP_READER", kLocal, hub.port()));
    QVERIFY(hub.accept());
    for (const QByteArray &w : writes) {
        QVERIFY(hub.write(w));
        QTest::qWait(40);   // separate reads on the client side
    }
    QTRY_COMPARE(got, texts);
}

void TstZQIPC::sendsFromThreadsNeverInterleave()
{
    FakeHub hub;
    ZQIPC bus;
    QVERIFY(bus.createTcpClient("ID_APP_MT", kLocal, hub.port()));
    QVERIFY(hub.accept());
    const int threads = 4, perThread = 1500;
    std::vector<std::thread> senders;
    std::atomic<int> failures{0};
    for (int t = 0; t < threads; ++t) {
        senders.emplace_back([&, t] {
            for (int i = 0; i < perThread; ++i) {
                // Sizes vary so that large and small writes overlap.
                const QString text = QString("%1/%2/").arg(t).arg(i) + QString((i * 37) % 9000, QChar('a' + t));
                if (bus.sentInfo(text) != 0)
                    ++failures;
            }
        });
    }
    QList<QByteArray> frames = hub.frames(1 + threads * perThread, 20000);
    for (auto &s : senders)
        s.join();
    QCOMPARE(failures.load(), 0);
    QCOMPARE(frames.size(), 1 + threads * perThread);
    QVector<int> nextOf(threads, 0);
    for (int k = 1; k < frames.size(); ++k) {
        const QByteArray &f = frames[k];
        QVERIFY(f.startsWith("ID_APP_MTZ&&Q"));
        const QList<QByteArray> parts = f.mid(13).split('/');
        QCOMPARE(parts.size(), 3);
        const int t = parts[0].toInt(), i = parts[1].toInt();
        QCOMPARE(i, nextOf[t]++);   // in order per thread
        QCOMPARE(parts[2], QByteArray((i * 37) % 9000, char('a' + t)));   // whole, unmixed
    }
}

void TstZQIPC::writeToClosedHubFails()
{
    FakeHub hub;
    ZQIPC bus;
    QVERIFY(bus.createTcpClient("ID_APP_PIPE", kLocal, hub.port()));
    QVERIFY(hub.accept());
    hub.closePeer();
    // Without protection the broken pipe would end this process here.
    int result = 0;
    for (int i = 0; i < 200 && result == 0; ++i) {
        result = bus.sentInfo(QString(1000, QChar('p')));
        QTest::qWait(5);
    }
    QCOMPARE(result, 1);
    QTRY_VERIFY(!bus.isConnected());
    QCOMPARE(bus.sentInfo("after"), 1);
}

void TstZQIPC::closeClientReleasesBlockedRead()
{
    FakeHub hub;
    auto bus = std::make_unique<ZQIPC>();
    QVERIFY(bus->createTcpClient("ID_APP_IDLE", kLocal, hub.port()));
    QVERIFY(hub.accept());
    hub.frames(1);
    QTest::qWait(100);   // the receive thread sits in its read
    QElapsedTimer clock;
    clock.start();
    bus->closeClient();
    bus.reset();   // frees the client and its thread
    QVERIFY2(clock.elapsed() < 2000, "closeClient did not release the read");
    QByteArray raw;
    hub.frames(1, 1000, &raw);
    QCOMPARE(raw, le32(11) + QByteArray("ID_APP_IDLE"));   // nothing more, then end of stream
}

void TstZQIPC::textSentJustBeforeCloseArrives()
{
    ZQIPC hub;
    QVERIFY(hub.createTcpServer(0));
    RawPeer listener;
    QVERIFY(listener.join(hub.serverPort(), bustest::uniqueId("LAST")));
    for (int i = 0; i < 20; ++i) {
        ZQIPC bus;
        QVERIFY(bus.createTcpClient(bustest::uniqueId("BRIEF"), kLocal, hub.serverPort()));
        QCOMPARE(bus.sentInfo(listener.id(), QString("last words %1").arg(i)), 0);
        bus.closeClient();
    }
    // Each came over its own connection, so their order may differ.
    QSet<QByteArray> got, want;
    QByteArray m;
    for (int i = 0; i < 20; ++i) {
        want << QString("last words %1").arg(i).toLatin1();
        QVERIFY2(listener.next(m, 3000), qPrintable(QString("only %1 of 20 arrived").arg(i)));
        got << m;
    }
    QCOMPARE(got, want);
}

void TstZQIPC::manyClientsLoseNothing()
{
    ZQIPC hub;
    QVERIFY(hub.createTcpServer(0));
    const int clients = 20, publishes = 150, directs = 150;
    std::vector<std::unique_ptr<ZQIPC>> bus;
    QStringList ids;
    // received[r][s]: the sequence numbers that client r got from client s,
    // split by kind ('p' publish, 'd' directed).
    QVector<QVector<QList<int>>> pub(clients, QVector<QList<int>>(clients));
    QVector<QVector<QList<int>>> dir(clients, QVector<QList<int>>(clients));
    int total = 0, ready = 0;
    for (int c = 0; c < clients; ++c)
        ids << bustest::uniqueId(QString("MANY%1").arg(c).toLatin1().constData());
    for (int c = 0; c < clients; ++c) {
        bus.push_back(std::make_unique<ZQIPC>());
        connect(bus[c].get(), &ZQIPC::sigRecvInfo, this, [&, c](const QString &t) {
            if (t == "succeful")
                return;
            if (t == "ready") {
                ++ready;
                return;
            }
            const QStringList p = t.split(':');   // kind:sender:seq:padding
            (p[0] == "p" ? pub : dir)[c][p[1].toInt()].append(p[2].toInt());
            ++total;
        });
        QVERIFY(bus[c]->createTcpClient(ids[c], kLocal, hub.serverPort()));
    }
    for (int c = 0; c < clients; ++c) {
        for (int s = 0; s < clients; ++s)
            if (s != c)
                bus[c]->registerMsgAccept(ids[s]);
        bus[c]->sentInfo(ids[c], "ready");   // routed after its subscriptions
    }
    QTRY_COMPARE_WITH_TIMEOUT(ready, clients, 10000);

    std::vector<std::thread> senders;
    for (int c = 0; c < clients; ++c) {
        senders.emplace_back([&, c] {
            const QString pad(120, QChar('z'));
            for (int i = 0; i < qMax(publishes, directs); ++i) {
                if (i < publishes)
                    bus[c]->sentInfo(QString("p:%1:%2:").arg(c).arg(i) + pad);
                if (i < directs)
                    bus[c]->sentInfo(ids[(c + 1 + i % (clients - 1)) % clients],
                                     QString("d:%1:%2:").arg(c).arg(i) + pad);
            }
        });
    }
    bustest::ScopeExit joiner([&] {
        for (auto &s : senders)
            s.join();
    });
    const int expected = clients * publishes * (clients - 1) + clients * directs;
    QTRY_COMPARE_WITH_TIMEOUT(total, expected, 60000);
    QTest::qWait(200);
    QCOMPARE(total, expected);   // and no duplicate arrived late
    for (int r = 0; r < clients; ++r) {
        for (int s = 0; s < clients; ++s) {
            if (s == r) {
                QVERIFY(pub[r][s].isEmpty());
                continue;
            }
            QList<int> want;
            for (int i = 0; i < publishes; ++i)
                want << i;
            QCOMPARE(pub[r][s], want);   // none lost, duplicated or reordered
            want.clear();
            for (int i = 0; i < directs; ++i)
                if ((s + 1 + i % (clients - 1)) % clients == r)
                    want << i;
            QCOMPARE(dir[r][s], want);
        }
    }
}

void TstZQIPC::reconnectingRejoinsRestartedHub()
{
    auto hub = std::make_unique<ZQIPC>();
    QVERIFY(hub->createTcpServer(0));
    const int port = hub->serverPort();
    const QString source = bustest::uniqueId("SRC");

    // A joins while the hub runs; B starts while it is away.
    ZQIPC a;
    a.setReconnecting(true);
    QSignalSpy aText(&a, &ZQIPC::sigRecvInfo);
    QSignalSpy aLost(&a, &ZQIPC::sigHubLost);
    QSignalSpy aJoined(&a, &ZQIPC::sigHubJoined);
    const QString aId = bustest::uniqueId("A");
    QVERIFY(a.createTcpClient(aId, kLocal, port));
    a.registerMsgAccept(source);
    hub->closeServer();
    hub.reset();
    QVERIFY(aLost.wait(3000));
    ZQIPC b;
    b.setReconnecting(true);
    QSignalSpy bText(&b, &ZQIPC::sigRecvInfo);
    const QString bId = bustest::uniqueId("B");
    QVERIFY(!b.createTcpClient(bId, kLocal, port));
    QTest::qWait(700);   // a few refused attempts
    QCOMPARE(aJoined.count(), 1);

    hub = std::make_unique<ZQIPC>();
    QVERIFY(hub->createTcpServer(port));
    QTRY_VERIFY_WITH_TIMEOUT(a.isConnected() && b.isConnected(), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(aJoined.count(), 2, 1000);
    // Same identifiers, and A's subscription made before the restart holds.
    RawPeer src;
    QVERIFY(src.join(port, source));
    QTRY_VERIFY_WITH_TIMEOUT(!aText.isEmpty() && !bText.isEmpty(), 3000);   // "succeful"
    QVERIFY(src.publish("published"));
    QVERIFY(src.direct(bId, "directed"));
    QTRY_VERIFY_WITH_TIMEOUT(aText.last().first().toString() == "published", 3000);
    QTRY_VERIFY_WITH_TIMEOUT(bText.last().first().toString() == "directed", 3000);
    QCOMPARE(aLost.count(), 1);
}

void TstZQIPC::reconnectingJoinStartedOnAnotherThread()
{
    // A program may call createTcpClient from a worker thread while the hub
    // is still away; the facade's own thread does the rejoin later.
    auto hub = std::make_unique<ZQIPC>();
    QVERIFY(hub->createTcpServer(0));
    const int port = hub->serverPort();
    hub->closeServer();
    hub.reset();

    ZQIPC facade;
    facade.setReconnecting(true);
    QSignalSpy text(&facade, &ZQIPC::sigRecvInfo);
    QSignalSpy joined(&facade, &ZQIPC::sigHubJoined);
    const QString id = bustest::uniqueId("WORKER");
    bool first = true;
    std::thread worker([&] { first = facade.createTcpClient(id, kLocal, port); });
    worker.join();
    QVERIFY(!first);

    hub = std::make_unique<ZQIPC>();
    QVERIFY(hub->createTcpServer(port));
    QTRY_COMPARE_WITH_TIMEOUT(joined.count(), 1, 5000);
    RawPeer peer;
    QVERIFY(peer.join(port, bustest::uniqueId("PEER")));
    QTRY_VERIFY_WITH_TIMEOUT(!text.isEmpty(), 3000);   // "succeful"
    QVERIFY(peer.direct(id, "to the worker's facade"));
    QTRY_VERIFY_WITH_TIMEOUT(text.last().first().toString() == "to the worker's facade", 3000);
    QCOMPARE(facade.sentInfo(QStringLiteral("back")), 0);
}

void TstZQIPC::reconnectingBacksOffWhenHubKeepsClosing()
{
    // A hub that takes the hello of every connection and then closes it, as
    // the hub does to a client whose identifier another client took over.
    FakeHub hub;
    std::atomic<bool> stop{false};
    QList<qint64> joins;
    QMutex joinsMutex;
    QElapsedTimer clock;
    clock.start();
    std::thread closer([&]() {
        while (!stop) {
            if (!hub.accept(100))
                continue;
            if (!hub.frames(1, 2000).isEmpty()) {
                QMutexLocker lock(&joinsMutex);
                joins << clock.elapsed();
            }
            hub.closePeer();
        }
    });
    ZQIPC bus;
    bus.setReconnecting(true);
    QSignalSpy lost(&bus, &ZQIPC::sigHubLost);
    QVERIFY(bus.createTcpClient(bustest::uniqueId("TAKEN"), kLocal, hub.port()));
    // Rejoins 0.25, 1, 2, 4 and 8 s apart, then none: 15.25 s in all.
    QTRY_COMPARE_WITH_TIMEOUT(lost.count(), 6, 25000);
    QTest::qWait(3000);
    stop = true;
    closer.join();
    QMutexLocker lock(&joinsMutex);
    QCOMPARE(joins.size(), 6);
    const QList<int> minGaps{200, 900, 1900, 3900, 7900};
    for (int i = 0; i < minGaps.size(); ++i)
        QVERIFY2(joins.at(i + 1) - joins.at(i) >= minGaps.at(i), qPrintable(QString::number(i)));
    QVERIFY(!bus.isConnected());
}

void TstZQIPC::rejoinSendsTheSubscriptionsHeld_data()
{
    // Steps: "+S" registerMsgAccept(S), "-S" deleteMsgAccept(S). Expected: the
    // sources subscribed again, in order, when the facade rejoins; the hub
    // holds one record per subscribe and an unsubscribe removes one.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("sentOnRejoin");
    QTest::newRow("once") << QStringList{"+S"} << QStringList{"S"};
    QTest::newRow("twice") << QStringList{"+S", "+S"} << QStringList{"S", "S"};
    QTest::newRow("twice, one withdrawn") << QStringList{"+S", "+S", "-S"} << QStringList{"S"};
    QTest::newRow("withdrawn") << QStringList{"+S", "-S", "-S"} << QStringList{};
    QTest::newRow("first one withdrawn, order kept") << QStringList{"+S", "+T", "-S", "+S"} << QStringList{"T", "S"};
}

void TstZQIPC::rejoinSendsTheSubscriptionsHeld()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, sentOnRejoin);
    FakeHub hub;
    ZQIPC bus;
    bus.setReconnecting(true);
    const QString own = "ID_APP_RE";
    QVERIFY(bus.createTcpClient(own, kLocal, hub.port()));
    QVERIFY(hub.accept());
    QCOMPARE(hub.frames(1).size(), 1);   // the hello
    for (const QString &step : steps) {
        if (step.startsWith('+'))
            bus.registerMsgAccept(step.mid(1));
        else
            bus.deleteMsgAccept(step.mid(1));
    }
    QCOMPARE(hub.frames(steps.size()).size(), steps.size());
    hub.closePeer();
    // The facade rejoins from its event loop, which must run meanwhile.
    bool rejoined = false;
    QElapsedTimer clock;
    clock.start();
    while (!(rejoined = hub.accept(10)) && clock.elapsed() < 5000)
        QTest::qWait(20);
    QVERIFY(rejoined);
    QList<QByteArray> want{own.toLatin1()};
    for (const QString &source : sentOnRejoin)
        want << ("ZQ&&REGZ&&Q" + source + "Z&&Q" + own).toLatin1();
    QCOMPARE(hub.frames(want.size() + 1, 500), want);
}

void TstZQIPC::rejoinDeliversEachPublishOnce()
{
    // A program whose connection is taken away and that rejoins, sending its
    // subscription again: each publish still reaches it once.
    ZQIPC hub;
    QVERIFY(hub.createTcpServer(0));
    const int port = hub.serverPort();
    const QString source = bustest::uniqueId("SRC");
    const QString own = bustest::uniqueId("REJOIN");
    ZQIPC bus;
    bus.setReconnecting(true);
    QStringList got;
    connect(&bus, &ZQIPC::sigRecvInfo, this, [&](const QString &t) { got << t; });
    QSignalSpy joined(&bus, &ZQIPC::sigHubJoined);
    QVERIFY(bus.createTcpClient(own, kLocal, port));
    bus.registerMsgAccept(source);
    QTRY_VERIFY(got.contains("succeful"));   // registered before the thief comes
    {
        RawPeer thief;   // takes the identifier: the hub closes the facade's connection
        QVERIFY(thief.join(port, own));
        QTRY_COMPARE_WITH_TIMEOUT(joined.count(), 2, 5000);   // and the facade takes it back
        QVERIFY(thief.waitClosed(3000));
    }
    bus.sentInfo(own, "rejoined");   // routed behind the subscription sent again
    QTRY_VERIFY_WITH_TIMEOUT(got.contains("rejoined"), 3000);
    got.clear();
    RawPeer src;
    QVERIFY(src.join(port, source));
    QVERIFY(src.publish("published"));
    QVERIFY(src.direct(own, "end"));
    QTRY_VERIFY_WITH_TIMEOUT(got.contains("end"), 3000);
    QCOMPARE(got, (QStringList{"published", "end"}));
}

void TstZQIPC::subscribingAndSendingWhileRejoining()
{
    // Threads subscribe and send while the facade's connection is taken away
    // and it rejoins from its own thread: each subscription must reach the
    // hub once, whether it was made just before, during or after a rejoin.
    ZQIPC hub;
    QVERIFY(hub.createTcpServer(0));
    const int port = hub.serverPort();
    const QString own = bustest::uniqueId("BUSY");
    ZQIPC bus;
    bus.setReconnecting(true);
    QStringList got;
    connect(&bus, &ZQIPC::sigRecvInfo, this, [&](const QString &t) { got << t; });
    QSignalSpy joined(&bus, &ZQIPC::sigHubJoined);
    QVERIFY(bus.createTcpClient(own, kLocal, port));

    const int threads = 3;
    std::atomic<bool> stop{false};
    QVector<QStringList> sources(threads);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&, t] {
            for (int i = 0; !stop.load(); ++i) {
                const QString source = QString("%1_SRC_%2_%3").arg(own).arg(t).arg(i);
                bus.registerMsgAccept(source);
                sources[t] << source;
                bus.sentInfo(QString("publish %1 %2").arg(t).arg(i));
                bus.sentInfo(own + "_NOBODY", "directed");
                std::this_thread::sleep_for(std::chrono::milliseconds(7));
            }
        });
    }
    bustest::ScopeExit joiner([&] {
        stop = true;
        for (auto &w : workers)
            w.join();
    });
    for (int kick = 1; kick <= 3; ++kick) {
        // The facade's connection is registered at the hub once a text to
        // itself comes back; then the thief takes the identifier over.
        const QString token = QString("registered %1").arg(kick);
        bus.sentInfo(own, token);
        QTRY_VERIFY_WITH_TIMEOUT(got.contains(token), 5000);
        RawPeer thief;
        QVERIFY(thief.join(port, own));   // the hub closes the facade's connection
        QTRY_COMPARE_WITH_TIMEOUT(joined.count(), 1 + kick, 5000);
    }
    stop = true;
    for (auto &w : workers)
        w.join();
    workers.clear();
    bus.sentInfo(own, "settled");
    QTRY_VERIFY_WITH_TIMEOUT(got.contains("settled"), 5000);
    got.clear();

    RawPeer publisher;
    QVERIFY(publisher.join(port, bustest::uniqueId("PUB")));
    QStringList want;
    for (const QStringList &list : qAsConst(sources)) {
        for (const QString &source : list) {
            QVERIFY(publisher.sendText(source + "Z&&Q" + source));   // a publish as that source
            want << source;
        }
    }
    QVERIFY(publisher.direct(own, "end"));
    QTRY_VERIFY_WITH_TIMEOUT(got.contains("end"), 5000);
    got.removeAll("end");
    std::sort(got.begin(), got.end());
    std::sort(want.begin(), want.end());
    QCOMPARE(got, want);
}

QTEST_GUILESS_MAIN(TstZQIPC)
#include "tst_zqipc.moc"
