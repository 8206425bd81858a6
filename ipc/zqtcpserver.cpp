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
#include <unistd.h>

namespace {
// Lets the accept loop look at the running flag and free ended connections
// although no new client arrives.
constexpr int kAcceptPollMs = 500;

const QStringList &reservedIds()
{
    static const QStringList ids{QLatin1String(ZQWire::kTargetAll), QLatin1String(ZQWire::kTargetRaw)};
    return ids;
}

} // namespace

ZQTcpServer::ZQTcpServer(QObject *parent) : QObject(parent) {}

ZQTcpServer::~ZQTcpServer()
{
    stopServer();
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
    // The bus has no authentication: only programs of this machine may
    // reach it unless the deployment asks otherwise.
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

void ZQTcpServer::receiveMsg()
{
    {
        QMutexLocker locker(&m_loopMutex);
        if (!m_running.load() || m_listenSocket < 0)
            return;
        m_loopActive = true;
    }
    while (m_running.load()) {
        reapFinished();
        pollfd pfd{m_listenSocket, POLLIN, 0};
        const int r = ::poll(&pfd, 1, kAcceptPollMs);
        if (!m_running.load())
            break;
        if (r > 0) {
            while (m_running.load() && acceptOne()) {
            }
        }
    }
    QMutexLocker locker(&m_loopMutex);
    m_loopActive = false;
    m_loopDone.wakeAll();
}

bool ZQTcpServer::acceptOne()
{
    qCDebug(lcZqIpc) << "receiveMsg ....1";
    const int fd = ::accept4(m_listenSocket, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
        // EAGAIN: none is waiting any more. Any other failure concerns that
        // one connection (gone before it was taken, no descriptor left); the
        // next poll tries again.
        return errno == EINTR || errno == ECONNABORTED;
    }
    m_lastSocket.store(fd);
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);

    // The hello is read on the connection's own thread.
    auto *dispatch = new ZQServerDispatch(fd, QString());
    dispatch->setHelloHandler([this](ZQServerDispatch *d) { return registerConnection(d); });
    dispatch->setEndHandler([this](ZQServerDispatch *d) { connectionEnded(d); });
    {
        QMutexLocker locker(&m_listMutex);
        m_live.append(dispatch);
    }
    dispatch->start();
    qCDebug(lcZqIpc) << "receiveMsg ....5";
    return true;
}

bool ZQTcpServer::registerConnection(ZQServerDispatch *dispatch)
{
    const QString appId = dispatch->appId();
    qCDebug(lcZqIpc) << "receiveMsg ....2" << appId;
    if (appId.isEmpty() || reservedIds().contains(appId) || appId.contains(QLatin1String(ZQWire::kMarker))) {
        qCWarning(lcZqIpc) << "bus hub: refused the identifier" << appId;
        return false;
    }
    qCDebug(lcZqIpc) << "receiveMsg ....3";
    ZQSendMsgQueue *queue = ZQSendMsgQueue::getInstence();
    // Under the route lock no routed text can reach the new connection
    // before its "succeful", and it is reachable once the client has that.
    QMutexLocker routeLocker(&queue->routeLock());
    ZQServerDispatch *older = queue->getClinetSocketByAppid(appId);
    queue->insertClientSocket(appId, dispatch);
    if (older) {
        // The older connection would hear nothing any more while it still
        // looked alive; closing it lets its owner notice and join again.
        qCWarning(lcZqIpc) << "bus hub: identifier" << appId
                           << "joined again; its older connection is closed";
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
    ZQSendMsgQueue::getInstence()->removeSocketIf(dispatch->appId(), dispatch);
    QMutexLocker locker(&m_listMutex);
    if (m_live.removeOne(dispatch))
        m_finished.append(dispatch);
}

void ZQTcpServer::clientStop(QString appID)
{
    ZQSendMsgQueue *queue = ZQSendMsgQueue::getInstence();
    ZQServerDispatch *dispatch = queue->getClinetSocketByAppid(appID);
    if (!dispatch)
        return;
    queue->removeSocketIf(appID, dispatch);
    dispatch->stopRun();   // its read loop ends and hands it to the reaper
}

void ZQTcpServer::freeDispatch(ZQServerDispatch *dispatch)
{
    dispatch->wait();
    {
        // Once the route lock has been taken, no routing that might have
        // picked this dispatcher from the table is still using it.
        QMutexLocker routeLocker(&ZQSendMsgQueue::getInstence()->routeLock());
    }
    delete dispatch;
}

void ZQTcpServer::reapFinished()
{
    QList<ZQServerDispatch *> done;
    {
        QMutexLocker locker(&m_listMutex);
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
        QMutexLocker locker(&m_loopMutex);
        while (m_loopActive)
            m_loopDone.wait(&m_loopMutex);
        ::close(m_listenSocket);
        m_listenSocket = -1;
    }

    ZQSendMsgQueue *queue = ZQSendMsgQueue::getInstence();
    QList<ZQServerDispatch *> live;
    {
        QMutexLocker locker(&m_listMutex);
        live = m_live;
    }
    for (ZQServerDispatch *d : live)
        d->stopRun();
    // Every read loop ends now (its socket is shut down, a blocked put into a
    // full queue gives up), takes itself out of the connection table and
    // moves to the finished list.
    for (ZQServerDispatch *d : live)
        d->wait();
    reapFinished();
    queue->clearCommands();
}
