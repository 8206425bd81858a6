#include "zqserverdispatch.h"

#include "zqhubwriter.h"
#include "zqipclogging.h"
#include "zqnulleventdispatcher.h"
#include "zqsendmsgqueue.h"
#include "zqwire.h"

#include <QDateTime>
#include <QElapsedTimer>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
std::atomic<int> g_writeTimeoutMs{2000};
std::atomic<int> g_monitorBufferBytes{ZQServerDispatch::kMonitorBufferBytes};
std::atomic<quint64> g_nextSerial{1};
// A connection's thread needs little stack; hundreds of clients may join.
constexpr uint kStackBytes = 512 * 1024;
// A written-off head of the outbox is dropped once it is this large.
constexpr int kCompactBytes = 256 * 1024;
// An empty outbox keeps at most this much room.
constexpr size_t kKeptOutboxBytes = 1024 * 1024;

qint64 nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch()).count();
}

// One non-blocking send; the bytes taken, 0 when the socket is full, -1 when
// the peer is gone.
ssize_t sendSome(int fd, const char *data, int size)
{
    for (;;) {
        const ssize_t n = ::send(fd, data, size_t(size), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0)
            return n;
        if (errno == EINTR)
            continue;
        return (errno == EAGAIN || errno == EWOULDBLOCK) ? 0 : -1;
    }
}
} // namespace

ZQServerDispatch::ZQServerDispatch(int socket, QString appId, QObject *parent)
    : QThread(parent), m_socket(socket), m_serial(g_nextSerial.fetch_add(1)), m_appId(std::move(appId))
{
    m_appIdBytes = m_appId.toUtf8();
    setStackSize(kStackBytes);
    setEventDispatcher(new ZQNullEventDispatcher);
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

void ZQServerDispatch::setMonitorBufferBytes(int bytes)
{
    g_monitorBufferBytes.store(bytes > 0 ? bytes : kMonitorBufferBytes);
}

void ZQServerDispatch::stopRun()
{
    m_running.store(false);
    if (m_socket >= 0)
        ::shutdown(m_socket, SHUT_RDWR);
}

int ZQServerDispatch::sendMsgToClinet(QString text)
{
    if (!m_running.load())
        return -1;
    const QByteArray bytes = ZQWire::replyBytes(text);
    postBytes(bytes);
    return bytes.size();
}

void ZQServerDispatch::queueLocked(const char *data, int size)
{
    if (pendingLocked() > 0) {
        m_outbox.append(data, size);
        return;
    }
    const ssize_t n = sendSome(m_socket, data, size);
    if (n < 0 || n == size)
        return;   // all taken, or the peer is gone (its read loop ends it)
    m_outbox.assign(data + n, size_t(size - n));
    m_outOffset = 0;
    m_progressAt = nowMs();
}

bool ZQServerDispatch::noteLossLocked()
{
    // Tells a monitor what it missed as soon as the notice fits.
    if (m_lost == 0)
        return true;
    const QByteArray count = QByteArray::number(m_lost);
    const QByteArray notice = ZQWire::monitorRecord("lost", QDateTime::currentMSecsSinceEpoch() * 1000, QByteArray(),
                                                    QByteArray(), 0, count.constData(), count.size());
    if (pendingLocked() + notice.size() > g_monitorBufferBytes.load())
        return false;
    m_lost = 0;
    queueLocked(notice.constData(), notice.size());
    return true;
}

void ZQServerDispatch::postBytes(const char *data, int size)
{
    std::unique_lock<std::mutex> lock(m_outMutex);
    if (!m_running.load())
        return;
    if (m_monitor) {
        if (!noteLossLocked() || pendingLocked() + size > g_monitorBufferBytes.load()) {
            ++m_lost;
            return;
        }
    } else if (pendingLocked() > kMaxOutboxBytes - size) {
        lock.unlock();
        qCWarning(lcZqIpc) << "bus client" << m_appId << "has more than" << kMaxOutboxBytes
                           << "bytes waiting; closing its connection";
        stopRun();
        return;
    }
    queueLocked(data, size);
    // A backlog started: the writer takes it on from here.
    const bool arm = pendingLocked() > 0 && !m_armed;
    if (arm)
        m_armed = true;
    lock.unlock();
    if (arm && m_writer)
        m_writer->arm(this);
}

void ZQServerDispatch::dropOutboxLocked()
{
    // The room stays for the next backlog (allocating it again for every
    // burst costs more than the bytes): only a large one is given back.
    m_outbox.clear();
    if (m_outbox.capacity() > kKeptOutboxBytes)
        std::string().swap(m_outbox);
    m_outOffset = 0;
}

bool ZQServerDispatch::writePending()
{
    std::lock_guard<std::mutex> lock(m_outMutex);
    for (;;) {
        const int left = pendingLocked();
        if (left == 0 || !m_running.load()) {
            dropOutboxLocked();
            if (m_monitor && m_running.load() && m_lost > 0) {
                noteLossLocked();
                if (pendingLocked() > 0)
                    continue;
            }
            m_armed = false;
            return true;
        }
        const ssize_t n = sendSome(m_socket, m_outbox.data() + m_outOffset, left);
        if (n < 0) {
            dropOutboxLocked();
            m_armed = false;
            return true;   // peer gone: its read loop ends the connection
        }
        if (n == 0)
            break;
        m_outOffset += int(n);
        m_progressAt = nowMs();
    }
    if (m_outOffset >= kCompactBytes) {
        m_outbox.erase(0, size_t(m_outOffset));
        m_outOffset = 0;
    }
    return false;
}

bool ZQServerDispatch::dropIfStalled(qint64 now)
{
    {
        std::lock_guard<std::mutex> lock(m_outMutex);
        if (m_monitor || pendingLocked() == 0 || now - m_progressAt < g_writeTimeoutMs.load())
            return false;
    }
    qCWarning(lcZqIpc) << "bus client" << m_appId << "took no bytes for" << g_writeTimeoutMs.load()
                       << "ms; closing its connection";
    stopRun();
    return true;
}

bool ZQServerDispatch::handleBytes(QByteArray &carry, const char *data, int size)
{
    ZQWire::ParseStatus status = ZQWire::ParseStatus::Ok;
    ZQSendMsgQueue::Batch batch;
    if (carry.isEmpty()) {
        // Common case: frames straight from the read buffer, only a tail kept.
        const int used = ZQWire::completeFrames(data, size, status);
        if (used > 0)
            batch.frames = QByteArray(data, used);
        if (status == ZQWire::ParseStatus::Ok && used < size)
            carry = QByteArray(data + used, size - used);
    } else {
        carry.append(data, size);
        const int used = ZQWire::completeFrames(carry.constData(), carry.size(), status);
        if (used > 0) {
            batch.frames = carry.left(used);
            carry.remove(0, used);
        }
    }
    if (!batch.frames.isEmpty()) {
        if (lcZqIpc().isDebugEnabled()) {
            for (int at = 0; at < batch.frames.size();) {
                const qint32 n = ZQWire::frameLength(batch.frames.constData() + at);
                qCDebug(lcZqIpc) << "dispathc recv datalen.....2" << n;
                qCDebug(lcZqIpc) << "dispathc recv.....3";
                qCDebug(lcZqIpc) << "dispathc recv.....4"
                                 << ZQWire::payloadText(batch.frames.mid(at + ZQWire::kLengthSize, n));
                at += ZQWire::kLengthSize + n;
                qCDebug(lcZqIpc) << "dispathc dataindex.....5" << at;
            }
        }
        batch.senderId = m_appIdBytes;
        batch.serial = m_serial;
        if (!ZQSendMsgQueue::getInstence()->putBatch(std::move(batch), m_running))
            return false;
    }
    if (status == ZQWire::ParseStatus::BadLength) {
        qCWarning(lcZqIpc) << "bus connection" << m_appId << "sent a frame length out of range; closing it";
        return false;
    }
    return true;
}

ssize_t ZQServerDispatch::readSome(int limit, QByteArray &big, char *small, const char *&data)
{
    // Most reads are a message or two: they land in a small buffer on the
    // stack, so an idle connection's thread keeps little memory. A full small
    // buffer is followed by a read of what else waits, up to `limit` in all.
    ssize_t n;
    do
        n = ::recv(m_socket, small, kSmallReadBytes, 0);
    while (n < 0 && errno == EINTR);
    data = small;
    if (n < kSmallReadBytes)
        return n;
    big.resize(limit);
    std::memcpy(big.data(), small, size_t(n));
    ssize_t more;
    do
        more = ::recv(m_socket, big.data() + n, size_t(limit - n), MSG_DONTWAIT);
    while (more < 0 && errno == EINTR);
    data = big.constData();
    return more > 0 ? n + more : n;
}

bool ZQServerDispatch::readHello()
{
    QByteArray carry;
    QList<QByteArray> payloads;
    char small[kSmallReadBytes];
    QByteArray big;
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
        const char *data = nullptr;
        const ssize_t n = readSome(ZQWire::kHelloBufferSize, big, small, data);
        if (n <= 0)
            return false;
        if (ZQWire::takeFrames(carry, data, int(n), payloads) != ZQWire::ParseStatus::Ok && payloads.isEmpty())
            return false;
    }
    // The identifier comes from the first frame alone; frames that came with
    // it are routed as ordinary frames, ahead of the unparsed tail.
    m_appId = ZQWire::payloadText(payloads.takeFirst());
    m_appIdBytes = m_appId.toUtf8();
    m_pending.clear();
    for (const QByteArray &p : payloads)
        ZQWire::appendFrame(m_pending, p);
    m_pending.append(carry);
    return true;
}

void ZQServerDispatch::run()
{
    readLoop();
    stopRun();
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
    char small[kSmallReadBytes];
    QByteArray big;
    const char *data = nullptr;
    if (ok && m_monitor) {
        // A monitor only reads; whatever it writes ends it.
        if (!m_pending.isEmpty())
            ok = false;
        if (ok && m_running.load()) {
            ssize_t n;
            do
                n = ::recv(m_socket, small, sizeof small, 0);
            while (n < 0 && errno == EINTR);
            if (n > 0)
                ok = false;
        }
        if (!ok)
            qCWarning(lcZqIpc) << "bus hub: a monitor sent a frame; monitors may not send, closed";
        return;
    }
    if (ok && !m_pending.isEmpty()) {
        ok = handleBytes(carry, m_pending.constData(), m_pending.size());
        m_pending.clear();
    }
    while (ok && m_running.load()) {
        const ssize_t n = readSome(ZQWire::kBufferSize, big, small, data);
        if (n <= 0)
            break;
        qCDebug(lcZqIpc) << "dispathc recv.....1" << n;
        ok = handleBytes(carry, data, int(n));
    }
}
