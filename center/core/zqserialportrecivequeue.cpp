#include "zqserialportrecivequeue.h"

ZQSerialPortReciveQueue::ZQSerialPortReciveQueue() : ZQBlockingQueue(kCapacity) {}

ZQSerialPortReciveQueue *ZQSerialPortReciveQueue::getInstence()
{
    // Created on first use, never destroyed: a work thread still draining at
    // exit must not find the queue gone.
    static ZQSerialPortReciveQueue *const instance = new ZQSerialPortReciveQueue;
    return instance;
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
