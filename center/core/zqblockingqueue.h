#ifndef ZQBLOCKINGQUEUE_H
#define ZQBLOCKINGQUEUE_H

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QSemaphore>

// Bounded first-in first-out queue of byte arrays on which put blocks while
// it is full and get blocks while it is empty. close() releases every waiter
// for good, so work threads can be stopped without a sentinel item.
class ZQBlockingQueue
{
public:
    explicit ZQBlockingQueue(int capacity);

    // False (item dropped) once the queue is closed.
    bool put(const QByteArray &item);

    // An item, or false once the queue is closed and empty.
    bool get(QByteArray &item);

    void close();
    bool isClosed() const;
    int count() const;
    int capacity() const;

private:
    Q_DISABLE_COPY(ZQBlockingQueue)

    const int m_capacity;
    QList<QByteArray> m_fifo; // new items at the front, taken from the back
    mutable QMutex m_mutex;
    QSemaphore m_free;
    QSemaphore m_filled;
    bool m_closed = false;
};

#endif // ZQBLOCKINGQUEUE_H
