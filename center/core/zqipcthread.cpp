#include "zqipcthread.h"

#include "zqbusinessmanager.h"
#include "zqipcrcivequeue.h"

ZQIpcThread::ZQIpcThread(ZQBusinessManager *manager, QObject *parent)
    : QThread(parent), m_manager(manager)
{
}

void ZQIpcThread::stop()
{
    m_run.storeRelease(0);
    ZQIpcRciveQueue::getInstence()->close();
}

void ZQIpcThread::run()
{
    ZQIpcRciveQueue *queue = ZQIpcRciveQueue::getInstence();
    while (m_run.loadAcquire()) {
        const QString message = queue->getMessage();
        if (!m_run.loadAcquire())
            break;
        if (message.isEmpty()) {
            if (queue->isClosed())
                break;
            continue;
        }
        m_manager->DealMessage(message);
    }
}
