#ifndef ZQIPCTHREAD_H
#define ZQIPCTHREAD_H

#include "zqworkthread.h"

// Drains the IPC receive queue into the business modules' message handling.
class ZQIpcThread : public ZQWorkThread
{
    Q_OBJECT
public:
    using ZQWorkThread::ZQWorkThread;

protected:
    bool dealNext(ZQBusinessManager *manager) override;
    void closeQueue() override;
};

#endif // ZQIPCTHREAD_H
