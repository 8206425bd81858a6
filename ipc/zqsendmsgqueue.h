#ifndef ZQSENDMSGQUEUE_H
#define ZQSENDMSGQUEUE_H

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVector>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

class ZQServerDispatch;

// The hub's one routing queue (at most 10 waiting reads), its subscription
// table, its connection table and its monitors. One per process, never
// destroyed.
class ZQSendMsgQueue
{
public:
    static ZQSendMsgQueue *getInstence();

    static constexpr int kSlots = 10;

    // What one read of a connection brought: its complete frames (length and
    // payload, one after the other) and who sent them.
    struct Batch {
        QByteArray frames;
        QByteArray senderId;   // the connection's identifier, UTF-8
        quint64 serial = 0;    // the connection's number (0: not from a connection)
    };

    // Blocks while 10 batches wait; false (nothing queued) once `running` is
    // cleared, so a stopping connection never hangs on a full queue.
    bool putBatch(Batch batch, const std::atomic<bool> &running);
    // Blocks while the queue is empty; false when woken by wakeConsumer().
    bool takeBatch(Batch &batch);
    // Takes the oldest batch if one waits; never blocks. False when none
    // does (or a wake-up is pending, which is then left for takeBatch()).
    bool tryTakeBatch(Batch &batch);

    // One text as a batch of one frame, and back: the queue of single texts.
    void putCommand(QString text);
    bool putCommand(const QString &text, const std::atomic<bool> &running);
    // A null text when woken by wakeConsumer().
    QString getCommand();

    // Makes one blocked (or the next) takeBatch() return false.
    void wakeConsumer();
    // Drops every waiting batch (used when a hub stops).
    void clearCommands();
    int pendingCommands();

    // Subscriptions: source first, subscriber second. A subscribe recorded
    // by connection `serial` of `recorder` takes over a record of the same
    // pair that an earlier connection of that identifier made, instead of
    // adding one: a program that subscribes again each time it joins keeps
    // one record, while one connection subscribing twice still has two.
    void insertClientId(QString source, QString subscriber);
    void insertClientId(const QByteArray &source, const QByteArray &subscriber, const QByteArray &recorder,
                        quint64 serial);
    void deleteClientId(QString source, QString subscriber);
    void deleteClientId(const QByteArray &source, const QByteArray &subscriber);
    QStringList getClientList(QString source);
    void clearSubscriptions();

    // Connections by application identifier.
    void insertClientSocket(QString appId, ZQServerDispatch *dispatch);
    void removeSocket(QString appId);
    // Removes the entry only while it still names `dispatch`: a reconnect
    // under the same identifier may have replaced it.
    bool removeSocketIf(const QByteArray &appId, ZQServerDispatch *dispatch);
    ZQServerDispatch *getClinetSocketByAppid(QString appId);
    ZQServerDispatch *connection(const QByteArray &appId);
    // In identifier order.
    QList<ZQServerDispatch *> getAllClients();
    void clearConnections();

    // A publish's receivers: one entry per record of the source, in the
    // order they subscribed, connected ones only.
    struct Receiver {
        ZQServerDispatch *dispatch;
        QByteArray id;
    };
    void subscribersOf(const QByteArray &source, std::vector<Receiver> &out);
    void allConnections(std::vector<Receiver> &out);

    // Monitors see a copy of every routed text; they are no connections.
    void addMonitor(ZQServerDispatch *monitor);
    void removeMonitor(ZQServerDispatch *monitor);
    bool hasMonitors() const { return m_monitorCount.load(std::memory_order_relaxed) > 0; }
    std::vector<ZQServerDispatch *> monitors();

    // Held by the router while it uses dispatchers taken from the tables;
    // whoever frees a dispatcher that has left them takes it once first, so
    // no routing still holds the pointer.
    std::mutex &routeLock() { return m_routeMutex; }

private:
    ZQSendMsgQueue();
    ZQSendMsgQueue(const ZQSendMsgQueue &) = delete;
    // Takes the oldest batch, unlocks and lets a waiting producer in.
    void takeFront(std::unique_lock<std::mutex> &lock, Batch &batch);
    ZQSendMsgQueue &operator=(const ZQSendMsgQueue &) = delete;

    std::mutex m_queueMutex;
    std::condition_variable m_notFull;
    std::condition_variable m_notEmpty;
    std::deque<Batch> m_batches;
    int m_wakeups = 0;

    struct Record {
        QByteArray subscriber;
        QByteArray recorder;   // identifier of the connection that subscribed
        quint64 serial;        // and its number
    };
    QHash<QByteArray, QVector<Record>> m_subscriptions;
    std::mutex m_subscriptionMutex;

    QMap<QByteArray, ZQServerDispatch *> m_connections;
    std::vector<ZQServerDispatch *> m_monitors;
    std::atomic<int> m_monitorCount{0};
    std::mutex m_connectionMutex;

    std::mutex m_routeMutex;
};

#endif // ZQSENDMSGQUEUE_H
