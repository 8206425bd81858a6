#include "zqsendmsgthread.h"

#include "zqipclogging.h"
#include "zqsendmsgqueue.h"
#include "zqserverdispatch.h"
#include "zqwire.h"

ZQSendMsgThread::ZQSendMsgThread(QObject *parent) : QThread(parent) {}

void ZQSendMsgThread::stoprun(bool)
{
    m_running.store(false);
    ZQSendMsgQueue::getInstence()->wakeConsumer();
}

namespace {
// Texts that wait in the queue are routed together and each connection gets
// their bytes in one write: far fewer system calls and wake-ups under load,
// and no delay when the queue is empty (the batch ends there).
constexpr int kBatchBytes = 64 * 1024;

int outboxBytes(const ZQSendMsgThread::Outbox &outbox)
{
    int n = 0;
    for (const auto &entry : outbox)
        n = qMax(n, entry.second.size());
    return n;
}

void post(ZQSendMsgThread::Outbox &outbox, ZQServerDispatch *to, const QByteArray &bytes)
{
    for (auto &entry : outbox) {
        if (entry.first == to) {
            entry.second.append(bytes);
            return;
        }
    }
    outbox.emplace_back(to, bytes);   // shares the bytes, no copy yet
}
} // namespace

void ZQSendMsgThread::run()
{
    ZQSendMsgQueue *queue = ZQSendMsgQueue::getInstence();
    Outbox outbox;
    while (m_running.load()) {
        QString text = queue->getCommand();
        if (text.isNull())
            continue;   // a wake-up: look at the running flag again
        // Dispatchers in the outbox stay valid while the route lock is held.
        QMutexLocker routeLocker(&queue->routeLock());
        routeText(text, outbox);
        while (m_running.load() && outboxBytes(outbox) < kBatchBytes && queue->tryGetCommand(text))
            routeText(text, outbox);
        flush(outbox);
    }
}

void ZQSendMsgThread::flush(Outbox &outbox)
{
    // Only hands the bytes over: each connection writes on its own thread,
    // so a client that stops reading holds up neither this lock nor the
    // other clients.
    for (const auto &entry : outbox)
        entry.first->postBytes(entry.second);
    outbox.clear();
}

void ZQSendMsgThread::routeText(const QString &text, Outbox &outbox)
{
    using ZQWire::Kind;
    ZQSendMsgQueue *queue = ZQSendMsgQueue::getInstence();
    const bool trace = lcZqIpc().isDebugEnabled();
    if (trace)
        qCDebug(lcZqIpc) << "ZQSendMsgThread ....1" << text;
    const ZQWire::Routing r = ZQWire::splitFrameText(text);
    if (trace)
        qCDebug(lcZqIpc) << "ZQSendMsgThread ....2";

    switch (r.kind) {
    case Kind::Invalid:
        qCWarning(lcZqIpc) << "bus frame with too few pieces dropped:" << text.left(80);
        return;
    case Kind::Subscribe:
        if (trace)
            qCDebug(lcZqIpc) << "ZQSendMsgThread ....3" << r.first << r.second;
        queue->insertClientId(r.first, r.second);
        return;
    case Kind::Unsubscribe:
        if (trace)
            qCDebug(lcZqIpc) << "ZQSendMsgThread ....4" << r.first << r.second;
        queue->deleteClientId(r.first, r.second);
        return;
    default:
        break;
    }

    const QByteArray bytes = ZQWire::replyBytes(r.second);
    if (r.kind == Kind::Broadcast) {
        if (trace)
            qCDebug(lcZqIpc) << "ZQSendMsgThread ....5" << r.first;
        ZQServerDispatch *from = queue->getClinetSocketByAppid(r.first);
        const QList<ZQServerDispatch *> all = queue->getAllClients();
        for (ZQServerDispatch *to : all) {
            if (to != from)
                post(outbox, to, bytes);
        }
        return;
    }
    if (r.kind == Kind::Directed) {
        if (trace)
            qCDebug(lcZqIpc) << "ZQSendMsgThread ....6...1" << r.first;
        if (ZQServerDispatch *to = queue->getClinetSocketByAppid(r.first)) {
            if (trace)
                qCDebug(lcZqIpc) << "ZQSendMsgThread ....6...2";
            post(outbox, to, bytes);
        }
        return;
    }
    // Publish: every subscriber of the sender, in the order they subscribed.
    if (trace)
        qCDebug(lcZqIpc) << "sendmesg thread ....1" << r.first;
    const QStringList subscribers = queue->getClientList(r.first);
    for (const QString &id : subscribers) {
        if (trace)
            qCDebug(lcZqIpc) << "sendmesg thread ....2" << id;
        if (ZQServerDispatch *to = queue->getClinetSocketByAppid(id)) {
            if (trace)
                qCDebug(lcZqIpc) << "sendmesg thread ....3";
            post(outbox, to, bytes);
        }
    }
}
