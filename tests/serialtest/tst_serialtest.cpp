// serialtest's window on a private Xvfb: its texts on a real bus hub (on the
// port VELA_BUS_PORT names), its test pattern on a real pseudo-terminal line,
// what it shows when the port or the bus is missing, and its rejoining after
// the hub restarts.

#include "ptypair.h"
#include "widget.h"
#include "xvfbserver.h"
#include "zqipc.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

namespace {
const QByteArray kFirst = QByteArray::fromHex("7F0899A2B3C402FF1302CF");
const QByteArray kSecond = QByteArray::fromHex("7F0899A2B3C402FF1303CF");

QPushButton *button(Widget &w, const QString &text)
{
    for (QPushButton *b : w.findChildren<QPushButton *>())
        if (b->text() == text)
            return b;
    return nullptr;
}

QString labelText(Widget &w, const char *name)
{
    QLabel *l = w.findChild<QLabel *>(QString::fromLatin1(name));
    return l ? l->text() : QStringLiteral("<missing %1>").arg(QLatin1String(name));
}

void click(Widget &w, const QString &text)
{
    QPushButton *b = button(w, text);
    QVERIFY2(b, qPrintable(text));
    QTest::mouseClick(b, Qt::LeftButton);
}

// Every part of the window has the room its content needs, inside the window
// and clear of the others (a status text that wraps must not push a counter
// over the editor).
void checkLayout(Widget &w)
{
    QCoreApplication::processEvents();
    QList<QWidget *> parts;
    for (QWidget *child : w.findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
        if (child->isVisible())
            parts << child;
    QVERIFY(parts.size() >= 8);
    for (int i = 0; i < parts.size(); ++i) {
        const QWidget *a = parts.at(i);
        const QString name = a->objectName().isEmpty() ? QString::fromLatin1(a->metaObject()->className())
                                                       : a->objectName();
        QVERIFY2(w.rect().contains(a->geometry()), qPrintable(name + " lies outside the window"));
        QVERIFY2(a->height() >= a->minimumSizeHint().height(),
                 qPrintable(QStringLiteral("%1 is %2 px high, needs %3").arg(name).arg(a->height())
                                .arg(a->minimumSizeHint().height())));
        for (int j = i + 1; j < parts.size(); ++j)
            QVERIFY2(!a->geometry().intersects(parts.at(j)->geometry()),
                     qPrintable(name + " overlaps " + parts.at(j)->objectName()
                                + parts.at(j)->metaObject()->className()));
    }
}
} // namespace

class TestSerialTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void sendOne_data();
    void sendOne();
    void receive();
    void circleSend();
    void rejoinsAfterHubRestart();
    void failures_data();
    void failures();
    void cleanupTestCase();

private:
    bool startPeer(const QString &id = QStringLiteral("ID_TST_SERIALTEST_PEER"));

    ZQIPC m_hub;
    int m_port = 0;
    ZQIPC *m_peer = nullptr; // a program of the suite listening to the tool
    QStringList m_heard;
};

void TestSerialTest::initTestCase()
{
    // Not the suite's usual port: the tool must go where VELA_BUS_PORT says.
    QVERIFY(m_hub.createTcpServer(0));
    m_port = m_hub.serverPort();
    QVERIFY(m_port != ZQIPC::kDefaultBusPort);
    qputenv("VELA_BUS_PORT", QByteArray::number(m_port));
    QVERIFY(startPeer());
}

void TestSerialTest::cleanupTestCase()
{
    delete m_peer;
}

bool TestSerialTest::startPeer(const QString &id)
{
    delete m_peer;
    m_peer = new ZQIPC;
    connect(m_peer, &ZQIPC::sigRecvInfo, this, [this](QString t) { m_heard << t; });
    if (!m_peer->createTcpClient(id, "127.0.0.1", m_port))
        return false;
    m_peer->registerMsgAccept(QStringLiteral("ID_APP_SERIALTEST"));
    return true;
}

void TestSerialTest::sendOne_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("text") << QStringLiteral("{\"eventid\":\"BENCH\",\"param\":\"\u4e2d\"}");
    QTest::newRow("empty editor") << QString();
}

void TestSerialTest::sendOne()
{
    QFETCH(QString, text);
    Widget w;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTRY_VERIFY(labelText(w, "statusLabel").contains("bus: connected"));
    // The hub has the tool's hello before the peer's subscription matters.
    QTest::qWait(200);
    m_heard.clear();
    w.findChild<QPlainTextEdit *>(QStringLiteral("textEdit"))->setPlainText(text);
    click(w, QStringLiteral("send one"));
    click(w, QStringLiteral("send one"));
    QCOMPARE(labelText(w, "sendCountLabel"), QStringLiteral("sendCount2"));
    QTRY_COMPARE(m_heard, QStringList({text, text}));
    checkLayout(w);
}

void TestSerialTest::receive()
{
    Widget w;
    auto *line = w.findChild<QLineEdit *>(QStringLiteral("reciveLine"));
    QCOMPARE(labelText(w, "reciveCountLabel"), QStringLiteral("reciveCount0"));
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    // The hub's reply to the hello is the first text every client gets.
    QTRY_COMPARE(line->text(), QStringLiteral("succeful"));
    QCOMPARE(labelText(w, "reciveCountLabel"), QStringLiteral("1"));
    QCOMPARE(m_peer->sentInfo(QStringLiteral("ID_APP_SERIALTEST"), QStringLiteral("first")), 0);
    QCOMPARE(m_peer->sentInfo(QStringLiteral("ID_APP_SERIALTEST"), QStringLiteral("second")), 0);
    QTRY_COMPARE(labelText(w, "reciveCountLabel"), QStringLiteral("3"));
    QCOMPARE(line->text(), QStringLiteral("second"));
}

void TestSerialTest::circleSend()
{
    PtyPair pty;
    QVERIFY(pty.isValid());
    Widget w(pty.slavePath());
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));

    click(w, QStringLiteral("circle send start"));
    QVERIFY(labelText(w, "statusLabel").contains(pty.slavePath() + " open"));
    QTRY_VERIFY(pty.frameCount() >= 4);
    // A second start reopens the port and carries on with the pattern.
    click(w, QStringLiteral("circle send start"));
    QTRY_VERIFY(pty.frameCount() >= 8);
    click(w, QStringLiteral("circle send stop"));
    QTest::qWait(100); // a frame already handed to the window's thread
    const int stoppedAt = pty.frameCount();
    QTest::qWait(700);
    QCOMPARE(pty.frameCount(), stoppedAt);
    QCOMPARE(pty.pendingBytes(), 0);
    // After a stop the next start continues where the pattern was.
    click(w, QStringLiteral("circle send start"));
    QTRY_VERIFY(pty.frameCount() >= stoppedAt + 3);
    click(w, QStringLiteral("circle send stop"));
    QTest::qWait(100);

    const QList<PtyPair::Arrival> frames = pty.frames();
    QCOMPARE(frames.first().frame, kFirst);
    for (int i = 0; i < frames.size(); ++i) {
        QCOMPARE(frames.at(i).frame, i % 2 == 0 ? kFirst : kSecond);
        if (i > 0 && i != stoppedAt) {
            const qint64 gap = frames.at(i).ms - frames.at(i - 1).ms;
            QVERIFY2(gap >= 120 && gap <= 400, qPrintable(QStringLiteral("frame %1 after %2 ms").arg(i).arg(gap)));
        }
    }
    QCOMPARE(pty.pendingBytes(), 0);
    QTRY_VERIFY(labelText(w, "statusLabel").contains(QStringLiteral("frames written: %1").arg(frames.size())));
}

void TestSerialTest::rejoinsAfterHubRestart()
{
    Widget w;
    auto *line = w.findChild<QLineEdit *>(QStringLiteral("reciveLine"));
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTRY_COMPARE(line->text(), QStringLiteral("succeful"));
    QCOMPARE(labelText(w, "reciveCountLabel"), QStringLiteral("1"));

    delete m_peer;
    m_peer = nullptr;
    m_hub.closeServer();
    QTRY_VERIFY2(labelText(w, "statusLabel").contains("bus: lost"), qPrintable(labelText(w, "statusLabel")));
    checkLayout(w);
    QTest::qWait(1500); // a few attempts while no hub runs

    // Back without anything done in the window; what arrives counts on.
    QVERIFY(m_hub.createTcpServer(m_port));
    QTRY_VERIFY_WITH_TIMEOUT(labelText(w, "statusLabel").contains("bus: connected"), 10000);
    QTRY_COMPARE(labelText(w, "reciveCountLabel"), QStringLiteral("2")); // the hub's "succeful"
    // Under another name: this process's hubs share one subscription table.
    QVERIFY(startPeer(QStringLiteral("ID_TST_SERIALTEST_PEER_AFTER")));
    QCOMPARE(m_peer->sentInfo(QStringLiteral("ID_APP_SERIALTEST"), QStringLiteral("after the restart")), 0);
    QTRY_COMPARE(line->text(), QStringLiteral("after the restart"));
    QCOMPARE(labelText(w, "reciveCountLabel"), QStringLiteral("3"));
    // And its texts reach the bus again.
    QTest::qWait(200);
    m_heard.clear();
    w.findChild<QPlainTextEdit *>(QStringLiteral("textEdit"))->setPlainText(QStringLiteral("back"));
    click(w, QStringLiteral("send one"));
    QTRY_COMPARE(m_heard, QStringList{QStringLiteral("back")});
    checkLayout(w);
}

void TestSerialTest::failures_data()
{
    QTest::addColumn<QString>("port");
    QTest::addColumn<bool>("hubUp");
    QTest::addColumn<QString>("shown");
    QTest::newRow("port fails to open") << QStringLiteral("/dev/serialtest-no-such-tty") << true
                                        << QStringLiteral("port: cannot open /dev/serialtest-no-such-tty");
    // Last: the hub stays down afterwards.
    QTest::newRow("no bus") << QStringLiteral("/dev/serialtest-no-such-tty") << false
                            << QStringLiteral("bus: not reachable");
}

void TestSerialTest::failures()
{
    QFETCH(QString, port);
    QFETCH(bool, hubUp);
    QFETCH(QString, shown);
    if (!hubUp) {
        delete m_peer;
        m_peer = nullptr;
        m_hub.closeServer();
    }
    Widget w(port);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    click(w, QStringLiteral("send one"));
    QCOMPARE(labelText(w, "sendCountLabel"), QStringLiteral("sendCount1"));
    click(w, QStringLiteral("circle send start"));
    // Frames that could not go out are still counted.
    QTRY_VERIFY(labelText(w, "statusLabel").contains(QStringLiteral("not written: 3")));
    click(w, QStringLiteral("circle send stop"));
    const QString status = labelText(w, "statusLabel");
    QVERIFY2(status.contains(shown), qPrintable(status));
    QVERIFY2(status.contains("frames written: 0"), qPrintable(status));
    checkLayout(w);
}

int main(int argc, char **argv)
{
    XvfbServer xvfb;
    if (!xvfb.start(1280, 1024)) {
        qCritical("%s", qPrintable(xvfb.errorText()));
        return 1;
    }
    qputenv("DISPLAY", xvfb.display().toLatin1());
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    TestSerialTest t;
    return QTest::qExec(&t, argc, argv);
}

#include "tst_serialtest.moc"
