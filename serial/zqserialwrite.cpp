#include "zqserialwrite.h"

#include <QMutexLocker>
#include <QSerialPort>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {
// How often a write that the device cannot take yet looks at the run flag.
constexpr int RetryMs = 20;
} // namespace

ZQSerialWrite::ZQSerialWrite(QObject *parent)
    : QThread(parent)
{
}

ZQSerialWrite::~ZQSerialWrite()
{
    m_run = false;
    m_used.release(); // wakes the thread if it waits for a frame
    wait();
    if (m_fd >= 0)
        ::close(m_fd);
}

void ZQSerialWrite::setSerialPortPtr(QSerialPort *port)
{
    // The frames are written on this thread straight to the device, never
    // through the port object: that belongs to the thread that reads it (the
    // control centre's main thread), and that thread may be the very sender
    // that waits on a full queue. A copy of the descriptor stays valid even
    // when the port object is closed meanwhile.
    if (m_fd < 0 && port && port->isOpen() && port->handle() >= 0)
        m_fd = ::fcntl(port->handle(), F_DUPFD_CLOEXEC, 0);
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

bool ZQSerialWrite::tryWriteSerialPort(const QByteArray &frame, int timeoutMs)
{
    if (!m_free.tryAcquire(1, timeoutMs))
        return false;
    {
        QMutexLocker lock(&m_mutex);
        m_queue.append(frame);
    }
    m_used.release();
    return true;
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
        writeFrame(frame);
        msleep(PauseMs);
    }
}

// The whole frame, or nothing more once the device is gone: the port is
// non-blocking, so a full output buffer is waited out here.
void ZQSerialWrite::writeFrame(const QByteArray &frame)
{
    if (m_fd < 0)
        return;
    const char *data = frame.constData();
    size_t left = size_t(frame.size());
    while (left > 0 && m_run) {
        const ssize_t n = ::write(m_fd, data, left);
        if (n > 0) {
            data += n;
            left -= size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd pfd{m_fd, POLLOUT, 0};
            if (::poll(&pfd, 1, RetryMs) > 0 && (pfd.revents & (POLLERR | POLLHUP | POLLNVAL)))
                return;
            continue;
        }
        return; // refused by the device: the frame is lost, as before
    }
}
