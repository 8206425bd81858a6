// The bridge's settings and its command allow-list: what a panel's
// integrator writes, and what the network may ask.

#include "fleetcommandpolicy.h"
#include "fleetconfig.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class TestFleetConfig : public QObject
{
    Q_OBJECT
private slots:
    void load_data();
    void load();
    void decide_data();
    void decide();
    void program_data();
    void program();

private:
    QTemporaryDir m_dir;
    QString write(const QString &name, const QByteArray &text, QFile::Permissions mode);
};

QString TestFleetConfig::write(const QString &name, const QByteArray &text, QFile::Permissions mode)
{
    const QString path = m_dir.filePath(name);
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(text);
    f.close();
    f.setPermissions(mode);
    return path;
}

void TestFleetConfig::load_data()
{
    QTest::addColumn<QString>("fleet");   // body of the [Fleet] group
    QTest::addColumn<QString>("refused"); // part of the error, or empty
    QTest::addColumn<QString>("expect");  // host:port:tls:panel:user when accepted

    const QString pw = QStringLiteral("PasswordFile=pw-private\n");
    QTest::newRow("nothing configured") << "" << "" << "";
    QTest::newRow("mqtts default port, machine id") << "Broker=mqtts://broker.school\n" << ""
                                                   << "broker.school:8883:tls:0123abcd:";
    QTest::newRow("plain to loopback") << "Broker=mqtt://127.0.0.1:1999\nPanel=room-1\n" + pw << ""
                                       << "127.0.0.1:1999:plain:room-1:panel7";
    QTest::newRow("plain to localhost") << "Broker=mqtt://localhost\nPanel=r2\n" << "" << "localhost:1883:plain:r2:";
    QTest::newRow("plain to the network") << "Broker=mqtt://10.1.2.3\nPanel=r\n" << "unencrypted" << "";
    QTest::newRow("plain allowed explicitly") << "Broker=mqtt://10.1.2.3\nAllowPlain=1\nPanel=r\n" << ""
                                              << "10.1.2.3:1883:plain:r:";
    QTest::newRow("credentials in the URL") << "Broker=mqtts://u:p@broker\nPanel=r\n" << "PasswordFile" << "";
    QTest::newRow("other scheme") << "Broker=http://broker\nPanel=r\n" << "not an mqtts" << "";
    QTest::newRow("password file others can read") << "Broker=mqtts://b\nPanel=r\nPasswordFile=pw-open\n"
                                                   << "others" << "";
    QTest::newRow("password file missing") << "Broker=mqtts://b\nPanel=r\nPasswordFile=nowhere\n"
                                           << "not a readable file" << "";
    QTest::newRow("key others can read") << "Broker=mqtts://b\nPanel=r\nCertFile=cert\nKeyFile=pw-open\n"
                                         << "KeyFile refused" << "";
    QTest::newRow("CA file missing") << "Broker=mqtts://b\nPanel=r\nCaFile=no-ca.crt\n" << "cannot be read" << "";
    QTest::newRow("certificate without key") << "Broker=mqtts://b\nPanel=r\nCertFile=cert\n" << "go together" << "";
    QTest::newRow("panel name with a slash") << "Broker=mqtts://b\nPanel=a/b\n" << "plain name" << "";
}

void TestFleetConfig::load()
{
    QFETCH(QString, fleet);
    QFETCH(QString, refused);
    QFETCH(QString, expect);

    write(QStringLiteral("pw-private"), "panel7\nsecret\n", QFile::ReadOwner | QFile::WriteOwner);
    write(QStringLiteral("pw-open"), "panel7\nsecret\n", QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    write(QStringLiteral("cert"), "certificate", QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    const QString machineId = write(QStringLiteral("machine-id"), "0123abcd\n", QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
    // A settings file of its own per row: QSettings keeps a file it read and
    // would not see one rewritten within the second at the same size.
    static int row = 0;
    const QString ini = write(QStringLiteral("version-%1.ini").arg(++row), "[Log]\nNeedLog=0\n[Fleet]\n" + fleet.toUtf8(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);

    FleetConfig c;
    QString error;
    QStringList warnings;
    const bool ok = FleetConfig::load(ini, &c, &error, &warnings, machineId);
    if (!refused.isEmpty()) {
        QVERIFY2(!ok, qPrintable(QStringLiteral("accepted: ") + fleet));
        QVERIFY2(error.contains(refused), qPrintable(error));
        return;
    }
    QVERIFY2(ok, qPrintable(error));
    QCOMPARE(c.configured, !expect.isEmpty());
    if (expect.isEmpty())
        return;
    QCOMPARE(QStringLiteral("%1:%2:%3:%4:%5").arg(c.host).arg(c.port).arg(c.tls ? "tls" : "plain", c.panel, c.user),
             expect);
    QCOMPARE(c.events, FleetConfig::defaultEvents());
    QCOMPARE(c.sources, QStringList{QStringLiteral("ID_APP_VELACENTER")});
    QVERIFY(c.commands.rules().isEmpty()); // nothing comes in unless listed
}

void TestFleetConfig::decide_data()
{
    QTest::addColumn<QString>("commands"); // the Commands entry
    QTest::addColumn<QString>("event");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<QString>("target"); // empty: refused
    QTest::addColumn<QString>("reason");

    const QString brightness = QStringLiteral("SMSC_BRIGHTNESS>ID_APP_VELACENTER, SHOW_MESSAGE>ID_APP_NOTICE, "
                                              "SHOW_MESSAGE>ID_APP_TOAST, EVENT_ANY:C30240>ID_APP_VELACENTER");
    const QByteArray c30240 = QByteArray::fromHex("C30240").toBase64();
    QTest::newRow("listed") << brightness << "SMSC_BRIGHTNESS" << QByteArray(R"({"id":"1","param":[{"value":64}]})")
                            << "ID_APP_VELACENTER" << "";
    QTest::newRow("not listed") << brightness << "SET_VOLUME" << QByteArray(R"({"id":"1","param":[{"value":9}]})")
                                << "" << "event not allowed";
    QTest::newRow("nothing listed") << "" << "SMSC_BRIGHTNESS" << QByteArray(R"({"id":"1"})") << ""
                                    << "event not allowed";
    QTest::newRow("second target chosen") << brightness << "SHOW_MESSAGE"
                                          << QByteArray(R"({"id":"1","to":"ID_APP_TOAST","param":"hi"})")
                                          << "ID_APP_TOAST" << "";
    QTest::newRow("target not listed") << brightness << "SHOW_MESSAGE"
                                       << QByteArray(R"({"id":"1","to":"ID_APP_VELACENTER"})") << ""
                                       << "target not allowed";
    QTest::newRow("EVENT_ANY exact bytes") << brightness << "EVENT_ANY"
                                           << QByteArray(R"({"id":"1","param":")" + c30240 + "\"}")
                                           << "ID_APP_VELACENTER" << "";
    QTest::newRow("EVENT_ANY other bytes") << brightness << "EVENT_ANY"
                                           << QByteArray(R"({"id":"1","param":")"
                                                         + QByteArray::fromHex("C30241").toBase64() + "\"}")
                                           << "" << "bytes not allowed";
    QTest::newRow("EVENT_ANY longer bytes") << brightness << "EVENT_ANY"
                                            << QByteArray(R"({"id":"1","param":")"
                                                          + QByteArray::fromHex("C3024000").toBase64() + "\"}")
                                            << "" << "bytes not allowed";
    QTest::newRow("EVENT_ANY sloppy Base64") << brightness << "EVENT_ANY" << QByteArray(R"({"id":"1","param":"wwJA\n"})")
                                             << "" << "not Base64";
    QTest::newRow("EVENT_ANY without bytes in the list") << "EVENT_ANY>ID_APP_VELACENTER" << "EVENT_ANY"
                                                         << QByteArray(R"({"id":"1","param":")" + c30240 + "\"}")
                                                         << "" << "event not allowed";
    QTest::newRow("broadcast target in the list") << "SMSC_BRIGHTNESS>ID_ALL" << "SMSC_BRIGHTNESS"
                                                  << QByteArray(R"({"id":"1"})") << "" << "event not allowed";
    QTest::newRow("raw target in the list") << "SMSC_BRIGHTNESS>ID_NULL" << "SMSC_BRIGHTNESS"
                                            << QByteArray(R"({"id":"1"})") << "" << "event not allowed";
}

void TestFleetConfig::decide()
{
    QFETCH(QString, commands);
    QFETCH(QString, event);
    QFETCH(QByteArray, payload);
    QFETCH(QString, target);
    QFETCH(QString, reason);

    const QString ini = write(QStringLiteral("decide.ini"),
                              "[Fleet]\nBroker=mqtts://b\nPanel=p\nCommands=" + commands.toUtf8() + "\n",
                              QFile::ReadOwner | QFile::WriteOwner);
    FleetConfig c;
    QString error;
    QStringList warnings;
    QVERIFY2(FleetConfig::load(ini, &c, &error, &warnings), qPrintable(error));
    // Unusable entries are left out, and said so.
    if (commands.contains(QLatin1String("ID_ALL")) || commands.contains(QLatin1String("ID_NULL"))
        || commands == QLatin1String("EVENT_ANY>ID_APP_VELACENTER"))
        QCOMPARE(warnings.size(), 1);
    else
        QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join('\n')));

    const QJsonObject p = QJsonDocument::fromJson(payload).object();
    const FleetCommandPolicy::Decision d = c.commands.decide(event, QStringLiteral("1"), p);
    QCOMPARE(d.allowed, !target.isEmpty());
    if (target.isEmpty()) {
        QVERIFY2(d.reason.contains(reason), qPrintable(d.reason));
        return;
    }
    QCOMPARE(d.target, target);
    // The bus message is built, not copied: only the event, its parameters
    // and the bridge's own addressing travel ("to" also tells the centre
    // the message is for it).
    QJsonObject expected{{"eventid", event}, {"from", "ID_APP_VELAFLEET"}, {"to", target}, {"id", "fleet-1"}};
    if (p.contains(QStringLiteral("param")))
        expected.insert(QStringLiteral("param"), p.value(QStringLiteral("param")));
    QCOMPARE(d.message, expected);
}

void TestFleetConfig::program_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("fleet"); // the settings file, when given with --config
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("output"); // empty: nothing at all

    QTest::newRow("version") << QStringList{"--version"} << QByteArray() << 0
                             << QStringLiteral("velabridge " VELA_VERSION);
    QTest::newRow("help") << QStringList{"--help"} << QByteArray() << 0 << "Usage:";
    // Started at every log-in: without a broker it ends at once, silently.
    QTest::newRow("not configured") << QStringList() << QByteArray("[Log]\nNeedLog=0\n") << 0 << "";
    QTest::newRow("unsafe settings") << QStringList() << QByteArray("[Fleet]\nBroker=mqtt://192.0.2.7\nPanel=p\n") << 1
                                     << "not started: plain mqtt:// to 192.0.2.7";
}

void TestFleetConfig::program()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, fleet);
    QFETCH(int, status);
    QFETCH(QString, output);

    if (!fleet.isNull())
        args << QStringLiteral("--config")
             << write(QStringLiteral("program.ini"), fleet, QFile::ReadOwner | QFile::WriteOwner);
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral(VELA_BIN_DIR "/velabridge"), args);
    QVERIFY(p.waitForFinished(5000));
    QCOMPARE(p.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.exitCode(), status);
    const QString out = QString::fromUtf8(p.readAll());
    if (output.isEmpty())
        QVERIFY2(out.isEmpty(), qPrintable(out));
    else
        QVERIFY2(out.contains(output), qPrintable(out));
}

QTEST_GUILESS_MAIN(TestFleetConfig)
#include "tst_fleetconfig.moc"
