// velatables decode and encode against a running velacenter on the simulated
// board: for every entry of the installed tables, a frame made for it goes
// from the board through the centre and through velatables decode, and a
// message made for it goes from the bus through the centre and through
// velatables encode; what reaches the bus, the local operator and the board
// is the same. A program of the test answers the shared kit's question for
// the application in front, as velatables' own desktop does.

#include "velacenterrig.h"
#include "zqipc.h"

#include <QDomDocument>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

namespace {

const char kFront[] = "ID_APP_VELATOUCHPRO";
const QStringList kTables = {"DiscCommand.xml", "control.xml", "SmSc.xml"};

QString hex(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex(' ').toUpper());
}

struct Item
{
    char byte = 0;
    QString value;
    int position = 0;
};

struct Entry
{
    QString event;
    QString type;
    QString kind;
    QByteArray key;
    int len = 0;
    QList<Item> items;
};

// The installed tables read here, independently of the centre's loader.
QList<Entry> installedEntries()
{
    QList<Entry> entries;
    for (const QString &name : kTables) {
        QFile file(QStringLiteral(VELA_BIN_DIR "/") + name);
        QDomDocument document;
        if (!file.open(QIODevice::ReadOnly) || !document.setContent(&file))
            continue;
        for (QDomElement e = document.documentElement().firstChildElement(); !e.isNull(); e = e.nextSiblingElement()) {
            Entry entry;
            entry.event = e.tagName();
            entry.type = e.attribute("commandType");
            entry.kind = e.attribute("commandParamType");
            entry.len = e.attribute("len").toInt();
            for (QDomElement b = e.firstChildElement().firstChildElement(); !b.isNull(); b = b.nextSiblingElement())
                entry.key.append(char(b.attribute("byteValue").toInt(nullptr, 16)));
            for (QDomElement v = e.firstChildElement().nextSiblingElement(); !v.isNull(); v = v.nextSiblingElement())
                for (QDomElement i = v.firstChildElement(); !i.isNull(); i = i.nextSiblingElement())
                    entry.items.append({char(i.attribute("value").toInt(nullptr, 16)), i.attribute("valueType"),
                                        i.attribute("position").toInt()});
            entries.append(entry);
        }
    }
    return entries;
}

// Command bytes (after the header, before the end byte) of frames that
// exercise an analysis entry: one per listed byte, equal and unequal pairs,
// a text.
QList<QByteArray> probeCommands(const Entry &e)
{
    const int k = e.key.size();
    auto frame = [&](int len) { return e.key + QByteArray(qMax(0, len - 9 - k), '\0'); };
    QList<QByteArray> commands;
    if (e.kind == "oneString") {
        commands << e.key + QByteArray("AB");
    } else if (e.kind == "oneValue") {
        QByteArray c = frame(e.len);
        c[k] = 0x06;
        commands << c;
    } else if (e.kind == "twoValue") {
        const int p = e.items.value(0).position - 8;
        QByteArray same = frame(e.len), other = frame(e.len);
        same[p] = 1;
        same[p + 1] = 1;
        other[p] = 1;
        other[p + 1] = 2;
        commands << same << other;
    } else if (e.kind == "NEnum") {
        QByteArray c = frame(e.len);
        for (const Item &i : e.items)
            if (i.byte)
                c[i.position - 8] = i.byte;
        commands << c;
    } else if (e.kind == "oneEnum" || e.kind == "oneStringEnum") {
        for (const Item &i : e.items) {
            QByteArray c = frame(e.len);
            c[i.position - 8] = i.byte;
            commands << c;
        }
    } else {
        commands << frame(e.len);
    }
    return commands;
}

// Messages that exercise a fit entry: one per listed value.
QList<QJsonObject> probeMessages(const Entry &e)
{
    auto message = [&](const QJsonArray &param) {
        return QJsonObject{{"eventid", e.event}, {"from", "ID_APP_TST_TABLES"}, {"to", "ID_APP_VELACENTER"},
                           {"param", param}};
    };
    QList<QJsonObject> messages;
    if (e.kind == "oneValue") {
        messages << message({QJsonObject{{"type", "V"}, {"value", 6}}});
    } else if (e.kind == "oneEnum") {
        for (const Item &i : e.items)
            messages << message({QJsonObject{{"value", i.value.toInt()}}});
    } else if (e.kind == "oneStringEnum") {
        for (const Item &i : e.items)
            messages << message({QJsonObject{{"value", i.value}}});
    } else {
        messages << message({});
    }
    return messages;
}

QList<QJsonObject> runVelaTables(const QStringList &args, QString *error)
{
    QProcess p;
    p.start(QStringLiteral(VELA_BIN_DIR "/velatables"), args);
    QList<QJsonObject> results;
    if (!p.waitForFinished(120000) || p.exitCode() != 0) {
        *error = QString::fromUtf8(p.readAllStandardError());
        return results;
    }
    for (const QByteArray &line : p.readAllStandardOutput().split('\n'))
        if (!line.trimmed().isEmpty())
            results << QJsonDocument::fromJson(line).object();
    return results;
}

QJsonArray objects(const QStringList &texts)
{
    QJsonArray a;
    for (const QString &t : texts)
        a.append(QJsonDocument::fromJson(t.toUtf8()).object());
    return a;
}

} // namespace

class TestVelaTablesCentre : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void decodeAgreesWithTheCentre();
    void encodeAgreesWithTheCentre();

private:
    int localOperations(const QString &name);

    VelaCenterRig m_rig;
    ZQIPC m_front; // the application in front, as it answers the shared kit
};

void TestVelaTablesCentre::initTestCase()
{
    VelaCenterRig::Options options;
    QVERIFY2(m_rig.start(options), qPrintable(m_rig.error()));
    QVERIFY(m_rig.answerScreenInfo());
    connect(&m_front, &ZQIPC::sigRecvInfo, this, [this](const QString &text) {
        if (QJsonDocument::fromJson(text.toUtf8()).object().value("eventid").toString() != "ID_APP_IS_TOP")
            return;
        m_front.sentInfo("ID_APP_GETTOPAPP_DLL",
                         QJsonDocument(QJsonObject{{"eventid", "ID_APP_IS_TOP"}, {"from", kFront}}).toJson());
    });
    QVERIFY(m_front.createTcpClient("ID_APP_TST_FRONT", "127.0.0.1", 23334));
    m_front.registerMsgAccept("ID_APP_GETTOPAPP_DLL");
}

int TestVelaTablesCentre::localOperations(const QString &name)
{
    return m_rig.centreOutput().count(QStringLiteral("slotLocalOperation \"%1\"").arg(name));
}

void TestVelaTablesCentre::decodeAgreesWithTheCentre()
{
    QList<QByteArray> commands;
    for (const Entry &e : installedEntries())
        if (e.type == "analysis")
            commands << probeCommands(e);
    QVERIFY(commands.size() > 60);
    QStringList args{"decode", "--json", "--front", kFront, "--tables", VELA_BIN_DIR};
    for (const QByteArray &c : qAsConst(commands))
        args << hex(c);
    QString error;
    const QList<QJsonObject> decoded = runVelaTables(args, &error);
    QVERIFY2(decoded.size() == commands.size(), qPrintable(error));

    int tableMessages = 0, locals = 0;
    for (int i = 0; i < commands.size(); ++i) {
        const QJsonObject &d = decoded.at(i);
        const QString what = hex(commands.at(i)) + " " + QJsonDocument(d).toJson(QJsonDocument::Compact);
        QVERIFY2(d.value("tableModule").toBool(), qPrintable(what));
        QVERIFY2(d.value("frame").toString() == QString::fromLatin1(VelaCenterRig::frameOf(commands.at(i)).toHex().toUpper()),
                 qPrintable(what));
        QMap<QString, int> localsBefore;
        for (const QJsonValue &l : d.value("local").toArray())
            localsBefore[l.toString()] = localOperations(l.toString());

        // The frame, then a marker frame no module claims: what the centre
        // publishes in between is the frame's.
        const int from = m_rig.busMessages().size();
        m_rig.boardSend("frame " + hex(commands.at(i)));
        const QByteArray marker = QByteArray::fromHex("123456") + char(i & 0xFF) + char(i >> 8);
        m_rig.boardSend("frame " + hex(marker));
        QVERIFY2(m_rig.waitBusMessage(VelaCenterRig::eventAnyWithParam(marker), 10000, nullptr, from), qPrintable(what));
        QStringList published = m_rig.busMessages().mid(from);
        while (!published.isEmpty()
               && !VelaCenterRig::eventAnyWithParam(marker)(QJsonDocument::fromJson(published.last().toUtf8()).object()))
            published.removeLast();
        published.removeLast();
        // The local operator may publish messages of its own (starting an
        // application closes another); the module's come as given.
        const QJsonArray centre = objects(published), tool = d.value("bus").toArray();
        bool same = centre == tool;
        if (!localsBefore.isEmpty()) {
            int at = 0;
            for (const QJsonValue &m : centre)
                if (at < tool.size() && m == tool.at(at))
                    ++at;
            same = at == tool.size();
        }
        QVERIFY2(same, qPrintable(what + "\ncentre published " + QJsonDocument(centre).toJson(QJsonDocument::Compact)));
        tableMessages += published.size();

        for (auto it = localsBefore.constBegin(); it != localsBefore.constEnd(); ++it) {
            QTRY_VERIFY2(localOperations(it.key()) > it.value(), qPrintable(what));
            ++locals;
        }
    }
    // Both roads were taken: messages for the applications and operations
    // on the PC.
    QVERIFY(tableMessages > 20);
    QVERIFY(locals > 20);
}

void TestVelaTablesCentre::encodeAgreesWithTheCentre()
{
    QList<QJsonObject> messages;
    for (const Entry &e : installedEntries())
        if (e.type == "fit")
            messages << probeMessages(e);
    // A pen change of an application: two frames; a long pass-through: split
    // into part frames on this link of version 2.
    messages << QJsonObject{{"eventid", "ID_ZQ_PEN_PROPERTY_CHANGE"}, {"to", "ID_APP_VELACENTER"},
                            {"property", QJsonObject{{"Color", "#0000FF"}, {"Width", 7}}}};
    QByteArray longPayload = QByteArray::fromHex("E9");
    for (int i = 0; i < 45; ++i)
        longPayload.append(char(i));
    messages << VelaCenterRig::eventAny(longPayload, "ID_APP_VELACENTER");
    QVERIFY(messages.size() > 30);

    // The board reports a screen of 2018 (generation 10): pen widths are
    // fitted for it, in the centre and, told so, in velatables.
    const int from = m_rig.busMessages().size();
    m_rig.boardSend("frame 01 31 10");
    QVERIFY(m_rig.waitBusMessage([](const QJsonObject &o) { return o.value("eventid") == "GET_MAINBOARD_VERSION"; },
                                 10000, nullptr, from));
    QStringList args{"encode", "--json", "--screen", "2018", "--tables", VELA_BIN_DIR};
    for (const QJsonObject &m : qAsConst(messages))
        args << QString::fromUtf8(QJsonDocument(m).toJson(QJsonDocument::Compact));
    QString error;
    const QList<QJsonObject> encoded = runVelaTables(args, &error);
    QVERIFY2(encoded.size() == messages.size(), qPrintable(error));

    int last = m_rig.flushToBoard();
    QVERIFY(last >= 0);
    int parts = 0;
    for (int i = 0; i < messages.size(); ++i) {
        const QJsonObject &e = encoded.at(i);
        const QString what = QJsonDocument(messages.at(i)).toJson(QJsonDocument::Compact) + " "
                             + QJsonDocument(e).toJson(QJsonDocument::Compact);
        QStringList expected;
        const QJsonArray frames = e.value("frames").toArray();
        const QJsonArray split = e.value("v2parts").toArray();
        for (int f = 0; f < frames.size(); ++f) {
            if (split.at(f).toArray().isEmpty()) {
                expected << frames.at(f).toString();
                continue;
            }
            for (const QJsonValue &p : split.at(f).toArray())
                expected << p.toString();
            parts += split.at(f).toArray().size();
        }
        QMap<QString, int> localsBefore;
        for (const QJsonValue &l : e.value("local").toArray())
            localsBefore[l.toString()] = localOperations(l.toString());

        QCOMPARE(m_rig.sendToCentre(messages.at(i)), 0);
        const int flush = m_rig.flushToBoard();
        QVERIFY2(flush >= 0, qPrintable(what));
        QStringList received;
        for (const QByteArray &f : m_rig.boardReceived().mid(last + 1, flush - last - 1))
            received << QString::fromLatin1(f.toHex().toUpper());
        last = flush;
        // The local operator may write frames of its own (closing an
        // application tells the board); the module's come as given.
        bool same = received == expected;
        if (!localsBefore.isEmpty()) {
            int at = 0;
            for (const QString &f : qAsConst(received))
                if (at < expected.size() && f == expected.at(at))
                    ++at;
            same = at == expected.size();
        }
        QVERIFY2(same, qPrintable(what + "\nboard got " + received.join(' ')));
        for (auto it = localsBefore.constBegin(); it != localsBefore.constEnd(); ++it)
            QTRY_VERIFY2(localOperations(it.key()) > it.value(), qPrintable(what));
    }
    QVERIFY(parts >= 3);
}

QTEST_GUILESS_MAIN(TestVelaTablesCentre)
#include "tst_velatablescentre.moc"
