#include "zqblockingqueue.h"

ZQBlockingQueue::ZQBlockingQueue(int capacity)
    : m_capacity(capacity), m_free(capacity), m_filled(0)
{
}

bool ZQBlockingQueue::put(const QByteArray &item)
{
    m_free.acquire();
    {
        QMutexLocker locker(&m_mutex);
        if (m_closed) {
            // Pass the wake-up on to the next blocked put.
            m_free.release();
            return false;
        }
        m_fifo.prepend(item);
    }
    m_filled.release();
    return true;
}

bool ZQBlockingQueue::get(QByteArray &item)
{
    m_filled.acquire();
    QMutexLocker locker(&m_mutex);
    if (m_fifo.isEmpty()) {
        // Only close() releases without an item; wake the next blocked get too.
        m_filled.release();
        return false;
    }
    // After close() the filled count stays one above the items, so the last
    // get still finds the wake-up.
    item = m_fifo.takeLast();
    locker.unlock();
    m_free.release();
    return true;
}

void ZQBlockingQueue::close()
{
    QMutexLocker locker(&m_mutex);
    if (m_closed)
        return;
    m_closed = true;
    m_free.release();
    m_filled.release();
}

bool ZQBlockingQueue::isClosed() const
{
    QMutexLocker locker(&m_mutex);
    return m_closed;
}

int ZQBlockingQueue::count() const
{
    QMutexLocker locker(&m_mutex);
    return m_fifo.size();
}

int ZQBlockingQueue::capacity() const
{
    return m_capacity;
}
