#include "zqserialportrecivequeue.h"

#include <QAtomicPointer>
#include <QMutex>

namespace {
QMutex instanceMutex; // exists before main, so the first getInstence() is safe
QAtomicPointer<ZQSerialPortReciveQueue> instance;
} // namespace

ZQSerialPortReciveQueue::ZQSerialPortReciveQueue() : m_queue(kCapacity) {}

ZQSerialPortReciveQueue *ZQSerialPortReciveQueue::getInstence()
{
    if (ZQSerialPortReciveQueue *q = instance.loadAcquire())
        return q;
    QMutexLocker locker(&instanceMutex);
    if (!instance.loadAcquire())
        instance.storeRelease(new ZQSerialPortReciveQueue);
    return instance.loadAcquire();
}

bool ZQSerialPortReciveQueue::putCommand(const QByteArray &frame)
{
    return m_queue.put(frame);
}

QByteArray ZQSerialPortReciveQueue::getCommand()
{
    QByteArray frame;
    m_queue.get(frame);
    return frame;
}

void ZQSerialPortReciveQueue::close()
{
    m_queue.close();
}

bool ZQSerialPortReciveQueue::isClosed() const
{
    return m_queue.isClosed();
}

int ZQSerialPortReciveQueue::count() const
{
    return m_queue.count();
}
