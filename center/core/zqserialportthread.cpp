#include "zqserialportthread.h"

#include "zqbusinessmanager.h"
#include "zqserialportrecivequeue.h"

ZQSerialPortThread::ZQSerialPortThread(ZQBusinessManager *manager, QObject *parent)
    : QThread(parent), m_manager(manager)
{
}

void ZQSerialPortThread::stop()
{
    m_run.storeRelease(0);
    ZQSerialPortReciveQueue::getInstence()->close();
}

void ZQSerialPortThread::run()
{
    ZQSerialPortReciveQueue *queue = ZQSerialPortReciveQueue::getInstence();
    while (m_run.loadAcquire()) {
        const QByteArray frame = queue->getCommand();
        if (!m_run.loadAcquire())
            break;
        if (frame.isEmpty()) {
            if (queue->isClosed())
                break;
            continue;
        }
        m_manager->DealCommand(frame);
    }
}
