#ifndef ZQTCPSERVER_H
#define ZQTCPSERVER_H

#include "zqbusaccess.h"
#include "zqhubwriter.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <mutex>

class ZQServerDispatch;

// The hub's listening side: accepts connections from the users it admits,
// takes each hello and starts a ZQServerDispatch for it; cleans up
// connections that end.
class ZQTcpServer : public QObject
{
    Q_OBJECT
public:
    explicit ZQTcpServer(QObject *parent = nullptr);
    ~ZQTcpServer() override;

    // Connections the hub serves at once (monitors and connections still
    // owing their hello included); more are refused at once.
    static constexpr int kDefaultMaxConnections = 512;

    // Users admitted besides the hub's own (see ZQBusAccess::setAllowed).
    // Before initServer().
    void setAllowedUsers(const QStringList &entries);
    void setMaxConnections(int max);

    // Binds 127.0.0.1 (every local IPv4 address with `allAddresses`) on
    // `port` (0 picks a free port, see serverPort()) and listens. A port that
    // cannot be bound ends the process with status 1 after
    // "call to bind: <error>" on standard error.
    bool initServer(int port, bool allAddresses = false);
    // Stops accepting, ends every connection and waits for their threads.
    void stopServer();
    // The port actually listened on, or -1.
    int serverPort() const { return m_port; }

public slots:
    // The accept loop; runs until stopServer().
    void receiveMsg();
    // Ends and frees the connection registered under `appID`, if any.
    void clientStop(QString appID);

private:
    // False once no connection waits (or none can be taken now).
    bool acceptOne();
    bool registerConnection(ZQServerDispatch *dispatch);
    void connectionEnded(ZQServerDispatch *dispatch);
    void reapFinished();
    void freeDispatch(ZQServerDispatch *dispatch);
    void sleepWhileRunning(int ms);

    std::atomic<bool> m_running{true};
    std::atomic<int> m_lastSocket{-1};
    int m_listenSocket = -1;
    int m_port = -1;
    int m_maxConnections = kDefaultMaxConnections;
    ZQBusAccess m_access;
    ZQHubWriter m_writer;

    // Out of descriptors: accepting waits this long before it tries again,
    // and the episode lasts until a connection is taken again.
    int m_backoffMs = 0;
    bool m_starved = false;
    QElapsedTimer m_clock;
    qint64 m_capWarnedAt = 0;
    int m_capSuppressed = 0;

    std::mutex m_listMutex;
    QList<ZQServerDispatch *> m_live;      // started, read loop not yet ended
    QList<ZQServerDispatch *> m_finished;  // read loop ended, to be freed

    std::mutex m_loopMutex;
    std::condition_variable m_loopDone;
    bool m_loopActive = false;
};

#endif // ZQTCPSERVER_H
