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
    delete m_client;
    delete m_clientThread;
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
    if (m_client)
        return false;
    m_appId = appId;
    m_host = QByteArray(ip ? ip : "");
    m_port = port;
    m_client = new ZQTcpClient;
    if (!m_client->initClient(appId, ip, port)) {
        if (m_reconnecting) {
            m_failedAttempts = 1;
            m_retryMs = kFirstRetryMs;
            scheduleRejoin(m_retryMs);
        }
        return false;
    }
    m_joinedAt.start();
    // Subscriptions made before the first join.
    for (const QString &source : qAsConst(m_subscriptions))
        m_client->registerAccept(source);
    startReceiving();
    if (m_reconnecting)
        emit sigHubJoined();
    return true;
}

void ZQIPC::setReconnecting(bool on)
{
    m_reconnecting = on;
}

void ZQIPC::startReceiving()
{
    if (!m_clientThread) {
        m_clientThread = new QThread;
        m_client->moveToThread(m_clientThread);
        connect(m_clientThread, &QThread::started, m_client, &ZQTcpClient::receiveMsgFromServer);
        connect(m_client, &ZQTcpClient::sigRecMsg, this, &ZQIPC::receiveMsg);
        connect(m_client, &ZQTcpClient::sigConnectionLost, this, &ZQIPC::slotClientLost,
                Qt::QueuedConnection);
        m_clientThread->start();
        return;
    }
    // The thread's event loop runs on after a receive loop ended.
    QMetaObject::invokeMethod(m_client, &ZQTcpClient::receiveMsgFromServer, Qt::QueuedConnection);
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
    if (m_closed || !m_client || m_client->isConnected())
        return;
    qCDebug(lcZqIpc) << "bus client" << m_appId << ": the hub closed the connection";
    emit sigHubLost();
    if (!m_reconnecting)
        return;
    m_lastLifetimeMs = m_joinedAt.isValid() ? m_joinedAt.elapsed() : -1;
    if (m_kicks >= kMaxKicks) {
        qCWarning(lcZqIpc) << "bus client" << m_appId << ": the hub keeps closing this connection"
                           << "(is the identifier used by another program?); not rejoining";
        return;
    }
    m_failedAttempts = 0;
    m_retryMs = kFirstRetryMs;
    scheduleRejoin(m_kicks == 0 ? kFirstRetryMs : 1000 << (m_kicks - 1));
}

void ZQIPC::slotRejoin()
{
    if (m_closed || !m_client || m_client->isConnected())
        return;
    if (!m_client->initClient(m_appId, m_host.constData(), m_port)) {
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
    m_joinedAt.start();
    for (const QString &source : qAsConst(m_subscriptions))
        m_client->registerAccept(source);
    startReceiving();
    qCDebug(lcZqIpc) << "bus client" << m_appId << ": joined the hub again";
    emit sigHubJoined();
}

int ZQIPC::sentInfo(QString message)
{
    if (!m_client)
        return -1;
    return m_client->sendMsgToServer(message, QString()) ? 1 : 0;
}

int ZQIPC::sentInfo(QString target, QString message)
{
    if (!m_client)
        return -1;
    return m_client->sendMsgToServer(message, target) ? 1 : 0;
}

void ZQIPC::registerMsgAccept(QString source)
{
    if (!m_subscriptions.contains(source))
        m_subscriptions.append(source);
    if (m_client)
        m_client->registerAccept(source);
}

void ZQIPC::deleteMsgAccept(QString source)
{
    m_subscriptions.removeAll(source);
    if (m_client)
        m_client->deleteAccept(source);
}

void ZQIPC::closeClient()
{
    m_closed = true;
    if (m_rejoinTimer->thread() == QThread::currentThread())
        m_rejoinTimer->stop();
    else
        QMetaObject::invokeMethod(m_rejoinTimer, "stop", Qt::QueuedConnection);
    if (!m_client)
        return;
    m_client->closeClient();
    if (m_clientThread) {
        m_clientThread->quit();
        m_clientThread->wait();
    }
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
    return m_client && m_client->isConnected();
}

void ZQIPC::receiveMsg(QString text)
{
    qCDebug(lcZqIpc) << "return" << text;
    emit sigRecvInfo(text);
}
