#include "zqsendmsgthread.h"

#include "zqipclogging.h"
#include "zqserverdispatch.h"
#include "zqwire.h"

#include <QDateTime>

namespace {
// Reads that wait in the queue are routed together and each connection gets
// its bytes in one write: far fewer system calls and wake-ups under load,
// and no delay when the queue is empty (the batch ends there).
constexpr int kBatchBytes = 64 * 1024;
// A connection's routing buffer larger than this is given back after a batch;
// smaller ones are kept, as allocating them for every batch costs more.
constexpr size_t kKeptBufferBytes = 256 * 1024;
} // namespace

ZQSendMsgThread::ZQSendMsgThread(QObject *parent) : QThread(parent) {}

void ZQSendMsgThread::stoprun(bool)
{
    m_running.store(false);
    ZQSendMsgQueue::getInstence()->wakeConsumer();
}

void ZQSendMsgThread::run()
{
    ZQSendMsgQueue *queue = ZQSendMsgQueue::getInstence();
    ZQSendMsgQueue::Batch batch;
    while (m_running.load()) {
        if (!queue->takeBatch(batch))
            continue;   // a wake-up: look at the running flag again
        // Dispatchers picked from the tables stay valid while this is held.
        std::lock_guard<std::mutex> routeLocker(queue->routeLock());
        m_batchBytes = 0;
        routeBatch(batch);
        while (m_running.load() && m_batchBytes < kBatchBytes && queue->tryTakeBatch(batch))
            routeBatch(batch);
        flush();
    }
}

void ZQSendMsgThread::flush()
{
    for (ZQServerDispatch *d : m_touched) {
        ZQServerDispatch::RouteState &state = d->routeState();
        d->postBytes(state.bytes.data(), int(state.bytes.size()));
        state.bytes.clear();
        if (state.bytes.capacity() > kKeptBufferBytes)
            std::string().swap(state.bytes);
        state.touched = false;
    }
    m_touched.clear();
    m_subscribersKnown = false;
}

void ZQSendMsgThread::deliver(ZQServerDispatch *to, const char *message, int size)
{
    ZQServerDispatch::RouteState &state = to->routeState();
    if (!state.touched) {
        state.touched = true;
        m_touched.push_back(to);
    }
    state.bytes.append(message, size_t(size));
    state.bytes.push_back('\0');
    m_batchBytes += size + 1;
}

void ZQSendMsgThread::routeBatch(const ZQSendMsgQueue::Batch &batch)
{
    const char *data = batch.frames.constData();
    const int size = batch.frames.size();
    for (int at = 0; at + ZQWire::kLengthSize <= size;) {
        const qint32 n = ZQWire::frameLength(data + at);
        const char *payload = data + at + ZQWire::kLengthSize;
        routeFrame(batch, payload, ZQWire::payloadSize(payload, n));
        at += ZQWire::kLengthSize + n;
    }
}

void ZQSendMsgThread::copyToMonitors(const char *kind, const QByteArray &from, const QByteArray &to, int delivered,
                                     const char *text, int size)
{
    const QByteArray record = ZQWire::monitorRecord(kind, QDateTime::currentMSecsSinceEpoch() * 1000, from, to,
                                                    delivered, text, size);
    for (ZQServerDispatch *m : ZQSendMsgQueue::getInstence()->monitors())
        m->postBytes(record);
}

namespace {
QByteArray joinedIds(const std::vector<ZQSendMsgQueue::Receiver> &receivers, ZQServerDispatch *except = nullptr)
{
    QByteArray out;
    for (const auto &r : receivers) {
        if (r.dispatch == except)
            continue;
        if (!out.isEmpty())
            out.append(',');
        out.append(r.id);
    }
    return out;
}
} // namespace

void ZQSendMsgThread::routeFrame(const ZQSendMsgQueue::Batch &batch, const char *payload, int size)
{
    using ZQWire::Kind;
    ZQSendMsgQueue *queue = ZQSendMsgQueue::getInstence();
    const bool trace = lcZqIpc().isDebugEnabled();
    if (trace)
        qCDebug(lcZqIpc) << "ZQSendMsgThread ....1" << QString::fromUtf8(payload, size);
    const ZQWire::RoutingView r = ZQWire::splitFrameBytes(payload, size);
    if (trace)
        qCDebug(lcZqIpc) << "ZQSendMsgThread ....2";
    const QByteArray first = QByteArray::fromRawData(payload + r.firstAt, r.firstSize);
    const char *message = payload + r.secondAt;
    const int messageSize = r.secondSize;
    const bool monitored = queue->hasMonitors();

    switch (r.kind) {
    case Kind::Invalid:
        qCWarning(lcZqIpc) << "bus frame with too few pieces dropped:" << QString::fromUtf8(payload, qMin(size, 80));
        return;
    case Kind::Subscribe:
    case Kind::Unsubscribe: {
        const QByteArray subscriber(message, messageSize);
        const bool subscribe = r.kind == Kind::Subscribe;
        if (trace)
            qCDebug(lcZqIpc) << (subscribe ? "ZQSendMsgThread ....3" : "ZQSendMsgThread ....4") << first << subscriber;
        if (subscribe)
            queue->insertClientId(QByteArray(payload + r.firstAt, r.firstSize), subscriber, batch.senderId, batch.serial);
        else
            queue->deleteClientId(first, subscriber);
        m_subscribersKnown = false;
        if (monitored)
            copyToMonitors(subscribe ? "subscribe" : "unsubscribe", subscriber, QByteArray(first), 0, nullptr, 0);
        return;
    }
    case Kind::Broadcast: {
        if (trace)
            qCDebug(lcZqIpc) << "ZQSendMsgThread ....5" << first;
        ZQServerDispatch *from = queue->connection(first);
        queue->allConnections(m_receivers);
        int delivered = 0;
        for (const auto &to : m_receivers) {
            if (to.dispatch != from) {
                deliver(to.dispatch, message, messageSize);
                ++delivered;
            }
        }
        if (monitored)
            copyToMonitors("broadcast", QByteArray(first), joinedIds(m_receivers, from), delivered, message,
                           messageSize);
        return;
    }
    case Kind::Directed: {
        if (trace)
            qCDebug(lcZqIpc) << "ZQSendMsgThread ....6...1" << first;
        ZQServerDispatch *to = queue->connection(first);
        if (to) {
            if (trace)
                qCDebug(lcZqIpc) << "ZQSendMsgThread ....6...2";
            deliver(to, message, messageSize);
        }
        if (monitored)
            copyToMonitors("directed", batch.senderId, QByteArray(first), to ? 1 : 0, message, messageSize);
        return;
    }
    case Kind::Publish:
        break;
    }
    // Publish: every subscriber of the sender, in the order they subscribed.
    if (trace)
        qCDebug(lcZqIpc) << "sendmesg thread ....1" << first;
    if (!m_subscribersKnown || m_subscribersOf != first) {
        queue->subscribersOf(first, m_subscribers);
        m_subscribersOf = QByteArray(first.constData(), first.size());
        m_subscribersKnown = true;
    }
    for (const auto &to : m_subscribers) {
        if (trace)
            qCDebug(lcZqIpc) << "sendmesg thread ....2" << to.id << "\nsendmesg thread ....3";
        deliver(to.dispatch, message, messageSize);
    }
    if (monitored)
        copyToMonitors("publish", QByteArray(first), joinedIds(m_subscribers), int(m_subscribers.size()), message,
                       messageSize);
}
