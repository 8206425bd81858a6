// The plug-in manager: settings published on the application object, the
// work directory, lazy plug-in loading with retry, and the language switch,
// with real plug-in files (a stand-in cloud plug-in, the real resHandler.so
// and the stand-in transfer plug-ins).
#include "izqapprenew.h"
#include "izqfarnetmanager.h"
#include "izqossskyvaultmanager.h"
#include "izqreshandler.h"
#include "izqskybasis.h"
#include "izqskyprofile.h"
#include "izqskyvaultmanager.h"
#include "izqusertrailmanager.h"
#include "zqnethub.h"
#include "zqnetworkmanager.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTranslator>
#include <QXmlStreamReader>
#include <QtTest>

#include <functional>

using Getter = std::function<QObject *(IZQNetWorkManager *)>;
Q_DECLARE_METATYPE(Getter)

namespace {

const QString kTransferDir = QStringLiteral(VELA_TRANSFER_STANDIN_DIR);

template <typename Interface>
QObject *objectOf(Interface *plugin)
{
    return plugin ? plugin->getObject() : nullptr;
}

// The (context, source text) pairs of a catalogue source file, in order.
QList<QPair<QString, QString>> catalogueSources(const QString &tsFile)
{
    QFile file(tsFile);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QList<QPair<QString, QString>> sources;
    QXmlStreamReader xml(&file);
    QString context;
    while (!xml.atEnd()) {
        if (xml.readNext() != QXmlStreamReader::StartElement)
            continue;
        if (xml.name() == QLatin1String("name"))
            context = xml.readElementText();
        else if (xml.name() == QLatin1String("source"))
            sources << qMakePair(context, xml.readElementText());
    }
    return sources;
}

} // namespace

class TestZQNetWorkManager : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void publishedSettings_data();
    void publishedSettings();
    void workDirWithBackslashes();
    void gettersLoadTheirFile_data();
    void gettersLoadTheirFile();
    void pluginOfAnotherInterfaceIsRefused();
    void resHandlerRetriedThenLoadedOnce();
    void switchQM_data();
    void switchQM();
    void cataloguesComplete_data();
    void cataloguesComplete();

private:
    QTemporaryDir m_home;
};

void TestZQNetWorkManager::initTestCase()
{
    // The manager makes its data folder under the documents folder.
    QVERIFY(m_home.isValid());
    qputenv("HOME", m_home.path().toUtf8());
    qunsetenv("XDG_CONFIG_HOME");
    // The reason a plug-in was refused is a debug line; the cases wait for it.
    QLoggingCategory::setFilterRules(QStringLiteral("vela.nethub.debug=true"));
}

void TestZQNetWorkManager::cleanup()
{
    qApp->setProperty("workDir", QVariant());
}

void TestZQNetWorkManager::publishedSettings_data()
{
    QTest::addColumn<QByteArray>("ini");  // empty: no settings file at all
    QTest::addColumn<QString>("cloudHost");
    QTest::addColumn<QString>("cloudPavoHost");
    QTest::addColumn<QString>("logincodeUrl");

    QTest::newRow("all keys, UTF-8")
        << QByteArray("[versionInformation]\ncloudHost=https://云.example/api\ncloudPavoHost=https://pavo.example\n"
                      "[UrlInformation]\nlogincodeUrl=https://login.example/código\n")
        << QStringLiteral("https://云.example/api") << QStringLiteral("https://pavo.example")
        << QStringLiteral("https://login.example/código");
    QTest::newRow("only lower-case key") << QByteArray("[versionInformation]\ncloudhost=https://h\n")
                                         << QString() << QString() << QString();
    QTest::newRow("no file") << QByteArray() << QString() << QString() << QString();
}

void TestZQNetWorkManager::publishedSettings()
{
    QFETCH(QByteArray, ini);
    QTemporaryDir dir;
    if (!ini.isEmpty()) {
        QFile file(dir.filePath(QStringLiteral("version.ini")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(ini);
    }
    qApp->setProperty("workDir", dir.path());
    QObject parent;
    QVERIFY(ZQNetHub::getInst(&parent));

    const char *const names[] = {"cloudHost", "cloudPavoHost", "logincodeUrl"};
    QFETCH(QString, cloudHost);
    QFETCH(QString, cloudPavoHost);
    QFETCH(QString, logincodeUrl);
    const QString values[] = {cloudHost, cloudPavoHost, logincodeUrl};
    for (int i = 0; i < 3; ++i) {
        const QVariant published = qApp->property(names[i]);
        QVERIFY2(published.isValid(), names[i]);  // set even when empty
        QCOMPARE(published.toString(), values[i]);
    }
    const QString dataDir = m_home.path() + QStringLiteral("/Documents/Tavolix/NetHub");
    QCOMPARE(qApp->property("netHubDir").toString(), dataDir);
    QVERIFY(QDir(dataDir).exists());
}

void TestZQNetWorkManager::workDirWithBackslashes()
{
    QTemporaryDir dir;
    QObject parent;
    IZQNetWorkManager *manager = ZQNetHub::getInst(&parent);
    QCOMPARE(manager->getObject()->parent(), &parent);
    manager->setWorkDir(QString(dir.path()).replace(QLatin1Char('/'), QLatin1Char('\\')));
    QCOMPARE(qApp->property("workDir").toString(), dir.path());
    QVERIFY(QCoreApplication::libraryPaths().contains(QDir(dir.path()).canonicalPath()));
}

void TestZQNetWorkManager::gettersLoadTheirFile_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<Getter>("getter");

    auto row = [](const char *file, Getter getter) { QTest::newRow(file) << QString::fromLatin1(file) << getter; };
    row("skyBasis.so", [](IZQNetWorkManager *m) { return objectOf(m->getSkyBasis()); });
    row("farNet.so", [](IZQNetWorkManager *m) { return objectOf(m->getFarNetManager()); });
    row("libuserTrail.so", [](IZQNetWorkManager *m) { return objectOf(m->getUserTrailManager()); });
    row("skyProfile.so", [](IZQNetWorkManager *m) { return objectOf(m->getSkyProfile()); });
    row("appRenew.so", [](IZQNetWorkManager *m) { return objectOf(m->getAppRenew()); });
    row("skyvault.so", [](IZQNetWorkManager *m) { return objectOf(m->getSkyvaultManager()); });
    row("skyossvault.so", [](IZQNetWorkManager *m) { return objectOf(m->getOssSkyvaultManager()); });
}

void TestZQNetWorkManager::gettersLoadTheirFile()
{
    QFETCH(QString, file);
    QFETCH(Getter, getter);

    QTemporaryDir dir;
    QVERIFY(QFile::copy(QStringLiteral(VELA_CLOUD_STANDIN), dir.filePath(file)));
    QObject parent;
    IZQNetWorkManager *manager = ZQNetHub::getInst(&parent);
    manager->setWorkDir(dir.path());

    QObject *plugin = getter(manager);
    QVERIFY(plugin);
    QCOMPARE(plugin->metaObject()->className(), "StandInCloud");
    QCOMPARE(getter(manager), plugin);
}

void TestZQNetWorkManager::pluginOfAnotherInterfaceIsRefused()
{
    QTemporaryDir dir;
    QVERIFY(QFile::copy(kTransferDir + QStringLiteral("/pushFile.so"), dir.filePath(QStringLiteral("skyBasis.so"))));
    QObject parent;
    IZQNetWorkManager *manager = ZQNetHub::getInst(&parent);
    manager->setWorkDir(dir.path());
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral(
        "^skyBasis\\.dll\\..*is not a com\\.zqt\\.bricks\\.IZQSkyBasis/1\\.0 plug-in")));
    QVERIFY(!manager->getSkyBasis());
}

void TestZQNetWorkManager::resHandlerRetriedThenLoadedOnce()
{
    QTemporaryDir dir;
    QObject parent;
    IZQNetWorkManager *manager = ZQNetHub::getInst(&parent);
    manager->setWorkDir(dir.path());

    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(QStringLiteral("^resHandler\\.dll\\..+")));
    QVERIFY(!manager->getResHandler());

    // The real plug-in and the transfer plug-ins it loads, all in the work directory.
    QVERIFY(QFile::copy(QStringLiteral(VELA_BIN_DIR "/resHandler.so"), dir.filePath(QStringLiteral("resHandler.so"))));
    for (const char *name : {"fetchFile.so", "pushFile.so"})
        QVERIFY(QFile::copy(kTransferDir + QLatin1Char('/') + QLatin1String(name), dir.filePath(QLatin1String(name))));
    IZQResHandler *handler = manager->getResHandler();
    QVERIFY(handler);
    QCOMPARE(handler->getObject()->metaObject()->className(), "ZQResHandler");
    QCOMPARE(handler->getCosFileUrlBySdk(QStringLiteral("b"), QStringLiteral("p")),
             QStringLiteral("pushFile:getCosFileUrl(\"b\", \"p\", \"2\")"));

    // Once loaded it is not looked for again, not even in a new work directory.
    QTemporaryDir elsewhere;
    manager->setWorkDir(elsewhere.path());
    QCOMPARE(manager->getResHandler(), handler);
}

void TestZQNetWorkManager::switchQM_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("ok");
    QTest::addColumn<QString>("cameraOccupied");

    const QString chineseOk = QStringLiteral("确定"), chineseCamera = QStringLiteral("摄像头被占用");
    QTest::newRow("EN_us") << "EN_us" << "OK" << "Camera occupied";
    QTest::newRow("zh_CN") << "zh_CN" << chineseOk << chineseCamera;
    QTest::newRow("fr falls back to Chinese") << "fr" << chineseOk << chineseCamera;
    QTest::newRow("mn") << "mn" << QStringLiteral("За") << QStringLiteral("Камер ашиглагдаж байна");
}

void TestZQNetWorkManager::switchQM()
{
    QFETCH(QString, language);
    QFETCH(QString, ok);
    QFETCH(QString, cameraOccupied);

    QObject parent;
    IZQNetWorkManager *manager = ZQNetHub::getInst(&parent);
    manager->switchQM(QStringLiteral("mn"));  // a switch replaces the language before it
    manager->switchQM(language);
    QCOMPARE(qApp->property("language").toString(), language);
    QCOMPARE(QCoreApplication::translate("QObject", "ID_OK"), ok);
    QCOMPARE(QCoreApplication::translate("ZQOrganizationBindPage", "ID_OK"), ok);
    QCOMPARE(QCoreApplication::translate("QObject", "ID_CAMERA_OCCUPIED"), cameraOccupied);
}

void TestZQNetWorkManager::cataloguesComplete_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("English") << "NetHub_en_US";
    QTest::newRow("Chinese") << "NetHub_zh_CN";
    QTest::newRow("Mongolian") << "NetHub_mn";
}

void TestZQNetWorkManager::cataloguesComplete()
{
    QFETCH(QString, name);
    const QString tsDir = QStringLiteral(VELA_SOURCE_DIR "/nethub/translations/");
    const auto reference = catalogueSources(tsDir + QStringLiteral("NetHub_en_US.ts"));
    QCOMPARE(reference.size(), 166);
    QCOMPARE(reference.count(qMakePair(QStringLiteral("ZQOrganizationBindPage"), QStringLiteral("ID_OK"))), 1);
    QCOMPARE(catalogueSources(tsDir + name + QStringLiteral(".ts")), reference);

    QTranslator catalogue;
    QVERIFY(catalogue.load(QStringLiteral(":/translations/") + name + QStringLiteral(".qm")));
    QSet<QString> texts;
    for (const auto &entry : reference) {
        const QString text = catalogue.translate(entry.first.toLatin1().constData(), entry.second.toLatin1().constData());
        QVERIFY2(!text.isEmpty() && text != entry.second, qPrintable(entry.second));
        texts << text;
    }
    // Written out, not copied from one entry to the next.
    QVERIFY(texts.size() > 140);
    if (name == QLatin1String("NetHub_en_US")) {
        const char *const rows[][2] = {{"ID_OK", "OK"},
                                       {"ID_ACCOUNT_LOGIN", "Account"},
                                       {"ID_CAMERA_OCCUPIED", "Camera occupied"},
                                       {"ID_CAPS_OPEN", "Upper case"},
                                       {"ID_CHECK_NO_UPAN", "No u-Disk inserted."},
                                       {"ID_PASSWORD_LEN", "The length of password is 6-16!"}};
        for (const auto &row : rows)
            QCOMPARE(catalogue.translate("QObject", row[0]), QLatin1String(row[1]));
    }
}

QTEST_GUILESS_MAIN(TestZQNetWorkManager)
#include "tst_zqnetworkmanager.moc"
