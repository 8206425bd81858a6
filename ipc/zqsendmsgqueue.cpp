#include "zqsendmsgqueue.h"

#include "zqwire.h"

#include <algorithm>
#include <chrono>

ZQSendMsgQueue::ZQSendMsgQueue() = default;

ZQSendMsgQueue *ZQSendMsgQueue::getInstence()
{
    // Created on first use, never destroyed (connection threads may outlive main).
    static ZQSendMsgQueue *const instance = new ZQSendMsgQueue;
    return instance;
}

bool ZQSendMsgQueue::putBatch(Batch batch, const std::atomic<bool> &running)
{
    std::unique_lock<std::mutex> lock(m_queueMutex);
    // Checked now and then, so a stopping connection leaves a full queue.
    while (int(m_batches.size()) >= kSlots) {
        if (!running.load())
            return false;
        m_notFull.wait_for(lock, std::chrono::milliseconds(100));
    }
    m_batches.push_back(std::move(batch));
    lock.unlock();
    m_notEmpty.notify_one();
    return true;
}

bool ZQSendMsgQueue::takeBatch(Batch &batch)
{
    std::unique_lock<std::mutex> lock(m_queueMutex);
    m_notEmpty.wait(lock, [this] { return m_wakeups > 0 || !m_batches.empty(); });
    if (m_wakeups > 0) {
        --m_wakeups;
        return false;
    }
    takeFront(lock, batch);
    return true;
}

void ZQSendMsgQueue::takeFront(std::unique_lock<std::mutex> &lock, Batch &batch)
{
    batch = std::move(m_batches.front());
    m_batches.pop_front();
    lock.unlock();
    m_notFull.notify_one();
}

bool ZQSendMsgQueue::tryTakeBatch(Batch &batch)
{
    std::unique_lock<std::mutex> lock(m_queueMutex);
    if (m_wakeups > 0 || m_batches.empty())
        return false;
    takeFront(lock, batch);
    return true;
}

void ZQSendMsgQueue::putCommand(QString text)
{
    const std::atomic<bool> always{true};
    putCommand(text, always);
}

bool ZQSendMsgQueue::putCommand(const QString &text, const std::atomic<bool> &running)
{
    Batch batch;
    ZQWire::appendFrame(batch.frames, text.toUtf8());
    return putBatch(std::move(batch), running);
}

QString ZQSendMsgQueue::getCommand()
{
    Batch batch;
    if (!takeBatch(batch))
        return QString();
    if (batch.frames.size() < ZQWire::kLengthSize)
        return QString::fromLatin1("");
    return ZQWire::payloadText(batch.frames.mid(ZQWire::kLengthSize, ZQWire::frameLength(batch.frames.constData())));
}

void ZQSendMsgQueue::wakeConsumer()
{
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        ++m_wakeups;
    }
    m_notEmpty.notify_all();
}

void ZQSendMsgQueue::clearCommands()
{
    {
        std::lock_guard<std::mutex> lock(m_queueMutex);
        m_batches.clear();
    }
    m_notFull.notify_all();
}

int ZQSendMsgQueue::pendingCommands()
{
    std::lock_guard<std::mutex> lock(m_queueMutex);
    return int(m_batches.size());
}

void ZQSendMsgQueue::insertClientId(QString source, QString subscriber)
{
    insertClientId(source.toUtf8(), subscriber.toUtf8(), QByteArray(), 0);
}

void ZQSendMsgQueue::insertClientId(const QByteArray &source, const QByteArray &subscriber,
                                    const QByteArray &recorder, quint64 serial)
{
    std::lock_guard<std::mutex> lock(m_subscriptionMutex);
    QVector<Record> &records = m_subscriptions[source];
    if (serial != 0) {
        for (Record &r : records) {
            if (r.serial < serial && r.subscriber == subscriber && r.recorder == recorder) {
                r.serial = serial;   // taken over from an earlier connection
                return;
            }
        }
    }
    records.append({subscriber, recorder, serial});
}

void ZQSendMsgQueue::deleteClientId(QString source, QString subscriber)
{
    deleteClientId(source.toUtf8(), subscriber.toUtf8());
}

void ZQSendMsgQueue::deleteClientId(const QByteArray &source, const QByteArray &subscriber)
{
    std::lock_guard<std::mutex> lock(m_subscriptionMutex);
    auto it = m_subscriptions.find(source);
    if (it == m_subscriptions.end())
        return;
    QVector<Record> &records = *it;
    const auto hit = std::find_if(records.begin(), records.end(),
                                  [&](const Record &r) { return r.subscriber == subscriber; });
    if (hit == records.end())
        return;
    records.erase(hit);
    if (records.isEmpty())
        m_subscriptions.erase(it);
}

QStringList ZQSendMsgQueue::getClientList(QString source)
{
    std::lock_guard<std::mutex> lock(m_subscriptionMutex);
    QStringList out;
    for (const Record &r : m_subscriptions.value(source.toUtf8()))
        out << QString::fromUtf8(r.subscriber);
    return out;
}

void ZQSendMsgQueue::clearSubscriptions()
{
    std::lock_guard<std::mutex> lock(m_subscriptionMutex);
    m_subscriptions.clear();
}

void ZQSendMsgQueue::subscribersOf(const QByteArray &source, std::vector<Receiver> &out)
{
    out.clear();
    std::lock_guard<std::mutex> lock(m_subscriptionMutex);
    auto it = m_subscriptions.constFind(source);
    if (it == m_subscriptions.constEnd())
        return;
    std::lock_guard<std::mutex> connections(m_connectionMutex);
    for (const Record &r : *it) {
        if (ZQServerDispatch *d = m_connections.value(r.subscriber, nullptr))
            out.push_back({d, r.subscriber});
    }
}

void ZQSendMsgQueue::allConnections(std::vector<Receiver> &out)
{
    out.clear();
    std::lock_guard<std::mutex> lock(m_connectionMutex);
    for (auto it = m_connections.cbegin(); it != m_connections.cend(); ++it)
        out.push_back({it.value(), it.key()});
}

void ZQSendMsgQueue::insertClientSocket(QString appId, ZQServerDispatch *dispatch)
{
    std::lock_guard<std::mutex> lock(m_connectionMutex);
    m_connections.insert(appId.toUtf8(), dispatch);
}

void ZQSendMsgQueue::removeSocket(QString appId)
{
    std::lock_guard<std::mutex> lock(m_connectionMutex);
    m_connections.remove(appId.toUtf8());
}

bool ZQSendMsgQueue::removeSocketIf(const QByteArray &appId, ZQServerDispatch *dispatch)
{
    std::lock_guard<std::mutex> lock(m_connectionMutex);
    auto it = m_connections.find(appId);
    if (it == m_connections.end() || it.value() != dispatch)
        return false;
    m_connections.erase(it);
    return true;
}

ZQServerDispatch *ZQSendMsgQueue::getClinetSocketByAppid(QString appId)
{
    return connection(appId.toUtf8());
}

ZQServerDispatch *ZQSendMsgQueue::connection(const QByteArray &appId)
{
    std::lock_guard<std::mutex> lock(m_connectionMutex);
    return m_connections.value(appId, nullptr);
}

QList<ZQServerDispatch *> ZQSendMsgQueue::getAllClients()
{
    std::lock_guard<std::mutex> lock(m_connectionMutex);
    return m_connections.values();
}

void ZQSendMsgQueue::clearConnections()
{
    std::lock_guard<std::mutex> lock(m_connectionMutex);
    m_connections.clear();
    m_monitors.clear();
    m_monitorCount.store(0);
}

void ZQSendMsgQueue::addMonitor(ZQServerDispatch *monitor)
{
    std::lock_guard<std::mutex> lock(m_connectionMutex);
    m_monitors.push_back(monitor);
    m_monitorCount.store(int(m_monitors.size()));
}

void ZQSendMsgQueue::removeMonitor(ZQServerDispatch *monitor)
{
    std::lock_guard<std::mutex> lock(m_connectionMutex);
    m_monitors.erase(std::remove(m_monitors.begin(), m_monitors.end(), monitor), m_monitors.end());
    m_monitorCount.store(int(m_monitors.size()));
}

std::vector<ZQServerDispatch *> ZQSendMsgQueue::monitors()
{
    std::lock_guard<std::mutex> lock(m_connectionMutex);
    return m_monitors;
}
