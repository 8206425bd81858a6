#include "zqwriteacceleration.h"

#include "businesslogging.h"
#include "zqboardframe.h"

#include <QDebug>

namespace {

bool isInkDrawToCentre(const QJsonObject& message)
{
    return message.value(QStringLiteral("eventid")).toString() == QLatin1String("ID_INKDRAW")
           && message.value(QStringLiteral("to")).toString() == QLatin1String("ID_APP_VELACENTER");
}

} // namespace

ZQWriteAcceleration::ZQWriteAcceleration(DvScreen* screen, QObject* parent)
    : ZQTbusiness(screen, parent)
{
}

void ZQWriteAcceleration::init()
{
    // No command table: the module decodes and builds its traffic itself.
}

bool ZQWriteAcceleration::isCanDealCommand(QByteArray frame, QByteArray&)
{
    return frame.size() >= 10 && quint8(frame.at(8)) == 0xE0;
}

QJsonObject ZQWriteAcceleration::DealCommand(QByteArray frame, QByteArray)
{
    if (frame.isEmpty() || frame.at(0) != ZQBoardFrame::StartByte
        || frame.at(frame.size() - 1) != ZQBoardFrame::EndByte)
        qCWarning(lcWriteAcceleration).noquote().nospace() << "DealCommand" << " cmd error: " << frame.toHex().toUpper();
    const QByteArray command = frame.size() > 9 ? frame.mid(8, frame.size() - 9) : QByteArray();
    QJsonObject json;
    json.insert(QStringLiteral("from"), QStringLiteral("ID_APP_VELACENTER"));
    json.insert(QStringLiteral("to"), QStringLiteral("ID_APP_INKDRAW"));
    json.insert(QStringLiteral("eventid"), QStringLiteral("ID_INKDRAW"));
    json.insert(QStringLiteral("param"), QString::fromLatin1(command.toHex().toUpper()));
    return json;
}

bool ZQWriteAcceleration::isCanDealMessage(QJsonObject message)
{
    return isInkDrawToCentre(message);
}

QByteArray ZQWriteAcceleration::fromHexPairs(const QString& text)
{
    const auto digit = [](QChar c) {
        const char l = c.toLatin1();
        if (l >= '0' && l <= '9')
            return l - '0';
        if (l >= 'A' && l <= 'F')
            return l - 'A' + 10;
        if (l >= 'a' && l <= 'f')
            return l - 'a' + 10;
        return -1;
    };
    QByteArray bytes;
    bytes.reserve(text.size() / 2 + 1);
    for (int i = 0; i < text.size(); i += 2) {
        const int high = digit(text.at(i));
        // A lone last digit counts as a pair of its own.
        const int low = i + 1 < text.size() ? digit(text.at(i + 1)) : -2;
        if (high < 0 || low == -1)
            bytes.append('\0');
        else
            bytes.append(char(low == -2 ? high : high * 16 + low));
    }
    return bytes;
}

QByteArray ZQWriteAcceleration::DealMessage(QJsonObject message)
{
    if (!isInkDrawToCentre(message))
        return QByteArray();
    const QString property = message.value(QStringLiteral("property")).toString();
    qCDebug(lcWriteAcceleration).noquote().nospace() << "ZQWriteAcceleration::DealMessage: " << property;
    const QByteArray bytes = fromHexPairs(property);
    if (bytes.isEmpty())
        return bytes;

    // The agent answers with a whole frame; a bare command is put into one.
    // Either way the length must fit the frame's one length byte.
    const int maxFrame = ZQBoardFrame::HeaderSize + ZQBoardFrame::MaxCommandLength + 1;
    QByteArray frame;
    if (bytes.at(0) != ZQBoardFrame::StartByte)
        frame = ZQBoardFrame::build(bytes);
    else if (bytes.size() <= maxFrame)
        frame = bytes;
    if (frame.isEmpty())
        qCWarning(lcWriteAcceleration) << "ZQWriteAcceleration: answer of" << bytes.size()
                   << "bytes does not fit one board frame; not sent";
    return frame;
}
