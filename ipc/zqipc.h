#ifndef ZQIPC_H
#define ZQIPC_H

#include <QObject>
#include <QString>

class QThread;
class ZQTcpServer;
class ZQTcpClient;
class ZQSendMsgThread;

// The message bus as programs see it: optionally the hub, and one client
// connection. Incoming texts come out as sigRecvInfo in the facade's thread.
class ZQIPC : public QObject
{
    Q_OBJECT
public:
    explicit ZQIPC(QObject *parent = nullptr);

    // The bus port of the suite: 23334, or the port number in the
    // environment variable VELA_BUS_PORT, so that two checkouts (or a test
    // run beside a panel's own centre) can use one machine side by side.
    static constexpr int kDefaultBusPort = 23334;
    static int busPort();
    // Closes the client and the hub and waits for their threads, so a
    // program exits cleanly however it ends.
    ~ZQIPC() override;

    // Starts the hub on `port` (0: a free port, see serverPort()), reachable
    // from this machine only (127.0.0.1) unless `allAddresses` opens it to
    // every address. False when the socket cannot be set up or this facade
    // already runs a hub. A port that cannot be bound ends the process with
    // status 1 ("call to bind").
    bool createTcpServer(int port, bool allAddresses = false);
    // Connects to the hub as `appId`. Only once per facade: a later call
    // returns false, even when the first attempt failed.
    bool createTcpClient(QString appId, char *ip, int port);
    bool createTcpClient(QString appId, const char *ip, int port);

    // Results: -1 no client, 0 written, 1 not connected / refused / failed.
    int sentInfo(QString message);                   // publish
    int sentInfo(QString target, QString message);   // "ID_ALL", "ID_NULL" or an identifier

    void registerMsgAccept(QString source);
    void deleteMsgAccept(QString source);

    // Ends the connection and the client's receive thread.
    void closeClient();
    // Stops the router, ends every hub connection and the accept thread.
    void closeServer();

    // Port of the running hub, or -1.
    int serverPort() const;
    // True while the client is connected to the hub.
    bool isConnected() const;

signals:
    void sigRecvInfo(QString info);

public slots:
    void receiveMsg(QString);

private:
    ZQTcpServer *m_server = nullptr;
    QThread *m_serverThread = nullptr;
    ZQTcpClient *m_client = nullptr;
    QThread *m_clientThread = nullptr;
    ZQSendMsgThread *m_sendThread = nullptr;
};

#endif // ZQIPC_H
