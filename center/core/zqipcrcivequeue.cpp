#include "zqipcrcivequeue.h"

namespace {
QMutex instanceMutex; // exists before main, so the first getInstence() is safe
QAtomicPointer<ZQIpcRciveQueue> instance;
} // namespace

ZQIpcRciveQueue::ZQIpcRciveQueue() : ZQBlockingQueue(kCapacity) {}

ZQIpcRciveQueue *ZQIpcRciveQueue::getInstence()
{
    return zqSingleInstance(instance, instanceMutex);
}

bool ZQIpcRciveQueue::putMessage(const QString &message)
{
    return put(message.toUtf8());
}

QString ZQIpcRciveQueue::getMessage()
{
    QByteArray bytes;
    if (!get(bytes))
        return QString();
    return QString::fromUtf8(bytes);
}
