#include "zqsalogger.h"

#include <QDateTime>
#include <QFile>
#include <QMutex>

namespace {

QMutex g_logMutex;
QString g_logPath;
qint64 g_logMaxBytes = ZQSALogger::kDefaultMaxBytes;

const char *levelWord(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg: return "Debug:";
    case QtWarningMsg: return "Warning:";
    case QtCriticalMsg: return "Critical:";
    case QtFatalMsg: return "Fatal:";
    case QtInfoMsg: return "Info:";
    }
    return "";
}

void handler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    ZQSALogger::append(g_logPath, g_logMaxBytes, type, message);
}

} // namespace

void ZQSALogger::install(const QString &path, qint64 maxBytes)
{
    {
        QMutexLocker locker(&g_logMutex);
        g_logPath = path;
        g_logMaxBytes = maxBytes;
    }
    qInstallMessageHandler(handler);
}

QString ZQSALogger::formatLine(QtMsgType type, const QString &message)
{
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss zzz"))
           + QLatin1Char(' ') + QLatin1String(levelWord(type)) + QLatin1Char(' ') + message
           + QLatin1String(" \r\n");
}

void ZQSALogger::append(const QString &path, qint64 maxBytes, QtMsgType type, const QString &message)
{
    const QByteArray line = formatLine(type, message).toUtf8();
    QMutexLocker locker(&g_logMutex);
    if (QFile(path).size() + line.size() > maxBytes && QFile::exists(path)) {
        const QString previous = path + QLatin1String(".1");
        QFile::remove(previous);
        QFile::rename(path, previous);
    }
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Append))
        file.write(line);
}
