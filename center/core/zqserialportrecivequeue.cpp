#include "zqserialportrecivequeue.h"

namespace {
QMutex instanceMutex; // exists before main, so the first getInstence() is safe
QAtomicPointer<ZQSerialPortReciveQueue> instance;
} // namespace

ZQSerialPortReciveQueue::ZQSerialPortReciveQueue() : m_queue(kCapacity) {}

ZQSerialPortReciveQueue *ZQSerialPortReciveQueue::getInstence()
{
    return zqSingleInstance(instance, instanceMutex);
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
