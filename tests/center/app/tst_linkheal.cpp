#include "velacenterrig.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <unistd.h>

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

const QByteArray kVersionAck = QByteArray::fromHex("7F0999A2B3C402FF0F0801CF");
const char kLost[] = "serial link to the mainboard lost on";
const char kBack[] = "serial link to the mainboard back on";
// Only warnings go to the files, so the count of lines says what happened.
const char kWarnLog[] = "[Log]\nNeedLog=1\nLevel=warn\n";

// User plus system CPU time of a process, in ms.
qint64 cpuMs(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    // Fields after the command name, which is in brackets and may hold blanks.
    const QList<QByteArray> f = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (f.size() < 13)
        return -1;
    return (f.at(11).toLongLong() + f.at(12).toLongLong()) * 1000 / sysconf(_SC_CLK_TCK);
}

const QByteArray kInfoRequest = QByteArray::fromHex("7F0899A2B3C402FFE304CF");

// The long commands among frames the board received: a whole frame, or the
// part frames of one split command joined (in order, one serial byte).
struct Received
{
    QList<QByteArray> whole;  // command bytes of whole frames
    QList<QByteArray> joined; // command bytes joined from part frames
};

Received longCommands(const QList<QByteArray> &frames, char key)
{
    Received r;
    QByteArray parts;
    int serial = -1;
    int next = 0;
    for (const QByteArray &f : frames) {
        if (f.size() < 11 || f.at(8) != key)
            continue;
        if (quint8(f.at(3)) != 0xA3) {
            r.whole << f.mid(8, f.size() - 9);
            continue;
        }
        const int count = f.at(4);
        const int index = f.at(5);
        if (index == 0 || quint8(f.at(6)) != serial || index != next) {
            parts = f.mid(8, 2); // the key once, then the pieces
            serial = quint8(f.at(6));
            next = 0;
            if (index != 0)
                continue; // a part whose first piece was not seen
        }
        parts += f.mid(10, f.size() - 11);
        if (++next == count)
            r.joined << parts;
    }
    return r;
}

} // namespace

// velacenter healing its links: the board's line going away and coming back,
// and bus clients outliving a restart of the centre.
class TestLinkHeal : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("vela.ipc.debug=false")); }
    void boardComesBack_data();
    void boardComesBack();
    void keptCommandsAreBounded();
    void commandsKeptWholeAcrossLoss_data();
    void commandsKeptWholeAcrossLoss();
    void screenInfoAskedWhenLinkUp_data();
    void screenInfoAskedWhenLinkUp();
    void listenerRejoinsRestartedCentre();

private:
    static int countIn(const QString &text, const char *what) { return text.count(QLatin1String(what)); }
    // A frame each way; true when both arrived within the time.
    static bool framesFlow(VelaCenterRig &rig, const QByteArray &tag, int timeoutMs);
    static QString warnings(VelaCenterRig &rig);
    // Waits for the centre's next "SERIAL_LINK_STATE" after `from`; "up 2",
    // "down 1" and so on, empty when none came.
    static QString linkState(VelaCenterRig &rig, int from, int timeoutMs);
};

QString TestLinkHeal::linkState(VelaCenterRig &rig, int from, int timeoutMs)
{
    QJsonObject msg;
    const auto isState = [](const QJsonObject &o) {
        return o.value(QStringLiteral("eventid")).toString() == QLatin1String("SERIAL_LINK_STATE");
    };
    if (!rig.waitBusMessage(isState, timeoutMs, &msg, from))
        return QString();
    const QJsonArray param = msg.value(QStringLiteral("param")).toArray();
    return param.at(0).toObject().value(QStringLiteral("value")).toString() + QLatin1Char(' ')
           + QString::number(param.at(1).toObject().value(QStringLiteral("value")).toInt());
}

bool TestLinkHeal::framesFlow(VelaCenterRig &rig, const QByteArray &tag, int timeoutMs)
{
    const int busFrom = rig.busMessages().size();
    const int boardFrom = rig.boardReceivedCount();
    const QByteArray up = hex("E9") + tag;   // a key no module claims
    const QByteArray down = hex("E1") + tag;
    rig.boardSend(QStringLiteral("frame ") + QString::fromLatin1(up.toHex(' ')));
    rig.sendToCentre(VelaCenterRig::eventAny(down, QStringLiteral("ID_APP_VELACENTER")));
    return rig.waitBusMessage(VelaCenterRig::eventAnyWithParam(up), timeoutMs, nullptr, busFrom)
           && rig.waitBoardReceived(VelaCenterRig::frameOf(down), timeoutMs, boardFrom);
}

QString TestLinkHeal::warnings(VelaCenterRig &rig)
{
    QFile f(rig.logDir() + QStringLiteral("/warn.txt"));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

void TestLinkHeal::boardComesBack_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("after");
    QTest::addColumn<bool>("newPath");
    QTest::newRow("same path") << "v2" << "v2" << false;
    QTest::newRow("new path named in the settings") << "v2" << "v2" << true;
    QTest::newRow("restarts with link version 1") << "v2" << "v1" << false;
    QTest::newRow("restarts with link version 2") << "v1" << "v2" << false;
}

void TestLinkHeal::boardComesBack()
{
    QFETCH(QString, before);
    QFETCH(QString, after);
    QFETCH(bool, newPath);
    VelaCenterRig rig;
    const QString pathA = rig.folder() + QStringLiteral("/board-a");
    const QString pathB = rig.folder() + QStringLiteral("/board-b");
    VelaCenterRig::Options options;
    options.boardMode = before;
    options.boardLink = pathA;
    options.extraIni = QLatin1String(kWarnLog);
    QVERIFY2(rig.start(options), qPrintable(rig.error()));
    QVERIFY(framesFlow(rig, "01", 10000));
    // The link's state is told on request, and published as it changes.
    int askFrom = rig.busMessages().size();
    rig.sendToCentre(QJsonObject{{"eventid", "GET_SERIAL_LINK_STATE"}, {"to", "ID_APP_VELACENTER"}});
    QCOMPARE(linkState(rig, askFrom, 5000), QStringLiteral("up ") + before.mid(1));

    const int lostFrom = rig.busMessages().size();
    rig.stopBoard();
    QTRY_VERIFY_WITH_TIMEOUT(countIn(warnings(rig), kLost) == 1, 5000);
    QVERIFY(linkState(rig, lostFrom, 5000).startsWith(QLatin1String("down ")));
    askFrom = rig.busMessages().size();
    rig.sendToCentre(QJsonObject{{"eventid", "GET_SERIAL_LINK_STATE"}, {"to", "ID_APP_VELACENTER"}});
    QVERIFY(linkState(rig, askFrom, 5000).startsWith(QLatin1String("down ")));
    // Away for a while: the centre waits between looks instead of spinning.
    const qint64 cpuBefore = cpuMs(rig.centre().processId());
    QTest::qWait(4000);
    const qint64 cpuAway = cpuMs(rig.centre().processId()) - cpuBefore;
    QVERIFY2(cpuAway >= 0 && cpuAway < 200, qPrintable(QString::number(cpuAway)));

    // Commands from the bus while the board is away wait for it.
    const QList<QByteArray> waiting = {hex("E2E201"), hex("E2E202"), hex("E2E203")};
    for (const QByteArray &bytes : waiting)
        QCOMPARE(rig.sendToCentre(VelaCenterRig::eventAny(bytes, QStringLiteral("ID_APP_VELACENTER"))), 0);
    QTest::qWait(300);

    const int from = rig.boardReceivedCount();
    QVERIFY(rig.startBoardAgain(after, newPath ? pathB : pathA));
    if (newPath)
        QVERIFY(rig.setPortName(pathB));
    // Next look at most 10 s away, the handshake (version 1: 5 s more), start-up frames.
    const int backFrom = rig.busMessages().size();
    QVERIFY2(rig.waitBoardReceived(VelaCenterRig::kStartupFrame4, 25000, from), qPrintable(rig.error()));
    QVERIFY(framesFlow(rig, "02", 5000));
    QCOMPARE(linkState(rig, backFrom, 5000), QStringLiteral("up ") + after.mid(1));

    // Start-up frames, then what waited, in order.
    const QList<QByteArray> got = rig.boardReceived().mid(from);
    int at = got.indexOf(VelaCenterRig::kStartupFrame4);
    for (const QByteArray &bytes : waiting) {
        const int next = got.indexOf(VelaCenterRig::frameOf(bytes), at + 1);
        QVERIFY2(next > at, bytes.toHex().constData());
        at = next;
    }
    // The link version the board answered with is the one in use.
    QCOMPARE(got.contains(kVersionAck), after == QLatin1String("v2"));
    QByteArray longPayload = hex("E3E3");
    for (int i = 0; i < 22; ++i)
        longPayload.append(char(i));
    const int longFrom = rig.boardReceivedCount();
    rig.sendToCentre(VelaCenterRig::eventAny(longPayload, QStringLiteral("ID_APP_VELACENTER")));
    QVERIFY(framesFlow(rig, "03", 10000));
    const bool whole = rig.boardReceived().indexOf(VelaCenterRig::frameOf(longPayload), longFrom) >= 0;
    QCOMPARE(whole, after == QLatin1String("v1"));

    const QString log = warnings(rig);
    QCOMPARE(countIn(log, kLost), 1);
    QCOMPARE(countIn(log, kBack), 1);
    QVERIFY2(log.contains(QStringLiteral("link version %1").arg(after.mid(1))), qPrintable(log));
}

void TestLinkHeal::keptCommandsAreBounded()
{
    VelaCenterRig rig;
    VelaCenterRig::Options options;
    options.boardLink = rig.folder() + QStringLiteral("/board");
    options.extraIni = QLatin1String(kWarnLog);
    options.quietCentre = true;
    QVERIFY2(rig.start(options), qPrintable(rig.error()));
    rig.stopBoard();
    QTRY_VERIFY_WITH_TIMEOUT(countIn(warnings(rig), kLost) == 1, 5000);

    const int bound = 100;
    const int sent = bound + 7;
    for (int i = 0; i < sent; ++i) {
        const QByteArray bytes = hex("E4") + char(i / 256) + char(i % 256);
        QCOMPARE(rig.sendToCentre(VelaCenterRig::eventAny(bytes, QStringLiteral("ID_APP_VELACENTER"))), 0);
    }
    QTest::qWait(500);
    const int from = rig.boardReceivedCount();
    QVERIFY(rig.startBoardAgain(QStringLiteral("v2"), options.boardLink));
    QVERIFY(rig.waitBoardReceived(VelaCenterRig::kStartupFrame4, 20000, from));
    const QByteArray last = VelaCenterRig::frameOf(hex("E4") + char((sent - 1) / 256) + char((sent - 1) % 256));
    // 50 ms a frame.
    QVERIFY(rig.waitBoardReceived(last, 20000, from));

    QList<QByteArray> kept;
    for (const QByteArray &frame : rig.boardReceived().mid(from)) {
        if (frame.size() == 12 && quint8(frame.at(8)) == 0xE4)
            kept << frame;
    }
    // The shortcut module's information requests wait in the same bounded
    // list, so a few more of the oldest may go; what is kept is the newest
    // run, in order.
    QVERIFY2(kept.size() <= bound && kept.size() >= bound - 10, qPrintable(QString::number(kept.size())));
    for (int i = 0; i < kept.size(); ++i) {
        const int n = sent - kept.size() + i; // the oldest went
        QCOMPARE(kept.at(i), VelaCenterRig::frameOf(hex("E4") + char(n / 256) + char(n % 256)));
    }
    const QString log = warnings(rig);
    QVERIFY2(log.contains(QStringLiteral("oldest commands")), qPrintable(log));
}

void TestLinkHeal::commandsKeptWholeAcrossLoss_data()
{
    QTest::addColumn<QString>("after");
    QTest::newRow("back with link version 1: sent whole") << "v1";
    QTest::newRow("back with link version 2: split anew") << "v2";
}

// Long commands wait in the writer (link version 2: as part frames) when the
// board goes away. Once it is back they are sent as that board speaks: whole
// to a version 1 board, split with fresh serial bytes for version 2; every
// command arrives complete, none as a stray part.
void TestLinkHeal::commandsKeptWholeAcrossLoss()
{
    QFETCH(QString, after);
    VelaCenterRig rig;
    VelaCenterRig::Options options;
    options.boardLink = rig.folder() + QStringLiteral("/board");
    QVERIFY2(rig.start(options), qPrintable(rig.error()));
    QVERIFY(rig.answerScreenInfo());

    const int count = 30;
    QList<QByteArray> commands; // 24 command bytes each: two part frames on version 2
    for (int i = 0; i < count; ++i) {
        QByteArray c = hex("E5E5") + char(i);
        for (int k = 0; k < 21; ++k)
            c.append(char(k));
        commands << c;
    }
    const int before = rig.boardReceivedCount();
    for (const QByteArray &c : commands)
        QCOMPARE(rig.sendToCentre(VelaCenterRig::eventAny(c, QStringLiteral("ID_APP_VELACENTER"))), 0);
    // A few frames on the line, most still waiting in the writer.
    QTRY_VERIFY_WITH_TIMEOUT(rig.boardReceivedCount() >= before + 3, 10000);
    rig.stopBoard();
    QTRY_VERIFY_WITH_TIMEOUT(countIn(rig.centreOutput(), kLost) == 1, 5000);
    const Received sentBefore = longCommands(rig.boardReceived().mid(before), char(0xE5));
    QVERIFY2(sentBefore.joined.size() < count - 5, qPrintable(QString::number(sentBefore.joined.size())));

    const int from = rig.boardReceivedCount();
    QVERIFY(rig.startBoardAgain(after, options.boardLink));
    QVERIFY(rig.waitBoardReceived(VelaCenterRig::kStartupFrame4, 25000, from));
    const QByteArray last = commands.last();
    QTRY_VERIFY_WITH_TIMEOUT(longCommands(rig.boardReceived().mid(from), char(0xE5)).whole.contains(last)
                                 || longCommands(rig.boardReceived().mid(from), char(0xE5)).joined.contains(last),
                             15000);
    QVERIFY(rig.flushToBoard() >= 0);

    const QList<QByteArray> backFrames = rig.boardReceived().mid(from);
    const Received sentAfter = longCommands(backFrames, char(0xE5));
    if (after == QLatin1String("v1")) {
        for (const QByteArray &f : backFrames)
            QVERIFY2(quint8(f.at(3)) != 0xA3, qPrintable("part frame to a version 1 board: " + f.toHex(' ')));
        QVERIFY(sentAfter.joined.isEmpty());
    } else {
        QVERIFY(sentAfter.whole.isEmpty());
    }
    // Every command reached the board complete, before the loss or after it.
    for (const QByteArray &c : commands) {
        QVERIFY2(sentBefore.joined.contains(c) || sentAfter.whole.contains(c) || sentAfter.joined.contains(c),
                 c.toHex(' ').constData());
    }
}

void TestLinkHeal::screenInfoAskedWhenLinkUp_data()
{
    QTest::addColumn<bool>("late");
    QTest::newRow("link up after the first checks failed") << true;
    QTest::newRow("link back after a loss") << false;
}

// The shortcut module asks the board for its screen information when the link
// is up, however late that is, and again when it is back; the answer is what
// ID_GET_SCREEN_INFO then reports.
void TestLinkHeal::screenInfoAskedWhenLinkUp()
{
    QFETCH(bool, late);
    VelaCenterRig rig;
    VelaCenterRig::Options options;
    options.boardLink = rig.folder() + QStringLiteral("/board");
    int from = 0;
    if (late) {
        // The board answers from the heart frame of the centre's fifth
        // attempt on, about 19 s after its start: after the module's first
        // round of requests (11, 1.5 s apart) is over.
        options.boardMode = QStringLiteral("silent");
        options.waitForLink = false;
        QVERIFY2(rig.start(options), qPrintable(rig.error()));
        const QByteArray test = QByteArray::fromHex("7F0899A2B3C402FF0149CF");
        QTRY_VERIFY_WITH_TIMEOUT(rig.boardReceived().count(test) >= 5, 30000);
        rig.boardSend(QStringLiteral("mode v2"));
        QVERIFY(rig.waitForLink(20000));
    } else {
        QVERIFY2(rig.start(options), qPrintable(rig.error()));
        QVERIFY(rig.answerScreenInfo());
        rig.stopBoard();
        from = rig.boardReceivedCount();
        QVERIFY(rig.startBoardAgain(QStringLiteral("v2"), options.boardLink));
        QVERIFY(rig.waitBoardReceived(VelaCenterRig::kStartupFrame4, 25000, from));
    }
    from = rig.boardReceived().lastIndexOf(VelaCenterRig::kStartupFrame4);
    QVERIFY2(rig.waitBoardReceived(kInfoRequest, 5000, from), "no screen-information request after the link came up");

    const QString value = late ? QStringLiteral("late") : QStringLiteral("back");
    rig.boardSend(QStringLiteral("frame E3 04 ") + QString::fromLatin1((QByteArray("size-") + value.toLatin1()).toHex(' ')));
    // The board's answer and the question travel different roads: ask until
    // the answer has been taken in.
    QString got;
    for (int i = 0; i < 20 && got != value; ++i) {
        const int busFrom = rig.busMessages().size();
        rig.sendToCentre(QJsonObject{{"eventid", "ID_GET_SCREEN_INFO"}, {"from", VelaCenterRig::kClientId},
                                     {"to", "ID_APP_VELACENTER"}, {"param", "size"}});
        QJsonObject reply;
        QVERIFY(rig.waitBusMessage([](const QJsonObject &o) { return o.value("eventid").toString() == "ID_GET_SCREEN_INFO"; },
                                   10000, &reply, busFrom));
        got = reply.value(QStringLiteral("param")).toString();
        if (got != value)
            QTest::qWait(250);
    }
    QCOMPARE(got, value);
}

void TestLinkHeal::listenerRejoinsRestartedCentre()
{
    VelaCenterRig rig;
    VelaCenterRig::Options options;
    options.quietCentre = true;
    QVERIFY2(rig.start(options), qPrintable(rig.error()));

    QProcess listener;
    listener.start(QStringLiteral(VELA_BIN_DIR "/zqbus"),
                   {QStringLiteral("listen"), QStringLiteral("--rejoin"), QStringLiteral("--as"),
                    QStringLiteral("ID_APP_HEAL_LISTEN"), QStringLiteral("--subscribe"),
                    QStringLiteral("ID_APP_VELACENTER")});
    QVERIFY(listener.waitForStarted(5000));
    QByteArray err;
    auto readyCount = [&]() {
        err += listener.readAllStandardError();
        return err.count("zqbus: listening as ID_APP_HEAL_LISTEN");
    };
    QTRY_COMPARE_WITH_TIMEOUT(readyCount(), 1, 10000);

    // Stopping keeps the hub ten seconds after the centre's client left.
    QVERIFY(rig.stopCentre(30000));
    const int from0 = rig.boardReceivedCount();
    QVERIFY(rig.startCentreAgain());
    QVERIFY(rig.waitBoardReceived(VelaCenterRig::kStartupFrame4, 30000, from0));
    QTRY_COMPARE_WITH_TIMEOUT(readyCount(), 2, 10000);
    QCOMPARE(listener.state(), QProcess::Running);

    // What the new centre publishes reaches the listener and the test's own
    // facade, neither of them restarted.
    const int from = rig.busMessages().size();
    rig.boardSend(QStringLiteral("frame E9 05"));
    QByteArray out;
    QTRY_VERIFY_WITH_TIMEOUT((out += listener.readAllStandardOutput()).contains(hex("E905").toBase64()), 10000);
    QVERIFY(rig.waitBusMessage(VelaCenterRig::eventAnyWithParam(hex("E905")), 10000, nullptr, from));
    listener.terminate();
    QVERIFY(listener.waitForFinished(5000));
}

QTEST_GUILESS_MAIN(TestLinkHeal)
#include "tst_linkheal.moc"
