#include "zqserialportthread.h"

#include "zqbusinessmanager.h"
#include "zqserialportrecivequeue.h"

bool ZQSerialPortThread::dealNext(ZQBusinessManager *manager)
{
    ZQSerialPortReciveQueue *queue = ZQSerialPortReciveQueue::getInstence();
    const QByteArray frame = queue->getCommand();
    if (frame.isEmpty())
        return !queue->isClosed();
    manager->DealCommand(frame);
    return true;
}

void ZQSerialPortThread::closeQueue()
{
    ZQSerialPortReciveQueue::getInstence()->close();
}
