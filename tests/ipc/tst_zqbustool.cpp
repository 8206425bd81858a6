// The zqbus command-line tool as a user runs it: real child processes against
// a hub on a free port.

#include "busharness.h"
#include "zqipc.h"

#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <memory>

namespace {
QString zqbus() { return QString(VELA_BIN_DIR) + "/zqbus"; }
}

class TstZQBusTool : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void exitCodes_data();
    void exitCodes();
    void deliveries_data();
    void deliveries();
    void listenStartedAgainGetsOneCopy();
    void monitorShowsRoutedTexts_data();
    void monitorShowsRoutedTexts();
    void listenEndsWhenHubGoes();
    void hubRunsAndStopsOnSignal();

private:
    // Starts `zqbus listen` and waits until it reports that it is ready.
    bool startListener(QProcess &p, const QStringList &args);
    QStringList withPort(QStringList args) const
    {
        return args << "--port" << QString::number(m_port);
    }

    std::unique_ptr<ZQIPC> m_hub;
    int m_port = 0;
};

void TstZQBusTool::initTestCase()
{
    QLoggingCategory::setFilterRules("vela.ipc.debug=false");
    QVERIFY(QFile::exists(zqbus()));
}

void TstZQBusTool::init()
{
    m_hub.reset(new ZQIPC);
    QVERIFY(m_hub->createTcpServer(0));
    m_port = m_hub->serverPort();
}

void TstZQBusTool::cleanup()
{
    m_hub.reset();
}

bool TstZQBusTool::startListener(QProcess &p, const QStringList &args)
{
    p.start(zqbus(), withPort(QStringList{"listen"} + args));
    QElapsedTimer clock;
    clock.start();
    QByteArray err;
    while (clock.elapsed() < 5000) {
        p.setReadChannel(QProcess::StandardError);
        p.waitForReadyRead(200);
        err += p.readAllStandardError();
        if (err.contains("listening as"))
            return true;
        if (p.state() == QProcess::NotRunning)
            break;
    }
    qWarning("listener not ready: %s", err.constData());
    return false;
}

void TstZQBusTool::exitCodes_data()
{
    QTest::addColumn<QStringList>("args");      // "@PORT" stands for the hub's port
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");       // on stderr (or stdout for help)

    QTest::newRow("help") << QStringList{"--help"} << QByteArray() << 0 << "Exit codes:";
    QTest::newRow("help of a command") << QStringList{"send", "--help"} << QByteArray() << 0 << "Usage:";
    QTest::newRow("no command") << QStringList{} << QByteArray() << 2 << "no command";
    QTest::newRow("unknown command") << QStringList{"shout"} << QByteArray() << 2 << "unknown command";
    QTest::newRow("unknown option") << QStringList{"send", "--bogus", "x"} << QByteArray() << 2 << "bogus";
    QTest::newRow("to and all") << QStringList{"send", "--to", "A", "--all", "x", "--port", "@PORT"} << QByteArray() << 2 << "exclude";
    QTest::newRow("bad port") << QStringList{"send", "--port", "70000", "x"} << QByteArray() << 2 << "bad port";
    QTest::newRow("written") << QStringList{"send", "--port", "@PORT", "hello"} << QByteArray() << 0 << "";
    QTest::newRow("written from stdin") << QStringList{"send", "--port", "@PORT"} << QByteArray("{\"a\":1}\n") << 0 << "";
    QTest::newRow("too long") << QStringList{"send", "--port", "@PORT"} << QByteArray(21000, 'x') << 1 << "not sent";
    QTest::newRow("hub not reachable") << QStringList{"send", "--port", "@DEAD", "x"} << QByteArray() << 3 << "no bus hub";
    QTest::newRow("listen hub not reachable") << QStringList{"listen", "--port", "@DEAD"} << QByteArray() << 3 << "no bus hub";
    QTest::newRow("listen timeout before count") << QStringList{"listen", "--port", "@PORT", "--count", "1", "--timeout", "0.5"}
                                                 << QByteArray() << 4 << "timeout";
    QTest::newRow("listen for a while") << QStringList{"listen", "--port", "@PORT", "--timeout", "0.3"} << QByteArray() << 0 << "";
    QTest::newRow("bad count") << QStringList{"listen", "--count", "none"} << QByteArray() << 2 << "bad --count";
    QTest::newRow("host by name") << QStringList{"send", "--host", "localhost", "--port", "@PORT", "x"} << QByteArray() << 0 << "";
    QTest::newRow("host without address") << QStringList{"send", "--host", "no-such-host.invalid", "--port", "@PORT", "x"}
                                          << QByteArray() << 2 << "no IPv4 address";
    QTest::newRow("identifier refused") << QStringList{"send", "--as", "ID_ALL", "--port", "@PORT", "x"} << QByteArray() << 5
                                        << "did not take the identifier";
    QTest::newRow("listen as a refused identifier") << QStringList{"listen", "--as", "aZ&&Qb", "--port", "@PORT"}
                                                    << QByteArray() << 5 << "did not take";
    QTest::newRow("hub on a taken port") << QStringList{"hub", "--port", "@PORT"} << QByteArray() << 1 << "port @PORT is taken";
    QTest::newRow("version") << QStringList{"--version"} << QByteArray() << 0 << "zqbus " VELA_VERSION;
}

void TstZQBusTool::exitCodes()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, input);
    QFETCH(int, code);
    QFETCH(QString, message);
    message.replace("@PORT", QString::number(m_port));
    int dead;
    {
        bustest::FakeHub gone;
        dead = gone.port();
    }
    args.replaceInStrings("@PORT", QString::number(m_port));
    args.replaceInStrings("@DEAD", QString::number(dead));
    QProcess p;
    p.start(zqbus(), args);
    QVERIFY(p.waitForStarted());
    p.write(input);
    p.closeWriteChannel();
    QVERIFY(p.waitForFinished(10000));
    const QString err = QString::fromUtf8(p.readAllStandardError());
    const QString out = QString::fromUtf8(p.readAllStandardOutput());
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QVERIFY2(p.exitCode() == code, qPrintable(QString("exit %1, stderr: %2").arg(p.exitCode()).arg(err)));
    QVERIFY2((err + out).contains(message), qPrintable(err + out));
    if (code != 0) {
        // One clear line; the listener's ready notice aside.
        QStringList lines = err.trimmed().split('\n');
        lines = lines.filter(QRegularExpression("^(?!zqbus: listening as)"));
        QVERIFY2(lines.size() == 1, qPrintable(err));
    }
}

void TstZQBusTool::deliveries_data()
{
    // The listener runs as ID_TOOL_LISTEN; "@SRC" is a source it subscribes to.
    QTest::addColumn<QStringList>("sendArgs");
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("printed");

    QTest::newRow("directed JSON is indented")
        << QStringList{"--to", "ID_TOOL_LISTEN", "{\"eventid\":\"SET_PEN\",\"param\":[{\"type\":1}]}"} << QByteArray()
        << "{\n    \"eventid\": \"SET_PEN\",\n    \"param\": [\n        {\n            \"type\": 1\n        }\n    ]\n}\n";
    QTest::newRow("plain text as it is") << QStringList{"--to", "ID_TOOL_LISTEN", "not json Z&&Q at all"} << QByteArray()
                                         << "not json Z&&Q at all\n";
    QTest::newRow("broadcast") << QStringList{"--all", "to everyone"} << QByteArray() << "to everyone\n";
    QTest::newRow("publish to subscribers") << QStringList{"--as", "@SRC", "published"} << QByteArray() << "published\n";
    QTest::newRow("text from stdin") << QStringList{"--to", "ID_TOOL_LISTEN"} << QString::fromUtf8("中文\n").toUtf8()
                                     << QString::fromUtf8("中文\n");
}

void TstZQBusTool::deliveries()
{
    QFETCH(QStringList, sendArgs);
    QFETCH(QByteArray, input);
    QFETCH(QString, printed);
    const QString source = bustest::uniqueId("TOOLSRC");
    sendArgs.replaceInStrings("@SRC", source);

    QProcess listener;
    QVERIFY(startListener(listener, {"--as", "ID_TOOL_LISTEN", "--subscribe", source, "--count", "1", "--timeout", "10"}));
    QProcess sender;
    sender.start(zqbus(), withPort(QStringList{"send"} + sendArgs));
    sender.write(input);
    sender.closeWriteChannel();
    QVERIFY(sender.waitForFinished(10000));
    QCOMPARE(sender.exitCode(), 0);
    QVERIFY(listener.waitForFinished(10000));
    QCOMPARE(listener.exitCode(), 0);
    QCOMPARE(QString::fromUtf8(listener.readAllStandardOutput()), printed);
}

void TstZQBusTool::listenStartedAgainGetsOneCopy()
{
    // A listener started a third time under the same identifier, each run
    // subscribing to the same source: one publish is printed once.
    const QString source = bustest::uniqueId("AGAIN");
    const QString self = bustest::uniqueId("LISTEN");
    for (int run = 0; run < 2; ++run) {
        QProcess earlier;
        QVERIFY(startListener(earlier, {"--as", self, "--subscribe", source}));
        earlier.terminate();
        QVERIFY(earlier.waitForFinished(5000));
    }
    QProcess listener;
    QVERIFY(startListener(listener, {"--as", self, "--subscribe", source, "--count", "2", "--timeout", "10"}));
    for (const QStringList &send : {QStringList{"--as", source, "published once"},
                                    QStringList{"--to", self, "end"}}) {
        QProcess sender;
        sender.start(zqbus(), withPort(QStringList{"send"} + send));
        QVERIFY(sender.waitForFinished(10000));
        QCOMPARE(sender.exitCode(), 0);
    }
    QVERIFY(listener.waitForFinished(10000));
    QCOMPARE(QString::fromUtf8(listener.readAllStandardOutput()), QString("published once\nend\n"));
}

void TstZQBusTool::monitorShowsRoutedTexts_data()
{
    // Sent, in this order: a broadcast from A, a JSON text from A to B, a
    // plain text from C to B. Times are shown as [T].
    QTest::addColumn<QStringList>("filters");
    QTest::addColumn<QString>("printed");
    const QString broadcast = "[T] broadcast ID_TOOL_A -> ID_ALL (1 clients)\n{\n    \"eventid\": \"PING\"\n}\n";
    const QString json = "[T] directed ID_TOOL_A -> ID_TOOL_B\n{\n    \"eventid\": \"SET_PEN\",\n    \"param\": 1\n}\n";
    const QString plain = "[T] directed ID_TOOL_C -> ID_TOOL_B\nplain Z&&Q text\n";
    QTest::newRow("everything") << QStringList{"--count", "3"} << broadcast + json + plain;
    QTest::newRow("from") << QStringList{"--from", "ID_TOOL_C", "--count", "1"} << plain;
    QTest::newRow("to and event") << QStringList{"--to", "ID_TOOL_B", "--event", "SET_PEN", "--count", "1"} << json;
    QTest::newRow("either event") << QStringList{"--event", "PING", "--event", "SET_PEN", "--count", "2"}
                                  << broadcast + json;
}

void TstZQBusTool::monitorShowsRoutedTexts()
{
    QFETCH(QStringList, filters);
    QFETCH(QString, printed);
    bustest::RawPeer b;
    QVERIFY(b.join(m_port, "ID_TOOL_B"));
    QProcess monitor;
    monitor.start(zqbus(), withPort(QStringList{"monitor", "--timeout", "20"} + filters));
    QByteArray err;
    QElapsedTimer clock;
    clock.start();
    while (!err.contains("monitoring the bus") && clock.elapsed() < 5000 && monitor.state() != QProcess::NotRunning) {
        monitor.waitForReadyRead(100);
        err += monitor.readAllStandardError();
    }
    QVERIFY2(err.contains("monitoring the bus"), err.constData());
    for (const QStringList &send : {QStringList{"--as", "ID_TOOL_A", "--all", "{\"eventid\":\"PING\"}"},
                                    QStringList{"--as", "ID_TOOL_A", "--to", "ID_TOOL_B", "{\"eventid\":\"SET_PEN\",\"param\":1}"},
                                    QStringList{"--as", "ID_TOOL_C", "--to", "ID_TOOL_B", "plain Z&&Q text"}}) {
        QProcess sender;
        sender.start(zqbus(), withPort(QStringList{"send"} + send));
        QVERIFY(sender.waitForFinished(10000));
        QCOMPARE(sender.exitCode(), 0);
    }
    QVERIFY(monitor.waitForFinished(10000));
    QCOMPARE(monitor.exitCode(), 0);
    QString out = QString::fromUtf8(monitor.readAllStandardOutput());
    out.replace(QRegularExpression("^\\[\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d\\]", QRegularExpression::MultilineOption), "[T]");
    QCOMPARE(out, printed);
    // The monitor is no client: B heard only the texts, the broadcast included.
    QTRY_COMPARE(b.inbox(), (QStringList{"{\"eventid\":\"PING\"}", "{\"eventid\":\"SET_PEN\",\"param\":1}",
                                         "plain Z&&Q text"}));
}

void TstZQBusTool::listenEndsWhenHubGoes()
{
    QProcess listener;
    QVERIFY(startListener(listener, {"--as", bustest::uniqueId("ORPHAN")}));
    m_hub->closeServer();
    QVERIFY(listener.waitForFinished(5000));
    QCOMPARE(listener.exitCode(), 3);
}

void TstZQBusTool::hubRunsAndStopsOnSignal()
{
    QProcess hub;
    hub.start(zqbus(), {"hub", "--port", "0"});
    QVERIFY(hub.waitForStarted());
    QByteArray err;
    QRegularExpressionMatch m;
    QElapsedTimer clock;
    clock.start();
    while (!(m = QRegularExpression("listening on 127\\.0\\.0\\.1:(\\d+)").match(QString::fromUtf8(err))).hasMatch()
           && clock.elapsed() < 5000) {
        hub.setReadChannel(QProcess::StandardError);
        hub.waitForReadyRead(200);
        err += hub.readAllStandardError();
    }
    QVERIFY2(m.hasMatch(), err.constData());
    const int port = m.captured(1).toInt();
    bustest::RawPeer a, b;
    QVERIFY(a.join(port, "ID_TOOL_A"));
    QVERIFY(b.join(port, "ID_TOOL_B"));
    QVERIFY(a.direct("ID_TOOL_B", "via the tool's hub"));
    QByteArray text;
    QVERIFY(b.next(text, 3000));
    QCOMPARE(text, QByteArray("via the tool's hub"));
    hub.terminate();   // SIGTERM while clients are connected
    QVERIFY(hub.waitForFinished(5000));
    QCOMPARE(hub.exitCode(), 0);
    QVERIFY(a.waitClosed(1000));
}

QTEST_GUILESS_MAIN(TstZQBusTool)
#include "tst_zqbustool.moc"
