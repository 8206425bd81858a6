#include "zqanalysiscommand.h"

#include "dvscreen.h"
#include "frameworklogging.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>

// Every analysis writes a debug line of "vela.tables"; while that is off
// (the default) the line is not even formatted.

namespace {

const int kEnvelope = 8; // the key starts right after the fixed header

// A value byte is readable when it lies inside the frame and before its end
// byte. A table that points elsewhere is at fault; its frames give no result
// rather than a read outside the frame.
bool readable(int position, int frameLength)
{
    return position >= 0 && position <= frameLength - 2;
}

QJsonObject message(const QString& eventName, const QJsonArray& param)
{
    QJsonObject result;
    result.insert(QStringLiteral("eventid"), eventName);
    result.insert(QStringLiteral("param"), param);
    return result;
}

QJsonObject typedValue(const QString& type, const QJsonValue& value)
{
    QJsonObject item;
    item.insert(QStringLiteral("type"), type);
    item.insert(QStringLiteral("value"), value);
    return item;
}

QJsonObject bareValue(const QJsonValue& value)
{
    QJsonObject item;
    item.insert(QStringLiteral("value"), value);
    return item;
}

// One enumeration item's attributes, noting those that are not numbers.
struct Item {
    char byte = 0;
    QString valueType;
    int position = 0;
};

Item readItem(const QDomElement& item, ZQTableNotes* notes, const QDomElement& entry)
{
    Item result;
    bool ok = true;
    const QString value = item.attribute(QStringLiteral("value"));
    result.byte = ZQAnalysisCommand::hexByte(value, &ok);
    if (!ok)
        ZQAnalysisCommand::note(notes, entry, QStringLiteral("item value \"%1\" is not hexadecimal; read as 00").arg(value));
    const QString position = item.attribute(QStringLiteral("position"));
    result.position = ZQAnalysisCommand::decimal(position, &ok);
    if (!ok)
        ZQAnalysisCommand::note(notes, entry, QStringLiteral("item position \"%1\" is not a number; read as 0").arg(position));
    result.valueType = item.attribute(QStringLiteral("valueType"));
    return result;
}

// The enumeration items of one value element: byte -> number; returns the
// position of the last item (all items of a group share one position).
int readNumberItems(const QDomElement& group, QMap<char, int>& values, ZQTableNotes* notes,
                    const QDomElement& entry)
{
    int position = 0;
    bool first = true;
    for (QDomElement item = group.firstChildElement(); !item.isNull(); item = item.nextSiblingElement()) {
        const Item read = readItem(item, notes, entry);
        bool ok = true;
        const int number = ZQAnalysisCommand::decimal(read.valueType, &ok);
        if (!ok)
            ZQAnalysisCommand::note(notes, entry,
                                    QStringLiteral("item valueType \"%1\" is not a number; read as 0").arg(read.valueType));
        if (values.contains(read.byte) && values.value(read.byte) != number)
            ZQAnalysisCommand::note(notes, entry, QStringLiteral("byte %1 is listed twice; the last, %2, counts")
                                                      .arg(quint8(read.byte), 2, 16, QLatin1Char('0')).arg(number));
        if (!first && read.position != position)
            ZQAnalysisCommand::note(notes, entry, QStringLiteral("items of %1 give positions %2 and %3; the last, %3, counts")
                                                      .arg(group.tagName()).arg(position).arg(read.position));
        values.insert(read.byte, number);
        position = read.position;
        first = false;
    }
    return position;
}

} // namespace

ZQAnalysisCommand::ZQAnalysisCommand(DvScreen* screen, QObject* parent)
    : QObject(parent)
    , m_screen(screen)
{
}

char ZQAnalysisCommand::hexByte(const QString& text, bool* ok)
{
    bool read = false;
    const qlonglong value = text.toLongLong(&read, 16);
    if (ok)
        *ok = read;
    return read ? static_cast<char>(value & 0xFF) : 0;
}

int ZQAnalysisCommand::decimal(const QString& text, bool* ok)
{
    bool read = false;
    const int value = text.toInt(&read, 10);
    if (ok)
        *ok = read;
    return read ? value : 0;
}

void ZQAnalysisCommand::note(ZQTableNotes* notes, const QDomElement& entry, const QString& text)
{
    note(notes, qMax(0, entry.lineNumber()), entry.tagName(), text);
}

void ZQAnalysisCommand::note(ZQTableNotes* notes, int line, const QString& eventName, const QString& text)
{
    if (!notes)
        return;
    ZQTableNote n;
    n.line = line;
    n.eventName = eventName;
    n.text = text;
    notes->append(n);
}

void ZQAnalysisCommand::setNotes(ZQTableNotes* notes)
{
    m_notes = notes;
}

QByteArray ZQAnalysisCommand::readKey(const QDomElement& entry, ZQTableNotes* notes)
{
    QByteArray key;
    const QDomNode first = entry.firstChild();
    if (!first.isElement()) {
        note(notes, entry, QStringLiteral("the key element is not the first child node (a comment or text stands "
                                          "before it); the entry is skipped"));
        return key;
    }
    for (QDomElement byte = first.firstChildElement(); !byte.isNull(); byte = byte.nextSiblingElement()) {
        bool ok = true;
        const QString text = byte.attribute(QStringLiteral("byteValue"));
        key.append(hexByte(text, &ok));
        if (!ok)
            note(notes, entry, QStringLiteral("key byteValue \"%1\" is not hexadecimal; read as 00").arg(text));
    }
    if (key.isEmpty())
        note(notes, entry, QStringLiteral("the key has no bytes; the entry is skipped"));
    return key;
}

namespace {

// Stores `command` under `key`; an entry of the same kind and key loaded
// before is replaced, which the notes say at the earlier entry.
template <typename Command>
void store(QMap<QByteArray, Command>& table, const QByteArray& key, const Command& command, const char* kind,
           ZQTableNotes* notes)
{
    auto earlier = table.constFind(key);
    if (earlier != table.constEnd())
        ZQAnalysisCommand::note(notes, earlier->line, earlier->eventName,
                                QStringLiteral("replaced by the %1 entry of line %2 with the same key; this one is never used")
                                    .arg(QLatin1String(kind))
                                    .arg(command.line));
    table.insert(key, command);
}

} // namespace

void ZQAnalysisCommand::ReadXmlElement(QDomElement element)
{
    const QString kind = element.attribute(QStringLiteral("commandParamType"));
    static const QStringList kinds = {"oneEnum", "fixed", "oneValue", "twoValue", "NEnum", "oneString", "oneStringEnum"};
    if (!kinds.contains(kind)) {
        note(m_notes, element, QStringLiteral("commandParamType \"%1\" is no kind; the entry is skipped").arg(kind));
        return;
    }
    const QByteArray key = readKey(element, m_notes);
    // An empty key is never found by the key search: such an entry could only
    // take up room.
    if (key.isEmpty())
        return;
    const QString eventName = element.tagName();
    bool lenOk = true;
    const int len = decimal(element.attribute(QStringLiteral("len")), &lenOk);
    if (!lenOk && kind != QLatin1String("oneString"))
        note(m_notes, element, QStringLiteral("len is missing or not a number; read as 0, so no frame matches"));
    const int line = qMax(0, element.lineNumber());
    const QDomNode valueNode = element.firstChild().nextSibling();
    const QDomElement value = valueNode.toElement();

    if (kind == QLatin1String("oneEnum")) {
        if (value.isNull()) {
            note(m_notes, element, QStringLiteral("no value element after the key; the entry is skipped"));
            return;
        }
        oneEnumCommand command;
        command.len = len;
        command.eventName = eventName;
        command.typeName = value.tagName();
        command.position = readNumberItems(value, command.values, m_notes, element);
        command.line = line;
        store(m_oneEnum, key, command, "oneEnum", m_notes);
    } else if (kind == QLatin1String("fixed")) {
        fixedCommand command;
        command.len = len;
        command.eventName = eventName;
        command.line = line;
        store(m_fixed, key, command, "fixed", m_notes);
    } else if (kind == QLatin1String("oneValue")) {
        oneValueCommand command;
        command.len = len;
        command.eventName = eventName;
        command.typeName = value.tagName();
        command.line = line;
        store(m_oneValue, key, command, "oneValue", m_notes);
    } else if (kind == QLatin1String("twoValue")) {
        // Without its position element the entry would compare the start
        // byte with the length byte: treat it as the malformed entry it is.
        const QDomElement positionItem = value.firstChildElement();
        if (positionItem.isNull()) {
            note(m_notes, element, QStringLiteral("no position item in the value element; the entry is skipped"));
            return;
        }
        twoValueCommand command;
        command.len = len;
        command.eventName = eventName;
        bool ok = true;
        const QString position = positionItem.attribute(QStringLiteral("position"));
        command.position = decimal(position, &ok);
        if (!ok)
            note(m_notes, element, QStringLiteral("item position \"%1\" is not a number; read as 0").arg(position));
        command.line = line;
        store(m_twoValue, key, command, "twoValue", m_notes);
    } else if (kind == QLatin1String("NEnum")) {
        NEnumCommand command;
        command.len = len;
        command.eventName = eventName;
        command.line = line;
        bool anyGroup = false;
        for (QDomNode node = element.firstChild().nextSibling(); !node.isNull(); node = node.nextSibling()) {
            const QDomElement group = node.toElement();
            if (group.isNull())
                continue; // comments between groups
            QMap<char, int> values;
            const int position = readNumberItems(group, values, m_notes, element);
            if (command.positionTypes.contains(position))
                note(m_notes, element, QStringLiteral("groups %1 and %2 both sit at position %3; %2 counts")
                                           .arg(command.positionTypes.value(position), group.tagName())
                                           .arg(position));
            command.typeValues.insert(group.tagName(), values);
            command.positionTypes.insert(position, group.tagName());
            anyGroup = true;
        }
        if (!anyGroup) {
            note(m_notes, element, QStringLiteral("no parameter group after the key; the entry is skipped"));
            return;
        }
        store(m_NEnum, key, command, "NEnum", m_notes);
    } else if (kind == QLatin1String("oneString")) {
        oneStringCommand command;
        command.len = len;
        command.eventName = eventName;
        command.line = line;
        store(m_oneString, key, command, "oneString", m_notes);
    } else if (kind == QLatin1String("oneStringEnum")) {
        if (value.isNull()) {
            note(m_notes, element, QStringLiteral("no value element after the key; the entry is skipped"));
            return;
        }
        oneStringEnumCommand command;
        command.len = len;
        command.eventName = eventName;
        command.line = line;
        bool first = true;
        for (QDomElement item = value.firstChildElement(); !item.isNull(); item = item.nextSiblingElement()) {
            const Item read = readItem(item, m_notes, element);
            if (command.values.contains(read.byte) && command.values.value(read.byte) != read.valueType)
                note(m_notes, element, QStringLiteral("byte %1 is listed twice; the last, %2, counts")
                                           .arg(quint8(read.byte), 2, 16, QLatin1Char('0')).arg(read.valueType));
            if (!first && read.position != command.position)
                note(m_notes, element, QStringLiteral("items of %1 give positions %2 and %3; the last, %3, counts")
                                           .arg(value.tagName()).arg(command.position).arg(read.position));
            command.values.insert(read.byte, read.valueType);
            command.position = read.position;
            first = false;
        }
        store(m_oneStringEnum, key, command, "oneStringEnum", m_notes);
    }
}

QList<ZQTableEntry> ZQAnalysisCommand::entries() const
{
    // The order of analyse(): the first kind that holds a key decides.
    QList<ZQTableEntry> list;
    auto add = [&list](const char* kind, const QByteArray& key, const QString& event, int len,
                       const QList<int>& positions, int line) {
        ZQTableEntry e;
        e.kind = QLatin1String(kind);
        e.key = key;
        e.eventName = event;
        e.len = len;
        e.positions = positions;
        e.line = line;
        list.append(e);
    };
    for (auto it = m_fixed.constBegin(); it != m_fixed.constEnd(); ++it)
        add("fixed", it.key(), it->eventName, it->len, {}, it->line);
    for (auto it = m_oneEnum.constBegin(); it != m_oneEnum.constEnd(); ++it)
        add("oneEnum", it.key(), it->eventName, it->len, {it->position}, it->line);
    for (auto it = m_oneValue.constBegin(); it != m_oneValue.constEnd(); ++it)
        add("oneValue", it.key(), it->eventName, it->len, {8 + it.key().size()}, it->line);
    for (auto it = m_NEnum.constBegin(); it != m_NEnum.constEnd(); ++it)
        add("NEnum", it.key(), it->eventName, it->len, it->positionTypes.keys(), it->line);
    for (auto it = m_oneStringEnum.constBegin(); it != m_oneStringEnum.constEnd(); ++it)
        add("oneStringEnum", it.key(), it->eventName, it->len, {it->position}, it->line);
    for (auto it = m_twoValue.constBegin(); it != m_twoValue.constEnd(); ++it)
        add("twoValue", it.key(), it->eventName, it->len, {it->position, it->position + 1}, it->line);
    for (auto it = m_oneString.constBegin(); it != m_oneString.constEnd(); ++it)
        add("oneString", it.key(), it->eventName, it->len, {}, it->line);
    return list;
}

bool ZQAnalysisCommand::findSpacialCmd(QByteArray key) const
{
    return m_fixed.contains(key) || m_oneEnum.contains(key) || m_oneValue.contains(key)
        || m_oneString.contains(key) || m_oneStringEnum.contains(key) || m_twoValue.contains(key);
}

QJsonObject ZQAnalysisCommand::analysis(QByteArray key, QByteArray frame) const
{
    const QJsonObject result = analyse(key, frame);
    qCDebug(lcTables).noquote() << "analysis" << key.toHex(' ').toUpper() << "|" << frame.toHex(' ').toUpper()
                                 << "|" << QJsonDocument(result).toJson(QJsonDocument::Compact);
    return result;
}

QJsonObject ZQAnalysisCommand::analyse(const QByteArray& key, const QByteArray& frame) const
{
    const int n = frame.size();
    const int k = key.size();
    const int firstValue = kEnvelope + k; // first byte after the key

    auto fixed = m_fixed.constFind(key);
    if (fixed != m_fixed.constEnd()) {
        if (n != fixed->len)
            return QJsonObject();
        return message(fixed->eventName, QJsonArray{typedValue(fixed->eventName, 1)});
    }

    auto oneEnum = m_oneEnum.constFind(key);
    if (oneEnum != m_oneEnum.constEnd()) {
        if (n != oneEnum->len || !readable(oneEnum->position, n))
            return QJsonObject();
        const int value = oneEnum->values.value(frame.at(oneEnum->position), 0);
        return message(oneEnum->eventName, QJsonArray{typedValue(oneEnum->typeName, value)});
    }

    auto oneValue = m_oneValue.constFind(key);
    if (oneValue != m_oneValue.constEnd()) {
        if (n != oneValue->len || !readable(firstValue, n))
            return QJsonObject();
        const char byte = frame.at(firstValue);
        const int value = m_screen ? m_screen->toAppValue(oneValue->eventName, byte)
                                   : static_cast<signed char>(byte);
        return message(oneValue->eventName, QJsonArray{typedValue(oneValue->typeName, value)});
    }

    auto nEnum = m_NEnum.constFind(key);
    if (nEnum != m_NEnum.constEnd()) {
        if (n != nEnum->len)
            return QJsonObject();
        QJsonArray param;
        for (int p = firstValue; p <= n - 2; ++p) {
            const QString type = nEnum->positionTypes.value(p);
            const int value = nEnum->typeValues.value(type).value(frame.at(p), 0);
            param.append(bareValue(value));
        }
        return message(nEnum->eventName, param);
    }

    auto oneStringEnum = m_oneStringEnum.constFind(key);
    if (oneStringEnum != m_oneStringEnum.constEnd()) {
        if (n != oneStringEnum->len || !readable(oneStringEnum->position, n))
            return QJsonObject();
        const QString value = oneStringEnum->values.value(frame.at(oneStringEnum->position));
        return message(oneStringEnum->eventName, QJsonArray{typedValue(QString(), value)});
    }

    auto twoValue = m_twoValue.constFind(key);
    if (twoValue != m_twoValue.constEnd()) {
        const int p = twoValue->position;
        if (n != twoValue->len || p < 0 || p > n - 3) // both bytes before the end byte
            return QJsonObject();
        const int value = frame.at(p) == frame.at(p + 1) ? 1 : 0;
        return message(twoValue->eventName, QJsonArray{typedValue(QString(), value)});
    }

    auto oneString = m_oneString.constFind(key);
    if (oneString != m_oneString.constEnd()) {
        // Matched at any length: the text runs from the key to the end byte.
        QByteArray text;
        if (firstValue <= n - 2)
            text = frame.mid(firstValue, n - 1 - firstValue);
        const int zero = text.indexOf('\0');
        if (zero >= 0)
            text.truncate(zero);
        return message(oneString->eventName, QJsonArray{bareValue(QString::fromUtf8(text))});
    }

    return QJsonObject();
}
