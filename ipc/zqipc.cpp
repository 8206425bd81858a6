#include "zqipc.h"

#include "zqipclogging.h"
#include "zqsendmsgthread.h"
#include "zqtcpclient.h"
#include "zqtcpserver.h"

#include <QThread>
#include <QTimer>

namespace {
constexpr int kFirstRetryMs = 250;
constexpr int kMaxRetryMs = 2000;
// A connection the hub closes sooner than this, while the hub itself stays
// up, was most likely taken over by another client of the same identifier.
constexpr int kSteadyMs = 30000;
constexpr int kMaxKicks = 5;
} // namespace

ZQIPC::ZQIPC(QObject *parent) : QObject(parent)
{
    m_rejoinTimer = new QTimer(this);
    m_rejoinTimer->setSingleShot(true);
    connect(m_rejoinTimer, &QTimer::timeout, this, &ZQIPC::slotRejoin);
}

int ZQIPC::busPort()
{
    bool ok = false;
    const int port = qEnvironmentVariableIntValue("VELA_BUS_PORT", &ok);
    if (ok && port > 0 && port <= 65535)
        return port;
    if (qEnvironmentVariableIsSet("VELA_BUS_PORT"))
        qCWarning(lcZqIpc) << "VELA_BUS_PORT is not a port number; using" << kDefaultBusPort;
    return kDefaultBusPort;
}

ZQIPC::~ZQIPC()
{
    closeClient();
    closeServer();
    delete m_client.load();
    delete m_clientThread;
}

void ZQIPC::setHubAllowedUsers(const QStringList &entries)
{
    m_hubAllowedUsers = entries;
}

void ZQIPC::setHubMaxConnections(int max)
{
    m_hubMaxConnections = max;
}

bool ZQIPC::createTcpServer(int port, bool allAddresses)
{
    if (m_server) {
        if (m_serverThread)
            return false;   // a hub is running already
        delete m_server;    // left from a failed start
        m_server = nullptr;
    }
    m_server = new ZQTcpServer;
    m_server->setAllowedUsers(m_hubAllowedUsers);
    m_server->setMaxConnections(m_hubMaxConnections);
    if (!m_server->initServer(port, allAddresses))
        return false;
    m_serverThread = new QThread;
    m_server->moveToThread(m_serverThread);
    connect(m_serverThread, &QThread::started, m_server, &ZQTcpServer::receiveMsg);
    m_serverThread->start();
    m_sendThread = new ZQSendMsgThread;
    m_sendThread->start();
    return true;
}

bool ZQIPC::createTcpClient(QString appId, char *ip, int port)
{
    return createTcpClient(appId, static_cast<const char *>(ip), port);
}

bool ZQIPC::createTcpClient(QString appId, const char *ip, int port)
{
    std::unique_lock<std::mutex> locker(m_joinMutex);
    if (m_client.load())
        return false;
    m_appId = appId;
    m_host = QByteArray(ip ? ip : "");
    m_port = port;
    // The client goes to its receiving thread at once, from the thread that
    // creates it: a rejoin starts receiving later from the facade's own
    // thread, which could not move an object another thread owns.
    auto *client = new ZQTcpClient;
    m_clientThread = new QThread;
    client->moveToThread(m_clientThread);
    connect(m_clientThread, &QThread::started, client, &ZQTcpClient::receiveMsgFromServer);
    connect(client, &ZQTcpClient::sigRecMsg, this, &ZQIPC::receiveMsg);
    connect(client, &ZQTcpClient::sigConnectionLost, this, &ZQIPC::slotClientLost, Qt::QueuedConnection);
    m_client.store(client);
    if (!joinLocked()) {
        if (m_reconnecting.load()) {
            m_failedAttempts = 1;
            m_retryMs = kFirstRetryMs;
            scheduleRejoin(m_retryMs);
        }
        return false;
    }
    locker.unlock();
    startReceiving();
    if (m_reconnecting.load())
        emit sigHubJoined();
    return true;
}

bool ZQIPC::joinLocked()
{
    ZQTcpClient *client = m_client.load();
    if (!client->initClient(m_appId, m_host.constData(), m_port))
        return false;
    m_joinedAt.start();
    // Subscriptions made before this join, each one as often as it was made.
    for (const QString &source : qAsConst(m_subscriptions))
        client->registerAccept(source);
    return true;
}

void ZQIPC::setReconnecting(bool on)
{
    m_reconnecting.store(on);
}

void ZQIPC::startReceiving()
{
    if (!m_clientThread->isRunning()) {
        m_clientThread->start();   // its started() runs the receive loop
        return;
    }
    // The thread's event loop runs on after a receive loop ended.
    QMetaObject::invokeMethod(m_client.load(), &ZQTcpClient::receiveMsgFromServer, Qt::QueuedConnection);
}

void ZQIPC::scheduleRejoin(int delayMs)
{
    if (m_closed)
        return;
    // createTcpClient may run on another thread than the one the facade lives on.
    if (m_rejoinTimer->thread() == QThread::currentThread())
        m_rejoinTimer->start(delayMs);
    else
        QMetaObject::invokeMethod(m_rejoinTimer, [this, delayMs]() {
            if (!m_closed)
                m_rejoinTimer->start(delayMs);
        }, Qt::QueuedConnection);
}

void ZQIPC::slotClientLost()
{
    ZQTcpClient *client = m_client.load();
    if (m_closed || !client || client->isConnected())
        return;
    QString appId;
    {
        std::lock_guard<std::mutex> locker(m_joinMutex);
        appId = m_appId;
    }
    qCDebug(lcZqIpc) << "bus client" << appId << ": the hub closed the connection";
    emit sigHubLost();   // not under the lock: a slot may subscribe at once
    if (!m_reconnecting.load())
        return;
    int delayMs;
    {
        std::lock_guard<std::mutex> locker(m_joinMutex);
        m_lastLifetimeMs = m_joinedAt.isValid() ? m_joinedAt.elapsed() : -1;
        delayMs = m_kicks >= kMaxKicks ? -1 : m_kicks == 0 ? kFirstRetryMs : 1000 << (m_kicks - 1);
        m_failedAttempts = 0;
        m_retryMs = kFirstRetryMs;
    }
    if (delayMs < 0) {
        qCWarning(lcZqIpc) << "bus client" << appId << ": the hub keeps closing this connection"
                           << "(is the identifier used by another program?); not rejoining";
        return;
    }
    scheduleRejoin(delayMs);
}

void ZQIPC::slotRejoin()
{
    ZQTcpClient *client = m_client.load();
    if (m_closed || !client || client->isConnected())
        return;
    std::unique_lock<std::mutex> locker(m_joinMutex);
    if (!joinLocked()) {
        ++m_failedAttempts;
        scheduleRejoin(m_retryMs);
        m_retryMs = qMin(m_retryMs * 2, kMaxRetryMs);
        return;
    }
    // Taken at once by a hub that had just closed a young connection: a
    // takeover, not a restart of the hub.
    if (m_failedAttempts == 0 && m_lastLifetimeMs >= 0 && m_lastLifetimeMs < kSteadyMs)
        ++m_kicks;
    else
        m_kicks = 0;
    qCDebug(lcZqIpc) << "bus client" << m_appId << ": joined the hub again";
    locker.unlock();
    startReceiving();
    emit sigHubJoined();
}

int ZQIPC::sentInfo(QString message)
{
    ZQTcpClient *client = m_client.load();
    if (!client)
        return -1;
    return client->sendMsgToServer(message, QString()) ? 1 : 0;
}

int ZQIPC::sentInfo(QString target, QString message)
{
    ZQTcpClient *client = m_client.load();
    if (!client)
        return -1;
    return client->sendMsgToServer(message, target) ? 1 : 0;
}

void ZQIPC::registerMsgAccept(QString source)
{
    std::lock_guard<std::mutex> locker(m_joinMutex);
    m_subscriptions.append(source);
    if (ZQTcpClient *client = m_client.load())
        client->registerAccept(source);
}

void ZQIPC::deleteMsgAccept(QString source)
{
    std::lock_guard<std::mutex> locker(m_joinMutex);
    m_subscriptions.removeOne(source);
    if (ZQTcpClient *client = m_client.load())
        client->deleteAccept(source);
}

void ZQIPC::closeClient()
{
    m_closed = true;
    if (m_rejoinTimer->thread() == QThread::currentThread())
        m_rejoinTimer->stop();
    else
        QMetaObject::invokeMethod(m_rejoinTimer, "stop", Qt::QueuedConnection);
    ZQTcpClient *client = m_client.load();
    if (!client)
        return;
    client->closeClient();
    m_clientThread->quit();   // made with the client
    m_clientThread->wait();
}

void ZQIPC::closeServer()
{
    // Flag the router first, then end the connections: a router blocked in a
    // write to one of them is released by its shutdown and sees the flag.
    if (m_sendThread)
        m_sendThread->stoprun(true);
    if (m_server)
        m_server->stopServer();
    if (m_sendThread) {
        m_sendThread->quit();
        m_sendThread->wait();
    }
    if (m_serverThread) {
        m_serverThread->quit();
        m_serverThread->wait();
    }
    // A closed hub is gone for good; createTcpServer may start a new one.
    delete m_sendThread;
    m_sendThread = nullptr;
    delete m_server;
    m_server = nullptr;
    delete m_serverThread;
    m_serverThread = nullptr;
}

int ZQIPC::serverPort() const
{
    return m_server ? m_server->serverPort() : -1;
}

bool ZQIPC::isConnected() const
{
    ZQTcpClient *client = m_client.load();
    return client && client->isConnected();
}

void ZQIPC::receiveMsg(QString text)
{
    qCDebug(lcZqIpc) << "return" << text;
    emit sigRecvInfo(text);
}
