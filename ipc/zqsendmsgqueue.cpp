#include "zqsendmsgqueue.h"

#include <QMutexLocker>

ZQSendMsgQueue::ZQSendMsgQueue() = default;

ZQSendMsgQueue *ZQSendMsgQueue::getInstence()
{
    // Created on first use, never destroyed (connection threads may outlive main).
    static ZQSendMsgQueue *const instance = new ZQSendMsgQueue;
    return instance;
}

void ZQSendMsgQueue::putCommand(QString text)
{
    m_free.acquire();
    {
        QMutexLocker locker(&m_queueMutex);
        m_commands.prepend(std::move(text));
    }
    m_used.release();
}

bool ZQSendMsgQueue::putCommand(const QString &text, const std::atomic<bool> &running)
{
    while (!m_free.tryAcquire(1, 100)) {
        if (!running.load())
            return false;
    }
    {
        QMutexLocker locker(&m_queueMutex);
        m_commands.prepend(text);
    }
    m_used.release();
    return true;
}

QString ZQSendMsgQueue::getCommand()
{
    m_used.acquire();
    QString text;
    {
        QMutexLocker locker(&m_queueMutex);
        if (m_wakeups > 0) {
            --m_wakeups;
            return QString();
        }
        text = m_commands.takeLast();
    }
    m_free.release();
    return text;
}

bool ZQSendMsgQueue::tryGetCommand(QString &text)
{
    if (!m_used.tryAcquire())
        return false;
    {
        QMutexLocker locker(&m_queueMutex);
        if (m_wakeups > 0) {
            m_used.release();   // leave the wake-up for getCommand()
            return false;
        }
        text = m_commands.takeLast();
    }
    m_free.release();
    return true;
}

void ZQSendMsgQueue::wakeConsumer()
{
    {
        QMutexLocker locker(&m_queueMutex);
        ++m_wakeups;
    }
    m_used.release();
}

void ZQSendMsgQueue::clearCommands()
{
    int dropped = 0;
    {
        QMutexLocker locker(&m_queueMutex);
        while (!m_commands.isEmpty() && m_used.tryAcquire()) {
            m_commands.removeLast();
            ++dropped;
        }
    }
    m_free.release(dropped);
}

int ZQSendMsgQueue::pendingCommands()
{
    QMutexLocker locker(&m_queueMutex);
    return m_commands.size();
}

void ZQSendMsgQueue::insertClientId(QString source, QString subscriber)
{
    QMutexLocker locker(&m_subscriptionMutex);
    m_subscriptions[source].append(subscriber);
}

void ZQSendMsgQueue::deleteClientId(QString source, QString subscriber)
{
    QMutexLocker locker(&m_subscriptionMutex);
    auto it = m_subscriptions.find(source);
    if (it == m_subscriptions.end())
        return;
    if (!it->removeOne(subscriber))
        return;
    if (it->isEmpty())
        m_subscriptions.erase(it);
}

QStringList ZQSendMsgQueue::getClientList(QString source)
{
    QMutexLocker locker(&m_subscriptionMutex);
    return m_subscriptions.value(source);
}

void ZQSendMsgQueue::clearSubscriptions()
{
    QMutexLocker locker(&m_subscriptionMutex);
    m_subscriptions.clear();
}

void ZQSendMsgQueue::insertClientSocket(QString appId, ZQServerDispatch *dispatch)
{
    QMutexLocker locker(&m_connectionMutex);
    m_connections.insert(appId, dispatch);
}

void ZQSendMsgQueue::removeSocket(QString appId)
{
    QMutexLocker locker(&m_connectionMutex);
    m_connections.remove(appId);
}

bool ZQSendMsgQueue::removeSocketIf(const QString &appId, ZQServerDispatch *dispatch)
{
    QMutexLocker locker(&m_connectionMutex);
    auto it = m_connections.find(appId);
    if (it == m_connections.end() || it.value() != dispatch)
        return false;
    m_connections.erase(it);
    return true;
}

ZQServerDispatch *ZQSendMsgQueue::getClinetSocketByAppid(QString appId)
{
    QMutexLocker locker(&m_connectionMutex);
    return m_connections.value(appId, nullptr);
}

QList<ZQServerDispatch *> ZQSendMsgQueue::getAllClients()
{
    QMutexLocker locker(&m_connectionMutex);
    return m_connections.values();
}
