#include "izqbusiness.h"

#include <QJsonDocument>

IZQBusiness::~IZQBusiness() = default;

QString IZQBusiness::jsonToMessageText(const QJsonObject& message)
{
    QByteArray bytes = QJsonDocument(message).toJson();
    // The bus texts end at a zero byte; the writer escapes zeros, so this only
    // guards against a change of writer.
    const int zero = bytes.indexOf('\0');
    if (zero >= 0)
        bytes.truncate(zero);
    return QString::fromUtf8(bytes);
}

QJsonObject IZQBusiness::messageTextToJson(const QString& message)
{
    // Bus texts travel as UTF-8, so they are read back as UTF-8.
    return QJsonDocument::fromJson(message.toUtf8()).object();
}
