#include "zqtbusinessshortcut.h"

#include "businesslogging.h"
#include "czqsharedkit.h"
#include "zqboardframe.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QTimer>

namespace {

const unsigned char kKey = 0xE3;
const char kFromCentre[] = "ID_APP_VELACENTER";
const char kAnyApp[] = "ID_APP_ANY";
const char kSmartScreen[] = "ID_APP_VELASMARTSCREEN";

QByteArray shortcutFrame(unsigned char sub, const QByteArray& data)
{
    QByteArray command;
    command.append(char(kKey)).append(char(sub)).append(data);
    return ZQBoardFrame::build(command);
}

// The data bytes: from position 10 up to the end byte.
QByteArray dataOf(const QByteArray& frame)
{
    return frame.size() > 11 ? frame.mid(10, frame.size() - 11) : QByteArray();
}

int signedAt(const QByteArray& frame, int offset)
{
    return offset < frame.size() ? int(qint8(frame.at(offset))) : 0;
}

int unsignedAt(const QByteArray& frame, int offset)
{
    return offset < frame.size() ? int(quint8(frame.at(offset))) : 0;
}

// The bytes of a Base64 "param", padded or not (many encoders leave the
// padding out). A value that is not text decodes to no bytes. Text with
// characters outside Base64 is refused: the decoder would skip them and
// hand the board bytes nobody meant.
bool decodeBase64(const QJsonValue& value, QByteArray& bytes)
{
    static const QRegularExpression base64(QStringLiteral("^([A-Za-z0-9+/]*)={0,2}$"));
    const QString text = value.toString();
    const QRegularExpressionMatch match = base64.match(text);
    // One character left over after the groups of four holds no whole byte.
    if (!match.hasMatch() || match.capturedLength(1) % 4 == 1)
        return false;
    bytes = QByteArray::fromBase64(text.toLatin1());
    return true;
}

bool oneOf(const QString& k, std::initializer_list<const char*> names)
{
    for (const char* n : names) {
        if (k == QLatin1String(n))
            return true;
    }
    return false;
}

} // namespace

ZQTbusinessShortCut::ZQTbusinessShortCut(QObject* parent)
    : QObject(parent)
    , m_penAttributes(QByteArray::fromHex("0105000000801E").toBase64())
{
}

QObject* ZQTbusinessShortCut::getObject()
{
    return this;
}

void ZQTbusinessShortCut::init()
{
    m_localOperations = {{1, QStringLiteral("ID_SLIDE_PRE")},
                         {2, QStringLiteral("ID_SLIDE_NEXT")},
                         {3, QStringLiteral("ID_ZQ_Multitask")},
                         {4, QStringLiteral("ID_KEYBOARD")},
                         {5, QStringLiteral("ID_ZQ_FILE_CLOSE")},
                         {6, QStringLiteral("ID_TOOLS")},
                         {7, QStringLiteral("ID_UISTATE_DESKTOP_RETURN")}};
    emit sigSendCommend(shortcutFrame(0x04, QByteArray()));
    if (!m_infoTimer) {
        m_infoTimer = new QTimer(this);
        connect(m_infoTimer, &QTimer::timeout, this, &ZQTbusinessShortCut::slotInfoTimer);
        m_infoTimer->start(kInfoMs);
    }
}

QJsonObject ZQTbusinessShortCut::messageStrToJson(QString message)
{
    return messageTextToJson(message);
}

bool ZQTbusinessShortCut::isCanDealCommand(QByteArray frame, QByteArray& key)
{
    if (frame.size() <= ZQBoardFrame::CommandOffset || quint8(frame.at(8)) != kKey)
        return false;
    key = QByteArray(1, char(kKey));
    return true;
}

QJsonObject ZQTbusinessShortCut::frameMessage(const QString& event, const QString& to,
                                              const QJsonValue& param) const
{
    QJsonObject message;
    message.insert(QStringLiteral("eventid"), event);
    message.insert(QStringLiteral("from"), QLatin1String(kFromCentre));
    message.insert(QStringLiteral("to"), to);
    message.insert(QStringLiteral("param"), param);
    return message;
}

QJsonObject ZQTbusinessShortCut::DealCommand(QByteArray frame, QByteArray key)
{
    QJsonObject result;
    if (!key.startsWith(char(kKey)))
        return result;
    qCDebug(lcShortcut) << "businessCmdShortCut before dealCommand" << frame.toHex(' ').toUpper();
    const QByteArray data = dataOf(frame);
    const QString dataBase64 = QString::fromLatin1(data.toBase64());
    switch (unsignedAt(frame, 9)) {
    case 0x01:
        if (CZqSharedKit::getInstence()->checkProgramRun(QStringLiteral("VelaTouchPro.exe")) > 0)
            result = frameMessage(QStringLiteral("ID_BOARD_FUCTION"), QLatin1String(kAnyApp), dataBase64);
        else
            emit sigSendLocal(QStringLiteral("ID_VELATOUCHPRO"));
        break;
    case 0x02: {
        const int code = signedAt(frame, 10);
        if (code != 6) {
            emit sigSendLocal(m_localOperations.value(code));
            break;
        }
        // Only the bytes the frame holds count; the end byte is none of them.
        const QByteArray b = frame.left(frame.size() - 1);
        const int type = signedAt(b, 11);
        const double x = unsignedAt(b, 12) * 256 + unsignedAt(b, 13);
        const double y = unsignedAt(b, 14) * 256 + unsignedAt(b, 15);
        qCDebug(lcShortcut) << "toolbox" << type << x << y;
        emit sigShowToolBox(type, x, y);
        break;
    }
    case 0x04: {
        if (data.size() > 1) {
            int zero = data.indexOf('\0');
            const QString text = QString::fromUtf8(zero >= 0 ? data.left(zero) : data);
            QMutexLocker lock(&m_mutex);
            for (const QString& item : text.split(QStringLiteral("<=>"))) {
                const QStringList parts = item.split(QLatin1Char('-'));
                if (parts.size() < 2)
                    continue;
                qCDebug(lcShortcut) << "info" << parts.at(0) << "......" << parts.at(1);
                m_screenInfo.insert(parts.at(0), parts.at(1));
            }
        }
        QMutexLocker lock(&m_mutex);
        m_infoRequests = 10;
        break;
    }
    case 0x05: {
        const int code = signedAt(frame, 10);
        bool none;
        {
            QMutexLocker lock(&m_mutex);
            none = m_subscribers.isEmpty();
        }
        qCDebug(lcShortcut) << "sendPageKeyFlag" << (none ? "true" : "false");
        if ((code == 1 || code == 2) && none)
            result = frameMessage(QStringLiteral("ID_GESTURE"), QLatin1String(kSmartScreen), code);
        else
            emit sigSendLocal(m_localOperations.value(code));
        break;
    }
    case 0x06:
        result = frameMessage(QStringLiteral("ID_HOME_KEY"), QLatin1String(kSmartScreen), signedAt(frame, 10));
        break;
    case 0x07: {
        {
            QMutexLocker lock(&m_mutex);
            m_penAttributes = data.toBase64();
        }
        result = frameMessage(QStringLiteral("ID_PEN_ATTR_BRO"), QLatin1String(kAnyApp), dataBase64);
        break;
    }
    case 0x08: {
        QByteArray pen;
        {
            QMutexLocker lock(&m_mutex);
            pen = QByteArray::fromBase64(m_penAttributes);
        }
        emit sigSendCommend(shortcutFrame(0x08, pen));
        break;
    }
    case 0x09:
        result = frameMessage(QStringLiteral("ID_APP_ACTION"), QLatin1String(kAnyApp), dataBase64);
        break;
    default:
        break;
    }
    qCDebug(lcShortcut) << "businessCmdShortCut json" << result;
    return result;
}

void ZQTbusinessShortCut::Send(QJsonObject message)
{
    if (!message.isEmpty())
        emit sigSendMessage(jsonToMessageText(message));
}

bool ZQTbusinessShortCut::isCanDealMessage(QJsonObject message)
{
    if (oneOf(message.value(QStringLiteral("eventid")).toString(),
              {"ID_PAGE_GESTURE", "ID_APP_STATE", "ID_GET_SCREEN_INFO", "ID_PEN_ATTR_GET",
               "ID_PEN_ATTR_SET", "ID_APP_ACTION"}))
        return true;
    return message.contains(QStringLiteral("keyId"));
}

QByteArray ZQTbusinessShortCut::reply(const QJsonObject& request, const QJsonValue& param) const
{
    QJsonObject answer;
    answer.insert(QStringLiteral("eventid"), request.value(QStringLiteral("eventid")));
    answer.insert(QStringLiteral("to"), request.value(QStringLiteral("from")));
    answer.insert(QStringLiteral("from"), request.value(QStringLiteral("to")));
    answer.insert(QStringLiteral("param"), param);
    return jsonToMessageText(answer).toUtf8();
}

void ZQTbusinessShortCut::restartHeartTimer()
{
    // Called from the IPC work thread, which has no event loop.
    QMetaObject::invokeMethod(this, [this]() {
        if (!m_heartTimer) {
            m_heartTimer = new QTimer(this);
            m_heartTimer->setSingleShot(true);
            connect(m_heartTimer, &QTimer::timeout, this, &ZQTbusinessShortCut::slotHeartTimer);
        }
        m_heartTimer->start(kHeartMs);
    }, Qt::QueuedConnection);
}

QByteArray ZQTbusinessShortCut::DealMessage(QJsonObject message)
{
    const QString event = message.value(QStringLiteral("eventid")).toString();
    const QJsonValue param = message.value(QStringLiteral("param"));
    if (event == QLatin1String("ID_APP_STATE")) {
        // Whatever is missing reads as 0.
        const QJsonObject state = param.toObject();
        QByteArray data;
        data.append(char(state.value(QStringLiteral("appid")).toInt() & 0xFF));
        data.append(char(state.value(QStringLiteral("appstate")).toInt() & 0xFF));
        emit sigSendCommend(shortcutFrame(0x03, data));
        return QByteArray();
    }
    if (event == QLatin1String("ID_APP_ACTION")) {
        QByteArray data;
        if (!decodeBase64(param, data)) {
            qCWarning(lcShortcut) << "ID_APP_ACTION: \"param\" is not Base64 text; nothing sent";
            return QByteArray();
        }
        emit sigSendCommend(shortcutFrame(0x09, data));
        return QByteArray();
    }
    if (event == QLatin1String("ID_PEN_ATTR_SET")) {
        // No pen attributes at all would leave the board and every
        // application without any: kept as they were.
        QByteArray pen;
        if (!param.isString() || !decodeBase64(param, pen) || pen.isEmpty()) {
            qCWarning(lcShortcut) << "ID_PEN_ATTR_SET: \"param\" holds no pen attributes in Base64; pen attributes kept";
            return QByteArray();
        }
        {
            QMutexLocker lock(&m_mutex);
            m_penAttributes = param.toString().toLatin1();
        }
        const QByteArray text = jsonToMessageText(
            frameMessage(QStringLiteral("ID_PEN_ATTR_BRO"), QLatin1String(kAnyApp), param.toString())).toUtf8();
        emit sigSendCommend(shortcutFrame(0x08, pen));
        return text;
    }
    if (event == QLatin1String("ID_PEN_ATTR_GET")) {
        QMutexLocker lock(&m_mutex);
        return reply(message, QString::fromLatin1(m_penAttributes));
    }
    if (event == QLatin1String("ID_PAGE_GESTURE")) {
        if (!param.isString()) {
            qCWarning(lcShortcut) << "ID_PAGE_GESTURE: \"param\" is not a text; ignored";
            return QByteArray();
        }
        const QString what = param.toString();
        const QString from = message.value(QStringLiteral("from")).toString();
        if (what == QLatin1String("yes") || what == QLatin1String("live")) {
            {
                QMutexLocker lock(&m_mutex);
                if (!m_subscribers.contains(from))
                    m_subscribers.append(from);
            }
            restartHeartTimer();
        } else if (what == QLatin1String("no")) {
            QMutexLocker lock(&m_mutex);
            m_subscribers.removeAll(from);
        }
        return QByteArray();
    }
    if (event == QLatin1String("ID_GET_SCREEN_INFO")) {
        // A "param" that is not text asks for one unknown key: the reply
        // still goes out, with an empty value.
        const QStringList keys = param.toString().split(QStringLiteral("<>"));
        qCDebug(lcShortcut) << "info key" << keys;
        QString values;
        {
            QMutexLocker lock(&m_mutex);
            for (const QString& k : keys)
                values += m_screenInfo.value(k) + QStringLiteral("<>");
        }
        values.chop(2);
        qCDebug(lcShortcut) << "info value" << values;
        return reply(message, values);
    }
    return routeKey(message);
}

QByteArray ZQTbusinessShortCut::routeKey(const QJsonObject& message)
{
    const QJsonValue keyValue = message.value(QStringLiteral("keyId"));
    if (!keyValue.isString()) {
        qCWarning(lcShortcut) << "\"keyId\" is not a text; ignored";
        return QByteArray();
    }
    const QString k = keyValue.toString();
    const int pos = message.value(QStringLiteral("pos")).toInt();
    const double px = message.value(QStringLiteral("px")).toDouble();
    const double py = message.value(QStringLiteral("py")).toDouble();
    QMap<QString, QVariant> map;
    map.insert(QStringLiteral("type"), 0);
    map.insert(QStringLiteral("eventid"), k);
    map.insert(QStringLiteral("pos"), pos);
    map.insert(QStringLiteral("px"), px);
    map.insert(QStringLiteral("py"), py);
    map.insert(QStringLiteral("from"), QLatin1String(kFromCentre));
    map.insert(QStringLiteral("scenario"), QStringLiteral("ID_SCENARIO_SHORTCUT"));

    if (oneOf(k, {"ID_SYSTEM_SETUP_K1", "ID_TOOL_SPOTLIGHT", "ID_ZQ_FILE_SAVE", "ID_ZQ_FILE_SAVEAS",
                  "IDR_SLIDE_NEW", "ID_SLIDE_NEW_WHITE"})) {
        const QString top = CZqSharedKit::getInstence()->getTopApp();
        if (top == QLatin1String("ID_APP_VELATOUCHPRO"))
            return setMsgTopAppAndToByteArray(map, top);
        emit sigSendLocal(k);
    } else if (oneOf(k, {"ID_ITEM_VISUALIZER", "ID_TOOL_VELABRIDGE", "ID_UISTATE_DESKTOP_RETURN",
                         "ID_SLIDE_PRE", "ID_SLIDE_NEXT", "ID_ZQ_Multitask", "ID_KEYBOARD",
                         "ID_SLIDE_NEW_TRANSPARENT"})) {
        emit sigSendLocal(k);
    } else if (oneOf(k, {"ID_ZQ_FILE_CLOSE", "ID_EXIT_APP"})) {
        emit sigSendLocal(QStringLiteral("ID_ZQ_FILE_CLOSE"));
    } else if (oneOf(k, {"ID_ITEM_SELECT", "ID_ITEM_STROKE_SELECT", "ID_RENDERPROPERTY_TOTALWNDPENWIDTH",
                         "ID_ITEM_STROKE_SMOOTH", "ID_ITEM_DELETE_PIXEL", "ID_ITEM_DELETE_ITEM",
                         "ID_ZQ_EDIT_UNDO", "ID_ZQ_EDIT_REDO1", "ID_ITEM_DELETE_ALL",
                         "ID_ITEM_IMAGE_FROMLIB", "ID_SLIDE_BACKCOLOR_CHANGE", "ID_ITEM_TEXT_KEYBOARD"})) {
        if (k == QLatin1String("ID_RENDERPROPERTY_TOTALWNDPENWIDTH"))
            map.insert(QStringLiteral("eventid"), QStringLiteral("ID_ITEM_STROKE_SMOOTH"));
        else if (k == QLatin1String("ID_ITEM_SELECT"))
            map.insert(QStringLiteral("eventid"), QStringLiteral("ID_ITEM_STROKE_SELECT"));
        return setMsgTopAppAndToByteArray(map, CZqSharedKit::getInstence()->getTopApp());
    } else if (k == QLatin1String("ID_TRYTASK_RESULT")) {
        const int result = message.value(QStringLiteral("result")).toInt();
        if (result == 1 || result == -1)
            emit sigShowDialog(pos, px, py);
    } else if (k == QLatin1String("ID_TOOLS")) {
        emit sigShowToolBox(pos, px, py);
    }
    return QByteArray();
}

QByteArray ZQTbusinessShortCut::setMsgTopAppAndToByteArray(QMap<QString, QVariant> message, QString app)
{
    message.insert(QStringLiteral("to"), app);
    return jsonToMessageText(QJsonObject::fromVariantMap(message)).toUtf8();
}

void ZQTbusinessShortCut::Send(QByteArray frame)
{
    qCDebug(lcShortcut) << "businessShortCut send" << frame;
    const int zero = frame.indexOf('\0');
    if (zero >= 0)
        frame.truncate(zero);
    if (!frame.isEmpty())
        emit sigSendMessage(QString::fromUtf8(frame));
}

void ZQTbusinessShortCut::slotHeartTimer()
{
    if (m_heartTimer)
        m_heartTimer->stop();
    QMutexLocker lock(&m_mutex);
    m_subscribers.clear();
}

void ZQTbusinessShortCut::slotInfoTimer()
{
    {
        QMutexLocker lock(&m_mutex);
        if (m_infoRequests > 9) {
            lock.unlock();
            m_infoTimer->stop();
            qCDebug(lcShortcut) << "slotInfoTimer stop";
            return;
        }
        ++m_infoRequests;
    }
    emit sigSendCommend(shortcutFrame(0x04, QByteArray()));
    qCDebug(lcShortcut) << "slotInfoTimer";
}

void ZQTbusinessShortCut::linkUp()
{
    {
        QMutexLocker lock(&m_mutex);
        m_infoRequests = 0;
    }
    emit sigSendCommend(shortcutFrame(0x04, QByteArray()));
    if (m_infoTimer)
        m_infoTimer->start(kInfoMs);
    qCDebug(lcShortcut) << "linkUp: screen information requested";
}
