// The command tables installed beside velacenter: they load cleanly, every
// entry is consistent with its own frame length, every fitted frame is a good
// board frame and reads back through the same table, and their keys stay clear
// of the keys that hand-written modules decode and of each other.

#include "dvscreen.h"
#include "tablefixtures.h"
#include "zqanalysiscommand.h"
#include "zqfitcommand.h"
#include "zqtbusiness.h"

#include <QDomDocument>
#include <QtTest>

using namespace tables;

namespace {

// In the order of their modules' precedence.
const QStringList kTables = {"DiscCommand.xml", "control.xml", "SmSc.xml"};

QString tablePath(const QString& name)
{
    return QStringLiteral(VELA_BIN_DIR) + "/" + name;
}

struct Entry {
    QString table;
    QString event;
    QString type; // "analysis" or "fit"
    QString kind;
    QByteArray key;
    int len = 0;
    QList<QPair<QByteArray, QString>> items; // frame byte, message value
};

QList<Entry> readEntries(const QString& name)
{
    QFile file(tablePath(name));
    QDomDocument document;
    if (!file.open(QIODevice::ReadOnly) || !document.setContent(&file))
        return {};
    QList<Entry> entries;
    for (QDomElement e = document.documentElement().firstChildElement(); !e.isNull(); e = e.nextSiblingElement()) {
        Entry entry;
        entry.table = name;
        entry.event = e.tagName();
        entry.type = e.attribute("commandType");
        entry.kind = e.attribute("commandParamType");
        entry.len = e.attribute("len").toInt();
        for (QDomElement b = e.firstChildElement().firstChildElement(); !b.isNull(); b = b.nextSiblingElement())
            entry.key.append(char(b.attribute("byteValue").toInt(nullptr, 16)));
        for (QDomElement v = e.firstChildElement().nextSiblingElement(); !v.isNull(); v = v.nextSiblingElement())
            for (QDomElement i = v.firstChildElement(); !i.isNull(); i = i.nextSiblingElement())
                if (i.hasAttribute("value"))
                    entry.items.append({QByteArray::fromHex(i.attribute("value").toLatin1()), i.attribute("valueType")});
        entries.append(entry);
    }
    return entries;
}

const Entry* find(const QList<Entry>& entries, const QString& type, const QString& event, const QString& kind = QString())
{
    for (const Entry& e : entries)
        if (e.type == type && e.event == event && (kind.isEmpty() || e.kind == kind))
            return &e;
    return nullptr;
}

QStringList g_warnings;
void collect(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (type != QtDebugMsg)
        g_warnings.append(text);
}

void loadQuietly(ZQTbusiness& module, const QString& name)
{
    module.setConfigPath(tablePath(name));
    const QtMessageHandler previous = qInstallMessageHandler(collect);
    module.init();
    qInstallMessageHandler(previous);
}

QJsonObject withValue(const QString& event, const QJsonValue& value)
{
    return QJsonObject{{"eventid", event}, {"param", QJsonArray{QJsonObject{{"type", "x"}, {"value", value}}}}};
}

// A frame the board could send for an analysis entry: its key, the first
// listed byte at every value position (00 where nothing is listed), its length.
QByteArray sampleFrame(const Entry& e)
{
    const int length = e.kind == "oneString" ? 8 + e.key.size() + 6 : e.len;
    QByteArray f = hex("7F 00 99 A2 B3 C4 02 FF") + e.key;
    const QByteArray fill = e.kind == "oneString" ? QByteArray("Room 1") : QByteArray(1, e.items.isEmpty() ? '\0' : e.items.first().first.at(0));
    while (f.size() < length - 1)
        f.append(fill.at((f.size() - 8 - e.key.size()) % fill.size()));
    f.append('\xCF');
    f[1] = char(f.size() - 3);
    return f;
}

} // namespace

class TestInstalledTables : public QObject
{
    Q_OBJECT

private slots:
    void loadWithoutWarnings_data();
    void loadWithoutWarnings();
    void everyAnalysisEntryMatchesItsFrame_data();
    void everyAnalysisEntryMatchesItsFrame();
    void fitThenAnalysis_data();
    void fitThenAnalysis();
    void handWrittenKeysStayUnclaimed_data();
    void handWrittenKeysStayUnclaimed();
    void earlierTablesDoNotShadowLaterOnes();
    void namedEventsPresent_data();
    void namedEventsPresent();
    void everyKindIsUsed();
};

void TestInstalledTables::loadWithoutWarnings_data()
{
    QTest::addColumn<QString>("table");
    for (const QString& t : kTables)
        QTest::newRow(qPrintable(t)) << t;
}

void TestInstalledTables::loadWithoutWarnings()
{
    QFETCH(QString, table);
    QVERIFY2(QFile::exists(tablePath(table)), qPrintable(tablePath(table)));
    DvScreen screen;
    ZQTbusiness module(&screen, nullptr);
    g_warnings.clear();
    loadQuietly(module, table);
    QCOMPARE(g_warnings, QStringList());
    QVERIFY(readEntries(table).size() >= 8);
}

void TestInstalledTables::everyAnalysisEntryMatchesItsFrame_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("event");
    QTest::addColumn<QString>("kind");
    for (const QString& t : kTables)
        for (const Entry& e : readEntries(t))
            if (e.type == "analysis" && e.kind != "NEnum")
                QTest::newRow(qPrintable(t + "/" + e.event + "/" + e.kind)) << t << e.event << e.kind;
}

void TestInstalledTables::everyAnalysisEntryMatchesItsFrame()
{
    QFETCH(QString, table);
    QFETCH(QString, event);
    QFETCH(QString, kind);

    DvScreen screen;
    ZQTbusiness module(&screen, nullptr);
    loadQuietly(module, table);
    const QList<Entry> entries = readEntries(table);
    const Entry* entry = find(entries, "analysis", event, kind);
    QVERIFY(entry);
    // A text entry that shares its key with an N-enumeration only claims the
    // frame; the N-enumeration decodes it, with its own length.
    const Entry* decoder = kind == "oneString" ? find(entries, "analysis", event, "NEnum") : nullptr;
    const QByteArray f = sampleFrame(decoder ? *decoder : *entry);
    QByteArray key;
    const QJsonObject result = analyse(module, f, &key);
    QCOMPARE(spaced(key), spaced(entry->key));
    QCOMPARE(result.value("eventid").toString(), event);
    QVERIFY(!result.value("param").toArray().isEmpty());
}

void TestInstalledTables::fitThenAnalysis_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("event");
    for (const QString& t : kTables)
        for (const Entry& e : readEntries(t))
            if (e.type == "fit")
                QTest::newRow(qPrintable(t + "/" + e.event)) << t << e.event;
}

void TestInstalledTables::fitThenAnalysis()
{
    QFETCH(QString, table);
    QFETCH(QString, event);

    DvScreen screen;
    ZQTbusiness module(&screen, nullptr);
    loadQuietly(module, table);
    const QList<Entry> entries = readEntries(table);
    const Entry* fit = find(entries, "fit", event);
    QVERIFY(fit);

    QList<QJsonObject> messages;
    if (fit->kind == "fixed") {
        messages << QJsonObject{{"eventid", event}};
    } else if (fit->kind == "oneValue") {
        const QList<int> values = event == "SET_DISC_PEN_WIDTH" ? QList<int>{3, 5, 10} : QList<int>{0, 1, 64, 127, -1};
        for (int v : values)
            messages << withValue(event, v);
    } else {
        QVERIFY(!fit->items.isEmpty());
        for (const auto& item : fit->items)
            messages << (fit->kind == "oneEnum" ? withValue(event, item.second.toInt()) : withValue(event, item.second));
    }

    // The same event read back from the board, where the table has it in the
    // same kind; a request whose answer has another shape must at least not
    // be read as some other event.
    const Entry* twin = find(entries, "analysis", event, fit->kind);
    for (const QJsonObject& message : messages) {
        QVERIFY(module.isCanDealMessage(message));
        const QByteArray f = module.DealMessage(message);
        QCOMPARE(envelopeFault(f), QString());
        QCOMPARE(spaced(f.mid(8, fit->key.size())), spaced(fit->key));
        QVERIFY2(f.size() <= 130, "longer than the board accepts");

        const QJsonObject back = analyse(module, f);
        if (twin) {
            // Read back as the same event, whose message fits to the same
            // frame again (a table may accept several spellings of a value).
            QCOMPARE(back.value("eventid").toString(), event);
            QCOMPARE(spaced(module.DealMessage(back)), spaced(f));
            if (fit->kind == "oneValue" || fit->kind == "oneEnum")
                QCOMPARE(back.value("param").toArray().at(0).toObject().value("value"),
                         message.value("param").toArray().at(0).toObject().value("value"));
        } else {
            QVERIFY2(back.isEmpty() || back.value("eventid").toString() == event,
                     qPrintable(compact(back)));
        }
    }
}

void TestInstalledTables::handWrittenKeysStayUnclaimed_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QByteArray>("frame");
    // The shortcut, write-acceleration, custom-channel, central-control and
    // hardware-information modules decode these themselves.
    const QList<QByteArray> keys = {hex("E0 11 00 FF 00 00 0F"), hex("E1 01 02 03"), hex("E2 01"), hex("E3 05 01"),
                                    hex("E4 01 02 03"), hex("E5 01"), hex("F1 01 FF FF"), hex("F2 10 04 FF"),
                                    hex("F3 07 13 14 0A 50"), hex("F4 FF 02"), hex("A0 A2"), hex("A0 AC"),
                                    hex("01 8A")};
    for (const QString& t : kTables)
        for (const QByteArray& k : keys) {
            QByteArray f = hex("7F 00 99 A2 B3 C4 02 FF") + k + hex("CF");
            f[1] = char(f.size() - 3);
            QTest::newRow(qPrintable(t + " " + spaced(k))) << t << f;
        }
}

void TestInstalledTables::handWrittenKeysStayUnclaimed()
{
    QFETCH(QString, table);
    QFETCH(QByteArray, frame);
    DvScreen screen;
    ZQTbusiness module(&screen, nullptr);
    loadQuietly(module, table);
    QByteArray key;
    QVERIFY2(!module.isCanDealCommand(frame, key), qPrintable(spaced(key)));
}

void TestInstalledTables::earlierTablesDoNotShadowLaterOnes()
{
    for (int earlier = 0; earlier < kTables.size(); ++earlier) {
        DvScreen screen;
        ZQTbusiness module(&screen, nullptr);
        loadQuietly(module, kTables.at(earlier));
        for (int later = earlier + 1; later < kTables.size(); ++later) {
            for (const Entry& e : readEntries(kTables.at(later))) {
                if (e.type != "analysis")
                    continue;
                QByteArray key;
                QVERIFY2(!module.isCanDealCommand(sampleFrame(e), key),
                         qPrintable(kTables.at(earlier) + " claims " + e.event + " of " + kTables.at(later)));
            }
        }
    }
}

void TestInstalledTables::namedEventsPresent_data()
{
    QTest::addColumn<QString>("table");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QString>("event");
    QTest::addColumn<QString>("key");

    // What the whiteboard module turns into local operations or addresses to
    // the application in front.
    QTest::newRow("pen colour from board") << "DiscCommand.xml" << "analysis" << "SET_DISC_PEN_COLOR" << "";
    QTest::newRow("pen width from board") << "DiscCommand.xml" << "analysis" << "SET_DISC_PEN_WIDTH" << "";
    QTest::newRow("pen colour to board") << "DiscCommand.xml" << "fit" << "SET_DISC_PEN_COLOR" << "";
    QTest::newRow("pen width to board") << "DiscCommand.xml" << "fit" << "SET_DISC_PEN_WIDTH" << "";
    QTest::newRow("whiteboard") << "DiscCommand.xml" << "analysis" << "ID_WHITEBOARD" << "";
    QTest::newRow("run app") << "DiscCommand.xml" << "analysis" << "RUN_VELA_APP" << "";
    QTest::newRow("disc system") << "DiscCommand.xml" << "analysis" << "GET_SYSTEM_OF_DISC_AT" << "";
    QTest::newRow("heartbeat") << "DiscCommand.xml" << "analysis" << "DISC_HEART" << "";
    QTest::newRow("app exit") << "DiscCommand.xml" << "fit" << "ID_EVENT_APP_EXIT" << "";
    // The central-control module: the screen generation reply and the reply
    // keys that pair replies with requests.
    QTest::newRow("generation reply") << "control.xml" << "analysis" << "GET_MAINBOARD_VERSION" << "01 31";
    QTest::newRow("resolution") << "control.xml" << "fit" << "GET_SCREEN_MONITORS_RESOLUTION" << "F3 07";
    QTest::newRow("product info") << "control.xml" << "fit" << "GET_PRODUCT_INFO" << "F3 01";
    QTest::newRow("ops run info") << "control.xml" << "fit" << "GET_OPS_EQUIPMENT_RUN_INFO" << "F3 02";
    QTest::newRow("android run info") << "control.xml" << "fit" << "GET_ANDROID_EQUIPMENT_RUN_INFO" << "F3 03";
    QTest::newRow("mac") << "control.xml" << "fit" << "GET_ANDROID_MAC_ADRESS" << "F3 04";
    QTest::newRow("channels") << "control.xml" << "fit" << "GET_HAS_SIGNAL_CHANNELS" << "F3 50";
    QTest::newRow("errors") << "control.xml" << "fit" << "UPDATE_EQUIPMENT_ERROR_INFO" << "F4 FF";
}

void TestInstalledTables::namedEventsPresent()
{
    QFETCH(QString, table);
    QFETCH(QString, type);
    QFETCH(QString, event);
    QFETCH(QString, key);

    DvScreen screen;
    ZQTbusiness module(&screen, nullptr);
    loadQuietly(module, table);
    const QList<Entry> entries = readEntries(table);
    const Entry* entry = find(entries, type, event);
    QVERIFY(entry);
    if (!key.isEmpty())
        QCOMPARE(spaced(entry->key), key);
    if (type == "fit") {
        QVERIFY(module.isCanDealMessage(QJsonObject{{"eventid", event}}));
        if (!key.isEmpty())
            QCOMPARE(spaced(module.fitEngine()->getSpacialCmd(event)), key);
    } else {
        QVERIFY(module.analysisEngine()->findSpacialCmd(entry->key));
    }
}

void TestInstalledTables::everyKindIsUsed()
{
    QSet<QString> analysis;
    QSet<QString> fit;
    for (const QString& t : kTables)
        for (const Entry& e : readEntries(t))
            (e.type == "fit" ? fit : analysis).insert(e.kind);
    QCOMPARE(analysis, (QSet<QString>{"fixed", "oneEnum", "oneValue", "twoValue", "NEnum", "oneString", "oneStringEnum"}));
    QCOMPARE(fit, (QSet<QString>{"fixed", "oneEnum", "oneValue", "oneStringEnum"}));
}

QTEST_GUILESS_MAIN(TestInstalledTables)
#include "tst_installedtables.moc"
