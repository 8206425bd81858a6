#ifndef ZQIPC_H
#define ZQIPC_H

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <mutex>

class QThread;
class QTimer;
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
    // Who may join the hub besides programs of its own user: uids ("1001"),
    // user names, groups as "@name" or "@gid". Set before createTcpServer().
    void setHubAllowedUsers(const QStringList &entries);
    // Connections the hub serves at once (512 when not set or 0); more are
    // refused at once with a warning. Set before createTcpServer().
    void setHubMaxConnections(int max);
    // Connects to the hub as `appId`. Only once per facade: a later call
    // returns false, even when the first attempt failed (in reconnecting
    // mode the facade then keeps trying by itself).
    bool createTcpClient(QString appId, char *ip, int port);
    bool createTcpClient(QString appId, const char *ip, int port);

    // Results: -1 no client, 0 written, 1 not connected / refused / failed.
    int sentInfo(QString message);                   // publish
    int sentInfo(QString target, QString message);   // "ID_ALL", "ID_NULL" or an identifier

    // Subscriptions are remembered and sent again whenever the facade joins
    // again in reconnecting mode. As at the hub, each subscribe counts and an
    // unsubscribe withdraws one of them.
    void registerMsgAccept(QString source);
    void deleteMsgAccept(QString source);

    // Reconnecting mode, off by default; set it before createTcpClient(). The
    // facade then rejoins by itself when the hub goes away or closes the
    // connection, and keeps trying when the first attempt fails: with the same
    // identifier, sending every subscription again, and emitting sigHubJoined()
    // once it is in. It retries after 0.25 s, doubling up to every 2 s while
    // the hub is unreachable. When the hub keeps closing fresh connections
    // (another client took over the identifier) it waits 1, 2, 4, 8 s between
    // rejoins and gives up after the fifth, with one warning. Needs an event
    // loop in the facade's thread.
    void setReconnecting(bool on);
    bool isReconnecting() const { return m_reconnecting.load(); }

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
    // The connection to the hub ended (the hub stopped or closed it); not
    // emitted after closeClient(). In both modes.
    void sigHubLost();
    // Reconnecting mode: joined (again); the subscriptions are sent.
    void sigHubJoined();

public slots:
    void receiveMsg(QString);

private slots:
    void slotClientLost();
    void slotRejoin();

private:
    ZQTcpServer *m_server = nullptr;
    QThread *m_serverThread = nullptr;
    std::atomic<ZQTcpClient *> m_client{nullptr};
    QThread *m_clientThread = nullptr;
    ZQSendMsgThread *m_sendThread = nullptr;
    QStringList m_hubAllowedUsers;
    int m_hubMaxConnections = 0;

    // With m_joinMutex held: connects, then sends the subscriptions.
    bool joinLocked();
    void startReceiving();
    void scheduleRejoin(int delayMs);

    std::atomic<bool> m_reconnecting{false};
    std::atomic<bool> m_closed{false};
    // Held while joining and while the subscriptions change, so that a
    // subscription made on another thread during a rejoin is sent exactly
    // once; it guards the members below.
    std::mutex m_joinMutex;
    QString m_appId;
    QByteArray m_host;
    int m_port = 0;
    QStringList m_subscriptions;   // one entry per subscribe, in order
    int m_retryMs = 0;        // wait before the next attempt while the hub is away
    int m_failedAttempts = 0; // attempts since the connection was lost
    int m_kicks = 0;          // fresh connections the running hub closed in a row
    qint64 m_lastLifetimeMs = -1;
    QElapsedTimer m_joinedAt;

    QTimer *m_rejoinTimer = nullptr;
};

#endif // ZQIPC_H
