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

// The enumeration items of one value element: byte -> number; returns the
// position of the last item (all items of a group share one position).
int readNumberItems(const QDomElement& group, QMap<char, int>& values)
{
    int position = 0;
    for (QDomElement item = group.firstChildElement(); !item.isNull(); item = item.nextSiblingElement()) {
        values.insert(ZQAnalysisCommand::hexByte(item.attribute(QStringLiteral("value"))),
                      ZQAnalysisCommand::decimal(item.attribute(QStringLiteral("valueType"))));
        position = ZQAnalysisCommand::decimal(item.attribute(QStringLiteral("position")));
    }
    return position;
}

} // namespace

ZQAnalysisCommand::ZQAnalysisCommand(DvScreen* screen, QObject* parent)
    : QObject(parent)
    , m_screen(screen)
{
}

char ZQAnalysisCommand::hexByte(const QString& text)
{
    bool ok = false;
    const qlonglong value = text.toLongLong(&ok, 16);
    return ok ? static_cast<char>(value & 0xFF) : 0;
}

int ZQAnalysisCommand::decimal(const QString& text)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    return ok ? value : 0;
}

QByteArray ZQAnalysisCommand::readKey(const QDomElement& entry)
{
    QByteArray key;
    const QDomNode first = entry.firstChild();
    if (!first.isElement())
        return key;
    for (QDomElement byte = first.firstChildElement(); !byte.isNull(); byte = byte.nextSiblingElement())
        key.append(hexByte(byte.attribute(QStringLiteral("byteValue"))));
    return key;
}

void ZQAnalysisCommand::ReadXmlElement(QDomElement element)
{
    const QString kind = element.attribute(QStringLiteral("commandParamType"));
    const QByteArray key = readKey(element);
    // An empty key is never found by the key search: such an entry could only
    // take up room.
    if (key.isEmpty())
        return;
    const QString eventName = element.tagName();
    const int len = decimal(element.attribute(QStringLiteral("len")));
    const QDomNode valueNode = element.firstChild().nextSibling();
    const QDomElement value = valueNode.toElement();

    if (kind == QLatin1String("oneEnum")) {
        if (value.isNull())
            return;
        oneEnumCommand command;
        command.len = len;
        command.eventName = eventName;
        command.typeName = value.tagName();
        command.position = readNumberItems(value, command.values);
        m_oneEnum.insert(key, command);
    } else if (kind == QLatin1String("fixed")) {
        fixedCommand command;
        command.len = len;
        command.eventName = eventName;
        m_fixed.insert(key, command);
    } else if (kind == QLatin1String("oneValue")) {
        oneValueCommand command;
        command.len = len;
        command.eventName = eventName;
        command.typeName = value.tagName();
        m_oneValue.insert(key, command);
    } else if (kind == QLatin1String("twoValue")) {
        // Without its position element the entry would compare the start
        // byte with the length byte: treat it as the malformed entry it is.
        const QDomElement positionItem = value.firstChildElement();
        if (positionItem.isNull())
            return;
        twoValueCommand command;
        command.len = len;
        command.eventName = eventName;
        command.position = decimal(positionItem.attribute(QStringLiteral("position")));
        m_twoValue.insert(key, command);
    } else if (kind == QLatin1String("NEnum")) {
        NEnumCommand command;
        command.len = len;
        command.eventName = eventName;
        bool anyGroup = false;
        for (QDomNode node = element.firstChild().nextSibling(); !node.isNull(); node = node.nextSibling()) {
            const QDomElement group = node.toElement();
            if (group.isNull())
                continue; // comments between groups
            QMap<char, int> values;
            const int position = readNumberItems(group, values);
            command.typeValues.insert(group.tagName(), values);
            command.positionTypes.insert(position, group.tagName());
            anyGroup = true;
        }
        if (!anyGroup)
            return;
        m_NEnum.insert(key, command);
    } else if (kind == QLatin1String("oneString")) {
        oneStringCommand command;
        command.len = len;
        command.eventName = eventName;
        m_oneString.insert(key, command);
    } else if (kind == QLatin1String("oneStringEnum")) {
        if (value.isNull())
            return;
        oneStringEnumCommand command;
        command.len = len;
        command.eventName = eventName;
        for (QDomElement item = value.firstChildElement(); !item.isNull(); item = item.nextSiblingElement()) {
            command.values.insert(hexByte(item.attribute(QStringLiteral("value"))),
                                  item.attribute(QStringLiteral("valueType")));
            command.position = decimal(item.attribute(QStringLiteral("position")));
        }
        m_oneStringEnum.insert(key, command);
    }
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
