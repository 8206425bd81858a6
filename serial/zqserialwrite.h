#ifndef ZQSERIALWRITE_H
#define ZQSERIALWRITE_H

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QSemaphore>
#include <QThread>
#include <atomic>

class QSerialPort;

// Queues board frames and sends them one by one, 50 ms apart, in queue order.
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

    // Queues one frame; waits while QueueSlots frames are already queued.
    // Safe from any thread.
    void writeSerialPort(QByteArray frame);
    // The same, but waits at most timeoutMs for a free slot; false (frame
    // not queued) when none came free in that time.
    bool tryWriteSerialPort(const QByteArray &frame, int timeoutMs);

    // Ends the thread and hands back the frames it has not written, oldest
    // first, so that a lost link can send them once it is back.
    QList<QByteArray> stopAndTakeQueued();

    static constexpr int QueueSlots = 6000;
    static constexpr int PauseMs = 50;

protected:
    void run() override;

private:
    void writeFrame(const QByteArray &frame);

    QList<QByteArray> m_queue;
    QSemaphore m_free{QueueSlots};
    QSemaphore m_used{0};
    std::atomic<bool> m_run{true};
    QMutex m_mutex; // guards m_queue
    int m_fd = -1;  // this writer's own copy of the port's descriptor
};

#endif
