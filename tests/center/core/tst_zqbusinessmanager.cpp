// The business manager: order of precedence, the pass-through in both
// directions, its limits, and the relays from work threads to the main thread.

#include "dvscreen.h"
#include "izqbusiness.h"
#include "tablefixtures.h"
#include "zqboardframe.h"
#include "zqbusinessmanager.h"
#include "zqfitcommand.h"
#include "zqtbusiness.h"

#include <QRegularExpression>
#include <QtTest>

using namespace tables;

namespace {

// A table module over a table given inline, as the installed modules are over theirs.
ZQTbusiness* tableModule(ZQBusinessManager& manager, const QString& entries)
{
    auto* module = new ZQTbusiness(manager.screen(), nullptr);
    if (!load(*module, entries))
        qFatal("test table does not load");
    return module;
}

QString twoModuleTable(const char* event, const char* key, const char* fitKey)
{
    return QString("<%1 commandType='analysis' commandParamType='fixed' len='10'><k><b byteValue='%2'/></k></%1>"
                   "<SHARED commandType='analysis' commandParamType='fixed' len='10'><k><b byteValue='D0'/></k></SHARED>"
                   "<SHARED_FIT commandType='fit' commandParamType='fixed'><k><b byteValue='%3'/></k></SHARED_FIT>"
                   "<WRONG_LENGTH commandType='analysis' commandParamType='fixed' len='99'><k><b byteValue='D1'/></k></WRONG_LENGTH>")
        .arg(event, key, fitKey);
}

// Records on which thread each signal of the manager is delivered to a slot of
// an object of the main thread, as the dispatch hub's slots are.
class Receiver : public QObject
{
    Q_OBJECT
public:
    QList<QThread*> threads;
    QStringList messages;
    QList<QByteArray> commands;
public slots:
    void onMessage(QString text)
    {
        threads.append(QThread::currentThread());
        messages.append(text);
    }
    void onCommand(QByteArray frame)
    {
        threads.append(QThread::currentThread());
        commands.append(frame);
    }
};

} // namespace

class TestBusinessManager : public QObject
{
    Q_OBJECT

private slots:
    void passThroughUp_data();
    void passThroughUp();
    void passThroughDown_data();
    void passThroughDown();
    void passThroughRoundTrip_data();
    void passThroughRoundTrip();
    void oversizedPayloadIsDropped();
    void unclaimedMessagesAreDropped_data();
    void unclaimedMessagesAreDropped();
    void firstClaimingModuleWins_data();
    void firstClaimingModuleWins();
    void emptyResultIsConsumed();
    void relaysReachMainThread();
    void moduleListAndRelays();
};

void TestBusinessManager::passThroughUp_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QByteArray>("payload");

    QTest::newRow("unknown frame") << hex("7F 0A 99 A2 B3 C4 02 FF 12 34 56 78 CF") << hex("12 34 56 78");
    QTest::newRow("no command") << hex("7F 06 99 A2 B3 C4 02 FF CF") << QByteArray();
    QTest::newRow("shorter than a frame") << hex("7F 06 99") << QByteArray();
    // The length byte claims more than the frame holds: read by the real size.
    QTest::newRow("length byte too large") << hex("7F 7F 99 A2 B3 C4 02 FF 12 34 CF") << hex("12 34");

    // A joined multi-frame message of 300 data bytes: its length byte has
    // wrapped round, the payload is still taken whole.
    QByteArray data;
    for (int i = 0; i < 300; ++i)
        data.append(char(i));
    QByteArray joined = hex("7F 00 99 A2 B3 C4 02 FF E7 01") + data + hex("CF");
    joined[1] = char((data.size() + 8) & 0xFF);
    QTest::newRow("joined 300 data bytes") << joined << hex("E7 01") + data;
}

void TestBusinessManager::passThroughUp()
{
    QFETCH(QByteArray, frame);
    QFETCH(QByteArray, payload);

    ZQBusinessManager manager(nullptr);
    QSignalSpy spy(&manager, &ZQBusinessManager::sigSendMessage);
    manager.DealCommand(frame);
    QCOMPARE(spy.count(), 1);
    const QString text = spy.first().first().toString();
    QVERIFY(text.contains('\n')); // indented form
    const QJsonObject message = json(text.toUtf8());
    QCOMPARE(message.value("eventid").toString(), QStringLiteral("EVENT_ANY"));
    QCOMPARE(message.value("from").toString(), QStringLiteral("ID_APP_VELACENTER"));
    QCOMPARE(message.value("to").toString(), QStringLiteral("ID_APP_ANY"));
    QCOMPARE(message.size(), 4);
    QCOMPARE(spaced(QByteArray::fromBase64(message.value("param").toString().toLatin1())), spaced(payload));
    if (payload == hex("12 34 56 78"))
        QCOMPARE(message.value("param").toString(), QStringLiteral("EjRWeA=="));
}

void TestBusinessManager::passThroughDown_data()
{
    QTest::addColumn<QString>("message");
    QTest::addColumn<QByteArray>("frame");

    QTest::newRow("EjRWeA==") << "{\"eventid\":\"EVENT_ANY\",\"param\":\"EjRWeA==\"}"
                              << hex("7F 0A 99 A2 B3 C4 02 FF 12 34 56 78 CF");
    QTest::newRow("with addresses") << "{\"eventid\":\"EVENT_ANY\",\"from\":\"ID_APP_X\",\"to\":\"ID_APP_VELACENTER\",\"param\":\"4wUB\"}"
                                    << hex("7F 09 99 A2 B3 C4 02 FF E3 05 01 CF");
    QByteArray big(249, '\x42');
    QTest::newRow("249 bytes, the most that fits")
        << QString("{\"eventid\":\"EVENT_ANY\",\"param\":\"%1\"}").arg(QString::fromLatin1(big.toBase64()))
        << ZQBoardFrame::build(big);
    // No command at all: nothing may reach the board, not even the envelope.
    QTest::newRow("empty param") << "{\"eventid\":\"EVENT_ANY\",\"param\":\"\"}" << QByteArray();
    QTest::newRow("param not Base64") << "{\"eventid\":\"EVENT_ANY\",\"param\":\"%\"}" << QByteArray();
    QTest::newRow("param missing") << "{\"eventid\":\"EVENT_ANY\",\"to\":\"MessageCenter\"}" << QByteArray();
}

void TestBusinessManager::passThroughDown()
{
    QFETCH(QString, message);
    QFETCH(QByteArray, frame);

    ZQBusinessManager manager(nullptr);
    QSignalSpy spy(&manager, &ZQBusinessManager::sigSendCommand);
    if (frame.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("EVENT_ANY without a command"));
    manager.DealMessage(message);
    if (frame.isEmpty()) {
        QCOMPARE(spy.count(), 0);
        return;
    }
    QCOMPARE(spy.count(), 1);
    const QByteArray sent = spy.first().first().toByteArray();
    QCOMPARE(spaced(sent), spaced(frame));
    QCOMPARE(envelopeFault(sent), QString());
}

void TestBusinessManager::passThroughRoundTrip_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::newRow("four bytes") << hex("7F 0A 99 A2 B3 C4 02 FF 12 34 56 78 CF");
    QTest::newRow("zero and CF inside") << frame("E8 00 CF 7F 00");
    QTest::newRow("longest board frame") << frame(QByteArray(121, 'A').toHex().constData());
}

void TestBusinessManager::passThroughRoundTrip()
{
    QFETCH(QByteArray, frame);

    ZQBusinessManager manager(nullptr);
    QSignalSpy up(&manager, &ZQBusinessManager::sigSendMessage);
    QSignalSpy down(&manager, &ZQBusinessManager::sigSendCommand);
    manager.DealCommand(frame);
    QCOMPARE(up.count(), 1);
    manager.DealMessage(up.first().first().toString());
    QCOMPARE(down.count(), 1);
    QCOMPARE(down.first().first().toByteArray(), frame);
}

void TestBusinessManager::oversizedPayloadIsDropped()
{
    ZQBusinessManager manager(nullptr);
    QSignalSpy spy(&manager, &ZQBusinessManager::sigSendCommand);
    const QByteArray payload(250, '\x42');
    QTest::ignoreMessage(QtWarningMsg, "EVENT_ANY payload of 250 bytes exceeds 249 bytes, the most one frame holds; dropped");
    manager.DealMessage(QString("{\"eventid\":\"EVENT_ANY\",\"param\":\"%1\"}").arg(QString::fromLatin1(payload.toBase64())));
    QCOMPARE(spy.count(), 0);
}

void TestBusinessManager::unclaimedMessagesAreDropped_data()
{
    QTest::addColumn<QString>("message");
    QTest::newRow("other event") << "{\"eventid\":\"SOMETHING\",\"param\":\"EjRWeA==\"}";
    QTest::newRow("event in other case") << "{\"eventid\":\"event_any\",\"param\":\"EjRWeA==\"}";
    QTest::newRow("not json") << "EVENT_ANY EjRWeA==";
    QTest::newRow("empty") << "";
    QTest::newRow("json array") << "[\"EVENT_ANY\"]";
}

void TestBusinessManager::unclaimedMessagesAreDropped()
{
    QFETCH(QString, message);
    ZQBusinessManager manager(nullptr);
    QSignalSpy commands(&manager, &ZQBusinessManager::sigSendCommand);
    QSignalSpy messages(&manager, &ZQBusinessManager::sigSendMessage);
    manager.DealMessage(message);
    QCOMPARE(commands.count(), 0);
    QCOMPARE(messages.count(), 0);
}

void TestBusinessManager::firstClaimingModuleWins_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("expected");

    QTest::newRow("frame both know") << frame("D0") << QString() << "first:SHARED";
    QTest::newRow("frame only second knows") << frame("D3") << QString() << "second:ONLY_SECOND";
    QTest::newRow("frame only first knows") << frame("D2") << QString() << "first:ONLY_FIRST";
    QTest::newRow("message both fit") << QByteArray() << "{\"eventid\":\"SHARED_FIT\"}" << "first:7F 07 99 A2 B3 C4 02 FF D8 CF";
}

void TestBusinessManager::firstClaimingModuleWins()
{
    QFETCH(QByteArray, frame);
    QFETCH(QString, message);
    QFETCH(QString, expected);

    ZQBusinessManager manager(nullptr);
    ZQTbusiness* first = tableModule(manager, twoModuleTable("ONLY_FIRST", "D2", "D8"));
    ZQTbusiness* second = tableModule(manager, twoModuleTable("ONLY_SECOND", "D3", "D9"));
    // In front of the modules the manager made, in this order.
    manager.insertModule(0, first);
    manager.insertModule(1, second);
    QCOMPARE(manager.modules().at(0), static_cast<IZQBusiness*>(first));
    QCOMPARE(manager.modules().at(1), static_cast<IZQBusiness*>(second));

    QStringList seen;
    for (ZQTbusiness* module : {first, second}) {
        const QString name = module == first ? "first" : "second";
        connect(module, &ZQTbusiness::sigSendMessage, this, [&seen, name](QString text) {
            seen << name + ":" + json(text.toUtf8()).value("eventid").toString();
        });
        connect(module, &ZQTbusiness::sigSendCommend, this, [&seen, name](QByteArray f) { seen << name + ":" + spaced(f); });
    }
    QSignalSpy managerMessages(&manager, &ZQBusinessManager::sigSendMessage);
    QSignalSpy managerCommands(&manager, &ZQBusinessManager::sigSendCommand);
    if (!frame.isEmpty())
        manager.DealCommand(frame);
    else
        manager.DealMessage(message);
    QCOMPARE(seen, QStringList{expected});
    // Relayed once to the manager's own signal, and nothing passed through.
    QCOMPARE(managerMessages.count() + managerCommands.count(), 1);
}

void TestBusinessManager::emptyResultIsConsumed()
{
    ZQBusinessManager manager(nullptr);
    manager.insertModule(0, tableModule(manager, twoModuleTable("A", "D2", "D8")));
    QSignalSpy messages(&manager, &ZQBusinessManager::sigSendMessage);
    // Claimed by its key, refused by its length: nothing is sent, and the frame
    // does not go on as a pass-through either.
    manager.DealCommand(frame("D1"));
    QCOMPARE(messages.count(), 0);
}

void TestBusinessManager::relaysReachMainThread()
{
    ZQBusinessManager manager(nullptr);
    manager.insertModule(0, tableModule(manager, twoModuleTable("FROM_TABLE", "D2", "D8")));
    Receiver hub;
    connect(&manager, &ZQBusinessManager::sigSendMessage, &hub, &Receiver::onMessage);
    connect(&manager, &ZQBusinessManager::sigSendCommand, &hub, &Receiver::onCommand);
    QList<QThread*> emitters;
    QMutex emittersLock;
    connect(&manager, &ZQBusinessManager::sigSendMessage, this, [&](QString) {
        QMutexLocker lock(&emittersLock);
        emitters.append(QThread::currentThread());
    }, Qt::DirectConnection);

    // The serial and IPC work threads: threads without an event loop of
    // their own, as the dispatch hub runs them.
    QThread* serialThread = QThread::create([&manager] {
        manager.DealCommand(frame("D2"));              // a module's message
        manager.DealCommand(frame("12 34 56 78"));     // a pass-through
    });
    QThread* ipcThread = QThread::create([&manager] {
        manager.DealMessage("{\"eventid\":\"SHARED_FIT\"}");
        manager.DealMessage("{\"eventid\":\"EVENT_ANY\",\"param\":\"EjRWeA==\"}");
    });
    serialThread->start();
    ipcThread->start();
    QVERIFY(serialThread->wait(10000));
    QVERIFY(ipcThread->wait(10000));

    QTRY_COMPARE(hub.messages.size(), 2);
    QTRY_COMPARE(hub.commands.size(), 2);
    for (QThread* thread : qAsConst(hub.threads))
        QCOMPARE(thread, QThread::currentThread());
    // The manager re-emits a module's signal on the module's own thread, as
    // the pass-through leaves it, so both cross to the main thread once and
    // keep the order in which they were sent.
    QMutexLocker lock(&emittersLock);
    QCOMPARE(emitters.size(), 2);
    QCOMPARE(emitters.count(serialThread), 2);
    QSet<QString> events;
    for (const QString& text : qAsConst(hub.messages))
        events.insert(json(text.toUtf8()).value("eventid").toString());
    QCOMPARE(events, (QSet<QString>{"FROM_TABLE", "EVENT_ANY"}));
    QSet<QString> frames;
    for (const QByteArray& f : qAsConst(hub.commands))
        frames.insert(spaced(f));
    QCOMPARE(frames, (QSet<QString>{spaced(frame("D8")), spaced(frame("12 34 56 78"))}));
    delete serialThread;
    delete ipcThread;
}

// Every relay a module may carry reaches the manager's signal of its role.
class AllSignals : public QObject, public IZQBusiness
{
    Q_OBJECT
public:
    void init() override {}
    QObject* getObject() override { return this; }
    QJsonObject messageStrToJson(QString) override { return {}; }
    bool isCanDealMessage(QJsonObject) override { return false; }
    QByteArray DealMessage(QJsonObject) override { return {}; }
    void Send(QByteArray) override {}
    bool isCanDealCommand(QByteArray, QByteArray&) override { return false; }
    QJsonObject DealCommand(QByteArray, QByteArray) override { return {}; }
    void Send(QJsonObject) override {}
signals:
    void sigSendCommend(QByteArray);
    void sigSendCmd(QByteArray);
    void sigSendMessage(QString);
    void sigSendLocal(QString);
    void sigShowDialog(int, double, double);
    void sigShowToolBox(int, double, double);
};

void TestBusinessManager::moduleListAndRelays()
{
    ZQBusinessManager manager(nullptr);
    // The module made by the manager is its Qt child and shares its screen.
    QVERIFY(!manager.modules().isEmpty());
    for (IZQBusiness* module : manager.modules())
        QCOMPARE(module->getObject()->parent(), &manager);

    auto* module = new AllSignals;
    manager.addModule(module);
    QCOMPARE(manager.modules().last(), static_cast<IZQBusiness*>(module));
    QCOMPARE(module->parent(), &manager);

    QSignalSpy commands(&manager, &ZQBusinessManager::sigSendCommand);
    QSignalSpy messages(&manager, &ZQBusinessManager::sigSendMessage);
    QSignalSpy locals(&manager, &ZQBusinessManager::sigSendLocal);
    QSignalSpy dialogs(&manager, &ZQBusinessManager::sigShowDialog);
    QSignalSpy toolboxes(&manager, &ZQBusinessManager::sigShowToolBox);
    emit module->sigSendCommend(hex("01"));
    emit module->sigSendCmd(hex("02"));
    emit module->sigSendMessage("m");
    emit module->sigSendLocal("ID_KEYBOARD");
    emit module->sigShowDialog(1, 2.5, 3.5);
    emit module->sigShowToolBox(4, 5.5, 6.5);
    QCOMPARE(commands.count(), 2);
    QCOMPARE(commands.at(0).first().toByteArray(), hex("01"));
    QCOMPARE(commands.at(1).first().toByteArray(), hex("02"));
    QCOMPARE(messages.count(), 1);
    QCOMPARE(locals.count(), 1);
    QCOMPARE(locals.first().first().toString(), QStringLiteral("ID_KEYBOARD"));
    QCOMPARE(dialogs.count(), 1);
    QCOMPARE(dialogs.first().at(1).toDouble(), 2.5);
    QCOMPARE(toolboxes.count(), 1);
    QCOMPARE(toolboxes.first().at(0).toInt(), 4);
}

QTEST_GUILESS_MAIN(TestBusinessManager)
#include "tst_zqbusinessmanager.moc"
