#include "zqserialwrite.h"

#include <QMutexLocker>
#include <QSerialPort>
#include <memory>

ZQSerialWrite::ZQSerialWrite(QObject *parent)
    : QThread(parent)
{
}

ZQSerialWrite::~ZQSerialWrite()
{
    m_run = false;
    m_used.release(); // wakes the thread if it waits for a frame
    wait();
}

void ZQSerialWrite::setSerialPortPtr(QSerialPort *port)
{
    {
        QMutexLocker lock(&m_mutex);
        m_port = port;
    }
    if (!isRunning())
        start(InheritPriority);
}

void ZQSerialWrite::writeSerialPort(QByteArray frame)
{
    m_free.acquire();
    {
        QMutexLocker lock(&m_mutex);
        m_queue.append(frame);
    }
    m_used.release();
}

QList<QByteArray> ZQSerialWrite::stopAndTakeQueued()
{
    m_run = false;
    m_used.release();
    wait();
    QMutexLocker lock(&m_mutex);
    QList<QByteArray> queued;
    queued.swap(m_queue);
    return queued;
}

void ZQSerialWrite::run()
{
    while (m_run) {
        m_used.acquire();
        if (!m_run)
            break;
        QByteArray frame;
        {
            QMutexLocker lock(&m_mutex);
            frame = m_queue.takeFirst();
        }
        m_free.release();
        writeOnPortThread(frame);
        msleep(PauseMs);
    }
}

// QSerialPort is not thread-safe and reads happen on the thread that owns the
// port, so the write and flush are handed to that thread. This thread waits
// until they are done, which keeps the pause between frames on the line.
void ZQSerialWrite::writeOnPortThread(const QByteArray &frame)
{
    QPointer<QSerialPort> port;
    {
        QMutexLocker lock(&m_mutex);
        port = m_port;
    }
    if (!port)
        return;
    // Shared so that a write still pending after this object is gone does not
    // touch freed memory.
    auto done = std::make_shared<QSemaphore>(0);
    const bool posted = QMetaObject::invokeMethod(port.data(), [port, frame, done]() {
        if (port && port->isOpen()) {
            port->write(frame);
            port->flush();
        }
        done->release();
    }, Qt::QueuedConnection);
    if (!posted)
        return;
    while (m_run && !done->tryAcquire(1, 20)) {
    }
}
