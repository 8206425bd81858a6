#include "velacenterrig.h"

#include "zqserialcapture.h"

#include <QFile>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// What the board does in the captured run: pass-through frames, table
// events, a request the centre answers on the line, a message in two part
// frames, and the answer to the screen-information request.
const QStringList kBoardScript = {
    QStringLiteral("frame E9 01"),
    QStringLiteral("sleep 300"),
    QStringLiteral("frame C3 01 01"),
    QStringLiteral("sleep 300"),
    QStringLiteral("frame E3 08"),
    QStringLiteral("sleep 300"),
    QStringLiteral("7F 0A 99 A3 02 00 11 FF E4 01 AA BB CF"),
    QStringLiteral("7F 09 99 A3 02 01 11 FF E4 01 CC CF"),
    QStringLiteral("sleep 300"),
    QStringLiteral("frame E3 04 61 2D 31"),
    QStringLiteral("sleep 300"),
    QStringLiteral("frame C3 02 32"),
    QStringLiteral("sleep 300"),
    QStringLiteral("frame E9 02 CF 7F CF 00"),
};

bool lastOfScript(const QJsonObject &o)
{
    return o.value(QStringLiteral("param")).toString() == QString::fromLatin1(QByteArray::fromHex("E902CF7FCF00").toBase64());
}

// The bus messages of a run without the centre's link-state messages, which
// follow the board's coming and going (the replaying board ends, and the
// first one may be published before the rig's listener is in).
QStringList withoutLinkState(const QStringList &messages)
{
    QStringList kept;
    for (const QString &m : messages) {
        if (!m.contains(QLatin1String("\"SERIAL_LINK_STATE\"")))
            kept << m;
    }
    return kept;
}

} // namespace

// A capture of the serial line taken from one run of velacenter and played
// back by boardsim into a fresh centre: the bus carries the same messages,
// and the comparison of the centre's frames with the capture's names what
// differs.
class TestCaptureReplay : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void replay_data();
    void replay();

private:
    QTemporaryDir m_dir;
    QString m_capture;
    QStringList m_captured; // bus messages of the captured run
};

void TestCaptureReplay::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_capture = m_dir.filePath(QStringLiteral("line.txt"));
    VelaCenterRig rig;
    VelaCenterRig::Options options;
    options.args = QStringList{QStringLiteral("--capture"), m_capture};
    QVERIFY2(rig.start(options), qPrintable(rig.error()));
    const int from = rig.busMessages().size();
    for (const QString &line : kBoardScript)
        rig.boardSend(line);
    QVERIFY(rig.waitBusMessage(lastOfScript, 15000, nullptr, from));
    QTest::qWait(500); // the centre's last answers on the line
    m_captured = withoutLinkState(rig.busMessages());
    QCOMPARE(m_captured.size(), 5);

    QFile f(m_capture);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const ZQSerialCapture::Parsed p = ZQSerialCapture::parse(QString::fromUtf8(f.readAll()));
    QVERIFY2(p.errors.isEmpty(), qPrintable(p.errors.join('\n')));
    QCOMPARE(p.linkUps.size(), 1);
    int fromBoard = 0;
    for (const ZQSerialCapture::Entry &e : p.entries)
        fromBoard += e.direction == ZQSerialCapture::FromBoard;
    QCOMPARE(fromBoard, 2 + 8); // the handshake answers, the script's frames
}

void TestCaptureReplay::replay_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("extra"); // a command the test sends to the board, unless empty
    QTest::addColumn<int>("exitCode");
    const QStringList compare{QStringLiteral("--compare"), QStringLiteral("--ignore"), QStringLiteral("E3 04")};
    QTest::newRow("at the captured pace") << compare << QByteArray() << 0;
    QTest::newRow("twice as fast") << compare + QStringList{QStringLiteral("--speed"), QStringLiteral("2")}
                                   << QByteArray() << 0;
    QTest::newRow("a command the capture does not have") << compare << QByteArray::fromHex("E777") << 3;
}

void TestCaptureReplay::replay()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, extra);
    QFETCH(int, exitCode);
    VelaCenterRig rig;
    VelaCenterRig::Options options;
    options.boardArgs = QStringList{QStringLiteral("--replay"), m_capture} + args;
    QVERIFY2(rig.start(options), qPrintable(rig.error()));
    if (!extra.isEmpty())
        QCOMPARE(rig.sendToCentre(VelaCenterRig::eventAny(extra, QStringLiteral("ID_APP_VELACENTER"))), 0);
    QVERIFY(rig.waitBusMessage(lastOfScript, 15000));
    QTRY_COMPARE_WITH_TIMEOUT(rig.board().state(), QProcess::NotRunning, 15000);
    const QString said = rig.boardOutput().join(QLatin1Char('\n'));
    QCOMPARE(rig.board().exitCode(), exitCode);
    QCOMPARE(withoutLinkState(rig.busMessages()), m_captured);
    const QStringList diffs = rig.boardOutput().filter(QStringLiteral("] DIFF "));
    if (extra.isEmpty()) {
        QVERIFY2(diffs.isEmpty(), qPrintable(said));
        QVERIFY2(said.contains(QStringLiteral("; 0 differences")), qPrintable(said));
    } else {
        QCOMPARE(diffs.size(), 1);
        QVERIFY2(diffs.first().contains(QStringLiteral("the PC sent 7F 08 99 A2 B3 C4 02 FF E7 77 CF, which the capture does not have")),
                 qPrintable(said));
    }
}

QTEST_GUILESS_MAIN(TestCaptureReplay)
#include "tst_capturereplay.moc"
