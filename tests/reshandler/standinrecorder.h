#ifndef STANDINRECORDER_H
#define STANDINRECORDER_H

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaMethod>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVector>

// What the stand-in transfer plug-ins share: each call is written down as
// one line, "<plug-in>:<operation>(<arguments>)", with the arguments in a
// form that shows their type (texts quoted, JSON compact), and the object
// handed to the init call is kept to raise the facade's signals through.
class StandInRecorder
{
public:
    explicit StandInRecorder(const char *plugin) : m_plugin(QLatin1String(plugin)) {}

    template <typename... Args>
    QString record(const char *operation, const Args &...args)
    {
        QStringList texts;
        (void)(texts << ... << text(args));
        const QString line = m_plugin + QLatin1Char(':') + QLatin1String(operation) + QLatin1Char('(')
                             + texts.join(QStringLiteral(", ")) + QLatin1Char(')');
        m_calls << line;
        return line;
    }

    QStringList takeCalls()
    {
        const QStringList calls = m_calls;
        m_calls.clear();
        return calls;
    }

    void setTarget(QObject *target) { m_target = target; }

    // Raises `signal` of the object given to the init call with `args`.
    bool raise(const QString &signal, const QVariantList &args)
    {
        if (!m_target || args.size() > 4)
            return false;
        QGenericArgument a[4];
        for (int i = 0; i < args.size(); ++i)
            a[i] = QGenericArgument(args[i].typeName(), args[i].constData());
        return QMetaObject::invokeMethod(m_target, signal.toLatin1().constData(), Qt::DirectConnection,
                                         a[0], a[1], a[2], a[3]);
    }

private:
    static QString text(const QString &s) { return QLatin1Char('"') + s + QLatin1Char('"'); }
    static QString text(bool b) { return b ? QStringLiteral("true") : QStringLiteral("false"); }
    static QString text(int i) { return QString::number(i); }
    static QString text(const QJsonObject &o) { return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact)); }
    static QString text(const QJsonArray &a) { return QString::fromUtf8(QJsonDocument(a).toJson(QJsonDocument::Compact)); }
    static QString text(const QVector<QVariant> &v) { return QStringLiteral("vector") + text(QJsonArray::fromVariantList(v.toList())); }
    static QString text(QObject *o) { return o ? QLatin1String(o->metaObject()->className()) : QStringLiteral("null"); }

    QString m_plugin;
    QStringList m_calls;
    QObject *m_target = nullptr;
};

#endif
