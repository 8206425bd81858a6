#ifndef ZQTCPSERVER_H
#define ZQTCPSERVER_H

#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QWaitCondition>

#include <atomic>

class ZQServerDispatch;

// The hub's listening side: accepts connections, takes each hello and starts
// a ZQServerDispatch for it; cleans up connections that end.
class ZQTcpServer : public QObject
{
    Q_OBJECT
public:
    explicit ZQTcpServer(QObject *parent = nullptr);
    ~ZQTcpServer() override;

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
    // False once no connection waits.
    bool acceptOne();
    bool registerConnection(ZQServerDispatch *dispatch);
    void connectionEnded(ZQServerDispatch *dispatch);
    void reapFinished();
    void freeDispatch(ZQServerDispatch *dispatch);

    std::atomic<bool> m_running{true};
    std::atomic<int> m_lastSocket{-1};
    int m_listenSocket = -1;
    int m_port = -1;

    QMutex m_listMutex;
    QList<ZQServerDispatch *> m_live;      // started, read loop not yet ended
    QList<ZQServerDispatch *> m_finished;  // read loop ended, to be freed

    QMutex m_loopMutex;
    QWaitCondition m_loopDone;
    bool m_loopActive = false;
};

#endif // ZQTCPSERVER_H
