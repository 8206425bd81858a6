// serialtest: bench tool that sends the test pattern to the mainboard's
// serial port and texts on the bus, and counts what goes and comes.

#include "widget.h"

#include <QApplication>
#include <QCommandLineParser>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("serialtest"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELA_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Serial and bus test tool"));
    parser.addHelpOption();
    parser.addVersionOption();
    QCommandLineOption portOption(QStringList{QStringLiteral("p"), QStringLiteral("port")},
                                  QStringLiteral("Serial port to open (ttyS1 or a device path); "
                                                 "default: the first port listed."),
                                  QStringLiteral("name"));
    parser.addOption(portOption);
    parser.process(app);

    Widget window(parser.value(portOption));
    window.show();
    return app.exec();
}
