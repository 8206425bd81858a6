#include "velacenterrig.h"
#include "zqboardframe.h"
#include "zqipc.h"
#include "zqpretreatment.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QtTest>

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// A hardware reply as the board reads it: the sum byte counts 0xFF where the
// length byte stands.
QByteArray hardwareReply(quint8 command, const QByteArray &data)
{
    QByteArray frame = hex("7FFF99A2B3C402FFA0") + char(command) + '\0' + data;
    unsigned sum = 0;
    for (int i = 1; i < frame.size(); ++i)
        sum += quint8(frame.at(i));
    frame.append(char(sum)).append(char(0xCF));
    frame[1] = char(frame.size() - 3);
    return frame;
}

QByteArray littleEndian(quint32 v)
{
    return QByteArray(1, char(v)) + char(v >> 8) + char(v >> 16) + char(v >> 24);
}

quint32 memTotalGiB()
{
    QFile f(QStringLiteral("/proc/meminfo"));
    f.open(QIODevice::ReadOnly);
    const qint64 kib = QRegularExpression("MemTotal:\\s*(\\d+) kB").match(f.readAll()).captured(1).toLongLong();
    return quint32((kib + 1048575) / 1048576);
}

bool processGone(qint64 pid)
{
    // Gone, or a zombie nobody reaps (PID 1 of a container may not).
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    return !stat.open(QIODevice::ReadOnly) || stat.readAll().contains(") Z ");
}

} // namespace

// Pretreatment, custom channel and write acceleration through the real
// velacenter: the board simulator on a pseudo-terminal, bus clients of the
// test, and stand-ins for the system tools put in front of PATH so each case
// controls what the hardware questions read.
class TestHandWrittenModules : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void parseHardWareInfo_data();
    void parseHardWareInfo();
    void hardwareAnswers_data();
    void hardwareAnswers();
    void hangingToolIsBounded();
    void customChannel_data();
    void customChannel();
    void writeAcceleration_data();
    void writeAcceleration();

private:
    // Index of a marker frame sent after everything before it, less the
    // shortcut module's screen-information requests since `since` (it polls
    // the board until the board answers).
    int flush(int since);
    // Waits for a message of the centre whose "param" is the Base64 of bytes.
    bool waitParam(const QByteArray &bytes, int from, QJsonObject *found = nullptr);

    QTemporaryDir m_tools;
    VelaCenterRig m_rig;
    ZQIPC m_agent;
    QStringList m_agentRx;
    int m_marker = 0;
};

void TestHandWrittenModules::initTestCase()
{
    QLoggingCategory::setFilterRules(QStringLiteral("vela.ipc.debug=false"));
    QVERIFY(m_tools.isValid());
    const auto tool = [this](const QString &name, const QString &body) {
        QFile f(m_tools.filePath(name));
        f.open(QIODevice::WriteOnly);
        f.write(("#!/bin/sh\nD='" + m_tools.path() + "'\nCAT='" + QStandardPaths::findExecutable("cat") + "'\n"
                 + body + "\n").toUtf8());
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    };
    // cat reads D/root<path> where the case put one, else the real file.
    // A hanging cat leaves a grandchild of the shell that only a kill of the
    // whole process group reaches.
    tool("cat", "if [ -e \"$D/hang\" ]; then sleep 100 & echo $! > \"$D/hung.pid\"; wait; fi\n"
                "[ -e \"$D/root$1\" ] && exec \"$CAT\" \"$D/root$1\"\nexec \"$CAT\" \"$@\"");
    tool("lsblk", "[ -e \"$D/lsblk.out\" ] && exec \"$CAT\" \"$D/lsblk.out\"");
    tool("udevadm", "[ -e \"$D/udevadm.out\" ] && exec \"$CAT\" \"$D/udevadm.out\"; exit 1");
    VelaCenterRig::Options options;
    options.environment << "PATH=" + m_tools.path() + ":" + qEnvironmentVariable("PATH");
    QVERIFY2(m_rig.start(options), qPrintable(m_rig.error()));
    // Stands in for the stroke-acceleration agent.
    QVERIFY(m_agent.createTcpClient(QStringLiteral("ID_APP_VELASTROKEACCELERATE"), "127.0.0.1", 23334));
    m_agent.registerMsgAccept(QStringLiteral("ID_APP_VELACENTER"));
    connect(&m_agent, &ZQIPC::sigRecvInfo, this, [this](const QString &t) { m_agentRx << t; });
}

int TestHandWrittenModules::flush(int since)
{
    const QByteArray marker = hex("E9EE") + QByteArray::number(++m_marker);
    const int from = m_rig.boardReceivedCount();
    m_rig.sendToCentre(VelaCenterRig::eventAny(marker, QStringLiteral("ID_APP_VELACENTER")));
    if (!m_rig.waitBoardReceived(VelaCenterRig::frameOf(marker), 10000, from))
        return -1;
    const QList<QByteArray> frames = m_rig.boardReceived();
    const int at = frames.indexOf(VelaCenterRig::frameOf(marker), from);
    return at - frames.mid(since, at - since).count(hex("7F0899A2B3C402FFE304CF"));
}

bool TestHandWrittenModules::waitParam(const QByteArray &bytes, int from, QJsonObject *found)
{
    const QString param = QString::fromLatin1(bytes.toBase64());
    return m_rig.waitBusMessage([&](const QJsonObject &o) { return o.value("param").toString() == param; },
                                10000, found, from);
}

void TestHandWrittenModules::parseHardWareInfo_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QByteArray>("output");
    QTest::addColumn<QString>("fact");
    QTest::newRow("memory 7.66 GiB") << "memoryInfo" << QByteArray("MemTotal:        8032000 kB\n") << "8";
    QTest::newRow("memory 8 GiB exactly") << "memoryInfo" << QByteArray("MemTotal:        8388608 kB\n") << "8";
    QTest::newRow("memory not in kB") << "memoryInfo" << QByteArray("MemTotal: 8 GB\n") << "0";
    QTest::newRow("disk 238.5G") << "diskCapabilityBylsblk" << QByteArray("sda      8:0    0 238.5G  0 disk \n") << "256";
    QTest::newRow("disk decimal comma") << "diskCapabilityBylsblk" << QByteArray("sda 8:0 0 238,5G 0 disk\n") << "256";
    QTest::newRow("disk whole GiB") << "diskCapabilityBylsblk" << QByteArray("vda    254:0    0    64G  0 disk\n") << "69";
    QTest::newRow("disk no match") << "diskCapabilityBylsblk" << QByteArray("sda 8:0 0 1.8T 0 disk\n") << "0";
    QTest::newRow("cpu") << "cpuInfo" << QByteArray("      8 model name\t: Intel(R) Core(TM) i5-8250U CPU @ 1.60GHz\n")
                         << "Intel(R) Core(TM) i5-8250U CPU @ 1.60GHz";
    QTest::newRow("serial") << "diskSerial" << QByteArray("E: ID_SERIAL_SHORT=S3Z2NB0K\n") << "S3Z2NB0K";
    QTest::newRow("board name up to zero byte") << "boardName" << QByteArray("B460M\n\0junk", 11) << "B460M";
}

void TestHandWrittenModules::parseHardWareInfo()
{
    QFETCH(QString, key);
    QFETCH(QByteArray, output);
    QFETCH(QString, fact);
    QCOMPARE(ZQPretreatment::parseHardWareInfo(key, output), fact);
}

void TestHandWrittenModules::hardwareAnswers_data()
{
    QTest::addColumn<QString>("question");
    QTest::addColumn<QStringList>("files"); // name=content, below the tools folder
    QTest::addColumn<QByteArray>("reply");
    const QString board = "root/sys/devices/virtual/dmi/id/board_name=";
    QTest::newRow("presence") << "frame 01 8A" << QStringList()
                              << hex("7F1599A2B3C402FFA9A0236765744F7073537461746596CF");
    QTest::newRow("board name of 3") << "frame A0 A2" << QStringList{board + "ABC\n"}
                                     << hex("7F0D99A2B3C402FFA0A300414243BBCF");
    QTest::newRow("board name of 20") << "frame A0 A2" << QStringList{board + "ABCDEFGHIJKLMNOPQRST\n"}
                                      << hardwareReply(0xA3, "ABCDEFGHIJKLMNOP");
    QTest::newRow("processor") << "frame A0 A4"
                               << QStringList{"root/proc/cpuinfo=processor\t: 0\nmodel name\t: Vela CPU 9\n"
                                              "processor\t: 1\nmodel name\t: Vela CPU 9\n"}
                               << hardwareReply(0xA5, "Vela CPU 9");
    QTest::newRow("memory of this machine") << "frame A0 A6" << QStringList()
                                            << hardwareReply(0xA7, littleEndian(memTotalGiB()));
    QTest::newRow("disk with serial") << "frame A0 A8"
                                      << QStringList{"lsblk.out=sda 8:0 0 238.5G 0 disk\n",
                                                     "udevadm.out=E: ID_SERIAL_SHORT=S3Z2NB0K\n"}
                                      << hex("7F1699A2B3C402FFA0A9000001000053335A324E42304B19CF");
    QTest::newRow("disk without sda") << "frame A0 A8" << QStringList{"lsblk.out=vda 254:0 0 64G 0 disk\n"}
                                      << hardwareReply(0xA9, littleEndian(69));
    QTest::newRow("capability block") << "frame A0 AA" << QStringList()
                                      << hardwareReply(0xAB, hex("430700002300000023000000"));
    QTest::newRow("product SKU") << "frame A0 AC"
                                 << QStringList{"root/sys/devices/virtual/dmi/id/product_sku=SKU-1234\n"}
                                 << hardwareReply(0xAD, "SKU-1234");
    QTest::newRow("A0 A3 is no question") << "frame A0 A3" << QStringList() << QByteArray();
}

void TestHandWrittenModules::hardwareAnswers()
{
    QFETCH(QString, question);
    QFETCH(QStringList, files);
    QFETCH(QByteArray, reply);
    QDir(m_tools.filePath("root")).removeRecursively();
    for (const char *out : {"lsblk.out", "udevadm.out"})
        QFile::remove(m_tools.filePath(out));
    for (const QString &entry : files) {
        QFile f(m_tools.filePath(entry.section('=', 0, 0)));
        QDir().mkpath(QFileInfo(f).path());
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(entry.section('=', 1).toUtf8()) > 0);
    }
    const int from = m_rig.boardReceivedCount();
    const int busFrom = m_rig.busMessages().size();
    m_rig.boardSend(question);
    if (reply.isEmpty()) {
        // Not claimed: it passes through to the bus, and the board hears nothing.
        QVERIFY(waitParam(hex("A0A3"), busFrom));
        QCOMPARE(flush(from), from);
        return;
    }
    QVERIFY2(m_rig.waitBoardReceived(reply, 10000, from),
             qPrintable(m_rig.boardReceived().mid(from).value(0).toHex(' ')));
    if (question != "frame 01 8A") {
        // The sum holds for 0xFF in the length byte, not for the length itself.
        QCOMPARE(quint8(reply.at(1)), quint8(reply.size() - 3));
        QCOMPARE(hardwareReply(quint8(reply.at(9)), reply.mid(11, reply.size() - 13)), reply);
    }
}

void TestHandWrittenModules::hangingToolIsBounded()
{
    QFile hang(m_tools.filePath("hang"));
    QVERIFY(hang.open(QIODevice::WriteOnly));
    hang.close();
    const int from = m_rig.boardReceivedCount();
    const int busFrom = m_rig.busMessages().size();
    m_rig.boardSend("frame A0 A2");
    m_rig.boardSend("frame E9 51");
    // A hanging cat gives an empty board name within the bound, not after 100 s
    // (or three 30 s waits).
    QVERIFY(m_rig.waitBoardReceived(hardwareReply(0xA3, QByteArray()), 1500 + 3000, from));
    QFile::remove(hang.fileName());
    // The frame queued behind the question is served.
    QVERIFY(waitParam(hex("E951"), busFrom));
    // The tool was killed, not left behind.
    QFile pidFile(m_tools.filePath("hung.pid"));
    const qint64 pid = pidFile.open(QIODevice::ReadOnly) ? pidFile.readAll().trimmed().toLongLong() : 0;
    QVERIFY(pid > 0);
    QTRY_VERIFY_WITH_TIMEOUT(processGone(pid), 3000);
    QVERIFY(m_rig.centreOutput().contains("gave no answer within 1500 ms; killed"));
}

void TestHandWrittenModules::customChannel_data()
{
    QTest::addColumn<QString>("eventid");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("command");
    QTest::addColumn<QString>("receiver"); // empty: the board may not send on it
    QTest::newRow("bridge") << "VELABRIDGE_CHANNEL" << hex("010203") << 0xE1 << "ID_APP_VELABRIDGE";
    QTest::newRow("bridge, empty payload") << "VELABRIDGE_CHANNEL" << QByteArray() << 0xE1 << "ID_APP_VELABRIDGE";
    QTest::newRow("pc manager, frame bytes inside") << "ID_OPEX_MGR" << hex("7FCF0099") << 0xE2 << "ID_APP_VELAPCMANAGER";
    QTest::newRow("coordinates, down only") << "ID_DISC_COORDINATE" << hex("010203") << 0xE4 << "";
    QTest::newRow("set server") << "ID_SET_COOR" << hex("55") << 0xE5 << "ID_APP_SET_SERVER";
    QTest::newRow("too long for a frame") << "VELABRIDGE_CHANNEL" << QByteArray(249, 'x') << 0xE1 << "";
}

void TestHandWrittenModules::customChannel()
{
    QFETCH(QString, eventid);
    QFETCH(QByteArray, payload);
    QFETCH(int, command);
    QFETCH(QString, receiver);
    const QByteArray frame = ZQBoardFrame::buildUnchecked(char(command) + payload);
    if (eventid == "ID_DISC_COORDINATE")
        QCOMPARE(frame, hex("7F0A99A2B3C402FFE4010203CF"));
    const int from = m_rig.boardReceivedCount();
    QJsonObject down{{"eventid", eventid}, {"to", "ID_APP_VELACENTER"},
                     {"param", QString::fromLatin1(payload.toBase64())}};
    QCOMPARE(m_rig.sendToCentre(down), 0);
    if (payload.size() > 248) {
        QCOMPARE(flush(from), from);
        QVERIFY(m_rig.centreOutput().contains("payload of 249 bytes exceeds 248 bytes"));
        return;
    }
    QVERIFY(m_rig.waitBoardReceived(frame, 10000, from));

    // The board echoes the frame: up the same tunnel, or passed through for E4.
    const int busFrom = m_rig.busMessages().size();
    m_rig.boardSend("send " + frame.toHex(' '));
    QJsonObject up;
    QVERIFY(waitParam(receiver.isEmpty() ? frame.mid(8, frame.size() - 9) : payload, busFrom, &up));
    QCOMPARE(up.value("eventid").toString(), receiver.isEmpty() ? QStringLiteral("EVENT_ANY") : eventid);
    QCOMPARE(up.value("to").toString(), receiver.isEmpty() ? QStringLiteral("ID_APP_ANY") : receiver);
    QCOMPARE(up.value("from").toString(), QStringLiteral("ID_APP_VELACENTER"));
}

void TestHandWrittenModules::writeAcceleration_data()
{
    QTest::addColumn<QString>("request");   // board command bytes
    QTest::addColumn<QString>("property");  // the agent's answer
    QTest::addColumn<QString>("to");        // the answer's addressee
    QTest::addColumn<QByteArray>("frame");  // at the board; empty: nothing
    const QByteArray marker = hex("7F0D99A2B3C402FFE01100FF00000FCF");
    QTest::newRow("marker answer, whole frame")
        << "E01100FF00000F" << QString::fromLatin1(marker.toHex().toUpper()) << "ID_APP_VELACENTER" << marker;
    QTest::newRow("bare answer is framed") << "E01100FF00000F" << "E01100FF00000F" << "ID_APP_VELACENTER" << marker;
    QTest::newRow("other E0 command, not hex")
        << "E022" << "E011GG" << "ID_APP_VELACENTER" << hex("7F0999A2B3C402FFE01100CF");
    QTest::newRow("answer too long") << "E011" << QString(500, 'A') << "ID_APP_VELACENTER" << QByteArray();
    QTest::newRow("whole frame too long") << "E011" << "7F" + QString(516, 'A') << "ID_APP_VELACENTER" << QByteArray();
    QTest::newRow("empty answer") << "E011" << "" << "ID_APP_VELACENTER" << QByteArray();
    QTest::newRow("answer for MessageCenter") << "E011" << "E01100FF00000F" << "MessageCenter" << QByteArray();
}

void TestHandWrittenModules::writeAcceleration()
{
    QFETCH(QString, request);
    QFETCH(QString, property);
    QFETCH(QString, to);
    QFETCH(QByteArray, frame);
    const int agentFrom = m_agentRx.size();
    m_rig.boardSend("frame " + request);
    QTRY_VERIFY_WITH_TIMEOUT(m_agentRx.size() > agentFrom, 10000);
    const QJsonObject asked{{"eventid", "ID_INKDRAW"}, {"from", "ID_APP_VELACENTER"}, {"to", "ID_APP_INKDRAW"},
                            {"param", request}};
    QCOMPARE(QJsonDocument::fromJson(m_agentRx.at(agentFrom).toUtf8()).object(), asked);

    const QJsonObject answer{{"eventid", "ID_INKDRAW"}, {"from", "ID_SDK_STROKEACCELERATE"}, {"property", property},
                             {"scenario", "ID_SCENARIO_TEACHING"}, {"to", to}};
    const int from = m_rig.boardReceivedCount();
    QCOMPARE(m_agent.sentInfo(QStringLiteral("ID_APP_VELACENTER"), QString::fromUtf8(QJsonDocument(answer).toJson())), 0);
    if (!frame.isEmpty()) {
        QVERIFY(m_rig.waitBoardReceived(frame, 10000, from));
        return;
    }
    QCOMPARE(flush(from), from);
    if (property.size() > 400)
        QVERIFY(m_rig.centreOutput().contains(QStringLiteral("answer of %1 bytes does not fit one board frame")
                                                  .arg((property.size() + 1) / 2)));
}

QTEST_GUILESS_MAIN(TestHandWrittenModules)
#include "tst_handwrittenmodules.moc"
