#ifndef ZQSENDMSGQUEUE_H
#define ZQSENDMSGQUEUE_H

#include <QList>
#include <QMap>
#include <QMutex>
#include <QSemaphore>
#include <QString>
#include <QStringList>

#include <atomic>

class ZQServerDispatch;

// The hub's one routing queue (at most 10 waiting texts), its subscription
// table and its connection table. One per process, never destroyed.
class ZQSendMsgQueue
{
public:
    static ZQSendMsgQueue *getInstence();

    static constexpr int kSlots = 10;

    // Blocks while 10 texts wait.
    void putCommand(QString text);
    // Same, but gives up (returns false) once `running` is cleared, so a
    // stopping connection never hangs on a full queue.
    bool putCommand(const QString &text, const std::atomic<bool> &running);
    // Blocks while the queue is empty. Returns a null text when woken by
    // wakeConsumer() instead of a real text.
    QString getCommand();
    // Takes the oldest text if one waits; never blocks. False when none does
    // (or a wake-up is pending, which is then left for getCommand()).
    bool tryGetCommand(QString &text);
    // Makes one blocked (or the next) getCommand() return a null text.
    void wakeConsumer();
    // Drops every waiting text (used when a hub stops).
    void clearCommands();
    int pendingCommands();

    // Subscriptions: source first, subscriber second.
    void insertClientId(QString source, QString subscriber);
    void deleteClientId(QString source, QString subscriber);
    QStringList getClientList(QString source);
    void clearSubscriptions();

    // Connections by application identifier.
    void insertClientSocket(QString appId, ZQServerDispatch *dispatch);
    void removeSocket(QString appId);
    // Removes the entry only while it still names `dispatch`: a reconnect
    // under the same identifier may have replaced it.
    bool removeSocketIf(const QString &appId, ZQServerDispatch *dispatch);
    ZQServerDispatch *getClinetSocketByAppid(QString appId);
    QList<ZQServerDispatch *> getAllClients();

    // Held by the router while it uses dispatchers taken from the connection
    // table; whoever frees a dispatcher that has left the table takes it once
    // first, so no routing still holds the pointer.
    QMutex &routeLock() { return m_routeMutex; }

private:
    ZQSendMsgQueue();
    Q_DISABLE_COPY(ZQSendMsgQueue)

    QSemaphore m_free{kSlots};
    QSemaphore m_used{0};
    QList<QString> m_commands;
    QMutex m_queueMutex;
    int m_wakeups = 0;

    QMap<QString, QStringList> m_subscriptions;
    QMutex m_subscriptionMutex;

    QMap<QString, ZQServerDispatch *> m_connections;
    QMutex m_connectionMutex;

    QMutex m_routeMutex;
};

#endif // ZQSENDMSGQUEUE_H
