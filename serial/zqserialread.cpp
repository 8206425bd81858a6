#include "zqserialread.h"

#include "serialhublogging.h"
#include "zqframescan.h"
#include "zqserialcapture.h"

#include <QDebug>
#include <QMutexLocker>
#include <QSerialPort>

ZQSerialRead::ZQSerialRead(QObject *parent)
    : QThread(parent)
{
}

ZQSerialRead::~ZQSerialRead()
{
    m_run = false;
    wait();
}

void ZQSerialRead::setSerialPortPtr(QSerialPort *port)
{
    if (m_port)
        disconnect(m_port, nullptr, this, nullptr);
    m_port = port;
    if (port)
        connect(port, &QSerialPort::readyRead, this, &ZQSerialRead::slotReadReady);
    if (!isRunning())
        start(InheritPriority);
}

void ZQSerialRead::stopReading()
{
    m_run = false;
    wait();
    if (m_port)
        disconnect(m_port, nullptr, this, nullptr);
    m_port = nullptr;
    {
        QMutexLocker lock(&m_mutex);
        m_buffer.clear();
    }
    m_run = true;
}

void ZQSerialRead::slotReadReady()
{
    if (!m_port)
        return;
    const QByteArray bytes = m_port->readAll();
    if (bytes.isEmpty())
        return;
    QMutexLocker lock(&m_mutex);
    m_buffer.append(bytes);
}

void ZQSerialRead::checkCmd(QByteArray &source, QByteArray &frame)
{
    // The lock is taken first: the reader thread passes its own buffer, which
    // the port's thread appends to.
    QMutexLocker lock(&m_mutex);
    if (source.isEmpty())
        return;
    qCDebug(lcSerial).noquote() << "checkCmd iSourceBuff" << ZQFrameScan::toHex(source);
    const ZQFrameScan::Result r = ZQFrameScan::scan(source, frame);
    if (!r.found) {
        if (r.discarded > 0)
            qCDebug(lcSerial) << "checkCmd dropped" << r.discarded << "bytes that start no frame";
        return;
    }
    qCDebug(lcSerial) << "start end count len" << r.start << r.end << r.count << r.length;
    qCDebug(lcSerial).noquote() << "checkCmd" << ZQFrameScan::toHex(frame);
}

void ZQSerialRead::run()
{
    while (m_run) {
        QByteArray frame;
        checkCmd(m_buffer, frame);
        if (!frame.isEmpty()) {
            if (m_capture)
                m_capture->frame(ZQSerialCapture::FromBoard, frame);
            emit commandReady(frame);
        }
        msleep(PassMs);
    }
}
