#include "logging.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFile>
#include <QLoggingCategory>
#include <QMutex>
#include <QSettings>
#include <QStandardPaths>
#include <QTextStream>

namespace {

QMutex *logMutex()
{
    // Created on first use and never destroyed: messages may still come from
    // other threads while static objects are being torn down.
    static QMutex *mutex = new QMutex;
    return mutex;
}

// Set while this thread holds the log mutex: a diagnostic raised meanwhile
// (by QSettings or QFile) would come back to the logger on the same thread
// and wait for itself, so it is dropped.
thread_local bool t_underLogMutex = false;

struct LogMutexHolder
{
    QMutexLocker locker{logMutex()};
    LogMutexHolder() { t_underLogMutex = true; }
    ~LogMutexHolder() { t_underLogMutex = false; }
};

// The temporary-files location up to and including its last "/".
QString tempHead()
{
    const QString temp = QStandardPaths::writableLocation(QStandardPaths::TempLocation);
    return temp.left(temp.lastIndexOf(QLatin1Char('/')) + 1);
}

QString configPathBesideProgram()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/version.ini");
}

// "Log/Level" of a settings file, read again only when the file changed and at
// most once a second, so the level can still be changed while running without
// parsing the file for every line. Called under the log mutex.
QString currentLevel(const QString &configPath)
{
    static QString path;
    static QString level;
    static QDateTime stamp;
    static QElapsedTimer sinceCheck;
    if (path == configPath && sinceCheck.isValid() && sinceCheck.elapsed() < 1000)
        return level;
    sinceCheck.start();
    const QDateTime modified = QFileInfo(configPath).lastModified();
    if (path == configPath && modified == stamp)
        return level;
    path = configPath;
    stamp = modified;
    QSettings settings(configPath, QSettings::IniFormat);
    settings.setIniCodec("UTF-8");
    level = settings.value(QStringLiteral("Log/Level"), QStringLiteral("error")).toString();
    return level;
}

} // namespace

QString Logging::logDir(const QString &appName)
{
    return QStringLiteral("/tmp") + tempHead() + QStringLiteral("Tavolix/") + appName
           + QStringLiteral("/Log");
}

QString Logging::levelWord(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg: return QStringLiteral("debug");
    case QtWarningMsg: return QStringLiteral("warn");
    case QtCriticalMsg: return QStringLiteral("critical");
    case QtFatalMsg: return QStringLiteral("error");
    case QtInfoMsg: return QStringLiteral("info");
    }
    return QString();
}

QString Logging::linePrefix(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg: return QStringLiteral("DEBUG:");
    case QtWarningMsg: return QStringLiteral("WARN:");
    case QtCriticalMsg: return QStringLiteral("CRITICAL:");
    case QtFatalMsg: return QStringLiteral("ERROR:");
    case QtInfoMsg: return QStringLiteral("INFO:");
    }
    return QString();
}

QString Logging::formatRecord(QtMsgType type, const QMessageLogContext &context,
                              const QString &message)
{
    QString record = QStringLiteral("%1 %2 %3")
                         .arg(QTime::currentTime().toString(QStringLiteral("hh:mm:ss zzz")),
                              linePrefix(type), message);
    if (type == QtFatalMsg) {
        // Release builds carry no source position; the line then stays empty-named.
        record += QStringLiteral("\n")
                  + QStringLiteral("\t%1 %2")
                        .arg(QString::fromUtf8(context.file ? context.file : ""))
                        .arg(context.line);
    }
    return record + QStringLiteral("\r\n");
}

void Logging::output(const QString &appName, const QString &configPath, QtMsgType type,
                     const QMessageLogContext &context, const QString &message)
{
    if (t_underLogMutex)
        return;
    LogMutexHolder holder;

    const QString level = currentLevel(configPath);
    const QString dir = logDir(appName);
    const QString word = levelWord(type);
    if (word.isEmpty() || (level != word && level != QLatin1String("all")))
        return;

    const QString record = formatRecord(type, context, message);
    QDir().mkpath(dir);
    const QString path = QStringLiteral("%1/%2").arg(dir, word + QStringLiteral(".txt"));
    // A centre runs for weeks: past the cap the file becomes the one previous
    // file ("debug.txt.1"), and the level starts a fresh one.
    if (QFileInfo(path).size() >= kMaxFileBytes) {
        QFile::remove(path + QStringLiteral(".1"));
        QFile::rename(path, path + QStringLiteral(".1"));
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    QTextStream stream(&file);
    stream.setCodec("UTF-8");
    stream << record;
    stream.flush();
    file.close();
}

QString Logging::categoryRules(const QString &level)
{
    if (level == QLatin1String("debug") || level == QLatin1String("all"))
        return QStringLiteral("vela.*.debug=true");
    return QString();
}

void Logging::followLevel(const QString &configPath)
{
    QString level;
    {
        LogMutexHolder holder;
        level = currentLevel(configPath);
    }
    static QString rules; // none at start
    const QString wanted = categoryRules(level);
    if (wanted == rules)
        return;
    rules = wanted;
    // Outside the log mutex: the rule parser warns about a malformed rule.
    QLoggingCategory::setFilterRules(rules);
}

void Logging::clearLogs(const QString &appName)
{
    QDir dir(logDir(appName));
    if (dir.exists())
        dir.removeRecursively();
}

int getLogFlag()
{
    QSettings settings(configPathBesideProgram(), QSettings::IniFormat);
    settings.setIniCodec("UTF-8");
    return settings.value(QStringLiteral("Log/NeedLog"), 0).toInt();
}

void logOutput(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    Logging::output(QStringLiteral("VelaCenter"), configPathBesideProgram(), type, context,
                    message);
}

void followLogLevel()
{
    Logging::followLevel(configPathBesideProgram());
}
