#include "zqserialport.h"

#include "serialtestlogging.h"

#include <QCoreApplication>
#include <QDebug>
#include <QSerialPort>
#include <QSerialPortInfo>

ZQSerialPort::ZQSerialPort(QObject *parent) : QThread(parent) {}

ZQSerialPort::~ZQSerialPort()
{
    closePort();
}

void ZQSerialPort::closePort()
{
    if (!m_serialPort)
        return;
    if (m_serialPort->isOpen())
        m_serialPort->close();
    delete m_serialPort;
    m_serialPort = nullptr;
}

bool ZQSerialPort::openPort()
{
    qCDebug(lcSerialTest) << "app dir" << QCoreApplication::applicationDirPath() << "++++++++++++";

    // "COM3" stays when nothing is listed: opening it fails and says so.
    QString name = QStringLiteral("COM3");
    bool listed = false;
    if (!m_pinnedName.isEmpty()) {
        name = m_pinnedName;
        listed = true;
    } else {
        const QList<QSerialPortInfo> ports = QSerialPortInfo::availablePorts();
        for (const QSerialPortInfo &info : ports) {
            if (!info.isNull()) {
                name = info.systemLocation();
                listed = true;
                break;
            }
        }
    }
    qCDebug(lcSerialTest) << "baud rate" << m_baudRate;

    // A second start opens the port afresh; the old one is closed, not leaked.
    closePort();
    m_portName = name;
    m_serialPort = new QSerialPort;
    m_serialPort->setPortName(name);
    m_serialPort->setBaudRate(m_baudRate, QSerialPort::AllDirections);
    m_serialPort->setDataBits(QSerialPort::Data8);
    m_serialPort->setParity(QSerialPort::NoParity);
    m_serialPort->setStopBits(QSerialPort::OneStop);
    m_serialPort->setFlowControl(QSerialPort::NoFlowControl);
    if (m_serialPort->open(QIODevice::ReadWrite)) {
        m_errorText.clear();
        return true;
    }
    m_errorText = listed ? QStringLiteral("cannot open %1: %2").arg(name, m_serialPort->errorString())
                         : QStringLiteral("no serial port found (tried %1)").arg(name);
    qCWarning(lcSerialTest) << "serialtest:" << m_errorText;
    return false;
}

bool ZQSerialPort::isOpen() const
{
    return m_serialPort && m_serialPort->isOpen();
}

int ZQSerialPort::writeSerialPort(QByteArray frame)
{
    int result = -1;
    if (isOpen()) {
        const qint64 n = m_serialPort->write(frame);
        m_serialPort->flush();
        result = n < 0 ? -1 : int(n);
    }
    emit sigWritten(result);
    return result;
}
