#ifndef ZQSERIALPORTRECIVEQUEUE_H
#define ZQSERIALPORTRECIVEQUEUE_H

#include "zqblockingqueue.h"

// Board frames waiting for the serial work thread. At most kCapacity wait;
// put and get block. Process-wide single instance.
class ZQSerialPortReciveQueue : private ZQBlockingQueue
{
public:
    static constexpr int kCapacity = 10;

    static ZQSerialPortReciveQueue *getInstence();

    // Blocks while the queue is full; false (frame dropped) once closed.
    bool putCommand(const QByteArray &frame);

    // Blocks while the queue is empty; an empty frame once closed and empty.
    QByteArray getCommand();

    // close() releases every blocked put and get for good; what is queued can
    // still be taken.
    using ZQBlockingQueue::close;
    using ZQBlockingQueue::isClosed;
    using ZQBlockingQueue::count;

private:
    ZQSerialPortReciveQueue();
    Q_DISABLE_COPY(ZQSerialPortReciveQueue)
};

#endif // ZQSERIALPORTRECIVEQUEUE_H
