#include "zqipcthread.h"

#include "zqbusinessmanager.h"
#include "zqipcrcivequeue.h"

bool ZQIpcThread::dealNext(ZQBusinessManager *manager)
{
    ZQIpcRciveQueue *queue = ZQIpcRciveQueue::getInstence();
    const QString message = queue->getMessage();
    if (message.isEmpty())
        return !queue->isClosed();
    manager->DealMessage(message);
    return true;
}

void ZQIpcThread::closeQueue()
{
    ZQIpcRciveQueue::getInstence()->close();
}
