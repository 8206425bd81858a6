#ifndef TABLEFIXTURES_H
#define TABLEFIXTURES_H

// Helpers shared by the command-table tests: hex frames, tables from XML text,
// and the envelope rules every frame for the board must meet.

#include "zqtbusiness.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>

namespace tables {

// "7F 08 99" -> bytes
inline QByteArray hex(const char* text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

inline QString spaced(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

// A board frame around a command: the header PC and board use, the end byte.
inline QByteArray frame(const char* command)
{
    const QByteArray body = hex(command);
    QByteArray f = hex("7F 00 99 A2 B3 C4 02 FF") + body + hex("CF");
    f[1] = char(f.size() - 3);
    return f;
}

inline QJsonObject json(const char* text)
{
    return QJsonDocument::fromJson(QByteArray(text)).object();
}

inline QByteArray compact(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// Loads a table given as the entries only (wrapped into a root element).
inline bool load(ZQTbusiness& module, const QString& entries)
{
    return module.loadConfigData(("<table>" + entries + "</table>").toUtf8(), QStringLiteral("test table"));
}

// Runs the key search and analysis as the framework does; empty when unclaimed.
inline QJsonObject analyse(ZQTbusiness& module, const QByteArray& f, QByteArray* keyOut = nullptr)
{
    QByteArray key;
    if (!module.isCanDealCommand(f, key))
        return QJsonObject();
    if (keyOut)
        *keyOut = key;
    return module.DealCommand(f, key);
}

// Why a frame breaks the envelope rules; empty when it meets them.
inline QString envelopeFault(const QByteArray& f)
{
    if (f.size() < 9)
        return QStringLiteral("shorter than 9 bytes");
    if (uchar(f.at(0)) != 0x7F)
        return QStringLiteral("no start byte");
    if (uchar(f.at(1)) != f.size() - 3)
        return QStringLiteral("length byte %1 for %2 bytes").arg(uchar(f.at(1))).arg(f.size());
    if (f.mid(2, 6) != hex("99 A2 B3 C4 02 FF"))
        return QStringLiteral("header bytes %1").arg(spaced(f.mid(2, 6)));
    if (uchar(f.at(f.size() - 1)) != 0xCF)
        return QStringLiteral("no end byte");
    return QString();
}

} // namespace tables

#endif // TABLEFIXTURES_H
