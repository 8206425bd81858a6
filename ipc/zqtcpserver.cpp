#include "zqtcpserver.h"

#include "zqipclogging.h"
#include "zqsendmsgqueue.h"
#include "zqserverdispatch.h"
#include "zqwire.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {
// Lets the accept loop look at the running flag and free ended connections
// although no new client arrives.
constexpr int kAcceptPollMs = 500;
// Out of descriptors: the first wait before accepting again, and the longest.
constexpr int kFirstBackoffMs = 50;
constexpr int kMaxBackoffMs = 1000;
constexpr qint64 kCapWarnEveryMs = 60000;

bool isReserved(const QString &appId)
{
    return appId == QLatin1String(ZQWire::kTargetAll) || appId == QLatin1String(ZQWire::kTargetRaw);
}

bool isMonitorHello(const QString &hello)
{
    return hello.startsWith(QLatin1String(ZQWire::kKindMonitor) + QLatin1String(ZQWire::kMarker));
}
} // namespace

ZQTcpServer::ZQTcpServer(QObject *parent) : QObject(parent)
{
    m_clock.start();
}

ZQTcpServer::~ZQTcpServer()
{
    stopServer();
}

void ZQTcpServer::setAllowedUsers(const QStringList &entries)
{
    m_access.setAllowed(entries);
}

void ZQTcpServer::setMaxConnections(int max)
{
    m_maxConnections = max > 0 ? max : kDefaultMaxConnections;
}

bool ZQTcpServer::initServer(int port, bool allAddresses)
{
    if (port < 0 || port > 65535) {
        qCWarning(lcZqIpc) << "bus hub: no such port" << port;
        return false;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        qCWarning(lcZqIpc) << "bus hub: socket failed:" << std::strerror(errno);
        return false;
    }
    // A restarted hub must not fail on connections of its previous run that
    // linger in TIME_WAIT; a port that another socket listens on still fails.
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);

    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    // Only programs of this machine may reach the hub unless the deployment
    // asks otherwise.
    addr.sin_addr.s_addr = htonl(allAddresses ? INADDR_ANY : INADDR_LOOPBACK);
    addr.sin_port = htons(quint16(port));
    if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) < 0) {
        std::perror("call to bind");
        std::exit(1);
    }
    // The whole suite starts at once after a log-in; a short backlog drops
    // connection requests, which the clients then repeat seconds later.
    if (::listen(fd, SOMAXCONN) < 0) {
        qCWarning(lcZqIpc) << "bus hub: listen failed:" << std::strerror(errno);
        ::close(fd);
        return false;
    }
    if (!m_writer.start()) {
        ::close(fd);
        return false;
    }
    m_access.prepare();
    socklen_t len = sizeof addr;
    if (::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) == 0)
        m_port = ntohs(addr.sin_port);
    // Non-blocking, so the accept loop can take every waiting connection
    // in one pass and stop at the first EAGAIN.
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    if (allAddresses)
        qCWarning(lcZqIpc) << "bus hub listens on every address of this machine, port" << m_port
                           << ": any host of the network can reach it";
    m_listenSocket = fd;
    m_running.store(true);
    return true;
}

void ZQTcpServer::sleepWhileRunning(int ms)
{
    for (int slept = 0; slept < ms && m_running.load(); slept += 10)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

void ZQTcpServer::receiveMsg()
{
    {
        std::lock_guard<std::mutex> locker(m_loopMutex);
        if (!m_running.load() || m_listenSocket < 0)
            return;
        m_loopActive = true;
    }
    while (m_running.load()) {
        reapFinished();
        if (m_backoffMs > 0) {
            // No descriptor for a new connection: the waiting ones stay in the
            // listen backlog meanwhile, rather than the loop spinning on them.
            sleepWhileRunning(m_backoffMs);
            reapFinished();
        } else {
            pollfd pfd{m_listenSocket, POLLIN, 0};
            if (::poll(&pfd, 1, kAcceptPollMs) <= 0)
                continue;
        }
        while (m_running.load() && acceptOne()) {
        }
    }
    std::lock_guard<std::mutex> locker(m_loopMutex);
    m_loopActive = false;
    m_loopDone.notify_all();
}

bool ZQTcpServer::acceptOne()
{
    qCDebug(lcZqIpc) << "receiveMsg ....1";
    const int fd = ::accept4(m_listenSocket, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        if (error == EMFILE || error == ENFILE || error == ENOBUFS || error == ENOMEM) {
            if (!m_starved) {
                m_starved = true;
                int live;
                {
                    std::lock_guard<std::mutex> locker(m_listMutex);
                    live = m_live.size();
                }
                qCWarning(lcZqIpc).noquote() << QStringLiteral("bus hub: cannot take a new connection (%1) with %2 "
                                                               "connections open; new ones wait until descriptors "
                                                               "are free")
                                                    .arg(QString::fromLocal8Bit(std::strerror(error)))
                                                    .arg(live);
            }
            m_backoffMs = m_backoffMs == 0 ? kFirstBackoffMs : qMin(m_backoffMs * 2, kMaxBackoffMs);
            return false;
        }
        // EAGAIN: none is waiting any more. A connection gone before it was
        // taken is passed over.
        if (error == EAGAIN || error == EWOULDBLOCK)
            m_backoffMs = 0;
        return error == EINTR || error == ECONNABORTED || error == EPROTO;
    }
    m_backoffMs = 0;
    if (m_starved) {
        m_starved = false;
        qCWarning(lcZqIpc) << "bus hub: descriptors are free again; taking new connections";
    }
    m_lastSocket.store(fd);

    const ZQBusAccess::Decision who = m_access.check(fd);
    if (!who.admitted) {
        ::close(fd);   // before its hello: it has said nothing the hub acted on
        return true;
    }
    int live;
    {
        std::lock_guard<std::mutex> locker(m_listMutex);
        live = m_live.size();
    }
    if (live >= m_maxConnections) {
        ::close(fd);
        const qint64 now = m_clock.elapsed() + 1;
        if (m_capWarnedAt != 0 && now - m_capWarnedAt < kCapWarnEveryMs) {
            ++m_capSuppressed;
        } else {
            qCWarning(lcZqIpc).noquote()
                << QStringLiteral("bus hub: %1 connections already, the most it serves ([Bus] MaxClients); "
                                  "a new one was refused%2")
                       .arg(live)
                       .arg(m_capSuppressed ? QStringLiteral(" (and %1 more since the last warning)").arg(m_capSuppressed)
                                            : QString());
            m_capWarnedAt = now;
            m_capSuppressed = 0;
        }
        return true;
    }
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

    // The hello is read on the connection's own thread.
    auto *dispatch = new ZQServerDispatch(fd, QString());
    dispatch->setPeer(who.local, who.uid);
    dispatch->setWriter(&m_writer);
    dispatch->setHelloHandler([this](ZQServerDispatch *d) { return registerConnection(d); });
    dispatch->setEndHandler([this](ZQServerDispatch *d) { connectionEnded(d); });
    {
        std::lock_guard<std::mutex> locker(m_listMutex);
        m_live.append(dispatch);
    }
    dispatch->start();
    if (!dispatch->QThread::isRunning() && !dispatch->isFinished()) {
        // No thread to be had (a limit on threads or memory): refuse it.
        qCWarning(lcZqIpc) << "bus hub: no thread for a new connection; refused";
        {
            std::lock_guard<std::mutex> locker(m_listMutex);
            m_live.removeOne(dispatch);
        }
        delete dispatch;   // closes the socket
    }
    qCDebug(lcZqIpc) << "receiveMsg ....5";
    return true;
}

bool ZQTcpServer::registerConnection(ZQServerDispatch *dispatch)
{
    const QString appId = dispatch->appId();
    qCDebug(lcZqIpc) << "receiveMsg ....2" << appId;
    ZQSendMsgQueue *queue = ZQSendMsgQueue::getInstence();
    if (isMonitorHello(appId)) {
        // A read tap on everything routed: for the hub's own user alone.
        if (!ZQBusAccess::isOwnUser(dispatch->peerIsLocal(), dispatch->peerUid())) {
            qCWarning(lcZqIpc).noquote() << QStringLiteral("bus hub: refused a monitor of uid %1: only the hub's own "
                                                           "user may watch the bus")
                                                .arg(dispatch->peerIsLocal() ? QString::number(dispatch->peerUid())
                                                                             : QStringLiteral("(another host)"));
            return false;
        }
        dispatch->setMonitor(true);
        std::lock_guard<std::mutex> routeLocker(queue->routeLock());
        queue->addMonitor(dispatch);
        dispatch->postBytes(ZQWire::replyBytes(QLatin1String(ZQWire::kHelloReply)));
        return true;
    }
    if (appId.isEmpty() || isReserved(appId) || appId.contains(QLatin1String(ZQWire::kMarker))) {
        qCWarning(lcZqIpc) << "bus hub: refused the identifier" << appId;
        return false;
    }
    qCDebug(lcZqIpc) << "receiveMsg ....3";
    // Under the route lock no routed text can reach the new connection
    // before its "succeful", and it is reachable once the client has that.
    std::lock_guard<std::mutex> routeLocker(queue->routeLock());
    ZQServerDispatch *older = queue->connection(dispatch->appIdBytes());
    queue->insertClientSocket(appId, dispatch);
    if (older) {
        // The older connection would hear nothing any more while it still
        // looked alive; closing it lets its owner notice and join again.
        qCWarning(lcZqIpc) << "bus hub: identifier" << appId << "joined again; its older connection is closed";
        older->stopRun();
    }
    qCDebug(lcZqIpc) << "receiveMsg ....4";
    dispatch->postBytes(ZQWire::replyBytes(QLatin1String(ZQWire::kHelloReply)));
    return true;
}

void ZQTcpServer::connectionEnded(ZQServerDispatch *dispatch)
{
    // Runs on the connection's own thread: the server thread never returns to
    // an event loop, so a queued call would never arrive. Only this very
    // connection leaves the table; a newer one under the same name stays.
    ZQSendMsgQueue *queue = ZQSendMsgQueue::getInstence();
    if (dispatch->isMonitor())
        queue->removeMonitor(dispatch);
    else
        queue->removeSocketIf(dispatch->appIdBytes(), dispatch);
    std::lock_guard<std::mutex> locker(m_listMutex);
    if (m_live.removeOne(dispatch))
        m_finished.append(dispatch);
}

void ZQTcpServer::clientStop(QString appID)
{
    ZQSendMsgQueue *queue = ZQSendMsgQueue::getInstence();
    ZQServerDispatch *dispatch = queue->getClinetSocketByAppid(appID);
    if (!dispatch)
        return;
    queue->removeSocketIf(dispatch->appIdBytes(), dispatch);
    dispatch->stopRun();   // its read loop ends and hands it to the reaper
}

void ZQTcpServer::freeDispatch(ZQServerDispatch *dispatch)
{
    dispatch->wait();
    {
        // Once the route lock has been taken, no routing that might have
        // picked this dispatcher from the tables is still using it...
        std::lock_guard<std::mutex> routeLocker(ZQSendMsgQueue::getInstence()->routeLock());
    }
    // ...and once forgotten, the writer is not either.
    m_writer.forget(dispatch);
    delete dispatch;
}

void ZQTcpServer::reapFinished()
{
    QList<ZQServerDispatch *> done;
    {
        std::lock_guard<std::mutex> locker(m_listMutex);
        done.swap(m_finished);
    }
    for (ZQServerDispatch *d : done)
        freeDispatch(d);
}

void ZQTcpServer::stopServer()
{
    m_running.store(false);
    if (m_listenSocket >= 0) {
        ::shutdown(m_listenSocket, SHUT_RDWR);
        std::unique_lock<std::mutex> locker(m_loopMutex);
        m_loopDone.wait(locker, [this] { return !m_loopActive; });
        ::close(m_listenSocket);
        m_listenSocket = -1;
    }

    ZQSendMsgQueue *queue = ZQSendMsgQueue::getInstence();
    QList<ZQServerDispatch *> live;
    {
        std::lock_guard<std::mutex> locker(m_listMutex);
        live = m_live;
    }
    for (ZQServerDispatch *d : live)
        d->stopRun();
    // Every read loop ends now (its socket is shut down, a blocked put into a
    // full queue gives up), takes itself out of the tables and moves to the
    // finished list.
    for (ZQServerDispatch *d : live)
        d->wait();
    reapFinished();
    m_writer.stop();
    queue->clearCommands();
    // A hub that is gone keeps no subscriptions: a new one starts afresh, as
    // a restarted centre would.
    queue->clearSubscriptions();
}
