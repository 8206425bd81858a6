// zqbus: the message bus from the command line. Runs a standalone hub, sends
// one text, or listens and prints what arrives. Exit codes are listed in
// usage() below and in docs/zqbus.md.

#include "zqipc.h"
#include "zqtermsignalwatcher.h"
#include "zqwire.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QEventLoop>
#include <QHostAddress>
#include <QHostInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QDateTime>
#include <QJsonObject>
#include <QTime>
#include <QFile>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QTextStream>
#include <QTimer>
#include <QUuid>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace {

enum ExitCode {
    kOk = 0,          // written / hub stopped normally / listen got its texts
    kFailed = 1,      // write failed, text too long, hub port taken
    kUsage = 2,       // bad command line
    kUnreachable = 3, // no hub at the address
    kTimeout = 4,     // listen: --count texts did not arrive within --timeout
    kRefused = 5,     // the hub refused the --as identifier (or the monitor)
};

const char kDefaultHost[] = "127.0.0.1";
const char kHelloReply[] = "succeful";

const char kUsageText[] =
    "Usage: zqbus <command> [options]\n"
    "\n"
    "Commands:\n"
    "  hub     [--port N] [--allow-users LIST] [--max-clients N]\n"
    "                                             run a standalone bus hub\n"
    "  send    [--as ID] [--to ID|--all] [TEXT]   send TEXT (or standard input);\n"
    "                                             no target: publish to subscribers\n"
    "  listen  [--as ID] [--subscribe SOURCE]... [--count N] [--timeout S] [--time] [--rejoin]\n"
    "                                             print received texts (JSON indented);\n"
    "                                             --time: with their arrival time;\n"
    "                                             --rejoin: wait for the hub, rejoin when it restarts\n"
    "  monitor [--from ID]... [--to ID]... [--event NAME]... [--count N] [--timeout S]\n"
    "                                             print every text the hub routes, with time,\n"
    "                                             kind, sender and receivers (the hub's own user only)\n"
    "\n"
    "Common options: --host IP|NAME (default 127.0.0.1), --port N (default 23334 or $VELA_BUS_PORT),\n"
    "                --verbose (bus trace lines on standard error), --help, --version\n"
    "\n"
    "Exit codes: 0 done, 1 write failed or hub port taken, 2 bad usage,\n"
    "            3 hub not reachable, 4 timeout before --count texts arrived,\n"
    "            5 the hub refused the --as identifier or the monitor\n";

int fail(int code, const QString &message)
{
    std::fprintf(stderr, "zqbus: %s\n", qPrintable(message));
    return code;
}

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

// The options every command understands.
void addCommonOptions(QCommandLineParser &p)
{
    p.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    p.addOption({"host", "Hub address.", "IP", kDefaultHost});
    p.addOption({"port", "Hub port.", "N", QString::number(ZQIPC::busPort())});
    p.addOption({"verbose", "Show the bus trace lines."});
    p.addOption({{"h", "help"}, "Show this help."});
}

// Parses the options of a command; returns -1 to go on, else an exit code.
int parseCommand(QCommandLineParser &p, const QStringList &args, int &port)
{
    if (!p.parse(args))
        return fail(kUsage, p.errorText() + " (see zqbus --help)");
    if (p.isSet("help")) {
        std::fputs(kUsageText, stdout);
        return kOk;
    }
    bool ok = false;
    port = p.value("port").toInt(&ok);
    if (!ok || port < 0 || port > 65535)
        return fail(kUsage, QString("bad port \"%1\"").arg(p.value("port")));
    if (p.isSet("verbose"))
        QLoggingCategory::setFilterRules("vela.ipc.debug=true");
    return -1;
}

// --count N and --timeout S of listen and monitor (-1: not given). Returns
// 0, or the exit code after printing the error line.
int parseCountAndTimeout(const QCommandLineParser &p, int &count, double &seconds)
{
    bool ok = true;
    count = p.isSet("count") ? p.value("count").toInt(&ok) : -1;
    if (!ok || (p.isSet("count") && count <= 0))
        return fail(kUsage, QString("bad --count \"%1\"").arg(p.value("count")));
    seconds = p.isSet("timeout") ? p.value("timeout").toDouble(&ok) : -1;
    if (!ok || (p.isSet("timeout") && seconds <= 0))
        return fail(kUsage, QString("bad --timeout \"%1\"").arg(p.value("timeout")));
    return 0;
}

// The IPv4 address of --host: a dotted address as it is, a name such as
// localhost looked up. Empty when the name has no IPv4 address.
QByteArray hostAddress(const QString &host)
{
    QHostAddress address(host);
    if (address.protocol() == QAbstractSocket::IPv4Protocol)
        return host.toLatin1();
    for (const QHostAddress &a : QHostInfo::fromName(host).addresses()) {
        if (a.protocol() == QAbstractSocket::IPv4Protocol)
            return a.toString().toLatin1();
    }
    return QByteArray();
}

// Connects as --as to --host:--port and waits for the hub's greeting, which
// it sends only when it took the identifier. Returns kOk or the exit code,
// after printing the error line.
int joinBus(ZQIPC &bus, const QCommandLineParser &p, int port)
{
    const QByteArray host = hostAddress(p.value("host"));
    if (host.isEmpty())
        return fail(kUsage, QString("no IPv4 address for host \"%1\"").arg(p.value("host")));
    if (!bus.createTcpClient(p.value("as"), host.constData(), port))
        return fail(kUnreachable, QString("no bus hub at %1:%2").arg(p.value("host")).arg(port));
    QEventLoop wait;
    bool greeted = false;
    QObject::connect(&bus, &ZQIPC::sigRecvInfo, &wait, [&](const QString &text) {
        if (text == QLatin1String(kHelloReply)) {
            greeted = true;
            wait.quit();
        }
    });
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &wait, [&] {
        if (!bus.isConnected())
            wait.quit();
    });
    poll.start(50);
    QTimer::singleShot(3000, &wait, &QEventLoop::quit);
    wait.exec();
    if (greeted)
        return kOk;
    return fail(kRefused, QString("the hub did not take the identifier \"%1\" (empty, \"ID_ALL\", \"ID_NULL\""
                                  " and texts holding \"Z&&Q\" are reserved; choose another --as), or it does not"
                                  " admit this user (uid %2): it admits its own user and those of [Bus] AllowUsers")
                              .arg(p.value("as"))
                              .arg(::geteuid()));
}

int runHub(const QStringList &args)
{
    QCommandLineParser p;
    addCommonOptions(p);
    p.addOption({"allow-users", "Also admit these users (uids, names, @group, @gid; comma-separated).", "LIST"});
    p.addOption({"max-clients", "Serve at most N connections at once.", "N"});
    int port = 0;
    const int early = parseCommand(p, args, port);
    if (early >= 0)
        return early;
    if (!p.positionalArguments().isEmpty())
        return fail(kUsage, "hub takes no arguments");
    bool ok = true;
    const int maxClients = p.isSet("max-clients") ? p.value("max-clients").toInt(&ok) : 0;
    if (!ok || maxClients < 0 || (p.isSet("max-clients") && maxClients == 0))
        return fail(kUsage, QString("bad --max-clients \"%1\"").arg(p.value("max-clients")));

    // The library ends the process when the port cannot be bound; say first
    // which port is taken and what to do.
    {
        QTcpServer probe;
        if (port != 0 && !probe.listen(QHostAddress::Any, quint16(port)))
            return fail(kFailed, QString("call to bind: port %1 is taken (a velacenter or another zqbus hub runs?);"
                                         " stop it, or choose another with --port N or VELA_BUS_PORT")
                                     .arg(port));
    }
    ZQIPC bus;
    bus.setHubAllowedUsers(p.value("allow-users").split(','));
    bus.setHubMaxConnections(maxClients);
    if (!bus.createTcpServer(port))
        return fail(kFailed, QString("cannot listen on port %1").arg(port));
    std::fprintf(stderr, "zqbus: hub listening on 127.0.0.1:%d\n", bus.serverPort());

    // Ctrl-C and TERM end the hub cleanly through the event loop.
    ZQTermSignalWatcher stopWatcher;
    QObject::connect(&stopWatcher, &ZQTermSignalWatcher::sigTerminate, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    bus.closeServer();
    std::fprintf(stderr, "zqbus: hub stopped\n");
    return kOk;
}

QString readAllStdin()
{
    QFile in;
    if (!in.open(stdin, QIODevice::ReadOnly))
        return QString();
    QString text = QString::fromUtf8(in.readAll());
    if (text.endsWith('\n'))
        text.chop(1);
    return text;
}

int runSend(const QStringList &args)
{
    QCommandLineParser p;
    addCommonOptions(p);
    p.addOption({"as", "Own application identifier.", "ID", "ID_APP_ZQBUS"});
    p.addOption({"to", "Send to this application only.", "ID"});
    p.addOption({"all", "Send to every connected application."});
    p.addPositionalArgument("text", "The text; standard input when missing.");
    int port = 0;
    const int early = parseCommand(p, args, port);
    if (early >= 0)
        return early;
    if (p.isSet("to") && p.isSet("all"))
        return fail(kUsage, "--to and --all exclude each other");
    const QStringList texts = p.positionalArguments();
    if (texts.size() > 1)
        return fail(kUsage, "give one TEXT (quote it) or none to read standard input");
    if (p.value("as").isEmpty())
        return fail(kUsage, "--as needs a non-empty identifier");

    const QString text = texts.isEmpty() ? readAllStdin() : texts.first();
    ZQIPC bus;
    if (const int joined = joinBus(bus, p, port))
        return joined;

    const QString target = p.isSet("all") ? QString(ZQWire::kTargetAll) : p.value("to");
    const int frameBytes = ZQWire::frameText(p.value("as"), target, text).toUtf8().size();
    const int r = target.isEmpty() ? bus.sentInfo(text) : bus.sentInfo(target, text);
    bus.closeClient();
    if (r != 0) {
        if (frameBytes > ZQWire::kMaxPayload)
            return fail(kFailed, QString("not sent: %1 bytes with addressing, a bus frame carries"
                                         " at most %2").arg(frameBytes).arg(ZQWire::kMaxPayload));
        return fail(kFailed, "not sent: the hub closed the connection");
    }
    return kOk;
}

// Prints a text: JSON indented, anything else as it is; with --time behind
// the time it arrived.
void printText(const QString &text, bool withTime)
{
    if (withTime)
        out() << QTime::currentTime().toString("[HH:mm:ss.zzz] ");
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error == QJsonParseError::NoError && !doc.isNull())
        out() << QString::fromUtf8(doc.toJson(QJsonDocument::Indented));
    else
        out() << text << '\n';
    out().flush();
}

int runListen(const QStringList &args)
{
    QCommandLineParser p;
    addCommonOptions(p);
    p.addOption({"as", "Own application identifier.", "ID", "ID_APP_ZQBUS_LISTEN"});
    p.addOption({"subscribe", "Also receive what SOURCE publishes (repeatable).", "SOURCE"});
    p.addOption({"count", "Exit after N texts.", "N"});
    p.addOption({"timeout", "Exit after S seconds.", "S"});
    p.addOption({"time", "Show the time each text arrived."});
    p.addOption({"rejoin", "Wait for the hub and join it again whenever it restarts."});
    int port = 0;
    const int early = parseCommand(p, args, port);
    if (early >= 0)
        return early;
    if (!p.positionalArguments().isEmpty())
        return fail(kUsage, "listen takes no TEXT");
    int count = -1;
    double seconds = -1;
    if (const int bad = parseCountAndTimeout(p, count, seconds))
        return bad;
    const QString self = p.value("as");
    if (self.isEmpty())
        return fail(kUsage, "--as needs a non-empty identifier");

    const bool rejoin = p.isSet("rejoin");
    ZQIPC bus;
    bus.setReconnecting(rejoin);
    // A text to ourselves behind the subscriptions tells when the hub has
    // recorded them: from then on the listener is ready.
    const QString readyToken = "zqbus-ready-" + QUuid::createUuid().toString(QUuid::WithoutBraces);
    bool helloSeen = false;
    // Each join, the first one included, sends the subscriptions again.
    QObject::connect(&bus, &ZQIPC::sigHubJoined, [&] {
        helloSeen = false;
        bus.sentInfo(self, readyToken);
    });
    QObject::connect(&bus, &ZQIPC::sigHubLost, [&] {
        if (rejoin)
            std::fprintf(stderr, "zqbus: the bus hub went away, waiting to rejoin\n");
    });
    if (rejoin) {
        for (const QString &source : p.values("subscribe"))
            bus.registerMsgAccept(source);   // sent on every join
        const QByteArray host = p.value("host").toLatin1();
        if (!bus.createTcpClient(self, host.constData(), port))
            std::fprintf(stderr, "zqbus: no bus hub at %s:%d yet, waiting for it\n",
                         qPrintable(p.value("host")), port);
    } else {
        if (const int joined = joinBus(bus, p, port))
            return joined;
        for (const QString &source : p.values("subscribe"))
            bus.registerMsgAccept(source);
        bus.sentInfo(self, readyToken);
    }

    int received = 0;
    int code = kOk;
    QObject::connect(&bus, &ZQIPC::sigRecvInfo, [&](const QString &text) {
        if (!helloSeen && text == QLatin1String(kHelloReply)) {
            helloSeen = true;   // the hub's greeting on a rejoin, not a message
            return;
        }
        if (text == readyToken) {
            std::fprintf(stderr, "zqbus: listening as %s\n", qPrintable(self));
            return;
        }
        printText(text, p.isSet("time"));
        if (count > 0 && ++received >= count)
            QCoreApplication::quit();
    });
    QTimer stopTimer;
    if (seconds > 0) {
        stopTimer.setSingleShot(true);
        QObject::connect(&stopTimer, &QTimer::timeout, [&] {
            if (count > 0)
                code = kTimeout;
            QCoreApplication::quit();
        });
        stopTimer.start(int(seconds * 1000));
    }
    QTimer hubWatch;   // without --rejoin the hub going away ends the listener
    QObject::connect(&hubWatch, &QTimer::timeout, [&] {
        if (!bus.isConnected()) {
            code = fail(kUnreachable, "the bus hub closed the connection");
            QCoreApplication::quit();
        }
    });
    if (!rejoin)
        hubWatch.start(200);
    QCoreApplication::exec();
    bus.closeClient();
    if (code == kTimeout)
        return fail(kTimeout, QString("timeout: %1 of %2 texts in %3 s").arg(received).arg(count).arg(seconds));
    return code;
}

// One routed text as the monitor prints it: a header line with the time,
// kind, sender and receivers, then the text (JSON indented).
QString monitorHeader(const ZQWire::MonitorRecord &r)
{
    const QString time = QDateTime::fromMSecsSinceEpoch(r.timeUs / 1000).toString("HH:mm:ss.zzz");
    if (r.kind == QLatin1String("lost"))
        return QString("[%1] lost %2 texts: the monitor read too slowly").arg(time, QString::fromUtf8(r.text));
    QString to = r.to.join(", ");
    if (r.kind == QLatin1String("broadcast"))
        to = QString("ID_ALL (%1 clients)").arg(r.delivered);
    else if (r.kind == QLatin1String("publish") && r.to.isEmpty())
        to = "(no subscriber)";
    else if (r.kind == QLatin1String("directed") && r.delivered == 0)
        to += " (not connected)";
    return QString("[%1] %2 %3 -> %4").arg(time, r.kind, r.from, to);
}

QString eventOf(const QByteArray &text)
{
    return QJsonDocument::fromJson(text).object().value("eventid").toString();
}

int runMonitor(const QStringList &args)
{
    QCommandLineParser p;
    addCommonOptions(p);
    p.addOption({"from", "Only texts from ID (repeatable).", "ID"});
    p.addOption({"to", "Only texts to ID (repeatable).", "ID"});
    p.addOption({"event", "Only JSON texts with this \"eventid\" (repeatable).", "NAME"});
    p.addOption({"count", "Exit after N texts shown.", "N"});
    p.addOption({"timeout", "Exit after S seconds.", "S"});
    int port = 0;
    const int early = parseCommand(p, args, port);
    if (early >= 0)
        return early;
    if (!p.positionalArguments().isEmpty())
        return fail(kUsage, "monitor takes no TEXT");
    int count = -1;
    double seconds = -1;
    if (const int bad = parseCountAndTimeout(p, count, seconds))
        return bad;
    const QByteArray host = hostAddress(p.value("host"));
    if (host.isEmpty())
        return fail(kUsage, QString("no IPv4 address for host \"%1\"").arg(p.value("host")));
    const QStringList from = p.values("from"), to = p.values("to"), events = p.values("event");

    QTcpSocket socket;
    socket.connectToHost(QString::fromLatin1(host), quint16(port));
    if (!socket.waitForConnected(3000))
        return fail(kUnreachable, QString("no bus hub at %1:%2").arg(p.value("host")).arg(port));
    QByteArray hello;
    ZQWire::appendFrame(hello, QByteArray(ZQWire::kKindMonitor) + ZQWire::kMarker + "zqbus");
    socket.write(hello);

    int code = kOk, shown = 0;
    bool greeted = false;
    QByteArray carry;
    QObject::connect(&socket, &QTcpSocket::readyRead, [&] {
        const QByteArray bytes = socket.readAll();
        QList<QByteArray> messages;
        ZQWire::takeReplies(carry, bytes.constData(), bytes.size(), messages);
        for (const QByteArray &m : messages) {
            if (!greeted) {
                greeted = m == ZQWire::kHelloReply;
                if (greeted)
                    std::fprintf(stderr, "zqbus: monitoring the bus at %s:%d\n", qPrintable(p.value("host")), port);
                continue;
            }
            ZQWire::MonitorRecord r;
            if (!ZQWire::parseMonitorRecord(m, r))
                continue;
            const bool lost = r.kind == QLatin1String("lost");
            if (!lost && ((!from.isEmpty() && !from.contains(r.from))
                          || (!to.isEmpty() && std::none_of(to.begin(), to.end(), [&](const QString &id) {
                                  return r.to.contains(id);
                              }))
                          || (!events.isEmpty() && !events.contains(eventOf(r.text)))))
                continue;
            out() << monitorHeader(r) << '\n';
            if (!lost && (r.kind != QLatin1String("subscribe") && r.kind != QLatin1String("unsubscribe")))
                printText(QString::fromUtf8(r.text), false);
            out().flush();
            if (!lost && count > 0 && ++shown >= count)
                QCoreApplication::quit();
        }
    });
    QObject::connect(&socket, &QTcpSocket::disconnected, [&] {
        code = greeted ? fail(kUnreachable, "the bus hub closed the connection")
                       : fail(kRefused, QString("the hub refused the monitor: only the hub's own user may watch"
                                                " the bus (this is uid %1)").arg(::geteuid()));
        QCoreApplication::quit();
    });
    QTimer stopTimer;
    if (seconds > 0) {
        stopTimer.setSingleShot(true);
        QObject::connect(&stopTimer, &QTimer::timeout, [&] {
            if (count > 0)
                code = fail(kTimeout, QString("timeout: %1 of %2 texts in %3 s").arg(shown).arg(count).arg(seconds));
            QCoreApplication::quit();
        });
        stopTimer.start(int(seconds * 1000));
    }
    ZQTermSignalWatcher stopWatcher;
    QObject::connect(&stopWatcher, &ZQTermSignalWatcher::sigTerminate, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    QObject::disconnect(&socket, nullptr, nullptr, nullptr);
    return code;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("zqbus");
    QStringList args = QCoreApplication::arguments();
    if (args.size() < 2)
        return fail(kUsage, "no command (see zqbus --help)");
    const QString command = args.at(1);
    // The bus trace lines only with --verbose. The hub keeps the library's
    // warnings (stalled clients and the like); send and listen report their
    // failures in one line of their own.
    QLoggingCategory::setFilterRules(command == "hub" ? "vela.ipc.debug=false"
                                                      : "vela.ipc.debug=false\nvela.ipc.warning=false");
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kUsageText, stdout);
        return kOk;
    }
    if (command == "--version") {
        std::printf("zqbus %s\n", VELA_VERSION);
        return kOk;
    }
    args.removeAt(1);   // the parser sees "zqbus [options]"
    if (command == "hub")
        return runHub(args);
    if (command == "send")
        return runSend(args);
    if (command == "listen")
        return runListen(args);
    if (command == "monitor")
        return runMonitor(args);
    return fail(kUsage, QString("unknown command \"%1\" (see zqbus --help)").arg(command));
}
