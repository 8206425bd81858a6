#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>

// Path questions about the suite's applications, answered from the
// application registry "apps.ini" (group "UOSAppInfo"). Stateless.
class CUntility
{
public:
    // Every registry entry of the group with at least seven fields, in key order.
    static QJsonArray getIniValuesByGroup(QString file, QString group);
    // The first entry whose enName equals enName, reduced to enName, name and
    // appPath; an empty object when there is none.
    static QJsonObject getIniValuesByGroup(QString file, QString group, QString enName);

    static bool readApplicationPath(QString &path, const QString &appName, const QString &processName);
    static bool readLessonRaterPro(QString &path, const QString &appName, const QString &processName);
    static bool readVelarClass(QString &path, const QString &appName, const QString &processName);

    // The registry beside the running program.
    static QString registryFile();

private:
    static QString installPathOf(const QString &enName);
};
