#ifndef ZQSERVERDISPATCH_H
#define ZQSERVERDISPATCH_H

#include <QByteArray>
#include <QString>
#include <QThread>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <sys/types.h>

class ZQHubWriter;

// One accepted bus connection: reads the client's frames on its own thread
// and hands them to the routing queue. The router posts what the client is
// to receive; it is written at once when the socket takes it, the rest by the
// hub's writer. The thread has no event dispatcher (so no descriptor of its
// own): a connection costs the hub its socket and this thread.
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
    // blocked read. The descriptor itself is closed by the destructor, so no
    // writer ever hits a reused descriptor.
    void stopRun();

    // Queues bytes for the client, in the order posted. Written at once when
    // nothing waits and the socket takes them without blocking; the rest goes
    // to the hub's writer, so the caller never waits for a slow reader. A
    // client whose unwritten bytes pass kMaxOutboxBytes is closed with a
    // warning. A monitor past its bound loses the bytes instead, and is told
    // how many texts it lost once it has room again.
    void postBytes(const char *data, int size);
    void postBytes(const QByteArray &bytes) { postBytes(bytes.constData(), bytes.size()); }

    // Posts the text and its NUL byte. Returns the bytes posted, or -1 once
    // the connection is closing.
    int sendMsgToClinet(QString text);

    QString appId() const { return m_appId; }
    const QByteArray &appIdBytes() const { return m_appIdBytes; }
    int socketDescriptor() const { return m_socket; }
    bool isRunning() const { return m_running.load(); }
    quint64 serial() const { return m_serial; }

    // Who is at the other end (set by the hub before the thread starts).
    void setPeer(bool local, uid_t uid)
    {
        m_peerLocal = local;
        m_peerUid = uid;
    }
    bool peerIsLocal() const { return m_peerLocal; }
    uid_t peerUid() const { return m_peerUid; }
    // A monitor reads copies of what the hub routes and may not send.
    void setMonitor(bool on) { m_monitor = on; }
    bool isMonitor() const { return m_monitor; }
    void setWriter(ZQHubWriter *writer) { m_writer = writer; }

    // Bytes that arrived with the hello frame; read before the socket.
    void setPendingBytes(const QByteArray &bytes) { m_pending = bytes; }
    // Called on the connection's own thread once the hello is read; returns
    // false to refuse the connection.
    void setHelloHandler(std::function<bool(ZQServerDispatch *)> handler) { m_helloHandler = std::move(handler); }
    // Called on the connection's own thread when its read loop ends.
    void setEndHandler(std::function<void(ZQServerDispatch *)> handler) { m_endHandler = std::move(handler); }

    // For the hub's writer: writes what waits; true once nothing does (or
    // the peer is gone).
    bool writePending();
    // For the hub's writer: bytes have waited and none was taken for the
    // write timeout; closes the connection with a warning. Monitors are
    // never given up on this way (they lose texts instead).
    bool dropIfStalled(qint64 nowMs);

    // For the router only: what the batch being routed has for the client.
    struct RouteState {
        std::string bytes;
        bool touched = false;
    };
    RouteState &routeState() { return m_route; }

    static void setWriteTimeoutMs(int ms);
    static int writeTimeoutMs();
    static void setMonitorBufferBytes(int bytes);

    // How long a new connection may take to deliver its hello frame.
    static constexpr int kHelloTimeoutMs = 2000;
    // Unwritten bytes a client may have waiting before it counts as stalled.
    static constexpr int kMaxOutboxBytes = 16 * 1024 * 1024;
    // Unwritten bytes a monitor may have waiting before it loses texts.
    static constexpr int kMonitorBufferBytes = 1024 * 1024;

signals:
    void sigRevMsg(QString);
    void sigCliStop(QString AppId);

private:
    static constexpr int kSmallReadBytes = 2048;
    // One read of up to `limit` bytes (see the .cpp); `data` points at them.
    ssize_t readSome(int limit, QByteArray &big, char *small, const char *&data);
    bool handleBytes(QByteArray &carry, const char *data, int size);
    bool readHello();
    void readLoop();
    // With the outbox lock held: writes what the socket takes at once when
    // nothing waits, keeps the rest (and anything behind a backlog).
    void queueLocked(const char *data, int size);
    int pendingLocked() const { return int(m_outbox.size()) - m_outOffset; }
    void dropOutboxLocked();
    // Monitor: queues the notice of lost texts; false when it does not fit.
    bool noteLossLocked();

    const int m_socket;
    const quint64 m_serial;
    QString m_appId;   // set before the connection is entered in the table
    QByteArray m_appIdBytes;
    std::atomic<bool> m_running{true};
    bool m_peerLocal = false;
    uid_t m_peerUid = uid_t(-1);
    bool m_monitor = false;
    ZQHubWriter *m_writer = nullptr;

    std::mutex m_outMutex;
    std::string m_outbox;   // posted, not yet written; written from m_outOffset on
    int m_outOffset = 0;
    qint64 m_progressAt = 0;   // when the client last took bytes of a backlog
    int m_lost = 0;            // monitor: texts dropped since it was last told
    bool m_armed = false;      // the writer has the backlog

    RouteState m_route;
    QByteArray m_pending;
    std::function<bool(ZQServerDispatch *)> m_helloHandler;
    std::function<void(ZQServerDispatch *)> m_endHandler;
};

#endif // ZQSERVERDISPATCH_H
