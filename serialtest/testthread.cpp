#include "testthread.h"

#include "zqipc.h"
#include "zqserialport.h"

#include <QMetaObject>
#include <QMutexLocker>

namespace {
const char kAppId[] = "ID_APP_SERIALTEST";
const char kBusHost[] = "127.0.0.1";
const int kBusPort = 23334;
const unsigned long kPatternGapMs = 200;
}

testThread::testThread(QObject *parent) : QThread(parent)
{
    m_serialPort = new ZQSerialPort(this);
    m_pattern << QByteArray::fromHex("7F0899A2B3C402FF1302CF")
              << QByteArray::fromHex("7F0899A2B3C402FF1303CF");
    connectBus();
}

testThread::~testThread()
{
    stopSending();
}

bool testThread::connectBus()
{
    // One connection attempt per facade: a bus that was down needs a new one.
    delete m_ipc;
    m_ipc = new ZQIPC(this);
    connect(m_ipc, &ZQIPC::sigRecvInfo, this, &testThread::slotReciveMsg);
    const bool ok = m_ipc->createTcpClient(QString::fromLatin1(kAppId), kBusHost, kBusPort);
    emit sigBusState(ok);
    return ok;
}

bool testThread::isBusConnected() const
{
    return m_ipc && m_ipc->isConnected();
}

int testThread::sendMsg(QString text)
{
    if (!isBusConnected() && !connectBus())
        return -1;
    const int result = m_ipc->sentInfo(text);
    if (result != 0)
        emit sigBusState(isBusConnected());
    return result;
}

void testThread::slotReciveMsg(QString text)
{
    emit sigReciveMsg(text);
}

bool testThread::openPort()
{
    return m_serialPort->openPort();
}

void testThread::stopSending()
{
    {
        QMutexLocker lock(&m_stopMutex);
        m_stop = true;
        m_stopWake.wakeAll();
    }
    wait();
    QMutexLocker lock(&m_stopMutex);
    m_stop = false;
}

void testThread::run()
{
    // The port object belongs to the window's thread and QSerialPort is not
    // thread-safe, so each frame is written there, whole; this thread only
    // keeps the pace. Stopping therefore never cuts a frame.
    QMutexLocker lock(&m_stopMutex);
    while (!m_stop) {
        if (m_index > 1)
            m_index = 0;
        QMetaObject::invokeMethod(m_serialPort, "writeSerialPort", Qt::QueuedConnection,
                                  Q_ARG(QByteArray, m_pattern.at(m_index)));
        ++m_index;
        m_stopWake.wait(&m_stopMutex, kPatternGapMs);
    }
}
