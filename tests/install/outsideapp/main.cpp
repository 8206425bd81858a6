// Joins the bus as ID_APP_OUTSIDE, greets the listener named on the command
// line once the hub has let it in, prints the first text that comes back and
// exits with 0 (1: greeting not written, 3: no hub, 4: no answer in 20 s).
#include <zqipc.h>

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString listener = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("ID_APP_OUTSIDE_LISTEN");
    ZQIPC bus;
    QObject::connect(&bus, &ZQIPC::sigRecvInfo, &app, [&](const QString &text) {
        if (text == QLatin1String("succeful")) {
            const QString hello = QStringLiteral("{\"eventid\":\"OUTSIDE_HELLO\",\"from\":\"ID_APP_OUTSIDE\"}");
            if (bus.sentInfo(listener, hello) != 0)
                app.exit(1);
            return;
        }
        std::printf("%s\n", text.toUtf8().constData());
        app.exit(0);
    });
    if (!bus.createTcpClient(QStringLiteral("ID_APP_OUTSIDE"), "127.0.0.1", ZQIPC::busPort()))
        return 3;
    QTimer::singleShot(20000, &app, [&app]() { app.exit(4); });
    return app.exec();
}
