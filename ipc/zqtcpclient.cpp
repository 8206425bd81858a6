#include "zqtcpclient.h"

#include "zqipclogging.h"
#include "zqwire.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

ZQTcpClient::ZQTcpClient(QObject *parent) : QObject(parent) {}

ZQTcpClient::~ZQTcpClient()
{
    closeClient();
    QMutexLocker sendLocker(&m_sendMutex);
    QMutexLocker fdLocker(&m_fdMutex);
    closeSocketLocked();
}

void ZQTcpClient::closeSocketLocked()
{
    if (m_socket >= 0) {
        ::close(m_socket);
        m_socket = -1;
    }
}

bool ZQTcpClient::initClient(QString appId, const char *ip, int port)
{
    QMutexLocker sendLocker(&m_sendMutex);
    QMutexLocker fdLocker(&m_fdMutex);
    m_connected.store(false);
    closeSocketLocked();
    m_appId = appId;

    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(quint16(port));
    if (!ip || ::inet_pton(AF_INET, ip, &addr.sin_addr) != 1 || port <= 0 || port > 65535) {
        qCWarning(lcZqIpc) << "bus client" << appId << ": bad hub address" << ip << port;
        return false;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    if (::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) < 0) {
        // A failed attempt keeps no descriptor open.
        ::close(fd);
        return false;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    m_socket = fd;
    m_connected.store(true);
    fdLocker.unlock();
    sendLocker.unlock();

    if (sendMsgToServer(appId, QLatin1String(ZQWire::kTargetRaw))) {
        QMutexLocker sendLocker2(&m_sendMutex);
        QMutexLocker fdLocker2(&m_fdMutex);
        m_connected.store(false);
        closeSocketLocked();
        return false;
    }
    return true;
}

bool ZQTcpClient::sendMsgToServer(QString message, QString target)
{
    const bool trace = lcZqIpc().isDebugEnabled();
    if (trace) {
        qCDebug(lcZqIpc) << "tcpClient......1" << message;
        qCDebug(lcZqIpc) << "tcpClient......2" << (m_connected.load() ? "true" : "false");
    }
    if (!m_connected.load())
        return true;

    const QByteArray payload = ZQWire::frameText(m_appId, target, message).toUtf8();
    QByteArray frame;
    frame.reserve(ZQWire::kLengthSize + payload.size());
    if (!ZQWire::appendFrame(frame, payload)) {
        qCWarning(lcZqIpc) << "bus client" << m_appId << ": text of" << payload.size()
                           << "bytes is longer than a frame can carry; not sent";
        return true;
    }

    QMutexLocker locker(&m_sendMutex);
    if (trace)
        qCDebug(lcZqIpc) << "tcpClient......3" << m_socket;
    bool failed = m_socket < 0 || !m_connected.load();
    int written = 0;
    while (!failed && written < frame.size()) {
        const ssize_t n = ::send(m_socket, frame.constData() + written,
                                 size_t(frame.size() - written), MSG_NOSIGNAL);
        if (n > 0)
            written += int(n);
        else if (!(n < 0 && errno == EINTR))
            failed = true;
    }
    if (failed) {
        // A half-written frame would corrupt the stream: the connection is over.
        if (written > 0) {
            QMutexLocker fdLocker(&m_fdMutex);
            ::shutdown(m_socket, SHUT_RDWR);
        }
        if (trace)
            qCDebug(lcZqIpc) << "tcpClient......4" << message;
        return true;
    }
    if (trace)
        qCDebug(lcZqIpc) << "tcpClient......5" << message;
    return false;
}

void ZQTcpClient::registerAccept(QString source)
{
    sendMsgToServer(QLatin1String(ZQWire::kKindSubscribe) + QLatin1String(ZQWire::kMarker) + source
                        + QLatin1String(ZQWire::kMarker) + m_appId,
                    QLatin1String(ZQWire::kTargetRaw));
}

void ZQTcpClient::deleteAccept(QString source)
{
    sendMsgToServer(QLatin1String(ZQWire::kKindUnsubscribe) + QLatin1String(ZQWire::kMarker) + source
                        + QLatin1String(ZQWire::kMarker) + m_appId,
                    QLatin1String(ZQWire::kTargetRaw));
}

void ZQTcpClient::closeClient()
{
    m_running.store(false);
    m_connected.store(false);
    // Shutting down (not closing) releases a blocked read or write without
    // letting the descriptor number be reused under them.
    {
        QMutexLocker fdLocker(&m_fdMutex);
        if (m_socket >= 0)
            ::shutdown(m_socket, SHUT_RDWR);
        if (m_looping)
            return;   // the receive loop closes it on its way out
    }
    QMutexLocker sendLocker(&m_sendMutex);
    QMutexLocker fdLocker(&m_fdMutex);
    if (!m_looping)
        closeSocketLocked();
}

void ZQTcpClient::receiveMsgFromServer()
{
    int fd;
    {
        QMutexLocker fdLocker(&m_fdMutex);
        if (!m_running.load() || m_socket < 0)
            return;
        m_looping = true;
        fd = m_socket;
    }
    QByteArray carry;
    QList<QByteArray> messages;
    char buffer[ZQWire::kBufferSize];
    while (m_running.load()) {
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;   // hub gone or connection shut down: nothing more will come
        messages.clear();
        ZQWire::takeReplies(carry, buffer, int(n), messages);
        for (const QByteArray &m : messages)
            emit sigRecMsg(QString::fromUtf8(m));
    }
    m_connected.store(false);
    {
        QMutexLocker sendLocker(&m_sendMutex);
        QMutexLocker fdLocker(&m_fdMutex);
        m_looping = false;
        closeSocketLocked();
    }
    if (m_running.load())
        emit sigConnectionLost();
}
