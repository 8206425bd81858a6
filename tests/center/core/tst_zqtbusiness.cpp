// The table-driven base: reading a table file (missing, broken, hostile), the
// key search, message parsing and what Send passes on.

#include "dvscreen.h"
#include "tablefixtures.h"
#include "zqanalysiscommand.h"
#include "zqtbusiness.h"

#include <QtTest>

using namespace tables;

namespace {

QStringList g_warnings;
QtMessageHandler g_previous = nullptr;

void collectWarnings(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type == QtWarningMsg)
        g_warnings.append(text);
    else if (g_previous && type != QtDebugMsg)
        g_previous(type, context, text);
}

// Runs init() and returns the warnings it wrote.
QStringList initCollectingWarnings(ZQTbusiness& module)
{
    g_warnings.clear();
    g_previous = qInstallMessageHandler(collectWarnings);
    module.init();
    qInstallMessageHandler(g_previous);
    return g_warnings;
}

const char kGoodEntry[] = "<PING commandType='analysis' commandParamType='fixed' len='10'><k><b byteValue='74'/></k></PING>"
                          "<PONG commandType='fit' commandParamType='fixed'><k><b byteValue='75'/></k></PONG>";

bool knowsGoodEntry(ZQTbusiness& module)
{
    QByteArray key;
    return module.isCanDealCommand(frame("74"), key) || module.isCanDealMessage(json("{\"eventid\":\"PONG\"}"));
}

QByteArray nested(int depth)
{
    return QByteArray("<table>") + kGoodEntry + QByteArray("<a>").repeated(depth) + QByteArray("</a>").repeated(depth)
        + "</table>";
}

} // namespace

class TestTbusiness : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void missingTableIsSilent_data();
    void missingTableIsSilent();
    void brokenTableWarnsOnce_data();
    void brokenTableWarnsOnce();
    void goodTableLoads_data();
    void goodTableLoads();
    void messageStrToJson_data();
    void messageStrToJson();
    void sendPassesOnlyNonEmpty();
    void keySearchOnShortFrames_data();
    void keySearchOnShortFrames();

private:
    // The content as a file of the temporary folder, named after the data row.
    QString writeTable(const char* prefix, const QByteArray& content)
    {
        const QString path = m_dir.filePath(QString("%1-%2.xml").arg(prefix, QTest::currentDataTag()).replace(' ', '-'));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
            return QString();
        return path;
    }

    QTemporaryDir m_dir;
};

void TestTbusiness::initTestCase()
{
    QVERIFY(m_dir.isValid());
}

void TestTbusiness::missingTableIsSilent_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("empty path") << QString();
    QTest::newRow("no such file") << m_dir.filePath("absent.xml");
    QTest::newRow("no such folder") << m_dir.filePath("absent/SmSc.xml");
}

void TestTbusiness::missingTableIsSilent()
{
    QFETCH(QString, path);
    DvScreen screen;
    ZQTbusiness module(&screen, nullptr);
    module.setConfigPath(path);
    QCOMPARE(initCollectingWarnings(module), QStringList());
    QVERIFY(!knowsGoodEntry(module));
}

void TestTbusiness::brokenTableWarnsOnce_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("reason");

    QTest::newRow("not xml") << QByteArray("this is not a table") << "";
    QTest::newRow("empty file") << QByteArray() << "";
    QTest::newRow("unclosed entry") << QByteArray("<table>") + kGoodEntry + "<OPEN commandType='fit'>" << "";
    QTest::newRow("two roots") << QByteArray("<table>") + kGoodEntry + "</table><table/>" << "";
    QTest::newRow("nested 100000 deep") << nested(100000) << "nested deeper than 64";
    QTest::newRow("nested 65 deep") << nested(64) << "nested deeper than 64";
    QByteArray laughs = "<?xml version='1.0'?><!DOCTYPE table [<!ENTITY a 'aaaaaaaaaa'>"
                        "<!ENTITY b '&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;'><!ENTITY c '&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;'>]>";
    QTest::newRow("entity declarations") << laughs + "<table>" + kGoodEntry + "<X v='&c;'/></table>" << "declares entities";
    QByteArray big = QByteArray("<table>") + kGoodEntry + "<!--" + QByteArray(ZQTbusiness::kMaxTableBytes, 'x') + "--></table>";
    QTest::newRow("larger than the limit") << big << "larger than";
}

void TestTbusiness::brokenTableWarnsOnce()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, reason);

    const QString path = writeTable("broken", content);
    QVERIFY(!path.isEmpty());
    DvScreen screen;
    ZQTbusiness module(&screen, nullptr);
    module.setConfigPath(path);
    const QStringList warnings = initCollectingWarnings(module);
    QCOMPARE(warnings.size(), 1);
    QVERIFY2(warnings.first().contains(path), qPrintable(warnings.first()));
    QVERIFY2(warnings.first().contains(reason), qPrintable(warnings.first()));
    // Nothing of a refused file is used, not even its sound entries.
    QVERIFY(!knowsGoodEntry(module));
}

void TestTbusiness::goodTableLoads_data()
{
    QTest::addColumn<QByteArray>("content");

    QTest::newRow("plain") << QByteArray("<table>") + kGoodEntry + "</table>";
    QTest::newRow("declaration, comments, text") << QByteArray("<?xml version='1.0' encoding='UTF-8'?>\n<!-- a table -->\n<t>\n  text\n  ")
                                                        + kGoodEntry + "<!-- end --></t>\n";
    QTest::newRow("doctype without entities") << QByteArray("<!DOCTYPE t><t>") + kGoodEntry + "</t>";
    QTest::newRow("nested 64 deep") << nested(63);
    QTest::newRow("entry with unknown attributes") << QByteArray("<t note='x'>") + kGoodEntry + "<Z commandType='fit' commandParamType='fixed' extra='1'/></t>";
}

void TestTbusiness::goodTableLoads()
{
    QFETCH(QByteArray, content);

    const QString path = writeTable("good", content);
    QVERIFY(!path.isEmpty());
    DvScreen screen;
    ZQTbusiness module(&screen, nullptr);
    module.setConfigPath(path);
    QCOMPARE(initCollectingWarnings(module), QStringList());
    QByteArray key;
    QVERIFY(module.isCanDealCommand(frame("74"), key));
    QVERIFY(module.isCanDealMessage(json("{\"eventid\":\"PONG\"}")));
}

void TestTbusiness::messageStrToJson_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("object");

    QTest::newRow("object") << "{\"eventid\":\"X\",\"param\":[1]}" << QByteArray("{\"eventid\":\"X\",\"param\":[1]}");
    QTest::newRow("not json") << "eventid X" << QByteArray("{}");
    QTest::newRow("array") << "[1,2]" << QByteArray("{}");
    QTest::newRow("empty") << "" << QByteArray("{}");
    QTest::newRow("non-ascii text") << QString::fromUtf8("{\"value\":\"\xE7\x99\xBD\xE6\x9D\xBF\"}")
                                    << QByteArray("{\"value\":\"\xE7\x99\xBD\xE6\x9D\xBF\"}");
}

void TestTbusiness::messageStrToJson()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, object);
    DvScreen screen;
    ZQTbusiness module(&screen, nullptr);
    QCOMPARE(module.messageStrToJson(text), json(object));
}

void TestTbusiness::sendPassesOnlyNonEmpty()
{
    DvScreen screen;
    ZQTbusiness module(&screen, nullptr);
    QSignalSpy messages(&module, &ZQTbusiness::sigSendMessage);
    QSignalSpy commands(&module, &ZQTbusiness::sigSendCommend);

    module.Send(QJsonObject());
    module.Send(QByteArray());
    QCOMPARE(messages.count(), 0);
    QCOMPARE(commands.count(), 0);

    module.Send(json("{\"eventid\":\"X\"}"));
    module.Send(frame("74"));
    QCOMPARE(messages.count(), 1);
    QCOMPARE(commands.count(), 1);
    // The indented form of the JSON writer.
    QCOMPARE(messages.first().first().toString(), QStringLiteral("{\n    \"eventid\": \"X\"\n}\n"));
    QCOMPARE(commands.first().first().toByteArray(), frame("74"));
}

void TestTbusiness::keySearchOnShortFrames_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("header only") << hex("7F 06 99 A2 B3 C4 02 FF");
    QTest::newRow("end byte only after header") << hex("7F 06 99 A2 B3 C4 02 FF CF");
}

void TestTbusiness::keySearchOnShortFrames()
{
    QFETCH(QByteArray, bytes);
    DvScreen screen;
    ZQTbusiness module(&screen, nullptr);
    QVERIFY(load(module, "<END commandType='analysis' commandParamType='fixed' len='10'><k><b byteValue='CF'/></k></END>"
                         + QString(kGoodEntry)));
    QByteArray key;
    const bool claimed = module.isCanDealCommand(bytes, key);
    // Only a frame that holds a byte at position 8 can be claimed.
    QCOMPARE(claimed, bytes.size() > 8);
    if (claimed)
        QVERIFY(module.DealCommand(bytes, key).isEmpty()); // length 9, the entry wants 10
}

QTEST_GUILESS_MAIN(TestTbusiness)
#include "tst_zqtbusiness.moc"
