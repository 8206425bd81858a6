#ifndef ZQMESSAGEMANAGER_H
#define ZQMESSAGEMANAGER_H

#include "izqmessagemanager.h"
#include "zqserialcapture.h"

#include <QByteArray>
#include <QObject>
#include <QSerialPort>
#include <QString>

class QTimer;
class ZQSerialRead;
class ZQSerialWrite;

// Finds and opens the mainboard's serial port, settles the link version with
// the handshake (falling back between 115200 and 19200 baud while the board
// stays silent), then hands the port to the frame reader and writer.
class ZQMessageManager : public QObject, public IZQMessageManager
{
    Q_OBJECT
    Q_INTERFACES(IZQMessageManager)
public:
    explicit ZQMessageManager(QObject *parent = nullptr);
    ~ZQMessageManager() override;

    void writeMsg(QByteArray frame) override;
    // writeMsg that waits at most timeoutMs while the writer's queue is full;
    // false when the frame could not be queued in that time. True also when
    // the frame is dropped because the link is not up. `whole`: the command
    // that `frame` is one part frame of; closePort() hands back the command
    // in place of its parts still waiting (see ZQSerialWrite).
    bool tryWriteMsg(const QByteArray &frame, int timeoutMs, const QByteArray &whole = QByteArray());
    // True once the writer could not write to the linked port: the line is
    // gone (serialPortLost() follows), frames queued now wait for closePort().
    bool writeFailed() const;
    QObject *getObject() override;
    // Looks at "COM/PortName", the other "COM" settings and the system's
    // port list afresh, then makes an attempt.
    void checkPort() override;
    QList<QByteArray> closePort() override;

    // Writes every frame read and written to `path` (see ZQSerialCapture);
    // an empty path ends the capture. "COM/Capture" and "COM/CaptureMaxKiB"
    // in version.ini set it at construction.
    bool setCaptureFile(const QString &path, qint64 maxBytes = ZQSerialCapture::DefaultMaxBytes);
    QString captureFile() const { return m_capture.path(); }

    // The system name or path of the port that checkPort() opens.
    QString portName() const { return m_portName; }
    // 0 until the link is up, then 1 or 2.
    int linkVersion() const { return m_version; }

    // How the "COM" settings map onto the port's enumerations; unsupported
    // values fall back to the usual 8N1 without flow control.
    static QSerialPort::DataBits dataBitsFor(int value);
    static QSerialPort::FlowControl flowControlFor(int value);
    static QSerialPort::Parity parityFor(int value);
    static QSerialPort::StopBits stopBitsFor(int value);
    // A rate the first attempt may use as configured; others count as unknown.
    static bool isStandardBaudRate(int value);

    static const QByteArray TestFrame;
    static const QByteArray HeartFrame;
    static const QByteArray VersionAckFrame;

signals:
    void serialPortSucces(int verison);
    void onReturnMessage(QByteArray msg);
    void serialPortError();
    // The linked port went away (device gone, read or write error, end of
    // file). Emitted once per link; the port is no longer used.
    void serialPortLost();

private slots:
    void slotTimerBaudRate();
    void slotTimerVersion();
    void slotDataReady();
    void slotPortError(QSerialPort::SerialPortError error);

private:
    void readSettings();
    void readCaptureSettings();
    void probe();
    void releaseNewestPort();
    void handOver();
    void handleHandshakeFrame(const QByteArray &frame);
    void loseLink(QSerialPort *port);

    ZQSerialCapture m_capture; // outlives the reader and writer that record into it
    ZQSerialRead *m_reader = nullptr;
    ZQSerialWrite *m_writer = nullptr;
    QSerialPort *m_activePort = nullptr;
    QSerialPort *m_newestPort = nullptr;
    bool m_useHighBaud = true;
    bool m_handshakePending = true;
    QTimer *m_baudTimer = nullptr;
    QTimer *m_versionTimer = nullptr;
    QByteArray m_handshakeBuffer;
    int m_retryCount = 0;
    int m_extraSeconds = 0;
    int m_openFailures = 0;
    int m_baudRate = 0;
    int m_dataBits = 8;
    int m_flowControl = 0;
    int m_parity = 0;
    int m_stopBits = 1;
    int m_version = 0;
    QString m_portName;
    bool m_everOpened = false; // a port has opened at some attempt
    bool m_linked = false;
    bool m_lost = false;       // the link went after coming up; closePort() follows
    bool m_recovering = false; // looking for the port again after closePort()
};

#endif
