// What the business modules make of odd messages from the applications, and
// the order in which the whiteboard module hands on board events that wait
// for the application in front. The modules run inside the business manager
// over the installed tables, as in velacenter.

#include "czqsharedkit.h"
#include "tablefixtures.h"
#include "zqbusinessmanager.h"

#include <QMutex>
#include <QtTest>

using namespace tables;

namespace {

QList<QByteArray> frames(std::initializer_list<const char*> commands)
{
    QList<QByteArray> list;
    for (const char* c : commands)
        list << frame(c);
    return list;
}

QStringList spaced(const QList<QByteArray>& list)
{
    QStringList out;
    for (const QByteArray& f : list)
        out << tables::spaced(f);
    return out;
}

} // namespace

class TestBusinessMessages : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void messagesToBoard_data();
    void messagesToBoard();
    void screenInfoAlwaysAnswered_data();
    void screenInfoAlwaysAnswered();
    void appNamedByBoard_data();
    void appNamedByBoard();
    void frontAppEventsKeepOrderWithoutHoldingUp();

private:
    bool m_annotationElsewhere = false;
};

void TestBusinessMessages::initTestCase()
{
    for (const char* table : {"/DiscCommand.xml", "/control.xml"})
        QVERIFY2(QFile::exists(QCoreApplication::applicationDirPath() + table), table);
    m_annotationElsewhere = CZqSharedKit::getInstence()->checkProgramRun(QStringLiteral("VelaAnnotation.exe")) == 1;
}

void TestBusinessMessages::messagesToBoard_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QList<QByteArray>>("expected"); // frames for the board, in order
    QTest::addColumn<QString>("broadcast");          // "param" of the ID_PEN_ATTR_BRO sent, or none

    // Application action and pen attributes: Base64 with or without padding.
    QTest::newRow("action, padded") << R"({"eventid":"ID_APP_ACTION","param":"AQI="})" << frames({"E3 09 01 02"}) << QString();
    QTest::newRow("action, unpadded") << R"({"eventid":"ID_APP_ACTION","param":"AQI"})" << frames({"E3 09 01 02"}) << QString();
    QTest::newRow("action, unpadded one byte") << R"({"eventid":"ID_APP_ACTION","param":"AQ"})" << frames({"E3 09 01"}) << QString();
    QTest::newRow("action, empty") << R"({"eventid":"ID_APP_ACTION","param":""})" << frames({"E3 09"}) << QString();
    QTest::newRow("action, a number: no data") << R"({"eventid":"ID_APP_ACTION","param":5})" << frames({"E3 09"}) << QString();
    QTest::newRow("action, no param: no data") << R"({"eventid":"ID_APP_ACTION"})" << frames({"E3 09"}) << QString();
    QTest::newRow("action, not Base64") << R"({"eventid":"ID_APP_ACTION","param":"**"})" << frames({}) << QString();
    QTest::newRow("action, a stray character") << R"({"eventid":"ID_APP_ACTION","param":"AQIDB"})" << frames({}) << QString();
    QTest::newRow("action, a stray character padded") << R"({"eventid":"ID_APP_ACTION","param":"AQIDB=="})" << frames({}) << QString();
    QTest::newRow("pen, unpadded") << R"({"eventid":"ID_PEN_ATTR_SET","param":"AQUAAACAHg"})"
                                   << frames({"E3 08 01 05 00 00 00 80 1E"}) << QStringLiteral("AQUAAACAHg");
    QTest::newRow("pen, a number") << R"({"eventid":"ID_PEN_ATTR_SET","param":7})" << frames({}) << QString();
    QTest::newRow("pen, empty") << R"({"eventid":"ID_PEN_ATTR_SET","param":""})" << frames({}) << QString();

    // Application state: what is missing reads as 0.
    QTest::newRow("state") << R"({"eventid":"ID_APP_STATE","param":{"appid":258,"appstate":1}})" << frames({"E3 03 02 01"}) << QString();
    QTest::newRow("state, param a text") << R"({"eventid":"ID_APP_STATE","param":"x"})" << frames({"E3 03 00 00"}) << QString();
    QTest::newRow("state, no param") << R"({"eventid":"ID_APP_STATE"})" << frames({"E3 03 00 00"}) << QString();
    QTest::newRow("state, no appstate") << R"({"eventid":"ID_APP_STATE","param":{"appid":4}})" << frames({"E3 03 04 00"}) << QString();

    // Equipment errors: an odd value is byte 00, no list the "no errors" frame.
    QTest::newRow("errors") << R"({"eventid":"UPDATE_EQUIPMENT_ERROR_INFO","param":[{"value":87},{"value":5}]})"
                            << frames({"F4 FF 02 00"}) << QString();
    QTest::newRow("errors, a text code") << R"({"eventid":"UPDATE_EQUIPMENT_ERROR_INFO","param":[{"value":"87"},{"value":86}]})"
                                         << frames({"F4 FF 00 01"}) << QString();
    QTest::newRow("errors, an object code") << R"({"eventid":"UPDATE_EQUIPMENT_ERROR_INFO","param":[{"value":{}},{}]})"
                                            << frames({"F4 FF 00 00"}) << QString();
    QTest::newRow("errors, no param") << R"({"eventid":"UPDATE_EQUIPMENT_ERROR_INFO"})" << frames({"F4 FF"}) << QString();
    QTest::newRow("errors, param an object") << R"({"eventid":"UPDATE_EQUIPMENT_ERROR_INFO","param":{"value":87}})"
                                             << frames({"F4 FF"}) << QString();

    // Pen properties: a colour must be a text and a width a number, else
    // the table would send a colourless command or a width nobody chose.
    QTest::newRow("pen colour a number") << R"({"eventid":"ID_ZQ_PEN_PROPERTY_CHANGE","property":{"Color":3}})" << frames({}) << QString();
    QTest::newRow("pen width a text") << R"({"eventid":"ID_ZQ_PEN_PROPERTY_CHANGE","property":{"Width":"5"}})" << frames({}) << QString();
    QTest::newRow("pen width") << R"({"eventid":"ID_ZQ_PEN_PROPERTY_CHANGE","property":{"Width":5}})" << frames({"C1 02 06"}) << QString();
}

void TestBusinessMessages::messagesToBoard()
{
    QFETCH(QString, message);
    QFETCH(QList<QByteArray>, expected);
    QFETCH(QString, broadcast);

    ZQBusinessManager manager(nullptr);
    manager.init();
    QSignalSpy commands(&manager, &ZQBusinessManager::sigSendCommand);
    QSignalSpy messages(&manager, &ZQBusinessManager::sigSendMessage);
    manager.DealMessage(message);
    QList<QByteArray> sent;
    for (const QList<QVariant>& args : qAsConst(commands))
        sent << args.at(0).toByteArray();
    QCOMPARE(spaced(sent), spaced(expected));
    for (const QByteArray& f : qAsConst(sent))
        QCOMPARE(envelopeFault(f), QString());
    if (broadcast.isEmpty()) {
        QCOMPARE(messages.count(), 0);
    } else {
        QCOMPARE(messages.count(), 1);
        const QJsonObject bro = json(messages.at(0).at(0).toString().toUtf8().constData());
        QCOMPARE(bro.value("eventid").toString(), QStringLiteral("ID_PEN_ATTR_BRO"));
        QCOMPARE(bro.value("param").toString(), broadcast);
    }
}

void TestBusinessMessages::screenInfoAlwaysAnswered_data()
{
    QTest::addColumn<QString>("param"); // JSON text of "param", empty for none
    QTest::addColumn<QString>("values");
    QTest::newRow("known and unknown keys") << R"("b<>a<>c")" << "2<>1<>";
    QTest::newRow("a number") << "5" << "";
    QTest::newRow("an array") << R"(["a"])" << "";
    QTest::newRow("no param") << "" << "";
}

void TestBusinessMessages::screenInfoAlwaysAnswered()
{
    QFETCH(QString, param);
    QFETCH(QString, values);

    ZQBusinessManager manager(nullptr);
    manager.init();
    // The board's screen information: a = 1, b = 2.
    QByteArray info = hex("7F 00 99 A2 B3 C4 02 FF E3 04") + QByteArray("a-1<=>b-2") + hex("CF");
    info[1] = char(info.size() - 3);
    manager.DealCommand(info);
    QSignalSpy messages(&manager, &ZQBusinessManager::sigSendMessage);
    const QString request = QStringLiteral(R"({"eventid":"ID_GET_SCREEN_INFO","from":"ID_APP_SETTINGS","to":"ID_APP_VELACENTER"%1})")
                                .arg(param.isEmpty() ? QString() : QStringLiteral(",\"param\":") + param);
    manager.DealMessage(request);
    QCOMPARE(messages.count(), 1);
    const QJsonObject reply = json(messages.at(0).at(0).toString().toUtf8().constData());
    QCOMPARE(reply.value("eventid").toString(), QStringLiteral("ID_GET_SCREEN_INFO"));
    QCOMPARE(reply.value("to").toString(), QStringLiteral("ID_APP_SETTINGS"));
    QCOMPARE(reply.value("from").toString(), QStringLiteral("ID_APP_VELACENTER"));
    QCOMPARE(reply.value("param").toString(), values);
}

void TestBusinessMessages::appNamedByBoard_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("local");
    QTest::newRow("calculator") << frame("C1 20 01") << "ID_CALCULATOR";
    QTest::newRow("clock") << frame("C1 20 05") << "ID_CLOCK";
    // An application the table does not name: "ID_", which the local
    // operator answers with its "not installed" hint.
    QTest::newRow("unnamed") << frame("C1 20 09") << "ID_";
}

void TestBusinessMessages::appNamedByBoard()
{
    QFETCH(QByteArray, frame);
    QFETCH(QString, local);
    ZQBusinessManager manager(nullptr);
    manager.init();
    QSignalSpy locals(&manager, &ZQBusinessManager::sigSendLocal);
    QSignalSpy messages(&manager, &ZQBusinessManager::sigSendMessage);
    manager.DealCommand(frame);
    QTRY_COMPARE(locals.count(), 1);
    QCOMPARE(locals.at(0).at(0).toString(), local);
    QCOMPARE(messages.count(), 0);
}

void TestBusinessMessages::frontAppEventsKeepOrderWithoutHoldingUp()
{
    if (m_annotationElsewhere)
        QSKIP("a VelaAnnotation.exe runs on this machine");
    ZQBusinessManager manager(nullptr);
    manager.init();
    QMutex mutex;
    QStringList seen; // what left the manager, in order
    const auto note = [&](const QString& what) {
        QMutexLocker lock(&mutex);
        seen << what;
    };
    const auto seenNow = [&]() {
        QMutexLocker lock(&mutex);
        return seen;
    };
    connect(&manager, &ZQBusinessManager::sigSendLocal, this, [&](const QString& local) { note(local); },
            Qt::DirectConnection);
    connect(&manager, &ZQBusinessManager::sigSendMessage, this, [&](const QString& text) {
        note(json(text.toUtf8().constData()).value("eventid").toString());
    }, Qt::DirectConnection);

    // Nobody answers which application is in front: the stroke key waits its
    // second and then counts as local; the heartbeat after it waits for it,
    // while a frame for no module goes up at once.
    manager.DealCommand(frame("C1 12"));
    manager.DealCommand(frame("C1 30"));
    manager.DealCommand(frame("E9 01"));
    QCOMPARE(seenNow(), QStringList{QStringLiteral("EVENT_ANY")});
    QTRY_COMPARE_WITH_TIMEOUT(seenNow().size(), 3, 5000);
    QCOMPARE(seenNow(), (QStringList{"EVENT_ANY", "ID_ITEM_STROKE_SMOOTH", "DISC_HEART"}));
}

QTEST_GUILESS_MAIN(TestBusinessMessages)
#include "tst_businessmessages.moc"
