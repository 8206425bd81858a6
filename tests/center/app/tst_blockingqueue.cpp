#include "zqblockingqueue.h"
#include "zqipcrcivequeue.h"
#include "zqserialportrecivequeue.h"

#include <QThread>
#include <QtTest>

#include <atomic>

// Runs a function on a thread of its own.
class Runner : public QThread
{
public:
    explicit Runner(std::function<void()> fn) : m_fn(std::move(fn)) {}
    void run() override { m_fn(); }

private:
    std::function<void()> m_fn;
};

class TestBlockingQueue : public QObject
{
    Q_OBJECT
private slots:
    void fifoOrder_data();
    void fifoOrder();
    void putBlocksWhileFull();
    void getBlocksUntilPut();
    void closeReleasesBlockedWaiters_data();
    void closeReleasesBlockedWaiters();
    void closeKeepsQueuedItems();
    void ipcQueueRoundTripsUtf8_data();
    void ipcQueueRoundTripsUtf8();
    void singletonsAreShared();
};

void TestBlockingQueue::fifoOrder_data()
{
    QTest::addColumn<QList<QByteArray>>("items");
    QTest::newRow("one") << QList<QByteArray>{"a"};
    QTest::newRow("three") << QList<QByteArray>{"a", "b", "c"};
    QTest::newRow("full") << QList<QByteArray>{"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"};
    QTest::newRow("binary") << QList<QByteArray>{QByteArray("\x7F\x00\xCF", 3), QByteArray(1, '\0')};
}

void TestBlockingQueue::fifoOrder()
{
    QFETCH(QList<QByteArray>, items);
    ZQBlockingQueue queue(10);
    for (const QByteArray &item : items)
        QVERIFY(queue.put(item));
    QCOMPARE(queue.count(), items.size());
    for (const QByteArray &expected : items) {
        QByteArray item;
        QVERIFY(queue.get(item));
        QCOMPARE(item, expected);
    }
    QCOMPARE(queue.count(), 0);
}

void TestBlockingQueue::putBlocksWhileFull()
{
    ZQBlockingQueue queue(10);
    std::atomic<int> done{0};
    Runner producer([&]() {
        for (int i = 0; i < 11; ++i) {
            queue.put(QByteArray::number(i));
            ++done;
        }
    });
    producer.start();
    QTRY_COMPARE(done.load(), 10);
    // The eleventh put stays blocked while nothing is taken.
    QVERIFY(!producer.wait(300));
    QCOMPARE(done.load(), 10);
    QByteArray item;
    QVERIFY(queue.get(item));
    QCOMPARE(item, QByteArray("0"));
    QVERIFY(producer.wait(5000));
    QCOMPARE(done.load(), 11);
    QCOMPARE(queue.count(), 10);
}

void TestBlockingQueue::getBlocksUntilPut()
{
    ZQBlockingQueue queue(10);
    QByteArray taken;
    std::atomic<bool> returned{false};
    Runner consumer([&]() {
        queue.get(taken);
        returned = true;
    });
    consumer.start();
    QVERIFY(!consumer.wait(300));
    QVERIFY(!returned.load());
    QVERIFY(queue.put("frame"));
    QVERIFY(consumer.wait(5000));
    QCOMPARE(taken, QByteArray("frame"));
}

void TestBlockingQueue::closeReleasesBlockedWaiters_data()
{
    QTest::addColumn<bool>("putters"); // else getters
    QTest::newRow("blocked gets on an empty queue") << false;
    QTest::newRow("blocked puts on a full queue") << true;
}

void TestBlockingQueue::closeReleasesBlockedWaiters()
{
    QFETCH(bool, putters);
    ZQBlockingQueue queue(2);
    if (putters) {
        QVERIFY(queue.put("1"));
        QVERIFY(queue.put("2"));
    }
    std::atomic<int> refused{0};
    auto waiter = [&]() {
        QByteArray item("3");
        if (!(putters ? queue.put(item) : queue.get(item)))
            ++refused;
    };
    Runner a(waiter), b(waiter);
    a.start();
    b.start();
    QVERIFY(!a.wait(200));
    queue.close();
    QVERIFY(a.wait(5000));
    QVERIFY(b.wait(5000));
    QCOMPARE(refused.load(), 2);
    QCOMPARE(queue.count(), putters ? 2 : 0);
    // Later calls return at once too.
    QVERIFY(!queue.put("late"));
    if (!putters) {
        QByteArray item;
        QVERIFY(!queue.get(item));
    }
}

void TestBlockingQueue::closeKeepsQueuedItems()
{
    ZQBlockingQueue queue(10);
    QVERIFY(queue.put("x"));
    QVERIFY(queue.put("y"));
    queue.close();
    QByteArray item;
    QVERIFY(queue.get(item));
    QCOMPARE(item, QByteArray("x"));
    QVERIFY(queue.get(item));
    QCOMPARE(item, QByteArray("y"));
    QVERIFY(!queue.get(item));
    QVERIFY(!queue.get(item));
}

void TestBlockingQueue::ipcQueueRoundTripsUtf8_data()
{
    QTest::addColumn<QString>("message");
    QTest::newRow("ascii") << QStringLiteral("{\"to\": \"MessageCenter\"}");
    QTest::newRow("chinese") << QStringLiteral("{\"name\": \"应用未安装\"}");
    QTest::newRow("emoji") << QString::fromUtf8("{\"x\": \"\xF0\x9F\x98\x80\"}");
}

void TestBlockingQueue::ipcQueueRoundTripsUtf8()
{
    QFETCH(QString, message);
    ZQIpcRciveQueue *queue = ZQIpcRciveQueue::getInstence();
    QVERIFY(queue->putMessage(message));
    QCOMPARE(queue->getMessage(), message);
}

void TestBlockingQueue::singletonsAreShared()
{
    ZQIpcRciveQueue *seen[4] = {};
    ZQSerialPortReciveQueue *seenSerial[4] = {};
    QList<Runner *> runners;
    for (int i = 0; i < 4; ++i) {
        runners << new Runner([&seen, &seenSerial, i]() {
            seen[i] = ZQIpcRciveQueue::getInstence();
            seenSerial[i] = ZQSerialPortReciveQueue::getInstence();
        });
    }
    for (Runner *r : runners)
        r->start();
    for (Runner *r : runners)
        QVERIFY(r->wait(5000));
    qDeleteAll(runners);
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(seen[i], ZQIpcRciveQueue::getInstence());
        QCOMPARE(seenSerial[i], ZQSerialPortReciveQueue::getInstence());
    }
    ZQSerialPortReciveQueue *serial = ZQSerialPortReciveQueue::getInstence();
    QVERIFY(serial->putCommand(QByteArray::fromHex("7F0899A2B3C402FF0149CF")));
    QCOMPARE(serial->getCommand(), QByteArray::fromHex("7F0899A2B3C402FF0149CF"));
}

QTEST_GUILESS_MAIN(TestBlockingQueue)
#include "tst_blockingqueue.moc"
