// Who may join the hub and what it does when too many come: other users'
// connections (real sockets of forked children running as another uid),
// the allow list, monitors, the connection cap, and running out of
// descriptors under a low RLIMIT_NOFILE.

#include "busharness.h"
#include "zqipc.h"

#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <memory>
#include <pwd.h>

using bustest::AsUser;
using bustest::RawPeer;

namespace {
QString zqbus() { return QString(VELA_BIN_DIR) + "/zqbus"; }

QMutex g_warningsMutex;
QStringList g_warnings;
QtMessageHandler g_previousHandler = nullptr;

void collectWarnings(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtWarningMsg) {
        QMutexLocker locker(&g_warningsMutex);
        g_warnings << text;
    }
    g_previousHandler(type, context, text);
}

int warningsMatching(const QString &pattern)
{
    QMutexLocker locker(&g_warningsMutex);
    return g_warnings.filter(QRegularExpression(pattern)).size();
}

// Reads a `zqbus hub --port 0` child's standard error until it names its port.
int hubPort(QProcess &hub, QByteArray &err)
{
    QElapsedTimer clock;
    clock.start();
    const QRegularExpression re("listening on 127\\.0\\.0\\.1:(\\d+)");
    while (clock.elapsed() < 10000) {
        hub.waitForReadyRead(100);
        err += hub.readAllStandardError();
        const QRegularExpressionMatch m = re.match(QString::fromUtf8(err));
        if (m.hasMatch())
            return m.captured(1).toInt();
        if (hub.state() == QProcess::NotRunning)
            break;
    }
    return -1;
}

double cpuSeconds(qint64 pid)
{
    QFile f(QString("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray stat = f.readAll();
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toLongLong() + fields.value(12).toLongLong()) / double(::sysconf(_SC_CLK_TCK));
}

const QByteArray kMonitorHello = bustest::frame("ZQ&&MONZ&&Qtest");
} // namespace

class TstZQBusAccess : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();

    void whoMayJoin_data();
    void whoMayJoin();
    void refusalsAreWarnedOnce();
    void hubOfAnotherUserAdmitsItsOwn();
    void connectionCap();
    void outOfDescriptorsTheHubWaits();
};

void TstZQBusAccess::initTestCase()
{
    QLoggingCategory::setFilterRules("vela.ipc.debug=false");
    if (::geteuid() != 0)
        QSKIP("needs root to open connections as another user");
    QVERIFY(::getpwnam("nobody"));
    g_previousHandler = qInstallMessageHandler(collectWarnings);
}

void TstZQBusAccess::init()
{
    QMutexLocker locker(&g_warningsMutex);
    g_warnings.clear();
}

void TstZQBusAccess::whoMayJoin_data()
{
    QTest::addColumn<QStringList>("allowUsers");
    QTest::addColumn<uint>("uid");
    QTest::addColumn<bool>("monitor");
    QTest::addColumn<bool>("admitted");
    const uint nobody = 65534;
    QTest::newRow("the hub's own user") << QStringList{} << 0u << false << true;
    QTest::newRow("another user") << QStringList{} << nobody << false << false;
    QTest::newRow("listed by uid") << QStringList{"65534"} << nobody << false << true;
    QTest::newRow("listed by name") << QStringList{"daemon", "nobody"} << nobody << false << true;
    QTest::newRow("its group by name") << QStringList{"@nogroup"} << nobody << false << true;
    QTest::newRow("its group by gid") << QStringList{"@65534"} << nobody << false << true;
    QTest::newRow("others listed") << QStringList{"1", "@daemon", "no-such-user"} << nobody << false << false;
    QTest::newRow("a monitor of the hub's own user") << QStringList{} << 0u << true << true;
    QTest::newRow("a monitor of a listed user") << QStringList{"65534"} << nobody << true << false;
}

void TstZQBusAccess::whoMayJoin()
{
    QFETCH(QStringList, allowUsers);
    QFETCH(uint, uid);
    QFETCH(bool, monitor);
    QFETCH(bool, admitted);
    ZQIPC hub;
    hub.setHubAllowedUsers(allowUsers);
    QVERIFY(hub.createTcpServer(0));
    const int port = hub.serverPort();
    RawPeer target;
    QVERIFY(target.join(port, bustest::uniqueId("TARGET")));
    // The hello and a text for the target in one write: a refused
    // connection is closed before anything it sent is acted on.
    const QByteArray bytes = monitor ? kMonitorHello
                                     : bustest::frame(bustest::uniqueId("OTHER"))
                                           + bustest::frame("ZQ&&GIVZ&&Q" + target.id() + "Z&&Qfrom uid "
                                                            + QString::number(uid));
    const AsUser seen = bustest::connectAsUser(uid_t(uid), gid_t(uid), port, bytes);
    QVERIFY(seen != AsUser::Failed);
    QCOMPARE(seen == AsUser::Greeted, admitted);
    if (admitted && !monitor) {
        QTRY_COMPARE(target.inbox(), QStringList{"from uid " + QString::number(uid)});
        return;
    }
    QTest::qWait(200);
    QVERIFY(target.sync());
    QCOMPARE(target.inbox(), QStringList{});
    if (!admitted)
        QTRY_COMPARE(warningsMatching(monitor ? "refused a monitor of uid 65534" : "refused a connection from uid "
                                                                                    "65534 \\(nobody\\)"), 1);
}

void TstZQBusAccess::refusalsAreWarnedOnce()
{
    ZQIPC hub;
    QVERIFY(hub.createTcpServer(0));
    for (int i = 0; i < 4; ++i)
        QCOMPARE(bustest::connectAsUser(65534, 65534, hub.serverPort(), bustest::frame("ID_TST_NOBODY")),
                 AsUser::Closed);
    QCOMPARE(warningsMatching("refused a connection from uid 65534"), 1);
    RawPeer own;   // the hub's own user still joins
    QVERIFY(own.join(hub.serverPort(), bustest::uniqueId("OWN")));
}

void TstZQBusAccess::hubOfAnotherUserAdmitsItsOwn()
{
    // The kernel answers an unprivileged hub as well.
    QProcess hub;
    hub.start("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", zqbus(), "hub", "--port", "0"});
    QVERIFY2(hub.waitForStarted(), "setpriv did not start");
    QByteArray err;
    const int port = hubPort(hub, err);
    QVERIFY2(port > 0, err.constData());
    RawPeer root;
    QVERIFY(!root.join(port, "ID_TST_ROOT"));   // root is another user to this hub
    QCOMPARE(bustest::connectAsUser(65534, 65534, port, bustest::frame("ID_TST_NOBODY")), AsUser::Greeted);
    hub.terminate();
    QVERIFY(hub.waitForFinished(5000));
    err += hub.readAllStandardError();
    QVERIFY2(err.contains("refused a connection from uid 0 (root)"), err.constData());
}

void TstZQBusAccess::connectionCap()
{
    ZQIPC hub;
    hub.setHubMaxConnections(4);
    QVERIFY(hub.createTcpServer(0));
    const int port = hub.serverPort();
    std::vector<std::unique_ptr<RawPeer>> peers;
    for (int i = 0; i < 4; ++i) {
        peers.push_back(std::make_unique<RawPeer>());
        QVERIFY(peers.back()->join(port, bustest::uniqueId("CAP")));
    }
    RawPeer extra;
    QVERIFY(!extra.join(port, bustest::uniqueId("EXTRA")));   // closed at once, no greeting
    QVERIFY(extra.waitClosed(1000));
    QTRY_COMPARE(warningsMatching("4 connections already, the most it serves"), 1);
    peers.front()->close();
    // Once one has left, a newcomer is served again.
    bool joined = false;
    for (int i = 0; i < 50 && !joined; ++i) {
        RawPeer late;
        joined = late.join(port, bustest::uniqueId("LATE")) && late.sync();
        if (!joined)
            QTest::qWait(100);
    }
    QVERIFY(joined);
}

void TstZQBusAccess::outOfDescriptorsTheHubWaits()
{
    // 40 descriptors, 60 connections: the hub must neither die nor spin, and
    // must serve again once the flood is gone.
    QProcess hub;
    hub.start("prlimit", {"--nofile=40:40", zqbus(), "hub", "--port", "0"});
    QVERIFY2(hub.waitForStarted(), "prlimit did not start");
    QByteArray err;
    const int port = hubPort(hub, err);
    QVERIFY2(port > 0, err.constData());
    std::vector<int> flood;
    bustest::ScopeExit closer([&] {
        for (int fd : flood)
            ::close(fd);
    });
    for (int i = 0; i < 60; ++i) {
        flood.push_back(bustest::connectTo(port));
        QVERIFY(flood.back() >= 0);
        QVERIFY(bustest::writeAll(flood.back(), bustest::frame(QString("ID_TST_FLOOD_%1").arg(i))));
    }
    QTest::qWait(1000);
    QCOMPARE(hub.state(), QProcess::Running);
    // Connections beyond the limit wait in the listen backlog, unanswered.
    int greeted = 0;
    for (int fd : flood) {
        char buf[9];
        greeted += ::recv(fd, buf, sizeof buf, MSG_DONTWAIT) == 9 && ::memcmp(buf, "succeful", 9) == 0 ? 1 : 0;
    }
    QVERIFY2(greeted > 10 && greeted < 40, qPrintable(QString("%1 greeted").arg(greeted)));
    const double cpuBefore = cpuSeconds(hub.processId());
    QTest::qWait(2000);
    const double cpuDuring = cpuSeconds(hub.processId()) - cpuBefore;
    QCOMPARE(hub.state(), QProcess::Running);
    // A loop that tried again at once would burn a core meanwhile.
    QVERIFY2(cpuDuring < 0.5, qPrintable(QString("%1 s of CPU while out of descriptors").arg(cpuDuring)));
    for (int fd : flood)
        ::close(fd);
    flood.clear();
    bool joined = false;
    for (int i = 0; i < 50 && !joined; ++i) {
        RawPeer late;
        joined = late.join(port, "ID_TST_AFTER") && late.sync();
        if (!joined)
            QTest::qWait(100);
    }
    QVERIFY(joined);
    hub.terminate();
    QVERIFY(hub.waitForFinished(5000));
    QCOMPARE(hub.exitCode(), 0);
    err += hub.readAllStandardError();
    QCOMPARE(err.count("cannot take a new connection"), 1);   // once for the whole episode
    QVERIFY2(err.contains("descriptors are free again"), err.constData());
}

QTEST_GUILESS_MAIN(TstZQBusAccess)
#include "tst_zqbusaccess.moc"
