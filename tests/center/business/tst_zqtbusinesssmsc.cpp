// The smart-screen module over the installed "SmSc.xml", inside the manager.

#include "dvscreen.h"
#include "tablefixtures.h"
#include "zqbusinessmanager.h"
#include "zqtbusinesssmsc.h"

#include <QtTest>

using namespace tables;

class TestSmSc : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void boardFrameToSmartScreen_data();
    void boardFrameToSmartScreen();
    void unanalysableFrameSendsNothing();
    void messageToBoard_data();
    void messageToBoard();
    void earlierModuleClaimsFirst();
};

void TestSmSc::initTestCase()
{
    QVERIFY2(QFile::exists(QCoreApplication::applicationDirPath() + "/SmSc.xml"), "SmSc.xml beside the test program");
}

void TestSmSc::boardFrameToSmartScreen_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("screen state") << frame("C3 01 02") << QByteArray("{\"eventid\":\"SMSC_SCREEN_STATE\",\"param\":[{\"type\":\"State\",\"value\":2}]}");
    QTest::newRow("brightness") << frame("C3 02 50") << QByteArray("{\"eventid\":\"SMSC_BRIGHTNESS\",\"param\":[{\"type\":\"Brightness\",\"value\":80}]}");
    QTest::newRow("wifi name") << frame("C3 04 43 6C 61 73 73 2D 35") << QByteArray("{\"eventid\":\"SMSC_WIFI_NAME\",\"param\":[{\"value\":\"Class-5\"}]}");
    QTest::newRow("source list") << frame("C3 05 01 00 01") << QByteArray("{\"eventid\":\"SMSC_SOURCE_LIST\",\"param\":[{\"value\":1},{\"value\":0},{\"value\":1}]}");
    QTest::newRow("split screen") << frame("C3 06 02 02") << QByteArray("{\"eventid\":\"SMSC_SPLIT_SCREEN\",\"param\":[{\"type\":\"\",\"value\":1}]}");
    QTest::newRow("theme") << frame("C3 07 01") << QByteArray("{\"eventid\":\"SMSC_THEME\",\"param\":[{\"type\":\"\",\"value\":\"dark\"}]}");
    QTest::newRow("presence") << frame("C3 08") << QByteArray("{\"eventid\":\"SMSC_PRESENCE\",\"param\":[{\"type\":\"SMSC_PRESENCE\",\"value\":1}]}");
}

void TestSmSc::boardFrameToSmartScreen()
{
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, expected);

    ZQBusinessManager manager(nullptr);
    manager.init();
    QSignalSpy spy(&manager, &ZQBusinessManager::sigSendMessage);
    manager.DealCommand(frame);
    QCOMPARE(spy.count(), 1);
    QJsonObject want = json(expected);
    want.insert("from", "ID_APP_VELACENTER");
    want.insert("to", "ID_PC_VELASMARTSCREEN");
    QCOMPARE(compact(json(spy.first().first().toString().toUtf8())), compact(want));
}

void TestSmSc::unanalysableFrameSendsNothing()
{
    ZQBusinessManager manager(nullptr);
    manager.init();
    QSignalSpy spy(&manager, &ZQBusinessManager::sigSendMessage);
    // Claimed by its key, but one byte too long for the entry: no message at
    // all, neither an addressed empty one nor a pass-through.
    manager.DealCommand(frame("C3 01 02 00"));
    QCOMPARE(spy.count(), 0);

    DvScreen screen;
    ZQTbusinessSmSc module(&screen, nullptr);
    QSignalSpy direct(&module, &ZQTbusinessSmSc::sigSendMessage);
    module.Send(QJsonObject());
    QCOMPARE(direct.count(), 0);
}

void TestSmSc::messageToBoard_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("frame");

    QTest::newRow("screen state") << "{\"eventid\":\"SMSC_SCREEN_STATE\",\"param\":[{\"value\":1}]}" << frame("C3 01 01");
    QTest::newRow("brightness") << "{\"eventid\":\"SMSC_BRIGHTNESS\",\"param\":[{\"value\":60}]}" << frame("C3 02 3C");
    QTest::newRow("theme") << "{\"eventid\":\"SMSC_THEME\",\"param\":[{\"value\":\"auto\"}]}" << frame("C3 07 02");
    QTest::newRow("wifi request") << "{\"eventid\":\"SMSC_WIFI_NAME\"}" << frame("C3 04");
}

void TestSmSc::messageToBoard()
{
    QFETCH(QString, message);
    QFETCH(QByteArray, frame);

    ZQBusinessManager manager(nullptr);
    manager.init();
    QSignalSpy spy(&manager, &ZQBusinessManager::sigSendCommand);
    manager.DealMessage(message);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spaced(spy.first().first().toByteArray()), spaced(frame));
}

void TestSmSc::earlierModuleClaimsFirst()
{
    ZQBusinessManager manager(nullptr);
    manager.init();
    ZQTbusinessSmSc* smsc = nullptr;
    for (IZQBusiness* module : manager.modules())
        if (auto* m = qobject_cast<ZQTbusinessSmSc*>(module->getObject()))
            smsc = m;
    QVERIFY(smsc);
    QCOMPARE(static_cast<IZQBusiness*>(smsc), manager.modules().last());

    // An earlier module that knows the same key, as the whiteboard module
    // would be.
    auto* earlier = new ZQTbusiness(manager.screen(), nullptr);
    QVERIFY(load(*earlier, "<BOARD_STATE commandType='analysis' commandParamType='fixed' len='12'>"
                           "<k><b byteValue='C3'/><b byteValue='01'/></k></BOARD_STATE>"
                           "<SMSC_THEME commandType='fit' commandParamType='fixed'><k><b byteValue='C9'/></k></SMSC_THEME>"));
    manager.insertModule(0, earlier);

    QSignalSpy smscMessages(smsc, &ZQTbusinessSmSc::sigSendMessage);
    QSignalSpy smscCommands(smsc, &ZQTbusinessSmSc::sigSendCommend);
    QSignalSpy messages(&manager, &ZQBusinessManager::sigSendMessage);
    QSignalSpy commands(&manager, &ZQBusinessManager::sigSendCommand);
    manager.DealCommand(frame("C3 01 02"));
    manager.DealMessage("{\"eventid\":\"SMSC_THEME\",\"param\":[{\"value\":\"dark\"}]}");
    QCOMPARE(smscMessages.count(), 0);
    QCOMPARE(smscCommands.count(), 0);
    QCOMPARE(messages.count(), 1);
    const QJsonObject sent = json(messages.first().first().toString().toUtf8());
    QCOMPARE(sent.value("eventid").toString(), QStringLiteral("BOARD_STATE"));
    QVERIFY(!sent.contains("to")); // the base module does not address it
    QCOMPARE(commands.count(), 1);
    QCOMPARE(spaced(commands.first().first().toByteArray()), spaced(frame("C9")));
}

QTEST_GUILESS_MAIN(TestSmSc)
#include "tst_zqtbusinesssmsc.moc"
