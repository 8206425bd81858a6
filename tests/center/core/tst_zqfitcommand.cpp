// Messages to board frames: the four kinds, the slot rule of enumerations, the
// pen-width conversion and the envelope of every frame built.

#include "dvscreen.h"
#include "tablefixtures.h"
#include "zqfitcommand.h"
#include "zqtbusiness.h"

#include <QtTest>

using namespace tables;

namespace {

const char kTable[] =
    "<SET_DISC_PEN_WIDTH commandType='fit' commandParamType='oneValue'>"
    "<k><b byteValue='E5'/><b byteValue='02'/></k><Width/></SET_DISC_PEN_WIDTH>"
    "<SET_VOLUME commandType='fit' commandParamType='oneValue'><k><b byteValue='72'/></k><Volume/></SET_VOLUME>"
    "<SAMPLE_SOURCE commandType='fit' commandParamType='oneEnum'><k><b byteValue='5A'/></k>"
    "<Source><i value='01' valueType='3' position='9'/><i value='02' valueType='7' position='9'/></Source></SAMPLE_SOURCE>"
    "<PAIR commandType='fit' commandParamType='oneEnum'><k><b byteValue='5B'/></k>"
    "<P><i value='A1' valueType='1' position='9'/><i value='B2' valueType='2' position='10'/></P></PAIR>"
    "<GAP commandType='fit' commandParamType='oneEnum'><k><b byteValue='5C'/></k>"
    "<P><i value='A1' valueType='1' position='9'/><i value='B2' valueType='2' position='11'/></P></GAP>"
    "<NAMED commandType='fit' commandParamType='oneStringEnum'><k><b byteValue='5D'/></k>"
    "<P><i value='01' valueType='on' position='9'/><i value='00' valueType='off' position='9'/></P></NAMED>"
    "<PRESENCE commandType='fit' commandParamType='fixed'><k><b byteValue='C3'/><b byteValue='08'/></k></PRESENCE>"
    "<EMPTYENUM commandType='fit' commandParamType='oneEnum'><k><b byteValue='5E'/></k></EMPTYENUM>";

} // namespace

class TestFitCommand : public QObject
{
    Q_OBJECT

private slots:
    void fit_data();
    void fit();
    void penWidthVersion2018_data();
    void penWidthVersion2018();
    void notFittable_data();
    void notFittable();
    void getSpacialCmd_data();
    void getSpacialCmd();
    void lastItemOfValueWins();
    void tooLongCommandIsRefused();
};

void TestFitCommand::fit_data()
{
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<QByteArray>("frame");

    QTest::newRow("pen width 6") << QByteArray("{\"eventid\":\"SET_DISC_PEN_WIDTH\",\"param\":[{\"type\":\"Width\",\"value\":6}]}")
                                 << hex("7F 09 99 A2 B3 C4 02 FF E5 02 06 CF");
    QTest::newRow("pen width 1") << QByteArray("{\"eventid\":\"SET_DISC_PEN_WIDTH\",\"param\":[{\"value\":1}]}") << frame("E5 02 03");
    QTest::newRow("pen width 10") << QByteArray("{\"eventid\":\"SET_DISC_PEN_WIDTH\",\"param\":[{\"value\":10}]}") << frame("E5 02 0C");
    QTest::newRow("oneValue unconverted, low 8 bits") << QByteArray("{\"eventid\":\"SET_VOLUME\",\"param\":[{\"value\":300}]}") << frame("72 2C");
    QTest::newRow("oneValue negative") << QByteArray("{\"eventid\":\"SET_VOLUME\",\"param\":[{\"value\":-1}]}") << frame("72 FF");
    QTest::newRow("oneValue fraction gives 0") << QByteArray("{\"eventid\":\"SET_VOLUME\",\"param\":[{\"value\":2.5}]}") << frame("72 00");
    QTest::newRow("oneValue text gives 0") << QByteArray("{\"eventid\":\"SET_VOLUME\",\"param\":[{\"value\":\"9\"}]}") << frame("72 00");
    QTest::newRow("oneValue without param") << QByteArray("{\"eventid\":\"SET_VOLUME\"}") << frame("72 00");
    QTest::newRow("oneValue empty param") << QByteArray("{\"eventid\":\"SET_VOLUME\",\"param\":[]}") << frame("72 00");
    QTest::newRow("pen width without param") << QByteArray("{\"eventid\":\"SET_DISC_PEN_WIDTH\",\"param\":{}}") << frame("E5 02 03");
    QTest::newRow("oneEnum example") << QByteArray("{\"eventid\":\"SAMPLE_SOURCE\",\"param\":[{\"value\":7}]}")
                                     << hex("7F 08 99 A2 B3 C4 02 FF 5A 02 CF");
    QTest::newRow("oneEnum unlisted value") << QByteArray("{\"eventid\":\"SAMPLE_SOURCE\",\"param\":[{\"value\":4}]}") << frame("5A");
    QTest::newRow("oneEnum later value same position") << QByteArray("{\"eventid\":\"SAMPLE_SOURCE\",\"param\":[{\"value\":7},{\"value\":3}]}")
                                                       << frame("5A 01");
    QTest::newRow("positions 9,10 in order") << QByteArray("{\"eventid\":\"PAIR\",\"param\":[{\"value\":1},{\"value\":2}]}") << frame("5B A1 B2");
    QTest::newRow("positions 9,10 reversed param") << QByteArray("{\"eventid\":\"PAIR\",\"param\":[{\"value\":2},{\"value\":1}]}") << frame("5B A1 B2");
    QTest::newRow("positions 9,11 keep only 9") << QByteArray("{\"eventid\":\"GAP\",\"param\":[{\"value\":1},{\"value\":2}]}") << frame("5C A1");
    QTest::newRow("listed and unlisted") << QByteArray("{\"eventid\":\"PAIR\",\"param\":[{\"value\":1},{\"value\":99}]}") << frame("5B A1");
    QTest::newRow("only position 10") << QByteArray("{\"eventid\":\"PAIR\",\"param\":[{\"value\":2}]}") << frame("5B");
    QTest::newRow("oneEnum without param") << QByteArray("{\"eventid\":\"PAIR\"}") << frame("5B");
    QTest::newRow("oneEnum without items") << QByteArray("{\"eventid\":\"EMPTYENUM\",\"param\":[{\"value\":1}]}") << frame("5E");
    QTest::newRow("oneStringEnum on") << QByteArray("{\"eventid\":\"NAMED\",\"param\":[{\"value\":\"on\"}]}") << frame("5D 01");
    QTest::newRow("oneStringEnum off") << QByteArray("{\"eventid\":\"NAMED\",\"param\":[{\"type\":\"x\",\"value\":\"off\"}]}") << frame("5D 00");
    QTest::newRow("oneStringEnum number is no text") << QByteArray("{\"eventid\":\"NAMED\",\"param\":[{\"value\":1}]}") << frame("5D");
    QTest::newRow("fixed two-byte key") << QByteArray("{\"eventid\":\"PRESENCE\",\"param\":[{\"value\":5}]}")
                                        << hex("7F 08 99 A2 B3 C4 02 FF C3 08 CF");
}

void TestFitCommand::fit()
{
    QFETCH(QByteArray, message);
    QFETCH(QByteArray, frame);

    DvScreen screen;
    ZQTbusiness module(&screen, nullptr);
    QVERIFY(load(module, kTable));
    const QJsonObject request = json(message);
    QVERIFY(module.isCanDealMessage(request));
    const QByteArray built = module.DealMessage(request);
    QCOMPARE(spaced(built), spaced(frame));
    QCOMPARE(envelopeFault(built), QString());
}

void TestFitCommand::penWidthVersion2018_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<QByteArray>("frame");

    QTest::newRow("3") << 3 << frame("E5 02 06");
    QTest::newRow("7") << 7 << frame("E5 02 0C");
    QTest::newRow("12") << 12 << frame("E5 02 14");
}

void TestFitCommand::penWidthVersion2018()
{
    QFETCH(int, width);
    QFETCH(QByteArray, frame);

    DvScreen screen;
    ZQTbusiness module(&screen, nullptr);
    QVERIFY(load(module, kTable));
    screen.setScreenVersion(2018); // the version may change after loading
    QJsonObject message{{"eventid", "SET_DISC_PEN_WIDTH"}, {"param", QJsonArray{QJsonObject{{"value", width}}}}};
    QCOMPARE(spaced(module.DealMessage(message)), spaced(frame));
}

void TestFitCommand::notFittable_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QByteArray>("message");

    const QString nEnum = "<NE commandType='fit' commandParamType='NEnum'><k><b byteValue='61'/></k>"
                          "<G><i value='01' valueType='1' position='9'/></G></NE>";
    const QString twoValue = "<TWO commandType='fit' commandParamType='twoValue'><k><b byteValue='62'/></k><P><i position='9'/></P></TWO>";
    const QString oneString = "<STR commandType='fit' commandParamType='oneString'><k><b byteValue='63'/></k></STR>";
    const QString analysis = "<AN commandType='analysis' commandParamType='fixed' len='9'><k><b byteValue='64'/></k></AN>";
    const QString noKey = "<NOKEY commandType='fit' commandParamType='fixed'><!-- no key --><k><b byteValue='65'/></k></NOKEY>";
    const QString emptyKey = "<EMPTYKEY commandType='fit' commandParamType='oneEnum'><k/><P><i value='01' valueType='1' position='8'/></P></EMPTYKEY>";
    QTest::newRow("NEnum") << nEnum << QByteArray("{\"eventid\":\"NE\",\"param\":[{\"value\":1}]}");
    QTest::newRow("twoValue") << twoValue << QByteArray("{\"eventid\":\"TWO\"}");
    QTest::newRow("oneString") << oneString << QByteArray("{\"eventid\":\"STR\",\"param\":[{\"value\":\"x\"}]}");
    QTest::newRow("analysis entry") << analysis << QByteArray("{\"eventid\":\"AN\"}");
    QTest::newRow("first child not an element") << noKey << QByteArray("{\"eventid\":\"NOKEY\"}");
    QTest::newRow("empty key") << emptyKey << QByteArray("{\"eventid\":\"EMPTYKEY\",\"param\":[{\"value\":1}]}");
    QTest::newRow("unknown event") << QString(kTable) << QByteArray("{\"eventid\":\"NOT_THERE\"}");
    QTest::newRow("no eventid") << QString(kTable) << QByteArray("{\"param\":[{\"value\":1}]}");
    QTest::newRow("eventid not text") << QString(kTable) << QByteArray("{\"eventid\":5}");
    QTest::newRow("empty message") << QString(kTable) << QByteArray("{}");
}

void TestFitCommand::notFittable()
{
    QFETCH(QString, table);
    QFETCH(QByteArray, message);

    DvScreen screen;
    ZQTbusiness module(&screen, nullptr);
    QVERIFY(load(module, table));
    const QJsonObject request = json(message);
    QVERIFY(!module.isCanDealMessage(request));
    QVERIFY(module.fitEngine()->fit(request).isEmpty());
}

void TestFitCommand::getSpacialCmd_data()
{
    QTest::addColumn<QString>("eventid");
    QTest::addColumn<QString>("key");

    QTest::newRow("oneValue") << "SET_DISC_PEN_WIDTH" << "E5 02";
    QTest::newRow("oneEnum") << "SAMPLE_SOURCE" << "5A";
    QTest::newRow("fixed") << "PRESENCE" << "C3 08";
    QTest::newRow("oneStringEnum not consulted") << "NAMED" << "";
    QTest::newRow("unknown") << "NOT_THERE" << "";
}

void TestFitCommand::getSpacialCmd()
{
    QFETCH(QString, eventid);
    QFETCH(QString, key);

    DvScreen screen;
    ZQTbusiness module(&screen, nullptr);
    QVERIFY(load(module, kTable));
    QCOMPARE(spaced(module.fitEngine()->getSpacialCmd(eventid)), key);
}

void TestFitCommand::lastItemOfValueWins()
{
    DvScreen screen;
    ZQTbusiness module(&screen, nullptr);
    QVERIFY(load(module, "<E commandType='fit' commandParamType='oneEnum'><k><b byteValue='66'/></k>"
                         "<P><i value='01' valueType='1' position='12'/><i value='02' valueType='1' position='9'/></P></E>"
                         "<E commandType='fit' commandParamType='fixed'><k><b byteValue='67'/></k></E>"));
    // The fixed entry of the same name sits in another table; the enumeration
    // is looked up first.
    QCOMPARE(spaced(module.DealMessage(json("{\"eventid\":\"E\",\"param\":[{\"value\":1}]}"))), spaced(frame("66 02")));
}

void TestFitCommand::tooLongCommandIsRefused()
{
    // A table key too long for a one-byte length must not give a frame whose
    // length byte has wrapped round.
    QString bytes;
    for (int i = 0; i < 250; ++i)
        bytes += "<b byteValue='41'/>";
    DvScreen screen;
    ZQTbusiness module(&screen, nullptr);
    QVERIFY(load(module, "<LONG commandType='fit' commandParamType='fixed'><k>" + bytes + "</k></LONG>"
                         "<EDGE commandType='fit' commandParamType='oneValue'><k>" + bytes.mid(0, 248 * 19) + "</k><V/></EDGE>"));
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("fit: command of \"LONG\" is 250 bytes"));
    QVERIFY(module.DealMessage(json("{\"eventid\":\"LONG\"}")).isEmpty());
    const QByteArray edge = module.DealMessage(json("{\"eventid\":\"EDGE\",\"param\":[{\"value\":1}]}"));
    QCOMPARE(edge.size(), 258);
    QCOMPARE(envelopeFault(edge), QString());
}

QTEST_GUILESS_MAIN(TestFitCommand)
#include "tst_zqfitcommand.moc"
