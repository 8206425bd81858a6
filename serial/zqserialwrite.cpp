#include "zqserialwrite.h"

#include "serialhublogging.h"
#include "zqserialcapture.h"

#include <QMutexLocker>
#include <QSerialPort>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace {
// How often a write that the device cannot take yet looks at the run flag.
constexpr int RetryMs = 20;

// The next part frame of the same split command: same serial byte and key,
// the following index.
bool continuesPart(const QByteArray &previous, const QByteArray &part)
{
    return previous.size() > 9 && part.size() > 9 && previous.at(6) == part.at(6)
           && previous.at(8) == part.at(8) && previous.at(9) == part.at(9)
           && quint8(part.at(5)) == quint8(previous.at(5)) + 1;
}
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

bool ZQSerialWrite::enqueue(const Entry &entry, int timeoutMs)
{
    if (timeoutMs < 0)
        m_free.acquire();
    else if (!m_free.tryAcquire(1, timeoutMs))
        return false;
    {
        QMutexLocker lock(&m_mutex);
        m_queue.append(entry);
    }
    m_used.release();
    return true;
}

void ZQSerialWrite::writeSerialPort(QByteArray frame)
{
    enqueue({frame, QByteArray()}, -1);
}

bool ZQSerialWrite::tryWriteSerialPort(const QByteArray &frame, int timeoutMs, const QByteArray &whole)
{
    return enqueue({frame, whole}, qMax(0, timeoutMs));
}

QList<QByteArray> ZQSerialWrite::stopAndTakeQueued()
{
    m_run = false;
    m_used.release();
    wait();
    QMutexLocker lock(&m_mutex);
    QList<QByteArray> queued;
    for (int i = 0; i < m_queue.size(); ++i) {
        const Entry &e = m_queue.at(i);
        if (e.whole.isEmpty()) {
            queued.append(e.frame);
            continue;
        }
        // The command once, in place of its first part still waiting.
        if (i > 0 && !m_queue.at(i - 1).whole.isEmpty() && continuesPart(m_queue.at(i - 1).frame, e.frame))
            continue;
        queued.append(e.whole);
    }
    m_queue.clear();
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
            frame = m_queue.first().frame;
        }
        if (!writeFrame(frame)) {
            // Stopped halfway, or refused: either way the frame stays queued.
            if (m_run) {
                m_failed = true;
                emit writeFailed();
            }
            break;
        }
        {
            QMutexLocker lock(&m_mutex);
            m_queue.removeFirst();
        }
        m_free.release();
        if (m_capture)
            m_capture->frame(ZQSerialCapture::ToBoard, frame);
        msleep(PauseMs);
    }
}

// The whole frame; false when the device refused it or the writer is being
// stopped. The port is non-blocking, so a full output buffer is waited out
// here.
bool ZQSerialWrite::writeFrame(const QByteArray &frame)
{
    if (m_fd < 0)
        return false;
    const char *data = frame.constData();
    size_t left = size_t(frame.size());
    while (left > 0) {
        if (!m_run)
            return false;
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
            if (::poll(&pfd, 1, RetryMs) > 0 && (pfd.revents & (POLLERR | POLLHUP | POLLNVAL))) {
                qCDebug(lcSerial) << "serial write: the line hung up";
                return false;
            }
            continue;
        }
        qCDebug(lcSerial) << "serial write refused:" << (n < 0 ? std::strerror(errno) : "nothing written");
        return false;
    }
    return true;
}
