#include "strokeacclogging.h"
#include "widget.h"
#include "zqinstanceguard.h"
#include "zqsalogger.h"

#include <QApplication>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>

#include <cstdio>
#include <cstring>

namespace {

// The program's folder before any application object exists.
QString programDir()
{
    return QFileInfo(QFile::symLinkTarget(QStringLiteral("/proc/self/exe"))).absolutePath();
}

} // namespace

int main(int argc, char *argv[])
{
    // Answered before the logger and the one-copy guard: neither starts the agent.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("VelaStrokeAccelerate %s\n", VELA_VERSION);
        return 0;
    }
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::printf("Usage: VelaStrokeAccelerate [-show]\n"
                    "stroke-acceleration agent: paints the corner marker when the board asks\n"
                    "  -show      also show the debug window\n"
                    "  --version  print the version\n");
        return 0;
    }
    const QString id = QStringLiteral("VelaStrokeAccelerate");
    const QString dir = programDir();
    if (QFile::exists(QDir(dir).filePath(QStringLiteral("showlog.txt")))) {
        ZQSALogger::install(QDir(dir).filePath(QStringLiteral("log.txt")));
        // Asking for the log file asks for the traces too; QT_LOGGING_RULES
        // still has the last word.
        QLoggingCategory::setFilterRules(QStringLiteral("vela.strokeacc.debug=true"));
    }
    qCDebug(lcStrokeAcc).noquote() << "[velastrokeaccelerate]" << "----app started----\r\n";
    if (!ZQInstanceGuard::acquire(id)) {
        qCDebug(lcStrokeAcc).noquote() << "[velastrokeaccelerate]" << "app already running, exit.";
        return 0;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(id);
    const bool debugWindow = argc > 1 && QString::fromLocal8Bit(argv[1]) == QLatin1String("-show");
    Widget window(debugWindow);
    window.show();
    return app.exec();
}
