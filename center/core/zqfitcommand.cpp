#include "zqfitcommand.h"

#include "dvscreen.h"
#include "frameworklogging.h"
#include "zqanalysiscommand.h"
#include "zqboardframe.h"

#include <QDebug>
#include <QJsonArray>

namespace {

const int kEnvelope = 8;

// Places the byte of each message value at its declared position; only the
// positions that follow the key without a gap are sent (see docs/tables.md).
template <typename Value>
QByteArray enumBytes(const QList<Value>& values, const QMap<Value, int>& positions,
                     const QMap<Value, char>& bytes, int firstPosition)
{
    QMap<int, char> placed;
    for (const Value& v : values)
        placed.insert(positions.value(v, 0), bytes.value(v, 0));
    QByteArray out;
    const int count = placed.size();
    for (int i = 0; i < count; ++i) {
        auto slot = placed.constFind(firstPosition + i);
        if (slot != placed.constEnd())
            out.append(slot.value());
    }
    return out;
}

template <typename Command, typename Value>
void readItems(const QDomElement& value, Command& command, Value (*valueType)(const QString&))
{
    for (QDomElement item = value.firstChildElement(); !item.isNull(); item = item.nextSiblingElement()) {
        const Value type = valueType(item.attribute(QStringLiteral("valueType")));
        command.positions.insert(type, ZQAnalysisCommand::decimal(item.attribute(QStringLiteral("position"))));
        command.bytes.insert(type, ZQAnalysisCommand::hexByte(item.attribute(QStringLiteral("value"))));
    }
}

QString asText(const QString& text)
{
    return text;
}

QJsonArray paramOf(const QJsonObject& message)
{
    return message.value(QStringLiteral("param")).toArray();
}

} // namespace

ZQFitCommand::ZQFitCommand(DvScreen* screen, QObject* parent)
    : QObject(parent)
    , m_screen(screen)
{
}

void ZQFitCommand::ReadXmlElement(QDomElement element)
{
    const QString kind = element.attribute(QStringLiteral("commandParamType"));
    const QString eventName = element.tagName();
    const QByteArray key = ZQAnalysisCommand::readKey(element);
    // A frame without a command key means nothing to the board.
    if (key.isEmpty())
        return;
    const QDomElement value = element.firstChild().nextSibling().toElement();

    if (kind == QLatin1String("oneEnum")) {
        oneEnumCommand command;
        command.key = key;
        readItems<oneEnumCommand, int>(value, command, &ZQAnalysisCommand::decimal);
        m_oneEnum.insert(eventName, command);
    } else if (kind == QLatin1String("fixed")) {
        m_fixed.insert(eventName, key);
    } else if (kind == QLatin1String("oneValue")) {
        m_oneValue.insert(eventName, key);
    } else if (kind == QLatin1String("NEnum")) {
        // Boards are never sent N-enumerations; the entry is accepted and ignored.
    } else if (kind == QLatin1String("oneStringEnum")) {
        oneStringEnumCommand command;
        command.key = key;
        readItems<oneStringEnumCommand, QString>(value, command, &asText);
        m_oneStringEnum.insert(eventName, command);
    }
}

bool ZQFitCommand::isCanFit(QJsonObject message) const
{
    const QString eventName = message.value(QStringLiteral("eventid")).toString();
    return m_oneEnum.contains(eventName) || m_fixed.contains(eventName)
        || m_oneValue.contains(eventName) || m_oneStringEnum.contains(eventName);
}

QByteArray ZQFitCommand::getSpacialCmd(QString eventName) const
{
    auto oneEnum = m_oneEnum.constFind(eventName);
    if (oneEnum != m_oneEnum.constEnd())
        return oneEnum->key;
    auto fixed = m_fixed.constFind(eventName);
    if (fixed != m_fixed.constEnd())
        return fixed.value();
    return m_oneValue.value(eventName);
}

QByteArray ZQFitCommand::fitCommand(const QJsonObject& message) const
{
    const QString eventName = message.value(QStringLiteral("eventid")).toString();

    auto oneEnum = m_oneEnum.constFind(eventName);
    if (oneEnum != m_oneEnum.constEnd()) {
        QList<int> values;
        for (const QJsonValue& item : paramOf(message))
            values.append(item.toObject().value(QStringLiteral("value")).toInt(0));
        return oneEnum->key
            + enumBytes(values, oneEnum->positions, oneEnum->bytes, kEnvelope + oneEnum->key.size());
    }

    auto fixed = m_fixed.constFind(eventName);
    if (fixed != m_fixed.constEnd())
        return fixed.value();

    auto oneValue = m_oneValue.constFind(eventName);
    if (oneValue != m_oneValue.constEnd()) {
        const int value = paramOf(message).at(0).toObject().value(QStringLiteral("value")).toInt(0);
        const int device = m_screen ? m_screen->toDeviceValue(eventName, value) : value;
        return oneValue.value() + static_cast<char>(device & 0xFF);
    }

    auto oneStringEnum = m_oneStringEnum.constFind(eventName);
    if (oneStringEnum != m_oneStringEnum.constEnd()) {
        QList<QString> values;
        for (const QJsonValue& item : paramOf(message))
            values.append(item.toObject().value(QStringLiteral("value")).toString());
        return oneStringEnum->key
            + enumBytes(values, oneStringEnum->positions, oneStringEnum->bytes,
                        kEnvelope + oneStringEnum->key.size());
    }

    return QByteArray();
}

QByteArray ZQFitCommand::fit(QJsonObject message) const
{
    const QByteArray command = fitCommand(message);
    if (command.isEmpty())
        return QByteArray();
    const QByteArray frame = ZQBoardFrame::build(command);
    if (frame.isEmpty())
        qCWarning(lcTables) << "fit: command of" << message.value(QStringLiteral("eventid")).toString()
                   << "is" << command.size() << "bytes, too long for one frame; not sent";
    return frame;
}
