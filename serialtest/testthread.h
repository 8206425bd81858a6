#ifndef TESTTHREAD_H
#define TESTTHREAD_H

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QString>
#include <QThread>
#include <QWaitCondition>

class ZQIPC;
class ZQSerialPort;

// Sends the test pattern to the serial port every 200 ms while running, and
// carries the tool's texts over the bus.
class testThread : public QThread
{
    Q_OBJECT
public:
    explicit testThread(QObject *parent = nullptr);
    // Stops the endless send so the thread is never destroyed running.
    ~testThread() override;

    // Where the tool stands with the bus.
    enum BusState { BusJoined, BusUnreachable, BusLost };

    // Sends `text` on the bus (published to the tool's subscribers). The
    // facade's result: -1 no client, 0 written, 1 failed.
    int sendMsg(QString text);
    bool openPort();
    // Ends the endless send after the frame in hand; the pattern index is
    // kept, so the next start continues the pattern.
    void stopSending();

    BusState busState() const { return m_busState; }
    ZQSerialPort *serialPort() const { return m_serialPort; }

signals:
    void sigReciveMsg(QString text);
    void sigBusState(int state);

public slots:
    void slotReciveMsg(QString text);

protected:
    void run() override;

private:
    void setBusState(BusState state);

    // Reconnecting: the facade joins the hub by itself whenever it is (back)
    // there, so a restarted control centre needs nothing from the user.
    ZQIPC *m_ipc = nullptr;
    BusState m_busState = BusUnreachable;
    ZQSerialPort *m_serialPort = nullptr;
    int m_index = 0;
    QList<QByteArray> m_pattern;
    QMutex m_stopMutex;
    QWaitCondition m_stopWake;
    bool m_stop = false;
};

#endif // TESTTHREAD_H
