#include "boardsimprocess.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>

namespace {
QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

const QString Program = QStringLiteral(VELA_BIN_DIR "/boardsim");

// Reads from the simulator's line until `bytes` bytes have come.
QByteArray readLine(QSerialPort &port, int bytes, int timeoutMs)
{
    QByteArray got;
    QElapsedTimer t;
    t.start();
    while (got.size() < bytes && t.elapsed() < timeoutMs) {
        port.waitForReadyRead(50);
        got += port.readAll();
    }
    return got;
}
} // namespace

class TstBoardSim : public QObject
{
    Q_OBJECT
private slots:
    void pathFileAndLink();
    void scriptAndScenario();
    void printsWhatItReceives();
    void replayCapture_data();
    void replayCapture();
};

// The path is on the first line, in the --pty-file file and behind --link;
// the link goes when the simulator ends with its input.
void TstBoardSim::pathFileAndLink()
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("path.txt"));
    const QString link = dir.filePath(QStringLiteral("board"));
    QProcess p;
    p.start(Program, {QStringLiteral("--quit-on-eof"), QStringLiteral("--pty-file"), file, QStringLiteral("--link"), link});
    QVERIFY(p.waitForReadyRead(5000));
    const QByteArray first = p.readLine().trimmed();
    QVERIFY2(first.startsWith("PTY /dev/"), first.constData());
    const QString path = QString::fromLocal8Bit(first.mid(4));
    QFile f(file);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromLocal8Bit(f.readAll().trimmed()), path);
    QCOMPARE(QFileInfo(link).symLinkTarget(), path);
    QSerialPort port(link);
    QVERIFY2(port.open(QIODevice::ReadWrite), qPrintable(port.errorString()));
    port.close();
    p.closeWriteChannel();
    QVERIFY(p.waitForFinished(5000));
    QCOMPARE(p.exitCode(), 0);
    QVERIFY(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink());
}

// Script lines run in order, sleeps hold back what follows, scenarios expand.
void TstBoardSim::scriptAndScenario()
{
    QTemporaryDir dir;
    const QString script = dir.filePath(QStringLiteral("s.txt"));
    QFile f(script);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("# a comment\n"
            "sleep 300\n"
            "frame 70 0A\n"
            "sleep 400\n"
            "scenario burst\n"
            "7F:08:99:A2:B3:C4:02:FF:70:0B:CF\n");
    f.close();
    BoardSimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--script"), script}));
    QSerialPort port(sim.path());
    QVERIFY(port.open(QIODevice::ReadWrite));
    QElapsedTimer t;
    t.start();
    QByteArray got = readLine(port, 11, 3000);
    QCOMPARE(got, hex("7F 08 99 A2 B3 C4 02 FF 70 0A CF"));
    const qint64 firstAt = t.elapsed();
    got = readLine(port, 44, 3000);
    QVERIFY2(t.elapsed() - firstAt >= 300, "sleep 400 not honoured");
    QCOMPARE(got, hex("7F 08 99 A2 B3 C4 02 FF 70 01 CF 7F 08 99 A2 B3 C4 02 FF 70 02 CF "
                      "7F 08 99 A2 B3 C4 02 FF 70 03 CF 7F 08 99 A2 B3 C4 02 FF 70 0B CF"));
}

// What the PC sends shows up as RX lines with the line's settings; bytes that
// belong to no frame as JUNK.
void TstBoardSim::printsWhatItReceives()
{
    BoardSimProcess sim;
    QVERIFY(sim.start({QStringLiteral("--mode"), QStringLiteral("silent")}));
    QSerialPort port(sim.path());
    QVERIFY(port.open(QIODevice::ReadWrite));
    QVERIFY(port.setBaudRate(57600));
    QVERIFY(port.setStopBits(QSerialPort::TwoStop));
    const QByteArray frame = hex("7F 0A 99 A2 B3 C4 02 FF F1 01 FF FF CF");
    port.write(hex("00 13") + frame);
    QVERIFY(port.waitForBytesWritten(1000));
    QTRY_COMPARE_WITH_TIMEOUT(sim.received(frame).size(), 1, 3000);
    const auto r = sim.received(frame).first();
    QCOMPARE(r.baud, 57600);
    QCOMPARE(r.stopBits, QStringLiteral("2"));
    QVERIFY(sim.output().filter(QRegularExpression(QStringLiteral("\\] JUNK 00 13$"))).size() == 1);
}

namespace {
// A capture as a person might have trimmed it: no wall clock, a link that
// was lost (what follows the loss is not played).
const char kCapture[] =
    "# trimmed by hand\n"
    "+0.000 PC 7F 08 99 A2 B3 C4 02 FF 01 49 CF\n"
    "+0.010 BOARD 7F 09 99 A2 B3 C4 02 FF 01 49 00 CF\n"
    "+1.000 PC 7F 09 99 A2 B3 C4 02 FF 0F 08 02 CF\n"
    "+1.005 BOARD 7F 08 99 A2 B3 C4 02 FF 0F 08 CF\n"
    "+1.006 PC 7F 09 99 A2 B3 C4 02 FF 0F 08 01 CF\n"
    "# +1.006 link up, version 2\n"
    "+1.010 PC 7F 08 99 A2 B3 C4 02 FF 0F 01 CF\n"         // line 8
    "+1.300 BOARD 7F 08 99 A2 B3 C4 02 FF 70 01 CF\n"
    "+1.310 PC 7F 08 99 A2 B3 C4 02 FF 71 01 CF\n"         // line 10
    "+2.300 BOARD 7F 08 99 A2 B3 C4 02 FF 70 02 CF\n"
    "+2.310 PC 7F 08 99 A2 B3 C4 02 FF 71 02 CF\n"         // line 12
    "+2.320 PC 7F 08 99 A2 B3 C4 02 FF E3 04 CF\n"         // line 13
    "# +3.000 link lost\n"
    "+9.000 BOARD 7F 08 99 A2 B3 C4 02 FF 70 09 CF\n";

QByteArray command(const char *bytes)
{
    return hex("7F 08 99 A2 B3 C4 02 FF") + hex(bytes) + hex("CF");
}
} // namespace

void TstBoardSim::replayCapture_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QList<QByteArray>>("sent"); // by the PC once the link is up
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QStringList>("diffs");
    QTest::addColumn<int>("minMs"); // from the link to the board's second frame (captured: 1.294 s)
    QTest::addColumn<int>("maxMs");
    const QStringList ignore{QStringLiteral("--ignore"), QStringLiteral("E3 04")};
    const QList<QByteArray> asCaptured{command("0F 01"), command("71 01"), command("71 02")};
    QTest::newRow("as captured") << ignore << asCaptured << 0 << QStringList{} << 1250 << 100000;
    QTest::newRow("twice as fast") << ignore + QStringList{QStringLiteral("--speed"), QStringLiteral("2")} << asCaptured
                                   << 0 << QStringList{} << 600 << 1100;
    QTest::newRow("a timed request not ignored")
        << QStringList{} << asCaptured << 3
        << QStringList{"capture line 13: the PC did not send 7F 08 99 A2 B3 C4 02 FF E3 04 CF"} << 1250 << 100000;
    QTest::newRow("one sent in place of another")
        << ignore << QList<QByteArray>{command("0F 01"), command("71 01"), command("71 03")} << 3
        << QStringList{"capture line 12: the PC sent 7F 08 99 A2 B3 C4 02 FF 71 03 CF instead of 7F 08 99 A2 B3 C4 02 FF 71 02 CF"}
        << 1250 << 100000;
    QTest::newRow("one more than captured")
        << ignore << QList<QByteArray>{command("0F 01"), command("71 01"), command("72 00"), command("71 02")} << 3
        << QStringList{"after capture line 10: the PC sent 7F 08 99 A2 B3 C4 02 FF 72 00 CF, which the capture does not have"}
        << 1250 << 100000;
    QTest::newRow("one missing") << ignore << QList<QByteArray>{command("0F 01"), command("71 02")} << 3
                                 << QStringList{"capture line 10: the PC did not send 7F 08 99 A2 B3 C4 02 FF 71 01 CF"}
                                 << 1250 << 100000;
}

// boardsim --replay answers the handshake as the captured board did, plays
// the board's frames of the captured link at their pace, and with --compare
// names each frame of the PC that differs from the capture; its exit status
// says whether any did.
void TstBoardSim::replayCapture()
{
    QFETCH(QStringList, args);
    QFETCH(QList<QByteArray>, sent);
    QFETCH(int, exitCode);
    QFETCH(QStringList, diffs);
    QFETCH(int, minMs);
    QFETCH(int, maxMs);
    QTemporaryDir dir;
    const QString capture = dir.filePath(QStringLiteral("line.txt"));
    QFile f(capture);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(kCapture);
    f.close();
    BoardSimProcess sim;
    QVERIFY(sim.start(QStringList{QStringLiteral("--replay"), capture, QStringLiteral("--compare")} + args));
    QSerialPort port(sim.path());
    QVERIFY(port.open(QIODevice::ReadWrite));
    // The PC's side of the handshake, as velacenter does it.
    port.write(hex("7F 08 99 A2 B3 C4 02 FF 01 49 CF"));
    QCOMPARE(readLine(port, 12, 3000), hex("7F 09 99 A2 B3 C4 02 FF 01 49 00 CF"));
    port.write(hex("7F 09 99 A2 B3 C4 02 FF 0F 08 02 CF"));
    QCOMPARE(readLine(port, 11, 3000), hex("7F 08 99 A2 B3 C4 02 FF 0F 08 CF"));
    port.write(hex("7F 09 99 A2 B3 C4 02 FF 0F 08 01 CF"));
    QVERIFY(port.waitForBytesWritten(1000));
    QElapsedTimer sinceLink;
    sinceLink.start();
    for (const QByteArray &frame : sent) {
        port.write(frame);
        QVERIFY(port.waitForBytesWritten(1000));
        QTest::qWait(60);
    }
    QCOMPARE(readLine(port, 11, 3000), command("70 01"));
    QCOMPARE(readLine(port, 11, 3000), command("70 02"));
    const qint64 second = sinceLink.elapsed();
    QVERIFY2(second >= minMs && second < maxMs, qPrintable(QStringLiteral("the second frame %1 ms after the link").arg(second)));
    QCOMPARE(sim.waitForEnd(10000), exitCode);
    // Nothing of the capture after its lost link.
    QVERIFY(sim.output().filter(QStringLiteral("70 09")).isEmpty());
    QStringList seen;
    for (const QString &line : sim.output()) {
        const int at = line.indexOf(QStringLiteral("] DIFF "));
        if (at >= 0)
            seen << line.mid(at + 7);
    }
    QCOMPARE(seen, diffs);
}

QTEST_GUILESS_MAIN(TstBoardSim)
#include "tst_boardsim.moc"
