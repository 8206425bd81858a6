#include "zqtbusinesscentralcontrol.h"

#include "businesslogging.h"
#include "dvscreen.h"
#include "zqboardframe.h"
#include "zqfitcommand.h"

#include <QCoreApplication>
#include <QDebug>
#include <QJsonArray>
#include <QMutexLocker>
#include <QTimer>

namespace {

const int kDefaultTimeoutMs = 60000;

// Replies decoded in code, in the order they are tried. They are matched at
// the command position only: other modules' frames may hold these byte
// pairs anywhere in their data.
const QList<QByteArray>& replyKeys()
{
    static const QList<QByteArray> keys = {
        QByteArray::fromHex("F350"), QByteArray::fromHex("F304"), QByteArray::fromHex("F303"),
        QByteArray::fromHex("F302"), QByteArray::fromHex("F4FF"), QByteArray::fromHex("F301"),
        QByteArray::fromHex("F307")};
    return keys;
}

const QByteArray kScreenVersionKey = QByteArray::fromHex("0131");

// The requests built in code: their frames are fixed.
QByteArray fixedRequest(const QString& event)
{
    static const QMap<QString, unsigned char> requests = {
        {QStringLiteral("GET_HAS_SIGNAL_CHANNELS"), 0x50},
        {QStringLiteral("GET_ANDROID_MAC_ADRESS"), 0x04},
        {QStringLiteral("GET_ANDROID_EQUIPMENT_RUN_INFO"), 0x03},
        {QStringLiteral("GET_OPS_EQUIPMENT_RUN_INFO"), 0x02},
        {QStringLiteral("GET_PRODUCT_INFO"), 0x01}};
    const auto it = requests.constFind(event);
    if (it == requests.constEnd())
        return QByteArray();
    return ZQBoardFrame::build({0xF1, it.value(), 0xFF, 0xFF});
}

int byteAt(const QByteArray& frame, int offset)
{
    // The end byte belongs to no value.
    return offset < frame.size() - 1 ? int(qint8(frame.at(offset))) : 0;
}

QJsonObject oneValue(const QString& event, const QJsonValue& value)
{
    QJsonObject v;
    v.insert(QStringLiteral("value"), value);
    QJsonObject message;
    message.insert(QStringLiteral("eventid"), event);
    message.insert(QStringLiteral("param"), QJsonArray{v});
    return message;
}

QJsonObject resolutionMessage(const QByteArray& frame)
{
    QJsonArray param;
    for (int i = 0; i < 2; ++i) {
        QJsonObject v;
        v.insert(QStringLiteral("value"), 100 * byteAt(frame, 10 + 2 * i) + byteAt(frame, 11 + 2 * i));
        param.append(v);
    }
    QJsonObject message;
    message.insert(QStringLiteral("eventid"), QStringLiteral("GET_SCREEN_MONITORS_RESOLUTION"));
    message.insert(QStringLiteral("param"), param);
    return message;
}

QString macText(const QByteArray& frame)
{
    QStringList bytes;
    for (int i = 10; i < 16 && i < frame.size() - 1; ++i)
        bytes << QString::asprintf("%02x", quint8(frame.at(i)));
    return bytes.join(QLatin1Char(':'));
}

} // namespace

ZQTbusinessCentralControl::ZQTbusinessCentralControl(DvScreen* screen, QObject* parent)
    : ZQTbusiness(screen, parent)
    , m_errorCodes({{86, 1}, {87, 2}, {88, 3}, {89, 4}})
{
}

int ZQTbusinessCentralControl::requestTimeoutMs()
{
    static const int ms = [] {
        bool ok = false;
        const int v = qEnvironmentVariableIntValue("VELA_CONTROL_REQUEST_TIMEOUT_MS", &ok);
        return ok && v > 0 ? v : kDefaultTimeoutMs;
    }();
    return ms;
}

void ZQTbusinessCentralControl::init()
{
    setConfigPath(QCoreApplication::applicationDirPath() + QStringLiteral("/control.xml"));
    ZQTbusiness::init();
}

bool ZQTbusinessCentralControl::isCanDealMessage(QJsonObject message)
{
    static const QStringList own = {
        QStringLiteral("GET_SCREEN_MONITORS_RESOLUTION"), QStringLiteral("GET_HAS_SIGNAL_CHANNELS"),
        QStringLiteral("GET_ANDROID_MAC_ADRESS"), QStringLiteral("GET_ANDROID_EQUIPMENT_RUN_INFO"),
        QStringLiteral("GET_OPS_EQUIPMENT_RUN_INFO"), QStringLiteral("UPDATE_EQUIPMENT_ERROR_INFO"),
        QStringLiteral("GET_PRODUCT_INFO")};
    if (own.contains(message.value(QStringLiteral("eventid")).toString()))
        return true;
    return ZQTbusiness::isCanDealMessage(message);
}

QByteArray ZQTbusinessCentralControl::errorInfoFrame(const QJsonArray& param) const
{
    QByteArray command = QByteArray::fromHex("F4FF");
    for (const QJsonValue& e : param) {
        // A value that is not a number is no known error: byte 00, as for an
        // unknown code, so the other errors still reach the board.
        const QJsonValue value = e.toObject().value(QStringLiteral("value"));
        if (!value.isDouble())
            qCWarning(lcCentralControl) << "UPDATE_EQUIPMENT_ERROR_INFO: an error code is not a number; sent as 00";
        command.append(m_errorCodes.value(int(qint8(qint64(value.toDouble()))), char(0)));
    }
    return ZQBoardFrame::build(command);
}

QByteArray ZQTbusinessCentralControl::DealMessage(QJsonObject message)
{
    const QString event = message.value(QStringLiteral("eventid")).toString();
    QByteArray frame = fixedRequest(event);
    if (event == QLatin1String("UPDATE_EQUIPMENT_ERROR_INFO")) {
        // No list of errors is the "no errors" frame.
        frame = errorInfoFrame(message.value(QStringLiteral("param")).toArray());
    } else if (frame.isEmpty()) {
        frame = fitCommand(message);
    }

    if (message.contains(QStringLiteral("id"))) {
        const QJsonValue idValue = message.value(QStringLiteral("id"));
        if (idValue.isString() || idValue.isDouble()) {
            const QString id = idValue.toVariant().toString();
            {
                QMutexLocker lock(&m_mutex);
                Pending& p = m_pending[id];
                p.key = fitEngine()->getSpacialCmd(event);
                p.age.start();
            }
            // Timers live on the main thread; this runs on the IPC work thread.
            QMetaObject::invokeMethod(this, [this]() { armRequestTimer(); }, Qt::QueuedConnection);
        } else {
            qCWarning(lcCentralControl) << event << ": \"id\" is neither a text nor a number; no reply will carry it";
        }
    }
    return frame;
}

bool ZQTbusinessCentralControl::isCanDealCommand(QByteArray frame, QByteArray& key)
{
    const QByteArray command = frame.mid(ZQBoardFrame::CommandOffset, 2);
    if (replyKeys().contains(command)) {
        key = command;
        return true;
    }
    return ZQTbusiness::isCanDealCommand(frame, key);
}

QJsonObject ZQTbusinessCentralControl::DealCommand(QByteArray frame, QByteArray key)
{
    const QByteArray command = frame.mid(ZQBoardFrame::CommandOffset, 2);
    const int reply = replyKeys().indexOf(command);
    QJsonObject result;
    if (reply == 0) {
        const qint16 channels = qint16(quint8(byteAt(frame, 10)) | (quint8(byteAt(frame, 11)) << 8));
        result = oneValue(QStringLiteral("SWITCH_ALL_CHANNEL"), int(channels));
    } else if (reply == 1) {
        result = oneValue(QStringLiteral("GET_ANDROID_MAC_ADRESS"), macText(frame));
    } else if (reply == 6) {
        result = resolutionMessage(frame);
    } else if (reply < 0) {
        if (command == kScreenVersionKey && frame.size() > 11) {
            const quint8 generation = quint8(frame.at(10));
            screen()->setScreenVersion(generation == 0x12 || generation == 0x13 ? 2019 : 2018);
        }
        result = ZQTbusiness::DealCommand(frame, key);
    }

    // The reply answers the first waiting request (by id) for its key. It is
    // taken out now, so the time-out cannot fail it while it is being sent.
    QMutexLocker lock(&m_mutex);
    m_replyId.clear();
    for (auto it = m_pending.begin(); it != m_pending.end(); ++it) {
        if (it.value().key == key) {
            m_replyId = it.key();
            m_pending.erase(it);
            break;
        }
    }
    return result;
}

void ZQTbusinessCentralControl::Send(QJsonObject message)
{
    QString id;
    {
        QMutexLocker lock(&m_mutex);
        id = m_replyId;
        m_replyId.clear();
    }
    message.insert(QStringLiteral("id"), id);
    message.insert(QStringLiteral("from"), QStringLiteral("MessageCenter"));
    message.insert(QStringLiteral("to"), QStringLiteral("ControlCenter"));
    if (message.value(QStringLiteral("eventid")).toString() == QLatin1String("GET_MAINBOARD_VERSION")) {
        const int value = message.value(QStringLiteral("param")).toArray().at(0).toObject()
                              .value(QStringLiteral("value")).toInt();
        if (value == 3 || value == 6 || value == 10)
            emit sigSendLocal(QStringLiteral("ID_IS_BUSINESS_MONITORS"));
    }
    ZQTbusiness::Send(message);
}

QStringList ZQTbusinessCentralControl::pendingIds() const
{
    QMutexLocker lock(&m_mutex);
    return m_pending.keys();
}

void ZQTbusinessCentralControl::armRequestTimer()
{
    if (!m_requestTimer) {
        m_requestTimer = new QTimer(this);
        m_requestTimer->setSingleShot(true);
        connect(m_requestTimer, &QTimer::timeout, this, &ZQTbusinessCentralControl::slotResultFailer);
    }
    qint64 oldest = -1;
    {
        QMutexLocker lock(&m_mutex);
        for (const Pending& p : qAsConst(m_pending))
            oldest = qMax(oldest, p.age.elapsed());
    }
    if (oldest < 0) {
        m_requestTimer->stop();
        return;
    }
    // Wake when the oldest request has waited its full time.
    m_requestTimer->start(int(qMax<qint64>(0, requestTimeoutMs() - oldest)));
}

void ZQTbusinessCentralControl::slotResultFailer()
{
    QStringList expired;
    {
        QMutexLocker lock(&m_mutex);
        for (auto it = m_pending.begin(); it != m_pending.end();) {
            if (it.value().age.elapsed() >= requestTimeoutMs()) {
                expired << it.key();
                it = m_pending.erase(it);
            } else {
                ++it;
            }
        }
    }
    // The application waits for an answer to every id: tell it the request failed.
    for (const QString& id : qAsConst(expired)) {
        QJsonObject failure;
        failure.insert(QStringLiteral("from"), QStringLiteral("MessageCenter"));
        failure.insert(QStringLiteral("to"), QStringLiteral("ControlCenter"));
        QJsonObject v;
        v.insert(QStringLiteral("value"), 0);
        failure.insert(QStringLiteral("param"), QJsonArray{v});
        failure.insert(QStringLiteral("id"), id);
        qCWarning(lcCentralControl) << "no board reply to request" << id << "within" << requestTimeoutMs() << "ms";
        ZQTbusiness::Send(failure);
    }
    armRequestTimer();
}
