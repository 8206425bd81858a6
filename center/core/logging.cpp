#include "logging.h"

#include "zqprivatedir.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFile>
#include <QHash>
#include <QLoggingCategory>
#include <QMutex>
#include <QSettings>
#include <QStandardPaths>
#include <QTextStream>

#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

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

// The temporary-files location up to and including its last "/". Qt gives
// no location when $TMPDIR names a folder that does not exist; "/tmp" stands
// in then (rather than a folder "/tmpTavolix" at the root).
QString tempHead()
{
    QString temp = QStandardPaths::writableLocation(QStandardPaths::TempLocation);
    if (!temp.startsWith(QLatin1Char('/')))
        temp = QStringLiteral("/tmp");
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

// A folder of this user alone for the logs of appName, when the usual one
// cannot be trusted: "Tavolix-<uid>" beside "Tavolix", else in the runtime
// folder, else a new folder of a name nobody can guess.
QString privateLogDir(const QString &appName)
{
    const QString head = QStringLiteral("/tmp") + tempHead(); // ends with "/"
    const QString top = head + QStringLiteral("Tavolix-%1").arg(::geteuid());
    const QString below = QLatin1Char('/') + appName + QStringLiteral("/Log");
    QString why;
    if (ZQPrivateDir::ensure(QStringLiteral("/tmp"), head.left(head.size() - 1), 022, &why)
        && ZQPrivateDir::ensure(head, top, 077, &why) && ZQPrivateDir::ensure(top, top + below, 077, &why))
        return top + below;
    const QString runtime = ZQPrivateDir::runtimeDir();
    if (!runtime.isEmpty()
        && ZQPrivateDir::ensure(runtime, runtime + QStringLiteral("/Tavolix") + below, 077, &why))
        return runtime + QStringLiteral("/Tavolix") + below;
    QByteArray name = QFile::encodeName(QStringLiteral("/tmp/Tavolix-%1-XXXXXX").arg(::geteuid()));
    if (!::mkdtemp(name.data()))
        return QString();
    const QString fresh = QFile::decodeName(name);
    return ZQPrivateDir::ensure(fresh, fresh + below, 077, &why) ? fresh + below : QString();
}

// The folder the records of appName go to: the usual one when no part of it
// is a symbolic link or another user's, else a private one (said once on
// standard error). Made when missing. Called under the log mutex.
QString resolvedLogDir(const QString &appName)
{
    static QHash<QString, QString> resolved; // usual folder -> the one used
    static QHash<QString, bool> told;
    const QString usual = Logging::logDir(appName);
    const QString known = resolved.value(usual);
    if (!known.isEmpty() && QFileInfo(known).isDir())
        return known;
    QString why;
    QString dir = usual;
    if (!ZQPrivateDir::ensure(QStringLiteral("/tmp"), usual, 022, &why)) {
        // Another account prepared the way: clearing or writing there could
        // remove or overwrite files anywhere this user may write.
        dir = privateLogDir(appName);
        if (!told.value(usual)) {
            told.insert(usual, true);
            std::fprintf(stderr, "%s: log folder %s not used (%s); logs go to %s\n",
                         qPrintable(appName.toLower()), qPrintable(usual), qPrintable(why),
                         dir.isEmpty() ? "nowhere" : qPrintable(dir));
        }
    }
    resolved.insert(usual, dir);
    return dir;
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
    const QString word = levelWord(type);
    if (word.isEmpty() || (level != word && level != QLatin1String("all")))
        return;

    const QString dir = resolvedLogDir(appName);
    if (dir.isEmpty())
        return;
    const QString record = formatRecord(type, context, message);
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
    LogMutexHolder holder;
    const QString dir = resolvedLogDir(appName);
    if (dir.isEmpty())
        return;
    // Its parents are this user's alone, so the folder can be made again in
    // its place.
    QDir(dir).removeRecursively();
    ::mkdir(QFile::encodeName(dir).constData(), 0700);
}

QString Logging::writeDir(const QString &appName)
{
    LogMutexHolder holder;
    return resolvedLogDir(appName);
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
