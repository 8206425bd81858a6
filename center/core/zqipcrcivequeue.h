#ifndef ZQIPCRCIVEQUEUE_H
#define ZQIPCRCIVEQUEUE_H

#include "zqblockingqueue.h"

#include <QString>

// Bus messages waiting for the IPC work thread, stored as UTF-8. At most
// kCapacity wait; put and get block. Process-wide single instance.
class ZQIpcRciveQueue : private ZQBlockingQueue
{
public:
    static constexpr int kCapacity = 10;

    static ZQIpcRciveQueue *getInstence();

    // Blocks while the queue is full; false (message dropped) once closed.
    bool putMessage(const QString &message);

    // Blocks while the queue is empty; the empty text once closed and empty.
    QString getMessage();

    // close() releases every blocked put and get for good; what is queued can
    // still be taken.
    using ZQBlockingQueue::close;
    using ZQBlockingQueue::isClosed;
    using ZQBlockingQueue::count;

private:
    ZQIpcRciveQueue();
    Q_DISABLE_COPY(ZQIpcRciveQueue)
};

#endif // ZQIPCRCIVEQUEUE_H
