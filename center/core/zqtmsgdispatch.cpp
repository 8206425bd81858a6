#include "zqtmsgdispatch.h"

#include "centerlogging.h"
#include "czqsharedkit.h"
#include "izqbusiness.h"
#include "izqmessagemanager.h"
#include "zqboardframe.h"
#include "zqbusinessmanager.h"
#include "zqipc.h"
#include "zqipcrcivequeue.h"
#include "zqipcthread.h"
#include "zqlocaloperatoer.h"
#include "zqmessagemanager.h"
#include "zqserialportrecivequeue.h"
#include "zqserialportthread.h"
#include "zqtermsignalwatcher.h"

#include <QCoreApplication>
#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTimer>

#include <unistd.h>

namespace {

// Package folder of the board driver below its install path.
const char kDriverPackage[] = "com.tavolix.veladriver";
const char kDriverScript[] = "/files/Release/Linux/Own/board_driver.sh";

QString portNameOf(IZQMessageManager *serial)
{
    auto *manager = qobject_cast<ZQMessageManager *>(serial->getObject());
    return manager ? manager->portName() : QString();
}

// A key of the group [Bus] in version.ini beside the program.
QVariant busSetting(const QString &key, const QVariant &fallback)
{
    QSettings settings(QCoreApplication::applicationDirPath() + QStringLiteral("/version.ini"),
                       QSettings::IniFormat);
    settings.setIniCodec("UTF-8");
    return settings.value(QStringLiteral("Bus/") + key, fallback);
}

int signedByte(const QByteArray &frame, int offset)
{
    return offset < frame.size() ? int(qint8(frame.at(offset))) : 0;
}

} // namespace

ZQTMsgDispatch::ZQTMsgDispatch(QObject *parent) : QObject(parent)
{
    ZQMessageManager *serial = new ZQMessageManager(this);
    m_serial = serial;
    m_serialManager = serial;
    QObject *serialObject = m_serial->getObject();
    connect(serialObject, SIGNAL(onReturnMessage(QByteArray)), this,
            SLOT(slotReciveCommand(QByteArray)), Qt::QueuedConnection);
    connect(serialObject, SIGNAL(serialPortSucces(int)), this, SLOT(slotStartDeal(int)));
    connect(serialObject, SIGNAL(serialPortError()), this, SLOT(slotSerialPortError()));
    connect(serialObject, SIGNAL(serialPortLost()), this, SLOT(slotSerialPortLost()));

    m_ipc = new ZQIPC;
    const int busPort = ZQIPC::busPort();
    const bool allAddresses = busListensOnAllAddresses();
    // Users admitted besides the centre's own, and the most connections served.
    m_ipc->setHubAllowedUsers(busSetting(QStringLiteral("AllowUsers"), QString()).toStringList());
    m_ipc->setHubMaxConnections(busSetting(QStringLiteral("MaxClients"), 0).toInt());
    if (!m_ipc->createTcpServer(busPort, allAddresses))
        qCWarning(lcDispatch) << "bus hub not started on port" << busPort;
    else if (allAddresses)
        qCWarning(lcDispatch) << "bus hub open to every address of the panel (Bus/ListenAll=1 in version.ini):"
                   << "any host of the network can reach port" << busPort
                   << "and drive the mainboard or start programs, without authentication";
    connect(m_ipc, &ZQIPC::sigRecvInfo, this, &ZQTMsgDispatch::slotReciveMessage,
            Qt::QueuedConnection);

    m_business = new ZQBusinessManager(this);
    connect(m_business, &ZQBusinessManager::sigSendMessage, this,
            &ZQTMsgDispatch::slotSendIpcMessage, Qt::QueuedConnection);

    m_ipcThread = new ZQIpcThread(m_business, this);
    m_serialThread = new ZQSerialPortThread(m_business, this);

    m_local = new ZQLocalOperatoer(this);
    connect(m_business, &ZQBusinessManager::sigSendLocal, m_local,
            &ZQLocalOperatoer::slotLocalOperation);
    connect(m_business, &ZQBusinessManager::sigShowDialog, m_local,
            &ZQLocalOperatoer::slotShowDialog);
    connect(m_business, &ZQBusinessManager::sigShowToolBox, m_local,
            &ZQLocalOperatoer::slotShowToolBox);
    connect(m_local, &ZQLocalOperatoer::sigSendMessage, this, &ZQTMsgDispatch::slotSendIpcMessage);

    m_reCheckTimer = new QTimer(this);
    connect(m_reCheckTimer, &QTimer::timeout, this, &ZQTMsgDispatch::slotReCheckPort);

    m_healTimer = new QTimer(this);
    m_healTimer->setSingleShot(true);
    connect(m_healTimer, &QTimer::timeout, this, &ZQTMsgDispatch::slotHealCheck);
}

ZQTMsgDispatch::~ZQTMsgDispatch()
{
    stopWorkers();
    m_ipc->closeClient();
    // Give the applications time to notice that the centre left before the
    // hub goes away under them.
    ::sleep(10);
    m_ipc->closeServer();
    delete m_ipc;
    m_ipc = nullptr;
    m_pending.clear();
}

bool ZQTMsgDispatch::busListensOnAllAddresses()
{
    return busSetting(QStringLiteral("ListenAll"), 0).toInt() == 1;
}

void ZQTMsgDispatch::init()
{
    CZqSharedKit::getInstence();
    m_business->init();
    m_ipcThread->start(QThread::InheritPriority);
    m_serial->checkPort();
    qCDebug(lcDispatch) << "check port";
}

void ZQTMsgDispatch::stopWorkers()
{
    if (m_workersStopped)
        return;
    m_workersStopped = true;
    m_ipcThread->stop();
    m_serialThread->stop();
    m_ipcThread->wait();
    m_serialThread->wait();
    qCDebug(lcDispatch) << "work threads stopped";
}

void ZQTMsgDispatch::slotStartDeal(int version)
{
    m_version = version;
    qCDebug(lcDispatch) << "串口适配成功" << version;
    if (m_linkUp) {
        if (m_linkDown)
            linkBack(version);
        return; // otherwise a repeated success only updates the version
    }
    m_linkUp = true;

    if (version == 1)
        startBoardDriver();

    if (!m_workersStopped)
        m_serialThread->start(QThread::InheritPriority);

    connect(m_local, &ZQLocalOperatoer::sigSendCommand, this, &ZQTMsgDispatch::slotSendCommand);
    connect(m_local, &ZQLocalOperatoer::sigVersionChange, this, &ZQTMsgDispatch::slotVersionChage);
    connect(m_business, &ZQBusinessManager::sigSendCommand, this, &ZQTMsgDispatch::slotSendCommand,
            Qt::QueuedConnection);

    m_local->init();
    m_business->linkUp();

    if (m_reCheckTimer) {
        m_reCheckTimer->stop();
        m_reCheckTimer->disconnect();
        delete m_reCheckTimer;
        m_reCheckTimer = nullptr;
    }

    QByteArray host("127.0.0.1");
    // The hub may drop a client that stalls; the centre must not stay deaf.
    m_ipc->setReconnecting(true);
    if (!m_ipc->createTcpClient(QStringLiteral("ID_APP_VELACENTER"), host.data(), ZQIPC::busPort()))
        qCWarning(lcDispatch) << "bus client of the centre not connected";
    publishLinkState();
}

void ZQTMsgDispatch::publishLinkState()
{
    const bool up = m_linkUp && !m_linkDown;
    QJsonObject message;
    message.insert(QStringLiteral("eventid"), QStringLiteral("SERIAL_LINK_STATE"));
    message.insert(QStringLiteral("from"), QStringLiteral("ID_APP_VELACENTER"));
    message.insert(QStringLiteral("to"), QStringLiteral("ID_APP_ANY"));
    message.insert(QStringLiteral("param"),
                   QJsonArray{QJsonObject{{QStringLiteral("type"), QStringLiteral("Link")},
                                          {QStringLiteral("value"), up ? QStringLiteral("up") : QStringLiteral("down")}},
                              QJsonObject{{QStringLiteral("type"), QStringLiteral("Version")},
                                          {QStringLiteral("value"), m_version}}});
    m_ipc->sentInfo(IZQBusiness::jsonToMessageText(message));
}

void ZQTMsgDispatch::startBoardDriver()
{
    m_driverStarted = true;
    bool isUos = false;
    const QString path = m_local->getIntallPath(QStringLiteral("Tavolix\\VelaDriver"), isUos)
                         + QLatin1String(kDriverPackage) + QLatin1String(kDriverScript);
    QJsonObject obj;
    obj.insert(QStringLiteral("appPath"), path);
    m_local->openAppInUos(obj);
}

int ZQTMsgDispatch::healDelayMs(int attempt)
{
    static const int kSteps[] = {1000, 2000, 4000};
    return attempt >= 0 && attempt < 3 ? kSteps[attempt] : 10000;
}

void ZQTMsgDispatch::keepForBoard(const QByteArray &command)
{
    m_kept.append(command);
    while (m_kept.size() > kMaxKeptCommands) {
        m_kept.removeFirst();
        ++m_keptDropped;
    }
}

void ZQTMsgDispatch::slotSerialPortLost()
{
    if (!m_linkUp || m_linkDown)
        return;
    m_linkDown = true;
    const QString port = portNameOf(m_serial);
    // What the writer still held is older than anything kept since its line
    // refused a write, and than anything sent from now on.
    const QList<QByteArray> unsent = m_serial->closePort();
    const QList<QByteArray> keptSince = m_kept;
    m_kept.clear();
    for (const QByteArray &command : unsent + keptSince)
        keepForBoard(command);
    // Parts of the old link's messages can no longer complete.
    m_pending.clear();
    m_healAttempt = 0;
    qCWarning(lcDispatch).noquote() << "serial link to the mainboard lost on" << port
                         << "- looking for the port again";
    publishLinkState();
    m_healTimer->start(healDelayMs(m_healAttempt++));
}

void ZQTMsgDispatch::slotHealCheck()
{
    if (!m_linkDown)
        return;
    qCDebug(lcDispatch) << "looking for the lost serial port, attempt" << m_healAttempt;
    // Every look is a first attempt: configured rate, full fall-back.
    m_serial->closePort();
    m_serial->checkPort();
}

void ZQTMsgDispatch::linkBack(int version)
{
    m_linkDown = false;
    m_healTimer->stop();
    qCWarning(lcDispatch).noquote() << "serial link to the mainboard back on" << portNameOf(m_serial)
                         << "link version" << version;
    publishLinkState();
    if (version == 1 && !m_driverStarted)
        startBoardDriver();
    // The board starts afresh: its start-up frames first, then what waited.
    m_local->init();
    m_business->linkUp();
    const QList<QByteArray> kept = m_kept;
    m_kept.clear();
    if (m_keptDropped > 0) {
        qCWarning(lcDispatch) << "dropped the" << m_keptDropped << "oldest commands for the board while the link"
                   << "was down; kept the last" << kept.size();
        m_keptDropped = 0;
    }
    for (const QByteArray &command : kept)
        slotSendCommand(command);
}

void ZQTMsgDispatch::slotSerialPortError()
{
    if (m_linkDown) {
        const int delay = healDelayMs(m_healAttempt++);
        m_healTimer->start(delay);
        qCDebug(lcDispatch) << "lost serial port not back yet, next look in" << delay << "ms";
        return;
    }
    if (!m_reCheckTimer) {
        // The link is already up; the serial manager keeps its port, so only
        // tell the operator.
        qCWarning(lcDispatch) << "serial port error after the link came up";
        return;
    }
    m_reCheckTimer->start(kReCheckMs);
    qCDebug(lcDispatch) << "serial port check failed, next check in" << kReCheckMs / 1000 << "s";
}

void ZQTMsgDispatch::slotReCheckPort()
{
    m_serial->checkPort();
    if (m_reCheckTimer)
        m_reCheckTimer->stop();
}

void ZQTMsgDispatch::slotVersionChage(int version)
{
    m_version = version;
    qCDebug(lcDispatch) << "link version" << version;
}

void ZQTMsgDispatch::slotReciveMessage(QString message)
{
    const QJsonObject obj = QJsonDocument::fromJson(message.toUtf8()).object();
    const QString to = obj.value(QStringLiteral("to")).toString();
    if (to != QLatin1String("ID_APP_VELACENTER") && to != QLatin1String("MessageCenter"))
        return;
    // A watcher that joined after the last change asks for the state.
    if (obj.value(QStringLiteral("eventid")).toString() == QLatin1String("GET_SERIAL_LINK_STATE")) {
        publishLinkState();
        return;
    }
    ZQIpcRciveQueue::getInstence()->putMessage(message);
    ++m_recvCount;
    qCDebug(lcDispatch) << "recive IPC msg" << m_recvCount << message;
}

void ZQTMsgDispatch::slotSendIpcMessage(QString message)
{
    qCDebug(lcDispatch) << "send ipc" << message;
    m_ipc->sentInfo(message);
}

int ZQTMsgDispatch::nextSplitSerial(int serial)
{
    return (serial + 1) % 10000;
}

QList<QByteArray> ZQTMsgDispatch::splitCommand(const QByteArray &command, int serial)
{
    QList<QByteArray> frames;
    if (command.size() < 11)
        return frames;
    const QByteArray data = command.mid(10, command.size() - 11);
    const int count = (data.size() + kPartDataBytes - 1) / kPartDataBytes;
    for (int i = 0; i < count; ++i) {
        const QByteArray piece = data.mid(i * kPartDataBytes, kPartDataBytes);
        frames.append(ZQBoardFrame::buildPart(count, i, serial, command.mid(8, 2), piece));
    }
    return frames;
}

QByteArray ZQTMsgDispatch::joinedFrame(char commandByte1, char commandByte2, const QByteArray &data)
{
    QByteArray command;
    command.reserve(data.size() + 2);
    command.append(commandByte1).append(commandByte2).append(data);
    return ZQBoardFrame::buildUnchecked(command);
}

void ZQTMsgDispatch::slotSendCommand(QByteArray command)
{
    // Commands are kept whole while the link is down and split only now, for
    // the link version the board speaks when it is back.
    if (m_linkDown || m_serialManager->writeFailed()) {
        keepForBoard(command);
        qCDebug(lcDispatch) << "kept for the board" << command.toHex(' ').toUpper();
        return;
    }
    if (m_version == 2 && command.size() > kMaxUnsplitBytes) {
        m_splitSerial = nextSplitSerial(m_splitSerial);
        const QList<QByteArray> parts = splitCommand(command, m_splitSerial);
        for (int i = 0; i < parts.size(); ++i) {
            if (!writeToBoard(parts.at(i), command)) {
                // Parts already queued come back as the whole command when
                // the port is closed; with none queued it is kept here.
                if (i == 0 && m_serialManager->writeFailed())
                    keepForBoard(command);
                return;
            }
        }
    } else if (!writeToBoard(command, QByteArray()) && m_serialManager->writeFailed()) {
        keepForBoard(command);
        return;
    }
    qCDebug(lcDispatch) << "send cmd" << command.toHex(' ').toUpper();
}

bool ZQTMsgDispatch::writeToBoard(const QByteArray &frame, const QByteArray &whole)
{
    // A full serial queue makes this thread wait until the writer has room,
    // as it should; but a stop must not wait behind thousands of frames, and
    // this thread's event loop sees the stop signal only after the queued
    // commands, so the signal is looked at here directly. Nor does a writer
    // that lost its line ever make room again.
    while (!m_serialManager->tryWriteMsg(frame, kSendWaitSliceMs, whole)) {
        if (m_serialManager->writeFailed())
            return false;
        if (ZQTermSignalWatcher::stopRequested()) {
            if (m_droppedAtStop++ == 0)
                qCWarning(lcDispatch) << "stopping: commands for the board that wait for a full serial queue are dropped";
            return false;
        }
    }
    return true;
}

bool ZQTMsgDispatch::setCaptureFile(const QString &path)
{
    return m_serialManager->setCaptureFile(path);
}

void ZQTMsgDispatch::slotReciveCommand(QByteArray frame)
{
    const bool isPart = frame.size() > 10 && quint8(frame.at(3)) == 0xA3;
    if (!(isPart && m_version == 2)) {
        ZQSerialPortReciveQueue::getInstence()->putCommand(frame);
        return;
    }

    const int serialNo = signedByte(frame, 6);
    const int byte2 = signedByte(frame, 9);
    const int byte1 = signedByte(frame, 8);
    const int count = signedByte(frame, 4);
    const int index = signedByte(frame, 5);
    const QByteArray data = frame.mid(10, signedByte(frame, 1) - 8);

    int found = -1;
    for (int i = 0; i < m_pending.size(); ++i) {
        const package &p = m_pending.at(i);
        if (p.serialNo == serialNo && p.commandByte2 == byte2 && p.commandByte1 == byte1) {
            found = i;
            break;
        }
    }

    auto complete = [this, &frame](const QMap<int, QByteArray> &parts) {
        QByteArray joined;
        for (int i = 0; i < parts.size(); ++i)
            joined.append(parts.value(i));
        ZQSerialPortReciveQueue::getInstence()->putCommand(joinedFrame(frame.at(8), frame.at(9), joined));
    };

    if (found < 0) {
        if (count <= 1) {
            // A message announced as one part is whole already; waiting for a
            // second part would hold it forever.
            complete({{index, data}});
            return;
        }
        package p;
        p.serialNo = serialNo;
        p.commandByte2 = byte2;
        p.commandByte1 = byte1;
        p.packetCount = count;
        p.receivedCount = 1;
        p.parts.insert(index, data);
        if (m_pending.size() >= kMaxPendingMessages) {
            // Parts of messages that never complete must not pile up for ever.
            qCWarning(lcDispatch) << "dropping unfinished multi-frame message" << m_pending.first().serialNo;
            m_pending.removeFirst();
        }
        m_pending.append(p);
        return;
    }

    package &p = m_pending[found];
    p.parts.insert(index, data);
    if (p.receivedCount + 1 == count) {
        complete(p.parts);
        m_pending.removeAt(found);
    } else {
        ++p.receivedCount;
    }
}
