#include "cuntility.h"

#include <QCoreApplication>
#include <QSettings>
#include <QStringList>

namespace {
const char kAppsRoot[] = "/opt/apps/";
const int kRegistryFields = 7;

// Walks the group in the order the settings reader lists its keys (sorted)
// and hands every value with enough fields to visit(); stops when it returns false.
template <typename Visit>
void walkGroup(const QString &file, const QString &group, Visit visit)
{
    QSettings settings(file, QSettings::IniFormat);
    settings.setIniCodec("UTF-8");
    settings.beginGroup(group);
    const QStringList keys = settings.childKeys();
    for (const QString &key : keys) {
        const QVariant v = settings.value(key);
        // An unquoted comma makes the INI reader return a list; the registry
        // value is still one text, so put it back together.
        const QString text = v.type() == QVariant::StringList ? v.toStringList().join(QLatin1Char(','))
                                                                : v.toString();
        const QStringList parts = text.split(QLatin1Char('|'));
        if (parts.size() < kRegistryFields)
            continue;
        if (!visit(parts))
            break;
    }
    settings.endGroup();
}
} // namespace

QJsonArray CUntility::getIniValuesByGroup(QString file, QString group)
{
    QJsonArray entries;
    walkGroup(file, group, [&entries](const QStringList &p) {
        QJsonObject o;
        o.insert(QStringLiteral("index"), p.at(0).toInt());
        o.insert(QStringLiteral("eventID"), p.at(1));
        o.insert(QStringLiteral("appID"), p.at(2).toInt());
        o.insert(QStringLiteral("enName"), p.at(3));
        o.insert(QStringLiteral("appPath"), p.at(4));
        o.insert(QStringLiteral("idString"), p.at(5));
        o.insert(QStringLiteral("name"), p.at(6));
        entries.append(o);
        return true;
    });
    return entries;
}

QJsonObject CUntility::getIniValuesByGroup(QString file, QString group, QString enName)
{
    QJsonObject found;
    walkGroup(file, group, [&found, &enName](const QStringList &p) {
        if (p.at(3) != enName)
            return true;
        found.insert(QStringLiteral("enName"), p.at(3));
        found.insert(QStringLiteral("name"), p.at(6));
        found.insert(QStringLiteral("appPath"), p.at(4));
        return false;
    });
    return found;
}

QString CUntility::registryFile()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/apps.ini");
}

QString CUntility::installPathOf(const QString &enName)
{
    const QJsonObject entry = getIniValuesByGroup(registryFile(), QStringLiteral("UOSAppInfo"), enName);
    return QLatin1String(kAppsRoot) + entry.value(QStringLiteral("appPath")).toString();
}

bool CUntility::readApplicationPath(QString &path, const QString &, const QString &)
{
    path = QLatin1String(kAppsRoot);
    return true;
}

bool CUntility::readLessonRaterPro(QString &path, const QString &, const QString &)
{
    path = installPathOf(QStringLiteral("LessonRaterPro"));
    return true;
}

bool CUntility::readVelarClass(QString &path, const QString &, const QString &)
{
    path = installPathOf(QStringLiteral("VelarClass"));
    return true;
}
