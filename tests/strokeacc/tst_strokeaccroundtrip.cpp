#include "strokeaccagentprocess.h"
#include "velacenterrig.h"
#include "xvfbserver.h"

#include <QJsonObject>
#include <QLoggingCategory>
#include <QtTest>

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

} // namespace

// The board's marker request through the real programs: the simulated board on
// a pseudo-terminal, velacenter with its bus hub, and the agent on a private
// 1920x1080 X server. The squares are read back from that server and the
// answer frame at the board.
class TestStrokeAccRoundTrip : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void boardRequest_data();
    void boardRequest();

private:
    // Times the agent's log shows it read this request.
    int agentSaw(const QString &param) const;

    // Destroyed in reverse: the centre first, then the agent, then its screen.
    XvfbServer m_x;
    StrokeAccAgentProcess m_agent;
    VelaCenterRig m_rig;
};

int TestStrokeAccRoundTrip::agentSaw(const QString &param) const
{
    return m_agent.log().count(QStringLiteral("sParam: ") + param + QLatin1Char(' '));
}

void TestStrokeAccRoundTrip::initTestCase()
{
    QLoggingCategory::setFilterRules(QStringLiteral("vela.ipc.debug=false"));
    QVERIFY2(m_x.start(1920, 1080), qPrintable(m_x.errorText()));
    QVERIFY2(m_rig.start(VelaCenterRig::Options()), qPrintable(m_rig.error()));
    QVERIFY(m_rig.answerScreenInfo());
    QVERIFY2(m_agent.start(m_x.display()), qPrintable(m_agent.errorText()));
    // The agent connects once a second and subscribes a second later: ask
    // until it answers, then let the marker time pass.
    const QByteArray red = hex("7F0D99A2B3C402FFE01100FF00000FCF");
    QDeadlineTimer deadline(20000);
    for (;;) {
        const int from = m_rig.boardReceivedCount();
        m_rig.boardSend(QStringLiteral("frame E0 11 00 FF 00 00 0F"));
        if (m_rig.waitBoardReceived(red, 1000, from))
            break;
        QVERIFY2(!deadline.hasExpired(), qPrintable(m_agent.log().right(2000)));
    }
    QTest::qWait(1600);
}

void TestStrokeAccRoundTrip::boardRequest_data()
{
    QTest::addColumn<QString>("request");  // command bytes the board sends
    QTest::addColumn<int>("asks");         // the second one within the marker time
    QTest::addColumn<QByteArray>("frame"); // the answer at the board; empty: none
    QTest::addColumn<uint>("main");        // top-left and bottom-right
    QTest::addColumn<uint>("contrast");    // top-right and bottom-left
    QTest::newRow("red") << "E01100FF00000F" << 1 << hex("7F0D99A2B3C402FFE01100FF00000FCF")
                         << 0xFF0000u << 0xEEEEEEu;
    QTest::newRow("light grey, dark contrast") << "E01100C8C8C8B6" << 1 << hex("7F0D99A2B3C402FFE01100C8C8C8B6CF")
                                               << 0xC8C8C8u << 0x333333u;
    // The further byte enters the request's sum, not the answer.
    QTest::newRow("further byte") << "E01100123456C8AA" << 1 << hex("7F0D99A2B3C402FFE0110012345672CF")
                                  << 0x123456u << 0xEEEEEEu;
    QTest::newRow("asked again within 1.5 s") << "E011000000FF0F" << 2 << hex("7F0D99A2B3C402FFE011000000FF0FCF")
                                              << 0x0000FFu << 0xEEEEEEu;
    QTest::newRow("wrong check byte") << "E01100FF000010" << 1 << QByteArray() << 0u << 0u;
}

void TestStrokeAccRoundTrip::boardRequest()
{
    QFETCH(QString, request);
    QFETCH(int, asks);
    QFETCH(QByteArray, frame);
    QFETCH(uint, main);
    QFETCH(uint, contrast);
    QString line = QStringLiteral("frame");
    for (int i = 0; i < request.size(); i += 2)
        line += QLatin1Char(' ') + request.mid(i, 2);
    const int from = m_rig.boardReceivedCount();
    const int busFrom = m_rig.busMessages().size();
    const int seen = agentSaw(request);
    m_rig.boardSend(line);

    // The centre publishes the command bytes for the agent.
    QJsonObject published;
    QVERIFY(m_rig.waitBusMessage([](const QJsonObject &o) { return o.value("eventid") == "ID_INKDRAW"; },
                                 5000, &published, busFrom));
    QCOMPARE(published, (QJsonObject{{"eventid", "ID_INKDRAW"}, {"from", "ID_APP_VELACENTER"},
                                     {"param", request}, {"to", "ID_APP_INKDRAW"}}));
    if (frame.isEmpty()) {
        QTRY_VERIFY_WITH_TIMEOUT(m_agent.log().contains("E011-recv-data error:  " + request + ' '), 5000);
        QCOMPARE(m_rig.flushToBoard(), from);
        return;
    }

    QVERIFY2(m_rig.waitBoardReceived(frame, 5000, from),
             qPrintable(m_agent.log().right(1500) + m_rig.centreOutput().right(1500)));
    // The squares stand for 1.5 s from the painting; the answer came after it.
    const struct { int x, y; uint colour; } corners[] = {
        {0, 0, main}, {1919, 0, contrast}, {1919, 1079, main}, {0, 1079, contrast}};
    for (const auto &c : corners)
        QTRY_COMPARE_WITH_TIMEOUT(StrokeAccAgentProcess::rootPixel(m_x.display(), c.x, c.y), c.colour, 1000);

    if (asks == 2) {
        m_rig.boardSend(line);
        QTRY_COMPARE_WITH_TIMEOUT(agentSaw(request), seen + 2, 5000);
    }
    // One answer, however often the board asked.
    const int end = m_rig.flushToBoard();
    QVERIFY(end > from);
    QCOMPARE(m_rig.boardReceived().mid(from, end - from).count(frame), 1);
    QTest::qWait(1600); // past the marker time for the next row
}

QTEST_GUILESS_MAIN(TestStrokeAccRoundTrip)
#include "tst_strokeaccroundtrip.moc"
