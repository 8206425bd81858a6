#ifndef ZQTCPCLIENT_H
#define ZQTCPCLIENT_H

#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

// One program's connection to the bus hub: builds and writes the frames, and
// reads the hub's NUL-terminated messages on the thread it is moved to.
class ZQTcpClient : public QObject
{
    Q_OBJECT
public:
    explicit ZQTcpClient(QObject *parent = nullptr);
    ~ZQTcpClient() override;

    // Connects to ip:port and sends the hello. True once connected and the
    // hello is written. May be called again once the receive loop has ended,
    // to join again over a new connection.
    bool initClient(QString appId, const char *ip, int port);
    // False when the frame was written; true when it was not (not connected,
    // too long to frame, or the write failed). Safe to call from any thread:
    // frames from several threads never interleave.
    bool sendMsgToServer(QString message, QString target);
    void registerAccept(QString source);
    void deleteAccept(QString source);
    // Ends the connection and releases a read blocked in the receive loop.
    // A connection the hub has not greeted yet is given up to half a second
    // for it first: the hub checks who connected before it reads anything,
    // and a connection closed before that check cannot be told from another
    // user's, so what was sent on it would be lost.
    void closeClient();

    bool isConnected() const { return m_connected.load(); }
    QString appId() const;

    static constexpr int kGreetingWaitMs = 500;

signals:
    void sigRecMsg(QString);
    // The receive loop ended because the hub closed the connection or went
    // away (not after closeClient()). Emitted on the receiving thread.
    void sigConnectionLost();

public slots:
    // The receive loop: runs until closeClient() or until the hub goes away.
    void receiveMsgFromServer();

private:
    // Frames the text that `build` makes of the own identifier and writes it.
    bool sendFrame(const std::function<QString(const QString &ownId)> &build, const QString &what);
    void closeSocketLocked();
    void waitForGreeting();

    int m_socket = -1;
    std::atomic<bool> m_running{true};
    std::atomic<bool> m_connected{false};
    QString m_appId;      // under m_sendMutex
    mutable std::mutex m_sendMutex;   // one frame at a time; closing waits for a write
    std::mutex m_fdMutex;     // shutdown/close of the descriptor
    bool m_looping = false;

    std::mutex m_greetMutex;
    std::condition_variable m_greetChanged;
    bool m_greetPending = false;   // connected, the hub's first message not read yet
};

#endif // ZQTCPCLIENT_H
