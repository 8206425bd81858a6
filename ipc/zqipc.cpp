#include "zqipc.h"

#include "zqipclogging.h"
#include "zqsendmsgthread.h"
#include "zqtcpclient.h"
#include "zqtcpserver.h"

#include <QThread>

ZQIPC::ZQIPC(QObject *parent) : QObject(parent) {}

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
    m_client = new ZQTcpClient;
    if (!m_client->initClient(appId, ip, port))
        return false;
    m_clientThread = new QThread;
    m_client->moveToThread(m_clientThread);
    connect(m_clientThread, &QThread::started, m_client, &ZQTcpClient::receiveMsgFromServer);
    connect(m_client, &ZQTcpClient::sigRecMsg, this, &ZQIPC::receiveMsg);
    m_clientThread->start();
    return true;
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
    if (m_client)
        m_client->registerAccept(source);
}

void ZQIPC::deleteMsgAccept(QString source)
{
    if (m_client)
        m_client->deleteAccept(source);
}

void ZQIPC::closeClient()
{
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
