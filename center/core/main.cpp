#include "ccommunicatorctrl.h"
#include "centerlogging.h"
#include "logging.h"
#include "messagedialog.h"
#include "toolbox.h"
#include "velacentertestdialog.h"
#include "zqscenariosingleapp.h"
#include "zqtermsignalwatcher.h"
#include "zqtmsgdispatch.h"

#include <QDebug>
#include <QStringList>
#include <QTimer>

#include <cstdio>
#include <cstring>

namespace {

const char kHelpText[] =
    "Usage: velacenter [ARGUMENTS...]\n"
    "\n"
    "The control centre of the classroom display: bridges the mainboard on the\n"
    "serial port and the suite's applications on the message bus. It runs\n"
    "without a window until it is stopped (SIGTERM or SIGINT).\n"
    "\n"
    "A second start hands its arguments to the running copy and exits.\n"
    "\n"
    "Files beside the program: version.ini (groups Log and COM), apps.ini,\n"
    "DiscCommand.xml, control.xml, SmSc.xml. Environment: VELA_BUS_PORT\n"
    "(bus port, default 23334), QT_LOGGING_RULES (e.g. \"vela.serial.debug=true\").\n"
    "\n"
    "  --capture FILE write every frame on the serial line to FILE, with its\n"
    "                 time and sender (PC or BOARD), one per line; FILE.1 keeps\n"
    "                 the part before once FILE reaches its limit. Replay it with\n"
    "                 boardsim --replay FILE. (version.ini: COM/Capture)\n"
    "  -h, --help     show this help and exit\n"
    "  --version      show the version and exit\n";

// --help and --version are answered here, before the single-instance guard,
// so they never start a centre or reach a running one.
bool answersAlone(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            std::fputs(kHelpText, stdout);
            return true;
        }
        if (!std::strcmp(argv[i], "--version")) {
            std::printf("velacenter %s\n", VELA_VERSION);
            return true;
        }
    }
    return false;
}

// The file named by --capture FILE or --capture=FILE; empty without one.
QString captureOption(const QStringList &arguments)
{
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &a = arguments.at(i);
        if (a == QLatin1String("--capture") && i + 1 < arguments.size())
            return arguments.at(i + 1);
        if (a.startsWith(QLatin1String("--capture=")))
            return a.mid(int(qstrlen("--capture=")));
    }
    return QString();
}

} // namespace

int main(int argc, char **argv)
{
    if (answersAlone(argc, argv))
        return 0;

    // The toolbox and dialog images live in a static library, whose resource
    // registration the linker would otherwise leave out.
    Q_INIT_RESOURCE(desktopicons);

    ZQScenarioSingleApp app(QStringLiteral("VelaCenter"), argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("VelaCenter"));
    // Before the first trace: "Log/Level" debug or all turns them all on.
    followLogLevel();

    const int needLog = getLogFlag();
    // On standard error before the file logger takes over: an operator looks
    // here first to see why no log files appear.
    qCInfo(lcCore) << "needLog" << needLog;
    if (needLog == 1) {
        // A second copy must not wipe the log files the running one writes.
        if (!app.isRunning())
            Logging::clearLogs(QStringLiteral("VelaCenter"));
        qInstallMessageHandler(logOutput);
    }

    const QString commandLine = QCoreApplication::arguments().mid(1).join(QLatin1Char(' '));
    if (app.isRunning()) {
        const bool handed = app.sendMessage(commandLine, 5000);
        std::fprintf(stderr, handed ? "velacenter: already running; arguments handed to it\n"
                                    : "velacenter: already running, but it did not take the arguments\n");
        return 0;
    }

    // A desktop session or service manager ends the centre with SIGTERM; the
    // event loop then ends and everything below is torn down in order.
    ZQTermSignalWatcher termWatcher;
    QObject::connect(&termWatcher, &ZQTermSignalWatcher::sigTerminate, &app,
                     &QCoreApplication::quit);

    // An edit of "Log/Level" turns the traces on or off while the centre runs.
    QTimer levelWatch;
    QObject::connect(&levelWatch, &QTimer::timeout, &followLogLevel);
    levelWatch.start(1000);

    CCommunicatorCtrl mainWindow;
    mainWindow.hide();
    new MessageDialog(&mainWindow);
    new toolBox(&mainWindow);
    VelaCenterTestDialog probe;
    probe.show();
    ZQTMsgDispatch dispatch;
    const QString capture = captureOption(QCoreApplication::arguments());
    if (!capture.isEmpty() && !dispatch.setCaptureFile(capture))
        std::fprintf(stderr, "velacenter: cannot write the serial capture %s\n", qPrintable(capture));
    dispatch.init();

    const int result = app.exec();
    qCDebug(lcCore) << "event loop ended" << result;
    return result;
}
