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

QTEST_GUILESS_MAIN(TstBoardSim)
#include "tst_boardsim.moc"
