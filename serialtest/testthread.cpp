#include "testthread.h"

#include "zqipc.h"
#include "zqserialport.h"

#include <QMetaObject>
#include <QMutexLocker>

namespace {
const char kAppId[] = "ID_APP_SERIALTEST";
const char kBusHost[] = "127.0.0.1";
const unsigned long kPatternGapMs = 200;
}

testThread::testThread(QObject *parent) : QThread(parent)
{
    m_serialPort = new ZQSerialPort(this);
    m_pattern << QByteArray::fromHex("7F0899A2B3C402FF1302CF")
              << QByteArray::fromHex("7F0899A2B3C402FF1303CF");
    m_ipc = new ZQIPC(this);
    m_ipc->setReconnecting(true);
    connect(m_ipc, &ZQIPC::sigRecvInfo, this, &testThread::slotReciveMsg);
    connect(m_ipc, &ZQIPC::sigHubJoined, this, [this]() { setBusState(BusJoined); });
    connect(m_ipc, &ZQIPC::sigHubLost, this, [this]() { setBusState(BusLost); });
    m_ipc->createTcpClient(QString::fromLatin1(kAppId), kBusHost, ZQIPC::busPort());
}

testThread::~testThread()
{
    stopSending();
}

void testThread::setBusState(BusState state)
{
    m_busState = state;
    emit sigBusState(state);
}

int testThread::sendMsg(QString text)
{
    return m_ipc->sentInfo(text);
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
