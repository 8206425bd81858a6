#include "ccommunicatorctrl.h"
#include "logging.h"
#include "messagedialog.h"
#include "toolbox.h"
#include "velacentertestdialog.h"
#include "zqscenariosingleapp.h"
#include "zqtermsignalwatcher.h"
#include "zqtmsgdispatch.h"

#include <QDebug>
#include <QStringList>

int main(int argc, char **argv)
{
    // The toolbox and dialog images live in a static library, whose resource
    // registration the linker would otherwise leave out.
    Q_INIT_RESOURCE(desktopicons);

    ZQScenarioSingleApp app(QStringLiteral("VelaCenter"), argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("VelaCenter"));

    const int needLog = getLogFlag();
    qDebug() << "needLog" << needLog;
    if (needLog == 1) {
        // A second copy must not wipe the log files the running one writes.
        if (!app.isRunning())
            Logging::clearLogs(QStringLiteral("VelaCenter"));
        qInstallMessageHandler(logOutput);
    }

    const QString commandLine = QCoreApplication::arguments().mid(1).join(QLatin1Char(' '));
    if (app.isRunning()) {
        app.sendMessage(commandLine, 5000);
        return 0;
    }

    // A desktop session or service manager ends the centre with SIGTERM; the
    // event loop then ends and everything below is torn down in order.
    ZQTermSignalWatcher termWatcher;
    QObject::connect(&termWatcher, &ZQTermSignalWatcher::sigTerminate, &app,
                     &QCoreApplication::quit);

    CCommunicatorCtrl mainWindow;
    mainWindow.hide();
    new MessageDialog(&mainWindow);
    new toolBox(&mainWindow);
    VelaCenterTestDialog probe;
    probe.show();
    ZQTMsgDispatch dispatch;
    dispatch.init();

    const int result = app.exec();
    qDebug() << "event loop ended" << result;
    return result;
}
