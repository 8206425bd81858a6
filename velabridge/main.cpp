// velabridge: carries chosen events of this panel's bus to the school's MQTT
// broker and chosen commands back (docs/fleet.md). Started at log-in; does
// nothing unless the [Fleet] group of version.ini names a broker.

#include "fleetbridge.h"
#include "fleetconfig.h"
#include "fleetlogging.h"
#include "zqtermsignalwatcher.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <mosquitto.h>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("velabridge"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELA_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Carries chosen bus events of this panel to an MQTT broker and chosen commands back.\n"
                       "Reads the group [Fleet] of version.ini beside the program; without a Broker there\n"
                       "it does nothing. See docs/fleet.md."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this help."));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Show the version."));
    const QCommandLineOption config(QStringLiteral("config"),
                                    QStringLiteral("Settings file instead of version.ini beside the program."),
                                    QStringLiteral("FILE"));
    parser.addOptions({help, version, config});
    if (!parser.parse(QCoreApplication::arguments())) {
        std::fprintf(stderr, "velabridge: %s (see velabridge --help)\n", qPrintable(parser.errorText()));
        return 2;
    }
    if (parser.isSet(help)) {
        std::printf("%s", qPrintable(parser.helpText()));
        return 0;
    }
    if (parser.isSet(version)) {
        std::printf("velabridge %s\n", VELA_VERSION);
        return 0;
    }

    const QString path = parser.isSet(config) ? parser.value(config)
                                              : QCoreApplication::applicationDirPath() + QStringLiteral("/version.ini");
    FleetConfig settings;
    QString error;
    QStringList warnings;
    const bool usable = FleetConfig::load(path, &settings, &error, &warnings);
    for (const QString &w : warnings)
        qCWarning(lcFleet).noquote() << w;
    if (!usable) {
        qCCritical(lcFleet).noquote() << "not started:" << error << "(in" << path + QLatin1Char(')');
        return 1;
    }
    if (!settings.configured) {
        qCDebug(lcFleet).noquote() << "no Broker under [Fleet] in" << path << "- nothing to do";
        return 0;
    }

    mosquitto_lib_init();
    int rc = 0;
    {
        ZQTermSignalWatcher stop;
        FleetBridge bridge(settings);
        QObject::connect(&stop, &ZQTermSignalWatcher::sigTerminate, &bridge, [&bridge]() { bridge.finish(); });
        QObject::connect(&bridge, &FleetBridge::sigFinished, &app, &QCoreApplication::quit, Qt::QueuedConnection);
        bridge.start();
        rc = app.exec();
    }
    mosquitto_lib_cleanup();
    return rc;
}
