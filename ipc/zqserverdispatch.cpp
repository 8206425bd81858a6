#include "zqserverdispatch.h"

#include "zqipclogging.h"
#include "zqsendmsgqueue.h"
#include "zqwire.h"

#include <QElapsedTimer>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
std::atomic<int> g_writeTimeoutMs{2000};
// A connection's threads need little stack; hundreds of clients may join.
constexpr uint kStackBytes = 512 * 1024;
}

// Writes what the router posts to one connection, so that only this thread
// waits for a client that reads slowly.
class ZQServerDispatch::Writer : public QThread
{
public:
    explicit Writer(ZQServerDispatch *d) : m_d(d) { setStackSize(kStackBytes); }
    void run() override { m_d->writeLoop(); }

private:
    ZQServerDispatch *m_d;
};

ZQServerDispatch::ZQServerDispatch(int socket, QString appId, QObject *parent)
    : QThread(parent), m_socket(socket), m_appId(std::move(appId))
{
    setStackSize(kStackBytes);
}

ZQServerDispatch::~ZQServerDispatch()
{
    if (QThread::isRunning()) {
        stopRun();
        wait();
    }
    if (m_socket >= 0)
        ::close(m_socket);
}

void ZQServerDispatch::setWriteTimeoutMs(int ms)
{
    g_writeTimeoutMs.store(ms > 0 ? ms : 1);
}

int ZQServerDispatch::writeTimeoutMs()
{
    return g_writeTimeoutMs.load();
}

void ZQServerDispatch::stopRun()
{
    m_running.store(false);
    if (m_socket >= 0)
        ::shutdown(m_socket, SHUT_RDWR);
    QMutexLocker locker(&m_outboxMutex);
    m_outboxReady.wakeAll();
}

void ZQServerDispatch::postBytes(const QByteArray &bytes)
{
    QMutexLocker locker(&m_outboxMutex);
    if (!m_running.load())
        return;
    if (m_outbox.size() > kMaxOutboxBytes - bytes.size()) {
        locker.unlock();
        qCWarning(lcZqIpc) << "bus client" << m_appId << "has more than" << kMaxOutboxBytes
                           << "bytes waiting; closing its connection";
        stopRun();
        return;
    }
    m_outbox.append(bytes);
    m_outboxReady.wakeOne();
}

void ZQServerDispatch::writeLoop()
{
    QMutexLocker locker(&m_outboxMutex);
    while (m_running.load()) {
        if (m_outbox.isEmpty()) {
            m_outboxReady.wait(&m_outboxMutex);
            continue;
        }
        QByteArray bytes;
        bytes.swap(m_outbox);
        locker.unlock();
        const bool written = sendBytes(bytes) >= 0;
        locker.relock();
        if (!written)
            break;
    }
    m_outbox.clear();
}

bool ZQServerDispatch::handleBytes(QByteArray &carry, const char *data, int size)
{
    QList<QByteArray> payloads;
    const ZQWire::ParseStatus status = ZQWire::takeFrames(carry, data, size, payloads);
    ZQSendMsgQueue *queue = ZQSendMsgQueue::getInstence();
    int index = 0;
    for (const QByteArray &payload : payloads) {
        const QString text = ZQWire::payloadText(payload);
        if (lcZqIpc().isDebugEnabled()) {
            index += ZQWire::kLengthSize + payload.size();
            qCDebug(lcZqIpc) << "dispathc recv datalen.....2" << payload.size();
            qCDebug(lcZqIpc) << "dispathc recv.....3";
            qCDebug(lcZqIpc) << "dispathc recv.....4" << text;
            qCDebug(lcZqIpc) << "dispathc dataindex.....5" << index;
        }
        if (!queue->putCommand(text, m_running))
            return false;
    }
    if (status == ZQWire::ParseStatus::BadLength) {
        qCWarning(lcZqIpc) << "bus connection" << m_appId
                           << "sent a frame length out of range; closing it";
        return false;
    }
    return true;
}

bool ZQServerDispatch::readHello()
{
    QByteArray carry;
    QList<QByteArray> payloads;
    char buffer[ZQWire::kHelloBufferSize];
    QElapsedTimer clock;
    clock.start();
    while (payloads.isEmpty()) {
        const qint64 left = kHelloTimeoutMs - clock.elapsed();
        if (left <= 0 || !m_running.load())
            return false;
        pollfd pfd{m_socket, POLLIN, 0};
        const int r = ::poll(&pfd, 1, int(left));
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        const ssize_t n = ::recv(m_socket, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        if (ZQWire::takeFrames(carry, buffer, int(n), payloads) != ZQWire::ParseStatus::Ok
            && payloads.isEmpty())
            return false;
    }
    // The identifier comes from the first frame alone; frames that came with
    // it are routed as ordinary frames, ahead of the unparsed tail.
    m_appId = ZQWire::payloadText(payloads.takeFirst());
    m_pending.clear();
    for (const QByteArray &p : payloads)
        ZQWire::appendFrame(m_pending, p);
    m_pending.append(carry);
    return true;
}

void ZQServerDispatch::run()
{
    Writer writer(this);
    writer.start();
    readLoop();
    stopRun();   // ends the writer, which may still wait for the client
    writer.wait();
    emit sigCliStop(m_appId);
    if (m_endHandler)
        m_endHandler(this);
}

void ZQServerDispatch::readLoop()
{
    QByteArray carry;
    bool ok = true;
    if (m_appId.isEmpty()) {
        ok = readHello();
        if (!ok)
            qCWarning(lcZqIpc) << "bus hub: a connection sent no usable hello; closed";
        else if (m_helloHandler && !m_helloHandler(this))
            ok = false;
    }
    if (!m_pending.isEmpty()) {
        ok = handleBytes(carry, m_pending.constData(), m_pending.size());
        m_pending.clear();
    }
    char buffer[ZQWire::kBufferSize];
    while (ok && m_running.load()) {
        const ssize_t n = ::recv(m_socket, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        qCDebug(lcZqIpc) << "dispathc recv.....1" << n;
        ok = handleBytes(carry, buffer, int(n));
    }
}

int ZQServerDispatch::sendMsgToClinet(QString text)
{
    return sendBytes(ZQWire::replyBytes(text));
}

int ZQServerDispatch::sendBytes(const QByteArray &bytes)
{
    QMutexLocker locker(&m_writeMutex);
    const char *data = bytes.constData();
    const int size = bytes.size();
    int written = 0;
    QElapsedTimer clock;
    bool clockStarted = false;
    while (written < size) {
        const ssize_t n = ::send(m_socket, data + written, size_t(size - written),
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            written += int(n);
            clockStarted = false;   // the client reads: the bound starts again
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!clockStarted) {
                clock.start();
                clockStarted = true;
            }
            const qint64 left = g_writeTimeoutMs.load() - clock.elapsed();
            if (left > 0) {
                pollfd pfd{m_socket, POLLOUT, 0};
                const int r = ::poll(&pfd, 1, int(left));
                if (r > 0 || (r < 0 && errno == EINTR))
                    continue;
            }
            qCWarning(lcZqIpc) << "bus client" << m_appId << "took no bytes for"
                               << g_writeTimeoutMs.load() << "ms; closing its connection";
            stopRun();
            return -1;
        }
        return -1;   // peer gone: the read loop ends the connection
    }
    return written;
}
