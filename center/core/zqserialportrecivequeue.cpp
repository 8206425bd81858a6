#include "zqserialportrecivequeue.h"

namespace {
QMutex instanceMutex; // exists before main, so the first getInstence() is safe
QAtomicPointer<ZQSerialPortReciveQueue> instance;
} // namespace

ZQSerialPortReciveQueue::ZQSerialPortReciveQueue() : ZQBlockingQueue(kCapacity) {}

ZQSerialPortReciveQueue *ZQSerialPortReciveQueue::getInstence()
{
    return zqSingleInstance(instance, instanceMutex);
}

bool ZQSerialPortReciveQueue::putCommand(const QByteArray &frame)
{
    return put(frame);
}

QByteArray ZQSerialPortReciveQueue::getCommand()
{
    QByteArray frame;
    get(frame);
    return frame;
}
