#ifndef ZQSERVERDISPATCH_H
#define ZQSERVERDISPATCH_H

#include <QByteArray>
#include <QMutex>
#include <QString>
#include <QThread>
#include <QWaitCondition>

#include <atomic>
#include <functional>

// One accepted bus connection: reads the client's frames on its own thread and
// hands their texts to the routing queue; the router writes to it.
class ZQServerDispatch : public QThread
{
    Q_OBJECT
public:
    // With an empty appId the connection's own thread first reads the hello
    // (so a client that never says hello holds up nobody else) and hands
    // itself to the hello handler.
    ZQServerDispatch(int socket, QString appId, QObject *parent = nullptr);
    ~ZQServerDispatch() override;

    void run() override;
    // Clears the running flag and shuts the socket down, which releases a
    // blocked read. The descriptor itself is closed by the destructor, so a
    // router still writing never hits a reused descriptor.
    void stopRun();

    // Queues bytes for the client. They are written on the connection's own
    // writer thread, in the order posted, so the caller (the router) never
    // waits for a client that reads slowly. Never blocks. A client whose
    // unwritten bytes pass kMaxOutboxBytes is closed with a warning.
    void postBytes(const QByteArray &bytes);

    // Writes the text and its NUL byte. Returns the bytes written, or -1.
    int sendMsgToClinet(QString text);
    // Writes ready-made bytes, waiting at most the write timeout for the peer
    // to take more of them. A peer that takes none for that long has stopped
    // reading: its connection is shut down with a warning and -1 is returned.
    int sendBytes(const QByteArray &bytes);

    QString appId() const { return m_appId; }
    int socketDescriptor() const { return m_socket; }
    bool isRunning() const { return m_running.load(); }

    // Bytes that arrived with the hello frame; read before the socket.
    void setPendingBytes(const QByteArray &bytes) { m_pending = bytes; }
    // Called on the connection's own thread once the hello is read; returns
    // false to refuse the connection.
    void setHelloHandler(std::function<bool(ZQServerDispatch *)> handler) { m_helloHandler = std::move(handler); }
    // Called on the connection's own thread when its read loop ends.
    void setEndHandler(std::function<void(ZQServerDispatch *)> handler) { m_endHandler = std::move(handler); }

    static void setWriteTimeoutMs(int ms);
    static int writeTimeoutMs();

    // How long a new connection may take to deliver its hello frame.
    static constexpr int kHelloTimeoutMs = 2000;
    // Unwritten bytes a client may have waiting before it counts as stalled.
    static constexpr int kMaxOutboxBytes = 16 * 1024 * 1024;

signals:
    void sigRevMsg(QString);
    void sigCliStop(QString AppId);

private:
    class Writer;

    bool handleBytes(QByteArray &carry, const char *data, int size);
    bool readHello();
    void readLoop();
    void writeLoop();

    const int m_socket;
    QString m_appId;   // set before the connection is entered in the table
    std::atomic<bool> m_running{true};
    QMutex m_writeMutex;
    QMutex m_outboxMutex;
    QWaitCondition m_outboxReady;
    QByteArray m_outbox;   // posted, not yet handed to the writer thread
    QByteArray m_pending;
    std::function<bool(ZQServerDispatch *)> m_helloHandler;
    std::function<void(ZQServerDispatch *)> m_endHandler;
};

#endif // ZQSERVERDISPATCH_H
