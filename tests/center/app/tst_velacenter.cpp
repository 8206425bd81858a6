#include "busharness.h"
#include "velacenterrig.h"

#include "zqipc.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// Bytes 0, 1, 2, ... n-1 behind the given command bytes.
QByteArray payload(const QByteArray &command, int dataBytes)
{
    QByteArray p = command;
    for (int i = 0; i < dataBytes; ++i)
        p.append(char(i));
    return p;
}

auto eventAnyWithParam(const QByteArray &bytes)
{
    const QString param = QString::fromLatin1(bytes.toBase64());
    return [param](const QJsonObject &o) {
        return o.value(QStringLiteral("eventid")).toString() == QLatin1String("EVENT_ANY")
               && o.value(QStringLiteral("param")).toString() == param;
    };
}

const QByteArray kTestFrame = QByteArray::fromHex("7F0899A2B3C402FF0149CF");
const QByteArray kHeartFrame = QByteArray::fromHex("7F0999A2B3C402FF0F0802CF");
const QByteArray kVersionAck = QByteArray::fromHex("7F0999A2B3C402FF0F0801CF");
const QList<QByteArray> kStartupFrames = {
    QByteArray::fromHex("7F0899A2B3C402FF0F01CF"), QByteArray::fromHex("7F0899A2B3C402FF0131CF"),
    QByteArray::fromHex("7F0E99A2B3C402FFF216010101010101CF"),
    QByteArray::fromHex("7F0899A2B3C402FF018ACF")};

const QByteArray kInfoRequest = QByteArray::fromHex("7F0899A2B3C402FFE304CF");
const QByteArray kDefaultPen = QByteArray::fromHex("7F0F99A2B3C402FFE3080105000000801ECF");
const char kTimeoutVariable[] = "VELA_CONTROL_REQUEST_TIMEOUT_MS";
const int kRequestTimeoutMs = 3000;

// The shortcut module polls the board for its screen information until the
// board answers; cases that count frames leave those requests out.
QList<QByteArray> withoutPolling(QList<QByteArray> frames)
{
    frames.removeAll(kInfoRequest);
    return frames;
}

QJsonObject json(const char *text)
{
    return QJsonDocument::fromJson(QByteArray(text)).object();
}

QString boardLine(const QByteArray &command)
{
    return QStringLiteral("frame ") + QString::fromLatin1(command.toHex(' '));
}

auto eventIs(const QString &eventid)
{
    return [eventid](const QJsonObject &o) { return o.value(QStringLiteral("eventid")).toString() == eventid; };
}

// An application that answers the shared kit's "which program is in front?"
// as the program in front does.
class FrontApp
{
public:
    explicit FrontApp(const QString &id)
    {
        m_ipc.createTcpClient(id, "127.0.0.1", 23334);
        m_ipc.registerMsgAccept(QStringLiteral("ID_APP_GETTOPAPP_DLL"));
        QObject::connect(&m_ipc, &ZQIPC::sigRecvInfo, [this, id](const QString &text) {
            if (QJsonDocument::fromJson(text.toUtf8()).object().value("eventid").toString() != "ID_APP_IS_TOP")
                return;
            const QJsonObject answer{{"eventid", "ID_APP_IS_TOP"}, {"from", id}, {"to", "ID_APP_GETTOPAPP_DLL"}};
            m_ipc.sentInfo(QStringLiteral("ID_APP_GETTOPAPP_DLL"), QString::fromUtf8(QJsonDocument(answer).toJson()));
        });
    }
    ~FrontApp() { m_ipc.closeClient(); }

private:
    ZQIPC m_ipc;
};

} // namespace

// velacenter end to end: the program installed in a temporary folder, the
// mainboard simulator on a pseudo-terminal, and bus clients of the test.
class TestVelaCenter : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();

    // One running centre (link version 2) serves the cases that leave no state behind.
    void passThroughUp_data();
    void passThroughUp();
    void passThroughDown_data();
    void passThroughDown();
    void tableEventUp_data();
    void tableEventUp();
    void tableEventDown_data();
    void tableEventDown();
    void addresseeFilter_data();
    void addresseeFilter();
    void splitLongCommands_data();
    void splitLongCommands();
    void joinPartFrames_data();
    void joinPartFrames();
    void secondStartForwardsArguments();

    // The business modules on the shared centre.
    void screenInfoPollingAndRoundTrip();
    void penAttributesRoundTrip();
    void boardFramesUp_data();
    void boardFramesUp();
    void messagesDown_data();
    void messagesDown();
    void pageKeySubscription();
    void localEventsReachOperator_data();
    void localEventsReachOperator();
    void applicationInFront_data();
    void applicationInFront();
    void noApplicationInFront();
    void controlRequestsAndReplies_data();
    void controlRequestsAndReplies();
    void controlRequestTimesOut();
    void screenVersionSetsPenWidth();

    // Cases that need a centre of their own.
    void splitSerialCountsFromOne();
    void startupFramesInOrder_data();
    void startupFramesInOrder();
    void discVersionSwitchesToVersion2();
    void nothingReachesBoardBeforeLink();
    void loggingTable_data();
    void loggingTable();
    void failedCheckWaitsForReCheck();
    void boardLostAfterLinkUp();
    void cleanStopOnSigterm();
    void burstBeyondWriterQueue();
    void busListenAddress_data();
    void busListenAddress();
    void busAdmitsItsUsers_data();
    void busAdmitsItsUsers();

private:
    // Sends an EVENT_ANY that must arrive, so that anything sent before it
    // has had its chance to arrive too.
    bool flush(VelaCenterRig &rig, int *markerIndex = nullptr);
    bool startShared();
    // A centre of the test's own; the shared one is stopped first.
    bool startOwn(VelaCenterRig &rig, const VelaCenterRig::Options &options);
    static VelaCenterRig::Options quiet();
    void releaseShared();

    VelaCenterRig *m_rig = nullptr;
    int m_marker = 0;
};

bool TestVelaCenter::startShared()
{
    if (m_rig)
        return true;
    m_rig = new VelaCenterRig;
    if (m_rig->start(VelaCenterRig::Options()))
        return true;
    qWarning() << m_rig->error();
    delete m_rig;
    m_rig = nullptr;
    return false;
}

void TestVelaCenter::releaseShared()
{
    // Only one centre can hold the bus port.
    delete m_rig;
    m_rig = nullptr;
}

bool TestVelaCenter::startOwn(VelaCenterRig &rig, const VelaCenterRig::Options &options)
{
    releaseShared();
    if (rig.start(options))
        return true;
    qWarning() << rig.error();
    return false;
}

VelaCenterRig::Options TestVelaCenter::quiet()
{
    VelaCenterRig::Options options;
    options.quietCentre = true;
    return options;
}

void TestVelaCenter::initTestCase()
{
    // Every centre of this test gives up on unanswered central-control
    // requests after 3 s instead of a minute.
    qputenv(kTimeoutVariable, QByteArray::number(kRequestTimeoutMs));
}

void TestVelaCenter::cleanupTestCase()
{
    releaseShared();
}

bool TestVelaCenter::flush(VelaCenterRig &rig, int *markerIndex)
{
    const QByteArray marker = hex("E9EE") + QByteArray::number(++m_marker);
    const int from = rig.boardReceivedCount();
    rig.sendToCentre(VelaCenterRig::eventAny(marker, QStringLiteral("ID_APP_VELACENTER")));
    if (!rig.waitBoardReceived(VelaCenterRig::frameOf(marker), 10000, from))
        return false;
    if (markerIndex)
        *markerIndex = rig.boardReceived().indexOf(VelaCenterRig::frameOf(marker), from);
    return true;
}

void TestVelaCenter::passThroughUp_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QByteArray>("param");
    QTest::newRow("four bytes") << "frame 12 34 56 78" << hex("12345678");
    // E9: a command byte no module claims (E0 to E5 have modules of their own).
    QTest::newRow("command bytes only") << "frame E9 01" << hex("E901");
    QTest::newRow("end byte inside data") << "frame E9 02 CF 7F CF 00" << hex("E902CF7FCF00");
}

void TestVelaCenter::passThroughUp()
{
    QVERIFY(startShared());
    QFETCH(QString, line);
    QFETCH(QByteArray, param);
    const int from = m_rig->busMessages().size();
    m_rig->boardSend(line);
    QJsonObject msg;
    QVERIFY(m_rig->waitBusMessage(eventAnyWithParam(param), 10000, &msg, from));
    QCOMPARE(msg.value("from").toString(), QStringLiteral("ID_APP_VELACENTER"));
    QCOMPARE(msg.value("to").toString(), QStringLiteral("ID_APP_ANY"));
    QCOMPARE(msg.size(), 4);
    // The centre writes indented JSON.
    const QString text = m_rig->busMessages().last();
    QVERIFY2(text.contains(QStringLiteral("\n    \"eventid\": \"EVENT_ANY\"")), qPrintable(text));
}

void TestVelaCenter::passThroughDown_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("four bytes") << hex("12345678");
    QTest::newRow("EjRWeA== from the bus") << QByteArray::fromBase64("EjRWeA==");
    QTest::newRow("longest unsplit") << payload(hex("E003"), 21);
}

void TestVelaCenter::passThroughDown()
{
    QVERIFY(startShared());
    QFETCH(QByteArray, bytes);
    const int from = m_rig->boardReceivedCount();
    QCOMPARE(m_rig->sendToCentre(VelaCenterRig::eventAny(bytes, QStringLiteral("ID_APP_VELACENTER"))), 0);
    QVERIFY(m_rig->waitBoardReceived(VelaCenterRig::frameOf(bytes), 10000, from));
    QCOMPARE(withoutPolling(m_rig->boardReceived().mid(from)).size(), 1);
}

void TestVelaCenter::tableEventUp_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("eventid");
    QTest::addColumn<QString>("type");
    QTest::addColumn<int>("value");
    QTest::newRow("screen state") << "frame C3 01 01" << "SMSC_SCREEN_STATE" << "State" << 1;
    QTest::newRow("brightness") << "frame C3 02 32" << "SMSC_BRIGHTNESS" << "Brightness" << 50;
}

void TestVelaCenter::tableEventUp()
{
    QVERIFY(startShared());
    QFETCH(QString, line);
    QFETCH(QString, eventid);
    QFETCH(QString, type);
    QFETCH(int, value);
    const int from = m_rig->busMessages().size();
    m_rig->boardSend(line);
    QJsonObject msg;
    QVERIFY(m_rig->waitBusMessage([&](const QJsonObject &o) { return o.value("eventid").toString() == eventid; },
                                  10000, &msg, from));
    QCOMPARE(msg.value("from").toString(), QStringLiteral("ID_APP_VELACENTER"));
    QCOMPARE(msg.value("to").toString(), QStringLiteral("ID_PC_VELASMARTSCREEN"));
    const QJsonObject first = msg.value("param").toArray().at(0).toObject();
    QCOMPARE(first.value("type").toString(), type);
    QCOMPARE(first.value("value").toInt(), value);
}

void TestVelaCenter::tableEventDown_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("brightness") << R"({"eventid":"SMSC_BRIGHTNESS","to":"ID_APP_VELACENTER","param":[{"type":"Brightness","value":50}]})"
                                << hex("7F0999A2B3C402FFC30232CF");
    QTest::newRow("screen standby") << R"({"eventid":"SMSC_SCREEN_STATE","to":"MessageCenter","param":[{"type":"State","value":2}]})"
                                    << hex("7F0999A2B3C402FFC30102CF");
}

void TestVelaCenter::tableEventDown()
{
    QVERIFY(startShared());
    QFETCH(QString, message);
    QFETCH(QByteArray, frame);
    const int from = m_rig->boardReceivedCount();
    QCOMPARE(m_rig->busSend(QStringLiteral("ID_APP_VELACENTER"), message), 0);
    QVERIFY(m_rig->waitBoardReceived(frame, 10000, from));
}

void TestVelaCenter::addresseeFilter_data()
{
    QTest::addColumn<QVariant>("to");
    QTest::addColumn<bool>("arrives");
    QTest::newRow("ID_APP_VELACENTER") << QVariant(QStringLiteral("ID_APP_VELACENTER")) << true;
    QTest::newRow("MessageCenter") << QVariant(QStringLiteral("MessageCenter")) << true;
    QTest::newRow("other application") << QVariant(QStringLiteral("ID_APP_VELATOUCHPRO")) << false;
    QTest::newRow("lower case") << QVariant(QStringLiteral("id_app_velacenter")) << false;
    QTest::newRow("empty") << QVariant(QString(QLatin1String(""))) << false;
    QTest::newRow("no to") << QVariant() << false;
    QTest::newRow("to not a text") << QVariant(5) << false;
}

void TestVelaCenter::addresseeFilter()
{
    QVERIFY(startShared());
    QFETCH(QVariant, to);
    QFETCH(bool, arrives);
    static int n = 0;
    const QByteArray bytes = hex("E1A0") + QByteArray::number(++n);
    QJsonObject msg = VelaCenterRig::eventAny(bytes, QString());
    if (to.isValid())
        msg.insert(QStringLiteral("to"), QJsonValue::fromVariant(to));
    const int from = m_rig->boardReceivedCount();
    QCOMPARE(m_rig->sendToCentre(msg), 0);
    int marker = -1;
    QVERIFY(flush(*m_rig, &marker));
    const int at = m_rig->boardReceived().indexOf(VelaCenterRig::frameOf(bytes), from);
    if (arrives)
        QVERIFY(at >= 0 && at < marker);
    else
        QCOMPARE(at, -1);
}

void TestVelaCenter::splitLongCommands_data()
{
    QTest::addColumn<int>("frameBytes");
    QTest::addColumn<QList<int>>("partLengths"); // length bytes of the parts; empty: unsplit
    QTest::newRow("33 bytes") << 33 << QList<int>{29, 9};
    QTest::newRow("32 bytes") << 32 << QList<int>{};
    QTest::newRow("53 bytes: two full parts") << 53 << QList<int>{29, 29};
    QTest::newRow("60 bytes") << 60 << QList<int>{29, 29, 15};
}

void TestVelaCenter::splitLongCommands()
{
    QVERIFY(startShared());
    QFETCH(int, frameBytes);
    QFETCH(QList<int>, partLengths);
    // An EVENT_ANY payload of p bytes becomes a frame of p + 9 bytes.
    const QByteArray bytes = payload(hex("E2") + char(frameBytes), frameBytes - 9 - 2);
    const QByteArray frame = VelaCenterRig::frameOf(bytes);
    QCOMPARE(frame.size(), frameBytes);
    const int from = m_rig->boardReceivedCount();
    QCOMPARE(m_rig->sendToCentre(VelaCenterRig::eventAny(bytes, QStringLiteral("MessageCenter"))), 0);
    int marker = -1;
    QVERIFY(flush(*m_rig, &marker));
    const QList<QByteArray> got = withoutPolling(m_rig->boardReceived().mid(from, marker - from));
    if (partLengths.isEmpty()) {
        QCOMPARE(got, QList<QByteArray>{frame});
        return;
    }
    QCOMPARE(got.size(), partLengths.size());
    QByteArray data;
    for (int i = 0; i < got.size(); ++i) {
        const QByteArray &part = got.at(i);
        QCOMPARE(int(quint8(part.at(1))), partLengths.at(i));
        QCOMPARE(part.size(), partLengths.at(i) + 3);
        QCOMPARE(part.left(4), hex("7F") + char(partLengths.at(i)) + hex("99A3"));
        QCOMPARE(int(part.at(4)), got.size());     // number of parts
        QCOMPARE(int(part.at(5)), i);              // index
        QCOMPARE(part.at(6), got.first().at(6));   // one serial for all parts
        QCOMPARE(quint8(part.at(7)), quint8(0xFF));
        QCOMPARE(part.mid(8, 2), frame.mid(8, 2)); // the command's bytes 8 and 9
        QCOMPARE(quint8(part.at(part.size() - 1)), quint8(0xCF));
        data += part.mid(10, part.size() - 11);
    }
    QCOMPARE(data, frame.mid(10, frame.size() - 11));
}

void TestVelaCenter::joinPartFrames_data()
{
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QList<QByteArray>>("joined"); // EVENT_ANY payloads, in order
    // Part frame: 7F, data + 8, 99, A3, count, index, serial, FF, two command bytes, data, CF.
    QTest::newRow("two parts") << QStringList{"7F 0A 99 A3 02 00 11 FF E4 01 AA BB CF",
                                              "7F 09 99 A3 02 01 11 FF E4 01 CC CF"}
                               << QList<QByteArray>{hex("E401AABBCC")};
    QTest::newRow("parts out of order") << QStringList{"7F 09 99 A3 02 01 12 FF E4 02 CC CF",
                                                       "7F 0A 99 A3 02 00 12 FF E4 02 AA BB CF"}
                                        << QList<QByteArray>{hex("E402AABBCC")};
    QTest::newRow("repeated index") << QStringList{"7F 09 99 A3 02 00 13 FF E4 03 AA CF",
                                                   "7F 09 99 A3 02 00 13 FF E4 03 BB CF"}
                                    << QList<QByteArray>{hex("E403BB")};
    QTest::newRow("interleaved serials") << QStringList{"7F 09 99 A3 02 00 21 FF E4 04 A0 CF",
                                                        "7F 09 99 A3 02 00 22 FF E4 04 B0 CF",
                                                        "7F 09 99 A3 02 01 21 FF E4 04 A1 CF",
                                                        "7F 09 99 A3 02 01 22 FF E4 04 B1 CF"}
                                         << QList<QByteArray>{hex("E404A0A1"), hex("E404B0B1")};
    QTest::newRow("three parts") << QStringList{"7F 09 99 A3 03 00 14 FF E4 05 01 CF",
                                                "7F 09 99 A3 03 01 14 FF E4 05 02 CF",
                                                "7F 09 99 A3 03 02 14 FF E4 05 03 CF"}
                                 << QList<QByteArray>{hex("E405010203")};
    QTest::newRow("announced as one part") << QStringList{"7F 09 99 A3 01 00 15 FF E4 06 01 CF"}
                                           << QList<QByteArray>{hex("E40601")};
}

void TestVelaCenter::joinPartFrames()
{
    QVERIFY(startShared());
    QFETCH(QStringList, lines);
    QFETCH(QList<QByteArray>, joined);
    const int from = m_rig->busMessages().size();
    for (const QString &line : lines)
        m_rig->boardSend(line);
    int at = from;
    for (const QByteArray &bytes : joined) {
        QJsonObject msg;
        QVERIFY2(m_rig->waitBusMessage(eventAnyWithParam(bytes), 10000, &msg, at), bytes.toHex().constData());
        at = m_rig->busMessages().size();
    }
    // Nothing else came up: no part frame passed through on its own.
    m_rig->boardSend(QStringLiteral("frame E4 7F"));
    QVERIFY(m_rig->waitBusMessage(eventAnyWithParam(hex("E47F")), 10000, nullptr, from));
    QCOMPARE(m_rig->busMessages().size() - from, joined.size() + 1);
}

void TestVelaCenter::secondStartForwardsArguments()
{
    QVERIFY(startShared());
    QString output;
    QCOMPARE(m_rig->runSecondCopy({QStringLiteral("-a"), QStringLiteral("b")}, &output, 15000), 0);
    // The second copy did not get as far as the hub (whose port is taken).
    QVERIFY2(!output.contains(QStringLiteral("call to bind")), qPrintable(output));
    QVERIFY2(!output.contains(QStringLiteral("check port")), qPrintable(output));
    QVERIFY(m_rig->centre().state() == QProcess::Running);
    // The running copy received the joined text and is still serving.
    QTRY_VERIFY_WITH_TIMEOUT(m_rig->centreOutput().contains(QStringLiteral("single instance message \"-a b\"")), 5000);
    QVERIFY(flush(*m_rig));
}

void TestVelaCenter::screenInfoPollingAndRoundTrip()
{
    QVERIFY(startShared());
    // The request of start-up (or of the polling) reached the board.
    QVERIFY(m_rig->waitBoardReceived(kInfoRequest, 5000));
    m_rig->boardSend(boardLine(hex("E304") + QByteArray("a-1<=>b-2")));
    QVERIFY(flush(*m_rig));
    // The polling stopped: no request follows the board's reply.
    const int after = m_rig->boardReceivedCount();
    QTest::qWait(2 * 1500 + 500);
    QCOMPARE(m_rig->boardReceived().indexOf(kInfoRequest, after), -1);

    const int from = m_rig->busMessages().size();
    m_rig->sendToCentre(QJsonObject{{"eventid", "ID_GET_SCREEN_INFO"}, {"from", VelaCenterRig::kClientId},
                                    {"to", "ID_APP_VELACENTER"}, {"param", "b<>a<>c"}});
    QJsonObject reply;
    QVERIFY(m_rig->waitBusMessage(eventIs("ID_GET_SCREEN_INFO"), 10000, &reply, from));
    QCOMPARE(reply.value("param").toString(), QStringLiteral("2<>1<>"));
    QCOMPARE(reply.value("to").toString(), QString::fromLatin1(VelaCenterRig::kClientId));
    QCOMPARE(reply.value("from").toString(), QStringLiteral("ID_APP_VELACENTER"));
}

void TestVelaCenter::penAttributesRoundTrip()
{
    QVERIFY(startShared());
    int from = m_rig->boardReceivedCount();
    m_rig->boardSend(QStringLiteral("frame E3 08"));
    QVERIFY(m_rig->waitBoardReceived(kDefaultPen, 10000, from));

    // Changed on the board (the bytes hold a central-control reply key),
    // broadcast, and handed back unchanged when the board asks.
    const QByteArray pen = hex("02F30700801E");
    const int busFrom = m_rig->busMessages().size();
    m_rig->boardSend(boardLine(hex("E307") + pen));
    QJsonObject bro;
    QVERIFY(m_rig->waitBusMessage(eventIs("ID_PEN_ATTR_BRO"), 10000, &bro, busFrom));
    QCOMPARE(bro.value("param").toString(), QString::fromLatin1(pen.toBase64()));
    QCOMPARE(bro.value("to").toString(), QStringLiteral("ID_APP_ANY"));
    from = m_rig->boardReceivedCount();
    m_rig->boardSend(QStringLiteral("frame E3 08"));
    QVERIFY(m_rig->waitBoardReceived(VelaCenterRig::frameOf(hex("E308") + pen), 10000, from));

    // An application asks for them.
    const int getFrom = m_rig->busMessages().size();
    m_rig->sendToCentre(QJsonObject{{"eventid", "ID_PEN_ATTR_GET"}, {"from", VelaCenterRig::kClientId},
                                    {"to", "ID_APP_VELACENTER"}});
    QJsonObject got;
    QVERIFY(m_rig->waitBusMessage(eventIs("ID_PEN_ATTR_GET"), 10000, &got, getFrom));
    QCOMPARE(got.value("param").toString(), QString::fromLatin1(pen.toBase64()));
}

void TestVelaCenter::boardFramesUp_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QString>("eventid");
    QTest::addColumn<QString>("to");
    QTest::addColumn<QJsonValue>("param");
    QTest::addColumn<QString>("id"); // central-control replies only
    QTest::newRow("page key, no subscriber") << hex("E30501") << "ID_GESTURE" << "ID_APP_VELASMARTSCREEN" << QJsonValue(1) << QString();
    QTest::newRow("home key") << hex("E306FE") << "ID_HOME_KEY" << "ID_APP_VELASMARTSCREEN" << QJsonValue(-2) << QString();
    QTest::newRow("app action") << hex("E309F4FF01") << "ID_APP_ACTION" << "ID_APP_ANY" << QJsonValue(QString::fromLatin1(hex("F4FF01").toBase64())) << QString();
    QTest::newRow("resolution F3 07") << hex("F307130A0A50") << "GET_SCREEN_MONITORS_RESOLUTION" << "ControlCenter"
                                      << QJsonValue(QJsonArray{QJsonObject{{"value", 1910}}, QJsonObject{{"value", 1080}}}) << "";
    QTest::newRow("mac F3 04") << hex("F304001A2B3C4D5E") << "GET_ANDROID_MAC_ADRESS" << "ControlCenter"
                               << QJsonValue(QJsonArray{QJsonObject{{"value", "00:1a:2b:3c:4d:5e"}}}) << "";
    QTest::newRow("channels F3 50") << hex("F3500501") << "SWITCH_ALL_CHANNEL" << "ControlCenter"
                                    << QJsonValue(QJsonArray{QJsonObject{{"value", 261}}}) << "";
    QTest::newRow("channels F3 50 negative") << hex("F3500080") << "SWITCH_ALL_CHANNEL" << "ControlCenter"
                                             << QJsonValue(QJsonArray{QJsonObject{{"value", -32768}}}) << "";
    // A reply key inside the data of a frame nobody knows is no reply.
    QTest::newRow("F4 FF in unknown data") << hex("E9F4FF") << "EVENT_ANY" << "ID_APP_ANY"
                                           << QJsonValue(QString::fromLatin1(hex("E9F4FF").toBase64())) << QString();
}

void TestVelaCenter::boardFramesUp()
{
    QVERIFY(startShared());
    QFETCH(QByteArray, command);
    QFETCH(QString, eventid);
    QFETCH(QString, to);
    QFETCH(QJsonValue, param);
    QFETCH(QString, id);
    const int from = m_rig->busMessages().size();
    m_rig->boardSend(boardLine(command));
    QJsonObject msg;
    QVERIFY(m_rig->waitBusMessage(eventIs(eventid), 10000, &msg, from));
    QCOMPARE(msg.value("to").toString(), to);
    QCOMPARE(msg.value("param"), param);
    QCOMPARE(msg.contains("id"), !id.isNull());
    if (!id.isNull())
        QCOMPARE(msg.value("from").toString(), QStringLiteral("MessageCenter"));
}

void TestVelaCenter::messagesDown_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QList<QByteArray>>("commands"); // empty: nothing reaches the board
    const auto c = [](const char *h) { return QList<QByteArray>{QByteArray::fromHex(h)}; };
    QTest::newRow("app state") << R"({"eventid":"ID_APP_STATE","param":{"appid":258,"appstate":1}})" << c("E3030201");
    QTest::newRow("app state, param not an object") << R"({"eventid":"ID_APP_STATE","param":"x"})" << c("E3030000");
    QTest::newRow("app action") << R"({"eventid":"ID_APP_ACTION","param":"AQID"})" << c("E309010203");
    QTest::newRow("app action, not Base64") << R"({"eventid":"ID_APP_ACTION","param":"**"})" << QList<QByteArray>{};
    QTest::newRow("app action, a number") << R"({"eventid":"ID_APP_ACTION","param":5})" << c("E309");
    QTest::newRow("pen set") << R"({"eventid":"ID_PEN_ATTR_SET","param":"AQUAAACAHg=="})" << c("E3080105000000801E");
    QTest::newRow("error info") << R"({"eventid":"UPDATE_EQUIPMENT_ERROR_INFO","param":[{"value":87},{"value":5}]})" << c("F4FF0200");
    QTest::newRow("error info, text code") << R"({"eventid":"UPDATE_EQUIPMENT_ERROR_INFO","param":[{"value":"87"}]})" << c("F4FF00");
    QTest::newRow("product info") << R"({"eventid":"GET_PRODUCT_INFO"})" << c("F101FFFF");
    QTest::newRow("pen width") << R"({"eventid":"ID_ZQ_PEN_PROPERTY_CHANGE","property":{"Width":5}})" << c("C10206");
    QTest::newRow("pen colour and width") << R"({"eventid":"ID_ZQ_PEN_PROPERTY_CHANGE","property":{"Color":"#FF0000","Width":10}})"
                                          << (c("C10102") + c("C1020C"));
    QTest::newRow("pen colour a number") << R"({"eventid":"ID_ZQ_PEN_PROPERTY_CHANGE","property":{"Color":3}})" << QList<QByteArray>{};
    QTest::newRow("pen property not an object") << R"({"eventid":"ID_ZQ_PEN_PROPERTY_CHANGE","property":"Width"})" << QList<QByteArray>{};
}

void TestVelaCenter::messagesDown()
{
    QVERIFY(startShared());
    QFETCH(QString, message);
    QFETCH(QList<QByteArray>, commands);
    QJsonObject msg = QJsonDocument::fromJson(message.toUtf8()).object();
    msg.insert("to", "MessageCenter");
    msg.insert("from", VelaCenterRig::kClientId);
    const int from = m_rig->boardReceivedCount();
    m_rig->sendToCentre(msg);
    int marker = -1;
    QVERIFY(flush(*m_rig, &marker));
    QList<QByteArray> expected;
    for (const QByteArray &command : commands)
        expected << VelaCenterRig::frameOf(command);
    QCOMPARE(withoutPolling(m_rig->boardReceived().mid(from, marker - from)), expected);
    QVERIFY(m_rig->centre().state() == QProcess::Running);
}

void TestVelaCenter::pageKeySubscription()
{
    QVERIFY(startShared());
    const QJsonObject live{{"eventid", "ID_PAGE_GESTURE"}, {"from", VelaCenterRig::kClientId},
                           {"to", "ID_APP_VELACENTER"}, {"param", "yes"}};
    m_rig->sendToCentre(live);
    QVERIFY(flush(*m_rig));
    int from = m_rig->busMessages().size();
    m_rig->boardSend(QStringLiteral("frame E3 05 02"));
    m_rig->boardSend(QStringLiteral("frame E3 06 01"));
    QVERIFY(m_rig->waitBusMessage(eventIs("ID_HOME_KEY"), 10000, nullptr, from));
    QVERIFY(!m_rig->waitBusMessage(eventIs("ID_GESTURE"), 0, nullptr, from));
    QTRY_VERIFY_WITH_TIMEOUT(m_rig->centreOutput().contains(QStringLiteral("slotLocalOperation \"ID_SLIDE_NEXT\"")), 5000);

    // Without "live" the subscription ends after 5 s.
    QTest::qWait(5500);
    from = m_rig->busMessages().size();
    m_rig->boardSend(QStringLiteral("frame E3 05 02"));
    QJsonObject gesture;
    QVERIFY(m_rig->waitBusMessage(eventIs("ID_GESTURE"), 10000, &gesture, from));
    QCOMPARE(gesture.value("param").toInt(), 2);
}

void TestVelaCenter::localEventsReachOperator_data()
{
    QTest::addColumn<QByteArray>("command");
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QByteArray>("boardGets"); // command of the frame the operator sends; empty: none looked at
    QTest::newRow("DISC_HEART") << hex("C130") << "DISC_HEART" << hex("0F0601");
    QTest::newRow("CHECK_VELA_APP") << hex("C132") << "CHECK_VELA_APP" << hex("F320010203040506070809") + hex("0A0B0C");
    QTest::newRow("RUN_VELA_APP") << hex("C12001") << "ID_CALCULATOR" << QByteArray();
    QTest::newRow("GET_SYSTEM_OF_DISC_AT 1") << hex("C12101") << "ID_HAS_DISC" << QByteArray();
    QTest::newRow("GET_SYSTEM_OF_DISC_AT 0") << hex("C12100") << "GET_SYSTEM_OF_DISC_AT" << QByteArray();
    QTest::newRow("board function without whiteboard") << hex("E30100") << "ID_VELATOUCHPRO" << QByteArray();
    QTest::newRow("page key 3") << hex("E30503") << "ID_ZQ_Multitask" << QByteArray();
    QTest::newRow("ID_WHITEBOARD, whiteboard not running") << hex("C110") << "ID_WHITEBOARD" << QByteArray();
}

void TestVelaCenter::localEventsReachOperator()
{
    QVERIFY(startShared());
    QFETCH(QByteArray, command);
    QFETCH(QString, operation);
    QFETCH(QByteArray, boardGets);
    const int from = m_rig->boardReceivedCount();
    const int busFrom = m_rig->busMessages().size();
    const QString line = QStringLiteral("slotLocalOperation \"%1\"").arg(operation);
    const int seen = m_rig->centreOutput().count(line);
    m_rig->boardSend(boardLine(command));
    QTRY_VERIFY_WITH_TIMEOUT(m_rig->centreOutput().count(line) > seen, 10000);
    if (!boardGets.isEmpty())
        QVERIFY(m_rig->waitBoardReceived(VelaCenterRig::frameOf(boardGets), 10000, from));
    QVERIFY(flush(*m_rig));
    QCOMPARE(m_rig->busMessages().size(), busFrom);
}

void TestVelaCenter::applicationInFront_data()
{
    QTest::addColumn<bool>("byKey");      // a keyId message, else a board frame
    QTest::addColumn<QString>("input");   // keyId, or hex command of the frame
    QTest::addColumn<QString>("eventid"); // what the application in front gets
    QTest::addColumn<QString>("scenario");
    QTest::addColumn<QJsonObject>("property");
    QTest::newRow("ID_ITEM_SELECT") << true << "ID_ITEM_SELECT" << "ID_ITEM_STROKE_SELECT" << "ID_SCENARIO_SHORTCUT" << QJsonObject();
    QTest::newRow("pen width key") << true << "ID_RENDERPROPERTY_TOTALWNDPENWIDTH" << "ID_ITEM_STROKE_SMOOTH" << "ID_SCENARIO_SHORTCUT" << QJsonObject();
    QTest::newRow("undo") << true << "ID_ZQ_EDIT_UNDO" << "ID_ZQ_EDIT_UNDO" << "ID_SCENARIO_SHORTCUT" << QJsonObject();
    QTest::newRow("save, whiteboard in front") << true << "ID_ZQ_FILE_SAVE" << "ID_ZQ_FILE_SAVE" << "ID_SCENARIO_SHORTCUT" << QJsonObject();
    QTest::newRow("board pen colour") << false << "C10102" << "ID_ITEM_STROKE_SMOOTH" << "ID_SCENARIO_DISC" << QJsonObject{{"Color", "#FF0000"}};
    QTest::newRow("board pen width") << false << "C1020C" << "ID_ITEM_STROKE_SMOOTH" << "ID_SCENARIO_DISC" << QJsonObject{{"Width", 10}};
    QTest::newRow("board pen type") << false << "C10302" << "SET_DISC_PEN_TYPE" << "ID_SCENARIO_DISC" << QJsonObject{{"Type", "1"}};
    QTest::newRow("ID_WHITEBOARD, whiteboard running") << false << "C110" << "ID_SHOW_ACTIVE" << "ID_SCENARIO_DISC" << QJsonObject();
}

void TestVelaCenter::applicationInFront()
{
    QVERIFY(startShared());
    QFETCH(bool, byKey);
    QFETCH(QString, input);
    QFETCH(QString, eventid);
    QFETCH(QString, scenario);
    QFETCH(QJsonObject, property);
    FrontApp front(QStringLiteral("ID_APP_VELATOUCHPRO"));
    // A process the centre takes for the running whiteboard.
    QProcess whiteboard;
    const QString exe = m_rig->folder() + QStringLiteral("/VelaTouchPro.exe");
    QFile::copy(QStringLiteral("/bin/sleep"), exe);
    whiteboard.start(exe, {QStringLiteral("30")});
    QVERIFY(whiteboard.waitForStarted(5000));

    const int from = m_rig->busMessages().size();
    if (byKey)
        m_rig->sendToCentre(QJsonObject{{"keyId", input}, {"to", "ID_APP_VELACENTER"}, {"pos", 1}});
    else
        m_rig->boardSend(boardLine(QByteArray::fromHex(input.toLatin1())));
    QJsonObject msg;
    const bool arrived = m_rig->waitBusMessage(eventIs(eventid), 10000, &msg, from);
    whiteboard.kill();
    whiteboard.waitForFinished(5000);
    QVERIFY(arrived);
    QCOMPARE(msg.value("to").toString(), QStringLiteral("ID_APP_VELATOUCHPRO"));
    QCOMPARE(msg.value("from").toString(), QStringLiteral("ID_APP_VELACENTER"));
    QCOMPARE(msg.value("scenario").toString(), scenario);
    if (byKey)
        QCOMPARE(msg.value("pos").toInt(), 1);
    else
        QCOMPARE(msg.value("property").toObject(), property);
}

void TestVelaCenter::noApplicationInFront()
{
    QVERIFY(startShared());
    // Board pen events are dropped, and a key for the whiteboard starts it.
    const int from = m_rig->busMessages().size();
    m_rig->boardSend(QStringLiteral("frame C1 01 02"));
    m_rig->sendToCentre(QJsonObject{{"keyId", "ID_SLIDE_NEW_WHITE"}, {"to", "ID_APP_VELACENTER"}});
    m_rig->boardSend(QStringLiteral("frame E3 06 05"));
    QVERIFY(m_rig->waitBusMessage(eventIs("ID_HOME_KEY"), 10000, nullptr, from));
    QVERIFY(!m_rig->waitBusMessage(eventIs("ID_ITEM_STROKE_SMOOTH"), 0, nullptr, from));
    QTRY_VERIFY_WITH_TIMEOUT(m_rig->centreOutput().contains(QStringLiteral("slotLocalOperation \"ID_SLIDE_NEW_WHITE\"")), 5000);
}

void TestVelaCenter::controlRequestsAndReplies_data()
{
    QTest::addColumn<QString>("request");
    QTest::addColumn<QByteArray>("requestCommand");
    QTest::addColumn<QByteArray>("replyCommand");
    QTest::addColumn<QString>("replyEvent"); // empty: an id-only reply
    QTest::addColumn<QString>("id");
    QTest::newRow("product info") << R"({"eventid":"GET_PRODUCT_INFO","id":"7"})" << hex("F101FFFF") << hex("F30100") << "" << "7";
    QTest::newRow("run info") << R"({"eventid":"GET_OPS_EQUIPMENT_RUN_INFO","id":"r2"})" << hex("F102FFFF") << hex("F3020101") << "" << "r2";
    QTest::newRow("channels") << R"({"eventid":"GET_HAS_SIGNAL_CHANNELS","id":"c"})" << hex("F150FFFF") << hex("F3500501") << "SWITCH_ALL_CHANNEL" << "c";
    QTest::newRow("mac") << R"({"eventid":"GET_ANDROID_MAC_ADRESS","id":"m"})" << hex("F104FFFF") << hex("F304001A2B3C4D5E") << "GET_ANDROID_MAC_ADRESS" << "m";
    QTest::newRow("resolution") << R"({"eventid":"GET_SCREEN_MONITORS_RESOLUTION","id":"res"})" << hex("F307") << hex("F307130A0A50") << "GET_SCREEN_MONITORS_RESOLUTION" << "res";
    QTest::newRow("error info") << R"({"eventid":"UPDATE_EQUIPMENT_ERROR_INFO","id":"e","param":[{"value":89}]})" << hex("F4FF04") << hex("F4FF") << "" << "e";
    QTest::newRow("table event") << R"({"eventid":"SWITCH_CHANNEL","id":"s","param":[{"value":2}]})" << hex("C20102") << hex("C20102") << "SWITCH_CHANNEL" << "s";
}

void TestVelaCenter::controlRequestsAndReplies()
{
    QVERIFY(startShared());
    QFETCH(QString, request);
    QFETCH(QByteArray, requestCommand);
    QFETCH(QByteArray, replyCommand);
    QFETCH(QString, replyEvent);
    QFETCH(QString, id);
    QJsonObject msg = QJsonDocument::fromJson(request.toUtf8()).object();
    msg.insert("to", "MessageCenter");
    msg.insert("from", "ControlCenter");
    const int from = m_rig->boardReceivedCount();
    const int busFrom = m_rig->busMessages().size();
    m_rig->sendToCentre(msg);
    QVERIFY(m_rig->waitBoardReceived(VelaCenterRig::frameOf(requestCommand), 10000, from));
    m_rig->boardSend(boardLine(replyCommand));
    QJsonObject reply;
    QVERIFY(m_rig->waitBusMessage([](const QJsonObject &o) { return o.value("to").toString() == "ControlCenter"; },
                                  10000, &reply, busFrom));
    QCOMPARE(reply.value("id").toString(), id);
    QCOMPARE(reply.value("from").toString(), QStringLiteral("MessageCenter"));
    QCOMPARE(reply.value("eventid").toString(), replyEvent);
}

void TestVelaCenter::controlRequestTimesOut()
{
    QVERIFY(startShared());
    const int busFrom = m_rig->busMessages().size();
    QElapsedTimer clock;
    clock.start();
    m_rig->sendToCentre(json(R"({"eventid":"GET_PRODUCT_INFO","id":"late","to":"MessageCenter"})"));
    QTest::qWait(kRequestTimeoutMs / 2);
    // A second request just before the first one's time-out keeps its own full wait.
    m_rig->sendToCentre(json(R"({"eventid":"GET_ANDROID_MAC_ADRESS","id":"later","to":"MessageCenter"})"));
    const auto failureFor = [](const char *id) {
        return [id](const QJsonObject &o) {
            return o.value("id").toString() == QLatin1String(id)
                   && o.value("param").toArray() == QJsonArray{QJsonObject{{"value", 0}}}
                   && o.value("to").toString() == "ControlCenter" && o.value("from").toString() == "MessageCenter";
        };
    };
    QVERIFY(m_rig->waitBusMessage(failureFor("late"), 10000, nullptr, busFrom));
    QVERIFY(clock.elapsed() >= kRequestTimeoutMs);
    QVERIFY(!m_rig->waitBusMessage(failureFor("later"), 0, nullptr, busFrom));
    QVERIFY(m_rig->waitBusMessage(failureFor("later"), 10000, nullptr, busFrom));
    QVERIFY(clock.elapsed() >= kRequestTimeoutMs * 3 / 2);
    // A reply now finds no request: it carries an empty id.
    const int replyFrom = m_rig->busMessages().size();
    m_rig->boardSend(QStringLiteral("frame F3 01 00"));
    QJsonObject reply;
    QVERIFY(m_rig->waitBusMessage([](const QJsonObject &o) { return o.value("to").toString() == "ControlCenter"; },
                                  10000, &reply, replyFrom));
    QCOMPARE(reply.value("id").toString(), QString());
    // The requests answered earlier got no failure reply.
    for (const char *id : {"7", "r2", "c", "m", "res", "e", "s"})
        QVERIFY2(!m_rig->waitBusMessage(failureFor(id), 0, nullptr, 0), id);
}

void TestVelaCenter::screenVersionSetsPenWidth()
{
    QVERIFY(startShared());
    FrontApp front(QStringLiteral("ID_APP_VELACAMERA"));
    // Board byte 20 is width 10 on a 2018 screen and 3 on any other.
    const QList<QPair<const char *, int>> steps = {{"01 31 10", 10}, {"01 31 12", 3}, {"01 31 11", 10}};
    for (const auto &step : steps) {
        const QString version = QString::fromLatin1(step.first);
        int from = m_rig->busMessages().size();
        m_rig->boardSend(QStringLiteral("frame ") + version);
        QJsonObject mainboard;
        QVERIFY(m_rig->waitBusMessage(eventIs("GET_MAINBOARD_VERSION"), 10000, &mainboard, from));
        from = m_rig->busMessages().size();
        m_rig->boardSend(QStringLiteral("frame C1 02 14"));
        QJsonObject pen;
        QVERIFY(m_rig->waitBusMessage(eventIs("ID_ITEM_STROKE_SMOOTH"), 10000, &pen, from));
        QCOMPARE(pen.value("property").toObject().value("Width").toInt(), step.second);
    }
    // The fitting side too: width 10 is byte 20 on the 2018 screen now set.
    const int from = m_rig->boardReceivedCount();
    m_rig->sendToCentre(json(R"({"eventid":"ID_ZQ_PEN_PROPERTY_CHANGE","property":{"Width":10},"to":"MessageCenter"})"));
    QVERIFY(m_rig->waitBoardReceived(VelaCenterRig::frameOf(hex("C10214")), 10000, from));
    // Generation byte 12 reads as value 3: a business monitor.
    QVERIFY(m_rig->centreOutput().contains(QStringLiteral("slotLocalOperation \"ID_IS_BUSINESS_MONITORS\"")));
}

void TestVelaCenter::splitSerialCountsFromOne()
{
    VelaCenterRig rig;
    QVERIFY(startOwn(rig, quiet()));
    for (int n = 1; n <= 3; ++n) {
        const QByteArray bytes = payload(hex("E5") + char(n), 22);
        const int from = rig.boardReceivedCount();
        rig.sendToCentre(VelaCenterRig::eventAny(bytes, QStringLiteral("ID_APP_VELACENTER")));
        int marker = -1;
        QVERIFY(flush(rig, &marker));
        const QList<QByteArray> parts = withoutPolling(rig.boardReceived().mid(from, marker - from));
        QCOMPARE(parts.size(), 2);
        QCOMPARE(int(parts.at(0).at(6)), n);
        QCOMPARE(int(parts.at(1).at(6)), n);
    }
}

void TestVelaCenter::startupFramesInOrder_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QList<QByteArray>>("expected");
    QTest::newRow("link version 2") << "v2"
        << (QList<QByteArray>{kTestFrame, kHeartFrame, kVersionAck} + kStartupFrames);
    QTest::newRow("link version 1") << "v1"
        << (QList<QByteArray>{kTestFrame, kHeartFrame} + kStartupFrames);
}

void TestVelaCenter::startupFramesInOrder()
{
    QFETCH(QString, mode);
    QFETCH(QList<QByteArray>, expected);
    VelaCenterRig rig;
    VelaCenterRig::Options options;
    options.boardMode = mode;
    QVERIFY(startOwn(rig, options));
    QCOMPARE(withoutPolling(rig.boardReceived()), expected);
    const QString output = rig.centreOutput();
    // Link version 1 starts the board driver from its package folder.
    const QString driver =
        QStringLiteral("/opt/apps/com.tavolix.veladriver/files/Release/Linux/Own/board_driver.sh");
    QCOMPARE(output.contains(driver), mode == QLatin1String("v1"));
}

void TestVelaCenter::discVersionSwitchesToVersion2()
{
    VelaCenterRig rig;
    VelaCenterRig::Options options = quiet();
    options.boardMode = QStringLiteral("v1");
    QVERIFY(startOwn(rig, options));
    const QByteArray bytes = payload(hex("E6E6"), 22);
    const QByteArray frame = VelaCenterRig::frameOf(bytes);
    QCOMPARE(frame.size(), 33);

    // Version 1: long commands leave whole.
    int from = rig.boardReceivedCount();
    rig.sendToCentre(VelaCenterRig::eventAny(bytes, QStringLiteral("ID_APP_VELACENTER")));
    int marker = -1;
    QVERIFY(flush(rig, &marker));
    QCOMPARE(withoutPolling(rig.boardReceived().mid(from, marker - from)), QList<QByteArray>{frame});

    // The board announces version 2 ("DISC_VERSION" of the whiteboard table).
    from = rig.boardReceivedCount();
    const int busFrom = rig.busMessages().size();
    rig.boardSend(QStringLiteral("frame C1 31"));
    QVERIFY(rig.waitBoardReceived(kVersionAck, 10000, from));
    // A local event: it went to the local operator, not up the bus.
    QVERIFY(!rig.waitBusMessage(eventIs("DISC_VERSION"), 0, nullptr, busFrom));

    from = rig.boardReceivedCount();
    rig.sendToCentre(VelaCenterRig::eventAny(bytes, QStringLiteral("ID_APP_VELACENTER")));
    QVERIFY(flush(rig, &marker));
    const QList<QByteArray> parts = withoutPolling(rig.boardReceived().mid(from, marker - from));
    QCOMPARE(parts.size(), 2);
    QCOMPARE(quint8(parts.at(0).at(3)), quint8(0xA3));
    QCOMPARE(int(parts.at(0).at(1)), 29);
    QCOMPARE(int(parts.at(1).at(1)), 9);
}

void TestVelaCenter::nothingReachesBoardBeforeLink()
{
    VelaCenterRig rig;
    VelaCenterRig::Options options = quiet();
    options.boardMode = QStringLiteral("silent");
    options.waitForLink = false;
    QVERIFY(startOwn(rig, options));
    const QByteArray early = hex("E7E7E7");
    QCOMPARE(rig.sendToCentre(VelaCenterRig::eventAny(early, QStringLiteral("ID_APP_VELACENTER"))), 0);
    // Wait for the centre's second attempt, then let the board answer.
    QVERIFY(rig.waitBoardReceived(kTestFrame, 15000, 1));
    rig.boardSend(QStringLiteral("mode v2"));
    QVERIFY(rig.waitForLink(20000));
    QVERIFY(flush(rig));
    for (const QByteArray &frame : rig.boardReceived()) {
        QVERIFY2(frame != VelaCenterRig::frameOf(early), frame.toHex(' ').constData());
    }
    // Before the acknowledgement only handshake frames went out.
    const int ack = rig.boardReceived().indexOf(kVersionAck);
    QVERIFY(ack > 0);
    for (const QByteArray &frame : rig.boardReceived().mid(0, ack))
        QVERIFY2(frame == kTestFrame || frame == kHeartFrame, frame.toHex(' ').constData());
    QCOMPARE(withoutPolling(rig.boardReceived().mid(ack + 1, 5)).mid(0, 4), kStartupFrames);
}

void TestVelaCenter::loggingTable_data()
{
    QTest::addColumn<QString>("log");
    QTest::addColumn<QString>("needLogLine");
    QTest::addColumn<QStringList>("files");
    QTest::newRow("NeedLog 1, no Level") << "[Log]\nNeedLog=1\n" << "needLog 1" << QStringList{};
    QTest::newRow("NeedLog 1, error") << "[Log]\nNeedLog=1\nLevel=error\n" << "needLog 1" << QStringList{};
    QTest::newRow("NeedLog 1, debug") << "[Log]\nNeedLog=1\nLevel=debug\n" << "needLog 1"
                                      << QStringList{"debug.txt"};
    QTest::newRow("NeedLog 1, all") << "[Log]\nNeedLog=1\nLevel=all\n" << "needLog 1"
                                    << QStringList{"debug.txt"};
    QTest::newRow("NeedLog 1, DEBUG") << "[Log]\nNeedLog=1\nLevel=DEBUG\n" << "needLog 1" << QStringList{};
    QTest::newRow("NeedLog 2") << "[Log]\nNeedLog=2\nLevel=all\n" << "needLog 2" << QStringList{};
    QTest::newRow("NeedLog yes") << "[Log]\nNeedLog=yes\nLevel=all\n" << "needLog 0" << QStringList{};
}

void TestVelaCenter::loggingTable()
{
    QFETCH(QString, log);
    QFETCH(QString, needLogLine);
    QFETCH(QStringList, files);
    VelaCenterRig rig;
    // A file of an earlier run in the logger's folder.
    QVERIFY(QDir().mkpath(rig.logDir()));
    QFile stale(rig.logDir() + QStringLiteral("/debug.txt"));
    QVERIFY(stale.open(QIODevice::WriteOnly));
    stale.write("earlier run\r\n");
    stale.close();

    VelaCenterRig::Options options;
    options.extraIni = log;
    QVERIFY(startOwn(rig, options));
    QVERIFY(flush(rig));

    const bool loggerOn = needLogLine == QLatin1String("needLog 1");
    const QString output = rig.centreOutput();
    QVERIFY2(output.contains(needLogLine), qPrintable(output.left(2000)));
    // Once the logger is on, diagnostics go to the files only.
    QCOMPARE(output.contains(QStringLiteral("check port")), !loggerOn);

    QDir dir(rig.logDir());
    QStringList present = dir.entryList(QDir::Files, QDir::Name);
    if (loggerOn) {
        // The earlier run's files were cleared at start-up. With "all", other
        // levels may have something to say too; debug lines are always there.
        if (log.contains(QStringLiteral("Level=all\n")))
            QVERIFY2(present.contains(QStringLiteral("debug.txt")), qPrintable(present.join(' ')));
        else
            QCOMPARE(present, files);
    } else {
        QCOMPARE(present, QStringList{"debug.txt"});
        QFile f(dir.filePath("debug.txt"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("earlier run\r\n"));
        return;
    }
    if (files.contains(QStringLiteral("debug.txt"))) {
        QFile f(dir.filePath("debug.txt"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(f.readAll());
        QVERIFY(!text.contains(QStringLiteral("earlier run")));
        QVERIFY(!text.contains(QStringLiteral("needLog")));
        QVERIFY(text.contains(QStringLiteral(" DEBUG: check port\r\n")));
        QVERIFY(text.contains(QStringLiteral(" DEBUG: 串口适配成功 2\r\n")));
        QVERIFY(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d:\\d\\d \\d\\d\\d DEBUG: ")).match(text).hasMatch());
    }
}

void TestVelaCenter::failedCheckWaitsForReCheck()
{
    VelaCenterRig rig;
    VelaCenterRig::Options options;
    options.portName = rig.folder() + QStringLiteral("/no-such-port");
    options.waitForLink = false;
    QVERIFY(startOwn(rig, options));
    // Three failed opens, three seconds apart, then the hub waits 180 s.
    QTRY_VERIFY_WITH_TIMEOUT(rig.centreOutput().contains(QStringLiteral("next check in 180 s")), 20000);
    const int attempts = rig.centreOutput().count(QStringLiteral("check port"));
    QTest::qWait(4000);
    QCOMPARE(rig.centreOutput().count(QStringLiteral("check port")), attempts);
    QCOMPARE(rig.centre().state(), QProcess::Running);
    QVERIFY(rig.boardReceived().isEmpty());
}

void TestVelaCenter::boardLostAfterLinkUp()
{
    VelaCenterRig rig;
    QVERIFY(startOwn(rig, quiet()));
    // The board goes away: the pseudo-terminal closes under the centre.
    rig.boardSend(QStringLiteral("quit"));
    QTest::qWait(500);
    QCOMPARE(rig.sendToCentre(VelaCenterRig::eventAny(hex("E8E8"), QStringLiteral("ID_APP_VELACENTER"))), 0);
    QTest::qWait(500);
    QCOMPARE(rig.centre().state(), QProcess::Running);
    // The bus hub inside the centre still routes between applications.
    QCOMPARE(rig.busSend(QString::fromLatin1(VelaCenterRig::kClientId), QStringLiteral("{\"to\":\"self\"}")), 0);
    QTRY_VERIFY_WITH_TIMEOUT(rig.busMessages().contains(QStringLiteral("{\"to\":\"self\"}")), 10000);
}

void TestVelaCenter::cleanStopOnSigterm()
{
    VelaCenterRig rig;
    QVERIFY(startOwn(rig, VelaCenterRig::Options()));
    QVERIFY(flush(rig));
    ::kill(pid_t(rig.centre().processId()), SIGTERM);
    // The stop keeps the hub up for ten seconds after the centre's client left.
    QVERIFY(rig.centre().waitForFinished(30000));
    QCOMPARE(rig.centre().exitStatus(), QProcess::NormalExit);
    const QString output = rig.centreOutput();
    // A sanitizer build reports leaks of system libraries at exit (exit code
    // 1); a leak in this project's code would name one of its source files.
    const bool foreignLeaksOnly = output.contains(QStringLiteral("ERROR: LeakSanitizer"))
                                  && !output.contains(QStringLiteral(VELA_SOURCE_DIR "/"));
    if (!foreignLeaksOnly)
        QCOMPARE(rig.centre().exitCode(), 0);
    QVERIFY2(output.contains(QStringLiteral("stop signal 15")), qPrintable(output.right(2000)));
    QVERIFY2(output.contains(QStringLiteral("work threads stopped")), qPrintable(output.right(2000)));
    QVERIFY2(!output.contains(QStringLiteral("Destroyed while thread")), qPrintable(output.right(2000)));
}

// More commands at once than the serial writer holds (6000): the line keeps
// draining in order at its pace, and SIGTERM still stops the centre in the
// usual time although thousands of commands wait.
void TestVelaCenter::burstBeyondWriterQueue()
{
    VelaCenterRig rig;
    QVERIFY(startOwn(rig, quiet()));
    const int from = rig.boardReceivedCount();
    const int count = 6500;
    const auto numbered = [](int i) { return hex("E8E9") + QByteArray(1, char(i >> 8)) + QByteArray(1, char(i)); };
    for (int i = 0; i < count; ++i)
        QCOMPARE(rig.sendToCentre(VelaCenterRig::eventAny(numbered(i), QStringLiteral("ID_APP_VELACENTER"))), 0);
    // Time for the whole burst to reach the centre and fill the queue.
    QTest::qWait(3000);
    const int early = rig.boardReceivedCount();
    QTest::qWait(3000);
    const int late = rig.boardReceivedCount();
    // 20 frames a second are due; a loaded machine may lag a little, the
    // writer is never faster.
    QVERIFY2(late - early >= 40 && late - early <= 62,
             qPrintable(QStringLiteral("%1 frames in 3 s").arg(late - early)));
    // The shortcut module's screen-information requests, which start with
    // the link, may be among them.
    const QList<QByteArray> got = withoutPolling(rig.boardReceived().mid(from));
    for (int i = 0; i < got.size(); ++i)
        QCOMPARE(got.at(i), VelaCenterRig::frameOf(numbered(i)));

    ::kill(pid_t(rig.centre().processId()), SIGTERM);
    // The usual stop, with the same bound as the clean-stop case: the hub
    // stays up ten seconds after the centre's client left.
    QVERIFY2(rig.centre().waitForFinished(30000), "the centre did not stop");
    QCOMPARE(rig.centre().exitStatus(), QProcess::NormalExit);
}

void TestVelaCenter::busListenAddress_data()
{
    QTest::addColumn<bool>("listenAll");
    QTest::newRow("this panel only by default") << false;
    QTest::newRow("every address with Bus/ListenAll=1") << true;
}

void TestVelaCenter::busListenAddress()
{
    QFETCH(bool, listenAll);
    VelaCenterRig own;
    VelaCenterRig *rig = m_rig;
    if (listenAll) {
        VelaCenterRig::Options options;
        options.extraIni = QStringLiteral("[Bus]\nListenAll=1\n");
        options.waitForLink = false;
        QVERIFY(startOwn(own, options));
        rig = &own;
    } else {
        QVERIFY(startShared());
        rig = m_rig;
    }
    // 127.0.0.2 is this machine too, but not 127.0.0.1: it stands for any
    // other address of the panel.
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(23334);
    ::inet_pton(AF_INET, "127.0.0.2", &addr.sin_addr);
    const bool reached = ::connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0;
    ::close(fd);
    QCOMPARE(reached, listenAll);
    // The centre's output is read as it comes: give the warning its moment.
    QTRY_COMPARE_WITH_TIMEOUT(rig->centreOutput().contains(QStringLiteral("bus hub open to every address")),
                              listenAll, listenAll ? 3000 : 0);
}

void TestVelaCenter::busAdmitsItsUsers_data()
{
    QTest::addColumn<QString>("allowUsers");   // [Bus] AllowUsers, none if empty
    QTest::addColumn<bool>("admitted");        // a program of uid 65534 (nobody)
    QTest::newRow("the centre's own user only") << QString() << false;
    QTest::newRow("AllowUsers names the user") << "daemon, nobody" << true;
    QTest::newRow("AllowUsers names others") << "daemon" << false;
}

void TestVelaCenter::busAdmitsItsUsers()
{
    QFETCH(QString, allowUsers);
    QFETCH(bool, admitted);
    VelaCenterRig own;
    VelaCenterRig *rig = m_rig;
    if (allowUsers.isEmpty()) {
        QVERIFY(startShared());
        rig = m_rig;
    } else {
        VelaCenterRig::Options options;
        options.extraIni = QStringLiteral("[Bus]\nAllowUsers=%1\n").arg(allowUsers);
        options.waitForLink = false;
        QVERIFY(startOwn(own, options));
        rig = &own;
    }
    const bustest::AsUser got = bustest::connectAsUser(65534, 65534, ZQIPC::busPort(), bustest::frame("ID_TST_NOBODY"));
    QCOMPARE(got, admitted ? bustest::AsUser::Greeted : bustest::AsUser::Closed);
    if (!admitted)
        QTRY_VERIFY_WITH_TIMEOUT(rig->centreOutput().contains(QStringLiteral("uid 65534")), 3000);
}

QTEST_GUILESS_MAIN(TestVelaCenter)
#include "tst_velacenter.moc"
