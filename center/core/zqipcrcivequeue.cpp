#include "zqipcrcivequeue.h"

ZQIpcRciveQueue::ZQIpcRciveQueue() : ZQBlockingQueue(kCapacity) {}

ZQIpcRciveQueue *ZQIpcRciveQueue::getInstence()
{
    // Created on first use, never destroyed: a work thread still draining at
    // exit must not find the queue gone.
    static ZQIpcRciveQueue *const instance = new ZQIpcRciveQueue;
    return instance;
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
