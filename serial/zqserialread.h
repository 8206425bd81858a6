#ifndef ZQSERIALREAD_H
#define ZQSERIALREAD_H

#include <QByteArray>
#include <QMutex>
#include <QPointer>
#include <QThread>
#include <atomic>

class QSerialPort;
class ZQSerialCapture;

// Collects the bytes of the linked port and hands complete board frames
// upward, one per 100 ms pass of its thread.
class ZQSerialRead : public QThread
{
    Q_OBJECT
public:
    explicit ZQSerialRead(QObject *parent = nullptr);
    ~ZQSerialRead() override;

    // Takes over reading `port` (owned by the caller, living on this object's
    // thread) and starts the scanning thread.
    void setSerialPortPtr(QSerialPort *port);
    // Ends the scanning thread, lets go of the port and drops the bytes not
    // cut yet: the link is gone. setSerialPortPtr() starts it again.
    void stopReading();
    // Records every frame the thread cuts; set before setSerialPortPtr().
    void setCapture(ZQSerialCapture *capture) { m_capture = capture; }

    // Cuts at most one frame out of `source` into `frame`; see ZQFrameScan.
    // Takes the receive-buffer lock, so the handshake's scan and the reader's
    // never run at once.
    void checkCmd(QByteArray &source, QByteArray &frame);

    // Time between two scans of the receive buffer.
    static constexpr int PassMs = 100;

signals:
    void commandReady(QByteArray command);

public slots:
    void slotReadReady();

protected:
    void run() override;

private:
    QMutex m_mutex;
    std::atomic<bool> m_run{true};
    QPointer<QSerialPort> m_port;
    QByteArray m_buffer;
    ZQSerialCapture *m_capture = nullptr;
};

#endif
