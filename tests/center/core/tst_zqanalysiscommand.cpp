// Board frames to messages: the key search, the lookup order across kinds, the
// result of every kind, the screen conversion and what a faulty table does.

#include "dvscreen.h"
#include "tablefixtures.h"
#include "zqanalysiscommand.h"
#include "zqtbusiness.h"

#include <QtTest>

using namespace tables;

namespace {

const char kPenWidth[] =
    "<SET_DISC_PEN_WIDTH commandType='analysis' commandParamType='oneValue' len='12'>"
    "<key><b byteValue='E5'/><b byteValue='02'/></key><Width/></SET_DISC_PEN_WIDTH>";

const char kSampleSource[] =
    "<SAMPLE_SOURCE commandType='analysis' commandParamType='oneEnum' len='11'>"
    "<key><b byteValue='5A'/></key>"
    "<Source><i value='01' valueType='3' position='9'/><i value='02' valueType='7' position='9'/></Source>"
    "</SAMPLE_SOURCE>";

} // namespace

class TestAnalysisCommand : public QObject
{
    Q_OBJECT

private slots:
    void penWidth_data();
    void penWidth();
    void lengthMismatchGivesEmpty();
    void oneEnum_data();
    void oneEnum();
    void shortestPrefix_data();
    void shortestPrefix();
    void lookupOrder_data();
    void lookupOrder();
    void nEnum_data();
    void nEnum();
    void nEnumIsNotClaimedByKeySearch();
    void oneString_data();
    void oneString();
    void twoValue_data();
    void twoValue();
    void oneValuePassesOtherEventsSigned_data();
    void oneValuePassesOtherEventsSigned();
    void entriesNotLoaded_data();
    void entriesNotLoaded();
    void tablePositionOutsideFrame_data();
    void tablePositionOutsideFrame();
    void laterEntryReplacesSameKindOnly();
    void penSizeTables_data();
    void penSizeTables();
};

void TestAnalysisCommand::penWidth_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("width");

    QTest::newRow("v0 byte 12") << 0 << hex("7F 09 99 A2 B3 C4 02 FF E5 02 0C CF") << 10;
    QTest::newRow("v0 byte 6") << 0 << frame("E5 02 06") << 5;
    QTest::newRow("v0 byte 3") << 0 << frame("E5 02 03") << 3;
    QTest::newRow("v0 byte 20 unknown") << 0 << frame("E5 02 14") << 3;
    QTest::newRow("v2018 byte 20") << 2018 << frame("E5 02 14") << 10;
    QTest::newRow("v2018 byte 12") << 2018 << frame("E5 02 0C") << 5;
    QTest::newRow("v2018 byte 6") << 2018 << frame("E5 02 06") << 3;
    QTest::newRow("v2018 byte 3 unknown") << 2018 << frame("E5 02 03") << 3;
    QTest::newRow("v2019 byte 3") << 2019 << frame("E5 02 03") << 3;
    QTest::newRow("v2019 byte 20 unknown") << 2019 << frame("E5 02 14") << 3;
    QTest::newRow("v2019 byte 12") << 2019 << frame("E5 02 0C") << 10;
}

void TestAnalysisCommand::penWidth()
{
    QFETCH(int, version);
    QFETCH(QByteArray, frame);
    QFETCH(int, width);

    DvScreen screen;
    screen.setScreenVersion(version);
    ZQTbusiness module(&screen, nullptr);
    QVERIFY(load(module, kPenWidth));

    QByteArray key;
    const QJsonObject result = analyse(module, frame, &key);
    QCOMPARE(spaced(key), QStringLiteral("E5 02"));
    QCOMPARE(result, json(QString("{\"eventid\":\"SET_DISC_PEN_WIDTH\",\"param\":[{\"type\":\"Width\",\"value\":%1}]}")
                              .arg(width).toUtf8()));
}

void TestAnalysisCommand::lengthMismatchGivesEmpty()
{
    DvScreen screen;
    ZQTbusiness module(&screen, nullptr);
    QVERIFY(load(module, kPenWidth));

    // One more byte before the end byte: the key still matches, the length does not.
    const QByteArray longer = hex("7F 0A 99 A2 B3 C4 02 FF E5 02 0C 00 CF");
    QByteArray key;
    QVERIFY(module.isCanDealCommand(longer, key));
    QVERIFY(module.DealCommand(longer, key).isEmpty());
}

void TestAnalysisCommand::oneEnum_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("value");

    QTest::newRow("byte 02") << hex("7F 08 99 A2 B3 C4 02 FF 5A 02 CF") << 7;
    QTest::newRow("byte 01") << frame("5A 01") << 3;
    QTest::newRow("unlisted byte 05") << frame("5A 05") << 0;
}

void TestAnalysisCommand::oneEnum()
{
    QFETCH(QByteArray, frame);
    QFETCH(int, value);

    DvScreen screen;
    ZQTbusiness module(&screen, nullptr);
    QVERIFY(load(module, kSampleSource));
    QCOMPARE(analyse(module, frame),
             json(QString("{\"eventid\":\"SAMPLE_SOURCE\",\"param\":[{\"type\":\"Source\",\"value\":%1}]}")
                      .arg(value).toUtf8()));
}

void TestAnalysisCommand::shortestPrefix_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("eventid");

    const QString fixedShortAndLong =
        "<SHORT commandType='analysis' commandParamType='fixed' len='11'><k><b byteValue='E3'/></k></SHORT>"
        "<LONG commandType='analysis' commandParamType='fixed' len='11'><k><b byteValue='E3'/><b byteValue='04'/></k></LONG>";
    QTest::newRow("same kind") << fixedShortAndLong << frame("E3 04") << "E3" << "SHORT";
    QTest::newRow("longer only when shorter unknown") << fixedShortAndLong << frame("E4 04") << "" << "";

    const QString acrossKinds =
        "<LONGFIX commandType='analysis' commandParamType='fixed' len='11'><k><b byteValue='30'/><b byteValue='31'/></k></LONGFIX>"
        "<SHORTVAL commandType='analysis' commandParamType='oneValue' len='11'><k><b byteValue='30'/></k><V/></SHORTVAL>";
    QTest::newRow("shorter of another kind") << acrossKinds << frame("30 31") << "30" << "SHORTVAL";

    const QString threeBytes =
        "<THREE commandType='analysis' commandParamType='fixed' len='12'>"
        "<k><b byteValue='40'/><b byteValue='41'/><b byteValue='42'/></k></THREE>";
    QTest::newRow("three-byte key") << threeBytes << frame("40 41 42") << "40 41 42" << "THREE";
    QTest::newRow("key never reaches into the end byte") << threeBytes << frame("40 41") << "" << "";
}

void TestAnalysisCommand::shortestPrefix()
{
    QFETCH(QString, table);
    QFETCH(QByteArray, frame);
    QFETCH(QString, key);
    QFETCH(QString, eventid);

    DvScreen screen;
    ZQTbusiness module(&screen, nullptr);
    QVERIFY(load(module, table));

    QByteArray found;
    const bool claimed = module.isCanDealCommand(frame, found);
    QCOMPARE(claimed, !key.isEmpty());
    if (!claimed)
        return;
    QCOMPARE(spaced(found), key);
    QCOMPARE(module.DealCommand(frame, found).value("eventid").toString(), eventid);
}

void TestAnalysisCommand::lookupOrder_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("expected");

    const QString fixed = "<FIX commandType='analysis' commandParamType='fixed' len='%1'><k><b byteValue='70'/></k></FIX>";
    const QString oneEnum =
        "<ENUM commandType='analysis' commandParamType='oneEnum' len='11'><k><b byteValue='70'/></k>"
        "<T><i value='01' valueType='9' position='9'/></T></ENUM>";
    QTest::newRow("fixed before oneEnum") << fixed.arg(11) + oneEnum << frame("70 01")
                                          << QByteArray("{\"eventid\":\"FIX\",\"param\":[{\"type\":\"FIX\",\"value\":1}]}");
    QTest::newRow("fixed decides even when its length fails")
        << fixed.arg(10) + oneEnum << frame("70 01") << QByteArray("{}");

    const QString oneValue = "<VAL commandType='analysis' commandParamType='oneValue' len='11'><k><b byteValue='70'/></k><V/></VAL>";
    QTest::newRow("oneEnum before oneValue") << oneValue + oneEnum << frame("70 01")
                                             << QByteArray("{\"eventid\":\"ENUM\",\"param\":[{\"type\":\"T\",\"value\":9}]}");

    const QString nEnum =
        "<NE commandType='analysis' commandParamType='NEnum' len='11'><k><b byteValue='70'/></k>"
        "<G><i value='01' valueType='4' position='9'/></G></NE>";
    const QString oneString = "<STR commandType='analysis' commandParamType='oneString'><k><b byteValue='70'/></k></STR>";
    QTest::newRow("oneValue before NEnum") << nEnum + oneValue << frame("70 01")
                                           << QByteArray("{\"eventid\":\"VAL\",\"param\":[{\"type\":\"V\",\"value\":1}]}");
    QTest::newRow("NEnum before oneString") << oneString + nEnum << frame("70 01")
                                            << QByteArray("{\"eventid\":\"NE\",\"param\":[{\"value\":4}]}");

    const QString stringEnum =
        "<SE commandType='analysis' commandParamType='oneStringEnum' len='11'><k><b byteValue='70'/></k>"
        "<T><i value='01' valueType='one' position='9'/></T></SE>";
    const QString twoValue =
        "<TWO commandType='analysis' commandParamType='twoValue' len='12'><k><b byteValue='70'/></k>"
        "<P><i position='9'/></P></TWO>";
    QTest::newRow("NEnum before oneStringEnum") << stringEnum + nEnum << frame("70 01")
                                                << QByteArray("{\"eventid\":\"NE\",\"param\":[{\"value\":4}]}");
    QTest::newRow("oneStringEnum before twoValue") << twoValue + stringEnum << frame("70 01")
                                                   << QByteArray("{\"eventid\":\"SE\",\"param\":[{\"type\":\"\",\"value\":\"one\"}]}");
    QTest::newRow("twoValue before oneString") << oneString + twoValue << frame("70 01 01")
                                               << QByteArray("{\"eventid\":\"TWO\",\"param\":[{\"type\":\"\",\"value\":1}]}");
    QTest::newRow("twoValue decides even when its length fails")
        << oneString + twoValue << frame("70 01") << QByteArray("{}");
}

void TestAnalysisCommand::lookupOrder()
{
    QFETCH(QString, table);
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, expected);

    DvScreen screen;
    ZQTbusiness module(&screen, nullptr);
    QVERIFY(load(module, table));
    QByteArray key;
    QVERIFY(module.isCanDealCommand(frame, key));
    QCOMPARE(compact(module.DealCommand(frame, key)), compact(json(expected)));
}

void TestAnalysisCommand::nEnum_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("param");

    // Groups at positions 9 and 11 only; 10 and 12 are undeclared.
    QTest::newRow("listed bytes") << frame("60 01 01 02 02") << QByteArray("[{\"value\":5},{\"value\":0},{\"value\":7},{\"value\":0}]");
    QTest::newRow("unlisted bytes") << frame("60 03 01 09 02") << QByteArray("[{\"value\":0},{\"value\":0},{\"value\":0},{\"value\":0}]");
    QTest::newRow("second group first item") << frame("60 01 00 01 00") << QByteArray("[{\"value\":5},{\"value\":0},{\"value\":6},{\"value\":0}]");
}

void TestAnalysisCommand::nEnum()
{
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, param);

    DvScreen screen;
    ZQTbusiness module(&screen, nullptr);
    QVERIFY(load(module,
                 "<STATES commandType='analysis' commandParamType='NEnum' len='14'>"
                 "<k><b byteValue='60'/></k>"
                 "<A><i value='01' valueType='5' position='9'/></A>"
                 "<!-- the second group follows a comment -->"
                 "<B><i value='01' valueType='6' position='11'/><i value='02' valueType='7' position='11'/></B>"
                 "</STATES>"));
    const QJsonObject result = module.analysisEngine()->analysis(hex("60"), frame);
    QCOMPARE(result.value("eventid").toString(), QStringLiteral("STATES"));
    // n - 9 - k objects, one per byte between key and end byte.
    QCOMPARE(result.value("param").toArray().size(), frame.size() - 9 - 1);
    QCOMPARE(QJsonDocument(result.value("param").toArray()).toJson(QJsonDocument::Compact), param);
}

void TestAnalysisCommand::nEnumIsNotClaimedByKeySearch()
{
    DvScreen screen;
    ZQTbusiness module(&screen, nullptr);
    QVERIFY(load(module,
                 "<STATES commandType='analysis' commandParamType='NEnum' len='11'>"
                 "<k><b byteValue='60'/></k><A><i value='01' valueType='5' position='9'/></A></STATES>"));
    QVERIFY(!module.analysisEngine()->findSpacialCmd(hex("60")));
    QByteArray key;
    QVERIFY(!module.isCanDealCommand(frame("60 01"), key));
}

void TestAnalysisCommand::oneString_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("text");

    QTest::newRow("cut at zero byte") << frame("77 41 42 00 43") << "AB";
    QTest::newRow("ends after key") << frame("77") << "";
    QTest::newRow("utf-8") << frame("77 47 72 C3 B6 C3 9F 65") << QString::fromUtf8("Gr\xC3\xB6\xC3\x9F" "e");
    QTest::newRow("zero first") << frame("77 00 41") << "";
}

void TestAnalysisCommand::oneString()
{
    QFETCH(QByteArray, frame);
    QFETCH(QString, text);

    DvScreen screen;
    ZQTbusiness module(&screen, nullptr);
    // No "len": a text is matched at any length.
    QVERIFY(load(module, "<NAME commandType='analysis' commandParamType='oneString'><k><b byteValue='77'/></k></NAME>"));
    const QJsonObject result = analyse(module, frame);
    QCOMPARE(result.value("eventid").toString(), QStringLiteral("NAME"));
    const QJsonObject item = result.value("param").toArray().at(0).toObject();
    QCOMPARE(item.keys(), QStringList{"value"});
    QCOMPARE(item.value("value").toString(), text);
}

void TestAnalysisCommand::twoValue_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("value");

    QTest::newRow("equal") << frame("71 05 05") << 1;
    QTest::newRow("different") << frame("71 05 06") << 0;
    QTest::newRow("equal high bytes") << frame("71 FF FF") << 1;
}

void TestAnalysisCommand::twoValue()
{
    QFETCH(QByteArray, frame);
    QFETCH(int, value);

    DvScreen screen;
    ZQTbusiness module(&screen, nullptr);
    QVERIFY(load(module, "<SAME commandType='analysis' commandParamType='twoValue' len='12'>"
                         "<k><b byteValue='71'/></k><P><i position='9'/></P></SAME>"));
    QCOMPARE(analyse(module, frame),
             json(QString("{\"eventid\":\"SAME\",\"param\":[{\"type\":\"\",\"value\":%1}]}").arg(value).toUtf8()));
}

void TestAnalysisCommand::oneValuePassesOtherEventsSigned_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<int>("value");

    QTest::newRow("F0") << 0 << frame("72 F0") << -16;
    QTest::newRow("7F") << 0 << frame("72 7F") << 127;
    QTest::newRow("0C not converted, v2018") << 2018 << frame("72 0C") << 12;
}

void TestAnalysisCommand::oneValuePassesOtherEventsSigned()
{
    QFETCH(int, version);
    QFETCH(QByteArray, frame);
    QFETCH(int, value);

    DvScreen screen;
    screen.setScreenVersion(version);
    ZQTbusiness module(&screen, nullptr);
    QVERIFY(load(module, "<SET_VOLUME commandType='analysis' commandParamType='oneValue' len='11'>"
                         "<k><b byteValue='72'/></k><Volume/></SET_VOLUME>"));
    QCOMPARE(analyse(module, frame).value("param").toArray().at(0).toObject().value("value").toInt(), value);
}

void TestAnalysisCommand::entriesNotLoaded_data()
{
    QTest::addColumn<QString>("entry");

    QTest::newRow("no commandType") << "<E commandParamType='fixed' len='10'><k><b byteValue='73'/></k></E>";
    QTest::newRow("commandType in other case") << "<E commandType='Analysis' commandParamType='fixed' len='10'><k><b byteValue='73'/></k></E>";
    QTest::newRow("unknown kind") << "<E commandType='analysis' commandParamType='threeValue' len='10'><k><b byteValue='73'/></k></E>";
    QTest::newRow("no kind") << "<E commandType='analysis' len='10'><k><b byteValue='73'/></k></E>";
    QTest::newRow("comment before key") << "<E commandType='analysis' commandParamType='fixed' len='10'><!-- key --><k><b byteValue='73'/></k></E>";
    QTest::newRow("key without bytes") << "<E commandType='analysis' commandParamType='fixed' len='9'><k/></E>";
    QTest::newRow("oneEnum without value element") << "<E commandType='analysis' commandParamType='oneEnum' len='10'><k><b byteValue='73'/></k></E>";
    QTest::newRow("oneEnum comment as value") << "<E commandType='analysis' commandParamType='oneEnum' len='10'><k><b byteValue='73'/></k><!-- v --></E>";
    QTest::newRow("oneStringEnum without value element") << "<E commandType='analysis' commandParamType='oneStringEnum' len='10'><k><b byteValue='73'/></k></E>";
    QTest::newRow("NEnum without groups") << "<E commandType='analysis' commandParamType='NEnum' len='10'><k><b byteValue='73'/></k><!-- none --></E>";
    QTest::newRow("twoValue without position") << "<E commandType='analysis' commandParamType='twoValue' len='10'><k><b byteValue='73'/></k></E>";
    QTest::newRow("fit entry") << "<E commandType='fit' commandParamType='fixed'><k><b byteValue='73'/></k></E>";
}

void TestAnalysisCommand::entriesNotLoaded()
{
    QFETCH(QString, entry);

    DvScreen screen;
    ZQTbusiness module(&screen, nullptr);
    // A good entry beside the skipped one shows the file itself was read.
    QVERIFY(load(module, entry + "<GOOD commandType='analysis' commandParamType='fixed' len='10'><k><b byteValue='74'/></k></GOOD>"));
    QByteArray key;
    QVERIFY(!module.isCanDealCommand(frame("73"), key));
    QVERIFY(!module.analysisEngine()->findSpacialCmd(hex("73")));
    QVERIFY(module.analysisEngine()->analysis(hex("73"), frame("73")).isEmpty());
    QCOMPARE(analyse(module, frame("74")).value("eventid").toString(), QStringLiteral("GOOD"));
}

void TestAnalysisCommand::tablePositionOutsideFrame_data()
{
    QTest::addColumn<QString>("entry");
    QTest::addColumn<QByteArray>("frame");

    QTest::newRow("oneEnum beyond frame") << "<E commandType='analysis' commandParamType='oneEnum' len='11'><k><b byteValue='75'/></k>"
                                             "<T><i value='01' valueType='1' position='40'/></T></E>"
                                          << frame("75 01");
    QTest::newRow("oneEnum on end byte") << "<E commandType='analysis' commandParamType='oneEnum' len='11'><k><b byteValue='75'/></k>"
                                            "<T><i value='CF' valueType='1' position='10'/></T></E>"
                                         << frame("75 01");
    QTest::newRow("oneEnum negative") << "<E commandType='analysis' commandParamType='oneEnum' len='11'><k><b byteValue='75'/></k>"
                                         "<T><i value='01' valueType='1' position='-3'/></T></E>"
                                      << frame("75 01");
    QTest::newRow("oneStringEnum huge") << "<E commandType='analysis' commandParamType='oneStringEnum' len='11'><k><b byteValue='75'/></k>"
                                           "<T><i value='01' valueType='x' position='2147483647'/></T></E>"
                                        << frame("75 01");
    QTest::newRow("twoValue second byte is end byte") << "<E commandType='analysis' commandParamType='twoValue' len='11'><k><b byteValue='75'/></k>"
                                                         "<P><i position='9'/></P></E>"
                                                      << frame("75 01");
    QTest::newRow("twoValue at int max") << "<E commandType='analysis' commandParamType='twoValue' len='12'><k><b byteValue='75'/></k>"
                                            "<P><i position='2147483647'/></P></E>"
                                         << frame("75 01 01");
    QTest::newRow("oneValue without value byte") << "<E commandType='analysis' commandParamType='oneValue' len='10'><k><b byteValue='75'/></k><V/></E>"
                                                 << frame("75");
}

void TestAnalysisCommand::tablePositionOutsideFrame()
{
    QFETCH(QString, entry);
    QFETCH(QByteArray, frame);

    DvScreen screen;
    ZQTbusiness module(&screen, nullptr);
    QVERIFY(load(module, entry));
    QByteArray key;
    QVERIFY(module.isCanDealCommand(frame, key));
    // The frame is not read outside its bytes: the faulty entry gives nothing.
    QVERIFY(module.DealCommand(frame, key).isEmpty());
}

void TestAnalysisCommand::laterEntryReplacesSameKindOnly()
{
    DvScreen screen;
    ZQTbusiness module(&screen, nullptr);
    QVERIFY(load(module,
                 "<FIRST commandType='analysis' commandParamType='fixed' len='10'><k><b byteValue='76'/></k></FIRST>"
                 "<SECOND commandType='analysis' commandParamType='fixed' len='10'><k><b byteValue='76'/></k></SECOND>"
                 "<TEXT commandType='analysis' commandParamType='oneString'><k><b byteValue='76'/></k></TEXT>"));
    QCOMPARE(analyse(module, frame("76")).value("eventid").toString(), QStringLiteral("SECOND"));
    // The text entry of the same key was stored beside it, not over it:
    // a length the fixed entry refuses gives empty rather than the text.
    QVERIFY(analyse(module, frame("76 41")).isEmpty());
}

void TestAnalysisCommand::penSizeTables_data()
{
    QTest::addColumn<int>("version");
    QTest::addColumn<int>("appSize");
    QTest::addColumn<int>("device");

    QTest::newRow("v0 0") << 0 << 0 << 3;
    QTest::newRow("v0 -5") << 0 << -5 << 3;
    QTest::newRow("v0 1") << 0 << 1 << 3;
    QTest::newRow("v0 4") << 0 << 4 << 3;
    QTest::newRow("v0 5") << 0 << 5 << 6;
    QTest::newRow("v0 9") << 0 << 9 << 6;
    QTest::newRow("v0 10") << 0 << 10 << 12;
    QTest::newRow("v2019 500") << 2019 << 500 << 12;
    QTest::newRow("v2018 0") << 2018 << 0 << 6;
    QTest::newRow("v2018 3") << 2018 << 3 << 6;
    QTest::newRow("v2018 7") << 2018 << 7 << 12;
    QTest::newRow("v2018 12") << 2018 << 12 << 20;
}

void TestAnalysisCommand::penSizeTables()
{
    QFETCH(int, version);
    QFETCH(int, appSize);
    QFETCH(int, device);

    DvScreen screen;
    screen.setScreenVersion(version);
    QCOMPARE(screen.toDeviceValue("SET_DISC_PEN_WIDTH", appSize), device);
    QCOMPARE(screen.toDeviceValue("SET_VOLUME", appSize), appSize);
    // Board sizes read back to the application's sizes 3, 5 and 10.
    const int back = screen.toAppValue("SET_DISC_PEN_WIDTH", char(device));
    QCOMPARE(back, appSize >= 10 ? 10 : appSize >= 5 ? 5 : 3);
}

QTEST_GUILESS_MAIN(TestAnalysisCommand)
#include "tst_zqanalysiscommand.moc"
