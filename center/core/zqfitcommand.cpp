#include "zqfitcommand.h"

#include "dvscreen.h"
#include "frameworklogging.h"
#include "zqanalysiscommand.h"
#include "zqboardframe.h"

#include <QDebug>
#include <QJsonArray>

#include <algorithm>

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
void readItems(const QDomElement& value, Command& command, Value (*valueType)(const QString&, bool*),
               ZQTableNotes* notes, const QDomElement& entry)
{
    for (QDomElement item = value.firstChildElement(); !item.isNull(); item = item.nextSiblingElement()) {
        bool ok = true;
        const QString typeText = item.attribute(QStringLiteral("valueType"));
        const Value type = valueType(typeText, &ok);
        if (!ok)
            ZQAnalysisCommand::note(notes, entry, QStringLiteral("item valueType \"%1\" is not a number; read as 0").arg(typeText));
        const QString positionText = item.attribute(QStringLiteral("position"));
        const int position = ZQAnalysisCommand::decimal(positionText, &ok);
        if (!ok)
            ZQAnalysisCommand::note(notes, entry, QStringLiteral("item position \"%1\" is not a number; read as 0").arg(positionText));
        const QString byteText = item.attribute(QStringLiteral("value"));
        const char byte = ZQAnalysisCommand::hexByte(byteText, &ok);
        if (!ok)
            ZQAnalysisCommand::note(notes, entry, QStringLiteral("item value \"%1\" is not hexadecimal; read as 00").arg(byteText));
        if (command.positions.contains(type)
            && (command.positions.value(type) != position || command.bytes.value(type) != byte))
            ZQAnalysisCommand::note(notes, entry, QStringLiteral("valueType %1 is listed twice; the last counts").arg(typeText));
        command.positions.insert(type, position);
        command.bytes.insert(type, byte);
    }
}

QString asText(const QString& text, bool* ok)
{
    if (ok)
        *ok = true;
    return text;
}

// Stores `command` under the event; an entry of the same kind and event
// loaded before is replaced, which the notes say at the earlier entry.
template <typename Command>
void store(QMap<QString, Command>& table, const QString& event, const Command& command, const char* kind,
           ZQTableNotes* notes)
{
    auto earlier = table.constFind(event);
    if (earlier != table.constEnd())
        ZQAnalysisCommand::note(notes, earlier->line, event,
                                QStringLiteral("replaced by the %1 fit entry of line %2 with the same event; this one is "
                                               "never used")
                                    .arg(QLatin1String(kind))
                                    .arg(command.line));
    table.insert(event, command);
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

void ZQFitCommand::setNotes(ZQTableNotes* notes)
{
    m_notes = notes;
}

void ZQFitCommand::ReadXmlElement(QDomElement element)
{
    const QString kind = element.attribute(QStringLiteral("commandParamType"));
    const QString eventName = element.tagName();
    if (kind != QLatin1String("oneEnum") && kind != QLatin1String("fixed") && kind != QLatin1String("oneValue")
        && kind != QLatin1String("oneStringEnum")) {
        // Boards are never sent N-enumerations, two-value or text commands.
        ZQAnalysisCommand::note(m_notes, element,
                                QStringLiteral("fit entries of kind \"%1\" build no frame; the entry is never used").arg(kind));
        return;
    }
    const QByteArray key = ZQAnalysisCommand::readKey(element, m_notes);
    // A frame without a command key means nothing to the board.
    if (key.isEmpty())
        return;
    const int line = qMax(0, element.lineNumber());
    const QDomElement value = element.firstChild().nextSibling().toElement();
    if ((kind == QLatin1String("oneEnum") || kind == QLatin1String("oneStringEnum")) && value.isNull())
        ZQAnalysisCommand::note(m_notes, element,
                                QStringLiteral("no value element after the key; its frames carry the key only"));

    if (kind == QLatin1String("oneEnum")) {
        oneEnumCommand command;
        command.key = key;
        command.line = line;
        readItems<oneEnumCommand, int>(value, command, &ZQAnalysisCommand::decimal, m_notes, element);
        store(m_oneEnum, eventName, command, "oneEnum", m_notes);
    } else if (kind == QLatin1String("fixed")) {
        store(m_fixed, eventName, keyCommand{key, line}, "fixed", m_notes);
    } else if (kind == QLatin1String("oneValue")) {
        store(m_oneValue, eventName, keyCommand{key, line}, "oneValue", m_notes);
    } else {
        oneStringEnumCommand command;
        command.key = key;
        command.line = line;
        readItems<oneStringEnumCommand, QString>(value, command, &asText, m_notes, element);
        store(m_oneStringEnum, eventName, command, "oneStringEnum", m_notes);
    }
}

QList<ZQTableEntry> ZQFitCommand::entries() const
{
    // The order of fitCommand(): the first kind that holds an event decides.
    QList<ZQTableEntry> list;
    auto add = [&list](const char* kind, const QString& event, const QByteArray& key, QList<int> positions,
                       const QStringList& values, int line) {
        ZQTableEntry e;
        e.values = values;
        e.kind = QLatin1String(kind);
        e.eventName = event;
        e.key = key;
        std::sort(positions.begin(), positions.end());
        positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
        e.positions = positions;
        e.line = line;
        list.append(e);
    };
    for (auto it = m_oneEnum.constBegin(); it != m_oneEnum.constEnd(); ++it) {
        QStringList values;
        for (int v : it->positions.keys())
            values << QString::number(v);
        add("oneEnum", it.key(), it->key, it->positions.values(), values, it->line);
    }
    for (auto it = m_fixed.constBegin(); it != m_fixed.constEnd(); ++it)
        add("fixed", it.key(), it->key, {}, {}, it->line);
    for (auto it = m_oneValue.constBegin(); it != m_oneValue.constEnd(); ++it)
        add("oneValue", it.key(), it->key, {8 + it->key.size()}, {}, it->line);
    for (auto it = m_oneStringEnum.constBegin(); it != m_oneStringEnum.constEnd(); ++it)
        add("oneStringEnum", it.key(), it->key, it->positions.values(), it->positions.keys(), it->line);
    return list;
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
        return fixed->key;
    return m_oneValue.value(eventName).key;
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
        return fixed->key;

    auto oneValue = m_oneValue.constFind(eventName);
    if (oneValue != m_oneValue.constEnd()) {
        const int value = paramOf(message).at(0).toObject().value(QStringLiteral("value")).toInt(0);
        const int device = m_screen ? m_screen->toDeviceValue(eventName, value) : value;
        return oneValue->key + static_cast<char>(device & 0xFF);
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
