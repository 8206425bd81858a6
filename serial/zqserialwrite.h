#ifndef ZQSERIALWRITE_H
#define ZQSERIALWRITE_H

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QSemaphore>
#include <QThread>
#include <atomic>

class QSerialPort;
class ZQSerialCapture;

// Queues board frames and sends them one by one, 50 ms apart, in queue order.
//
// A frame the device refuses (the line went away) is not dropped: it stays at
// the head of the queue with everything behind it, the thread stops sending
// and writeFailed() tells the owner, which takes the frames back with
// stopAndTakeQueued() to send them once the line is back.
class ZQSerialWrite : public QThread
{
    Q_OBJECT
public:
    explicit ZQSerialWrite(QObject *parent = nullptr);
    // Drops what is still queued and ends the thread, also while it waits.
    ~ZQSerialWrite() override;

    // Sets the port to write to (open, owned by the caller) and starts the
    // thread. Called once.
    void setSerialPortPtr(QSerialPort *port);
    // Records every frame written; set before setSerialPortPtr().
    void setCapture(ZQSerialCapture *capture) { m_capture = capture; }

    // Queues one frame; waits while QueueSlots frames are already queued.
    // Safe from any thread.
    void writeSerialPort(QByteArray frame);
    // The same, but waits at most timeoutMs for a free slot; false (frame
    // not queued) when none came free in that time. `whole` names the command
    // that `frame` is one part frame of (link version 2 splits long
    // commands): should the part still wait when the link goes, the command
    // is handed back instead, once for all its parts still waiting.
    bool tryWriteSerialPort(const QByteArray &frame, int timeoutMs,
                            const QByteArray &whole = QByteArray());

    // True once a write failed; nothing more is sent.
    bool hasFailed() const { return m_failed; }

    // Ends the thread and hands back what it has not written, oldest first:
    // frames, and for part frames the command they belong to, so that a lost
    // link can send them once it is back (split anew for the link version
    // then spoken).
    QList<QByteArray> stopAndTakeQueued();

    static constexpr int QueueSlots = 6000;
    static constexpr int PauseMs = 50;

signals:
    // The device refused a write: the line is gone. Emitted once, on the
    // writer's thread.
    void writeFailed();

protected:
    void run() override;

private:
    struct Entry
    {
        QByteArray frame;
        QByteArray whole; // the command a part frame belongs to; empty otherwise
    };

    bool writeFrame(const QByteArray &frame);
    bool enqueue(const Entry &entry, int timeoutMs);

    QList<Entry> m_queue;
    QSemaphore m_free{QueueSlots};
    QSemaphore m_used{0};
    std::atomic<bool> m_run{true};
    std::atomic<bool> m_failed{false};
    QMutex m_mutex; // guards m_queue
    int m_fd = -1;  // this writer's own copy of the port's descriptor
    ZQSerialCapture *m_capture = nullptr;
};

#endif
