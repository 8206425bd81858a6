#ifndef ZQSERIALPORTTHREAD_H
#define ZQSERIALPORTTHREAD_H

#include "zqworkthread.h"

// Drains the serial receive queue into the business modules' frame handling.
class ZQSerialPortThread : public ZQWorkThread
{
    Q_OBJECT
public:
    using ZQWorkThread::ZQWorkThread;

protected:
    bool dealNext(ZQBusinessManager *manager) override;
    void closeQueue() override;
};

#endif // ZQSERIALPORTTHREAD_H
