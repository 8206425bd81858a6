// serialtest's window on a private Xvfb: its texts on a real bus hub, its
// test pattern on a real pseudo-terminal line, and what it shows when the
// port or the bus is missing.

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
const int kBusPort = 23334;
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
    void failures_data();
    void failures();

private:
    ZQIPC m_hub;
    ZQIPC m_peer; // a program of the suite listening to the tool
    QStringList m_heard;
};

void TestSerialTest::initTestCase()
{
    QVERIFY(m_hub.createTcpServer(kBusPort));
    QVERIFY(m_peer.createTcpClient(QStringLiteral("ID_TST_SERIALTEST_PEER"), "127.0.0.1", kBusPort));
    m_peer.registerMsgAccept(QStringLiteral("ID_APP_SERIALTEST"));
    connect(&m_peer, &ZQIPC::sigRecvInfo, this, [this](QString t) { m_heard << t; });
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
    QCOMPARE(m_peer.sentInfo(QStringLiteral("ID_APP_SERIALTEST"), QStringLiteral("first")), 0);
    QCOMPARE(m_peer.sentInfo(QStringLiteral("ID_APP_SERIALTEST"), QStringLiteral("second")), 0);
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
        m_peer.closeClient();
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
