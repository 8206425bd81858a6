#ifndef ZQSERIALPORTRECIVEQUEUE_H
#define ZQSERIALPORTRECIVEQUEUE_H

#include "zqblockingqueue.h"

// Board frames waiting for the serial work thread. At most kCapacity wait;
// put and get block. Process-wide single instance.
class ZQSerialPortReciveQueue
{
public:
    static constexpr int kCapacity = 10;

    static ZQSerialPortReciveQueue *getInstence();

    // Blocks while the queue is full; false (frame dropped) once closed.
    bool putCommand(const QByteArray &frame);

    // Blocks while the queue is empty; an empty frame once closed and empty.
    QByteArray getCommand();

    // Releases every blocked put and get for good; queued frames can still be
    // taken.
    void close();
    bool isClosed() const;
    int count() const;

private:
    template <class T>
    friend T *zqSingleInstance(QAtomicPointer<T> &, QMutex &);
    ZQSerialPortReciveQueue();
    Q_DISABLE_COPY(ZQSerialPortReciveQueue)

    ZQBlockingQueue m_queue;
};

#endif // ZQSERIALPORTRECIVEQUEUE_H
