#include "zqipcrcivequeue.h"

namespace {
QMutex instanceMutex; // exists before main, so the first getInstence() is safe
QAtomicPointer<ZQIpcRciveQueue> instance;
} // namespace

ZQIpcRciveQueue::ZQIpcRciveQueue() : m_queue(kCapacity) {}

ZQIpcRciveQueue *ZQIpcRciveQueue::getInstence()
{
    return zqSingleInstance(instance, instanceMutex);
}

bool ZQIpcRciveQueue::putMessage(const QString &message)
{
    return m_queue.put(message.toUtf8());
}

QString ZQIpcRciveQueue::getMessage()
{
    QByteArray bytes;
    if (!m_queue.get(bytes))
        return QString();
    return QString::fromUtf8(bytes);
}

void ZQIpcRciveQueue::close()
{
    m_queue.close();
}

bool ZQIpcRciveQueue::isClosed() const
{
    return m_queue.isClosed();
}

int ZQIpcRciveQueue::count() const
{
    return m_queue.count();
}
