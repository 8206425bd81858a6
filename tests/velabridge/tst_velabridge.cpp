// velabridge end to end: a real mosquitto (TLS, password file), the real
// velacenter with the simulated mainboard, a bus program, and the fleet's
// side as an MQTT client.

#include "brokerrig.h"
#include "mqttprobe.h"
#include "velacenterrig.h"
#include "zqipc.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

namespace {
const QString kPanel = QStringLiteral("room-101");
const QString kBase = QStringLiteral("vela/room-101/");
const char kAppId[] = "ID_APP_FLEET_TEST";

QJsonObject json(const QByteArray &payload)
{
    return QJsonDocument::fromJson(payload).object();
}

int firstValue(const QJsonObject &o)
{
    return o.value(QStringLiteral("param")).toArray().at(0).toObject().value(QStringLiteral("value")).toInt();
}
} // namespace

class TestVelaBridge : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void eventsFlowOut();
    void commands_data();
    void commands();
    void answerReachesReply();
    void lastWillMarksKilledBridgeOffline();
    void brokerRestartLosesNothingWithinQueue();
    void hubRestart();

private:
    bool startBridge();
    bool waitOutput(const QString &text, int timeoutMs, int from = 0);
    QString bridgeOutput();
    bool waitStatus(const QString &state, int from, int timeoutMs);

    BrokerRig m_broker;
    VelaCenterRig m_rig;
    QTemporaryDir m_dir;
    QProcess m_bridge;
    QByteArray m_bridgeOutput;
    MqttProbe *m_fleet = nullptr;
    ZQIPC *m_app = nullptr;
    QList<QJsonObject> m_appMessages;
};

QString TestVelaBridge::bridgeOutput()
{
    if (m_bridge.openMode() & QIODevice::ReadOnly)
        m_bridgeOutput += m_bridge.readAll();
    return QString::fromUtf8(m_bridgeOutput);
}

bool TestVelaBridge::waitOutput(const QString &text, int timeoutMs, int from)
{
    QElapsedTimer t;
    t.start();
    while (bridgeOutput().indexOf(text, from) < 0) {
        if (t.elapsed() > timeoutMs)
            return false;
        QTest::qWait(20);
    }
    return true;
}

bool TestVelaBridge::startBridge()
{
    m_bridge.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("vela.fleet.debug=true"));
    m_bridge.setProcessEnvironment(env);
    m_bridge.start(QStringLiteral(VELA_BIN_DIR "/velabridge"),
                   {QStringLiteral("--config"), m_dir.filePath(QStringLiteral("version.ini"))});
    return m_bridge.waitForStarted(5000);
}

bool TestVelaBridge::waitStatus(const QString &state, int from, int timeoutMs)
{
    return m_fleet->waitFor([&](const MqttProbe::Message &m) {
        return m.topic == kBase + QStringLiteral("status") && m.payload == state.toUtf8();
    }, timeoutMs, nullptr, from);
}

void TestVelaBridge::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY2(m_broker.prepare({QStringLiteral("panel:panel-secret"), QStringLiteral("dashboard:dash-secret")}),
             qPrintable(m_broker.error()));

    VelaCenterRig::Options options;
    QVERIFY2(m_rig.start(options), qPrintable(m_rig.error()));
    QVERIFY(m_rig.answerScreenInfo());

    // A program of the panel that a command may reach.
    m_app = new ZQIPC;
    QVERIFY(m_app->createTcpClient(QLatin1String(kAppId), "127.0.0.1", ZQIPC::busPort()));
    connect(m_app, &ZQIPC::sigRecvInfo, this, [this](const QString &text) {
        const QJsonObject o = QJsonDocument::fromJson(text.toUtf8()).object();
        if (!o.isEmpty())
            m_appMessages << o;
    });

    // The password file is the bridge's secret: its owner's eyes only.
    QFile pw(m_dir.filePath(QStringLiteral("fleet-password")));
    QVERIFY(pw.open(QIODevice::WriteOnly));
    pw.write("panel\npanel-secret\n");
    pw.close();
    QVERIFY(pw.setPermissions(QFile::ReadOwner | QFile::WriteOwner));
    QFile ini(m_dir.filePath(QStringLiteral("version.ini")));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write(QStringLiteral("[Fleet]\nBroker=mqtts://localhost:%1\nCaFile=%2\nPasswordFile=fleet-password\n"
                             "Panel=%3\nQueueLimit=5\nKeepAlive=5\n"
                             "Commands=SMSC_BRIGHTNESS>ID_APP_VELACENTER, SWITCH_CHANNEL>ID_APP_VELACENTER, SHOW_MESSAGE>%4, "
                             "EVENT_ANY:C30240>ID_APP_VELACENTER\n")
                  .arg(m_broker.port()).arg(m_broker.caFile(), kPanel, QLatin1String(kAppId)).toUtf8());
    ini.close();

    // The broker is not there yet when the bridge starts.
    QVERIFY(startBridge());
    QVERIFY2(waitOutput(QStringLiteral("not reached"), 10000), qPrintable(bridgeOutput()));
    QVERIFY2(m_broker.start(), qPrintable(m_broker.error()));

    m_fleet = new MqttProbe(QStringLiteral("dashboard"), true);
    QVERIFY(m_fleet->connectTo(m_broker.port(), m_broker.caFile(), QStringLiteral("dashboard"),
                               QStringLiteral("dash-secret")));
    QVERIFY(m_fleet->subscribe(kBase + QLatin1Char('#')));
    QVERIFY2(waitStatus(QStringLiteral("online"), 0, 30000), qPrintable(bridgeOutput()));
}

void TestVelaBridge::cleanupTestCase()
{
    bool stopped = true, offline = true;
    if (m_bridge.state() != QProcess::NotRunning) {
        // An orderly stop says "offline" itself.
        const int from = m_fleet ? m_fleet->count() : 0;
        m_bridge.terminate();
        stopped = m_bridge.waitForFinished(10000) && m_bridge.exitCode() == 0;
        if (m_fleet && m_broker.isRunning())
            offline = waitStatus(QStringLiteral("offline"), from, 5000);
    }
    delete m_fleet;
    m_fleet = nullptr;
    delete m_app;
    m_app = nullptr;
    QVERIFY2(stopped, qPrintable(bridgeOutput().right(4000)));
    QVERIFY(offline);
}

void TestVelaBridge::eventsFlowOut()
{
    const int from = m_fleet->count();
    const int busFrom = m_rig.busMessages().size();
    m_rig.boardSend(QStringLiteral("frame C2 02 05")); // SET_VOLUME: on the bus, not on the list
    m_rig.boardSend(QStringLiteral("frame C3 02 40")); // SMSC_BRIGHTNESS 64
    QVERIFY(m_rig.waitBusMessage([](const QJsonObject &o) { return o.value("eventid") == "SET_VOLUME"; }, 10000,
                                 nullptr, busFrom));

    MqttProbe::Message m;
    QVERIFY2(m_fleet->waitFor([](const MqttProbe::Message &x) { return x.topic.endsWith("/event/SMSC_BRIGHTNESS"); },
                              10000, &m, from),
             qPrintable(bridgeOutput()));
    const QJsonObject event = json(m.payload);
    // As on the bus, plus the time the bridge heard it.
    QCOMPARE(event.value("eventid").toString(), QStringLiteral("SMSC_BRIGHTNESS"));
    QCOMPARE(event.value("from").toString(), QStringLiteral("ID_APP_VELACENTER"));
    QCOMPARE(event.value("to").toString(), QStringLiteral("ID_PC_VELASMARTSCREEN"));
    QCOMPARE(firstValue(event), 64);
    const QDateTime when = QDateTime::fromString(event.value("timestamp").toString(), Qt::ISODateWithMs);
    QVERIFY2(when.isValid() && qAbs(when.secsTo(QDateTime::currentDateTimeUtc())) < 60, qPrintable(m.payload));
    QVERIFY(!m.retained);
    for (const MqttProbe::Message &x : m_fleet->messages().mid(from))
        QVERIFY2(!x.topic.contains("SET_VOLUME"), qPrintable(x.topic));

    // The retained information.
    QVERIFY(m_fleet->last(kBase + "info", 5000, &m));
    const QJsonObject info = json(m.payload);
    QCOMPARE(info.value("panel").toString(), kPanel);
    QCOMPARE(info.value("version").toString(), QStringLiteral(VELA_VERSION));
    QCOMPARE(info.value("bus").toString(), QStringLiteral("up"));
    QVERIFY(info.value("uptime").toDouble() > 0);
    // The bridge joined after the board's link came up and asked the centre.
    QVERIFY2(m_fleet->waitFor([](const MqttProbe::Message &x) {
        return x.topic.endsWith("/info") && json(x.payload).value("link") == "up";
    }, 5000, &m, 0), qPrintable(m.payload));
}

void TestVelaBridge::commands_data()
{
    QTest::addColumn<QString>("event");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("copies");
    QTest::addColumn<QString>("result");   // reply expected, empty: none
    QTest::addColumn<QByteArray>("board"); // command bytes that reach the board, empty: nothing
    QTest::addColumn<bool>("app");         // reaches the bus program
    QTest::addColumn<QString>("log");      // a line of the bridge

    const QByteArray raw = QByteArray::fromHex("C30240").toBase64();
    const QByteArray otherRaw = QByteArray::fromHex("C2020F").toBase64();
    QTest::newRow("listed, to the board") << "SMSC_BRIGHTNESS" << QByteArray(R"({"id":"b1","param":[{"value":50}]})")
                                          << 1 << "sent" << QByteArray::fromHex("C30232") << false << "";
    QTest::newRow("listed, to a bus program") << "SHOW_MESSAGE"
                                              << QByteArray(R"({"id":"m1","param":"Fire drill at 10:00"})") << 1
                                              << "sent" << QByteArray() << true << "";
    QTest::newRow("raw bytes as listed") << "EVENT_ANY" << QByteArray(R"({"id":"r1","param":")" + raw + "\"}") << 1
                                         << "sent" << QByteArray::fromHex("C30240") << false << "";
    QTest::newRow("not listed") << "SET_VOLUME" << QByteArray(R"({"id":"v1","param":[{"value":9}]})") << 1
                                << "refused" << QByteArray() << false
                                << "command SET_VOLUME id v1 refused: event not allowed";
    QTest::newRow("raw bytes not listed") << "EVENT_ANY" << QByteArray(R"({"id":"r2","param":")" + otherRaw + "\"}")
                                          << 1 << "refused" << QByteArray() << false
                                          << "command EVENT_ANY id r2 refused: EVENT_ANY bytes not allowed";
    QTest::newRow("target not listed")
        << "SMSC_BRIGHTNESS" << QByteArray(R"({"id":"b2","to":"ID_APP_FLEET_TEST","param":[{"value":1}]})") << 1
        << "refused" << QByteArray() << false << "command SMSC_BRIGHTNESS id b2 refused: target not allowed";
    QTest::newRow("sent twice") << "SMSC_BRIGHTNESS" << QByteArray(R"({"id":"b3","param":[{"value":51}]})") << 2
                                << "sent" << QByteArray::fromHex("C30233") << false
                                << "duplicate command SMSC_BRIGHTNESS id b3 dropped";
    QTest::newRow("malformed") << "SMSC_BRIGHTNESS" << QByteArray(R"({"id":"b4","param":)") << 1 << ""
                               << QByteArray() << false << "malformed command on vela/room-101/cmd/SMSC_BRIGHTNESS";
    QTest::newRow("no id") << "SHOW_MESSAGE" << QByteArray(R"({"param":"x"})") << 1 << "" << QByteArray() << false
                           << "malformed command on vela/room-101/cmd/SHOW_MESSAGE";
}

void TestVelaBridge::commands()
{
    QFETCH(QString, event);
    QFETCH(QByteArray, payload);
    QFETCH(int, copies);
    QFETCH(QString, result);
    QFETCH(QByteArray, board);
    QFETCH(bool, app);
    QFETCH(QString, log);

    const int from = m_fleet->count();
    const int boardFrom = m_rig.boardReceivedCount();
    const int appFrom = m_appMessages.size();
    const int logFrom = bridgeOutput().size();
    const QString id = json(payload).value("id").toString();
    for (int i = 0; i < copies; ++i)
        QVERIFY(m_fleet->publish(kBase + "cmd/" + event, payload));

    const QString replyTopic = kBase + "reply/" + id;
    if (!result.isEmpty()) {
        MqttProbe::Message m;
        QVERIFY2(m_fleet->waitFor([&](const MqttProbe::Message &x) { return x.topic == replyTopic; }, 10000, &m, from),
                 qPrintable(bridgeOutput().mid(logFrom)));
        QCOMPARE(json(m.payload).value("result").toString(), result);
        QCOMPARE(json(m.payload).value("id").toString(), id);
    }
    if (!log.isEmpty())
        QVERIFY2(waitOutput(log, 10000, logFrom), qPrintable(bridgeOutput().mid(logFrom)));

    // Everything sent before the rig's own frame has reached the board by
    // the time that frame does.
    const int flushed = m_rig.flushToBoard();
    QVERIFY(flushed >= 0);
    const QList<QByteArray> frames = m_rig.boardReceived().mid(boardFrom, flushed - boardFrom);
    if (board.isEmpty())
        QVERIFY2(frames.isEmpty(), qPrintable(frames.value(0).toHex(' ')));
    else
        QCOMPARE(frames, QList<QByteArray>{VelaCenterRig::frameOf(board)});

    const QList<QJsonObject> toApp = m_appMessages.mid(appFrom);
    if (app) {
        QCOMPARE(toApp.size(), 1);
        QCOMPARE(toApp.first().value("eventid").toString(), event);
        QCOMPARE(toApp.first().value("from").toString(), QStringLiteral("ID_APP_VELAFLEET"));
        QCOMPARE(toApp.first().value("param"), json(payload).value("param"));
    } else {
        QVERIFY(toApp.isEmpty());
    }

    // One reply per command id, however often it came.
    int replies = 0;
    for (const MqttProbe::Message &m : m_fleet->messages().mid(from))
        replies += m.topic == replyTopic;
    QCOMPARE(replies, result.isEmpty() ? 0 : 1);
}

void TestVelaBridge::answerReachesReply()
{
    // The central-control module answers a request with its id: the
    // board's report of the new channel comes back as the command's reply.
    const int from = m_fleet->count();
    const int boardFrom = m_rig.boardReceivedCount();
    QVERIFY(m_fleet->publish(kBase + "cmd/SWITCH_CHANNEL", R"({"id":"s1","param":[{"value":2}]})"));
    QVERIFY2(m_rig.waitBoardReceived(VelaCenterRig::frameOf(QByteArray::fromHex("C20102")), 10000, boardFrom),
             qPrintable(bridgeOutput()));
    m_rig.boardSend(QStringLiteral("frame C2 01 02"));
    MqttProbe::Message m;
    QVERIFY(m_fleet->waitFor([](const MqttProbe::Message &x) {
        return x.topic.endsWith("/reply/s1") && json(x.payload).value("result") == "answered";
    }, 10000, &m, from));
    const QJsonObject answer = json(m.payload).value("message").toObject();
    QCOMPARE(answer.value("eventid").toString(), QStringLiteral("SWITCH_CHANNEL"));
    QCOMPARE(answer.value("id").toString(), QStringLiteral("fleet-s1"));
    QCOMPARE(firstValue(answer), 2);
    // It is a listed event too.
    QVERIFY(m_fleet->waitFor([](const MqttProbe::Message &x) { return x.topic.endsWith("/event/SWITCH_CHANNEL"); },
                             10000, nullptr, from));
}

void TestVelaBridge::lastWillMarksKilledBridgeOffline()
{
    const int from = m_fleet->count();
    m_bridge.kill();
    QVERIFY(m_bridge.waitForFinished(5000));
    MqttProbe::Message m;
    QVERIFY(waitStatus(QStringLiteral("offline"), from, 15000));
    // Retained: a dashboard that looks later sees it too.
    MqttProbe late(QStringLiteral("late-dashboard"), false);
    QVERIFY(late.connectTo(m_broker.port(), m_broker.caFile(), QStringLiteral("dashboard"), QStringLiteral("dash-secret")));
    QVERIFY(late.subscribe(kBase + "status"));
    QVERIFY(late.last(kBase + "status", 5000, &m));
    QCOMPARE(m.payload, QByteArray("offline"));
    QVERIFY(m.retained);

    m_bridgeOutput.clear();
    QVERIFY(startBridge());
    QVERIFY(waitStatus(QStringLiteral("online"), from, 20000));
}

void TestVelaBridge::brokerRestartLosesNothingWithinQueue()
{
    const int logFrom = bridgeOutput().size();
    m_broker.stop();
    QVERIFY2(waitOutput(QStringLiteral("lost"), 15000, logFrom), qPrintable(bridgeOutput().mid(logFrom)));

    // Eight events while the broker is away; the queue keeps five.
    const int busFrom = m_rig.busMessages().size();
    for (int v = 1; v <= 8; ++v)
        m_rig.boardSend(QStringLiteral("frame C3 02 %1").arg(v, 2, 16, QLatin1Char('0')));
    QVERIFY(m_rig.waitBusMessage([](const QJsonObject &o) {
        return o.value("eventid") == "SMSC_BRIGHTNESS" && firstValue(o) == 8;
    }, 15000, nullptr, busFrom));
    QTest::qWait(200);

    const int from = m_fleet->count();
    QVERIFY2(m_broker.start(), qPrintable(m_broker.error()));
    QVERIFY2(m_fleet->waitFor([](const MqttProbe::Message &x) {
        return x.topic.endsWith("/event/SMSC_BRIGHTNESS") && firstValue(json(x.payload)) == 8;
    }, 40000, nullptr, from), qPrintable(bridgeOutput().mid(logFrom)));
    QList<int> values;
    for (const MqttProbe::Message &m : m_fleet->messages().mid(from))
        if (m.topic.endsWith("/event/SMSC_BRIGHTNESS"))
            values << firstValue(json(m.payload));
    // The newest five, in order; the oldest three dropped and counted.
    if (values != QList<int>{4, 5, 6, 7, 8}) {
        QString seen;
        for (const MqttProbe::Message &m : m_fleet->messages().mid(from))
            seen += m.topic + QLatin1Char(' ') + QString::fromUtf8(m.payload) + QLatin1Char('\n');
        QFAIL(qPrintable(QStringLiteral("fleet saw:\n%1\nbridge said:\n%2\nbroker said:\n%3")
                             .arg(seen, bridgeOutput().mid(logFrom), m_broker.output().right(2000))));
    }
    MqttProbe::Message info;
    QVERIFY(m_fleet->waitFor([](const MqttProbe::Message &x) {
        return x.topic.endsWith("/info") && json(x.payload).value("dropped").toInt() == 3;
    }, 10000, &info, from));
    QVERIFY(waitOutput(QStringLiteral("oldest event dropped"), 1000, logFrom));
}

void TestVelaBridge::hubRestart()
{
    // The bus hub is velacenter's: the bridge rejoins it when it comes back.
    const int from = m_fleet->count();
    QVERIFY(m_rig.stopCentre(30000));
    QVERIFY(m_fleet->waitFor([](const MqttProbe::Message &x) {
        return x.topic.endsWith("/info") && json(x.payload).value("bus") == "down";
    }, 15000, nullptr, from));
    const int boardFrom = m_rig.boardReceivedCount();
    QVERIFY(m_rig.startCentreAgain());
    QVERIFY(m_rig.waitBoardReceived(VelaCenterRig::kStartupFrame4, 30000, boardFrom));
    QVERIFY(m_fleet->waitFor([](const MqttProbe::Message &x) {
        return x.topic.endsWith("/info") && json(x.payload).value("bus") == "up";
    }, 15000, nullptr, from));
    m_rig.boardSend(QStringLiteral("frame C3 02 20"));
    QVERIFY2(m_fleet->waitFor([](const MqttProbe::Message &x) {
        return x.topic.endsWith("/event/SMSC_BRIGHTNESS") && firstValue(json(x.payload)) == 32;
    }, 15000, nullptr, from), qPrintable(bridgeOutput()));
}

QTEST_GUILESS_MAIN(TestVelaBridge)
#include "tst_velabridge.moc"
