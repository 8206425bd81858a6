#ifndef ZQSERIALPORT_H
#define ZQSERIALPORT_H

#include <QByteArray>
#include <QString>
#include <QThread>

class QSerialPort;

// The test tool's own port to the mainboard, opened with QSerialPort
// directly (not through the serial link library), 115200 8N1. Never started
// as a thread; all its work runs on the window's thread.
class ZQSerialPort : public QThread
{
    Q_OBJECT
public:
    explicit ZQSerialPort(QObject *parent = nullptr);
    ~ZQSerialPort() override;

    // A technician names the port on the command line; empty: the first
    // port the platform lists.
    void setPortName(const QString &name) { m_pinnedName = name; }

    // Opens the port again (closing an earlier one). False when there is no
    // port or opening failed; errorText() then says why.
    bool openPort();
    bool isOpen() const;
    QString portName() const { return m_portName; }
    QString errorText() const { return m_errorText; }

    // Writes and flushes one whole frame; bytes written, or -1 when the port
    // is not open or the write failed.
    Q_INVOKABLE int writeSerialPort(QByteArray frame);

signals:
    void sigWritten(int result);

private:
    void closePort();

    QSerialPort *m_serialPort = nullptr;
    int m_baudRate = 115200;
    QString m_pinnedName;
    QString m_portName;
    QString m_errorText;
};

#endif // ZQSERIALPORT_H
