#include "zqtcpclient.h"

#include "zqipclogging.h"
#include "zqwire.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

ZQTcpClient::ZQTcpClient(QObject *parent) : QObject(parent) {}

ZQTcpClient::~ZQTcpClient()
{
    closeClient();
    std::lock_guard<std::mutex> sendLocker(m_sendMutex);
    std::lock_guard<std::mutex> fdLocker(m_fdMutex);
    closeSocketLocked();
}

void ZQTcpClient::closeSocketLocked()
{
    if (m_socket >= 0) {
        ::close(m_socket);
        m_socket = -1;
    }
}

QString ZQTcpClient::appId() const
{
    std::lock_guard<std::mutex> locker(m_sendMutex);
    return m_appId;
}

bool ZQTcpClient::initClient(QString appId, const char *ip, int port)
{
    std::unique_lock<std::mutex> sendLocker(m_sendMutex);
    std::unique_lock<std::mutex> fdLocker(m_fdMutex);
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
    {
        // The caller runs the receive loop, which takes the greeting.
        std::lock_guard<std::mutex> greetLocker(m_greetMutex);
        m_greetPending = true;
    }
    m_connected.store(true);
    fdLocker.unlock();
    sendLocker.unlock();

    if (sendMsgToServer(appId, QLatin1String(ZQWire::kTargetRaw))) {
        std::lock_guard<std::mutex> sendLocker2(m_sendMutex);
        std::lock_guard<std::mutex> fdLocker2(m_fdMutex);
        m_connected.store(false);
        closeSocketLocked();
        return false;
    }
    return true;
}

bool ZQTcpClient::sendMsgToServer(QString message, QString target)
{
    return sendFrame([&](const QString &ownId) { return ZQWire::frameText(ownId, target, message); }, message);
}

bool ZQTcpClient::sendFrame(const std::function<QString(const QString &)> &build, const QString &what)
{
    const bool trace = lcZqIpc().isDebugEnabled();
    if (trace) {
        qCDebug(lcZqIpc) << "tcpClient......1" << what;
        qCDebug(lcZqIpc) << "tcpClient......2" << (m_connected.load() ? "true" : "false");
    }
    if (!m_connected.load())
        return true;

    std::lock_guard<std::mutex> locker(m_sendMutex);
    // Built under the lock: a rejoin on another thread may set the identifier.
    const QByteArray payload = build(m_appId).toUtf8();
    QByteArray frame;
    frame.reserve(ZQWire::kLengthSize + payload.size());
    if (!ZQWire::appendFrame(frame, payload)) {
        qCWarning(lcZqIpc) << "bus client" << m_appId << ": text of" << payload.size()
                           << "bytes is longer than a frame can carry; not sent";
        return true;
    }
    if (trace)
        qCDebug(lcZqIpc) << "tcpClient......3" << m_socket;
    bool failed = m_socket < 0 || !m_connected.load();
    int written = 0;
    while (!failed && written < frame.size()) {
        const ssize_t n = ::send(m_socket, frame.constData() + written, size_t(frame.size() - written), MSG_NOSIGNAL);
        if (n > 0)
            written += int(n);
        else if (!(n < 0 && errno == EINTR))
            failed = true;
    }
    if (failed) {
        // A half-written frame would corrupt the stream: the connection is over.
        if (written > 0) {
            std::lock_guard<std::mutex> fdLocker(m_fdMutex);
            ::shutdown(m_socket, SHUT_RDWR);
        }
        if (trace)
            qCDebug(lcZqIpc) << "tcpClient......4" << what;
        return true;
    }
    if (trace)
        qCDebug(lcZqIpc) << "tcpClient......5" << what;
    return false;
}

void ZQTcpClient::registerAccept(QString source)
{
    sendFrame([&](const QString &ownId) {
        return QLatin1String(ZQWire::kKindSubscribe) + QLatin1String(ZQWire::kMarker) + source
               + QLatin1String(ZQWire::kMarker) + ownId;
    }, source);
}

void ZQTcpClient::deleteAccept(QString source)
{
    sendFrame([&](const QString &ownId) {
        return QLatin1String(ZQWire::kKindUnsubscribe) + QLatin1String(ZQWire::kMarker) + source
               + QLatin1String(ZQWire::kMarker) + ownId;
    }, source);
}

void ZQTcpClient::waitForGreeting()
{
    std::unique_lock<std::mutex> locker(m_greetMutex);
    m_greetChanged.wait_for(locker, std::chrono::milliseconds(kGreetingWaitMs),
                            [this] { return !m_greetPending || !m_connected.load(); });
}

void ZQTcpClient::closeClient()
{
    waitForGreeting();
    m_running.store(false);
    m_connected.store(false);
    // Shutting down (not closing) releases a blocked read or write without
    // letting the descriptor number be reused under them.
    {
        std::lock_guard<std::mutex> fdLocker(m_fdMutex);
        if (m_socket >= 0)
            ::shutdown(m_socket, SHUT_RDWR);
        if (m_looping)
            return;   // the receive loop closes it on its way out
    }
    std::lock_guard<std::mutex> sendLocker(m_sendMutex);
    std::lock_guard<std::mutex> fdLocker(m_fdMutex);
    if (!m_looping)
        closeSocketLocked();
}

void ZQTcpClient::receiveMsgFromServer()
{
    int fd;
    {
        std::lock_guard<std::mutex> fdLocker(m_fdMutex);
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
        if (!messages.isEmpty()) {
            std::lock_guard<std::mutex> greetLocker(m_greetMutex);
            if (m_greetPending) {
                m_greetPending = false;
                m_greetChanged.notify_all();
            }
        }
        for (const QByteArray &m : messages)
            emit sigRecMsg(QString::fromUtf8(m));
    }
    m_connected.store(false);
    {
        std::lock_guard<std::mutex> greetLocker(m_greetMutex);
        m_greetPending = false;
        m_greetChanged.notify_all();
    }
    {
        std::lock_guard<std::mutex> sendLocker(m_sendMutex);
        std::lock_guard<std::mutex> fdLocker(m_fdMutex);
        m_looping = false;
        closeSocketLocked();
    }
    if (m_running.load())
        emit sigConnectionLost();
}
