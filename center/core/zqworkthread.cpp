#include "zqworkthread.h"

ZQWorkThread::ZQWorkThread(ZQBusinessManager *manager, QObject *parent)
    : QThread(parent), m_manager(manager)
{
}

void ZQWorkThread::stop()
{
    m_run.storeRelease(0);
    closeQueue();
}

void ZQWorkThread::run()
{
    while (m_run.loadAcquire()) {
        if (!dealNext(m_manager))
            break;
    }
}
