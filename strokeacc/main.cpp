#include "widget.h"
#include "zqinstanceguard.h"
#include "zqsalogger.h"

#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// The program's folder before any application object exists.
QString programDir()
{
    return QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).absolutePath();
}

} // namespace

int main(int argc, char *argv[])
{
    const QString id = QStringLiteral("VelaStrokeAccelerate");
    const QString dir = programDir();
    if (QFile::exists(QDir(dir).filePath(QStringLiteral("showlog.txt"))))
        ZQSALogger::install(QDir(dir).filePath(QStringLiteral("log.txt")));
    qDebug().noquote() << "[velastrokeaccelerate]" << "----app started----\r\n";
    if (!ZQInstanceGuard::acquire(id)) {
        qDebug().noquote() << "[velastrokeaccelerate]" << "app already running, exit.";
        return 0;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(id);
    const bool debugWindow = argc > 1 && QString::fromLocal8Bit(argv[1]) == QLatin1String("-show");
    Widget window(debugWindow);
    window.show();
    return app.exec();
}
