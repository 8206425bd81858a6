// The hub's routing queue and tables, used directly (no hub runs in this
// process, so nothing else consumes the queue).

#include "zqsendmsgqueue.h"

#include <QtTest>

#include <atomic>
#include <thread>

class TstZQSendMsgQueue : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();
    void singleInstance();
    void firstInFirstOut();
    void eleventhPutWaitsForAFreeSlot();
    void stoppedProducerGivesUp();
    void wakeReturnsNullWithoutEatingText();
    void clearFreesTheSlots();
    void subscriptions_data();
    void subscriptions();
};

void TstZQSendMsgQueue::cleanup()
{
    ZQSendMsgQueue::getInstence()->clearCommands();
    ZQSendMsgQueue::getInstence()->clearSubscriptions();
}

void TstZQSendMsgQueue::singleInstance()
{
    std::atomic<ZQSendMsgQueue *> seen[8];
    std::thread threads[8];
    for (int i = 0; i < 8; ++i)
        threads[i] = std::thread([&, i] { seen[i] = ZQSendMsgQueue::getInstence(); });
    for (auto &t : threads)
        t.join();
    for (auto &s : seen)
        QCOMPARE(s.load(), ZQSendMsgQueue::getInstence());
}

void TstZQSendMsgQueue::firstInFirstOut()
{
    ZQSendMsgQueue *q = ZQSendMsgQueue::getInstence();
    for (int i = 0; i < 10; ++i)
        q->putCommand(QString::number(i));
    for (int i = 0; i < 10; ++i)
        QCOMPARE(q->getCommand(), QString::number(i));
    QCOMPARE(q->pendingCommands(), 0);
}

void TstZQSendMsgQueue::eleventhPutWaitsForAFreeSlot()
{
    ZQSendMsgQueue *q = ZQSendMsgQueue::getInstence();
    for (int i = 0; i < ZQSendMsgQueue::kSlots; ++i)
        q->putCommand(QString("t%1").arg(i));
    std::atomic<bool> eleventhIn{false};
    std::thread producer([&] {
        q->putCommand("t10");
        eleventhIn = true;
    });
    // The producer stays blocked while all ten slots are taken...
    QTest::qWait(300);
    QVERIFY(!eleventhIn.load());
    QCOMPARE(q->pendingCommands(), 10);
    // ...and gets in as soon as the consumer frees one.
    QCOMPARE(q->getCommand(), QString("t0"));
    producer.join();
    QVERIFY(eleventhIn.load());
    for (int i = 1; i <= 10; ++i)
        QCOMPARE(q->getCommand(), QString("t%1").arg(i));
}

void TstZQSendMsgQueue::stoppedProducerGivesUp()
{
    ZQSendMsgQueue *q = ZQSendMsgQueue::getInstence();
    for (int i = 0; i < ZQSendMsgQueue::kSlots; ++i)
        q->putCommand("x");
    std::atomic<bool> running{true};
    std::atomic<int> result{-1};
    std::thread producer([&] { result = q->putCommand("late", running) ? 1 : 0; });
    QTest::qWait(150);
    QCOMPARE(result.load(), -1);
    running = false;
    producer.join();
    QCOMPARE(result.load(), 0);
    QCOMPARE(q->pendingCommands(), 10);
}

void TstZQSendMsgQueue::wakeReturnsNullWithoutEatingText()
{
    ZQSendMsgQueue *q = ZQSendMsgQueue::getInstence();
    std::atomic<bool> gotNull{false};
    std::thread consumer([&] { gotNull = q->getCommand().isNull(); });
    QTest::qWait(50);
    q->wakeConsumer();
    consumer.join();
    QVERIFY(gotNull.load());
    q->putCommand("after");
    QCOMPARE(q->getCommand(), QString("after"));
    // A wake does not cost a free slot: ten texts still fit.
    for (int i = 0; i < 10; ++i)
        q->putCommand("y");
    QCOMPARE(q->pendingCommands(), 10);
}

void TstZQSendMsgQueue::clearFreesTheSlots()
{
    ZQSendMsgQueue *q = ZQSendMsgQueue::getInstence();
    for (int i = 0; i < 10; ++i)
        q->putCommand("old");
    q->clearCommands();
    QCOMPARE(q->pendingCommands(), 0);
    std::atomic<bool> spare{true};
    for (int i = 0; i < 10; ++i)
        QVERIFY(q->putCommand("new", spare));   // would block if slots leaked
    QCOMPARE(q->getCommand(), QString("new"));
}

void TstZQSendMsgQueue::subscriptions_data()
{
    // Each step: "+S,M" subscribes M to S, "-S,M" withdraws one such record.
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("subscribersOfB");
    QTest::newRow("twice") << QStringList{"+B,A", "+B,A"} << QStringList{"A", "A"};
    QTest::newRow("twice, one withdrawn") << QStringList{"+B,A", "+B,A", "-B,A"} << QStringList{"A"};
    QTest::newRow("twice, both withdrawn") << QStringList{"+B,A", "+B,A", "-B,A", "-B,A"} << QStringList{};
    QTest::newRow("order kept") << QStringList{"+B,C", "+B,A", "+B,C"} << QStringList{"C", "A", "C"};
    QTest::newRow("first occurrence removed") << QStringList{"+B,C", "+B,A", "+B,C", "-B,C"} << QStringList{"A", "C"};
    QTest::newRow("unknown withdrawn") << QStringList{"+B,A", "-B,Z", "-Q,A"} << QStringList{"A"};
    QTest::newRow("other source apart") << QStringList{"+C,A", "+B,D"} << QStringList{"D"};
}

void TstZQSendMsgQueue::subscriptions()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, subscribersOfB);
    ZQSendMsgQueue *q = ZQSendMsgQueue::getInstence();
    for (const QString &s : steps) {
        const QStringList ids = s.mid(1).split(',');
        if (s.startsWith('+'))
            q->insertClientId(ids[0], ids[1]);
        else
            q->deleteClientId(ids[0], ids[1]);
    }
    QCOMPARE(q->getClientList("B"), subscribersOfB);
}

QTEST_GUILESS_MAIN(TstZQSendMsgQueue)
#include "tst_zqsendmsgqueue.moc"
