#include "zqmessagemanager.h"

#include "serialhublogging.h"
#include "zqboardframe.h"
#include "zqserialread.h"
#include "zqserialwrite.h"

#include <QCoreApplication>
#include <QDebug>
#include <QSerialPortInfo>
#include <QSettings>
#include <QThread>
#include <QTimer>

namespace {
constexpr int HighBaud = 115200;
constexpr int LowBaud = 19200;
constexpr int AnswerWaitMs = 3000;
constexpr int HeartDelayMs = 1000;
constexpr int VersionWaitMs = 5000;
constexpr int MaxRetries = 5;
constexpr int MaxOpenFailures = 2;
constexpr char LostProperty[] = "zqPortLost";

int settingAsInt(const QSettings &settings, const char *key, const char *fallback)
{
    // A text that is not a number counts as 0.
    return settings.value(QLatin1String(key), QLatin1String(fallback)).toString().trimmed().toInt();
}
} // namespace

const QByteArray ZQMessageManager::TestFrame = ZQBoardFrame::build({0x01, 0x49});
const QByteArray ZQMessageManager::HeartFrame = ZQBoardFrame::build({0x0F, 0x08, 0x02});
const QByteArray ZQMessageManager::VersionAckFrame = ZQBoardFrame::build({0x0F, 0x08, 0x01});

ZQMessageManager::ZQMessageManager(QObject *parent)
    : QObject(parent)
{
    m_reader = new ZQSerialRead(this);
    m_reader->setCapture(&m_capture);
    m_baudTimer = new QTimer(this);
    m_versionTimer = new QTimer(this);
    // The waits are part of the handshake's timing; a coarse timer may end
    // them 5 % early.
    m_baudTimer->setTimerType(Qt::PreciseTimer);
    m_versionTimer->setTimerType(Qt::PreciseTimer);
    connect(m_baudTimer, &QTimer::timeout, this, &ZQMessageManager::slotTimerBaudRate);
    connect(m_versionTimer, &QTimer::timeout, this, &ZQMessageManager::slotTimerVersion);
    readSettings();
    readCaptureSettings();
}

ZQMessageManager::~ZQMessageManager()
{
    m_baudTimer->stop();
    m_versionTimer->stop();
    // The threads go first: they use the port.
    delete m_writer;
    m_writer = nullptr;
    delete m_reader;
    m_reader = nullptr;
    // The active port, if any, is the newest one.
    if (m_newestPort) {
        disconnect(m_newestPort, nullptr, this, nullptr);
        delete m_newestPort;
    }
}

void ZQMessageManager::readSettings()
{
    QSettings settings(QCoreApplication::applicationDirPath() + QStringLiteral("/version.ini"),
                       QSettings::IniFormat);
    settings.setIniCodec("UTF-8");
    m_baudRate = settingAsInt(settings, "COM/BaudRate", "");
    m_dataBits = settingAsInt(settings, "COM/databit", "8");
    m_flowControl = settingAsInt(settings, "COM/flowcontrol", "0");
    m_parity = settingAsInt(settings, "COM/parity", "0");
    m_stopBits = settingAsInt(settings, "COM/stopbits", "1");
    if (m_baudRate == 0)
        m_baudRate = m_useHighBaud ? HighBaud : LowBaud;

    // Machines with several serial ports, and test benches with a
    // pseudo-terminal, name the port outright.
    m_portName = settings.value(QStringLiteral("COM/PortName")).toString().trimmed();
    if (m_portName.isEmpty()) {
        const auto ports = QSerialPortInfo::availablePorts();
        for (const QSerialPortInfo &info : ports) {
            if (!info.isNull()) {
                m_portName = info.portName();
                break;
            }
        }
    }
    qCDebug(lcSerial) << "ZQMessageManager port" << m_portName << "baud" << m_baudRate << "databit" << m_dataBits
             << "flowcontrol" << m_flowControl << "parity" << m_parity << "stopbits" << m_stopBits;
}

void ZQMessageManager::readCaptureSettings()
{
    QSettings settings(QCoreApplication::applicationDirPath() + QStringLiteral("/version.ini"),
                       QSettings::IniFormat);
    settings.setIniCodec("UTF-8");
    const QString path = settings.value(QStringLiteral("COM/Capture")).toString().trimmed();
    if (path.isEmpty())
        return;
    const qint64 kib = settingAsInt(settings, "COM/CaptureMaxKiB", "0");
    setCaptureFile(path, kib > 0 ? kib * 1024 : ZQSerialCapture::DefaultMaxBytes);
}

bool ZQMessageManager::setCaptureFile(const QString &path, qint64 maxBytes)
{
    return m_capture.open(path, maxBytes);
}

QSerialPort::DataBits ZQMessageManager::dataBitsFor(int value)
{
    switch (value) {
    case 5: return QSerialPort::Data5;
    case 6: return QSerialPort::Data6;
    case 7: return QSerialPort::Data7;
    default: return QSerialPort::Data8;
    }
}

QSerialPort::FlowControl ZQMessageManager::flowControlFor(int value)
{
    switch (value) {
    case -1: return QSerialPort::UnknownFlowControl;
    case 1: return QSerialPort::HardwareControl;
    case 2: return QSerialPort::SoftwareControl;
    default: return QSerialPort::NoFlowControl;
    }
}

QSerialPort::Parity ZQMessageManager::parityFor(int value)
{
    switch (value) {
    case -1: return QSerialPort::UnknownParity;
    case 2: return QSerialPort::EvenParity;
    case 3: return QSerialPort::OddParity;
    case 4: return QSerialPort::SpaceParity;
    case 5: return QSerialPort::MarkParity;
    default: return QSerialPort::NoParity;
    }
}

QSerialPort::StopBits ZQMessageManager::stopBitsFor(int value)
{
    switch (value) {
    case -1: return QSerialPort::UnknownStopBits;
    case 2: return QSerialPort::TwoStop;
    case 3: return QSerialPort::OneAndHalfStop;
    default: return QSerialPort::OneStop;
    }
}

bool ZQMessageManager::isStandardBaudRate(int value)
{
    switch (value) {
    case 1200: case 2400: case 4800: case 9600:
    case 19200: case 38400: case 57600: case 115200:
        return true;
    default:
        return false;
    }
}

QObject *ZQMessageManager::getObject()
{
    return this;
}

void ZQMessageManager::writeMsg(QByteArray frame)
{
    if (m_writer)
        m_writer->writeSerialPort(frame);
}

bool ZQMessageManager::tryWriteMsg(const QByteArray &frame, int timeoutMs, const QByteArray &whole)
{
    return !m_writer || m_writer->tryWriteSerialPort(frame, timeoutMs, whole);
}

bool ZQMessageManager::writeFailed() const
{
    return m_writer && m_writer->hasFailed();
}

// Closes and frees the port object of the previous attempt, so that a closed
// port can never feed the handshake again.
void ZQMessageManager::releaseNewestPort()
{
    if (!m_newestPort)
        return;
    QSerialPort *port = m_newestPort;
    m_newestPort = nullptr;
    if (port == m_activePort)
        m_activePort = nullptr;
    disconnect(port, nullptr, this, nullptr);
    if (port->isOpen())
        port->close();
    port->deleteLater();
}

void ZQMessageManager::checkPort()
{
    qCDebug(lcSerial) << "checkPort";
    // Probing again now would close the port that the reader and writer use,
    // or hand over a port other than the one that answered.
    if (m_linked || m_versionTimer->isActive()) {
        qCDebug(lcSerial) << "checkPort: link already" << (m_linked ? "up" : "answered") << ", nothing to do";
        return;
    }
    // Since the last look an adapter may have been plugged in, a device may
    // be back under another name, or the settings may name a new one.
    readSettings();
    probe();
}

// One attempt: open the port and send the handshake frames.
void ZQMessageManager::probe()
{
    m_baudTimer->stop();

    int baud = QSerialPort::UnknownBaud;
    if (m_retryCount == 0) {
        if (isStandardBaudRate(m_baudRate))
            baud = m_baudRate;
    } else {
        m_baudRate = m_useHighBaud ? HighBaud : LowBaud;
        baud = m_baudRate;
    }

    releaseNewestPort();
    m_handshakeBuffer.clear();
    auto *port = new QSerialPort(m_portName);
    m_newestPort = port;
    connect(port, &QSerialPort::errorOccurred, this, &ZQMessageManager::slotPortError);

    if (!m_portName.isEmpty() && port->open(QIODevice::ReadWrite)) {
        m_activePort = port;
        m_everOpened = true;
        if (!port->setBaudRate(baud, QSerialPort::AllDirections))
            qCDebug(lcSerial) << "checkPort: baud rate" << baud << "refused:" << port->errorString();
        port->setDataBits(dataBitsFor(m_dataBits));
        port->setParity(parityFor(m_parity));
        port->setStopBits(stopBitsFor(m_stopBits));
        port->setFlowControl(flowControlFor(m_flowControl));
        connect(port, &QSerialPort::readyRead, this, &ZQMessageManager::slotDataReady);
        m_capture.remark(QStringLiteral("port %1 opened at %2 baud").arg(m_portName).arg(baud));
        if (m_handshakePending) {
            qint64 n = port->write(TestFrame);
            qCDebug(lcSerial) << "Send The shake hands iTestmsg" << n;
            port->flush();
            if (n > 0)
                m_capture.frame(ZQSerialCapture::ToBoard, TestFrame);
            QThread::msleep(HeartDelayMs);
            n = port->write(HeartFrame);
            qCDebug(lcSerial) << "Send The shake hands Heartmsg" << n;
            port->flush();
            if (n > 0)
                m_capture.frame(ZQSerialCapture::ToBoard, HeartFrame);
        }
    } else {
        qCDebug(lcSerial) << "checkPort: cannot open" << m_portName << port->errorString();
        if (m_recovering) {
            // The caller paces the search for a lost port; no retries of our own.
            QTimer::singleShot(0, this, [this]() {
                if (m_recovering && !m_linked)
                    emit serialPortError();
            });
            return;
        }
    }
    m_baudTimer->start(m_extraSeconds * 1000 + AnswerWaitMs);
}

QList<QByteArray> ZQMessageManager::closePort()
{
    m_baudTimer->stop();
    m_versionTimer->stop();
    QList<QByteArray> unsent;
    if (m_writer) {
        unsent = m_writer->stopAndTakeQueued();
        delete m_writer;
        m_writer = nullptr;
    }
    m_reader->stopReading();
    releaseNewestPort();
    m_activePort = nullptr;
    m_handshakeBuffer.clear();
    // The next checkPort() is a first attempt again, at the configured rate.
    m_linked = false;
    m_lost = false;
    m_version = 0;
    m_handshakePending = true;
    m_useHighBaud = true;
    m_retryCount = 0;
    m_extraSeconds = 0;
    m_openFailures = 0;
    m_everOpened = false;
    m_recovering = true;
    qCDebug(lcSerial) << "closePort:" << unsent.size() << "frames were not sent";
    return unsent;
}

void ZQMessageManager::loseLink(QSerialPort *port)
{
    if (m_lost)
        return;
    m_lost = true;
    qCDebug(lcSerial) << "serial port" << port->portName() << "lost:" << port->errorString() << "- link down";
    m_capture.remark(QStringLiteral("link lost"));
    // Queued: the port may be inside its own notifier, and the receiver
    // closes it.
    QMetaObject::invokeMethod(this, [this]() {
        if (m_lost)
            emit serialPortLost();
    }, Qt::QueuedConnection);
}

void ZQMessageManager::slotDataReady()
{
    auto *port = qobject_cast<QSerialPort *>(sender());
    if (!port || port != m_activePort || !port->isOpen() || m_linked)
        return;
    m_handshakeBuffer.append(port->readAll());
    // Both answers may have arrived in one read; none may wait for more data.
    while (!m_linked) {
        QByteArray frame;
        m_reader->checkCmd(m_handshakeBuffer, frame);
        if (frame.isEmpty())
            break;
        m_capture.frame(ZQSerialCapture::FromBoard, frame);
        handleHandshakeFrame(frame);
    }
}

void ZQMessageManager::handleHandshakeFrame(const QByteArray &frame)
{
    if (frame.size() == 12 && quint8(frame.at(9)) == 0x49) {
        if (m_versionTimer->isActive())
            return;
        m_baudTimer->stop();
        m_handshakePending = false;
        m_versionTimer->start(VersionWaitMs);
        m_version = 1;
        qCDebug(lcSerial) << "ZQMessageManager 0F 06 succeed";
    } else if (frame.size() == 11 && quint8(frame.at(8)) == 0x0F && quint8(frame.at(9)) == 0x08) {
        m_baudTimer->stop();
        m_versionTimer->stop();
        m_handshakePending = false;
        handOver();
        m_version = 2;
        const qint64 n = m_activePort->write(VersionAckFrame);
        m_activePort->flush();
        qCDebug(lcSerial) << "ZQMessageManager 0F 07 succeed" << n;
        if (n > 0)
            m_capture.frame(ZQSerialCapture::ToBoard, VersionAckFrame);
        m_capture.remark(QStringLiteral("link up, version %1").arg(m_version));
        emit serialPortSucces(m_version);
    }
}

void ZQMessageManager::handOver()
{
    disconnect(m_activePort, &QSerialPort::readyRead, this, &ZQMessageManager::slotDataReady);
    m_reader->setSerialPortPtr(m_activePort);
    connect(m_reader, &ZQSerialRead::commandReady, this, &ZQMessageManager::onReturnMessage,
            Qt::UniqueConnection);
    m_writer = new ZQSerialWrite(this);
    m_writer->setCapture(&m_capture);
    // A refused write is a lost line as much as a read error is.
    connect(m_writer, &ZQSerialWrite::writeFailed, this, [this]() {
        if (m_linked && m_activePort)
            loseLink(m_activePort);
    }, Qt::QueuedConnection);
    m_writer->setSerialPortPtr(m_activePort);
    m_linked = true;
    m_recovering = false;
    m_handshakeBuffer.clear();
}

void ZQMessageManager::slotTimerVersion()
{
    m_versionTimer->stop();
    if (m_linked)
        return;
    if (!m_activePort || !m_activePort->isOpen()) {
        // The port went away after the test frame was answered: that is no
        // link, so probe again from scratch instead of reporting success.
        qCDebug(lcSerial) << "slotTimerVersion: port lost before the link came up";
        m_version = 0;
        m_handshakePending = true;
        slotTimerBaudRate();
        return;
    }
    handOver();
    qCDebug(lcSerial) << "slotTimerVersion" << m_version;
    m_capture.remark(QStringLiteral("link up, version %1").arg(m_version));
    emit serialPortSucces(m_version);
}

void ZQMessageManager::slotTimerBaudRate()
{
    m_baudTimer->stop();
    if (m_everOpened) {
        if (m_activePort)
            m_activePort->close();
        m_useHighBaud = !m_useHighBaud;
        ++m_retryCount;
        m_extraSeconds = m_retryCount / 2;
        if (m_retryCount > MaxRetries) {
            emit serialPortError();
        } else {
            qCDebug(lcSerial) << "change bitRate 1";
            probe();
        }
    } else {
        ++m_openFailures;
        if (m_openFailures > MaxOpenFailures)
            emit serialPortError();
        else
            probe();
    }
}

// A vanished device (pseudo-terminal closed, adapter pulled, end of file)
// makes the port report errors without end; it is closed once and stays
// quiet. The linked port going away is reported with serialPortLost().
void ZQMessageManager::slotPortError(QSerialPort::SerialPortError error)
{
    auto *port = qobject_cast<QSerialPort *>(sender());
    if (!port || error == QSerialPort::NoError || error == QSerialPort::TimeoutError)
        return;
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError
        && error != QSerialPort::WriteError) {
        qCDebug(lcSerial) << "serial port" << port->portName() << "error" << error << port->errorString();
        return;
    }
    if (port->property(LostProperty).toBool())
        return;
    port->setProperty(LostProperty, true);
    if (port == m_activePort && m_linked)
        loseLink(port); // the control centre reports it, once
    else
        qCWarning(lcSerial) << "serial port" << port->portName() << "lost:" << port->errorString() << "- closing it";
    // Closed from the event loop: the port may still be inside its own
    // notifier when it reports the error.
    QMetaObject::invokeMethod(port, [port]() { port->close(); }, Qt::QueuedConnection);
}
