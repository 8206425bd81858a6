#include "boardsimprocess.h"
#include "privateappdir.h"
#include "zqmessagemanager.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSerialPortInfo>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <sys/resource.h>

namespace {
QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

// Replaces the version.ini beside this (private) copy of the test program.
void writeIni(const QVariantMap &com)
{
    const QString path = QCoreApplication::applicationDirPath() + QStringLiteral("/version.ini");
    QFile::remove(path);
    QSettings s(path, QSettings::IniFormat);
    for (auto it = com.cbegin(); it != com.cend(); ++it)
        s.setValue(QStringLiteral("COM/") + it.key(), it.value());
    s.sync();
}

double cpuSeconds()
{
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

const QByteArray PcFrame = hex("7F 0A 99 A2 B3 C4 02 FF F1 01 FF FF CF");
const QByteArray EarlyFrame = hex("7F 0A 99 A2 B3 C4 02 FF F1 50 FF FF CF");

QList<int> testFrameBauds(BoardSimProcess &sim)
{
    QList<int> bauds;
    const auto rx = sim.received(ZQMessageManager::TestFrame);
    for (const auto &r : rx)
        bauds << r.baud;
    return bauds;
}

// Counts log lines containing a text, from the serial link.
QStringList g_log;
QtMessageHandler g_previous = nullptr;
void collectLog(QtMsgType type, const QMessageLogContext &ctx, const QString &msg)
{
    g_log << msg;
    if (type != QtDebugMsg && g_previous)
        g_previous(type, ctx, msg);
}
int logged(const QString &text)
{
    int n = 0;
    for (const QString &l : qAsConst(g_log))
        n += l.contains(text);
    return n;
}
// A simulated board, version.ini pointing at it, and a manager watching it.
// The settings name a link of the test's own, which goes with the board: the
// terminal's own name may be handed to another test's board at once, and a
// manager looking for a board that went would find that one.
struct Rig
{
    QTemporaryDir dir;
    QString port = dir.filePath(QStringLiteral("board"));
    BoardSimProcess sim;
    std::unique_ptr<ZQMessageManager> manager;
    std::unique_ptr<QSignalSpy> up;
    std::unique_ptr<QSignalSpy> failed;
    std::unique_ptr<QSignalSpy> frames;

    bool start(const QStringList &simArgs, QVariantMap ini = {})
    {
        if (!sim.start(simArgs + QStringList{QStringLiteral("--link"), port}))
            return false;
        ini.insert(QStringLiteral("PortName"), port);
        writeIni(ini);
        manager = std::make_unique<ZQMessageManager>();
        up = std::make_unique<QSignalSpy>(manager.get(), &ZQMessageManager::serialPortSucces);
        failed = std::make_unique<QSignalSpy>(manager.get(), &ZQMessageManager::serialPortError);
        frames = std::make_unique<QSignalSpy>(manager.get(), &ZQMessageManager::onReturnMessage);
        return true;
    }
};

QStringList board(const char *mode)
{
    return {QStringLiteral("--mode"), QLatin1String(mode)};
}
} // namespace

class TstZQMessageManager : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void interfaceCast();
    void settingsMapping_data();
    void settingsMapping();
    void portDiscovery();
    void handshake_data();
    void handshake();
    void silentBoard();
    void noPort();
    void checkPortWhileLinked();
    void deviceVanishes();
    void deviceVanishesBeforeLink();
    void lostLinkComesBack();
    void recheckFindsPortNamedLater();
    void captureOfTheLine();
};

void TstZQMessageManager::initTestCase()
{
    QVERIFY2(qEnvironmentVariableIsSet("VELA_SERIAL_PRIVATE_COPY"), "must run from its private folder");
    g_previous = qInstallMessageHandler(collectLog);
    // The cases count the link's trace lines.
    QLoggingCategory::setFilterRules(QStringLiteral("vela.serial.debug=true"));
}

void TstZQMessageManager::init()
{
    g_log.clear();
}

void TstZQMessageManager::interfaceCast()
{
    writeIni({{QStringLiteral("PortName"), QStringLiteral("/dev/vela-no-such-port")}});
    ZQMessageManager manager;
    QObject *object = &manager;
    IZQMessageManager *iface = qobject_cast<IZQMessageManager *>(object);
    QVERIFY(iface);
    QCOMPARE(iface->getObject(), object);
    QCOMPARE(object->qt_metacast("IZQMessageManager"), static_cast<void *>(iface));
}

void TstZQMessageManager::settingsMapping_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("stopBits");
    QTest::addColumn<int>("flow");
    QTest::newRow("0") << 0 << 8 << int(QSerialPort::NoParity) << int(QSerialPort::OneStop)
                       << int(QSerialPort::NoFlowControl);
    QTest::newRow("1") << 1 << 8 << int(QSerialPort::NoParity) << int(QSerialPort::OneStop)
                       << int(QSerialPort::HardwareControl);
    QTest::newRow("2") << 2 << 8 << int(QSerialPort::EvenParity) << int(QSerialPort::TwoStop)
                       << int(QSerialPort::SoftwareControl);
    QTest::newRow("3") << 3 << 8 << int(QSerialPort::OddParity) << int(QSerialPort::OneAndHalfStop)
                       << int(QSerialPort::NoFlowControl);
    QTest::newRow("4") << 4 << 8 << int(QSerialPort::SpaceParity) << int(QSerialPort::OneStop)
                       << int(QSerialPort::NoFlowControl);
    QTest::newRow("5") << 5 << 5 << int(QSerialPort::MarkParity) << int(QSerialPort::OneStop)
                       << int(QSerialPort::NoFlowControl);
    QTest::newRow("6") << 6 << 6 << int(QSerialPort::NoParity) << int(QSerialPort::OneStop)
                       << int(QSerialPort::NoFlowControl);
    QTest::newRow("7") << 7 << 7 << int(QSerialPort::NoParity) << int(QSerialPort::OneStop)
                       << int(QSerialPort::NoFlowControl);
    QTest::newRow("9") << 9 << 8 << int(QSerialPort::NoParity) << int(QSerialPort::OneStop)
                       << int(QSerialPort::NoFlowControl);
    QTest::newRow("-1") << -1 << 8 << int(QSerialPort::UnknownParity) << int(QSerialPort::UnknownStopBits)
                        << int(QSerialPort::UnknownFlowControl);
}

// Values outside each setting's range fall back to 8N1 without flow control.
void TstZQMessageManager::settingsMapping()
{
    QFETCH(int, value);
    QFETCH(int, dataBits);
    QFETCH(int, parity);
    QFETCH(int, stopBits);
    QFETCH(int, flow);
    QCOMPARE(int(ZQMessageManager::dataBitsFor(value)), dataBits);
    QCOMPARE(int(ZQMessageManager::parityFor(value)), parity);
    QCOMPARE(int(ZQMessageManager::stopBitsFor(value)), stopBits);
    QCOMPARE(int(ZQMessageManager::flowControlFor(value)), flow);
}

// Without "COM/PortName" the port is the first valid one the system lists;
// with it, the named one.
void TstZQMessageManager::portDiscovery()
{
    writeIni({});
    QString first;
    const auto ports = QSerialPortInfo::availablePorts();
    for (const QSerialPortInfo &info : ports) {
        if (!info.isNull()) {
            first = info.portName();
            break;
        }
    }
    {
        ZQMessageManager manager;
        QCOMPARE(manager.portName(), first);
    }
    writeIni({{QStringLiteral("PortName"), QStringLiteral(" ttyVELA7 ")}});
    ZQMessageManager manager;
    QCOMPARE(manager.portName(), QStringLiteral("ttyVELA7"));
}

void TstZQMessageManager::handshake_data()
{
    QTest::addColumn<QStringList>("simArgs");
    QTest::addColumn<QVariantMap>("ini");
    QTest::addColumn<int>("version");
    QTest::addColumn<QList<int>>("bauds"); // line rate of each test frame; 0: any but the configured one
    QTest::addColumn<int>("minMs");        // from checkPort() to serialPortSucces()
    QTest::addColumn<QString>("stopBits");
    QTest::addColumn<QString>("flow");

    const QStringList v2{QStringLiteral("--mode"), QStringLiteral("v2")};
    QTest::newRow("version 2 board") << v2 << QVariantMap() << 2 << QList<int>{115200} << 1000
                                     << QStringLiteral("1") << QStringLiteral("none");
    QTest::newRow("version 1 board") << QStringList{QStringLiteral("--mode"), QStringLiteral("v1")} << QVariantMap()
                                     << 1 << QList<int>{115200} << 6000 << QStringLiteral("1")
                                     << QStringLiteral("none");
    QTest::newRow("heart answered, test frame not")
        << QStringList{QStringLiteral("--mode"), QStringLiteral("v2-heart-only")} << QVariantMap() << 2
        << QList<int>{115200} << 1000 << QStringLiteral("1") << QStringLiteral("none");
    QTest::newRow("board at 19200 only") << v2 + QStringList{QStringLiteral("--baud"), QStringLiteral("19200")}
                                         << QVariantMap() << 2 << QList<int>{115200, 19200} << 5000
                                         << QStringLiteral("1") << QStringLiteral("none");
    QTest::newRow("configured 57600") << v2 + QStringList{QStringLiteral("--baud"), QStringLiteral("57600")}
                                      << QVariantMap{{QStringLiteral("BaudRate"), 57600}} << 2 << QList<int>{57600}
                                      << 1000 << QStringLiteral("1") << QStringLiteral("none");
    QTest::newRow("two stop bits, hardware flow")
        << v2 << QVariantMap{{QStringLiteral("stopbits"), 2}, {QStringLiteral("flowcontrol"), 1}} << 2
        << QList<int>{115200} << 1000 << QStringLiteral("2") << QStringLiteral("hardware");
    QTest::newRow("14400, parity 1, stop bits 0, data bits 9")
        << v2 + QStringList{QStringLiteral("--baud"), QStringLiteral("115200")}
        << QVariantMap{{QStringLiteral("BaudRate"), 14400}, {QStringLiteral("parity"), 1},
                       {QStringLiteral("stopbits"), 0}, {QStringLiteral("databit"), 9}}
        << 2 << QList<int>{0, 19200, 115200} << 9000 << QStringLiteral("1") << QStringLiteral("none");
    QTest::newRow("baud rate not a number") << v2 << QVariantMap{{QStringLiteral("BaudRate"), QStringLiteral("fast")}}
                                            << 2 << QList<int>{115200} << 1000 << QStringLiteral("1")
                                            << QStringLiteral("none");
}

// Every way a board can answer: the link comes up with the right version at
// the right time, frames sent before that are dropped, and afterwards frames
// flow both ways.
void TstZQMessageManager::handshake()
{
    QFETCH(QStringList, simArgs);
    QFETCH(QVariantMap, ini);
    QFETCH(int, version);
    QFETCH(QList<int>, bauds);
    QFETCH(int, minMs);
    QFETCH(QString, stopBits);
    QFETCH(QString, flow);

    Rig rig;
    QVERIFY(rig.start(simArgs, ini));
    BoardSimProcess &sim = rig.sim;
    ZQMessageManager &manager = *rig.manager;
    QSignalSpy &up = *rig.up;
    QSignalSpy &failed = *rig.failed;
    QSignalSpy &frames = *rig.frames;
    manager.writeMsg(EarlyFrame); // no link yet: dropped

    QElapsedTimer clock;
    clock.start();
    manager.checkPort();
    QTRY_COMPARE_WITH_TIMEOUT(up.count(), 1, 20000);
    const qint64 upMs = clock.elapsed();
    QCOMPARE(up.at(0).at(0).toInt(), version);
    QCOMPARE(manager.linkVersion(), version);
    QCOMPARE(failed.count(), 0);
    QVERIFY2(upMs >= minMs - 100, qPrintable(QStringLiteral("link up after %1 ms").arg(upMs)));
    QVERIFY2(upMs < minMs + 3000, qPrintable(QStringLiteral("link up after %1 ms").arg(upMs)));

    const QList<int> seen = testFrameBauds(sim);
    QCOMPARE(seen.size(), bauds.size());
    for (int i = 0; i < bauds.size(); ++i) {
        if (bauds.at(i) == 0)
            QVERIFY2(seen.at(i) != ini.value(QStringLiteral("BaudRate")).toInt(), qPrintable(QString::number(seen.at(i))));
        else
            QCOMPARE(seen.at(i), bauds.at(i));
    }
    const auto firstTest = sim.received(ZQMessageManager::TestFrame);
    QCOMPARE(firstTest.last().stopBits, stopBits);
    QCOMPARE(firstTest.last().flow, flow);
    // Each attempt sends the heart frame after its test frame.
    QTRY_COMPARE_WITH_TIMEOUT(sim.received(ZQMessageManager::HeartFrame).size(), bauds.size(), 2000);

    // The acknowledgement goes out for version 2 only.
    if (version == 2)
        QTRY_COMPARE_WITH_TIMEOUT(sim.received(ZQMessageManager::VersionAckFrame).size(), 1, 2000);

    // Board to PC.
    sim.command(QStringLiteral("frame 70 01 CF 02"));
    sim.command(QStringLiteral("00 13 7F 80 99 A2"));
    sim.command(QStringLiteral("frame 70 02"));
    QTRY_COMPARE_WITH_TIMEOUT(frames.count(), 2, 3000);
    QCOMPARE(frames.at(0).at(0).toByteArray(), hex("7F 0A 99 A2 B3 C4 02 FF 70 01 CF 02 CF"));
    QCOMPARE(frames.at(1).at(0).toByteArray(), hex("7F 08 99 A2 B3 C4 02 FF 70 02 CF"));

    // PC to board, through the writer.
    manager.writeMsg(PcFrame);
    QTRY_COMPARE_WITH_TIMEOUT(sim.received(PcFrame).size(), 1, 3000);
    QCOMPARE(sim.received(EarlyFrame).size(), 0);
    if (version == 1)
        QCOMPARE(sim.received(ZQMessageManager::VersionAckFrame).size(), 0);
    QCOMPARE(up.count(), 1);
}

// A board that never answers: six attempts at alternating rates with growing
// waits, then serialPortError(); one more attempt after a new checkPort().
void TstZQMessageManager::silentBoard()
{
    Rig rig;
    QVERIFY(rig.start(board("silent")));
    BoardSimProcess &sim = rig.sim;
    ZQMessageManager &manager = *rig.manager;
    QSignalSpy &up = *rig.up;
    QSignalSpy &failed = *rig.failed;
    QElapsedTimer clock;
    clock.start();
    manager.checkPort();
    QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 40000);
    const qint64 failedMs = clock.elapsed();
    // 6 x 1 s inside the attempts, then 3 + 3 + 4 + 4 + 5 + 5 s of waiting.
    QVERIFY2(failedMs >= 29900 && failedMs < 33000, qPrintable(QString::number(failedMs)));
    QCOMPARE(up.count(), 0);

    const auto tests = sim.received(ZQMessageManager::TestFrame);
    QCOMPARE(testFrameBauds(sim), (QList<int>{115200, 19200, 115200, 19200, 115200, 19200}));
    const QList<double> gaps{4, 4, 5, 5, 6};
    for (int i = 1; i < tests.size(); ++i) {
        const double gap = tests.at(i).seconds - tests.at(i - 1).seconds;
        QVERIFY2(gap > gaps.at(i - 1) - 0.3 && gap < gaps.at(i - 1) + 0.7,
                 qPrintable(QStringLiteral("attempt %1 after %2 s").arg(i + 1).arg(gap)));
    }
    QCOMPARE(sim.received(ZQMessageManager::HeartFrame).size(), 6);

    // The counters carry on: a new check makes one attempt, then fails again.
    clock.restart();
    manager.checkPort();
    QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 2, 15000);
    QVERIFY2(clock.elapsed() >= 6900, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(testFrameBauds(sim), (QList<int>{115200, 19200, 115200, 19200, 115200, 19200, 115200}));
    QCOMPARE(up.count(), 0);
}

// No port to open: three attempts 3 s apart, then serialPortError(); frames
// written meanwhile go nowhere.
void TstZQMessageManager::noPort()
{
    writeIni({{QStringLiteral("PortName"), QStringLiteral("/dev/vela-no-such-port")}});
    ZQMessageManager manager;
    QSignalSpy up(&manager, &ZQMessageManager::serialPortSucces);
    QSignalSpy failed(&manager, &ZQMessageManager::serialPortError);
    manager.writeMsg(PcFrame);
    QElapsedTimer clock;
    clock.start();
    manager.checkPort();
    QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 15000);
    QVERIFY2(clock.elapsed() >= 8900 && clock.elapsed() < 11000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(logged(QStringLiteral("checkPort")) >= 3, true);
    QCOMPARE(up.count(), 0);
    clock.restart();
    manager.checkPort();
    QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 2, 6000);
    QVERIFY2(clock.elapsed() >= 2900, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(up.count(), 0);
}

// Once linked, a further checkPort() must not touch the port in use.
void TstZQMessageManager::checkPortWhileLinked()
{
    Rig rig;
    QVERIFY(rig.start(board("v2")));
    BoardSimProcess &sim = rig.sim;
    ZQMessageManager &manager = *rig.manager;
    QSignalSpy &up = *rig.up;
    QSignalSpy &failed = *rig.failed;
    QSignalSpy &frames = *rig.frames;
    manager.checkPort();
    QTRY_COMPARE_WITH_TIMEOUT(up.count(), 1, 10000);
    manager.checkPort();
    QTest::qWait(3500); // longer than an attempt's answer wait
    QCOMPARE(sim.received(ZQMessageManager::TestFrame).size(), 1);
    QCOMPARE(failed.count(), 0);
    sim.command(QStringLiteral("frame 70 05"));
    QTRY_COMPARE_WITH_TIMEOUT(frames.count(), 1, 3000);
    manager.writeMsg(PcFrame);
    QTRY_COMPARE_WITH_TIMEOUT(sim.received(PcFrame).size(), 1, 3000);
}

// The board's line disappears under a live link: the loss is logged once and
// the process stays quiet (no busy loop on the port's errors).
void TstZQMessageManager::deviceVanishes()
{
    Rig rig;
    QVERIFY(rig.start(board("v2")));
    BoardSimProcess &sim = rig.sim;
    ZQMessageManager &manager = *rig.manager;
    QSignalSpy &up = *rig.up;
    manager.checkPort();
    QTRY_COMPARE_WITH_TIMEOUT(up.count(), 1, 10000);
    sim.stop();
    QTRY_COMPARE_WITH_TIMEOUT(logged(QStringLiteral("lost:")), 1, 3000);
    const double cpuBefore = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    manager.writeMsg(PcFrame); // goes nowhere, quietly
    QTest::qWait(1500);
    const double cpu = cpuSeconds() - cpuBefore;
    // A port left open on a vanished device keeps the process busy for
    // about half of every second; an idle one uses next to nothing.
    QVERIFY2(cpu < 0.1 * wall.elapsed() / 1000.0, qPrintable(QStringLiteral("%1 s of CPU").arg(cpu)));
    QCOMPARE(logged(QStringLiteral("lost:")), 1);
}

// A version 1 board answers the test frame and then disappears during the
// wait for the heart answer: that is no link, and none is reported.
void TstZQMessageManager::deviceVanishesBeforeLink()
{
    Rig rig;
    QVERIFY(rig.start(board("v1")));
    BoardSimProcess &sim = rig.sim;
    ZQMessageManager &manager = *rig.manager;
    QSignalSpy &up = *rig.up;
    manager.checkPort();
    QTRY_COMPARE_WITH_TIMEOUT(logged(QStringLiteral("0F 06 succeed")), 1, 5000);
    sim.stop();
    QTRY_COMPARE_WITH_TIMEOUT(logged(QStringLiteral("port lost before the link came up")), 1, 7000);
    QTest::qWait(200);
    QCOMPARE(up.count(), 0);
    QCOMPARE(manager.linkVersion(), 0);
    manager.writeMsg(PcFrame); // still no writer: dropped
}

// After a loss the port is looked for afresh: the settings now name another
// line, whose board speaks the other link version. Frames the writer still
// held come back from closePort(); a look that finds no port fails at once.
void TstZQMessageManager::lostLinkComesBack()
{
    Rig rig;
    QVERIFY(rig.start(board("v2")));
    ZQMessageManager &manager = *rig.manager;
    QSignalSpy lost(&manager, &ZQMessageManager::serialPortLost);
    manager.checkPort();
    QTRY_COMPARE_WITH_TIMEOUT(rig.up->count(), 1, 10000);
    rig.sim.stop();
    QTRY_COMPARE_WITH_TIMEOUT(lost.count(), 1, 3000);
    for (int i = 0; i < 5; ++i)
        manager.writeMsg(PcFrame); // the writer can no longer send them
    const QList<QByteArray> unsent = manager.closePort();
    QVERIFY(unsent.size() >= 4 && unsent.size() <= 5);
    QCOMPARE(unsent.last(), PcFrame);
    QCOMPARE(manager.linkVersion(), 0);

    QElapsedTimer clock;
    clock.start();
    manager.checkPort(); // the old line is gone
    QTRY_COMPARE_WITH_TIMEOUT(rig.failed->count(), 1, 1000);
    QVERIFY(clock.elapsed() < 1000);

    BoardSimProcess other;
    QVERIFY(other.start(board("v1")));
    writeIni({{QStringLiteral("PortName"), other.path()}});
    manager.closePort();
    manager.checkPort();
    QTRY_COMPARE_WITH_TIMEOUT(rig.up->count(), 2, 15000);
    QCOMPARE(rig.up->last().first().toInt(), 1);
    QCOMPARE(manager.portName(), other.path());
    QCOMPARE(lost.count(), 1);
    manager.writeMsg(PcFrame);
    QTRY_COMPARE_WITH_TIMEOUT(other.received(PcFrame).size(), 1, 3000);
    other.command(QStringLiteral("frame 70 06"));
    QTRY_COMPARE_WITH_TIMEOUT(rig.frames->count(), 1, 3000);
}

// Each check the control centre starts looks at "COM/PortName" afresh: a
// port named (or plugged in) after a failed check is found by the next one.
void TstZQMessageManager::recheckFindsPortNamedLater()
{
    writeIni({{QStringLiteral("PortName"), QStringLiteral("/dev/vela-no-such-port")}});
    ZQMessageManager manager;
    QSignalSpy up(&manager, &ZQMessageManager::serialPortSucces);
    QSignalSpy failed(&manager, &ZQMessageManager::serialPortError);
    manager.checkPort();
    QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, 15000);

    BoardSimProcess sim;
    QVERIFY(sim.start(board("v2")));
    writeIni({{QStringLiteral("PortName"), sim.path()}});
    manager.checkPort();
    QTRY_COMPARE_WITH_TIMEOUT(up.count(), 1, 10000);
    QCOMPARE(manager.portName(), sim.path());
    QCOMPARE(failed.count(), 1);
}

// "COM/Capture": the handshake, the link coming up, frames both ways and
// the loss, in the order they happened, with the sender of each.
void TstZQMessageManager::captureOfTheLine()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("line.txt"));
    Rig rig;
    QVERIFY(rig.start(board("v2"), {{QStringLiteral("Capture"), path}, {QStringLiteral("CaptureMaxKiB"), 64}}));
    ZQMessageManager &manager = *rig.manager;
    QCOMPARE(manager.captureFile(), path);
    manager.checkPort();
    QTRY_COMPARE_WITH_TIMEOUT(rig.up->count(), 1, 10000);
    rig.sim.command(QStringLiteral("frame 70 07"));
    QTRY_COMPARE_WITH_TIMEOUT(rig.frames->count(), 1, 3000);
    manager.writeMsg(PcFrame);
    QTRY_COMPARE_WITH_TIMEOUT(rig.sim.received(PcFrame).size(), 1, 3000);
    QTest::qWait(100); // recorded once written
    rig.sim.stop();
    QTRY_VERIFY_WITH_TIMEOUT(QFile(path).size() > 0 && [&]() {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) && f.readAll().contains("link lost");
    }(), 3000);

    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(f.readAll());
    const ZQSerialCapture::Parsed p = ZQSerialCapture::parse(text);
    QVERIFY2(p.errors.isEmpty(), qPrintable(p.errors.join('\n')));
    QStringList seen;
    for (const ZQSerialCapture::Entry &e : p.entries)
        seen << ZQSerialCapture::directionWord(e.direction) + QLatin1Char(' ') + QString::fromLatin1(e.frame.toHex(' ').toUpper());
    const QStringList expected{QStringLiteral("PC 7F 08 99 A2 B3 C4 02 FF 01 49 CF"),
                               QStringLiteral("PC 7F 09 99 A2 B3 C4 02 FF 0F 08 02 CF"),
                               QStringLiteral("BOARD 7F 09 99 A2 B3 C4 02 FF 01 49 00 CF"),
                               QStringLiteral("BOARD 7F 08 99 A2 B3 C4 02 FF 0F 08 CF"),
                               QStringLiteral("PC 7F 09 99 A2 B3 C4 02 FF 0F 08 01 CF"),
                               QStringLiteral("BOARD 7F 08 99 A2 B3 C4 02 FF 70 07 CF"),
                               QStringLiteral("PC ") + QString::fromLatin1(PcFrame.toHex(' ').toUpper())};
    QCOMPARE(seen, expected);
    QCOMPARE(p.linkUps.size(), 1);
    QCOMPARE(p.linkUps.first().second, 2);
    // The link came up after the acknowledgement, before the first frame of the board.
    QVERIFY(p.linkUps.first().first >= p.entries.at(4).ms && p.linkUps.first().first <= p.entries.at(5).ms);
    QCOMPARE(p.linkLosses.size(), 1);
    QVERIFY(text.contains(QStringLiteral("port ") + rig.port + QStringLiteral(" opened at 115200 baud")));
}

int main(int argc, char **argv)
{
    return PrivateAppDir::run(argc, argv, [](int c, char **v) {
        QCoreApplication app(c, v);
        TstZQMessageManager tc;
        return QTest::qExec(&tc, c, v);
    });
}

#include "tst_zqmessagemanager.moc"
