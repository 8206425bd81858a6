#include "zqbusinesscustomchannel.h"

#include "businesslogging.h"
#include "zqboardframe.h"

#include <QDebug>

namespace {

struct Tunnel {
    quint8 command;
    const char* eventId;
    const char* receiver; // nullptr: the board never sends on this tunnel
};

const Tunnel kTunnels[] = {
    {0xE1, "VELABRIDGE_CHANNEL", "ID_APP_VELABRIDGE"},
    {0xE2, "ID_OPEX_MGR", "ID_APP_VELAPCMANAGER"},
    {0xE4, "ID_DISC_COORDINATE", nullptr},
    {0xE5, "ID_SET_COOR", "ID_APP_SET_SERVER"},
};

const Tunnel* tunnelOfEvent(const QString& eventId)
{
    for (const Tunnel& t : kTunnels) {
        if (eventId == QLatin1String(t.eventId))
            return &t;
    }
    return nullptr;
}

const Tunnel* tunnelFromBoard(quint8 command)
{
    for (const Tunnel& t : kTunnels) {
        if (t.command == command && t.receiver)
            return &t;
    }
    return nullptr;
}

} // namespace

ZQBusinessCustomChannel::ZQBusinessCustomChannel(QObject* parent)
    : QObject(parent)
{
}

void ZQBusinessCustomChannel::init()
{
}

QObject* ZQBusinessCustomChannel::getObject()
{
    return this;
}

QJsonObject ZQBusinessCustomChannel::messageStrToJson(QString message)
{
    return messageTextToJson(message);
}

bool ZQBusinessCustomChannel::isCanDealMessage(QJsonObject message)
{
    return tunnelOfEvent(message.value(QStringLiteral("eventid")).toString()) != nullptr;
}

QByteArray ZQBusinessCustomChannel::DealMessage(QJsonObject message)
{
    const Tunnel* tunnel = tunnelOfEvent(message.value(QStringLiteral("eventid")).toString());
    const quint8 command = tunnel ? tunnel->command : 0xE1;
    const QByteArray payload =
        QByteArray::fromBase64(message.value(QStringLiteral("param")).toString().toLocal8Bit());
    const QByteArray frame = ZQBoardFrame::build(QByteArray(1, char(command)) + payload);
    if (frame.isEmpty())
        qCWarning(lcCustomChannel) << "custom channel" << (tunnel ? tunnel->eventId : "") << "payload of" << payload.size()
                   << "bytes exceeds" << ZQBoardFrame::MaxCommandLength - 1
                   << "bytes, the most one frame holds; dropped";
    return frame;
}

void ZQBusinessCustomChannel::Send(QByteArray frame)
{
    // A refused payload leaves nothing to send.
    if (!frame.isEmpty())
        emit sigSendCommend(frame);
}

bool ZQBusinessCustomChannel::isCanDealCommand(QByteArray frame, QByteArray& key)
{
    // Command byte and end byte at least.
    if (frame.size() < 10 || !tunnelFromBoard(quint8(frame.at(8))))
        return false;
    key.append(frame.at(8));
    return true;
}

QJsonObject ZQBusinessCustomChannel::DealCommand(QByteArray frame, QByteArray key)
{
    const Tunnel* tunnel = key.isEmpty() ? nullptr : tunnelFromBoard(quint8(key.at(0)));
    if (!tunnel || frame.size() < 10)
        return QJsonObject();
    // Up to the end byte by the frame's real size: a joined multi-frame
    // message may be longer than its one-byte length says.
    const QByteArray payload = frame.mid(9, frame.size() - 10);
    QJsonObject json;
    json.insert(QStringLiteral("eventid"), QLatin1String(tunnel->eventId));
    json.insert(QStringLiteral("from"), QStringLiteral("ID_APP_VELACENTER"));
    json.insert(QStringLiteral("to"), QLatin1String(tunnel->receiver));
    json.insert(QStringLiteral("param"), QString::fromLatin1(payload.toBase64()));
    return json;
}

void ZQBusinessCustomChannel::Send(QJsonObject message)
{
    emit sigSendMessage(jsonToMessageText(message));
}
